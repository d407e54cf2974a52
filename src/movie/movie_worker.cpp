#include "movie/movie_worker.h"

#include "movie/descriptor_passing.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAGRELAY_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TAGRELAY_ADDRESS_SANITIZER 1
#endif

namespace tagrelay {

namespace {

constexpr const char* workerName = "tagrelay-movie-worker";
constexpr int quitGraceMs = 500;

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

bool isExecutable(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

/// How a reaped process ended, in a few words.
std::string endingOf(int status)
{
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const char* name = ::strsignal(signal);
        return "crashed with signal " + std::to_string(signal)
               + (name ? std::string(", ") + name : "");
    }
    if (WIFEXITED(status))
        return "ended with exit code " + std::to_string(WEXITSTATUS(status));
    return "ended";
}

/// Waits up to timeoutMs for the process to end; true when it was reaped.
bool reapWithin(pid_t pid, int timeoutMs, int& status)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return done == pid;
        if (Clock::now() >= deadline)
            return false;
        ::usleep(2000);
    }
}

/// Kills the worker and every process of its group: the worker runs in a process namespace of
/// its own below the process started, which only waits for it, and a worker that hangs must
/// not outlive its end.
void killWorker(pid_t pid)
{
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
}

/// In the child between fork and exec: only async-signal-safe calls from here on.
[[noreturn]] void becomeWorker(const char* program, char* const argv[], char* const envp[],
                               int socket, int devNull, pid_t parent,
                               std::uint64_t memoryLimitBytes, int maxFd)
{
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);

    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);

    if (socket == movieWorkerSocketFd) {
        ::fcntl(socket, F_SETFD, 0);
    } else if (::dup2(socket, movieWorkerSocketFd) < 0) {
        ::_exit(127);
    }
    for (int fd = 0; fd < 3; ++fd)
        ::dup2(devNull, fd);
    if (::syscall(SYS_close_range, movieWorkerSocketFd + 1, ~0U, 0) != 0) {
        for (int fd = movieWorkerSocketFd + 1; fd < maxFd; ++fd)
            ::close(fd);
    }

    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    if (memoryLimitBytes > 0) {
        const rlimit memory{memoryLimitBytes, memoryLimitBytes};
        ::setrlimit(RLIMIT_AS, &memory);
    }
    ::execve(program, argv, envp);
    ::_exit(127);
}

/// The program's environment without the names of its displays: the worker has no business
/// with them (and could not reach them).
std::vector<char*> workerEnvironment()
{
    std::vector<char*> kept;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (!text.starts_with("DISPLAY=") && !text.starts_with("WAYLAND_DISPLAY=")
            && !text.starts_with("XAUTHORITY="))
            kept.push_back(*entry);
    }
    kept.push_back(nullptr);
    return kept;
}

} // namespace

std::string findMovieWorker()
{
    if (const char* chosen = std::getenv("TAGRELAY_MOVIE_WORKER"); chosen && *chosen)
        return isExecutable(chosen) ? std::string(chosen) : std::string();

    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    const auto folder = self.parent_path();
    for (const auto& candidate :
         {folder / workerName, folder / ".." / "libexec" / "tagrelay" / workerName}) {
        if (isExecutable(candidate))
            return candidate.lexically_normal().string();
    }
    return {};
}

MovieWorker::~MovieWorker()
{
    quit();
}

bool MovieWorker::start(const std::string& program, bool showsWindows,
                        std::uint64_t memoryLimitBytes, int timeoutMs)
{
    quit();
    m_failure.clear();
    m_reader = MessageReader();
    if (program.empty() || !isExecutable(program)) {
        m_failure =
            "movie player " + (program.empty() ? std::string(workerName) : program) + " not found";
        return false;
    }

    std::array<int, 2> sockets{-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets.data()) != 0) {
        m_failure = "movie player not started: " + std::string(std::strerror(errno));
        return false;
    }
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);

#ifdef TAGRELAY_ADDRESS_SANITIZER
    // The sanitizer reserves far more address space than any limit would allow.
    memoryLimitBytes = 0;
#endif
    // Everything the child needs is prepared before the fork: after it, only plain system
    // calls are safe in a program that may have threads.
    std::vector<char> programPath(program.begin(), program.end());
    programPath.push_back('\0');
    std::string serve = movieWorkerServeArgument;
    std::string mode = showsWindows ? movieWorkerWindowArgument : movieWorkerUnseenArgument;
    std::array<char*, 4> argv{programPath.data(), serve.data(), mode.data(), nullptr};
    const long openMax = ::sysconf(_SC_OPEN_MAX);
    const int maxFd = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536;
    const pid_t parent = ::getpid();
    const std::vector<char*> environment = workerEnvironment();

    const pid_t pid = ::fork();
    if (pid == 0)
        becomeWorker(programPath.data(), argv.data(), environment.data(), sockets[1], devNull,
                     parent, memoryLimitBytes, maxFd);
    const int forkError = errno;
    ::close(sockets[1]);
    if (devNull >= 0)
        ::close(devNull);
    if (pid < 0) {
        ::close(sockets[0]);
        m_failure = "movie player not started: " + std::string(std::strerror(forkError));
        return false;
    }
    m_pid = pid;
    m_socket = sockets[0];

    const auto ready = receive(timeoutMs, timeoutMs);
    if (!ready)
        return false;
    if (ready->kind != MessageKind::Ready || ready->version != movieProtocolVersion) {
        fail("movie player " + program + " does not speak this program's language");
        return false;
    }
    m_confinement = ready->confinement;
    return true;
}

std::optional<MovieMessage> MovieWorker::ask(const MovieMessage& request, int timeoutMs,
                                             int descriptor)
{
    if (!isRunning())
        return std::nullopt;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!sendAll(encodeMessage(request), timeoutMs, descriptor))
        return std::nullopt;
    for (int pictures = 0;; ++pictures) {
        auto answer = receive(remainingMs(deadline), timeoutMs);
        if (!answer || answer->kind != MessageKind::Picture)
            return answer;
        if (pictures == maxPicturesPerAnswer || !m_onPicture || !m_onPicture(*answer)) {
            fail("movie player sent a picture the program did not ask for");
            return std::nullopt;
        }
    }
}

void MovieWorker::quit()
{
    if (!isRunning())
        return;
    const auto bytes = encodeMessage(messageOf(MessageKind::Quit));
    ::send(m_socket, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    closeSocket();
    int status = 0;
    if (!reapWithin(m_pid, quitGraceMs, status)) {
        killWorker(m_pid);
        reapWithin(m_pid, 5000, status);
    }
    m_pid = -1;
}

bool MovieWorker::sendAll(const std::vector<std::uint8_t>& bytes, int timeoutMs, int descriptor)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t done = 0;
    while (done < bytes.size()) {
        // The descriptor rides with the first bytes that go.
        const ssize_t sent =
            sendWithDescriptor(m_socket, {bytes.data() + done, bytes.size() - done},
                               done == 0 ? descriptor : -1, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            done += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd wanted{m_socket, POLLOUT, 0};
            const int left = remainingMs(deadline);
            if (left > 0 && ::poll(&wanted, 1, left) >= 0)
                continue;
            fail("movie player took no request for " + std::to_string(timeoutMs) + " ms");
            return false;
        }
        fail("movie player unreachable");
        return false;
    }
    return true;
}

std::optional<MovieMessage> MovieWorker::receive(int timeoutMs, int limitMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::array<std::uint8_t, 4096> chunk{};
    for (;;) {
        if (auto message = m_reader.next())
            return message;
        if (m_reader.isBroken()) {
            fail("movie player sent a malformed answer");
            return std::nullopt;
        }
        pollfd wanted{m_socket, POLLIN, 0};
        const int left = remainingMs(deadline);
        const int ready = left > 0 ? ::poll(&wanted, 1, left) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            fail("movie player gave no answer within " + std::to_string(limitMs) + " ms");
            return std::nullopt;
        }
        const ssize_t got = ::recv(m_socket, chunk.data(), chunk.size(), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            fail("");
            return std::nullopt;
        }
        m_reader.feed({chunk.data(), static_cast<std::size_t>(got)});
    }
}

void MovieWorker::fail(const std::string& reason)
{
    closeSocket();
    if (!isRunning()) {
        m_failure = reason;
        return;
    }
    int status = 0;
    // A worker that closed its end has usually just ended; give it a moment to be reaped with
    // its own story before it is killed.
    const bool ended = reason.empty() && reapWithin(m_pid, quitGraceMs, status);
    if (!ended) {
        killWorker(m_pid);
        reapWithin(m_pid, 5000, status);
    }
    m_pid = -1;
    m_failure = reason.empty() ? "movie player " + endingOf(status) : reason;
}

void MovieWorker::closeSocket()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
}

} // namespace tagrelay
