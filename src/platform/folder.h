#pragma once

#include "platform/directory.h"

#include <string>
#include <vector>

namespace tagrelay {

/// An open folder: a file descriptor that names the folder itself, whatever happens to its
/// path while it is open. Files inside it are opened and replaced relative to it, so a path of
/// any length works and a folder swapped for a link after it was entered cannot redirect a
/// write.
class FolderHandle
{
  public:
    FolderHandle() = default;
    explicit FolderHandle(int fd) : m_fd(fd) {}
    ~FolderHandle();
    FolderHandle(FolderHandle&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    FolderHandle& operator=(FolderHandle&& other) noexcept;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void close();

  private:
    int m_fd = -1;
};

/// The outcome of a folder operation: an empty reason means it worked; otherwise the reason
/// is the system's text for what went wrong, for the list of files with errors.
struct FolderResult
{
    std::string reason;
    bool ok() const { return reason.empty(); }
};

/// Opens a folder by path (an empty path is the current working directory), following links.
[[nodiscard]] FolderHandle openFolder(const std::string& path, FolderResult& result);

/// Opens the entry name of parent as a folder, following a link. Fails for anything that is
/// not a folder.
[[nodiscard]] FolderHandle openFolderAt(int parentFd, const std::string& name,
                                        FolderResult& result);

/// Device and inode of an open folder (or file).
[[nodiscard]] bool identityOfFd(int fd, DirectoryIdentity& identity);

/// The canonical path of an open folder, ending in "/", or empty when the system cannot say.
[[nodiscard]] std::string realPathOfFd(int fd);

/// Reads all entries of an open folder but "." and ".." in the order the file system gives
/// them. The folder's own descriptor is left as it was (the listing works on a copy).
[[nodiscard]] std::vector<DirectoryEntry> listFolder(int folderFd, FolderResult& result);

/// True when the folder lies on a file system of the kernel or of devices (proc, sysfs,
/// devtmpfs, devpts, cgroup and the like), which holds no files of users and must never be
/// written into.
[[nodiscard]] bool isSystemFileSystem(int folderFd);

/// Reads the regular file name of the folder whole, never through a link. A missing file
/// reads as empty. A link, a folder, a FIFO or a device under the name, or a file larger than
/// maxBytes, is refused with a reason and leaves bytes empty.
[[nodiscard]] FolderResult readFileAt(int folderFd, const std::string& name, std::size_t maxBytes,
                                      std::string& bytes);

/// What the name is in the folder, without following a link: EntryKind::File only for a
/// regular file; a link, a FIFO or a device is Other. Missing names give false.
[[nodiscard]] bool kindAt(int folderFd, const std::string& name, EntryKind& kind);

} // namespace tagrelay
