#include "formats/movie_format.h"
#include "scan/direct_sink.h"
#include "scan/folder_context.h"
#include "scan/run_state.h"
#include "scan/walk_context.h"
#include "support/recording_reporter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace tagrelay {
namespace {

/// The descriptor the walk would have opened; the fake movie only passes it on.
constexpr int movieFile = 42;

/// Frames by the milliseconds since play started and the number of the status request.
using FrameScript = std::function<std::int32_t(std::uint32_t ms, int statusRead)>;

/// A movie on a fake clock: each clock reading moves the clock on by clockStep ms, a sleep by
/// its length. While playing, the frame comes from the script.
class FakeMovie : public MovieSource
{
  public:
    LoadResult loadResult = LoadResult::Loaded;
    std::int32_t width = 640;
    std::int32_t height = 352;
    std::int64_t length = 0;
    FrameScript frameAt = [](std::uint32_t, int) { return 0; };
    std::uint32_t clockStep = 1;
    /// The player fails at this status request (counted from 1); 0: never.
    int failAtStatus = 0;
    std::string failureAtLoad;
    std::string refusal = "no decoder for a stream";

    std::uint32_t now = 70000;
    std::uint32_t playedAt = 0;
    std::uint64_t playedInWindow = 0;
    int statusReads = 0;
    int loadedFile = -1;
    std::vector<std::string> calls;

    LoadResult loadMovie(int file) override
    {
        calls.push_back("load");
        loadedFile = file;
        m_failure = failureAtLoad;
        return loadResult;
    }
    std::int32_t movieWidth() const override { return width; }
    std::int32_t movieHeight() const override { return height; }
    std::int64_t movieLength() const override { return length; }
    bool playMovie(std::uint64_t windowId) override
    {
        calls.push_back("play");
        playedAt = now;
        playedInWindow = windowId;
        m_playing = true;
        return true;
    }
    /// hasEnded() is true once this many frames have played (with a script of steady()).
    std::int32_t endsAfter = -1;
    double fps = 25.0;
    bool hasEnded() const override
    {
        return endsAfter >= 0 && m_playing
               && (now - playedAt) * fps / 1000.0 >= static_cast<double>(endsAfter);
    }
    std::int32_t movieStatus() override
    {
        ++statusReads;
        if (failAtStatus != 0 && statusReads >= failAtStatus)
            m_failure = "movie player crashed with signal 6, Aborted";
        if (!m_playing || !m_failure.empty())
            return 0;
        return frameAt(now - playedAt, statusReads);
    }
    void stopMovie() override
    {
        calls.push_back("stop");
        m_playing = false;
    }
    void freeMovie() override { calls.push_back("free"); }
    std::uint32_t tickCount() override
    {
        const std::uint32_t reading = now;
        now += clockStep;
        return reading;
    }
    void sleep(int milliseconds) override { now += static_cast<std::uint32_t>(milliseconds); }
    const std::string& playerFailure() const override { return m_failure; }
    const std::string& loadRefusal() const override { return refusal; }

  private:
    bool m_playing = false;
    std::string m_failure;
};

/// Frames at a steady rate for a number of frames; after the last the movie has ended.
FrameScript steady(double fps, std::int32_t frames)
{
    return [fps, frames](std::uint32_t ms, int) {
        const auto frame = static_cast<std::int32_t>(std::floor(ms * fps / 1000.0));
        return frame < frames ? frame : 0;
    };
}

/// A walk over one movie of a folder, with the fake player as the run's: the movie's analysis
/// on the walk's thread, then its commit, reported to a recording front end.
struct MovieWalk
{
    std::shared_ptr<FakeMovie> player = std::make_shared<FakeMovie>();
    FakeMovie& movie = *player;
    test::RecordingReporter reporter;
    RunState run;
    WalkContext walk{run, reporter};
    FolderContext folder;

    MovieWalk()
    {
        run.movieService = player;
        run.fileCount = 6;
    }

    /// Describes the movie at fullPath as the walk does; returns the outcome of its analysis.
    FileOutcome describe(const std::string& fullPath, ScreenSize screen = {})
    {
        DirectSink sink(walk, fullPath);
        FileOutcome outcome = analyseMovie(movieFile, fullPath, movie, screen, sink);
        const FileOutcome analysed = outcome;
        commitOutcome(folder, std::string(entryNameOf(fullPath)), MovieFileFormat(),
                      std::move(outcome), walk);
        return analysed;
    }
    std::vector<std::string> errors() const { return run.errors; }
};

struct MeasureCase
{
    const char* name;
    std::int32_t width;
    std::int32_t height;
    std::int64_t length;
    FrameScript frames;
    std::uint32_t clockStep;
    const char* description; // as written after the quoted name
    const char* fpsRow;
    const char* playingTimeRow;
};

class MovieMeasureTest : public testing::TestWithParam<MeasureCase>
{
};

TEST_P(MovieMeasureTest, WritesSizeRateAndPlayingTime)
{
    const MeasureCase& c = GetParam();
    MovieWalk walk;
    FakeMovie& movie = walk.movie;
    movie.width = c.width;
    movie.height = c.height;
    movie.length = c.length;
    movie.frameAt = c.frames;
    movie.clockStep = c.clockStep;
    const FileOutcome outcome = walk.describe("/films/a.avi");
    EXPECT_EQ(outcome.description, c.description);
    EXPECT_EQ(walk.folder.entryLines, std::string("\"a.avi\" ") + c.description + "\r\n");
    EXPECT_EQ(walk.reporter.withPrefix("movie "),
              std::vector<std::string>{std::string("movie Filename: a.avi | ")
                                       + movieSizeText(c.height, c.width) + " | " + c.fpsRow + " | "
                                       + c.playingTimeRow + " | Filecount: 7 | " + c.description});
    EXPECT_EQ(walk.run.fileCount, 7);
    EXPECT_TRUE(walk.errors().empty());
    // Nothing waits beyond the measurement: 0.5 s, at most 1 s for ten frames, 12 s of count.
    EXPECT_LE(movie.now - movie.playedAt, 500u + 1001u + 12001u + 2 * c.clockStep);
}

INSTANTIATE_TEST_SUITE_P(
    Movies, MovieMeasureTest,
    testing::Values(
        // 3497.5 s rounds to the even 3498 s.
        MeasureCase{"FullLengthFilmAt24", 640, 352, 83940, steady(24, 90000), 1,
                    "352 x 640 pixel - 24 fps - 58:18 min", "fps: 24", "58:18 min"},
        MeasureCase{"FiftyNinePointSixSecondsShowAsOneMinute", 320, 240, 1490, steady(25, 1490), 1,
                    "240 x 320 pixel - 25 fps - 1:00 min", "fps: 25", "1:00 min"},
        MeasureCase{"RateOfFortyIsTooFast", 320, 240, 4000, steady(40, 4000), 1, "240 x 320 pixel ",
                    "fps: 40", "xx:xx min"},
        MeasureCase{"RateOfFifteenIsTooSlow", 320, 240, 4000, steady(15, 4000), 1,
                    "240 x 320 pixel ", "fps: 15", "xx:xx min"},
        MeasureCase{"RateJustAboveFifteenCounts", 320, 240, 4530, steady(15.1, 4530), 1,
                    "240 x 320 pixel - 15 fps - 5:00 min", "fps: 15", "5:00 min"},
        // 230 frames after 5 s end the count there; 46 per second is no plausible rate.
        MeasureCase{"TwoHundredThirtyFramesAfterFiveSeconds", 320, 240, 9000, steady(46, 9000), 1,
                    "240 x 320 pixel ", "fps: 46", "xx:xx min"},
        // Ends at frame 90, before 100 frames were seen: the status is 0 from then on.
        MeasureCase{"TooShortForARate", 160, 120, 90, steady(25, 90), 1, "120 x 160 pixel ",
                    "fps: -2", "xx:xx min"},
        // The clock stands still: f0 0, f1 10, then 240 frames with no time between t1 and
        // t2, which gives no finite rate.
        MeasureCase{"NoTimeBetweenTheReadings", 320, 240, 500,
                    [](std::uint32_t, int read) { return read == 1   ? 0
                                                         : read == 2 ? 10
                                                                     : 240; }, 0,
                    "240 x 320 pixel ", "fps: 0", "xx:xx min"},
        MeasureCase{"SoundOnlyIsMinusOneByMinusOne", -1, -1, 0, steady(0, 0), 1, "-1 x -1 pixel ",
                    "fps: 0", "xx:xx min"}),
    [](const testing::TestParamInfo<MeasureCase>& row) { return row.param.name; });

/// A movie that ends during the measurement ends the measurement there, with the line the
/// whole wait would have given; one that ends well before the length it declares also gets an
/// entry saying so.
TEST(MovieMeasureTest, AMovieThatEndsEndsTheMeasurementWithTheSameLine)
{
    const struct
    {
        std::int32_t frames; // played before the end
        std::int64_t length; // declared
        const char* entry;   // the error entry, or nullptr
    } cases[] = {
        {90, 90, nullptr},
        {150, 300,
         "Movie could not be measured (it ended at frame 149 of 300: cut short or "
         "damaged): /films/a.avi"},
        {0, 300,
         "Movie could not be measured (it ended at frame 0 of 300: cut short or "
         "damaged): /films/a.avi"},
        {1, 1, nullptr},
    };
    for (const auto& c : cases) {
        MovieWalk walk;
        walk.movie.width = 160;
        walk.movie.height = 120;
        walk.movie.length = c.length;
        walk.movie.frameAt = steady(25, c.frames);
        walk.movie.endsAfter = c.frames;
        const FileOutcome outcome = walk.describe("/films/a.avi");
        EXPECT_EQ(outcome.description, "120 x 160 pixel ") << c.frames;
        EXPECT_EQ(walk.errors(),
                  c.entry ? std::vector<std::string>{c.entry} : std::vector<std::string>{})
            << c.frames;
        // Half a second to settle, then no more than a tenth of a second past the end.
        EXPECT_LE(walk.movie.now - walk.movie.playedAt,
                  std::max<std::uint32_t>(500, static_cast<std::uint32_t>(c.frames) * 40) + 100)
            << c.frames;
    }
}

/// Closing the window while a movie plays ends the walk within a tenth of a second, before
/// anything is written for the movie; the movie window goes with it.
TEST(MovieMeasureTest, ACloseWhilePlayingAbandonsTheMovieAtOnce)
{
    MovieWalk walk;
    walk.movie.length = 90000;
    walk.movie.frameAt = steady(25, 90000);
    walk.reporter.videoWindowId = 9;
    walk.reporter.stopAtPlayPoll = 20; // two seconds into the count
    const FileOutcome outcome = walk.describe("/films/a.avi");
    EXPECT_TRUE(outcome.stopped);
    EXPECT_TRUE(walk.run.closeRequested);
    EXPECT_FALSE(outcome.description);
    EXPECT_TRUE(walk.folder.entryLines.empty());
    EXPECT_TRUE(walk.errors().empty());
    EXPECT_EQ(walk.movie.calls, (std::vector<std::string>{"load", "play", "stop", "free"}));
    EXPECT_EQ(walk.reporter.withPrefix("close window").size(), 1u);
    EXPECT_LE(walk.movie.now - walk.movie.playedAt, 500u + 2000u + 100u);
    EXPECT_EQ(walk.run.fileCount, 6);
}

TEST(MovieMeasureFunctionsTest, RateBoundsAreExclusiveAndNeedMoreThanHundredFrames)
{
    EXPECT_FALSE(isPlausibleRate(231, 15.0f));
    EXPECT_TRUE(isPlausibleRate(231, 15.1f));
    EXPECT_TRUE(isPlausibleRate(231, 39.9f));
    EXPECT_FALSE(isPlausibleRate(231, 40.0f));
    EXPECT_FALSE(isPlausibleRate(100, 25.0f));
    EXPECT_TRUE(isPlausibleRate(101, 25.0f));
    EXPECT_FALSE(isPlausibleRate(231, std::numeric_limits<float>::infinity()));
    EXPECT_FALSE(isPlausibleRate(231, std::numeric_limits<float>::quiet_NaN()));
}

TEST(MovieMeasureFunctionsTest, PlayingTimeRoundsTiesToEven)
{
    EXPECT_EQ(moviePlayingTimeText(83940, 24.0f), "58:18 min"); // 3497.5 s
    EXPECT_EQ(moviePlayingTimeText(83916, 24.0f), "58:16 min"); // 3496.5 s
    EXPECT_EQ(moviePlayingTimeText(1490, 25.0f), "1:00 min");   // 59.6 s
    EXPECT_EQ(moviePlayingTimeText(225, 25.0f), "0:09 min");
    EXPECT_EQ(roundHalfEven(24.5), 24);
    EXPECT_EQ(roundHalfEven(25.5), 26);
    EXPECT_EQ(roundHalfEven(-2.5), -2);
    EXPECT_EQ(roundHalfEven(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(roundHalfEven(1e12), std::numeric_limits<std::int32_t>::max());
}

TEST(MovieProcedureTest, RunsTheStepsInOrderWithTheWindowCentred)
{
    MovieWalk walk;
    walk.movie.length = 2400;
    walk.movie.frameAt = steady(24, 2400);
    walk.reporter.videoWindowId = 0x2a00007;

    walk.describe("/films/a.avi", {1280, 1024});
    EXPECT_EQ(walk.reporter.reports,
              (std::vector<std::string>{"analysing /films/a.avi", "poll after file",
                                        "open window 320,336 640x352", "close window",
                                        "movie Filename: a.avi | 352 x 640 pixel | fps: 24 | "
                                        "1:40 min | Filecount: 7 | 352 x 640 pixel - 24 fps - "
                                        "1:40 min",
                                        "poll after file"}));
    EXPECT_EQ(walk.movie.calls, (std::vector<std::string>{"load", "play", "stop", "free"}));
    EXPECT_EQ(walk.movie.loadedFile, movieFile);
    EXPECT_EQ(walk.movie.playedInWindow, 0x2a00007u);
    EXPECT_EQ(walk.run.fileCount, 7);
}

TEST(MovieProcedureTest, OddSizesAreCentredWithTruncatingDivision)
{
    MovieWalk walk;
    walk.movie.width = 333;
    walk.movie.height = 201;
    walk.describe("m.mpg", {1025, 769});
    EXPECT_EQ(walk.reporter.withPrefix("open window"),
              std::vector<std::string>{"open window 346,284 333x201"});
}

TEST(MovieProcedureTest, ANonMovieGetsNoLineButAnErrorLineWithTheReason)
{
    MovieWalk walk;
    walk.movie.loadResult = LoadResult::NotAMovie;
    walk.movie.refusal = "could not determine type of stream";
    const FileOutcome outcome = walk.describe("/f/x.avi");
    EXPECT_FALSE(outcome.description);
    EXPECT_FALSE(outcome.counted);
    EXPECT_EQ(walk.reporter.reports,
              std::vector<std::string>{"error Movie could not be loaded (could not "
                                       "determine type of stream): /f/x.avi"});
    EXPECT_EQ(walk.errors(), std::vector<std::string>{"Movie could not be loaded (could not "
                                                      "determine type of stream): /f/x.avi"});
    EXPECT_EQ(walk.movie.calls, std::vector<std::string>{"load"});
    EXPECT_EQ(walk.run.fileCount, 6);
}

TEST(MovieProcedureTest, APlayerFailureCostsTheMovieOneErrorLine)
{
    {
        MovieWalk walk;
        walk.movie.loadResult = LoadResult::PlayerFailed;
        walk.movie.failureAtLoad = "movie player gave no answer within 15000 ms";
        const FileOutcome outcome = walk.describe("/f/x.avi");
        EXPECT_EQ(walk.errors(), std::vector<std::string>{
                                     "Movie could not be measured (movie player gave no answer "
                                     "within 15000 ms): /f/x.avi"});
        EXPECT_EQ(walk.reporter.reports.size(), 1u) << "only the error entry";
        EXPECT_FALSE(outcome.byBytesAlone);
    }
    {
        // Failing in the middle of the count ends the busy loops at once, not after 12 s.
        MovieWalk walk;
        walk.movie.frameAt = steady(25, 1000);
        walk.movie.failAtStatus = 5;
        walk.reporter.videoWindowId = 7;
        const FileOutcome outcome = walk.describe("/f/y.avi");
        EXPECT_LT(walk.movie.statusReads, 10);
        EXPECT_EQ(walk.errors().size(), 1u);
        EXPECT_FALSE(outcome.description);
        EXPECT_TRUE(walk.folder.entryLines.empty());
        EXPECT_EQ(walk.reporter.reports,
                  (std::vector<std::string>{"analysing /f/y.avi", "poll after file",
                                            "open window 192,208 640x352", "close window",
                                            "error " + walk.errors().front()}));
    }
}

TEST(MovieProcedureTest, ACloseRequestStopsAtEitherPoll)
{
    {
        MovieWalk walk;
        walk.reporter.stopAtPoll = 1;
        const FileOutcome outcome = walk.describe("a.avi");
        EXPECT_TRUE(outcome.stopped);
        EXPECT_TRUE(walk.run.closeRequested);
        EXPECT_EQ(walk.movie.calls, std::vector<std::string>{"load"}); // left loaded, not played
        EXPECT_TRUE(walk.folder.entryLines.empty());
    }
    {
        MovieWalk walk;
        walk.reporter.stopAtPoll = 2;
        walk.describe("a.avi");
        EXPECT_TRUE(walk.run.closeRequested);
        EXPECT_FALSE(walk.folder.entryLines.empty()); // the line was written before the poll
    }
}

} // namespace
} // namespace tagrelay
