#pragma once

#include "movie/movie_source.h"
#include "movie/movie_worker.h"
#include "movie/worker_sandbox.h"
#include "platform/movie_picture.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tagrelay {

struct MovieServiceOptions
{
    /// The worker program; empty: findMovieWorker() when the first movie is loaded.
    std::string workerPath;
    /// Whether movies may be shown in windows on the display; when not, the worker plays them
    /// all unseen.
    bool showsWindows = false;
    /// Where the pictures of a movie played in a window go, each as soon as the worker has
    /// it; none: the movie still plays in real time, unseen.
    std::function<void(const MoviePicture&)> showPicture;
    int startTimeoutMs = 30000; // a first start may build the media framework's plugin cache
    int loadTimeoutMs = 15000;  // the worker gives up on a load itself after 10 s
    int answerTimeoutMs = 3000;
    std::uint64_t memoryLimitBytes = std::uint64_t{3} << 30;
};

/// The movies of the walk, played by a worker process so that no media decoder ever runs in
/// the program itself. The worker starts with the first load and serves one movie after the
/// other; one that crashes, hangs or exceeds its memory is ended, the call that met it fails
/// with playerFailure() set, and the next load starts a fresh worker. The worker never opens
/// a file: each movie is handed to it as the descriptor the caller opened, and it runs
/// confined (worker_sandbox.h).
///
/// Without a window the movie plays on its own clock, which the measurement alone moves: it
/// starts at 0 when play starts, each reading of it (tickCount) moves it one millisecond on
/// and a sleep moves it by its length. A status reading gives the frame shown at the clock's
/// moment, as the worker finds it by decoding the stream up to there. So the readings fall at
/// fixed points of the stream, and the same movie measures the same on every run and on
/// every machine, however fast it decodes. In a window the movie runs in real time, and the
/// clock is the system's; the worker opens no display, it copies each new picture into a
/// buffer of the program's, which hands it to showPicture.
class MovieService : public MovieSource
{
  public:
    explicit MovieService(MovieServiceOptions options = {});
    ~MovieService() override;
    MovieService(const MovieService&) = delete;
    MovieService& operator=(const MovieService&) = delete;

    [[nodiscard]] LoadResult loadMovie(int file) override;
    std::int32_t movieWidth() const override { return m_width; }
    std::int32_t movieHeight() const override { return m_height; }
    std::int64_t movieLength() const override { return m_length; }
    bool playMovie(std::uint64_t windowId) override;
    std::int32_t movieStatus() override;
    bool hasEnded() const override { return m_ended; }
    void stopMovie() override;
    void freeMovie() override;
    std::uint32_t tickCount() override;
    void sleep(int milliseconds) override;
    const std::string& playerFailure() const override { return m_failure; }

    /// Whether a movie is loaded.
    bool movieExists() const { return m_loaded; }
    const std::string& loadRefusal() const override { return m_refusal; }
    /// The worker's process id, -1 when none runs.
    int workerPid() const { return m_worker.isRunning() ? m_worker.pid() : -1; }
    /// The layers of confinement the running worker reported.
    Confinement workerConfinement() const { return confinementOf(m_worker.confinement()); }

  private:
    enum class Playing { No, InWindow, OnOwnClock };

    std::optional<MovieMessage> ask(const MovieMessage& request, int timeoutMs,
                                    int descriptor = -1);
    void forgetMovie();
    /// The frame at the movie's own clock, asking the worker only when it may have changed.
    std::int32_t ownClockStatus();
    /// Takes a status answer: false when the movie ended, stopped playing or the answer is
    /// out of turn.
    bool takePosition(const MovieMessage& answer);
    /// A buffer for the pictures of the loaded movie, sealed at its size; -1 when none can be
    /// made (or the movie is too large to be shown).
    int makePictureBuffer();
    void releasePictureBuffer();
    /// Shows a picture the worker announced, if it fits the buffer and is new.
    bool takePicture(const MovieMessage& picture);

    MovieServiceOptions m_options;
    MovieWorker m_worker;
    bool m_loaded = false;
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    std::int64_t m_length = 0;
    Playing m_playing = Playing::No;
    bool m_ended = false;
    std::uint32_t m_ownClock = 0;    // the movie's own clock, ms since play started
    std::int32_t m_frame = 0;        // the frame last read on it
    std::int64_t m_frameUntilMs = 0; // ... which holds before this moment of the clock
    std::string m_failure;
    std::string m_refusal;
    const std::uint8_t* m_pictures = nullptr; // the picture buffer, mapped to read
    std::size_t m_pictureBytes = 0;
    std::uint32_t m_pictureSequence = 0; // of the last picture shown
    double m_framesPerSecond = 0.0;      // Windows: the container's rate, which its clock plays at
};

} // namespace tagrelay
