#pragma once

#include "movie/movie_protocol.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tagrelay {

/// The movie worker program to start: $TAGRELAY_MOVIE_WORKER when set, else
/// tagrelay-movie-worker beside the running program, else ../libexec/tagrelay/ from there.
/// Empty when none of them exists.
[[nodiscard]] std::string findMovieWorker();

/// One running worker process and the socket to it. The worker starts in a process group of
/// its own (a Ctrl+C on the terminal is the program's, not the worker's), with only the socket
/// and /dev/null as standard streams open, no display named in its environment, no core files,
/// its address space limited, and dies with the program. Every wait has a time limit; whatever goes
/// wrong ends the process, and failure() says what happened in a few words. The destructor ends and
/// reaps it.
class MovieWorker
{
  public:
    MovieWorker() = default;
    ~MovieWorker();
    MovieWorker(const MovieWorker&) = delete;
    MovieWorker& operator=(const MovieWorker&) = delete;

    /// Starts the program and waits for its Ready message. memoryLimitBytes 0: no limit. A
    /// worker that shows windows may reach the display; one that does not plays every movie
    /// unseen and gets no network at all.
    bool start(const std::string& program, bool showsWindows, std::uint64_t memoryLimitBytes,
               int timeoutMs);
    bool isRunning() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }

    /// Sends one request, with an open file descriptor riding along when one is given (the
    /// worker gets its own descriptor of the file), and waits for its answer. Nothing when the
    /// worker failed (it is then ended and reaped, and failure() says why). A Picture before
    /// the answer goes to the picture handler, at most maxPicturesPerAnswer of them; one the
    /// handler refuses, or any without a handler, fails the worker.
    std::optional<MovieMessage> ask(const MovieMessage& request, int timeoutMs,
                                    int descriptor = -1);

    /// Takes the Picture messages that come before answers.
    void setPictureHandler(std::function<bool(const MovieMessage&)> handler)
    {
        m_onPicture = std::move(handler);
    }

    /// Asks the worker to quit, gives it a moment, then kills it; reaps it either way.
    void quit();

    const std::string& failure() const { return m_failure; }
    /// The layers of confinement the running worker reported (worker_sandbox.h).
    std::uint8_t confinement() const { return m_confinement; }

  private:
    bool sendAll(const std::vector<std::uint8_t>& bytes, int timeoutMs, int descriptor);
    /// Waits up to timeoutMs; a time-out is reported as no answer within limitMs.
    std::optional<MovieMessage> receive(int timeoutMs, int limitMs);
    /// Ends the process (if still running), reaps it, and keeps the reason given or, when the
    /// process had already ended, how it ended.
    void fail(const std::string& reason);
    void closeSocket();

    pid_t m_pid = -1;
    int m_socket = -1;
    MessageReader m_reader;
    std::string m_failure;
    std::uint8_t m_confinement = 0;
    std::function<bool(const MovieMessage&)> m_onPicture;
};

/// Pictures the worker may send before one answer: the one it just copied, and no backlog.
inline constexpr int maxPicturesPerAnswer = 1;

} // namespace tagrelay
