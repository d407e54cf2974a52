// Fuzzes the index page made from a folder's list as others write it and from names of any
// bytes: the page is UTF-8 throughout, markup comes only from the page itself, and every link
// is percent-encoded. The first byte chooses the list's character set and which names of the
// list are entries (folders, files, links, with icons); the rest is the list.

#include "fuzz_input.h"
#include "lists/html_index.h"
#include "lists/list_merge.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace tagrelay;

/// Whether text is UTF-8, decoded here by value: each sequence's value must need its length
/// and be a scalar value.
bool isUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80       ? 1
                                   : lead >> 5 == 6  ? 2
                                   : lead >> 4 == 14 ? 3
                                   : lead >> 3 == 30 ? 4
                                                     : 0;
        if (length == 0 || i + length > text.size())
            return false;
        std::uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next >> 6 != 2)
                return false;
            value = value << 6 | (next & 0x3F);
        }
        constexpr std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

/// Counts of a mark in text.
std::size_t countOf(std::string_view text, std::string_view mark)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(mark); at != std::string_view::npos;
         at = text.find(mark, at + 1))
        ++count;
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string list(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::uint32_t choice = data[0] * 2654435761u;
    const auto next = [&choice](std::uint32_t outOf) {
        choice = choice * 1664525u + 1013904223u;
        return (choice >> 16) % outOf;
    };
    const ListTexts texts = next(2) == 0 ? ListTexts::Locale : ListTexts::Utf8;
    std::vector<ListedEntry> listing;
    for (const ListLine& line : splitList(list)) {
        if (line.name.empty() || next(4) == 0)
            continue;
        const std::string name(line.name);
        const auto kind = next(3) == 0 ? EntryKind::Directory : EntryKind::File;
        listing.push_back({{name, kind, next(5) == 0}, std::uint64_t{next(1u << 30)} << next(34)});
        if (kind == EntryKind::File && next(2) == 0)
            listing.push_back({{name + ".ico", EntryKind::File, false}, 100});
    }
    const std::string title = list.substr(0, list.find('\n'));
    const IndexPage page = indexPageOf(title, listing, list, texts);
    const std::string html = indexPageBytes(page);

    if (!isOwnIndexPage(html) || !isUtf8(html))
        fuzz::fail("the page is not ours or not UTF-8");
    // Every element is the page's own: no "<" comes from a name or a text.
    const std::size_t icons = static_cast<std::size_t>(
        std::count_if(page.entries.begin(), page.entries.end(),
                      [](const PageEntry& entry) { return entry.hasIcon; }));
    // A row is ten tags, an icon one more, a line break of the multi-line form one.
    if (countOf(html, "<")
        != countOf(indexPageBytes({}), "<") + 10 * page.entries.size() + icons
               + countOf(html, "<br>"))
        fuzz::fail("a text added markup");
    for (const PageEntry& entry : page.entries) {
        const std::string link = percentEncoded(entry.urlName);
        if (link.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                   "0123456789-._~%")
            != std::string::npos)
            fuzz::fail("a link holds a byte that is not encoded");
        if (html.find("href=\"" + link + (entry.isFolder ? "/\"" : "\"")) == std::string::npos)
            fuzz::fail("an entry has no link");
        const std::string escaped = htmlEscaped(entry.description);
        if (escaped.find_first_of("<>\"'") != std::string::npos || !isUtf8(escaped))
            fuzz::fail("an escaped text holds markup or is not UTF-8");
    }
    return 0;
}
