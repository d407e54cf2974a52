// The window at the desktop's scale: ctest runs these at 1, 1.25, 1.5 and 2 (QT_SCALE_FACTOR).
// The boxes keep their places in logical pixels, and their frames show whole.

#include "qt_test_util.h"
#include "window/qt/qt_window_layer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QWidget>
#include <cmath>

namespace tagrelay {
namespace {

/// Whether a pixel darker than both the boxes' paper and the window's background lies on the
/// device-pixel line from..to (logical pixels), across the box at `across`.
bool hasFrameLine(const QImage& grab, double from, double to, int across, bool vertical)
{
    const double ratio = grab.devicePixelRatio();
    const auto at = [&](double x, double y) {
        return grab.pixelColor(static_cast<int>(x * ratio), static_cast<int>(y * ratio))
            .lightness();
    };
    const int lightest = std::min(at(4, 300), at(400, 490)); // background, paper
    for (int line = static_cast<int>(std::floor(from * ratio)) - 1;
         line <= static_cast<int>(std::ceil(to * ratio)); ++line) {
        const int along = static_cast<int>(across * ratio);
        const int x = vertical ? line : along;
        const int y = vertical ? along : line;
        if (x >= 0 && y >= 0 && x < grab.width() && y < grab.height()
            && grab.pixelColor(x, y).lightness() + 12 < lightest)
            return true;
    }
    return false;
}

TEST(ScaledWindowTest, FullWidthBoxesShowTheirWholeFrame)
{
    QtWindowLayer layer;
    ASSERT_TRUE(layer.openWindow(0, 800, 600, "Tagrelay"));
    ASSERT_TRUE(layer.createGadget(0, 44, GadgetKind::MultiLineBox, {8, 390, 786, 200},
                                   "List of files with errors"));
    ASSERT_TRUE(layer.createGadget(0, 0, GadgetKind::MultiLineBox, {8, 10, 786, 90}, "preview"));
    ASSERT_TRUE(layer.createGadget(0, 1, GadgetKind::OneLineField, {8, 100, 776, 26}, "field"));
    QWidget* window = layer.windowWidget(0);
    layer.pollEvent();
    QCoreApplication::processEvents();
    const QImage grab = window->grab().toImage();
    const double ratio = grab.devicePixelRatio();
    ASSERT_EQ(grab.width(), static_cast<int>(std::lround(800 * ratio)));
    // Right and bottom edges: the last logical pixel inside each box.
    EXPECT_TRUE(hasFrameLine(grab, 793, 794, 490, true)) << "error list, right, at " << ratio;
    EXPECT_TRUE(hasFrameLine(grab, 589, 590, 400, false)) << "error list, bottom, at " << ratio;
    EXPECT_TRUE(hasFrameLine(grab, 793, 794, 50, true)) << "preview, right, at " << ratio;
    EXPECT_TRUE(hasFrameLine(grab, 99, 100, 400, false)) << "preview, bottom, at " << ratio;
    EXPECT_TRUE(hasFrameLine(grab, 783, 784, 113, true)) << "field, right, at " << ratio;
    // And the left and top ones.
    EXPECT_TRUE(hasFrameLine(grab, 8, 9, 490, true)) << "error list, left, at " << ratio;
    EXPECT_TRUE(hasFrameLine(grab, 390, 391, 400, false)) << "error list, top, at " << ratio;
}

} // namespace
} // namespace tagrelay
