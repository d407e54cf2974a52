#pragma once

#include "window/window_layer.h"

#include <QEventLoop>
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
///
/// The walk changes texts and bars far more often than a screen can show them, so the display
/// controls (multi-line boxes, one-line fields, progress bars) keep what the program gave them
/// and pass it to their widgets only when Qt's loop is entered; the screen then repaints once
/// for all of it. A control freed and created again under its number before that keeps its
/// widget.
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
    /// "Courier" and "Arial" are made in Liberation Mono and Liberation Sans, the faces the
    /// windows were laid out in, when those are installed. Any other face is accepted as
    /// asked: fontconfig substitutes a face the system lacks. Fails only for an empty face or
    /// a size below one point.
    bool loadFont(int font, const std::string& face, int points) override;
    void setDefaultFont(int font) override;
    void releaseFont(int font) override;
    /// With no window open nothing can ever arrive: answers a close request for window -1
    /// at once instead of blocking for ever.
    Event waitEvent() override;
    /// Enters Qt's loop at most once per loopIntervalMs; in between it answers from the events
    /// already queued, so a close waits at most one interval beyond its arrival.
    Event pollEvent() override;
    /// Modal, owned by the program's active window (when it has one).
    std::string chooseFolder(const std::string& prompt, const std::string& initial) override;
    /// Drawings are kept on the window's canvas, so they survive repaints.
    void drawPicture(int window, const RgbImage& image, Box box) override;
    void drawBox(int window, Box box, Colour colour) override;
    void drawLine(int window, int x1, int y1, int x2, int y2, Colour colour) override;
    void closeAll() override;

    /// The widget of a window (its client area) or of a control, with every change made so far
    /// passed to it; null when the number names nothing. For tests and screenshots.
    QWidget* windowWidget(int window);
    QWidget* gadgetWidget(int gadget);

    /// The longest time a poll goes without entering Qt's loop.
    static constexpr int loopIntervalMs = 10;
    /// Polls between two readings of the clock: far less than a millisecond of any walk.
    static constexpr int pollsPerClockRead = 8;

  private:
    struct Gadget
    {
        int window = -1;
        GadgetKind kind = GadgetKind::MultiLineBox;
        QWidget* widget = nullptr; // owned by its window
        bool hasLines = false;     // multi-line box: a first line is in place or pending
        bool isStale = false;      // the widget waits for what follows
        bool clearsFirst = false;  // multi-line box: emptied before the pending text goes in
        // Multi-line box: the lines not yet in the widget, joined by line ends (with one in
        // front when they follow a line); one-line field: its text.
        std::string pending;
        /// One-line field in no font the program named: its text is shown in a smaller font
        /// where the desktop's would not fit the box.
        bool fitsText = false;
        std::int64_t minimum = 0; // progress bar: the program's range and value
        std::int64_t maximum = 0;
        std::int64_t value = 0;
    };

    /// A freed display control's widget, kept until the next loop entry in case the program
    /// creates the number again (the walk does that for every file).
    struct Retired
    {
        int window = -1;
        GadgetKind kind = GadgetKind::MultiLineBox;
        QWidget* widget = nullptr;
    };

    QWidget* makeWidget(int window, int gadget, GadgetKind kind, QWidget* parent);
    QWidget* reusableWidget(int window, int gadget, GadgetKind kind, const QFont& font);
    void runLoop(QEventLoop::ProcessEventsFlags flags);
    Event takeEvent();
    void present();
    void showPending(Gadget& gadget);
    void showLines(Gadget& box);
    void queue(Event event);
    ProgramWindow* findWindow(int window) const;
    Gadget* findGadget(int gadget);
    void forgetFound();
    void showProgress(Gadget& bar);

    std::map<int, std::unique_ptr<ProgramWindow>> m_windows;
    std::map<int, Gadget> m_gadgets;
    std::map<int, Retired> m_retired;
    std::map<int, QFont> m_fonts;
    int m_defaultFont = -1;
    std::deque<Event> m_events;
    std::int64_t m_loopEntered = -1; // milliseconds of the coarse clock; -1: never
    int m_pollsSinceClock = 0;
    // The control found last: the stream scan sets its bar for every frame.
    int m_foundNumber = -1;
    Gadget* m_found = nullptr;

  public:
    int screenWidth() const override;
    int screenHeight() const override;
    /// The bits per pixel of the screen's own bitmap format (32 on a depth-24 X display), as
    /// the command line reports without a screen, so both write the same lines.
    int screenDepth() const override;
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
