#include "cache/description_cache_place.h"

#include "platform/tree_guard.h"
#include "platform/user_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace tagrelay {

namespace {

/// The folder part and the name part of a path.
std::pair<std::string, std::string> splitPath(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1)};
}

/// Why a folder (a canonical path) is no safe place for the cache, or empty when it is: every
/// folder above it must belong to root or the running user and be writable by nobody else
/// (unless sticky, like /tmp), and the folder itself must be the user's and writable by nobody
/// else. Nobody else can then put a link or a file of theirs in the way of the database or of
/// the journal files SQLite makes beside it.
std::string unsafeFolderReason(const std::string& folder)
{
    std::vector<std::string> steps{"/"};
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        if (const std::string step = folder.substr(0, slash); step.size() > 1)
            steps.push_back(step);
        if (slash == std::string::npos)
            break;
    }
    const uid_t user = ::geteuid();
    for (const std::string& step : steps) {
        struct stat info
        {
        };
        if (::lstat(step.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return "the folder " + step + " cannot be checked";
        const bool isOwn = info.st_uid == user;
        const bool othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
        const bool isLast = &step == &steps.back();
        if (!isOwn && (isLast || info.st_uid != 0))
            return "the folder " + step + " belongs to another user";
        if (othersWrite && (isLast || (info.st_mode & S_ISVTX) == 0))
            return "the folder " + step + " can be written by other users";
    }
    return {};
}

/// Why the existing file name in the folder is no file for the cache, or empty when it is one
/// (or is missing). The reason speaks of subject ("it", "its journal NAME").
std::string unsafeFileReason(int folderFd, const std::string& name, const std::string& subject)
{
    struct stat info
    {
    };
    if (::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? std::string() : subject + ": " + std::strerror(errno);
    if (S_ISLNK(info.st_mode))
        return subject + " is a symbolic link";
    if (!S_ISREG(info.st_mode))
        return subject + " is not a regular file";
    if (info.st_uid != ::geteuid())
        return subject + " belongs to another user";
    // Another name for the same file could lie anywhere, under anyone's control.
    if (info.st_nlink != 1)
        return subject + " has more than one name";
    return {};
}

/// Makes sure the cache's place is safe and its file is there, made for the user alone.
/// Returns why not, or an empty text with databasePath set to the file's canonical path.
std::string placeReason(const std::string& path, bool makesFolders, std::string& databasePath)
{
    if (path.empty())
        return "no place for it (neither XDG_CACHE_HOME nor a home folder)";
    const auto [folder, name] = splitPath(path);
    if (name.empty() || name == "." || name == "..")
        return "not a file name";
    // The folders on the way are judged (and made) name by name before anything is trusted.
    if (const std::string link = foreignLinkOnWay(folder, ::geteuid(), makesFolders); !link.empty())
        return "the folder " + link + " is a link of another user";
    char real[PATH_MAX];
    if (::realpath(folder.c_str(), real) == nullptr)
        return "the folder " + folder + ": " + std::strerror(errno);
    // SQLite opens the canonical path: only the folders checked here lead to the file.
    const std::string realFolder = real;
    if (std::string reason = unsafeFolderReason(realFolder); !reason.empty())
        return reason;
    const int folderFd = ::open(realFolder.c_str(), O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd < 0)
        return "the folder " + folder + ": " + std::strerror(errno);
    std::string reason = unsafeFileReason(folderFd, name, "it");
    for (const char* journal : {"-wal", "-shm"}) {
        if (reason.empty())
            reason = unsafeFileReason(folderFd, name + journal, "its journal " + name + journal);
    }
    struct stat info
    {
    };
    if (reason.empty() && ::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        // No descriptor of ours stays open on the database: closing one would drop the locks
        // SQLite holds on the file in this process.
        const int fd = ::openat(folderFd, name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
        else if (errno != EEXIST)
            reason = std::string("it cannot be made (") + std::strerror(errno) + ")";
        if (reason.empty())
            reason = unsafeFileReason(folderFd, name, "it");
    } else if (reason.empty() && (info.st_mode & 077) != 0) {
        ::fchmodat(folderFd, name.c_str(), info.st_mode & 0600, 0);
    }
    ::close(folderFd);
    databasePath = (realFolder == "/" ? "" : realFolder) + "/" + name;
    return reason;
}

} // namespace

std::string defaultDescriptionCachePath()
{
    const std::string base = userCacheFolder();
    return base.empty() ? std::string() : base + "/tagrelay/descriptions.sqlite";
}

CachePlace prepareCachePlace(const std::string& path, bool makesFolders)
{
    CachePlace place;
    place.unsafeReason = placeReason(slashedPath(path), makesFolders, place.databasePath);
    return place;
}

} // namespace tagrelay
