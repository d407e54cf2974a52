#pragma once

#include "platform/movie_picture.h"

#include <QImage>
#include <QWidget>
#include <cstdint>

namespace tagrelay {

/// The top-level window a movie plays in, at the movie's size, showing the pictures the movie
/// worker hands over. Where the platform lets a program place its windows (X11, XWayland) it
/// bypasses the window manager, as a menu does: no manager moves it, resizes it, frames it or
/// offers to close it, so it stays exactly at its place, under any manager and on a bare X
/// server. On Wayland, where no program places its windows, it is a transient of the main
/// window, which compositors centre over it. A close request that reaches it is ignored.
/// The whole number of Qt's pixels that the platform turns into that many device pixels at
/// the ratio, or into the nearest it can.
[[nodiscard]] int logicalFor(int device, qreal ratio);

class VideoWindow : public QWidget
{
  public:
    /// Shown at once without a frame of its own: at the place, in device pixels, where the
    /// platform allows, else over the main window (none: wherever the platform puts it).
    VideoWindow(const QRect& place, const QWidget* mainWindow);

    /// Draws the picture (the movie's size) at once: the walk runs no event loop while it
    /// measures a movie.
    void showPicture(const MoviePicture& picture);
    /// The picture shown last; null before the first.
    const QImage& picture() const { return m_picture; }

    /// Takes the window off the screen and lets the windows it covered repaint at once: the
    /// walk runs no event loop while it measures the next movie, so what they do not repaint
    /// now stays as debris for as long.
    void dismiss();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QImage m_picture;
};

} // namespace tagrelay
