#include "platform/tree_guard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <vector>

namespace tagrelay {

namespace {

/// Links followed for one entry before it counts as a loop, as the kernel's own limit.
constexpr int maxLinksFollowed = 40;
/// The longest link text read.
constexpr std::size_t maxLinkText = 4096;
/// The most names looked at on the way a link leads, over all its links: a chain of links
/// whose texts go "d/../d/../..." makes thousands of steps each, for every entry that uses it.
constexpr int maxNamesFollowed = 1024;
/// ".." steps opened in one call: PATH_MAX bounds the text "../../..".
constexpr int stepsPerOpen = 1000;

int openUp(int fd, int steps)
{
    std::string up;
    up.reserve(static_cast<std::size_t>(steps) * 3);
    for (int i = 0; i < steps; ++i)
        up += i == 0 ? ".." : "/..";
    return ::openat(fd, up.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

std::string systemText(int error)
{
    return std::strerror(error);
}

/// Splits link text into its names; an absolute text starts with an empty name.
std::deque<std::string> namesOf(const std::string& text)
{
    std::deque<std::string> names;
    if (!text.empty() && text.front() == '/')
        names.emplace_back();
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('/', start), text.size());
        if (end > start)
            names.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

} // namespace

bool placeOfFd(int fd, FolderPlace& place)
{
    struct statx info
    {
    };
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_INO | STATX_MNT_ID, &info)
        != 0)
        return false;
    place.mountId = (info.stx_mask & STATX_MNT_ID) != 0 ? info.stx_mnt_id : 0;
    place.device = (std::uint64_t{info.stx_dev_major} << 32) | info.stx_dev_minor;
    place.inode = info.stx_ino;
    return true;
}

bool placeAbove(int fd, int steps, FolderPlace& place)
{
    if (steps <= 0)
        return placeOfFd(fd, place);
    OpenFile current(::dup(fd));
    while (steps > 0 && current.isOpen()) {
        const int now = std::min(steps, stepsPerOpen);
        current = OpenFile(openUp(current.fd(), now));
        steps -= now;
    }
    return current.isOpen() && placeOfFd(current.fd(), place);
}

int stepsUpTo(int fd, const FolderPlace& top, int limit)
{
    OpenFile current(::dup(fd));
    FolderPlace place;
    for (int steps = 0; steps <= limit && current.isOpen(); ++steps) {
        if (!placeOfFd(current.fd(), place))
            return -1;
        if (place == top)
            return steps;
        OpenFile up(openUp(current.fd(), 1));
        FolderPlace above;
        if (!up.isOpen() || !placeOfFd(up.fd(), above) || above == place)
            return -1; // the root: ".." leads nowhere further
        current = std::move(up);
    }
    return -1;
}

LinkTarget followLink(int folderFd, const std::string& name, uid_t user)
{
    LinkTarget target;
    OpenFile current(::openat(folderFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::deque<std::string> names{name};
    int linksFollowed = 0;
    int namesFollowed = 0;
    while (!names.empty()) {
        if (!current.isOpen()) {
            target.failure = systemText(errno);
            return target;
        }
        if (++namesFollowed > maxNamesFollowed) {
            target.failure = systemText(ELOOP);
            return target;
        }
        const std::string next = std::move(names.front());
        names.pop_front();
        if (next.empty()) { // an absolute link text: on from this process's root
            current = OpenFile(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
            continue;
        }
        if (next == ".")
            continue;
        if (next == "..") {
            current = OpenFile(openUp(current.fd(), 1));
            continue;
        }
        OpenFile step(::openat(current.fd(), next.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat info
        {
        };
        if (!step.isOpen() || ::fstat(step.fd(), &info) != 0) {
            target.failure = systemText(errno);
            return target;
        }
        if (S_ISLNK(info.st_mode)) {
            if (++linksFollowed > maxLinksFollowed) {
                target.failure = systemText(ELOOP);
                return target;
            }
            if (info.st_uid != user)
                target.ownLinksOnly = false;
            std::vector<char> text(maxLinkText + 1);
            const ssize_t length = ::readlinkat(step.fd(), "", text.data(), text.size());
            if (length <= 0 || static_cast<std::size_t>(length) > maxLinkText) {
                target.failure = length < 0 ? systemText(errno) : systemText(ENAMETOOLONG);
                return target;
            }
            std::deque<std::string> linked =
                namesOf(std::string(text.data(), static_cast<std::size_t>(length)));
            names.insert(names.begin(), linked.begin(), linked.end());
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            current = std::move(step);
            continue;
        }
        if (!names.empty()) {
            target.failure = systemText(ENOTDIR);
            return target;
        }
        target.folder = std::move(current);
        target.leaf = next;
        return target;
    }
    target.folder = std::move(current);
    return target;
}

FolderHandle openSubfolder(int parentFd, const std::string& name, bool& isLink,
                           FolderResult& result)
{
    const int fd =
        ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int error = errno;
    isLink = false;
    result = {};
    if (fd >= 0)
        return FolderHandle(fd);
    struct stat info
    {
    };
    isLink =
        ::fstatat(parentFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
    if (!isLink)
        result.reason = systemText(error);
    return {};
}

FolderHandle openLinkedFolder(const LinkTarget& target, FolderResult& result)
{
    result = {};
    if (!target.failure.empty() || !target.leaf.empty()) {
        result.reason = target.failure.empty() ? systemText(ENOTDIR) : target.failure;
        return {};
    }
    const int fd = ::openat(target.folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        result.reason = systemText(errno);
    return FolderHandle(fd);
}

std::string foreignLinkOnWay(const std::string& path, uid_t user, bool makesFolders)
{
    const bool isAbsolute = path.starts_with('/');
    int fd = ::open(isAbsolute ? "/" : ".", O_DIRECTORY | O_CLOEXEC);
    std::string walked = isAbsolute ? "" : ".";
    for (std::size_t start = 0; fd >= 0 && start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".")
            continue;
        walked += "/" + name;
        struct stat info
        {
        };
        if (::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT
            && makesFolders && ::mkdirat(fd, name.c_str(), 0700) == 0)
            (void)::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW);
        if (S_ISLNK(info.st_mode) && info.st_uid != 0 && info.st_uid != user) {
            ::close(fd);
            return walked;
        }
        const int next = ::openat(fd, name.c_str(), O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    if (fd >= 0)
        ::close(fd);
    return {};
}

} // namespace tagrelay
