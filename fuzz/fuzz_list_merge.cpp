// Fuzzes the reading of old description lists and the merging of new lines into them, on
// whatever a list that others wrote may hold. The first byte chooses which names of the list
// are entries of the folder, which of those the walk described and which unlisted names exist;
// the rest is the old list. The same byte chooses the character set asked for the walk's lines.

#include "fuzz_input.h"
#include "lists/list_merge.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace tagrelay;

/// A small deterministic generator, so a crash input replays the same choices.
struct Choices
{
    std::uint32_t state;
    bool next(std::uint32_t outOf, std::uint32_t chance)
    {
        state = state * 1664525u + 1013904223u;
        return (state >> 16) % outOf < chance;
    }
};

bool canBeEntryName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

void checkSplit(std::string_view list)
{
    std::string_view body = list;
    if (body.starts_with(utf8ByteOrderMark))
        body.remove_prefix(utf8ByteOrderMark.size());
    std::string joined;
    const std::vector<ListLine> lines = splitList(list);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ListLine& line = lines[i];
        joined += line.bytes;
        const std::size_t feed = line.bytes.find('\n');
        if (feed != std::string_view::npos && feed + 1 != line.bytes.size())
            fuzz::fail("a line holds a line feed before its end");
        if (feed == std::string_view::npos && i + 1 != lines.size())
            fuzz::fail("a line other than the last has no line end");
        const auto inside = [&line](std::string_view part) {
            return part.empty()
                   || (part.data() >= line.bytes.data()
                       && part.data() + part.size() <= line.bytes.data() + line.bytes.size());
        };
        if (!inside(line.name) || !inside(line.description))
            fuzz::fail("a name or a description lies outside its line");
        if (line.name.find_first_of("\n") != std::string_view::npos)
            fuzz::fail("a name holds a line feed");
    }
    if (joined != body)
        fuzz::fail("the lines together are not the list");
}

/// What the merge must give, by the plain rule: entry by entry, new lines or every old line
/// of its name; then the old lines of unlisted names that exist; the mark in front.
std::string expectedMerge(std::string_view old, const std::vector<DirectoryEntry>& entries,
                          const std::vector<EntryLines>& described, const ExistsNow& existsNow)
{
    const std::vector<ListLine> lines = splitList(old);
    const auto keep = [](std::string& out, std::string_view bytes) {
        out += bytes;
        if (!bytes.ends_with('\n'))
            out += bytes.ends_with('\r') ? "\n" : "\r\n";
    };
    std::string out;
    std::set<std::string> listed;
    for (std::size_t e = 0; e < entries.size(); ++e) {
        listed.insert(entries[e].name);
        const auto done = std::find_if(described.begin(), described.end(),
                                       [e](const EntryLines& d) { return d.entry == e; });
        if (done != described.end()) {
            out += done->lines;
            continue;
        }
        for (const ListLine& line : lines) {
            if (!line.name.empty() && line.name == entries[e].name)
                keep(out, line.bytes);
        }
    }
    for (const ListLine& line : lines) {
        const std::string name(line.name);
        if (!name.empty() && listed.count(name) == 0 && canBeEntryName(name) && existsNow(name))
            keep(out, line.bytes);
    }
    if (!out.empty() && (old.starts_with(utf8ByteOrderMark) || out.starts_with(utf8ByteOrderMark)))
        out.insert(0, utf8ByteOrderMark);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string raw(reinterpret_cast<const char*>(data) + 1, size - 1);
    const bool eightBit = raw.find('\0') == std::string::npos;
    if (isEightBitList(raw) != eightBit)
        fuzz::fail("the 8-bit test is wrong");
    checkSplit(raw);

    // Zero bytes would have the list refused; the rest of the checks want one that is taken.
    std::string old = raw;
    std::replace(old.begin(), old.end(), '\0', '\x01');

    Choices choices{data[0] * 2654435761u};
    std::vector<DirectoryEntry> entries;
    std::set<std::string> seen;
    for (const ListLine& line : splitList(old)) {
        const std::string name(line.name);
        if (canBeEntryName(name) && seen.insert(name).second && choices.next(4, 3))
            entries.push_back({name, EntryKind::File});
    }
    // A listing names each entry once.
    if (seen.insert("extra.mp3").second)
        entries.push_back({"extra.mp3", EntryKind::File});
    for (std::size_t i = entries.size(); i > 1; --i) {
        choices.next(1, 0);
        std::swap(entries[i - 1], entries[(choices.state >> 8) % i]);
    }
    std::vector<EntryLines> described;
    for (std::size_t e = 0; e < entries.size(); ++e) {
        const std::string& name = entries[e].name;
        // The walk writes lines only for names without a double quote, CR or LF.
        if (name.find_first_of("\"\r\n") == std::string::npos && choices.next(2, 1))
            described.push_back({e, choices.next(3, 1) ? "" : "\"" + name + "\" new\r\n"});
    }
    const ExistsNow existsNow = [](const std::string& name) { return name.size() % 2 == 1; };

    const auto asked = static_cast<ListCharset>(data[0] % 3);
    if (eightBit && !mergeList(raw, entries, described, existsNow, asked))
        fuzz::fail("an 8-bit list was refused");
    CharsetNotes notes;
    const auto merged = mergeList(old, entries, described, existsNow, asked, &notes);
    if (!merged)
        fuzz::fail("a list without zero bytes was refused");
    // Lines that all went in unchanged (the fuzzer runs in the C locale, where UTF-8 is taken
    // as it is) stand where the plain rule puts them; only the mark in front may differ.
    const auto body = [](std::string_view list) {
        return list.starts_with(utf8ByteOrderMark) ? list.substr(utf8ByteOrderMark.size()) : list;
    };
    const std::string expected = expectedMerge(old, entries, described, existsNow);
    if (notes.unwritableNames.empty() && notes.changedDescriptions.empty()
        && body(*merged) != body(expected))
        fuzz::fail("the merge differs from the plain rule");
    if (asked == ListCharset::Locale && !old.starts_with(utf8ByteOrderMark) && *merged != expected)
        fuzz::fail("the locale's set changed a list without signature");
    // A signature put in front of a list that had none stands before UTF-8 lines only.
    if (!old.starts_with(utf8ByteOrderMark) && !expected.starts_with(utf8ByteOrderMark)
        && merged->starts_with(utf8ByteOrderMark)) {
        for (const ListLine& line : splitList(*merged)) {
            if (!isUtf8Line(line.bytes))
                fuzz::fail("a signature went in front of lines that are not UTF-8");
        }
    }
    // A merged list is the folder's list as it stands: merging it again with nothing new
    // changes no byte.
    const auto again = mergeList(*merged, entries, {}, existsNow, asked);
    if (!again || *again != *merged)
        fuzz::fail("merging a merged list again changed it");
    return 0;
}
