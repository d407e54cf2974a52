#include "movie/movie_service.h"
#include "support/support.h"
#include "window/qt/qt_window_layer.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <cstdlib>

namespace tagrelay {
namespace {

bool isOnX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

TEST(VideoWindowTest, NoVideoWindowWithoutX11)
{
    if (isOnX11())
        GTEST_SKIP() << "runs on a platform other than X11 (the tests default to offscreen)";
    QtWindowLayer layer;
    EXPECT_GT(layer.screenWidth(), 0);
    EXPECT_GT(layer.screenHeight(), 0);
    EXPECT_EQ(layer.openVideoWindow({10, 20, 320, 240}), 0u);
    EXPECT_EQ(layer.videoWindow(), nullptr);
}

TEST(VideoWindowTest, OpensANativeTopLevelWindowAtThePlaceOnX11)
{
    if (!isOnX11())
        GTEST_SKIP() << "needs X11: run with QT_QPA_PLATFORM=xcb on a display (xvfb-run)";
    QtWindowLayer layer;
    const std::uint64_t id = layer.openVideoWindow({100, 50, 320, 240});
    ASSERT_NE(id, 0u);
    ASSERT_NE(layer.videoWindow(), nullptr);
    EXPECT_TRUE(layer.videoWindow()->isWindow());
    EXPECT_TRUE(layer.videoWindow()->isVisible());
    EXPECT_EQ(layer.videoWindow()->geometry(), QRect(100, 50, 320, 240));
    // A second request replaces the first window.
    EXPECT_NE(layer.openVideoWindow({0, 0, 160, 120}), 0u);
    EXPECT_EQ(layer.videoWindow()->size(), QSize(160, 120));
    layer.closeVideoWindow();
    EXPECT_EQ(layer.videoWindow(), nullptr);
}

#ifdef TAGRELAY_MOVIE_WORKER_PATH
/// The movie plays visibly: the worker draws its pictures into the window of the layer.
TEST(VideoWindowTest, TheWorkerDrawsTheMovieIntoTheWindow)
{
    if (!isOnX11())
        GTEST_SKIP() << "needs X11: run with QT_QPA_PLATFORM=xcb on a display (xvfb-run)";
    test::TempTree tree;
    const std::string movie = tree.path() + "bars.avi";
    const std::string make =
        "ffmpeg -nostdin -v error -y -f lavfi -i smptebars=size=320x240:rate=25"
        " -t 3 -c:v mjpeg "
        + movie;
    if (std::system(make.c_str()) != 0)
        GTEST_SKIP() << "ffmpeg could not make the test movie";

    QtWindowLayer layer;
    MovieServiceOptions options;
    options.workerPath = TAGRELAY_MOVIE_WORKER_PATH;
    MovieService service(options);
    ASSERT_EQ(service.loadMovie(movie), LoadResult::Loaded) << service.lastRefusal();
    const std::uint64_t window = layer.openVideoWindow({0, 0, 320, 240});
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(service.playMovie(window));
    const std::uint32_t start = service.tickCount();
    std::int32_t frame = 0;
    while (service.tickCount() - start < 1500)
        frame = std::max(frame, service.movieStatus());
    // On screen the movie runs in real time: about 1.5 s gives about 37 frames.
    EXPECT_NEAR(frame, 37, 8);

    const QImage shot =
        QGuiApplication::primaryScreen()->grabWindow(static_cast<WId>(window)).toImage();
    service.freeMovie();
    layer.closeVideoWindow();
    ASSERT_FALSE(shot.isNull());
    // The colour bars: the top left is grey-white, the middle of the top row is not.
    const QColor left = shot.pixelColor(10, 10);
    const QColor middle = shot.pixelColor(160, 10);
    EXPECT_GT(left.lightness(), 120);
    EXPECT_NE(left.rgb(), middle.rgb());
}
#endif

} // namespace
} // namespace tagrelay
