#include "window/qt/video_window.h"

#include <QCloseEvent>

namespace tagrelay {

VideoWindow::VideoWindow(const QRect& place)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
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

void VideoWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

} // namespace tagrelay
