#pragma once

#include "movie/movie_source.h"
#include "movie/movie_worker.h"

#include <cstdint>
#include <string>

namespace tagrelay {

struct MovieServiceOptions
{
    /// The worker program; empty: findMovieWorker() when the first movie is loaded.
    std::string workerPath;
    int startTimeoutMs = 30000; // a first start may build the media framework's plugin cache
    int loadTimeoutMs = 15000;  // the worker gives up on a load itself after 10 s
    int answerTimeoutMs = 3000;
    std::uint64_t memoryLimitBytes = std::uint64_t{3} << 30;
};

/// The movies of the walk, played by a worker process so that no media decoder ever runs in
/// the program itself. The worker starts with the first load and serves one movie after the
/// other; one that crashes, hangs or exceeds its memory is ended, the call that met it fails
/// with playerFailure() set, and the next load starts a fresh worker.
///
/// Without a window the worker plays as fast as it can decode, and the measuring clock
/// (tickCount, sleep) is the movie's own: the position of its picture in milliseconds, never
/// behind the time really spent since play started (a movie that decodes slower than real
/// time measures as it would on screen). A clock reading right after a frame reading comes
/// from the same answer of the worker. Once the movie has ended or the player failed,
/// nothing can change any more, and each reading of that clock moves it a second on.
class MovieService : public MovieSource
{
  public:
    explicit MovieService(MovieServiceOptions options = {});
    ~MovieService() override;
    MovieService(const MovieService&) = delete;
    MovieService& operator=(const MovieService&) = delete;

    [[nodiscard]] LoadResult loadMovie(const std::string& path) override;
    std::int32_t movieWidth() const override { return m_width; }
    std::int32_t movieHeight() const override { return m_height; }
    std::int64_t movieLength() const override { return m_length; }
    bool playMovie(std::uint64_t windowId) override;
    std::int32_t movieStatus() override;
    void stopMovie() override;
    void freeMovie() override;
    std::uint32_t tickCount() override;
    void sleep(int milliseconds) override;
    const std::string& playerFailure() const override { return m_failure; }

    /// Whether a movie is loaded.
    bool movieExists() const { return m_loaded; }
    /// Why the last load answered NotAMovie, in the worker's words (for tests and diagnosis).
    const std::string& lastRefusal() const { return m_refusal; }
    /// The worker's process id, -1 when none runs.
    int workerPid() const { return m_worker.isRunning() ? m_worker.pid() : -1; }

  private:
    enum class Playing { No, InWindow, OnOwnClock };

    std::optional<MovieMessage> ask(const MovieMessage& request, int timeoutMs);
    void forgetMovie();
    /// The movie's own clock after one more status reading.
    std::uint32_t ownClockNow();
    /// The movie's own clock at a status answer (none: the player failed).
    std::uint32_t ownClockFrom(const std::optional<MovieMessage>& answer);

    MovieServiceOptions m_options;
    MovieWorker m_worker;
    bool m_loaded = false;
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    std::int64_t m_length = 0;
    Playing m_playing = Playing::No;
    bool m_ended = false;
    std::uint32_t m_playStartTick = 0; // system milliseconds when play started
    std::uint32_t m_ownClock = 0;      // the last reading of the movie's own clock
    std::uint32_t m_clockOfStatus = 0; // the own clock at the last frame reading
    bool m_hasClockOfStatus = false;   // ... not yet taken by tickCount
    std::string m_failure;
    std::string m_refusal;
};

} // namespace tagrelay
