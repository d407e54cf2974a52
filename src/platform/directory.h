#pragma once

#include <cstdint>
#include <string>

namespace tagrelay {

/// What an entry is, as the walk distinguishes it. Links are followed; a dangling link is a
/// File (one that cannot be opened).
enum class EntryKind { Other = 0, File = 1, Directory = 2 };

struct DirectoryEntry
{
    std::string name; // as the file system gives it, without any directory part
    EntryKind kind = EntryKind::Other;
    bool isLink = false; // the entry itself is a symbolic link (kind is its target's)
};

/// The kind of a file of the given mode (st_mode).
[[nodiscard]] EntryKind entryKindOfMode(unsigned mode);

/// The kind of the entry name of an open folder, from the type the listing gave (DT_REG and
/// the like), looking at the entry itself only for a link or an unknown type; isLink says
/// whether the entry is a symbolic link.
[[nodiscard]] EntryKind entryKindAt(int folderFd, const char* name, unsigned char type,
                                    bool& isLink);

/// Identity of a directory on disk, for recognising a folder met again through a link.
struct DirectoryIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend auto operator<=>(const DirectoryIdentity&, const DirectoryIdentity&) = default;
};

} // namespace tagrelay
