#include "platform/replacement_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace tagrelay {

namespace {

constexpr std::string_view temporaryPrefix = ".tagrelay-";
constexpr std::string_view temporarySuffix = ".tmp";

/// Hexadecimal digits in a temporary name: 64 random bits.
constexpr std::size_t temporaryDigits = 16;

/// Names tried before the folder counts as unable to take a new file. Random names meet an
/// existing entry only when somebody planted it there.
constexpr int temporaryNameTries = 16;

FolderResult failure(int error)
{
    return {std::strerror(error)};
}

DirectoryIdentity identityOf(const struct stat& info)
{
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

ReplacementFile::Stamp stampOf(const struct stat& info)
{
    return {identityOf(info), static_cast<std::int64_t>(info.st_ctim.tv_sec),
            static_cast<std::int64_t>(info.st_ctim.tv_nsec)};
}

/// True when name is in folderFd as a regular file (not followed if a link) with identity.
bool isSameFileAt(int folderFd, const std::string& name, DirectoryIdentity identity)
{
    struct stat info
    {
    };
    return ::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0
           && S_ISREG(info.st_mode) && identityOf(info) == identity;
}

/// The same for a temporary file of this program, by its stamp.
bool isSameFileAt(int folderFd, const std::string& name, const ReplacementFile::Stamp& stamp)
{
    struct stat info
    {
    };
    return ::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0
           && S_ISREG(info.st_mode) && stampOf(info) == stamp;
}

std::uint64_t randomBits()
{
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits))
        return bits;
    // Without the system's source (very early at boot, an old kernel) the clock, the pid and a
    // count still make collisions rare, and an exclusive create makes them harmless.
    static std::atomic<std::uint64_t> counter{0};
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 30)
            ^ (static_cast<std::uint64_t>(::getpid()) << 40))
           + 0x9E3779B97F4A7C15ull * ++counter;
}

bool isDigitsOnly(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

/// True when the file was last changed at least age ago; a time in the future never is.
bool isUnchangedFor(const struct stat& info, std::chrono::seconds age)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto nanoseconds = [](std::time_t seconds, long nanos) {
        return static_cast<long double>(seconds) * 1e9L + static_cast<long double>(nanos);
    };
    const long double changed = nanoseconds(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
    return nanoseconds(now.tv_sec, now.tv_nsec) - changed
           >= static_cast<long double>(age.count()) * 1e9L;
}

bool writeAll(int fd, std::span<const std::uint8_t> bytes, int& error)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        if (wrote == 0) {
            error = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace

/// The permissions a new file of the program gets: what a create with 0666 gives under the
/// process's file mode mask. Reading the mask sets it for a moment; the mask set then is the
/// strictest, so a file another thread creates in that moment is only more private.
unsigned newFileMode()
{
    const mode_t mask = ::umask(077);
    ::umask(mask);
    return 0666U & ~static_cast<unsigned>(mask);
}

std::optional<FileAccess> fileAccessAt(int folderFd, const std::string& name)
{
    struct stat info
    {
    };
    if (::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0
        || !S_ISREG(info.st_mode))
        return std::nullopt;
    return FileAccess{static_cast<unsigned>(info.st_mode & 0777),
                      static_cast<unsigned>(info.st_uid), static_cast<unsigned>(info.st_gid)};
}

FolderResult checkCanTakeNewFile(int folderFd)
{
    if (::faccessat(folderFd, ".", W_OK | X_OK, AT_EACCESS) != 0)
        return failure(errno);
    return {};
}

std::string randomTemporaryName()
{
    constexpr std::array<char, 16> digits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                             '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    std::uint64_t bits = randomBits();
    std::string name(temporaryPrefix);
    for (std::size_t i = 0; i < temporaryDigits; ++i, bits >>= 4)
        name += digits[bits & 0xF];
    name += temporarySuffix;
    return name;
}

ReplacementFile::ReplacementFile(int fd, std::string name, const Stamp& stamp, unsigned mode,
                                 unsigned owner, unsigned group)
    : m_fd(fd), m_name(std::move(name)), m_stamp(stamp), m_mode(mode), m_owner(owner),
      m_group(group)
{
}

ReplacementFile::~ReplacementFile()
{
    // Without the folder the file cannot be removed here; a file left behind is stale once
    // nobody holds it, and the next run through the folder removes it.
    suspend();
}

ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept
    : m_fd(other.m_fd), m_name(std::move(other.m_name)), m_stamp(other.m_stamp),
      m_mode(other.m_mode), m_owner(other.m_owner), m_group(other.m_group), m_access(other.m_access)
{
    other.m_fd = -1;
    other.m_name.clear();
}

ReplacementFile& ReplacementFile::operator=(ReplacementFile&& other) noexcept
{
    if (this != &other) {
        suspend();
        m_fd = other.m_fd;
        m_name = std::move(other.m_name);
        m_stamp = other.m_stamp;
        m_mode = other.m_mode;
        m_owner = other.m_owner;
        m_group = other.m_group;
        m_access = other.m_access;
        other.m_fd = -1;
        other.m_name.clear();
    }
    return *this;
}

ReplacementFile ReplacementFile::create(int folderFd, FolderResult& result,
                                        const TemporaryNameSource& nextName)
{
    int error = EEXIST;
    for (int attempt = 0; attempt < temporaryNameTries; ++attempt) {
        std::string name = nextName();
        // Exclusive and without following: whatever already has the name (a planted file or
        // link, a leftover) is neither opened nor written, and another name is drawn. Nobody
        // else may open it until it has its final owner and mode, just before it is written:
        // a reader that opened it early would read the whole new file.
        const int fd = ::openat(folderFd, name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = errno;
            if (error == EEXIST)
                continue;
            break;
        }
        struct stat info
        {
        };
        if (::fstat(fd, &info) != 0) {
            error = errno;
            ::close(fd);
            ::unlinkat(folderFd, name.c_str(), 0);
            break;
        }
        // Where the file system has no locks the file's age alone keeps it from being
        // mistaken for a leftover.
        (void)::flock(fd, LOCK_EX | LOCK_NB);
        result = {};
        return ReplacementFile(fd, std::move(name), stampOf(info), info.st_mode & 0777, info.st_uid,
                               info.st_gid);
    }
    result = failure(error);
    return {};
}

void ReplacementFile::suspend()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void ReplacementFile::forget()
{
    suspend();
    m_name.clear();
    m_access.reset();
}

/// Opens the suspended temporary file again, only when the name still holds the very file
/// this object created: after it was given up, another run may have taken it for a leftover
/// and removed it, and anybody who can write the folder may have put something else there.
/// The file is still empty then: a write would have changed the time in its stamp.
bool ReplacementFile::openAgain(int folderFd)
{
    if (!isSameFileAt(folderFd, m_name, m_stamp))
        return false;
    const int fd =
        ::openat(folderFd, m_name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info
    {
    };
    // A lock held by somebody else is a run about to remove it; the name must still be there
    // once the lock is ours.
    if (::fstat(fd, &info) != 0 || !(stampOf(info) == m_stamp)
        || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || !isSameFileAt(folderFd, m_name, m_stamp)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_mode = info.st_mode & 0777;
    m_owner = info.st_uid;
    m_group = info.st_gid;
    return true;
}

FolderResult ReplacementFile::replace(int folderFd, const std::string& name,
                                      std::span<const std::uint8_t> bytes,
                                      const std::function<bool()>& isStillCurrent)
{
    struct stat old
    {
    };
    const bool replaces = ::fstatat(folderFd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    const std::optional<FileAccess> access = m_access; // kept when a new file is made below
    if (replaces && !S_ISREG(old.st_mode)) {
        discard(folderFd);
        return {"not a regular file"};
    }
    if (exists() && !isOpen() && !openAgain(folderFd))
        forget(); // no longer ours: never written, never removed
    if (!exists()) {
        FolderResult made;
        *this = create(folderFd, made);
        if (!made.ok())
            return made;
    }

    int error = 0;
    bool written = true;
    // The owner and mode come first, before a byte is written. The new file is the old one
    // renewed: same permissions, and the same owner when the program runs as root over
    // somebody else's folder; a new file gets what a create under the file mode mask gives.
    const bool setsOwner = access ? access->hasOwner : replaces;
    const unsigned owner = access ? access->owner : static_cast<unsigned>(old.st_uid);
    const unsigned group = access ? access->group : static_cast<unsigned>(old.st_gid);
    if (setsOwner && ::geteuid() == 0 && (owner != m_owner || group != m_group)
        && ::fchown(m_fd, owner, group) != 0) {
        error = errno;
        written = false;
    }
    // Changing the owner takes away set-id bits only, which a list never has.
    const unsigned mode = access     ? access->mode & 0777
                          : replaces ? old.st_mode & 0777
                                     : newFileMode();
    if (written && mode != m_mode && ::fchmod(m_fd, mode) != 0) {
        error = errno;
        written = false;
    }
    written = written && writeAll(m_fd, bytes, error);
    // Between the close and the rename the lock is gone; a fresh time keeps another run from
    // taking the file for a leftover then. Writing gives one; an empty file needs it set.
    if (written && bytes.empty())
        (void)::futimens(m_fd, nullptr);
    // A file system that reports a failed write only when the file is closed (NFS, a quota)
    // is caught here, before the old file is given up.
    if (::close(m_fd) != 0 && written) {
        error = errno;
        written = false;
    }
    m_fd = -1;
    if (written && isStillCurrent && !isStillCurrent()) {
        ::unlinkat(folderFd, m_name.c_str(), 0);
        forget();
        return {replacedMeanwhile};
    }
    if (written && ::renameat(folderFd, m_name.c_str(), folderFd, name.c_str()) != 0) {
        error = errno;
        written = false;
    }
    if (!written)
        ::unlinkat(folderFd, m_name.c_str(), 0);
    forget();
    return written ? FolderResult{} : failure(error);
}

FolderResult ReplacementFile::replace(int folderFd, const std::string& name, std::string_view text,
                                      const std::function<bool()>& isStillCurrent)
{
    return replace(folderFd, name, bytesOf(text), isStillCurrent);
}

void ReplacementFile::discard(int folderFd)
{
    if (exists() && (isOpen() || isSameFileAt(folderFd, m_name, m_stamp)))
        ::unlinkat(folderFd, m_name.c_str(), 0);
    forget();
}

FolderResult replaceFileAt(int folderFd, const std::string& name,
                           std::span<const std::uint8_t> bytes)
{
    // A refused name is reported before anything is made in the folder.
    struct stat old
    {
    };
    if (::fstatat(folderFd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(old.st_mode))
        return {"not a regular file"};
    FolderResult made;
    ReplacementFile file = ReplacementFile::create(folderFd, made);
    if (!made.ok())
        return made;
    return file.replace(folderFd, name, bytes);
}

FolderResult replaceFileAt(int folderFd, const std::string& name, std::string_view text)
{
    return replaceFileAt(folderFd, name, bytesOf(text));
}

bool isTemporaryFileName(const std::string& name)
{
    if (!name.starts_with(temporaryPrefix) || !name.ends_with(temporarySuffix)
        || name.size() <= temporaryPrefix.size() + temporarySuffix.size())
        return false;
    const std::string_view middle = std::string_view(name).substr(
        temporaryPrefix.size(), name.size() - temporaryPrefix.size() - temporarySuffix.size());
    if (middle.size() == temporaryDigits
        && middle.find_first_not_of("0123456789abcdef") == std::string_view::npos)
        return true;
    // Earlier versions named theirs by pid and count: ".tagrelay-1234-0.tmp".
    const auto dash = middle.find('-');
    return dash != std::string_view::npos && isDigitsOnly(middle.substr(0, dash))
           && isDigitsOnly(middle.substr(dash + 1));
}

void removeStaleTemporaryFile(int folderFd, const std::string& name,
                              std::chrono::seconds staleAfter)
{
    if (!isTemporaryFileName(name))
        return;
    // Only a regular file is opened: opening a device or a FIFO may do something of its own.
    struct stat seen
    {
    };
    if (::fstatat(folderFd, name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode)
        || !isUnchangedFor(seen, staleAfter))
        return;
    const int fd =
        ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat opened
    {
    };
    // A run that holds the file now is alive. The lock taken is kept until the name is gone,
    // so the run that made the file cannot take it up again meanwhile; a shared one is enough
    // for that and, unlike an exclusive one, works on a read-only descriptor over NFS too.
    if (::fstat(fd, &opened) == 0 && identityOf(opened) == identityOf(seen)
        && ::flock(fd, LOCK_SH | LOCK_NB) == 0 && isSameFileAt(folderFd, name, identityOf(seen)))
        ::unlinkat(folderFd, name.c_str(), 0);
    ::close(fd);
}

} // namespace tagrelay
