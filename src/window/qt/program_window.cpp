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

QRect ProgramWindow::Drawing::area() const
{
    return isLine ? QRect(from, to).normalized().adjusted(-1, -1, 1, 1) : box;
}

void ProgramWindow::addDrawing(Drawing drawing)
{
    // What a new drawing hides wholly is dropped, so the list stays as short as what the
    // window shows: the walk draws the same picture area for every file.
    if (drawing.isLine) {
        std::erase_if(m_drawings, [&drawing](const Drawing& earlier) {
            return earlier.isLine
                   && ((earlier.from == drawing.from && earlier.to == drawing.to)
                       || (earlier.from == drawing.to && earlier.to == drawing.from));
        });
    } else {
        const QRect covered = drawing.box;
        std::erase_if(m_drawings, [&covered](const Drawing& earlier) {
            return covered.contains(earlier.area());
        });
    }
    m_drawings.push_back(std::move(drawing));
}

void ProgramWindow::drawPicture(const QImage& picture, const QRect& box)
{
    // The caller's pixels may be gone by the time the drawing is made.
    addDrawing(Drawing{box, picture.copy(), {}, {}, {}, false});
}

void ProgramWindow::drawBox(const QRect& box, const QColor& colour)
{
    addDrawing(Drawing{box, {}, colour, {}, {}, false});
}

void ProgramWindow::drawLine(const QPoint& from, const QPoint& to, const QColor& colour)
{
    addDrawing(Drawing{{}, {}, colour, from, to, true});
}

void ProgramWindow::flushDrawings()
{
    if (m_drawings.empty())
        return;
    QPainter painter(&m_canvas);
    QRect changed;
    for (const Drawing& drawing : m_drawings) {
        if (drawing.isLine) {
            // Square caps on a cosmetic one-pixel pen put the last point on the line as well.
            QPen pen(drawing.colour, 1, Qt::SolidLine, Qt::SquareCap);
            pen.setCosmetic(true);
            painter.setPen(pen);
            painter.drawLine(drawing.from, drawing.to);
            painter.drawPoint(drawing.from);
            painter.drawPoint(drawing.to);
        } else if (!drawing.picture.isNull()) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(drawing.box, drawing.picture);
        } else {
            painter.fillRect(drawing.box, drawing.colour);
        }
        changed |= drawing.area();
    }
    painter.end();
    m_drawings.clear();
    update(changed);
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
    flushDrawings();
    QPainter painter(this);
    painter.drawImage(event->rect(), m_canvas, event->rect());
}

} // namespace tagrelay
