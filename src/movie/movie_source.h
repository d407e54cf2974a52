#pragma once

#include <cstdint>
#include <string>

namespace tagrelay {

/// How a movie load ended.
enum class LoadResult {
    Loaded,
    /// The file is no movie the player can play in full (not a movie, a missing file, a still
    /// picture, a stream without a decoder); loadRefusal() says why.
    NotAMovie,
    /// The player itself failed (crashed, hung, ran out of memory, could not be started);
    /// playerFailure() says how.
    PlayerFailed,
};

/// The movie operations the movie description uses: one movie at a time is loaded, measured
/// in size and length, played, followed frame by frame against a clock, stopped and freed.
class MovieSource
{
  public:
    virtual ~MovieSource() = default;

    /// Loads a movie from its open file (a regular file; the caller keeps the descriptor and
    /// may close it once the load answered), freeing the one loaded before.
    [[nodiscard]] virtual LoadResult loadMovie(int file) = 0;
    /// Picture size in pixels; -1 each for a movie without a picture; 0 with no movie loaded.
    virtual std::int32_t movieWidth() const = 0;
    virtual std::int32_t movieHeight() const = 0;
    /// Length in frames; 0 for no movie or one without a picture.
    virtual std::int64_t movieLength() const = 0;
    /// Plays the loaded movie from its start with its sound, into the native window when one
    /// is given, else without being seen. False when no movie is loaded.
    virtual bool playMovie(std::uint64_t windowId) = 0;
    /// The current frame while playing, counted from 0; 0 when stopped, at the end (the movie
    /// is then stopped) or on any error; -1 while paused.
    virtual std::int32_t movieStatus() = 0;
    /// The movie played to its end (or stopped playing): every later status is 0 until it
    /// plays again.
    virtual bool hasEnded() const { return false; }
    /// Stops and rewinds the movie.
    virtual void stopMovie() = 0;
    /// Stops the movie and releases it.
    virtual void freeMovie() = 0;

    /// Milliseconds of the clock the frame rate is measured against, and a wait on it. While a
    /// movie plays without a window this is the movie's own clock, else the system's.
    virtual std::uint32_t tickCount() = 0;
    virtual void sleep(int milliseconds) = 0;

    /// Why the player failed during the last load or since, or why the movie stopped playing
    /// before its end; empty while all is well.
    virtual const std::string& playerFailure() const = 0;
    /// Why the last load answered NotAMovie, in a few words.
    virtual const std::string& loadRefusal() const = 0;
};

} // namespace tagrelay
