#pragma once

#include "platform/folder.h"
#include "platform/open_file.h"

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace tagrelay {

/// Where a folder stands: the mount it was reached through, its device and inode. Two
/// folders with the same place are the same folder seen the same way; the mount tells apart a
/// folder of this tree from the same folder seen through another mount namespace (a path
/// under /proc/<pid>/root), which text paths cannot.
struct FolderPlace
{
    std::uint64_t mountId = 0; // 0 where the kernel cannot tell it
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FolderPlace&, const FolderPlace&) = default;
};

/// The place of an open folder (any descriptor, O_PATH ones included).
[[nodiscard]] bool placeOfFd(int fd, FolderPlace& place);

/// The place of the folder `steps` levels above the open folder, reached by "..", as the
/// kernel resolves it (at the root, ".." stays there). False when it cannot be opened.
[[nodiscard]] bool placeAbove(int fd, int steps, FolderPlace& place);

/// How many ".." steps lead up from the open folder to the folder at `top`, checking the place
/// at each step; -1 when the root of the file system, an unreadable step or `limit` steps come
/// first. 0 when the folder is `top` itself.
[[nodiscard]] int stepsUpTo(int fd, const FolderPlace& top, int limit);

/// Where a symbolic link leads, followed hop by hop by this program instead of the kernel, so
/// that every link on the way is looked at: its owner, and what it names.
struct LinkTarget
{
    /// The folder that holds the entry the links end at (an O_PATH descriptor); for links that
    /// end at a folder, that folder itself.
    OpenFile folder;
    /// The entry's name in folder; empty when the links end at a folder.
    std::string leaf;
    /// True when every link on the way belongs to `user`.
    bool ownLinksOnly = true;
    /// Why the link cannot be followed (dangling, a loop, too long); empty when it can.
    std::string failure;
};

/// Follows the link `name` in an open folder to where it leads. Absolute targets start at
/// this process's root, relative ones at the link's folder; links met on the way (in the
/// target's folders or at its end) are followed the same way, at most 40 of them and 1024 names
/// on the way in all. A link whose
/// text names a place through the kernel's own links (/proc/<pid>/root, /proc/self/fd/N) is
/// taken as the text it reads, never as the object it stands for.
[[nodiscard]] LinkTarget followLink(int folderFd, const std::string& name, uid_t user);

/// Opens the sub-folder name of an open folder for listing, never through a link: when the
/// name is a link (even one that replaced the folder after it was listed) nothing is opened
/// and isLink is set; otherwise a failure says why in result.
[[nodiscard]] FolderHandle openSubfolder(int parentFd, const std::string& name, bool& isLink,
                                         FolderResult& result);

/// Opens for listing the folder that links led to (a target without a leaf).
[[nodiscard]] FolderHandle openLinkedFolder(const LinkTarget& target, FolderResult& result);

/// Goes down a folder path as given, one name at a time, and returns the path up to the first
/// link on the way that belongs to neither root nor user: such a link could send whoever
/// follows it anywhere, a folder of root's among them. Links of root's and of the user's own
/// are followed. Empty when there is none, also when the path stops at a missing name (whoever
/// opens it then learns so). With makesFolders the missing folders are made on the way, for
/// the user alone, each in the folder just checked.
[[nodiscard]] std::string foreignLinkOnWay(const std::string& path, uid_t user,
                                           bool makesFolders = false);

} // namespace tagrelay
