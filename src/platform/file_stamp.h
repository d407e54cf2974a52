#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tagrelay {

/// What the cache knows a file by. The same device, inode, size and modification and change
/// times (to the nanosecond) mean the same bytes: every write to a file moves its change
/// time, which no user can set back.
struct FileStamp
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0; // st_mtim
    std::int64_t changedNs = 0;  // st_ctim
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

/// A file's stamp and the system clock (nanoseconds since 1970) just before it was read.
struct StampReading
{
    FileStamp stamp;
    std::int64_t readAtNs = 0;
};

enum class LinkRule { Follow, NoFollow };

/// Reads the stamp of the entry name of an open folder. Nothing when the name is missing or
/// is not a regular file (with LinkRule::NoFollow, a link is not one).
[[nodiscard]] std::optional<StampReading> readStampAt(int folderFd, const std::string& name,
                                                      LinkRule links);

/// Reads the stamp of an open regular file; nothing for anything else.
[[nodiscard]] std::optional<StampReading> readStampOfFd(int fd);

/// How long after its last change a file's stamp is trusted. File systems keep times in steps
/// (a few milliseconds on most, two seconds on FAT): a file changed again within the step in
/// which it was read would keep its stamp, so a file changed that recently is not cached yet.
inline constexpr std::int64_t settleTimeNs = 3'000'000'000;

/// Whether a stamp may go into the cache: the file's last change lies at least settleTimeNs
/// before the stamp was read. A later change then always moves the change time.
[[nodiscard]] bool isSettled(const StampReading& reading);

} // namespace tagrelay
