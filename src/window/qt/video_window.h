#pragma once

#include <QWidget>
#include <cstdint>

namespace tagrelay {

/// The top-level window a movie plays in. The movie player draws straight into its native
/// window, so Qt never paints it (no background, no paint events of its own). It bypasses the
/// window manager, as a menu does: no manager moves it, resizes it, frames it or offers to
/// close it, so it stays exactly at its place, at the movie's size, under any manager and on
/// a bare X server. A close request that reaches it anyway is ignored.
class VideoWindow : public QWidget
{
  public:
    /// Shown at once at the place, in screen pixels, without a frame of its own.
    explicit VideoWindow(const QRect& place);

    /// The native window id the player draws into.
    std::uint64_t nativeId() const { return static_cast<std::uint64_t>(winId()); }

    /// Takes the window off the screen and lets the windows it covered repaint at once: the
    /// walk runs no event loop while it measures the next movie, so what they do not repaint
    /// now stays as black debris for as long.
    void dismiss();

  protected:
    void closeEvent(QCloseEvent* event) override;
    QPaintEngine* paintEngine() const override { return nullptr; }
};

} // namespace tagrelay
