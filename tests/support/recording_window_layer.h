#pragma once

#include "window/window_layer.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tagrelay {

/// A window layer without a screen: it records every window, control, font and drawing call,
/// and answers events from a script. The tests and the command-line front end run on it.
class RecordingWindowLayer : public WindowLayer
{
  public:
    struct Window
    {
        int number = -1;
        int width = 0;
        int height = 0;
        std::string title;
        bool isOpen = false;
    };

    struct Gadget
    {
        int window = -1;
        int number = -1;
        GadgetKind kind = GadgetKind::MultiLineBox;
        Box box;
        std::string text;               // the creation text, or the text last set
        std::vector<std::string> lines; // multi-line boxes: their lines
        int state = 0;
        int font = -1; // the default font when it was created; -1: the toolkit's
        std::int64_t minimum = 0;
        std::int64_t maximum = 0;
        std::int64_t value = 0;
    };

    struct Font
    {
        std::string face;
        int points = 0;
    };

    enum class DrawKind { Picture, Box, Line };
    struct DrawCall
    {
        DrawKind kind = DrawKind::Box;
        int window = -1;
        Box box;    // Picture and Box
        int x1 = 0; // Line
        int y1 = 0;
        int x2 = 0;
        int y2 = 0;
        Colour colour = 0;
        int imageWidth = 0; // Picture: the size of the image drawn
        int imageHeight = 0;
    };

    bool openWindow(int window, int width, int height, const std::string& title) override;
    void closeWindow(int window) override;
    bool createGadget(int window, int gadget, GadgetKind kind, Box box,
                      const std::string& text) override;
    bool hasGadget(int gadget) const override;
    void freeGadget(int gadget) override;
    void addLine(int gadget, const std::string& line) override;
    void clearGadget(int gadget) override;
    void setGadgetText(int gadget, const std::string& text) override;
    int gadgetState(int gadget) const override;
    void setGadgetState(int gadget, int state) override;
    void setProgressRange(int gadget, std::int64_t minimum, std::int64_t maximum) override;
    void setProgressValue(int gadget, std::int64_t value) override;
    bool loadFont(int font, const std::string& face, int points) override;
    void setDefaultFont(int font) override;
    void releaseFont(int font) override;
    /// Takes the next scripted event. An exhausted script answers a close request for
    /// window 0, so nothing waiting on a headless layer can block for ever.
    Event waitEvent() override;
    /// Asks the poll hook first (when set), then takes the next scripted event; None when
    /// the script is empty.
    Event pollEvent() override;
    std::string chooseFolder(const std::string& prompt, const std::string& initial) override;
    void drawPicture(int window, const RgbImage& image, Box box) override;
    void drawBox(int window, Box box, Colour colour) override;
    void drawLine(int window, int x1, int y1, int x2, int y2, Colour colour) override;
    void closeAll() override;

    // Script.
    void queueEvent(Event event) { m_script.push_back(event); }
    /// A click on a control: a check box or toggle button changes its state when it is taken.
    void queueClick(int gadget, int window = 0);
    void queueClose(int window = 0);
    void queueOther(int window = 0);
    /// The answer of the folder dialog (empty: the user cancels).
    void setFolderAnswer(const std::string& folder) { m_folderAnswer = folder; }
    /// Called with the number of the poll (1, 2, ...) before the script is consulted; an
    /// event other than None is answered instead.
    void setPollHook(std::function<Event(int pollNumber)> hook) { m_pollHook = std::move(hook); }
    /// Whether drawing calls and the order of created controls are kept (on by default). A
    /// long run without a screen turns it off so memory stays flat.
    void setKeepHistory(bool keep) { m_keepHistory = keep; }

    // Record.
    const Gadget* gadget(int number) const;
    const Window* window(int number) const;
    const Font* font(int number) const;
    int defaultFont() const { return m_defaultFont; }
    const std::vector<DrawCall>& drawCalls() const { return m_drawCalls; }
    /// Every control created, in order, by number.
    const std::vector<int>& createdGadgets() const { return m_created; }
    int pollCount() const { return m_pollCount; }
    int waitCount() const { return m_waitCount; }
    int folderDialogCount() const { return m_folderCalls; }
    const std::string& lastFolderPrompt() const { return m_lastPrompt; }
    const std::string& lastFolderInitial() const { return m_lastInitial; }
    bool isShutDown() const { return m_shutDown; }

  protected:
    Gadget* findGadget(int number);
    Event takeScripted(bool blocking);

  private:
    std::map<int, Window> m_windows;
    std::map<int, Gadget> m_gadgets;
    std::map<int, Font> m_fonts;
    int m_defaultFont = -1;
    std::vector<DrawCall> m_drawCalls;
    std::vector<int> m_created;
    std::deque<Event> m_script;
    std::function<Event(int)> m_pollHook;
    std::string m_folderAnswer;
    std::string m_lastPrompt;
    std::string m_lastInitial;
    int m_pollCount = 0;
    int m_waitCount = 0;
    int m_folderCalls = 0;
    bool m_shutDown = false;
    bool m_keepHistory = true;

  public:
    /// No screen: 1024 × 768, and no video window ever opens (0), but each request is kept.
    std::uint64_t openVideoWindow(Box place) override;
    void closeVideoWindow() override;
    /// The places asked for by openVideoWindow, in order, and the number of closes.
    const std::vector<Box>& videoWindowRequests() const { return m_videoWindows; }
    int videoWindowCloses() const { return m_videoWindowCloses; }

  private:
    std::vector<Box> m_videoWindows;
    int m_videoWindowCloses = 0;
};

} // namespace tagrelay
