#pragma once

#include "window/window_layer.h"

#include <QImage>
#include <QWidget>
#include <functional>

namespace tagrelay {

/// One top-level window of the program. The widget itself is the client area: the controls
/// are its children, and what the program draws goes onto a canvas that is painted beneath
/// them, so a cover picture stays visible when another window passes over it. The window
/// never closes itself: a close request (and any other activity worth a loop turn) is only
/// reported.
class ProgramWindow : public QWidget
{
  public:
    using Report = std::function<void(EventKind)>;

    /// A window with a fixed client area of width × height, not yet shown.
    ProgramWindow(int width, int height, Report report);

    /// A picture scaled (smoothly, aspect ratio not kept) into a rectangle.
    void drawPicture(const QImage& picture, const QRect& box);
    void drawBox(const QRect& box, const QColor& colour);
    /// A one-pixel line, both end points included.
    void drawLine(const QPoint& from, const QPoint& to, const QColor& colour);

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage m_canvas; // transparent where nothing was drawn
    Report m_report;
};

} // namespace tagrelay
