#include "qt_test_util.h"
#include "window/qt/progress_scale.h"
#include "window/qt/qt_window_layer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QProgressBar>
#include <QWindow>
#include <cstdint>
#include <limits>

namespace tagrelay {
namespace {

struct ScaleCase
{
    std::int64_t minimum;
    std::int64_t maximum;
    std::int64_t value;
    int pixels;
    int filled;
};

class ProgressScaleTest : public ::testing::TestWithParam<ScaleCase>
{
};

TEST_P(ProgressScaleTest, FillsThePixelsOfTheValuesShare)
{
    const ScaleCase& row = GetParam();
    EXPECT_EQ(progressPixels(row.minimum, row.maximum, row.value, row.pixels), row.filled);
}

constexpr std::int64_t sixGigabytes = 6'000'000'000;
constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

INSTANTIATE_TEST_SUITE_P(Ranges, ProgressScaleTest,
                         ::testing::Values(ScaleCase{0, 100, 50, 200, 100},
                                           // File positions past 2^31 and 2^32.
                                           ScaleCase{0, sixGigabytes, sixGigabytes / 2, 776, 388},
                                           ScaleCase{0, sixGigabytes, sixGigabytes - 1, 776, 775},
                                           ScaleCase{0, sixGigabytes, sixGigabytes, 776, 776},
                                           ScaleCase{4096, sixGigabytes, 4096, 776, 0},
                                           // Outside the range: the nearest end.
                                           ScaleCase{0, 100, 250, 200, 200},
                                           ScaleCase{0, 100, -5, 200, 0},
                                           ScaleCase{-100, 100, 0, 10, 5},
                                           // Empty or reversed range, bar without width.
                                           ScaleCase{0, 0, 0, 776, 0},
                                           ScaleCase{100, 10, 50, 776, 0},
                                           ScaleCase{0, 100, 50, 0, 0},
                                           // The whole 64-bit range without overflow.
                                           ScaleCase{int64Min, int64Max, 0, 1000, 500},
                                           ScaleCase{int64Min, int64Max, int64Max, 1000, 1000},
                                           ScaleCase{int64Min, int64Max, int64Max - 1, 1000, 999}));

/// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
  public:
    int paints = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

/// Runs Qt's loop until the widget's window is on the display: under a window manager a new
/// window is mapped (and painted at all) only some milliseconds after it was shown.
bool waitUntilExposed(QWidget* widget)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        const QWindow* window = widget->window()->windowHandle();
        if (window != nullptr && window->isExposed())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return false;
}

TEST(QtProgressBarTest, FollowsAFileLongerThanTwoToThe31AndRepaintsOnlyWhenItsFillGrows)
{
    QtWindowLayer layer;
    ASSERT_TRUE(layer.openWindow(0, 800, 600, "bar"));
    ASSERT_TRUE(layer.createGadget(0, 100, GadgetKind::ProgressBar, {8, 45, 776, 10}, ""));
    // The bar's widget, with the values given so far.
    const auto shownBar = [&layer] { return qobject_cast<QProgressBar*>(layer.gadgetWidget(100)); };
    QProgressBar* bar = shownBar();
    ASSERT_NE(bar, nullptr);
    ASSERT_TRUE(waitUntilExposed(bar));
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();

    layer.setProgressRange(100, 0, sixGigabytes);
    layer.setProgressValue(100, sixGigabytes / 2);
    EXPECT_EQ(shownBar()->value() * 2, bar->maximum());
    layer.setProgressValue(100, 3 * sixGigabytes);
    EXPECT_EQ(shownBar()->value(), bar->maximum());
    layer.setProgressValue(100, 0);
    EXPECT_EQ(shownBar()->value(), 0);

    // One value and one poll per 418-byte frame through the whole file, as the stream scan
    // gives them: the bar may repaint once per pixel of its width at most, never once per frame.
    PaintCounter counter;
    bar->installEventFilter(&counter);
    constexpr std::int64_t frameBytes = 418;
    const std::int64_t length = 50'000 * frameBytes;
    layer.setProgressRange(100, 0, length);
    for (std::int64_t position = 0; position <= length; position += frameBytes) {
        layer.setProgressValue(100, position);
        layer.pollEvent();
    }
    EXPECT_EQ(shownBar()->value(), bar->maximum());
    QCoreApplication::processEvents();
    EXPECT_GT(counter.paints, 0);
    EXPECT_LE(counter.paints, bar->width() + 2);
    bar->removeEventFilter(&counter);
}

QColor pixelAt(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

bool isBlack(const QColor& colour)
{
    return colour.red() < 40 && colour.green() < 40 && colour.blue() < 40;
}

/// Where the grab of the sample window is kept for a look: beside the test program, in the
/// build folder.
QString grabPath()
{
    return QCoreApplication::applicationDirPath() + "/qt_window_grab.png";
}

TEST(QtDrawingTest, DrawingsStayOnTheWindowUnderItsControls)
{
    QtWindowLayer layer;
    ASSERT_TRUE(layer.openWindow(0, 800, 600, "Tagrelay for mp3-files       Build: 1.0.1.8"));
    ASSERT_TRUE(layer.createGadget(0, 0, GadgetKind::OneLineField, {8, 10, 776, 30},
                                   "Analysing: /music/Vella Marondi/track04.mp3"));
    ASSERT_TRUE(layer.createGadget(0, 100, GadgetKind::ProgressBar, {8, 45, 776, 10}, ""));
    layer.setProgressRange(100, 0, sixGigabytes);
    layer.setProgressValue(100, sixGigabytes / 3);
    ASSERT_TRUE(layer.createGadget(0, 1, GadgetKind::OneLineField, {8, 70, 776, 26},
                                   "Filename: track04.mp3"));
    ASSERT_TRUE(layer.createGadget(0, 7, GadgetKind::CheckBox, {10, 110, 330, 20}, "MP3: Genre"));
    layer.setGadgetState(7, 1);
    ASSERT_TRUE(layer.createGadget(0, 9, GadgetKind::ToggleButton, {10, 140, 330, 30},
                                   "Start and select startdirectory"));
    ASSERT_TRUE(layer.createGadget(0, 44, GadgetKind::MultiLineBox, {8, 390, 786, 200},
                                   "List of files with errors"));
    layer.addLine(44, "frame header error : /music/broken.mp3");

    // The empty cover area: a pale cyan box crossed corner to corner.
    constexpr Colour paleCyan = 204 + 256 * 255 + 65536 * 255;
    layer.drawBox(0, {360, 160, 150, 150}, paleCyan);
    layer.drawLine(0, 360, 160, 510, 310, 0);
    layer.drawLine(0, 360, 310, 510, 160, 0);
    // A 2 × 2 picture (red, green / blue, white) stretched to 100 × 100.
    RgbImage picture{2, 2, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}};
    layer.drawPicture(0, picture, {560, 160, 100, 100});

    // Broken drawing requests are refused without harm.
    layer.drawPicture(0, RgbImage{4, 4, {1, 2, 3}}, {560, 280, 50, 50});
    layer.drawPicture(0, RgbImage{0, 5, {}}, {560, 280, 50, 50});
    layer.drawPicture(0, RgbImage{-3, 2, {}}, {560, 280, 50, 50});
    layer.drawPicture(0, RgbImage{1 << 30, 1 << 30, {1, 2, 3}}, {560, 280, 50, 50});
    layer.drawPicture(0, picture, {560, 280, -50, 50});
    layer.drawBox(0, {560, 280, 0, 50}, 0);
    layer.drawLine(0, -100, -100, 5000, 5000, 255); // clipped to the client area

    QCoreApplication::processEvents();
    QWidget* window = layer.windowWidget(0);
    window->repaint();
    const QImage grab = window->grab().toImage();
    ASSERT_EQ(grab.size(), QSize(800, 600));
    EXPECT_TRUE(grab.save(grabPath()));

    EXPECT_EQ(pixelAt(grab, 435, 200), QColor(204, 255, 255));
    EXPECT_EQ(pixelAt(grab, 361, 308), QColor(204, 255, 255));
    // Both lines, both ends included, nothing past them.
    for (const QPoint end : {QPoint(360, 160), QPoint(510, 310), QPoint(360, 310), QPoint(510, 160),
                             QPoint(435, 235), QPoint(400, 200)})
        EXPECT_TRUE(isBlack(pixelAt(grab, end.x(), end.y()))) << end.x() << "," << end.y();
    EXPECT_FALSE(isBlack(pixelAt(grab, 512, 312)));
    EXPECT_FALSE(isBlack(pixelAt(grab, 358, 158)));

    const QColor topLeft = pixelAt(grab, 565, 165);
    EXPECT_GT(topLeft.red(), 200);
    EXPECT_LT(topLeft.green(), 60);
    const QColor bottomLeft = pixelAt(grab, 565, 255);
    EXPECT_GT(bottomLeft.blue(), 200);
    EXPECT_LT(bottomLeft.red(), 60);
    const QColor bottomRight = pixelAt(grab, 655, 255);
    EXPECT_GT(bottomRight.red(), 200);
    EXPECT_GT(bottomRight.green(), 200);
    EXPECT_GT(bottomRight.blue(), 200);

    // The refused requests left the window's own background.
    const QColor background = pixelAt(grab, 700, 350);
    EXPECT_EQ(pixelAt(grab, 585, 305), background);

    // A control created over a drawing covers it; freed, the drawing shows again.
    ASSERT_TRUE(layer.createGadget(0, 77, GadgetKind::OneLineField, {400, 180, 200, 26},
                                   "0:03:07 Time elapsed"));
    QImage covered = window->grab().toImage();
    EXPECT_NE(pixelAt(covered, 435, 190), QColor(204, 255, 255));
    layer.freeGadget(77);
    QCoreApplication::processEvents();
    const QImage uncovered = layer.windowWidget(0)->grab().toImage();
    EXPECT_EQ(pixelAt(uncovered, 435, 190), QColor(204, 255, 255));
}

} // namespace
} // namespace tagrelay
