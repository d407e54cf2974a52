#pragma once

#include "platform/directory.h"
#include "platform/folder.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tagrelay {

/// Gives the next name to try for a temporary file, one per call.
using TemporaryNameSource = std::function<std::string()>;

/// A temporary file name with 64 bits drawn from the system's random source, such as
/// ".tagrelay-3f09a1c4d2e8b765.tmp". No two runs agree on one, whatever their pids.
[[nodiscard]] std::string randomTemporaryName();

/// Whether the folder can take a new file, as the running user: it may be written and entered,
/// on a medium that is not read-only. Asked of the system, without making a file (which would
/// touch the folder's own times).
[[nodiscard]] FolderResult checkCanTakeNewFile(int folderFd);

/// The owner, group and permission bits of a file.
struct FileAccess
{
    unsigned mode = 0; // the permission bits (0777)
    unsigned owner = 0;
    unsigned group = 0;
    bool hasOwner = true; // false: the new file keeps the owner it was made with
};

/// The access of the regular file name of an open folder (never followed through a link);
/// nothing when there is none.
[[nodiscard]] std::optional<FileAccess> fileAccessAt(int folderFd, const std::string& name);

/// The permission bits a new file of the program gets: 0666 under the process's file mode
/// mask.
[[nodiscard]] unsigned newFileMode();

/// The reason replace() gives when its isStillCurrent check said no.
inline constexpr const char* replacedMeanwhile = "changed by another program meanwhile";

/// A new file being made in a folder to replace one name there once it is complete.
///
/// It starts as an empty temporary file under a random name, created without following a
/// link and never over an existing entry (another name is tried then), and holds an exclusive
/// lock while it is open, so that another run can tell it from the leftovers of a killed one.
/// Being able to create it is the proof that the folder can take a new file. replace() fills
/// it and renames it over the name; until then the folder's old file is untouched.
class ReplacementFile
{
  public:
    ReplacementFile() = default;
    ~ReplacementFile();
    ReplacementFile(ReplacementFile&& other) noexcept;
    ReplacementFile& operator=(ReplacementFile&& other) noexcept;
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    /// Creates the temporary file in the folder; on failure result holds the system's reason
    /// (for a folder that cannot take a new file) and the file made is empty.
    [[nodiscard]] static ReplacementFile
    create(int folderFd, FolderResult& result,
           const TemporaryNameSource& nextName = randomTemporaryName);

    bool exists() const { return !m_name.empty(); }
    bool isOpen() const { return m_fd >= 0; }
    const std::string& temporaryName() const { return m_name; }

    /// Closes the descriptor (and with it the lock) but keeps the file, to spare a descriptor
    /// while the caller is busy elsewhere; replace() opens it again.
    void suspend();

    /// Gives the file made by replace() these permission bits, and when running as root this
    /// owner and group, instead of the old file's: for a file made from another one, which
    /// must not be readable by more users than that one.
    void setAccess(const FileAccess& access) { m_access = access; }

    /// Writes bytes to the temporary file and renames it over name in folderFd, which must be
    /// the folder it was created in. A link, a folder, a FIFO or a device under the name is
    /// refused and never written through; the old file stays whole when anything fails. The
    /// new file keeps the old one's permission bits, and its owner when running as root; they
    /// are set only where the temporary file's differ. A suspended temporary file that is gone
    /// or was replaced by another entry is never written: a new one is made instead. Afterwards
    /// the object is empty, and on failure the temporary file is removed. isStillCurrent, when
    /// given, is asked just before the rename whether the bytes still fit what is under the
    /// name; when it says no, nothing is renamed and the result is replacedMeanwhile.
    [[nodiscard]] FolderResult replace(int folderFd, const std::string& name,
                                       std::span<const std::uint8_t> bytes,
                                       const std::function<bool()>& isStillCurrent = {});
    [[nodiscard]] FolderResult replace(int folderFd, const std::string& name, std::string_view text,
                                       const std::function<bool()>& isStillCurrent = {});

    /// Removes the temporary file from folderFd (the folder it was created in) and empties the
    /// object; for a folder that is not described after all.
    void discard(int folderFd);

    /// What tells the temporary file from anything later put under its name: device and
    /// inode, and the time its inode last changed, since a file made after it was removed
    /// may get the same inode number.
    struct Stamp
    {
        DirectoryIdentity identity;
        std::int64_t changedSeconds = 0;
        std::int64_t changedNanoseconds = 0;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };

  private:
    ReplacementFile(int fd, std::string name, const Stamp& stamp, unsigned mode, unsigned owner,
                    unsigned group);
    bool openAgain(int folderFd);
    void forget();

    int m_fd = -1;
    std::string m_name;
    Stamp m_stamp;       // of the temporary file
    unsigned m_mode = 0; // its permission bits as created
    unsigned m_owner = 0;
    unsigned m_group = 0;
    std::optional<FileAccess> m_access; // what the new file gets, when not the old one's
};

/// Replaces (or creates) the file name in the folder with bytes, through a ReplacementFile:
/// the same guarantees, in one call.
[[nodiscard]] FolderResult replaceFileAt(int folderFd, const std::string& name,
                                         std::span<const std::uint8_t> bytes);
[[nodiscard]] FolderResult replaceFileAt(int folderFd, const std::string& name,
                                         std::string_view text);

/// True when name is a temporary file name of this program: ".tagrelay-" and 16 hexadecimal
/// digits, or the form of earlier versions with a pid and a count, each ending in ".tmp".
[[nodiscard]] bool isTemporaryFileName(const std::string& name);

/// A temporary file untouched for this long and locked by nobody was left by a run that was
/// killed. A live run's file is locked while it is written; earlier versions, which took no
/// lock, kept theirs for a moment only.
inline constexpr std::chrono::seconds staleTemporaryAge{60};

/// Removes the temporary file name from the folder when it is stale: a regular file (never a
/// link, never opened when it is anything else), unchanged for at least staleAfter, that no
/// process holds a lock on. Nothing about pids is trusted, as they repeat in every container.
void removeStaleTemporaryFile(int folderFd, const std::string& name,
                              std::chrono::seconds staleAfter = staleTemporaryAge);

} // namespace tagrelay
