#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace tagrelay {

EntryKind entryKindOfMode(unsigned mode)
{
    if (S_ISREG(mode))
        return EntryKind::File;
    if (S_ISDIR(mode))
        return EntryKind::Directory;
    return EntryKind::Other;
}

EntryKind entryKindAt(int folderFd, const char* name, unsigned char type, bool& isLink)
{
    isLink = false;
    struct stat info
    {
    };
    switch (type) {
    case DT_REG:
        return EntryKind::File;
    case DT_DIR:
        return EntryKind::Directory;
    case DT_UNKNOWN:
        if (::fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            return EntryKind::Other;
        if (!S_ISLNK(info.st_mode))
            return entryKindOfMode(info.st_mode);
        [[fallthrough]];
    case DT_LNK:
        isLink = true;
        // The kind is the target's. A dangling link counts as a file, so that a described
        // name whose target is gone is reported as a file that cannot be opened.
        if (::fstatat(folderFd, name, &info, 0) == 0)
            return entryKindOfMode(info.st_mode);
        return EntryKind::File;
    default:
        return EntryKind::Other;
    }
}

} // namespace tagrelay
