#pragma once

#include "movie/movie_source.h"
#include "platform/open_file.h"
#include "scan/walk_reporter.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tagrelay {

struct FolderContext;
struct WalkContext;

/// What the walk does for a movie. Every hook may be left empty (it then does nothing, polls
/// find no close request, no video window opens, the count stays 0).
struct MovieWalkHooks
{
    /// Shows "Analysing: " + the path in the top field.
    std::function<void(const std::string& fullPath)> showAnalysing;
    /// Takes the pending window events; true when the user asked to close the window.
    std::function<bool()> pollForClose;
    /// Opens the top-level video window outside the main window at the place given in
    /// screen pixels, and returns its native window id; 0 when there is no screen.
    std::function<std::uint64_t(ScreenPlace place)> openVideoWindow;
    std::function<void()> closeVideoWindow;
    /// Appends one line to the folder's description file: the quoted entry name, a blank and
    /// this description, then CR LF.
    std::function<void(const std::string& description)> writeDescription;
    /// Counts the movie as a described file and returns the count, this movie included.
    std::function<std::int32_t()> countFile;
    std::function<void(const MovieRows& rows)> showMovieRows;
    /// Appends one line to the list of files with errors.
    std::function<void(const std::string& line)> addError;
};

enum class MovieOutcome {
    Described,
    /// Not loadable as a movie: no line, no count, nothing shown but one line in the error
    /// list that names the file and the player's reason.
    PassedOver,
    /// The player failed, or the movie stopped playing before its measurement was done: no
    /// line, no count, one line in the error list.
    PlayerFailed,
    /// The user asked to close at one of the two polls: the walk stops. After the first poll
    /// the movie is left loaded (the end of the run releases it) and nothing was written.
    CloseRequested,
};

/// The readings of one measurement: frames f0, f1, f2 at the clock's t1 and t2, the start
/// after f0 as single precision, and the rate they give.
struct FrameRateReadings
{
    std::int32_t f0 = 0;
    std::int32_t f1 = 0;
    std::int32_t f2 = 0;
    float start = 0.0f;
    std::uint32_t t1 = 0;
    std::uint32_t t2 = 0;
    float rate = 0.0f;
};

/// Measures the frame rate of a movie that was just told to play: waits half a second, reads
/// the frame until 10 frames passed (at most a second), then until 230 frames are reached
/// (at most 12 seconds more), and divides. Both loops are busy: they neither sleep nor poll
/// the window. Ends early once the player fails.
[[nodiscard]] FrameRateReadings measureFrameRate(MovieSource& movie);

/// A rate worth writing: more than 100 frames seen at more than 15 and less than 40 per
/// second. A rate that is not a finite number never is.
[[nodiscard]] bool isPlausibleRate(std::int32_t f2, float rate);

/// Rounds to the nearest whole number, a tie to the even one; 0 for a rate that is not a
/// finite number, the int32 limits for one beyond them.
[[nodiscard]] std::int64_t roundHalfEven(double value);

/// "352 x 640 pixel": height first.
[[nodiscard]] std::string movieSizeText(std::int32_t height, std::int32_t width);

/// "M:SS min" for length frames at the rate, rounded to whole seconds (a tie to the even one).
[[nodiscard]] std::string moviePlayingTimeText(std::int64_t length, float rate);

/// The error-list line for a movie the player failed on, or whose measurement was cut short.
[[nodiscard]] std::string moviePlayerFailureLine(const std::string& fullPath,
                                                 const std::string& reason);
/// The error-list line for a movie file the player cannot load.
[[nodiscard]] std::string movieLoadFailureLine(const std::string& fullPath,
                                               const std::string& reason);

/// The movie procedure over one AVI or MPEG movie, given as its open file and its path (for
/// what the user is shown): loads it, shows it is being analysed, plays it in a video window
/// centred on the screen (or unseen when no window opens), measures the frame rate, and
/// writes its size and, when the rate is plausible, the rate and playing time, e.g. 352 x 640
/// pixel - 24 fps - 58:18 min. Polls for a close request after showing the path and after
/// writing the line.
MovieOutcome runMovieProcedure(int file, const std::string& fullPath, const std::string& name,
                               MovieSource& movie, ScreenSize screen, const MovieWalkHooks& hooks);

/// Describes one AVI or MPEG movie of the folder from the file the walk opened (one that is
/// not open gets an error line): runMovieProcedure with hooks that report to the walk's front
/// end, add the line to the folder's list and count the movie; a request to stop sets
/// run.closeRequested. The movies are played by the run's MovieService, made with the first
/// movie, which hands the open file to its worker.
void describeMovie(FolderContext& folder, const std::string& name, OpenFile file,
                   WalkContext& walk);

} // namespace tagrelay
