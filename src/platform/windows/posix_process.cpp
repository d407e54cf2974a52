#include "platform/windows/posix.h"
#include "platform/windows/system_error.h"
#include "platform/windows/wide_path.h"

#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

// The process side of the POSIX calls on Windows: the environment, the current folder, the
// console (its size, its code page, Ctrl+C and Ctrl+Break), the user, random bytes, and the
// calls that have nothing to do there.

extern "C" errno_t __cdecl rand_s(unsigned int* value);

using tagrelay::windows::failWithLastError;
using tagrelay::windows::handleOf;
using tagrelay::windows::pathAt;
using tagrelay::windows::setErrno;

namespace {

std::mutex randomGuard;

// The program's texts are in the ANSI code page; a console shows the OEM one unless told
// otherwise, which would garble every accented name. The console's own page comes back at exit.
UINT consolePageBefore = 0;

void restoreConsolePage()
{
    if (consolePageBefore != 0)
        SetConsoleOutputCP(consolePageBefore);
}

[[maybe_unused]] const bool consoleInAnsi = [] {
    consolePageBefore = GetConsoleOutputCP();
    if (consolePageBefore == 0 || consolePageBefore == GetACP())
        return false;
    SetConsoleOutputCP(GetACP());
    std::atexit(restoreConsolePage);
    return true;
}();

} // namespace

int chdir(const char* path)
{
    const std::wstring wide = pathAt(AT_FDCWD, path);
    if (wide.empty())
        return -1;
    return SetCurrentDirectoryW(wide.c_str()) ? 0 : failWithLastError();
}

char* mkdtemp(char* pattern)
{
    const std::size_t length = std::strlen(pattern);
    if (length < 6 || std::strcmp(pattern + length - 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return nullptr;
    }
    constexpr char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6]{};
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            return nullptr;
        for (std::size_t i = 0; i < 6; ++i)
            pattern[length - 6 + i] = digits[random[i] % 36];
        if (mkdir(pattern, 0700) == 0)
            return pattern;
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

int chmod(const char* path, unsigned mode)
{
    return fchmodat(AT_FDCWD, path, mode, 0);
}

int symlink(const char* target, const char* path)
{
    std::wstring wideTarget = tagrelay::windows::wideOf(target);
    for (wchar_t& character : wideTarget) {
        if (character == L'/')
            character = L'\\';
    }
    const std::wstring link = pathAt(AT_FDCWD, path);
    if (wideTarget.empty() || link.empty())
        return setErrno(ENOENT);
    constexpr DWORD unprivileged = 0x2; // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    if (!CreateSymbolicLinkW(link.c_str(), wideTarget.c_str(), unprivileged))
        return failWithLastError();
    return 0;
}

int setenv(const char* name, const char* value, int overwrite)
{
    if (overwrite == 0 && std::getenv(name) != nullptr)
        return 0;
    return _putenv_s(name, value) == 0 ? 0 : setErrno(EINVAL);
}

int unsetenv(const char* name)
{
    return _putenv_s(name, "") == 0 ? 0 : setErrno(EINVAL);
}

int isatty(int fd)
{
    return _isatty(fd);
}

int ioctl(int fd, unsigned long request, ...)
{
    if (request != TIOCGWINSZ)
        return setErrno(EINVAL);
    va_list arguments;
    va_start(arguments, request);
    auto* size = va_arg(arguments, winsize*);
    va_end(arguments);
    CONSOLE_SCREEN_BUFFER_INFO console{};
    if (!GetConsoleScreenBufferInfo(handleOf(fd), &console))
        return setErrno(ENOTTY);
    *size = {};
    size->ws_col = static_cast<unsigned short>(console.srWindow.Right - console.srWindow.Left + 1);
    size->ws_row = static_cast<unsigned short>(console.srWindow.Bottom - console.srWindow.Top + 1);
    return 0;
}

uid_t geteuid()
{
    // Windows gives files no owner the walk could compare: every file and link counts as the
    // user's own, and nobody runs as root.
    return 1000;
}

uid_t getuid()
{
    return geteuid();
}

passwd* getpwuid(uid_t)
{
    return nullptr;
}

long sysconf(int)
{
    return 4096;
}

ssize_t getrandom(void* buffer, std::size_t length, unsigned)
{
    const std::lock_guard lock(randomGuard);
    auto* bytes = static_cast<unsigned char*>(buffer);
    for (std::size_t done = 0; done < length; done += sizeof(unsigned)) {
        unsigned value = 0;
        if (rand_s(&value) != 0)
            return setErrno(EIO);
        const std::size_t count = length - done < sizeof value ? length - done : sizeof value;
        std::memcpy(bytes + done, &value, count);
    }
    return static_cast<ssize_t>(length);
}

int posix_fadvise(int, std::int64_t, std::int64_t, int)
{
    return 0; // Windows reads ahead by itself
}

void* mmap(void*, std::size_t, int, int, int, std::int64_t)
{
    errno = ENOTSUP;
    return MAP_FAILED;
}

int munmap(void*, std::size_t)
{
    return 0;
}

int mincore(void*, std::size_t, unsigned char*)
{
    return setErrno(ENOTSUP);
}

int sigemptyset(int* set)
{
    *set = 0;
    return 0;
}

namespace {

sighandler_t interruptHandler = nullptr;
sighandler_t breakHandler = nullptr;

// The C runtime calls these for Ctrl+C and for Ctrl+Break (or the console window being
// closed); the program hears them as SIGINT and SIGTERM.
void onConsoleInterrupt(int)
{
    if (interruptHandler != nullptr)
        interruptHandler(SIGINT);
}

void onConsoleBreak(int)
{
    if (breakHandler != nullptr)
        breakHandler(SIGTERM);
}

} // namespace

int sigaction(int signal, const struct sigaction* action, struct sigaction* old)
{
    if (old != nullptr)
        *old = {};
    if (action == nullptr)
        return 0;
    if (signal == SIGINT) {
        interruptHandler = action->sa_handler;
        ::signal(SIGINT, onConsoleInterrupt);
    } else if (signal == SIGTERM) {
        breakHandler = action->sa_handler;
        ::signal(SIGBREAK, onConsoleBreak);
    }
    return 0;
}
