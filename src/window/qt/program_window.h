#pragma once

#include "window/window_layer.h"

#include <QColor>
#include <QImage>
#include <QWidget>
#include <functional>
#include <vector>

namespace tagrelay {

/// One top-level window of the program. The widget itself is the client area: the controls
/// are its children, and what the program draws goes onto a canvas that is painted beneath
/// them, so a cover picture stays visible when another window passes over it. The window
/// never closes itself: a close request (and any other activity worth a loop turn) is only
/// reported. Drawings wait until the canvas is painted on or flushDrawings is called; one that
/// covers earlier ones wholly (the walk's picture area, once per file) makes them moot.
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
    /// Puts the waiting drawings on the canvas and asks for their part of the window to be
    /// repainted.
    void flushDrawings();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    /// A box (no picture, no line end), a picture scaled into the box, or a line.
    struct Drawing
    {
        QRect box;
        QImage picture;
        QColor colour;
        QPoint from, to;
        bool isLine = false;
        QRect area() const;
    };

    void addDrawing(Drawing drawing);

    QImage m_canvas; // transparent where nothing was drawn
    std::vector<Drawing> m_drawings;
    Report m_report;
};

} // namespace tagrelay
