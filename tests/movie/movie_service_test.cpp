#include "formats/movie_format.h"
#include "movie/listener.h"
#include "movie/movie_service.h"
#include "support/support.h"

#ifdef TAGRELAY_HOSTILE_HOOK_PATH
#include "movie/hostile_hook/hostile_hook.h"
#endif

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAGRELAY_ADDRESS_SANITIZER_BUILD 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TAGRELAY_ADDRESS_SANITIZER_BUILD 1
#endif

namespace tagrelay {
namespace {

using test::TempTree;

/// A file opened for reading for the time of the scope; -1 when it cannot be opened.
class OpenFile
{
  public:
    explicit OpenFile(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~OpenFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return m_fd; }

  private:
    int m_fd;
};

LoadResult loadFile(MovieSource& movies, const std::string& path)
{
    const OpenFile file(path);
    return movies.loadMovie(file.fd());
}

/// Describes a movie as the walk would, and returns the description written (empty: none).
std::string describeThrough(MovieSource& movies, const std::string& path,
                            std::vector<std::string>* errors = nullptr, MovieRows* rows = nullptr)
{
    const OpenFile file(path);
    QuietSink sink;
    const FileOutcome outcome = analyseMovie(file.fd(), path, movies, {}, sink);
    if (errors)
        errors->insert(errors->end(), outcome.errors.begin(), outcome.errors.end());
    if (rows && outcome.shown.movie)
        *rows = *outcome.shown.movie;
    return outcome.description.value_or("");
}

bool processIsGone(int pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

/// Real movies, made once by ffmpeg and measured headless through the real worker.
class MovieServiceTest : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        movies = std::make_unique<TempTree>();
        const std::string ffmpeg = "ffmpeg -nostdin -v error -y ";
        const std::string dir = movies->path();
        hasMovies =
            std::system((ffmpeg
                         + "-f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine -t 12 "
                           "-c:v mjpeg -q:v 8 -c:a pcm_s16le "
                         + dir + "mjpeg25.avi")
                            .c_str())
                == 0
            && std::system((ffmpeg
                            + "-f lavfi -i testsrc=size=352x240:rate=25 -f lavfi -i sine "
                              "-t 12 -c:v mpeg1video -c:a mp2 -f mpeg "
                            + dir + "mpeg1.mpg")
                               .c_str())
                   == 0
            && std::system(
                   (ffmpeg + "-f lavfi -i sine -t 3 -c:a mp2 -f mpeg " + dir + "sound.mpg").c_str())
                   == 0
            && std::system((ffmpeg + "-f lavfi -i testsrc=size=64x48 -frames:v 1 -f mjpeg " + dir
                            + "still.avi")
                               .c_str())
                   == 0;
        movies->writeFile("junk.avi", "RIFF\x10\0\0\0AVI LIST but nothing after it");
        if (hasMovies) {
            // The first half of a movie, as a download or a copy cut short leaves it.
            const std::string whole = test::readFileText(dir + "mjpeg25.avi");
            movies->writeFile("half.avi", whole.substr(0, whole.size() / 2));
        }
    }
    static void TearDownTestSuite() { movies.reset(); }

    void SetUp() override
    {
#ifndef TAGRELAY_MOVIE_WORKER_PATH
        GTEST_SKIP() << "the movie worker is not built (no GStreamer)";
#else
        if (!hasMovies)
            GTEST_SKIP() << "ffmpeg could not make the test movies";
        MovieServiceOptions options;
        options.workerPath = TAGRELAY_MOVIE_WORKER_PATH;
        service = std::make_unique<MovieService>(options);
        if (loadFile(*service, path("mjpeg25.avi")) != LoadResult::Loaded)
            GTEST_SKIP() << "GStreamer cannot play an MJPEG AVI here (plugins missing?): "
                         << service->loadRefusal() << service->playerFailure();
        service->freeMovie();
#endif
    }

    static std::string path(const std::string& name)
    {
        return movies->path() + name;
    }

    static inline std::unique_ptr<TempTree> movies;
    static inline bool hasMovies = false;
    std::unique_ptr<MovieService> service;
};

TEST_F(MovieServiceTest, MeasuresAnAviAndAnMpgEndToEnd)
{
    EXPECT_EQ(describeThrough(*service, path("mjpeg25.avi")),
              "240 x 320 pixel - 25 fps - 0:12 min");
    ASSERT_EQ(loadFile(*service, path("mpeg1.mpg")), LoadResult::Loaded);
    EXPECT_EQ(service->movieWidth(), 352);
    EXPECT_EQ(service->movieHeight(), 240);
    EXPECT_NEAR(static_cast<double>(service->movieLength()), 300.0, 2.0);
    service->freeMovie();
    EXPECT_EQ(describeThrough(*service, path("mpeg1.mpg")), "240 x 352 pixel - 25 fps - 0:12 min");
}

/// A movie cut short plays to where its data ends: it keeps the size alone, as any movie that
/// gives no rate, and the list of files with errors says it ended before the frames its
/// header declares.
TEST_F(MovieServiceTest, AMovieCutShortGetsItsSizeAndAnEntry)
{
    std::vector<std::string> errors;
    EXPECT_EQ(describeThrough(*service, path("half.avi"), &errors), "240 x 320 pixel ");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Movie could not be measured (it ended at frame ", 0), 0u)
        << errors[0];
    EXPECT_NE(errors[0].find(" of 300: cut short or damaged): "), std::string::npos) << errors[0];
}

TEST_F(MovieServiceTest, FilesThatAreNoMoviesLeaveNoMovieAndTheWorkerRunning)
{
    const int worker = service->workerPid();
    for (const char* name : {"junk.avi", "missing.avi", "still.avi"}) {
        EXPECT_EQ(loadFile(*service, path(name)), LoadResult::NotAMovie) << name;
        EXPECT_FALSE(service->movieExists()) << name;
        EXPECT_TRUE(service->playerFailure().empty()) << name;
        EXPECT_EQ(describeThrough(*service, path(name)), "") << name;
    }
    EXPECT_EQ(service->workerPid(), worker);
}

TEST_F(MovieServiceTest, SoundWithoutPictureIsAMovieOfMinusOneByMinusOne)
{
    ASSERT_EQ(loadFile(*service, path("sound.mpg")), LoadResult::Loaded);
    EXPECT_EQ(service->movieWidth(), -1);
    EXPECT_EQ(service->movieHeight(), -1);
    EXPECT_EQ(service->movieLength(), 0);
    EXPECT_EQ(describeThrough(*service, path("sound.mpg")), "-1 x -1 pixel ");
}

struct RateCase
{
    const char* name;
    const char* rate; // as ffmpeg takes it
    const char* description;
    const char* fpsRow;
    const char* playingTimeRow;
};

/// Movies of 16 s at common frame rates, each measured headless five times, each time by a
/// fresh worker: the line never changes from run to run, however fast the machine decodes.
class MovieRateTest : public testing::TestWithParam<RateCase>
{
};

TEST_P(MovieRateTest, FiveRunsGiveTheSameLine)
{
#ifndef TAGRELAY_MOVIE_WORKER_PATH
    GTEST_SKIP() << "the movie worker is not built (no GStreamer)";
#else
    const RateCase& c = GetParam();
    TempTree tree;
    const std::string movie = tree.path() + "rate.avi";
    const std::string make = std::string("ffmpeg -nostdin -v error -y -f lavfi -i "
                                         "testsrc=size=320x240:rate=")
                             + c.rate + " -t 16 -c:v mjpeg -q:v 10 " + movie;
    if (std::system(make.c_str()) != 0)
        GTEST_SKIP() << "ffmpeg could not make the test movie";
    MovieServiceOptions options;
    options.workerPath = TAGRELAY_MOVIE_WORKER_PATH;
    for (int run = 1; run <= 5; ++run) {
        MovieService service(options);
        std::vector<std::string> errors;
        MovieRows rows;
        EXPECT_EQ(describeThrough(service, movie, &errors, &rows), c.description) << "run " << run;
        EXPECT_EQ(rows.fps, c.fpsRow) << "run " << run;
        EXPECT_EQ(rows.playingTime, c.playingTimeRow) << "run " << run;
        EXPECT_TRUE(errors.empty()) << errors.front();
    }
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Rates, MovieRateTest,
    testing::Values(
        // Exactly 15 frames per second measure as 14.999 (180 frames in 12.001 s of count): not
        // above the lower bound, so no rate is written, and the window shows "xx:xx min".
        RateCase{"Fifteen", "15", "240 x 320 pixel ", "fps: 15", "xx:xx min"},
        RateCase{"TwentyFour", "24", "240 x 320 pixel - 24 fps - 0:16 min", "fps: 24", "0:16 min"},
        RateCase{"NtscVideo", "30000/1001", "240 x 320 pixel - 30 fps - 0:16 min", "fps: 30",
                 "0:16 min"},
        RateCase{"Thirty", "30", "240 x 320 pixel - 30 fps - 0:16 min", "fps: 30", "0:16 min"},
        // 230 frames are reached after 4.6 s: 50 per second, above the upper bound.
        RateCase{"Fifty", "50", "240 x 320 pixel ", "fps: 50", "xx:xx min"}),
    [](const testing::TestParamInfo<RateCase>& row) { return row.param.name; });

/// The two kinds of worker: the command line's, which plays everything unseen and has no
/// network, and the window program's, which may reach the display.
class HostileMovieTest : public testing::TestWithParam<bool>
{
};

/// Playlists named as movies, whose entries point at a secret movie outside the tree and at a
/// server on this machine: nothing is described, the secret is never opened, the server never
/// called, and the playlist gets its line in the list of files with errors. A real movie still
/// plays in the same worker.
TEST_P(HostileMovieTest, APlaylistNamedAsAMovieReadsNoOtherFileAndCallsNoServer)
{
#ifndef TAGRELAY_MOVIE_WORKER_PATH
    GTEST_SKIP() << "the movie worker is not built (no GStreamer)";
#else
    TempTree outside;
    TempTree tree;
    const std::string secret = outside.path() + "secret.ts";
    const std::string good = tree.path() + "good.avi";
    const std::string ffmpeg = "ffmpeg -nostdin -v error -y -f lavfi -i "
                               "testsrc=size=320x240:rate=25 -t 11 ";
    if (std::system((ffmpeg + "-c:v mpeg2video -f mpegts " + secret).c_str()) != 0
        || std::system((ffmpeg + "-c:v mjpeg -q:v 10 " + good).c_str()) != 0)
        GTEST_SKIP() << "ffmpeg could not make the test movies";

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const std::string server = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    const auto playlist = [](const std::string& entry) {
        return "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10.0,\n" + entry + "\n#EXT-X-ENDLIST\n";
    };
    const std::string toSecret = tree.writeFile("a.avi", playlist("file://" + secret));
    const std::string toServer = tree.writeFile("b.mpg", playlist(server + "/x.ts"));

    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, secret.c_str(), IN_OPEN | IN_ACCESS), 0);

    MovieServiceOptions options;
    options.workerPath = TAGRELAY_MOVIE_WORKER_PATH;
    options.showsWindows = GetParam();
    MovieService service(options);
    for (const std::string& movie : {toSecret, toServer}) {
        std::vector<std::string> errors;
        EXPECT_EQ(describeThrough(service, movie, &errors), "") << movie;
        ASSERT_EQ(errors.size(), 1u) << movie;
        EXPECT_EQ(errors[0].rfind("Movie could not be loaded (", 0), 0u) << errors[0];
        EXPECT_EQ(errors[0].substr(errors[0].size() - movie.size() - 3), "): " + movie);
    }
    EXPECT_EQ(describeThrough(service, good), "240 x 320 pixel - 25 fps - 0:11 min");

    std::array<char, 4096> events{};
    EXPECT_LT(::read(watch, events.data(), events.size()), 0) << "the secret movie was opened";
    const int caller = ::accept(listener, nullptr, nullptr);
    EXPECT_LT(caller, 0) << "the server was called";
    if (caller >= 0)
        ::close(caller);
    ::close(watch);
    ::close(listener);

    // What confines the worker on this kernel (each layer is tested alone elsewhere).
    const Confinement confinement = service.workerConfinement();
    RecordProperty("confinement", std::to_string(confinementByte(confinement)));
    EXPECT_TRUE(confinement.noNewPrivileges);
    // A kernel that gives the worker a network of its own gives it its own processes as well.
    EXPECT_EQ(confinement.ownProcesses, confinement.ownNetwork);
#endif
}

#if defined(TAGRELAY_HOSTILE_HOOK_PATH) && !defined(TAGRELAY_ADDRESS_SANITIZER_BUILD)
/// A two-second MJPEG movie made by ffmpeg in the tree; empty when it could not be made.
std::string smallMovieIn(const TempTree& tree)
{
    const std::string movie = tree.path() + "good.avi";
    const std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i "
                             "testsrc=size=64x48:rate=25 -t 2 -c:v mjpeg "
                             + movie;
    return std::system(make.c_str()) == 0 ? movie : std::string();
}

/// What the hook would change in this process, the one it aims at.
struct ProcessState
{
    rlim_t openFiles = 0;
    int priority = 0;
    int scheduler = 0;
    std::string hostName;

    friend bool operator==(const ProcessState&, const ProcessState&) = default;
};

ProcessState currentState()
{
    ProcessState state;
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    state.openFiles = limit.rlim_cur;
    errno = 0;
    state.priority = ::getpriority(PRIO_PROCESS, 0);
    state.scheduler = ::sched_getscheduler(0);
    std::array<char, 256> name{};
    ::gethostname(name.data(), name.size() - 1);
    state.hostName = name.data();
    return state;
}

/// Code taken over inside a decoder, after the worker is confined, tries what root's ids and
/// privileges would allow (the hook's list: root's ids and capabilities, a root-only socket, an
/// abstract socket, the loopback network, another process's limits, priority, scheduling and
/// signals, the host name, the kernel log, the shadow file). None of it works, and nothing of
/// this process or the machine changes.
TEST_P(HostileMovieTest, ADecoderTakenOverReachesNothingOfRootsOrOthers)
{
    TempTree tree;
    const std::string good = smallMovieIn(tree);
    if (good.empty())
        GTEST_SKIP() << "ffmpeg could not make the test movie";

    ASSERT_EQ(::mkdir((tree.path() + "private").c_str(), 0700), 0);
    const std::string socketPath = tree.path() + "private/s";
    const test::Listener rootsSocket(socketPath, false);
    const std::string abstractName = "tagrelay-hook-" + std::to_string(::getpid());
    const test::Listener abstractSocket(abstractName, true);
    const test::Listener network;
    ASSERT_TRUE(rootsSocket.isReady() && abstractSocket.isReady() && network.isReady());

    const ProcessState before = currentState();
    const std::array<std::pair<const char*, std::string>, 5> environment{{
        {"LD_PRELOAD", TAGRELAY_HOSTILE_HOOK_PATH},
        {hookSocketPathVariable, socketPath},
        {hookAbstractNameVariable, abstractName},
        {hookPortVariable, std::to_string(network.port())},
        {hookTargetPidVariable, std::to_string(::getpid())},
    }};
    for (const auto& [name, value] : environment)
        ::setenv(name, value.c_str(), 1);
    std::vector<std::string> errors;
    {
        MovieServiceOptions options;
        options.workerPath = TAGRELAY_MOVIE_WORKER_PATH;
        options.showsWindows = GetParam();
        MovieService service(options);
        EXPECT_EQ(describeThrough(service, good, &errors), "");
    }
    for (const auto& [name, value] : environment)
        ::unsetenv(name);

    // The hook ran (it ended the worker) and says every attempt was refused, or which worked.
    ASSERT_EQ(errors.size(), 1u);
    const std::string allRefused = "ended with exit code " + std::to_string(hookAllRefused);
    EXPECT_NE(errors[0].find(allRefused), std::string::npos)
        << errors[0] << " (exit codes from " << hookFirstSuccess
        << " name the first attempt that worked, in tests/movie/hostile_hook/hostile_hook.h)";
    EXPECT_FALSE(rootsSocket.wasCalled());
    EXPECT_FALSE(abstractSocket.wasCalled());
    EXPECT_FALSE(network.wasCalled());
    EXPECT_TRUE(currentState() == before);
}

/// How many processes that have not ended (a zombie has) hold the text in their environment.
int processesWith(const std::string& mark)
{
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(") Z") != std::string::npos)
            continue;
        std::ifstream environment(entry.path() / "environ");
        const std::string all{std::istreambuf_iterator<char>(environment), {}};
        found += all.find(mark) != std::string::npos ? 1 : 0;
    }
    return found;
}

/// Polls for up to two seconds until the count of processes holding the mark is as wanted.
bool becomes(const std::string& mark, const std::function<bool(int)>& wanted)
{
    for (int i = 0; i < 200; ++i) {
        if (wanted(processesWith(mark)))
            return true;
        ::usleep(10000);
    }
    return false;
}

/// A worker hung inside a decoder is ended with everything it started, however deep in its
/// own process namespace the hanging code runs.
TEST_P(HostileMovieTest, ADecoderThatHangsLeavesNoProcessBehind)
{
    TempTree tree;
    const std::string good = smallMovieIn(tree);
    if (good.empty())
        GTEST_SKIP() << "ffmpeg could not make the test movie";
    const std::string mark = "hang-" + std::to_string(::getpid()) + "-" + (GetParam() ? "w" : "c");
    ::setenv("LD_PRELOAD", TAGRELAY_HOSTILE_HOOK_PATH, 1);
    ::setenv(hookHangVariable, mark.c_str(), 1);
    MovieServiceOptions options;
    options.workerPath = TAGRELAY_MOVIE_WORKER_PATH;
    options.showsWindows = GetParam();
    options.loadTimeoutMs = 1500;
    MovieService service(options);
    auto load = std::async(std::launch::async, [&] { return loadFile(service, good); });
    EXPECT_TRUE(becomes(mark, [](int count) { return count > 0; })) << "the worker never hung";
    EXPECT_NE(load.get(), LoadResult::Loaded);
    ::unsetenv("LD_PRELOAD");
    ::unsetenv(hookHangVariable);
    EXPECT_TRUE(becomes(mark, [](int count) { return count == 0; }))
        << processesWith(mark) << " processes of the hung worker are still running";
}
#endif

INSTANTIATE_TEST_SUITE_P(Workers, HostileMovieTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& row) {
                             return row.param ? "WindowProgram" : "CommandLine";
                         });

struct Misbehaviour
{
    const char* movie;
    const char* failure; // part of the reason given
};

/// A movie file for the stand-in worker: its content names the behaviour.
std::string standInMovie(const std::string& name)
{
    static TempTree films;
    return films.writeFile(name, name.substr(0, name.find('.')));
}

/// Workers that crash, hang, babble or overeat: each costs one movie, and the next movie gets
/// a fresh worker.
class MovieWorkerFailureTest : public testing::TestWithParam<Misbehaviour>
{
  protected:
    TempTree films;
};

TEST_P(MovieWorkerFailureTest, CostsOneMovieAndTheNextGetsAFreshWorker)
{
#ifdef TAGRELAY_ADDRESS_SANITIZER_BUILD
    if (std::string(GetParam().movie) == "hog-at-load.avi")
        GTEST_SKIP() << "no address-space limit under the address sanitizer";
#endif
    MovieServiceOptions options;
    options.workerPath = TAGRELAY_STANDIN_WORKER_PATH;
    options.loadTimeoutMs = 1000;
    options.answerTimeoutMs = 1000;
    options.memoryLimitBytes = std::uint64_t{512} << 20;
    MovieService service(options);
    const std::string good = films.writeFile("good.avi", "good");

    ASSERT_EQ(loadFile(service, good), LoadResult::Loaded);
    const int first = service.workerPid();

    std::vector<std::string> errors;
    const std::string path = standInMovie(GetParam().movie);
    EXPECT_EQ(describeThrough(service, path, &errors), "");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(GetParam().failure), std::string::npos) << errors[0];
    EXPECT_EQ(errors[0].substr(0, 29), "Movie could not be measured (");
    EXPECT_EQ(errors[0].substr(errors[0].size() - path.size()), path);
    EXPECT_TRUE(processIsGone(first)) << "the failed worker was not ended and reaped";
    EXPECT_EQ(service.workerPid(), -1);

    EXPECT_EQ(describeThrough(service, good), "240 x 320 pixel - 25 fps - 0:10 min");
    EXPECT_NE(service.workerPid(), -1);
    EXPECT_TRUE(service.playerFailure().empty());
}

INSTANTIATE_TEST_SUITE_P(
    StandIn, MovieWorkerFailureTest,
    testing::Values(Misbehaviour{"crash-at-load.avi", "crashed with signal 6"},
                    Misbehaviour{"hang-at-load.avi", "no answer within 1000 ms"},
                    Misbehaviour{"garbage-at-load.avi", "malformed answer"},
                    Misbehaviour{"hog-at-load.avi", "crashed with signal 6"},
                    Misbehaviour{"crash-playing.avi", "crashed with signal 6"}),
    [](const testing::TestParamInfo<Misbehaviour>& row) {
        std::string name;
        for (const char* c = row.param.movie; *c != '.'; ++c) {
            if (*c != '-')
                name +=
                    (c == row.param.movie || c[-1] == '-') ? static_cast<char>(*c - 'a' + 'A') : *c;
        }
        return name;
    });

TEST(MovieWorkerFailureTest, AMovieThatStopsPlayingMidwayGetsAnErrorLineAndNoLine)
{
    MovieServiceOptions options;
    options.workerPath = TAGRELAY_STANDIN_WORKER_PATH;
    MovieService service(options);
    std::vector<std::string> errors;
    const std::string failing = standInMovie("fail-playing.avi");
    EXPECT_EQ(describeThrough(service, failing, &errors), "");
    EXPECT_EQ(errors, std::vector<std::string>{"Movie could not be measured (stopped playing: "
                                               "internal data stream error): "
                                               + failing});
    // The worker itself is well and serves the next movie.
    const int worker = service.workerPid();
    EXPECT_NE(worker, -1);
    EXPECT_EQ(describeThrough(service, standInMovie("good.avi")),
              "240 x 320 pixel - 25 fps - 0:10 min");
    EXPECT_EQ(service.workerPid(), worker);
}

struct PictureCase
{
    const char* movie;
    const char* failure; // part of the reason given; empty: every picture is shown
};

/// Shown, the worker's pictures reach the program through its sealed buffer: each new one is
/// shown once, and one that does not fit the buffer, comes again or comes uncalled for fails
/// the worker before a byte of it is read.
class MovieWorkerPictureTest : public testing::TestWithParam<PictureCase>
{
};

TEST_P(MovieWorkerPictureTest, ShowsEachNewPictureThatFitsAndFailsTheWorkerOnAnyOther)
{
    std::vector<std::uint8_t> shown; // the first byte of each picture shown
    MovieServiceOptions options;
    options.workerPath = TAGRELAY_STANDIN_WORKER_PATH;
    options.showsWindows = true;
    options.showPicture = [&](const MoviePicture& picture) {
        EXPECT_EQ(picture.width, 320);
        EXPECT_EQ(picture.height, 240);
        EXPECT_GE(picture.pixels.size(), std::size_t{320} * 240 * 4);
        // Every byte of the picture is the worker's, the last one included.
        EXPECT_EQ(picture.pixels[picture.pixels.size() - 1], picture.pixels[0]);
        shown.push_back(picture.pixels[0]);
    };
    MovieService service(options);
    ASSERT_EQ(loadFile(service, standInMovie(GetParam().movie)), LoadResult::Loaded);
    ASSERT_TRUE(service.playMovie(1));
    for (int status = 0; status < 3; ++status)
        service.movieStatus();
    if (*GetParam().failure == '\0') {
        EXPECT_EQ(shown, (std::vector<std::uint8_t>{1, 2, 3}));
        EXPECT_TRUE(service.playerFailure().empty()) << service.playerFailure();
        EXPECT_NE(service.workerPid(), -1);
        return;
    }
    EXPECT_NE(service.playerFailure().find(GetParam().failure), std::string::npos)
        << service.playerFailure();
    EXPECT_EQ(service.workerPid(), -1);
    EXPECT_LE(shown.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(StandIn, MovieWorkerPictureTest,
                         testing::Values(PictureCase{"picture-playing.avi", ""},
                                         PictureCase{"picture-oversize.avi", "picture"},
                                         PictureCase{"picture-again.avi", "picture"},
                                         PictureCase{"picture-flood.avi", "picture"}),
                         [](const testing::TestParamInfo<PictureCase>& row) {
                             const std::string movie = row.param.movie;
                             return std::string(1, static_cast<char>(movie[8] - 'a' + 'A'))
                                    + movie.substr(9, movie.find('.') - 9);
                         });

TEST(MovieWorkerLookupTest, AMissingWorkerFailsEachLoadWithAReason)
{
    MovieServiceOptions options;
    options.workerPath = "/nonexistent/tagrelay-movie-worker";
    MovieService service(options);
    EXPECT_EQ(loadFile(service, standInMovie("a.avi")), LoadResult::PlayerFailed);
    EXPECT_EQ(service.playerFailure(), "movie player /nonexistent/tagrelay-movie-worker not found");

    ::setenv("TAGRELAY_MOVIE_WORKER", TAGRELAY_STANDIN_WORKER_PATH, 1);
    EXPECT_EQ(findMovieWorker(), TAGRELAY_STANDIN_WORKER_PATH);
    ::setenv("TAGRELAY_MOVIE_WORKER", "/nonexistent/worker", 1);
    EXPECT_EQ(findMovieWorker(), "");
    ::unsetenv("TAGRELAY_MOVIE_WORKER");
}

} // namespace
} // namespace tagrelay
