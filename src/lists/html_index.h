#pragma once

#include "platform/directory.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tagrelay {

/// The name of the page written beside a folder's list, which web servers serve for the
/// folder's own address.
inline constexpr const char* indexPageName = "index.html";

/// What every page of this program starts with: the line that makes it the program's own to
/// rewrite. A page that does not start with it is somebody else's and is never touched.
inline constexpr std::string_view indexPageMarker = "<!DOCTYPE html>\n<!-- written by tagrelay";

/// One entry of a folder as its page shows it.
struct PageEntry
{
    /// The bytes the web server maps the entry's address to (see nameInUrl); the link is made
    /// of them, percent-encoded.
    std::string urlName;
    /// The name as shown, in UTF-8 (bytes that are not UTF-8 are shown as U+FFFD).
    std::string shownName;
    /// The entry's description from the list, in UTF-8; empty when it has none.
    std::string description;
    /// Whether the description is in the web file server's multi-line form: its line breaks
    /// written as "\n" (its ending, 0x04 0xC2, taken off).
    bool isMultiLine = false;
    /// The file's size in bytes; none for a folder or a link.
    std::optional<std::uint64_t> size;
    bool isFolder = false;
    /// Whether the entry has an icon file (urlName + ".ico") beside it.
    bool hasIcon = false;
};

/// A folder's page: its title and its entries, in any order.
struct IndexPage
{
    std::string title; // the folder's name, in UTF-8
    std::vector<PageEntry> entries;
};

/// The character set of a list's texts when it has no UTF-8 signature (with one it is UTF-8).
enum class ListTexts { Locale, Utf8 };

/// An entry of a folder's listing with its size (none for a folder or a link).
struct ListedEntry
{
    DirectoryEntry entry;
    std::optional<std::uint64_t> size;
};

/// The page of a folder from its listing and its list (as it is on disk, listName in the
/// folder): every entry of the listing but the names a file server hides (starting with "."),
/// the page itself, description lists and the icon files of the entries shown, which appear as
/// their entries' pictures; each with the description of the list's first line naming it (in
/// the multi-line form when it ends in 0x04 0xC2).
/// Names are in the locale's character set, the list's texts in texts or, behind a UTF-8
/// signature, UTF-8; both are shown in UTF-8.
[[nodiscard]] IndexPage indexPageOf(std::string_view title, std::span<const ListedEntry> listing,
                                    std::string_view list, ListTexts texts);

/// The page of a folder as a whole HTML document in UTF-8: the marker, the title, one small
/// style sheet of its own (no scripts, nothing loaded from elsewhere), a link to the parent
/// folder, then the sub-folders and the files, each group by the bytes of its name, each entry
/// with its name as a link, its icon, its size and its description (one in the multi-line form
/// on several lines). Every text is escaped and every link percent-encoded, so no name or
/// description can add markup.
[[nodiscard]] std::string indexPageBytes(const IndexPage& page);

/// Whether a page's bytes start with the marker (see indexPageMarker).
[[nodiscard]] bool isOwnIndexPage(std::string_view bytes);

/// The bytes of a URL path segment: every byte but the unreserved letters, digits and "-._~"
/// as %XX.
[[nodiscard]] std::string percentEncoded(std::string_view bytes);

/// A text for an HTML element or a quoted attribute: "&", "<", ">", '"' and "'" as character
/// references, a tab as a blank, other control characters and bytes that are not UTF-8 (a
/// broken or overlong sequence, a surrogate) as U+FFFD.
[[nodiscard]] std::string htmlEscaped(std::string_view utf8);

/// A size for people: "512 B", "3.4 KiB", "12 MiB", "1.0 GiB".
[[nodiscard]] std::string sizeText(std::uint64_t bytes);

} // namespace tagrelay
