#include "lists/list_merge.h"

#include <cstdint>
#include <unordered_map>

namespace tagrelay {

namespace {

constexpr std::size_t noLine = static_cast<std::size_t>(-1);

/// How many old lines a merge goes through between two looks at whether to stop: a few
/// milliseconds of work, and a list of fewer lines is merged whole.
constexpr std::size_t linesBetweenStopChecks = 1 << 16;

/// The line without its line end.
std::string_view lineText(std::string_view bytes)
{
    if (bytes.ends_with('\n'))
        bytes.remove_suffix(1);
    if (bytes.ends_with('\r'))
        bytes.remove_suffix(1);
    return bytes;
}

/// Reads the name and the description of one line.
ListLine readLine(std::string_view bytes)
{
    ListLine line;
    line.bytes = bytes;
    const std::string_view text = lineText(bytes);
    std::size_t rest = 0;
    if (text.starts_with('"')) {
        // A name holding a blank is quoted; the name then runs to the next double quote.
        const std::size_t close = text.find('"', 1);
        if (close == std::string_view::npos)
            return line;
        line.name = text.substr(1, close - 1);
        rest = close + 1;
    } else {
        const std::size_t blank = text.find(' ');
        line.name = text.substr(0, blank);
        rest = blank == std::string_view::npos ? text.size() : blank;
    }
    if (rest < text.size() && text[rest] == ' ')
        ++rest;
    line.description = text.substr(rest);
    return line;
}

/// A name the folder could hold as an entry of its own: asking the folder about anything else
/// would look at another folder ("..", "a/b") or at the folder itself.
bool canBeEntryName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

void appendKeptLine(std::string& out, std::string_view bytes)
{
    out += bytes;
    // The old list's last line may lack its line end, or its LF only (a list cut short).
    if (!bytes.ends_with('\n'))
        out += bytes.ends_with('\r') ? "\n" : "\r\n";
}

} // namespace

std::vector<ListLine> splitList(std::string_view list)
{
    if (list.starts_with(utf8ByteOrderMark))
        list.remove_prefix(utf8ByteOrderMark.size());
    std::vector<ListLine> lines;
    while (!list.empty()) {
        const std::size_t end = list.find('\n');
        const std::size_t length = end == std::string_view::npos ? list.size() : end + 1;
        lines.push_back(readLine(list.substr(0, length)));
        list.remove_prefix(length);
    }
    return lines;
}

bool isEightBitList(std::string_view list)
{
    // Every line end in UTF-16 holds a zero byte; the byte-order mark alone proves nothing,
    // as the two bytes are also "ÿþ" in Windows-1252.
    return list.find('\0') == std::string_view::npos;
}

std::optional<std::string> mergeList(std::string_view oldList,
                                     std::span<const DirectoryEntry> entries,
                                     std::span<const EntryLines> described,
                                     const ExistsNow& existsNow, ListCharset asked,
                                     CharsetNotes* notes, const StopAsked& stopAsked)
{
    if (!isEightBitList(oldList))
        return std::nullopt;
    const std::vector<ListLine> old = splitList(oldList);
    const auto stopsAt = [&stopAsked](std::size_t i) {
        return stopAsked && i % linesBetweenStopChecks == linesBetweenStopChecks - 1 && stopAsked();
    };

    // The old lines of each entry's name, as a chain in list order: the first and the last
    // line of the name, and from each line the next one of the same name. Only the listing's
    // names are kept, so a list of a million names the folder never held costs a million
    // look-ups in a small table, not a table of a million names.
    struct Chain
    {
        std::size_t first = noLine;
        std::size_t last = noLine;
    };
    std::unordered_map<std::string_view, Chain> chains;
    chains.reserve(entries.size());
    for (const DirectoryEntry& entry : entries)
        chains.try_emplace(entry.name);
    std::vector<std::size_t> nextOf(old.size(), noLine);
    for (std::size_t i = 0; i < old.size(); ++i) {
        if (stopsAt(i))
            return std::nullopt;
        if (old[i].name.empty())
            continue;
        const auto chain = chains.find(old[i].name);
        if (chain == chains.end())
            continue;
        if (chain->second.first == noLine)
            chain->second.first = i;
        else
            nextOf[chain->second.last] = i;
        chain->second.last = i;
    }

    std::vector<const std::string*> newLinesOf(entries.size(), nullptr);
    for (const EntryLines& done : described) {
        if (done.entry < entries.size())
            newLinesOf[done.entry] = &done.lines;
    }

    // Which old lines stay: every line of an entry the walk did not describe, and those of
    // names the listing lacks that the folder holds now (they follow at the end).
    std::vector<bool> placed(old.size(), false);
    std::vector<bool> stays(old.size(), false);
    for (std::size_t e = 0; e < entries.size(); ++e) {
        const auto chain = chains.find(entries[e].name);
        for (std::size_t i = chain == chains.end() ? noLine : chain->second.first; i != noLine;
             i = nextOf[i]) {
            placed[i] = true;
            stays[i] = newLinesOf[e] == nullptr;
        }
    }
    for (std::size_t i = 0; i < old.size(); ++i) {
        if (stopsAt(i))
            return std::nullopt;
        if (placed[i] || old[i].name.empty())
            continue;
        const std::string name(old[i].name);
        stays[i] = canBeEntryName(name) && existsNow && existsNow(name);
    }

    CharsetNotes unused;
    CharsetNotes& charsetNotes = notes != nullptr ? *notes : unused;
    bool staysUtf8 = true;
    for (std::size_t i = 0; i < old.size() && staysUtf8; ++i)
        staysUtf8 = !stays[i] || isUtf8Line(old[i].bytes);
    const ListForm form = chooseListForm(asked, oldList, staysUtf8, charsetNotes);

    std::string merged;
    for (std::size_t e = 0; e < entries.size(); ++e) {
        const auto chain = chains.find(entries[e].name);
        for (std::size_t i = chain == chains.end() ? noLine : chain->second.first; i != noLine;
             i = nextOf[i]) {
            if (stays[i])
                appendKeptLine(merged, old[i].bytes);
        }
        if (newLinesOf[e] != nullptr)
            merged += form.utf8 ? linesInUtf8(*newLinesOf[e], charsetNotes) : *newLinesOf[e];
    }
    for (std::size_t i = 0; i < old.size(); ++i) {
        if (!placed[i] && stays[i])
            appendKeptLine(merged, old[i].bytes);
    }
    // Readers skip the mark in front of a list, so a kept line that starts with those bytes
    // (from the middle of the old list) needs one in front of it to be read as before.
    if (!merged.empty() && (form.signature || merged.starts_with(utf8ByteOrderMark)))
        merged.insert(0, utf8ByteOrderMark);
    return merged;
}

} // namespace tagrelay
