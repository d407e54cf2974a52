#include "window/qt/program_window.h"

#include <QCloseEvent>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <utility>

namespace tagrelay {

ProgramWindow::ProgramWindow(int width, int height, Report report)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                           | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                           | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      m_canvas(std::max(width, 1), std::max(height, 1), QImage::Format_ARGB32_Premultiplied),
      m_report(std::move(report))
{
    m_canvas.fill(Qt::transparent);
    // A fixed size is what takes the sizing border away.
    setFixedSize(width, height);
}

void ProgramWindow::drawPicture(const QImage& picture, const QRect& box)
{
    QPainter painter(&m_canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(box, picture);
    painter.end();
    update(box);
}

void ProgramWindow::drawBox(const QRect& box, const QColor& colour)
{
    QPainter painter(&m_canvas);
    painter.fillRect(box, colour);
    painter.end();
    update(box);
}

void ProgramWindow::drawLine(const QPoint& from, const QPoint& to, const QColor& colour)
{
    QPainter painter(&m_canvas);
    // Square caps on a cosmetic one-pixel pen put the last point on the line as well.
    QPen pen(colour, 1, Qt::SolidLine, Qt::SquareCap);
    pen.setCosmetic(true);
    painter.setPen(pen);
    painter.drawLine(from, to);
    painter.drawPoint(from);
    painter.drawPoint(to);
    painter.end();
    update(QRect(from, to).normalized().adjusted(-1, -1, 1, 1));
}

void ProgramWindow::closeEvent(QCloseEvent* event)
{
    // The program decides when a window goes: the close box only asks.
    event->ignore();
    m_report(EventKind::CloseWindow);
}

bool ProgramWindow::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
    case QEvent::WindowStateChange:
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress:
        m_report(EventKind::Other);
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void ProgramWindow::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.drawImage(event->rect(), m_canvas, event->rect());
}

} // namespace tagrelay
