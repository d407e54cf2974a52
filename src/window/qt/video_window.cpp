#include "window/qt/video_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

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

int logicalFor(int device, qreal ratio)
{
    // Qt rounds Qt's pixels times the ratio to the nearest device pixel; of the two whole
    // numbers around device / ratio, the one that lands nearest (exactly, where one does).
    const int below = static_cast<int>(std::floor(device / ratio));
    const auto miss = [&](int logical) { return std::abs(qRound(logical * ratio) - device); };
    return miss(below + 1) < miss(below) ? below + 1 : below;
}

VideoWindow::VideoWindow(const QRect& place, const QWidget* mainWindow)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint
                           | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(QStringLiteral("Tagrelay movie"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Black until the first picture comes.
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(false);
    // The place is in device pixels, as the movie's pixels are: at a scale other than 1 the
    // window gets the place in Qt's pixels that the platform turns into those device pixels.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal ratio = screen != nullptr ? screen->devicePixelRatio() : 1.0;
    setGeometry(ratio == 1.0
                    ? place
                    : QRect(logicalFor(place.x(), ratio), logicalFor(place.y(), ratio),
                            logicalFor(place.width(), ratio), logicalFor(place.height(), ratio)));
    if (mainWindow != nullptr && mainWindow->windowHandle() != nullptr) {
        create();
        windowHandle()->setTransientParent(mainWindow->windowHandle());
    }
    show();
}

void VideoWindow::showPicture(const MoviePicture& picture)
{
    const auto row = static_cast<std::size_t>(picture.width) * 4;
    if (picture.width <= 0 || picture.height <= 0 || picture.stride < 0
        || static_cast<std::size_t>(picture.stride) < row
        || static_cast<std::size_t>(picture.stride) * (picture.height - 1) + row
               > picture.pixels.size())
        return;
    if (m_picture.width() != picture.width || m_picture.height() != picture.height)
        m_picture = QImage(picture.width, picture.height, QImage::Format_RGB32);
    // Format_RGB32 holds each pixel as one 32-bit word 0xffRRGGBB: in memory on a little-endian
    // machine the bytes blue, green, red and one unused, as the pictures come.
    for (int y = 0; y < picture.height; ++y)
        std::memcpy(m_picture.scanLine(y),
                    picture.pixels.data() + static_cast<std::size_t>(y) * picture.stride, row);
    m_picture.setDevicePixelRatio(devicePixelRatioF());
    repaint();
    // The picture reaches the display (and a compositor) only once the connection is flushed.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void VideoWindow::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    if (m_picture.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(rect(), m_picture);
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
