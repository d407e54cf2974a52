#include "platform/folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string_view>

namespace tagrelay {

namespace {

FolderResult failure(int error)
{
    return {std::strerror(error)};
}

// File systems of the kernel and of devices, by the magic number statfs gives.
constexpr std::array<unsigned long, 20> systemFileSystems = {
    0x9fa0,     // proc
    0x62656572, // sysfs
    0x1cd1,     // devpts
    0x27e0eb,   // cgroup
    0x63677270, // cgroup2
    0x73636673, // securityfs
    0x64626720, // debugfs
    0x74726163, // tracefs
    0x62656570, // configfs
    0x6165676c, // pstore
    0xcafe4a11, // bpf
    0x19800202, // mqueue
    0x958458f6, // hugetlbfs
    0x42494e4d, // binfmt_misc
    0xde5e81e4, // efivarfs
    0x65735543, // fusectl
    0x6e736673, // nsfs
    0xf97cff8c, // selinuxfs
    0x0187,     // autofs
    0x67596969, // rpc_pipefs
};

/// devtmpfs reports itself as tmpfs to statfs; only the mount table tells the two apart.
bool isDeviceTmpfs(dev_t device)
{
    static std::mutex guard;
    static std::map<dev_t, bool> known;
    const std::lock_guard lock(guard);
    const auto found = known.find(device);
    if (found != known.end())
        return found->second;
    bool isDevtmpfs = false;
    std::ifstream table("/proc/self/mountinfo");
    std::string line;
    while (std::getline(table, line)) {
        // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw": the third field
        // is the device, the first field after " - " the file system type.
        std::istringstream fields(line);
        std::string id, parent, numbers;
        fields >> id >> parent >> numbers;
        unsigned major = 0, minor = 0;
        if (std::sscanf(numbers.c_str(), "%u:%u", &major, &minor) != 2
            || makedev(major, minor) != device)
            continue;
        const auto dash = line.find(" - ");
        if (dash != std::string::npos && line.compare(dash + 3, 9, "devtmpfs ") == 0)
            isDevtmpfs = true;
    }
    known[device] = isDevtmpfs;
    return isDevtmpfs;
}

} // namespace

FolderHandle::~FolderHandle()
{
    close();
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void FolderHandle::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

FolderHandle openFolder(const std::string& path, FolderResult& result)
{
    const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    result = fd < 0 ? failure(errno) : FolderResult{};
    return FolderHandle(fd);
}

FolderHandle openFolderAt(int parentFd, const std::string& name, FolderResult& result)
{
    const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    result = fd < 0 ? failure(errno) : FolderResult{};
    return FolderHandle(fd);
}

bool identityOfFd(int fd, DirectoryIdentity& identity)
{
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0)
        return false;
    identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    return true;
}

std::string realPathOfFd(int fd)
{
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::string target(4096, '\0');
    for (;;) {
        const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
        if (length < 0)
            return {};
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            break;
        }
        target.resize(target.size() * 2);
    }
    if (target.empty() || target.front() != '/')
        return {};
    if (target.back() != '/')
        target += '/';
    return target;
}

std::vector<DirectoryEntry> listFolder(int folderFd, FolderResult& result)
{
    std::vector<DirectoryEntry> entries;
    // fdopendir takes the descriptor over, so it gets a copy of its own, rewound.
    const int copy = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0) {
        result = failure(errno);
        return entries;
    }
    DIR* dir = ::fdopendir(copy);
    if (dir == nullptr) {
        result = failure(errno);
        ::close(copy);
        return entries;
    }
    result = {};
    for (;;) {
        errno = 0;
        const dirent* found = ::readdir(dir);
        if (found == nullptr) {
            if (errno != 0)
                result = failure(errno);
            break;
        }
        const std::string_view name = found->d_name;
        if (name == "." || name == "..")
            continue;
        DirectoryEntry entry;
        entry.name = std::string(name);
        entry.kind = entryKindAt(copy, found->d_name, found->d_type, entry.isLink);
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return entries;
}

bool isSystemFileSystem(int folderFd)
{
    struct statfs info
    {
    };
    if (::fstatfs(folderFd, &info) != 0)
        return false;
    const auto type = static_cast<unsigned long>(info.f_type);
    for (const unsigned long system : systemFileSystems) {
        if (type == system)
            return true;
    }
    constexpr unsigned long tmpfs = 0x01021994;
    struct stat folder
    {
    };
    return type == tmpfs && ::fstat(folderFd, &folder) == 0 && isDeviceTmpfs(folder.st_dev);
}

FolderResult readFileAt(int folderFd, const std::string& name, std::size_t maxBytes,
                        std::string& bytes)
{
    bytes.clear();
    const int fd =
        ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno == ELOOP)
        return {"not a regular file"}; // a link, never followed
    if (fd < 0)
        return errno == ENOENT ? FolderResult{} : failure(errno);
    struct stat info
    {
    };
    FolderResult result;
    if (::fstat(fd, &info) != 0)
        result = failure(errno);
    else if (!S_ISREG(info.st_mode))
        result = {"not a regular file"};
    const std::string tooLarge = "larger than " + std::to_string(maxBytes) + " bytes";
    if (result.ok() && static_cast<std::uint64_t>(info.st_size) > maxBytes)
        result = {tooLarge};
    // Read to the end, whatever the size said: the file may have grown since.
    std::array<char, 65536> block{};
    while (result.ok()) {
        const ssize_t got = ::read(fd, block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            result = failure(errno);
        if (got <= 0)
            break;
        if (bytes.size() + static_cast<std::size_t>(got) > maxBytes)
            result = {tooLarge};
        else
            bytes.append(block.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (!result.ok())
        bytes.clear();
    return result;
}

bool kindAt(int folderFd, const std::string& name, EntryKind& kind)
{
    struct stat info
    {
    };
    if (::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    kind = entryKindOfMode(info.st_mode);
    return true;
}

} // namespace tagrelay
