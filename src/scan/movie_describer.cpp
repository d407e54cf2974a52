#include "scan/movie_describer.h"

#include "lists/list_line.h"
#include "movie/movie_service.h"
#include "scan/descriptions.h"
#include "scan/folder_context.h"
#include "scan/run_state.h"
#include "scan/walk_context.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
constexpr float slowestRate = 15.0f;
constexpr float fastestRate = 40.0f;

bool hasFailed(const MovieSource& movie)
{
    return !movie.playerFailure().empty();
}

} // namespace

FrameRateReadings measureFrameRate(MovieSource& movie)
{
    FrameRateReadings r;
    movie.sleep(settleMs);
    r.f0 = movie.movieStatus();
    r.start = static_cast<float>(movie.tickCount());
    do {
        r.f1 = movie.movieStatus();
        r.t1 = movie.tickCount();
    } while (std::int64_t{r.f1} - 10 != r.f0
             && static_cast<double>(static_cast<float>(r.t1) - r.start) <= firstLoopMs
             && !hasFailed(movie));
    do {
        r.f2 = movie.movieStatus();
        r.t2 = movie.tickCount();
    } while (r.t2 - r.t1 <= secondLoopMs && r.f2 < framesWanted && !hasFailed(movie));
    const double seconds = static_cast<double>(r.t2 - r.t1) / 1000.0;
    r.rate = static_cast<float>(static_cast<double>(r.f2 - r.f1) / seconds);
    return r;
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

MovieOutcome runMovieProcedure(int file, const std::string& fullPath, const std::string& name,
                               MovieSource& movie, ScreenSize screen, const MovieWalkHooks& hooks)
{
    const auto pollForClose = [&hooks] { return hooks.pollForClose && hooks.pollForClose(); };
    const auto reportFailure = [&] {
        if (hooks.addError)
            hooks.addError(moviePlayerFailureLine(fullPath, movie.playerFailure()));
        return MovieOutcome::PlayerFailed;
    };

    switch (movie.loadMovie(file)) {
    case LoadResult::Loaded:
        break;
    case LoadResult::NotAMovie:
        // Still no line and no count, but the user learns which file was left out and why.
        if (hooks.addError)
            hooks.addError(movieLoadFailureLine(fullPath, movie.loadRefusal()));
        return MovieOutcome::PassedOver;
    case LoadResult::PlayerFailed:
        return reportFailure();
    }
    if (hooks.showAnalysing)
        hooks.showAnalysing(fullPath);
    if (pollForClose())
        return MovieOutcome::CloseRequested;

    const std::int32_t height = movie.movieHeight();
    const std::int32_t width = movie.movieWidth();
    const std::int64_t length = movie.movieLength();

    // Centred on the primary display at the movie's own size; a movie without a picture has
    // nothing to show.
    const ScreenPlace place{screen.width / 2 - width / 2, screen.height / 2 - height / 2, width,
                            height};
    std::uint64_t videoWindow = 0;
    if (width > 0 && height > 0 && hooks.openVideoWindow)
        videoWindow = hooks.openVideoWindow(place);
    movie.playMovie(videoWindow);
    const FrameRateReadings readings = measureFrameRate(movie);
    movie.stopMovie();
    movie.freeMovie();
    if (videoWindow != 0 && hooks.closeVideoWindow)
        hooks.closeVideoWindow();
    if (hasFailed(movie))
        return reportFailure();

    const bool plausible = isPlausibleRate(readings.f2, readings.rate);
    const std::string sizeText = movieSizeText(height, width);
    const std::string fpsText = std::to_string(roundHalfEven(readings.rate));
    const std::string playingTime =
        plausible ? moviePlayingTimeText(length, readings.rate) : "xx:xx min";
    const std::string secondPiece = plausible ? " - " + fpsText + " fps - " + playingTime : " ";
    if (hooks.writeDescription)
        hooks.writeDescription(sizeText + secondPiece);
    const std::int32_t count = hooks.countFile ? hooks.countFile() : 0;

    if (hooks.showMovieRows) {
        MovieRows rows;
        rows.filename = "Filename: " + name;
        rows.size = sizeText;
        rows.fps = "fps: " + fpsText;
        rows.playingTime = playingTime;
        rows.fileCount = "Filecount: " + std::to_string(count);
        rows.preview = sizeText + secondPiece;
        hooks.showMovieRows(rows);
    }
    return pollForClose() ? MovieOutcome::CloseRequested : MovieOutcome::Described;
}

void describeMovie(FolderContext& folder, const std::string& name, OpenFile file, WalkContext& walk)
{
    RunState& run = walk.run;
    WalkReporter& reporter = walk.reporter;
    const std::string fullPath = folder.path + name;
    if (!file.isOpen()) {
        walk.addError(movieLoadFailureLine(fullPath, "the file cannot be opened"));
        return;
    }
    // One worker serves every movie of the run; it starts with the first movie.
    if (!run.movieService) {
        MovieServiceOptions options;
        options.showsWindows = reporter.showsMovies();
        run.movieService = std::make_shared<MovieService>(options);
    }
    MovieWalkHooks hooks;
    hooks.showAnalysing = [&](const std::string& path) { reporter.analysing(path); };
    hooks.pollForClose = [&] { return walk.stopRequestedAfterFile(); };
    hooks.openVideoWindow = [&](ScreenPlace place) { return reporter.openVideoWindow(place); };
    hooks.closeVideoWindow = [&] { reporter.closeVideoWindow(); };
    hooks.writeDescription = [&](const std::string& description) {
        folder.appendLine(descriptionLine(name, description));
    };
    hooks.countFile = [&] { return ++run.fileCount; };
    hooks.showMovieRows = [&](const MovieRows& rows) { reporter.movieShown(rows); };
    hooks.addError = [&](const std::string& line) { walk.addError(line); };

    const MovieOutcome outcome = runMovieProcedure(file.fd(), fullPath, name, *run.movieService,
                                                   reporter.screenSize(), hooks);
    if (outcome == MovieOutcome::CloseRequested)
        run.closeRequested = true;
}

} // namespace tagrelay
