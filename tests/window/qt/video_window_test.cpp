// The movie window on real displays. The tests that need one skip on the offscreen platform the
// Qt tests use by default; ctest runs them again under Xvfb, once with the openbox window
// manager and once on a bare server (VideoWindowXTest.*, through support/run_on_x_display),
// and on headless weston, once with Qt's Wayland plugin and once through XWayland
// (WestonTest.*, through support/run_on_wayland_display).
#include "formats/movie_format.h"
#include "movie/movie_service.h"
#include "support/support.h"
#include "window/qt/qt_window_layer.h"
#include "window/qt/video_window.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <set>

namespace tagrelay {
namespace {

constexpr const char* needsDisplay =
    "needs a display: ctest runs it as VideoWindowXTest.* under Xvfb and as "
    "WestonTest.* under weston";

bool isOnX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

bool isOnWayland()
{
    return QGuiApplication::platformName() == QLatin1String("wayland");
}

/// Whether a Wayland compositor shows what is on the screen (natively or through XWayland).
bool isUnderWeston()
{
    return std::getenv("WAYLAND_DISPLAY") != nullptr;
}
xcb_connection_t* x11Connection()
{
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_window_t rootWindow()
{
    return xcb_setup_roots_iterator(xcb_get_setup(x11Connection())).data->root;
}

template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

/// The windows on the screen as the X server has them: the root's children that are viewable,
/// whichever program made them (a window manager's frames included).
std::set<xcb_window_t> viewableTopLevelWindows()
{
    xcb_connection_t* connection = x11Connection();
    const ReplyPtr<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, rootWindow()), nullptr),
        &std::free);
    std::set<xcb_window_t> windows;
    if (!tree)
        return windows;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        const ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(
                connection, xcb_get_window_attributes(connection, children[i]), nullptr),
            &std::free);
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
            windows.insert(children[i]);
    }
    return windows;
}

/// Where the X server has the window, in screen pixels.
QRect placeOnScreen(std::uint64_t window)
{
    xcb_connection_t* connection = x11Connection();
    const auto id = static_cast<xcb_window_t>(window);
    const ReplyPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr), &std::free);
    const ReplyPtr<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(
            connection, xcb_translate_coordinates(connection, id, rootWindow(), 0, 0), nullptr),
        &std::free);
    if (!geometry || !origin)
        return {};
    return {origin->dst_x, origin->dst_y, geometry->width, geometry->height};
}

/// What the compositor shows on the whole screen, taken by weston-screenshooter; null when it
/// took none.
QImage westonScreenshot()
{
    test::TempTree shots;
    const std::string take = "cd '" + shots.path() + "' && weston-screenshooter >/dev/null 2>&1";
    if (std::system(take.c_str()) != 0)
        return {};
    const QStringList files = QDir(QString::fromStdString(shots.path()))
                                  .entryList({QStringLiteral("*.png")}, QDir::Files);
    return files.isEmpty() ? QImage()
                           : QImage(QString::fromStdString(shots.path()) + files.front())
                                 .convertToFormat(QImage::Format_RGB32);
}

qreal deviceRatio()
{
    return QGuiApplication::primaryScreen()->devicePixelRatio();
}

/// What the screen shows at the place in device pixels, whichever window it belongs to: as the
/// compositor shows it under weston, else as the X server has it.
QImage screenAt(const QRect& place)
{
    if (isUnderWeston()) {
        const QImage screen = westonScreenshot();
        return screen.isNull() ? screen : screen.copy(place);
    }
    const qreal ratio = deviceRatio();
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, qRound(place.x() / ratio), qRound(place.y() / ratio),
                     qRound(place.width() / ratio), qRound(place.height() / ratio))
        .toImage();
}

/// Pixels of the colour bars' yellow, cyan and magenta in the picture, each counted.
std::array<int, 3> barPixels(const QImage& image)
{
    std::array<int, 3> counts{};
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const bool r = c.red() > 150, g = c.green() > 150, b = c.blue() > 150;
            const bool nr = c.red() < 60, ng = c.green() < 60, nb = c.blue() < 60;
            counts[0] += r && g && nb ? 1 : 0;
            counts[1] += nr && g && b ? 1 : 0;
            counts[2] += r && ng && b ? 1 : 0;
        }
    }
    return counts;
}

/// The colour bars at 320 x 240 show each of the three on at least a tenth of their top row's
/// width over two thirds of the height.
bool showsTheBars(const QImage& image)
{
    const auto counts = barPixels(image);
    return std::all_of(counts.begin(), counts.end(), [](int n) { return n > 32 * 150; });
}

bool isOneColour(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != image.pixel(0, 0))
                return false;
        }
    }
    return true;
}

/// The place the walk gives a movie of that size: centred on the primary screen in its pixels.
/// Where the walk asks for the movie window: centred on the layer's screen, in device pixels.
QRect centredPlace(const QtWindowLayer& layer, int width, int height)
{
    return {layer.screenWidth() / 2 - width / 2, layer.screenHeight() / 2 - height / 2, width,
            height};
}

/// Where the movie window of that size belongs, in device pixels: a picture pixel on each, at
/// the middle of the screen.
QRect centredInDevicePixels(int width, int height)
{
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size() * deviceRatio();
    return {screen.width() / 2 - width / 2, screen.height() / 2 - height / 2, width, height};
}

TEST(VideoWindowTest, NoVideoWindowWithoutADisplay)
{
    if (isOnX11() || isOnWayland())
        GTEST_SKIP() << "runs without a display (the tests default to offscreen)";
    QtWindowLayer layer;
    EXPECT_GT(layer.screenWidth(), 0);
    EXPECT_GT(layer.screenHeight(), 0);
    EXPECT_EQ(layer.openVideoWindow({10, 20, 320, 240}), 0u);
    EXPECT_EQ(layer.videoWindow(), nullptr);
}

/// At every scale a desktop uses, the whole number of Qt's pixels for a length in device
/// pixels gives that length exactly where any whole number does, else one pixel off.
TEST(VideoWindowTest, DevicePixelsBecomeTheNearestWholeQtPixels)
{
    for (const qreal ratio : {1.0, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0}) {
        for (int device = 0; device <= 4000; ++device) {
            const int logical = logicalFor(device, ratio);
            const int reached = qRound(logical * ratio);
            const bool reachable = qRound(std::floor(device / ratio) * ratio) == device
                                   || qRound(std::ceil(device / ratio) * ratio) == device;
            ASSERT_EQ(reached == device, reachable) << device << " at " << ratio;
            ASSERT_LE(std::abs(reached - device), 1) << device << " at " << ratio;
        }
    }
}

/// On X11 exactly at its place, unmanaged; on Wayland a transient of the main window.
TEST(VideoWindowTest, OpensATopLevelWindowWhereThePlatformAllows)
{
    if (!isOnX11() && !isOnWayland())
        GTEST_SKIP() << needsDisplay;
    QtWindowLayer layer;
    ASSERT_TRUE(layer.openWindow(0, 800, 600, "Tagrelay"));
    layer.pollEvent();
    const std::uint64_t id = layer.openVideoWindow({120, 60, 320, 240});
    ASSERT_NE(id, 0u);
    ASSERT_NE(layer.videoWindow(), nullptr);
    EXPECT_TRUE(layer.videoWindow()->isWindow());
    EXPECT_TRUE(layer.videoWindow()->isVisible());
    EXPECT_EQ(layer.videoWindow()->size() * deviceRatio(), QSize(320, 240));
    EXPECT_EQ(layer.videoWindow()->windowHandle()->transientParent(),
              layer.windowWidget(0)->windowHandle());
    if (isOnX11()) {
        // Where the X server has it, in device pixels: no window manager moved it, framed it
        // or resized it, at a place every scale reaches. At 1.5 a width of 160 is no whole
        // number of Qt's pixels: one off.
        EXPECT_EQ(placeOnScreen(id), QRect(120, 60, 320, 240));
        EXPECT_EQ(viewableTopLevelWindows().count(static_cast<xcb_window_t>(id)), 1u);
    }
    // A second request replaces the first window.
    const std::uint64_t second = layer.openVideoWindow({0, 0, 160, 120});
    EXPECT_NE(second, 0u);
    if (isOnX11()) {
        const QRect place = placeOnScreen(second);
        EXPECT_EQ(place.topLeft(), QPoint(0, 0));
        EXPECT_NEAR(place.width(), 160, deviceRatio() == 1.5 ? 1 : 0);
        EXPECT_EQ(place.height(), 120);
    }
    layer.closeVideoWindow();
    EXPECT_EQ(layer.videoWindow(), nullptr);
}

#ifdef TAGRELAY_MOVIE_WORKER_PATH
/// Movies played through the real worker into the layer's movie window.
class VideoWindowMovieTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        if (!isOnX11() && !isOnWayland())
            GTEST_SKIP() << needsDisplay;
        const std::string make =
            "ffmpeg -nostdin -v error -y -f lavfi -i smptebars=size=320x240:rate=25 -t 12"
            " -c:v mjpeg -q:v 4 "
            + movie;
        if (std::system(make.c_str()) != 0)
            GTEST_SKIP() << "ffmpeg could not make the test movie";
        MovieServiceOptions options;
        options.workerPath = TAGRELAY_MOVIE_WORKER_PATH;
        options.showsWindows = true;
        options.showPicture = [this](const MoviePicture& picture) {
            ++pictures;
            layer.showVideoPicture(picture);
        };
        service = std::make_unique<MovieService>(options);
        file = ::open(movie.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(file, 0);
        ASSERT_TRUE(layer.openWindow(0, 800, 600, "Tagrelay"));
        layer.pollEvent();
    }

    void TearDown() override
    {
        if (file >= 0)
            ::close(file);
    }

    /// The program's windows on the screen.
    static std::set<const QWindow*> visibleWindows()
    {
        std::set<const QWindow*> windows;
        for (const QWindow* window : QGuiApplication::topLevelWindows()) {
            if (window->isVisible())
                windows.insert(window);
        }
        return windows;
    }

    test::TempTree tree;
    const std::string movie = tree.path() + "bars.avi";
    int file = -1;
    int pictures = 0;
    QtWindowLayer layer;
    std::unique_ptr<MovieService> service;
};

/// The movie plays visibly in the program's own window, at the movie's size, centred where the
/// platform lets a program place its windows and over the main window on Wayland; no other
/// window appears; once the movie window goes, the main window below it is whole again.
TEST_F(VideoWindowMovieTest, TheProgramDrawsTheWorkersPicturesInTheMovieWindowAndNowhereElse)
{
    ASSERT_EQ(service->loadMovie(file), LoadResult::Loaded) << service->loadRefusal();
    const std::set<xcb_window_t> before =
        isOnX11() ? viewableTopLevelWindows() : std::set<xcb_window_t>{};
    const QRect place = centredPlace(layer, 320, 240);
    const std::uint64_t window =
        layer.openVideoWindow({place.x(), place.y(), place.width(), place.height()});
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(service->playMovie(window));
    const std::uint32_t start = service->tickCount();
    std::int32_t frame = 0;
    while (service->tickCount() - start < 1500)
        frame = std::max(frame, service->movieStatus());
    // Shown, the movie runs in real time: about 1.5 s gives about 37 frames. Each status draws
    // the newest picture if a new one came: on a busy machine a few are passed over, but no
    // picture is drawn twice.
    EXPECT_NEAR(frame, 37, 8);
    EXPECT_GE(pictures, 10);
    EXPECT_LE(pictures, frame + 1);

    const auto* video = dynamic_cast<const VideoWindow*>(layer.videoWindow());
    ASSERT_NE(video, nullptr);
    EXPECT_TRUE(showsTheBars(video->picture()));
    EXPECT_EQ(visibleWindows(), (std::set<const QWindow*>{layer.windowWidget(0)->windowHandle(),
                                                          video->windowHandle()}));
    if (isOnX11()) {
        EXPECT_EQ(placeOnScreen(window), centredInDevicePixels(320, 240));
        std::set<xcb_window_t> appeared = viewableTopLevelWindows();
        for (const xcb_window_t old : before)
            appeared.erase(old);
        EXPECT_EQ(appeared, std::set<xcb_window_t>{static_cast<xcb_window_t>(window)})
            << "a window other than the movie window appeared";
    } else {
        EXPECT_EQ(video->windowHandle()->transientParent(), layer.windowWidget(0)->windowHandle());
    }

    // What the screen shows: the bars at the place on X11 and XWayland; somewhere on native
    // Wayland, where the compositor places the window.
    const QImage shot = isOnX11() ? screenAt(centredInDevicePixels(320, 240)) : westonScreenshot();
    ASSERT_FALSE(shot.isNull()) << "no screenshot";
    EXPECT_TRUE(showsTheBars(shot)) << "the screen does not show the movie";
    if (isOnX11()) {
        // The colour bars: the top left is grey-white, the middle of the top row is not.
        const QColor left = shot.pixelColor(10, 10);
        EXPECT_GT(left.lightness(), 120);
        EXPECT_NE(left.rgb(), shot.pixelColor(160, 10).rgb());
    }

    service->freeMovie();
    layer.closeVideoWindow();
    if (isOnX11()) {
        QImage after = screenAt(centredInDevicePixels(320, 240));
        // A compositor shows the X server's change a frame or so later.
        for (int again = 0; again < 10 && isUnderWeston() && !isOneColour(after); ++again) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
            after = screenAt(centredInDevicePixels(320, 240));
        }
        EXPECT_TRUE(isOneColour(after)) << "the main window was not repainted where the movie was";
        EXPECT_EQ(after.pixelColor(0, 0).name().toStdString(),
                  layer.windowWidget(0)->palette().color(QPalette::Window).name().toStdString());
    } else {
        EXPECT_FALSE(showsTheBars(westonScreenshot())) << "the movie stays on the screen";
    }
}

/// Shown in the movie window the movie gets the same line as unseen, on every platform; on X11
/// also when another program destroys the window while the movie plays: the measurement goes
/// on without a picture.
TEST_F(VideoWindowMovieTest, TheLineIsTheSameShownAndWithTheWindowDestroyedWhileMeasuring)
{
    /// Opens the movie window, and on X11 has another program destroy it a moment later.
    class DestroyedWindowSink : public QuietSink
    {
      public:
        explicit DestroyedWindowSink(QtWindowLayer& windows) : m_windows(windows) {}
        std::uint64_t openVideoWindow(ScreenPlace place) override
        {
            const std::uint64_t window =
                m_windows.openVideoWindow({place.x, place.y, place.width, place.height});
            if (isOnX11()) {
                const std::string destroy = "(sleep 1.5; xdotool windowclose "
                                            + std::to_string(window) + ") >/dev/null 2>&1 &";
                EXPECT_EQ(std::system(destroy.c_str()), 0);
            }
            return window;
        }
        void closeVideoWindow() override { m_windows.closeVideoWindow(); }

      private:
        QtWindowLayer& m_windows;
    };
    DestroyedWindowSink sink(layer);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const FileOutcome outcome =
        analyseMovie(file, movie, *service, {screen.width(), screen.height()}, sink);
    const std::string written = outcome.description.value_or("");
    const std::vector<std::string>& errors = outcome.errors;
    EXPECT_EQ(written, "240 x 320 pixel - 25 fps - 0:12 min");
    EXPECT_TRUE(errors.empty()) << errors.front();
}
#endif

} // namespace
} // namespace tagrelay
