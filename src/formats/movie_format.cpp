#include "formats/movie_format.h"

#include "movie/movie_container.h"
#include "platform/clock_text.h"
#include "platform/open_file.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

namespace tagrelay {

namespace {

constexpr int settleMs = 500;          // play this long before the first reading
constexpr double firstLoopMs = 1000.0; // at most this long to see 10 frames pass
constexpr std::uint32_t secondLoopMs = 12000;
constexpr std::int32_t framesWanted = 230;
constexpr std::int32_t framesNeeded = 100; // fewer frames seen give no trustworthy rate
constexpr std::uint32_t stopCheckMs = 100; // how often a measurement asks whether to go on
constexpr float slowestRate = 15.0f;
constexpr float fastestRate = 40.0f;

/// Raise with every change to what a movie's line or entries are made of.
constexpr int movieFormatVersion = 2;

constexpr std::array<std::string_view, 2> movieExtensions = {".avi", ".mpg"};

bool hasFailed(const MovieSource& movie)
{
    return !movie.playerFailure().empty();
}

/// The frame count an AVI's headers declare; 0 for other movies and unreadable headers.
std::int64_t declaredFrames(int file)
{
    const int copy = ::dup(file);
    if (copy < 0)
        return 0;
    ByteReader bytes{OpenFile(copy)};
    const ContainerReading reading = readAviContainer(bytes);
    return reading.facts ? std::max<std::int64_t>(reading.facts->frames, 0) : 0;
}

} // namespace

FrameRateReadings measureFrameRate(MovieSource& movie, const std::function<bool()>& goOn)
{
    FrameRateReadings r;
    movie.sleep(settleMs);
    r.f0 = movie.movieStatus();
    r.start = static_cast<float>(movie.tickCount());
    std::uint32_t lastAsked = movie.tickCount();
    // Reads the frame; false when the measurement cannot go on.
    const auto read = [&](std::int32_t& frame, std::uint32_t& tick) {
        frame = movie.movieStatus();
        tick = movie.tickCount();
        r.ended = frame == 0 && (r.lastFrame > 0 || movie.hasEnded());
        r.lastFrame = std::max(r.lastFrame, frame);
        if (goOn && tick - lastAsked >= stopCheckMs) {
            lastAsked = tick;
            r.abandoned = !goOn();
        }
        return !r.ended && !r.abandoned && !hasFailed(movie);
    };
    r.lastFrame = std::max(r.f0, 0);
    bool going = true;
    do {
        going = read(r.f1, r.t1);
    } while (going && std::int64_t{r.f1} - 10 != r.f0
             && static_cast<double>(static_cast<float>(r.t1) - r.start) <= firstLoopMs);
    const bool endedInFirstLoop = r.ended;
    if (going) {
        do {
            going = read(r.f2, r.t2);
        } while (going && r.t2 - r.t1 <= secondLoopMs && r.f2 < framesWanted);
    } else {
        r.t2 = r.t1;
    }
    if (r.ended) {
        // The readings the loops would have ended with, had they waited: 0 from the end on,
        // until each loop's time was up.
        if (endedInFirstLoop) {
            r.f1 = 0;
            r.t1 = static_cast<std::uint32_t>(r.start + static_cast<float>(firstLoopMs)) + 1;
        }
        r.f2 = 0;
        r.t2 = r.t1 + secondLoopMs + 1;
    }
    const double seconds = static_cast<double>(r.t2 - r.t1) / 1000.0;
    r.rate = static_cast<float>(static_cast<double>(r.f2 - r.f1) / seconds);
    return r;
}

bool endedEarly(std::int32_t lastFrame, std::int64_t length)
{
    // The last reading before the end may trail the last frame by a few.
    const std::int64_t slack = std::max<std::int64_t>(10, length / 10);
    return std::int64_t{lastFrame} + slack < length;
}

bool isPlausibleRate(std::int32_t f2, float rate)
{
    return f2 > framesNeeded && rate > slowestRate && rate < fastestRate;
}

std::int64_t roundHalfEven(double value)
{
    if (!std::isfinite(value))
        return 0;
    constexpr double lowest = std::numeric_limits<std::int32_t>::min();
    constexpr double highest = std::numeric_limits<std::int32_t>::max();
    if (value <= lowest)
        return static_cast<std::int64_t>(lowest);
    if (value >= highest)
        return static_cast<std::int64_t>(highest);
    // The default floating-point rounding mode sends a tie to the even neighbour.
    return static_cast<std::int64_t>(std::nearbyint(value));
}

std::string movieSizeText(std::int32_t height, std::int32_t width)
{
    return std::to_string(height) + " x " + std::to_string(width) + " pixel";
}

std::string moviePlayingTimeText(std::int64_t length, float rate)
{
    const std::int64_t total =
        roundHalfEven(static_cast<double>(length) / static_cast<double>(rate));
    const std::int64_t minutes = total / 60;
    const std::int64_t seconds = total - 60 * minutes;
    return std::to_string(minutes) + ":" + twoDigitText(seconds) + " min";
}

std::string moviePlayerFailureLine(const std::string& fullPath, const std::string& reason)
{
    return "Movie could not be measured (" + reason + "): " + fullPath;
}

std::string movieLoadFailureLine(const std::string& fullPath, const std::string& reason)
{
    return "Movie could not be loaded (" + reason + "): " + fullPath;
}

FileOutcome analyseMovie(int file, const std::string& fullPath, MovieSource& movie,
                         ScreenSize screen, AnalysisSink& sink)
{
    FileOutcome outcome;
    // What the player does with a movie depends on more than its bytes: only a movie it
    // measured is remembered.
    const auto playerFailed = [&] {
        outcome.errors.push_back(moviePlayerFailureLine(fullPath, movie.playerFailure()));
        outcome.byBytesAlone = false;
        return outcome;
    };

    switch (movie.loadMovie(file)) {
    case LoadResult::Loaded:
        break;
    case LoadResult::NotAMovie:
        // Still no line and no count, but the user learns which file was left out and why.
        outcome.errors.push_back(movieLoadFailureLine(fullPath, movie.loadRefusal()));
        outcome.byBytesAlone = false;
        return outcome;
    case LoadResult::PlayerFailed:
        return playerFailed();
    }
    sink.analysing();
    if (!sink.goOnAfterLoad()) {
        // Left loaded; the end of the run releases it.
        outcome.stopped = true;
        return outcome;
    }

    const std::int32_t height = movie.movieHeight();
    const std::int32_t width = movie.movieWidth();
    const std::int64_t length = movie.movieLength();

    // Centred on the primary display at the movie's own size; a movie without a picture has
    // nothing to show.
    const ScreenPlace place{screen.width / 2 - width / 2, screen.height / 2 - height / 2, width,
                            height};
    std::uint64_t videoWindow = 0;
    if (width > 0 && height > 0)
        videoWindow = sink.openVideoWindow(place);
    movie.playMovie(videoWindow);
    const FrameRateReadings readings =
        measureFrameRate(movie, [&sink] { return sink.goOnDuringPlay(); });
    movie.stopMovie();
    movie.freeMovie();
    if (videoWindow != 0)
        sink.closeVideoWindow();
    if (readings.abandoned) {
        // Closed or stopped while it played: the walk ends before anything is written for it.
        outcome.stopped = true;
        outcome.byBytesAlone = false;
        return outcome;
    }
    if (hasFailed(movie))
        return playerFailed();
    if (readings.ended) {
        // The player counts the frames that are there; an AVI's header says how many the
        // file was made with.
        const std::int64_t declared = declaredFrames(file);
        if (endedEarly(readings.lastFrame, std::max(length, declared)))
            outcome.errors.push_back(moviePlayerFailureLine(
                fullPath, "it ended at frame " + std::to_string(readings.lastFrame) + " of "
                              + std::to_string(std::max(length, declared))
                              + ": cut short or damaged"));
    }

    const bool plausible = isPlausibleRate(readings.f2, readings.rate);
    const std::string sizeText = movieSizeText(height, width);
    const std::string fpsText = std::to_string(roundHalfEven(readings.rate));
    const std::string playingTime =
        plausible ? moviePlayingTimeText(length, readings.rate) : "xx:xx min";
    const std::string secondPiece = plausible ? " - " + fpsText + " fps - " + playingTime : " ";
    outcome.description = sizeText + secondPiece;
    outcome.counted = true;

    MovieRows rows;
    rows.filename = "Filename: " + std::string(entryNameOf(fullPath));
    rows.size = sizeText;
    rows.fps = "fps: " + fpsText;
    rows.playingTime = playingTime;
    rows.preview = sizeText + secondPiece;
    outcome.shown.movie = rows;
    return outcome;
}

std::span<const std::string_view> MovieFileFormat::extensions() const
{
    return movieExtensions;
}

std::string MovieFileFormat::cacheKey(const LineOptions& options) const
{
    return "movie " + std::to_string(movieFormatVersion)
           + (options.playsMoviesOnScreen ? "; measured on the screen" : "; measured on its clock");
}

FileOutcome MovieFileFormat::analyse(OpenFile file, const std::string& fullPath,
                                     const AnalysisOptions& options, AnalysisSink& sink) const
{
    MovieSource* player = file.isOpen() ? sink.moviePlayer() : nullptr;
    if (player == nullptr) {
        FileOutcome outcome;
        outcome.errors.push_back(movieLoadFailureLine(fullPath, "the file cannot be opened"));
        outcome.byBytesAlone = false;
        return outcome;
    }
    return analyseMovie(file.fd(), fullPath, *player, options.screen, sink);
}

} // namespace tagrelay
