#pragma once

#include "formats/file_format.h"
#include "movie/movie_source.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tagrelay {

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
    /// The highest frame read while it played.
    std::int32_t lastFrame = 0;
    /// The movie reached its end (or stopped) during the measurement: every later reading
    /// would have been 0, so the measurement ended there.
    bool ended = false;
    /// goOn said to stop: the readings are incomplete.
    bool abandoned = false;
};

/// Measures the frame rate of a movie that was just told to play: waits half a second, reads
/// the frame until 10 frames passed (at most a second), then until 230 frames are reached
/// (at most 12 seconds more), and divides. Both loops are busy: they do not sleep. Ends
/// early once the player fails, once a movie that played reads 0 (it has ended: no later
/// reading could change the result), and when goOn, asked every tenth of a second, says to
/// stop.
[[nodiscard]] FrameRateReadings measureFrameRate(MovieSource& movie,
                                                 const std::function<bool()>& goOn = {});

/// A rate worth writing: more than 100 frames seen at more than 15 and less than 40 per
/// second. A rate that is not a finite number never is.
[[nodiscard]] bool isPlausibleRate(std::int32_t f2, float rate);

/// A movie that ended at lastFrame ended well before the length its container declares: it is
/// cut short or damaged.
[[nodiscard]] bool endedEarly(std::int32_t lastFrame, std::int64_t length);

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
/// what the user is shown): loads it, tells the sink it is being analysed and asks it whether
/// to go on, plays it in a video window centred on the screen (or unseen when no window opens),
/// measures the frame rate, and describes it by its size and, when the rate is plausible, the
/// rate and playing time, e.g. 352 x 640 pixel - 24 fps - 58:18 min. A movie the player cannot
/// load or fails on gets no line and no count, but one entry in the list of files with errors.
[[nodiscard]] FileOutcome analyseMovie(int file, const std::string& fullPath, MovieSource& movie,
                                       ScreenSize screen, AnalysisSink& sink);

/// AVI and MPEG movies, described only with the movie option: played by the run's movie
/// player on the walk's own thread, polled once loaded and after.
class MovieFileFormat : public FileFormat
{
  public:
    std::string_view name() const override { return "movie"; }
    std::span<const std::string_view> extensions() const override;
    bool isDescribed(const Settings& settings) const override
    {
        return settings.showMovieInfo != 0;
    }
    std::string cacheKey(const LineOptions& options) const override;
    bool runsOnWorkers() const override { return false; }
    bool pollsAfter() const override { return true; }
    FileOutcome analyse(OpenFile file, const std::string& fullPath, const AnalysisOptions& options,
                        AnalysisSink& sink) const override;
};

} // namespace tagrelay
