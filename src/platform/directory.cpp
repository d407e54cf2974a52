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

EntryKind entryKindAt(int folderFd, const char* name, unsigned char type)
{
    switch (type) {
    case DT_REG:
        return EntryKind::File;
    case DT_DIR:
        return EntryKind::Directory;
    case DT_LNK:
    case DT_UNKNOWN: {
        // Links are followed. A dangling link counts as a file, so that a described name
        // whose target is gone is reported as a file that cannot be opened.
        struct stat info
        {
        };
        if (::fstatat(folderFd, name, &info, 0) == 0)
            return entryKindOfMode(info.st_mode);
        if (::fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
            return EntryKind::File;
        return EntryKind::Other;
    }
    default:
        return EntryKind::Other;
    }
}

} // namespace tagrelay
