#include "window/qt/video_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QWindow>
#include <algorithm>

namespace tagrelay {

namespace {

/// How long the windows below may take to ask for their repaint once the movie window is gone.
constexpr int repaintWaitMs = 250;

/// Notes that another window of the program was exposed (asked to repaint part of itself).
class ExposeWatch : public QObject
{
  public:
    explicit ExposeWatch(const QWindow* self) : m_self(self) {}
    bool seen = false;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && watched != m_self)
            seen = true;
        return QObject::eventFilter(watched, event);
    }

  private:
    const QWindow* m_self;
};

/// True when another visible top-level window of the program lies under the place.
bool coversAnotherWindow(const QWidget* self, const QRect& place)
{
    const auto windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [&](const QWidget* window) {
        return window != self && window->isVisible() && window->frameGeometry().intersects(place);
    });
}

} // namespace

VideoWindow::VideoWindow(const QRect& place)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint
                           | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(QStringLiteral("Tagrelay movie"));
    // A native window of its own that Qt leaves alone: the player's pictures are the content.
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setGeometry(place);
    show();
}

void VideoWindow::dismiss()
{
    if (!isVisible())
        return;
    const bool waitForRepaint = coversAnotherWindow(this, geometry());
    ExposeWatch watch(windowHandle());
    QCoreApplication::instance()->installEventFilter(&watch);
    hide();
    // The X server exposes what the window covered once it is unmapped; a round trip brings
    // those events in, and a window manager may add a moment of its own.
    QElapsedTimer waited;
    waited.start();
    do {
        QGuiApplication::sync();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    } while (waitForRepaint && !watch.seen && waited.elapsed() < repaintWaitMs);
    QCoreApplication::instance()->removeEventFilter(&watch);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void VideoWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

} // namespace tagrelay
