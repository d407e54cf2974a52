#pragma once

#include "platform/file_stamp.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tagrelay {

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

/// What earlier runs found in the files (tagrelay-cli --update), as the walk uses it: an
/// unchanged file gets its line from here without being opened. Each kind of file keeps its
/// entries under a key of its own (the format's place in the table), so options that shape
/// one kind's lines leave the entries of the others in use.
class OutcomeCache
{
  public:
    virtual ~OutcomeCache();
    /// False once the cache gave up (or from the start): lookups find nothing then.
    [[nodiscard]] virtual bool isOn() const = 0;
    /// What describing the file with this stamp gave, its error entries naming fullPath.
    [[nodiscard]] virtual std::optional<CachedFile> lookup(std::size_t key, const FileStamp& stamp,
                                                           std::string_view fullPath) = 0;
    /// Keeps what describing a file gave, under the stamp read before it was opened.
    virtual void store(std::size_t key, const StampReading& reading, const CachedFile& file,
                       std::string_view fullPath) = 0;
};

} // namespace tagrelay
