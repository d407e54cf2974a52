#include "scan/movie_describer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
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

/// The hooks of a walk that records what it was asked to do.
struct RecordingWalk
{
    std::vector<std::string> steps;
    std::vector<std::string> descriptions;
    std::vector<std::string> errors;
    std::vector<ScreenPlace> videoPlaces;
    MovieRows rows;
    std::int32_t fileCount = 6;
    int closeAtPoll = 0; // answer a close request at this poll (1 or 2); 0: never
    int polls = 0;
    std::uint64_t videoWindowId = 0;

    MovieWalkHooks hooks()
    {
        MovieWalkHooks h;
        h.showAnalysing = [this](const std::string& path) { steps.push_back("analysing " + path); };
        h.pollForClose = [this] {
            steps.push_back("poll");
            return ++polls == closeAtPoll;
        };
        h.openVideoWindow = [this](ScreenPlace place) {
            steps.push_back("open window");
            videoPlaces.push_back(place);
            return videoWindowId;
        };
        h.closeVideoWindow = [this] { steps.push_back("close window"); };
        h.writeDescription = [this](const std::string& description) {
            steps.push_back("write");
            descriptions.push_back(description);
        };
        h.countFile = [this] {
            steps.push_back("count");
            return ++fileCount;
        };
        h.showMovieRows = [this](const MovieRows& shown) {
            steps.push_back("rows");
            rows = shown;
        };
        h.addError = [this](const std::string& line) { errors.push_back(line); };
        return h;
    }
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
    FakeMovie movie;
    movie.width = c.width;
    movie.height = c.height;
    movie.length = c.length;
    movie.frameAt = c.frames;
    movie.clockStep = c.clockStep;
    RecordingWalk walk;

    EXPECT_EQ(runMovieProcedure(movieFile, "/films/a.avi", "a.avi", movie, {}, walk.hooks()),
              MovieOutcome::Described);
    ASSERT_EQ(walk.descriptions.size(), 1u);
    EXPECT_EQ(walk.descriptions[0], c.description);
    EXPECT_EQ(walk.rows.fps, c.fpsRow);
    EXPECT_EQ(walk.rows.playingTime, c.playingTimeRow);
    EXPECT_EQ(walk.rows.preview, c.description);
    EXPECT_EQ(walk.rows.fileCount, "Filecount: 7");
    EXPECT_TRUE(walk.errors.empty());
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
    FakeMovie movie;
    movie.length = 2400;
    movie.frameAt = steady(24, 2400);
    RecordingWalk walk;
    walk.videoWindowId = 0x2a00007;

    runMovieProcedure(movieFile, "/films/a.avi", "a.avi", movie, {1280, 1024}, walk.hooks());
    EXPECT_EQ(walk.steps,
              (std::vector<std::string>{"analysing /films/a.avi", "poll", "open window",
                                        "close window", "write", "count", "rows", "poll"}));
    EXPECT_EQ(movie.calls, (std::vector<std::string>{"load", "play", "stop", "free"}));
    EXPECT_EQ(movie.loadedFile, movieFile);
    ASSERT_EQ(walk.videoPlaces.size(), 1u);
    EXPECT_EQ(walk.videoPlaces[0], (ScreenPlace{640 - 320, 512 - 176, 640, 352}));
    EXPECT_EQ(movie.playedInWindow, 0x2a00007u);
    EXPECT_EQ(walk.rows.filename, "Filename: a.avi");
    EXPECT_EQ(walk.rows.size, "352 x 640 pixel");
    EXPECT_EQ(walk.rows.blank, " ");
}

TEST(MovieProcedureTest, OddSizesAreCentredWithTruncatingDivision)
{
    FakeMovie movie;
    movie.width = 333;
    movie.height = 201;
    RecordingWalk walk;
    runMovieProcedure(movieFile, "m.mpg", "m.mpg", movie, {1025, 769}, walk.hooks());
    ASSERT_EQ(walk.videoPlaces.size(), 1u);
    EXPECT_EQ(walk.videoPlaces[0], (ScreenPlace{512 - 166, 384 - 100, 333, 201}));
}

TEST(MovieProcedureTest, ANonMovieGetsNoLineButAnErrorLineWithTheReason)
{
    FakeMovie movie;
    movie.loadResult = LoadResult::NotAMovie;
    movie.refusal = "could not determine type of stream";
    RecordingWalk walk;
    EXPECT_EQ(runMovieProcedure(movieFile, "/f/x.avi", "x.avi", movie, {}, walk.hooks()),
              MovieOutcome::PassedOver);
    EXPECT_TRUE(walk.steps.empty());
    EXPECT_EQ(walk.errors, std::vector<std::string>{"Movie could not be loaded (could not "
                                                    "determine type of stream): /f/x.avi"});
    EXPECT_EQ(movie.calls, std::vector<std::string>{"load"});
}

TEST(MovieProcedureTest, APlayerFailureCostsTheMovieOneErrorLine)
{
    {
        FakeMovie movie;
        movie.loadResult = LoadResult::PlayerFailed;
        movie.failureAtLoad = "movie player gave no answer within 15000 ms";
        RecordingWalk walk;
        EXPECT_EQ(runMovieProcedure(movieFile, "/f/x.avi", "x.avi", movie, {}, walk.hooks()),
                  MovieOutcome::PlayerFailed);
        EXPECT_EQ(walk.errors, std::vector<std::string>{
                                   "Movie could not be measured (movie player gave no answer "
                                   "within 15000 ms): /f/x.avi"});
        EXPECT_TRUE(walk.steps.empty());
    }
    {
        // Failing in the middle of the count ends the busy loops at once, not after 12 s.
        FakeMovie movie;
        movie.frameAt = steady(25, 1000);
        movie.failAtStatus = 5;
        RecordingWalk walk;
        walk.videoWindowId = 7;
        EXPECT_EQ(runMovieProcedure(movieFile, "/f/y.avi", "y.avi", movie, {}, walk.hooks()),
                  MovieOutcome::PlayerFailed);
        EXPECT_LT(movie.statusReads, 10);
        EXPECT_EQ(walk.errors.size(), 1u);
        EXPECT_TRUE(walk.descriptions.empty());
        EXPECT_EQ(walk.steps, (std::vector<std::string>{"analysing /f/y.avi", "poll", "open window",
                                                        "close window"}));
    }
}

TEST(MovieProcedureTest, ACloseRequestStopsAtEitherPoll)
{
    {
        FakeMovie movie;
        RecordingWalk walk;
        walk.closeAtPoll = 1;
        EXPECT_EQ(runMovieProcedure(movieFile, "a.avi", "a.avi", movie, {}, walk.hooks()),
                  MovieOutcome::CloseRequested);
        EXPECT_EQ(movie.calls, std::vector<std::string>{"load"}); // left loaded, not played
        EXPECT_TRUE(walk.descriptions.empty());
    }
    {
        FakeMovie movie;
        RecordingWalk walk;
        walk.closeAtPoll = 2;
        EXPECT_EQ(runMovieProcedure(movieFile, "a.avi", "a.avi", movie, {}, walk.hooks()),
                  MovieOutcome::CloseRequested);
        EXPECT_EQ(walk.descriptions.size(), 1u); // the line was written before the poll
    }
}

} // namespace
} // namespace tagrelay
