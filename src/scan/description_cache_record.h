#pragma once

#include "scan/settings.h"
#include "tags/tag_versions.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tagrelay {

/// The version of how a file's line, its entries in the list of files with errors and its icon
/// file are made from the file. Raise it with every change to any of them: a cache filled by
/// an older program is then not used for the new lines.
inline constexpr int descriptionFormatVersion = 2;

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

/// What describing one file did, enough to do it again without opening the file.
struct CachedFile
{
    /// The description in the file's line (without the quoted name); nothing when the file
    /// gets no line (a picture without the size option, a movie that was passed over). An
    /// empty description still gives a line.
    std::optional<std::string> description;
    /// Whether the file counts as a described file in the run's count.
    bool counted = false;
    /// The entries the file added to the list of files with errors, in order.
    std::vector<std::string> errors;
    /// The stamp of the icon file written beside it; nothing when none was written (an icon
    /// of an earlier run that is there is then left alone, as a full run leaves it).
    std::optional<FileStamp> icon;
    friend bool operator==(const CachedFile&, const CachedFile&) = default;
};

/// Whether a cached file's icon needs nothing done: none was written, or the icon file
/// (name + ".ico" in the folder) is still the one written then, not a link, with the same
/// inode, size and times. Otherwise the file is to be described again.
[[nodiscard]] bool isIconInPlace(int folderFd, const std::string& name, const CachedFile& file);

/// Everything besides a file's bytes that shapes its line, its error entries and its icon.
struct LineOptions
{
    /// The eleven option flags and the icon size; the run counter and the start folder do not
    /// shape any line.
    Settings settings;
    TagVersions tagVersions = TagVersions::Id3v23Only;
    /// The depth that palette pictures report (the front end's displayDepth()).
    std::uint8_t displayDepth = 0;
    /// The locale's character set, which the tag texts are converted to.
    std::string codeset;
    /// Whether movies are measured on the screen (in real time) or on their own clock.
    bool playsMoviesOnScreen = false;
};

/// The options as one text, descriptionFormatVersion included: files described under equal
/// texts get equal lines.
[[nodiscard]] std::string lineOptionsText(const LineOptions& options);

/// The error entries of a file as the cache keeps them: each entry ended by a zero byte, the
/// file's path taken out and marked by the byte 1, so the entries follow the file when its
/// folder is renamed or the tree is given by another path. Nothing when an entry cannot be
/// kept so: one that names the path more than once, or holds a zero byte or the byte 1
/// outside it.
[[nodiscard]] std::optional<std::string> encodeErrorEntries(const std::vector<std::string>& entries,
                                                            std::string_view fullPath);

/// The entries back, with fullPath put in; nothing for bytes encodeErrorEntries never makes
/// (an entry not ended by a zero byte, or with the mark twice).
[[nodiscard]] std::optional<std::vector<std::string>> decodeErrorEntries(std::string_view bytes,
                                                                         std::string_view fullPath);

} // namespace tagrelay
