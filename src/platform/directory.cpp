#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace tagrelay {

namespace {

EntryKind kindOfMode(mode_t mode)
{
    if (S_ISREG(mode))
        return EntryKind::File;
    if (S_ISDIR(mode))
        return EntryKind::Directory;
    return EntryKind::Other;
}

} // namespace

DirectoryListing::DirectoryListing(const std::string& path)
    : m_dir(::opendir(path.empty() ? "." : path.c_str()))
{
    if (m_dir == nullptr)
        return;
    struct stat info
    {
    };
    if (::fstat(::dirfd(m_dir), &info) == 0)
        m_identity = {static_cast<std::uint64_t>(info.st_dev),
                      static_cast<std::uint64_t>(info.st_ino)};
}

DirectoryListing::~DirectoryListing()
{
    if (m_dir != nullptr)
        ::closedir(m_dir);
}

bool DirectoryListing::next(DirectoryEntry& entry)
{
    if (m_dir == nullptr)
        return false;
    const dirent* found = ::readdir(m_dir);
    if (found == nullptr)
        return false;
    entry.name = found->d_name;
    switch (found->d_type) {
    case DT_REG:
        entry.kind = EntryKind::File;
        return true;
    case DT_DIR:
        entry.kind = EntryKind::Directory;
        return true;
    case DT_LNK:
    case DT_UNKNOWN: {
        // Links are followed. A dangling link counts as a file, so that a described name
        // whose target is gone is reported as a file that cannot be opened.
        struct stat info
        {
        };
        if (::fstatat(::dirfd(m_dir), found->d_name, &info, 0) == 0)
            entry.kind = kindOfMode(info.st_mode);
        else if (::fstatat(::dirfd(m_dir), found->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0
                 && S_ISLNK(info.st_mode))
            entry.kind = EntryKind::File;
        else
            entry.kind = EntryKind::Other;
        return true;
    }
    default:
        entry.kind = EntryKind::Other;
        return true;
    }
}

} // namespace tagrelay
