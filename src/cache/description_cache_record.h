#pragma once

#include "settings/settings.h"
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
inline constexpr int descriptionFormatVersion = 1;

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
