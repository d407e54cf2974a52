#pragma once

#include <QWidget>
#include <cstdint>

namespace tagrelay {

/// The top-level window a movie plays in. The movie player draws straight into its native
/// window, so Qt never paints it (no background, no paint events of its own) and the window
/// cannot be closed by the user while the measurement runs: a close request is ignored.
class VideoWindow : public QWidget
{
  public:
    /// Shown at once at the place, in screen pixels, without a frame of its own.
    explicit VideoWindow(const QRect& place);

    /// The native window id the player draws into.
    std::uint64_t nativeId() const { return static_cast<std::uint64_t>(winId()); }

  protected:
    void closeEvent(QCloseEvent* event) override;
    QPaintEngine* paintEngine() const override { return nullptr; }
};

} // namespace tagrelay
