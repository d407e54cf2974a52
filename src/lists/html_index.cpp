#include "lists/html_index.h"

#include "lists/list_merge.h"
#include "platform/codepage.h"

#include <algorithm>
#include <array>
#include <set>
#include <tuple>
#include <unordered_map>

namespace tagrelay {

namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD"; // U+FFFD

/// The ending of a description in the web file server's multi-line form.
constexpr std::string_view multiLineEnding = "\x04\xC2";

/// The length of the UTF-8 sequence at the start of text, or 0 when it is not a whole, shortest
/// sequence of a scalar value (a stray continuation byte, an overlong form, a surrogate, a
/// value past U+10FFFF, a sequence cut short).
std::size_t utf8SequenceLength(std::string_view text)
{
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80; // the range of the second byte, narrower after some leads
    unsigned char high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // E0 80..9F would be overlong
        high = lead == 0xED ? 0x9F : 0xBF; // ED A0..BF would be a surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;  // F0 80..8F would be overlong
        high = lead == 0xF4 ? 0x8F : 0xBF; // F4 90.. would be past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    }
    return length;
}

/// The description's lines: one, or those of the multi-line form.
std::string descriptionHtml(const PageEntry& entry)
{
    if (!entry.isMultiLine)
        return htmlEscaped(entry.description);
    std::string_view rest = entry.description;
    std::string html;
    for (;;) {
        const std::size_t end = rest.find("\\n");
        html += htmlEscaped(rest.substr(0, end));
        if (end == std::string_view::npos)
            return html;
        html += "<br>";
        rest.remove_prefix(end + 2);
    }
}

// Small and plain: readable on a phone (the rows become blocks on a narrow screen), in the
// reader's light or dark colours, and nothing fetched from anywhere.
constexpr std::string_view styleSheet =
    ":root{color-scheme:light dark}\n"
    "body{font:16px/1.45 system-ui,sans-serif;margin:0 auto;max-width:64em;padding:.8em}\n"
    "h1{font-size:1.35em;margin:.2em 0 .6em;overflow-wrap:anywhere}\n"
    "table{border-collapse:collapse;width:100%}\n"
    "th,td{text-align:left;vertical-align:middle;padding:.35em .5em;"
    "border-bottom:1px solid #8885}\n"
    "th{font-size:.85em;font-weight:normal;opacity:.7}\n"
    "td.s{text-align:right;white-space:nowrap}\n"
    "a{text-decoration:none;overflow-wrap:anywhere}\n"
    "a:hover,a:focus{text-decoration:underline}\n"
    "img{width:2em;height:2em;object-fit:contain;vertical-align:middle;margin-right:.4em}\n"
    "tr.d a{font-weight:bold}\n"
    "@media (max-width:40em){thead{display:none}tr{display:block;"
    "border-bottom:1px solid #8885;padding:.3em 0}td{display:block;border:0;padding:.1em .3em}"
    "td.s{text-align:left;font-size:.85em;opacity:.7}}\n";

// Escaping keeps every text out of the markup; the policy is the second wall: this page runs
// no script and loads nothing but its own folder's icons, whatever it came to hold.
constexpr std::string_view pageHead =
    "<html>\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src 'self'; "
    "style-src 'unsafe-inline'\">\n";

void appendEntry(std::string& html, const PageEntry& entry)
{
    const std::string link = percentEncoded(entry.urlName) + (entry.isFolder ? "/" : "");
    html += entry.isFolder ? "<tr class=\"d\"><td><a href=\"" : "<tr class=\"f\"><td><a href=\"";
    html += link;
    html += "\">";
    if (entry.hasIcon) {
        html += "<img src=\"";
        html += percentEncoded(entry.urlName + ".ico");
        html += "\" alt=\"\">";
    }
    html += htmlEscaped(entry.shownName);
    if (entry.isFolder)
        html += '/';
    html += "</a></td><td class=\"s\"";
    if (entry.size) {
        html += " title=\"" + std::to_string(*entry.size) + " bytes\">";
        html += sizeText(*entry.size);
    } else {
        html += '>';
    }
    html += "</td><td>";
    html += descriptionHtml(entry);
    html += "</td></tr>\n";
}

bool isDescriptionListName(std::string_view name)
{
    constexpr std::string_view listName = "descript.ion";
    return name.size() == listName.size()
           && std::equal(name.begin(), name.end(), listName.begin(), [](char a, char b) {
                  return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
              });
}

/// Whether the page leaves the entry out: what a file server hides, and the files that only
/// serve the page and the list.
bool isLeftOut(std::string_view name)
{
    return name.empty() || name.starts_with('.') || name == indexPageName
           || isDescriptionListName(name);
}

} // namespace

IndexPage indexPageOf(std::string_view title, std::span<const ListedEntry> listing,
                      std::string_view list, ListTexts texts)
{
    const bool listIsUtf8 = list.starts_with(utf8ByteOrderMark) || texts == ListTexts::Utf8;
    const auto listText = [listIsUtf8](std::string_view text) {
        return listIsUtf8 ? std::string(text) : localeToUtf8(text);
    };
    // Names are matched in UTF-8, so a list in UTF-8 still describes the names of a folder in
    // another character set.
    std::unordered_map<std::string, std::string_view> descriptions;
    for (const ListLine& line : splitList(list)) {
        if (!line.name.empty())
            descriptions.try_emplace(listText(line.name), line.description);
    }
    std::set<std::string_view> files;
    for (const ListedEntry& listed : listing) {
        if (listed.entry.kind == EntryKind::File)
            files.insert(listed.entry.name);
    }
    const auto hasFile = [&files](std::string_view name) { return files.count(name) != 0; };
    IndexPage page;
    page.title = localeToUtf8(title);
    for (const ListedEntry& listed : listing) {
        const std::string& name = listed.entry.name;
        if (isLeftOut(name))
            continue;
        const bool isFolder = listed.entry.kind == EntryKind::Directory;
        if (!isFolder && name.ends_with(".ico") && hasFile(name.substr(0, name.size() - 4)))
            continue; // shown as its file's picture
        PageEntry entry;
        entry.urlName = nameInUrl(name);
        entry.shownName = localeToUtf8(name);
        if (const auto found = descriptions.find(entry.shownName); found != descriptions.end()) {
            std::string_view description = found->second;
            entry.isMultiLine = description.ends_with(multiLineEnding);
            if (entry.isMultiLine)
                description.remove_suffix(multiLineEnding.size());
            entry.description = listText(description);
        }
        if (!isFolder && !listed.entry.isLink)
            entry.size = listed.size;
        entry.isFolder = isFolder;
        entry.hasIcon = !isFolder && hasFile(name + ".ico");
        page.entries.push_back(std::move(entry));
    }
    return page;
}

std::string percentEncoded(std::string_view bytes)
{
    constexpr std::string_view hexDigits = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const bool isUnreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z')
                                  || (byte >= '0' && byte <= '9') || byte == '-' || byte == '.'
                                  || byte == '_' || byte == '~';
        if (isUnreserved) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += hexDigits[byte >> 4];
            encoded += hexDigits[byte & 0x0F];
        }
    }
    return encoded;
}

std::string htmlEscaped(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size() + utf8.size() / 8);
    while (!utf8.empty()) {
        const std::size_t length = utf8SequenceLength(utf8);
        if (length == 0) {
            out += replacementCharacter;
            utf8.remove_prefix(1);
            continue;
        }
        const char c = utf8[0];
        if (length > 1) {
            out += utf8.substr(0, length);
        } else if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '"') {
            out += "&quot;";
        } else if (c == '\'') {
            out += "&#39;";
        } else if (c == '\t') {
            out += ' ';
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            out += replacementCharacter;
        } else {
            out += c;
        }
        utf8.remove_prefix(length);
    }
    return out;
}

std::string sizeText(std::uint64_t bytes)
{
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    constexpr std::array<std::string_view, 6> units = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    // Tenths of the unit, in whole numbers: no floating point, so every build writes the same.
    std::uint64_t whole = bytes;
    std::size_t unit = 0;
    while (whole >= 1024 * 1024 && unit + 1 < units.size()) {
        whole /= 1024;
        ++unit;
    }
    const std::uint64_t tenths = (whole * 10 + 512) / 1024;
    std::string text = tenths >= 100
                           ? std::to_string((tenths + 5) / 10)
                           : std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
    return text + " " + std::string(units[unit]);
}

bool isOwnIndexPage(std::string_view bytes)
{
    return bytes.starts_with(indexPageMarker);
}

std::string indexPageBytes(const IndexPage& page)
{
    std::vector<const PageEntry*> entries;
    entries.reserve(page.entries.size());
    for (const PageEntry& entry : page.entries)
        entries.push_back(&entry);
    // Sub-folders first, then files, each by the bytes of the shown name: the same page
    // whatever order the folder was listed or described in.
    std::sort(entries.begin(), entries.end(), [](const PageEntry* a, const PageEntry* b) {
        return std::tie(b->isFolder, a->shownName, a->urlName)
               < std::tie(a->isFolder, b->shownName, b->urlName);
    });
    const std::string title = htmlEscaped(page.title);
    std::string html(indexPageMarker);
    html += ": made anew from the folder's description list at every run; a page without this "
            "line is left alone -->\n";
    html += pageHead;
    html += "<title>" + title + "</title>\n<style>\n";
    html += styleSheet;
    html += "</style>\n</head>\n<body>\n<h1>" + title + "</h1>\n<table>\n";
    html += "<thead><tr><th>Name</th><th>Size</th><th>Description</th></tr></thead>\n<tbody>\n";
    html += "<tr class=\"u\"><td><a href=\"../\">../</a></td><td class=\"s\"></td>"
            "<td>Parent folder</td></tr>\n";
    for (const PageEntry* entry : entries)
        appendEntry(html, *entry);
    html += "</tbody>\n</table>\n</body>\n</html>\n";
    return html;
}

} // namespace tagrelay
