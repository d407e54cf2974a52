#pragma once

#include "window/window_layer.h"

#include <QFont>
#include <deque>
#include <map>
#include <memory>
#include <string>

class QWidget;

namespace tagrelay {

class ProgramWindow;
class VideoWindow;

/// The window layer over Qt Widgets. Needs a QApplication for its whole life. Multi-line boxes
/// are read-only QTextEdits that take their lines as plain text, one-line fields read-only
/// QLineEdits, toggle buttons checkable QPushButtons. Clicks and close requests only queue an
/// event; the program takes them through waitEvent and pollEvent, which run Qt's own loop.
class QtWindowLayer : public WindowLayer
{
  public:
    QtWindowLayer();
    ~QtWindowLayer() override;
    QtWindowLayer(const QtWindowLayer&) = delete;
    QtWindowLayer& operator=(const QtWindowLayer&) = delete;

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
    /// Any face is accepted: fontconfig substitutes a face the system lacks. Fails only for
    /// an empty face or a size below one point.
    bool loadFont(int font, const std::string& face, int points) override;
    void setDefaultFont(int font) override;
    void releaseFont(int font) override;
    /// With no window open nothing can ever arrive: answers a close request for window -1
    /// at once instead of blocking for ever.
    Event waitEvent() override;
    Event pollEvent() override;
    /// Modal, owned by the program's active window (when it has one).
    std::string chooseFolder(const std::string& prompt, const std::string& initial) override;
    /// Drawings are kept on the window's canvas, so they survive repaints.
    void drawPicture(int window, const RgbImage& image, Box box) override;
    void drawBox(int window, Box box, Colour colour) override;
    void drawLine(int window, int x1, int y1, int x2, int y2, Colour colour) override;
    void closeAll() override;

    /// The widget of a window (its client area) or of a control; null when the number names
    /// nothing. For tests and screenshots.
    QWidget* windowWidget(int window) const;
    QWidget* gadgetWidget(int gadget) const;

  private:
    struct Gadget
    {
        int window = -1;
        GadgetKind kind = GadgetKind::MultiLineBox;
        QWidget* widget = nullptr; // owned by its window
        bool hasLines = false;     // multi-line box: a first line is in place
        std::int64_t minimum = 0;  // progress bar: the program's range and value
        std::int64_t maximum = 0;
        std::int64_t value = 0;
    };

    QWidget* makeWidget(int window, int gadget, GadgetKind kind, QWidget* parent);
    void queue(Event event);
    ProgramWindow* findWindow(int window) const;
    Gadget* findGadget(int gadget);
    void showProgress(Gadget& bar);

    std::map<int, std::unique_ptr<ProgramWindow>> m_windows;
    std::map<int, Gadget> m_gadgets;
    std::map<int, QFont> m_fonts;
    int m_defaultFont = -1;
    std::deque<Event> m_events;

  public:
    int screenWidth() const override;
    int screenHeight() const override;
    /// Only on X11 (the movie player draws into X11 windows); 0 on any other platform, such
    /// as offscreen or Wayland, where the movie then plays unseen.
    std::uint64_t openVideoWindow(Box place) override;
    void closeVideoWindow() override;
    /// The open video window, or null. For tests.
    QWidget* videoWindow() const;

  private:
    std::unique_ptr<VideoWindow> m_videoWindow;
};

} // namespace tagrelay
