// The character set of the walk's lines in a renewed list: what a signature in front, the lines
// of others and names outside the locale's set make of a list asked for in UTF-8.

#include "lists/list_merge.h"
#include "platform/codepage.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tagrelay {
namespace {

const std::string mark = "\xEF\xBB\xBF";

/// A UTF-8 text in the locale's set, as the walk has its names and descriptions: the same
/// bytes in the UTF-8 locale the tests run in, Windows-1252 under wine. Up to U+FFFF.
std::string inLocale(std::string_view utf8)
{
#ifdef _WIN32
    std::vector<std::uint16_t> units;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        const auto next = [&] { return static_cast<unsigned char>(utf8[++i]) & 0x3Fu; };
        if (byte >= 0xE0)
            units.push_back(
                static_cast<std::uint16_t>(((byte & 0x0Fu) << 12) | (next() << 6) | next()));
        else if (byte >= 0xC0)
            units.push_back(static_cast<std::uint16_t>(((byte & 0x1Fu) << 6) | next()));
        else
            units.push_back(byte);
    }
    return utf16ToLocale(units);
#else
    return std::string(utf8);
#endif
}

const std::string cafeName = inLocale("Caf\xC3\xA9.mp3");
const std::string ownLineInUtf8 = "\"Caf\xC3\xA9.mp3\" K\xC3\xBCnstler - \xC3\x89t\xC3\xA9\r\n";
const std::string ownLine = inLocale(ownLineInUtf8);
// Lines of others: Windows-1252 "Menü für heute", UTF-8 "Grüße", ASCII.
const std::string cp1252Others = "notes.txt Men\xFC f\xFCr heute\r\n";
const std::string utf8Others = "notes.txt Gr\xC3\xBC\xC3\x9F\x65\r\n";
const std::string asciiOthers = "notes.txt plain\r\n";
// HFS's multi-line form ends in 0x04 0xC2, which is no UTF-8 but no text either.
const std::string hfsOthers = "notes.txt one\\ntwo \xC3\xBC\x04\xC2\n";

struct CharsetCase
{
    const char* what;
    ListCharset asked;
    std::string old;
    std::vector<std::string> entries;
    std::vector<EntryLines> described;
    std::string merged;
    bool keptOthersCharset = false;
    std::vector<std::string> unwritable = {};
    std::vector<std::string> changed = {};
    bool utf8LocaleOnly = false; // the bytes that are no text of the set differ by set
};

class ListCharsetTest : public testing::TestWithParam<CharsetCase>
{
};

TEST_P(ListCharsetTest, WritesTheWalksLinesInTheListsOwnSet)
{
    const CharsetCase& c = GetParam();
    test::ScopedLocale utf8({"C.UTF-8", "en_US.UTF-8"});
    if (c.utf8LocaleOnly && localeCodeset() != "UTF-8")
        GTEST_SKIP() << "bytes that are no text of UTF-8 are text of " << localeCodeset();
    std::vector<DirectoryEntry> entries;
    for (const std::string& name : c.entries)
        entries.push_back({name, EntryKind::File});
    CharsetNotes notes;
    const auto merged = mergeList(
        c.old, entries, c.described, [](const std::string&) { return false; }, c.asked, &notes);
    ASSERT_TRUE(merged);
    EXPECT_EQ(*merged, c.merged);
    EXPECT_EQ(notes.keptOthersCharset, c.keptOthersCharset);
    EXPECT_EQ(notes.unwritableNames, c.unwritable);
    EXPECT_EQ(notes.changedDescriptions, c.changed);
}

using enum ListCharset;

INSTANTIATE_TEST_SUITE_P(
    Lists, ListCharsetTest,
    testing::Values(
        CharsetCase{"SignatureAskedForANewList",
                    Utf8WithSignature,
                    "",
                    {cafeName},
                    {{0, ownLine}},
                    mark + ownLineInUtf8},
        CharsetCase{
            "Utf8AskedPutsNoSignature", Utf8, "", {cafeName}, {{0, ownLine}}, ownLineInUtf8},
        CharsetCase{"SignatureAddedInFrontOfAsciiLinesOfOthers",
                    Utf8WithSignature,
                    asciiOthers,
                    {cafeName, "notes.txt"},
                    {{0, ownLine}},
                    mark + ownLineInUtf8 + asciiOthers},
        CharsetCase{"SignatureAddedInFrontOfUtf8LinesOfOthers",
                    Utf8WithSignature,
                    utf8Others,
                    {"notes.txt", cafeName},
                    {{1, ownLine}},
                    mark + utf8Others + ownLineInUtf8},
        CharsetCase{"TheMarkOfHfsMultiLineFormIsNoTextOfAnotherSet",
                    Utf8WithSignature,
                    hfsOthers,
                    {"notes.txt", cafeName},
                    {{1, ownLine}},
                    mark + hfsOthers + ownLineInUtf8},
        // Behind a signature Far would read the visitor's Windows-1252 comment as UTF-8.
        CharsetCase{"NoSignatureInFrontOfOthersLinesInAnotherSet",
                    Utf8WithSignature,
                    cp1252Others,
                    {"notes.txt", cafeName},
                    {{1, ownLine}},
                    cp1252Others + ownLine,
                    true},
        CharsetCase{"Utf8AskedKeepsAListOfAnotherSetInIt",
                    Utf8,
                    cp1252Others + "b.mp3 x\r\n",
                    {cafeName, "notes.txt"},
                    {{0, ownLine}},
                    ownLine + cp1252Others,
                    true},
        // The walk's own old lines in another set are replaced: they do not hold it back.
        CharsetCase{"OwnOldLinesInAnotherSetAreReplaced",
                    Utf8WithSignature,
                    "\"a.mp3\" M\xFCller\r\n",
                    {"a.mp3"},
                    {{0, "\"a.mp3\" new\r\n"}},
                    mark + "\"a.mp3\" new\r\n"},
        // An entry the walk did not reach (a stopped walk) keeps its old line, which stays.
        CharsetCase{"AnOldLineThatStaysCountsAsOthers",
                    Utf8WithSignature,
                    "\"b.mp3\" M\xFCller\r\n",
                    {cafeName, "b.mp3"},
                    {{0, ownLine}},
                    ownLine + "\"b.mp3\" M\xFCller\r\n",
                    true},
        // A list that says it is UTF-8 stays UTF-8, whatever was asked and whatever the
        // lines of others hold; they keep their bytes.
        CharsetCase{"ASignedListGetsUtf8WhenTheLocaleIsAsked",
                    Locale,
                    mark + cp1252Others,
                    {cafeName, "notes.txt"},
                    {{0, ownLine}},
                    mark + ownLineInUtf8 + cp1252Others},
        CharsetCase{"ASignedListKeepsItsSignatureWithUtf8",
                    Utf8,
                    mark + asciiOthers,
                    {"notes.txt", cafeName},
                    {{1, ownLine}},
                    mark + asciiOthers + ownLineInUtf8},
        CharsetCase{"TheLocaleLeavesAListWithoutSignatureAsAlways",
                    Locale,
                    asciiOthers,
                    {cafeName, "notes.txt"},
                    {{0, ownLine}},
                    ownLine + asciiOthers},
        CharsetCase{"ANameOutsideTheSetGetsNoLine",
                    Utf8WithSignature,
                    asciiOthers,
                    {"x\xFF.mp3", "notes.txt", "a.mp3"},
                    {{0, "\"x\xFF.mp3\" text\r\n"}, {2, "\"a.mp3\" \r\n"}},
                    mark + asciiOthers + "\"a.mp3\" \r\n",
                    false,
                    {"x\xFF.mp3"},
                    {},
                    true},
        CharsetCase{"BytesOutsideTheSetInADescriptionBecomeOneMarkEach",
                    Utf8,
                    "",
                    {"a.mp3"},
                    {{0, "\"a.mp3\" Gr\xC3\xBC\xFF\xFE Caf\xC3\xA9 x\xC3\r\n"}},
                    "\"a.mp3\" Gr\xC3\xBC? Caf\xC3\xA9 x?\r\n",
                    false,
                    {},
                    {"a.mp3"},
                    true}),
    [](const testing::TestParamInfo<CharsetCase>& row) { return row.param.what; });

} // namespace
} // namespace tagrelay
