// The character set of the walk's lines in a renewed list: what a signature in front, the lines
// of others and names outside the locale's set make of a list asked for in UTF-8.

#include "lists/list_merge.h"
#include "platform/codepage.h"
#include "support/support.h"

#include <gtest/gtest.h>

namespace tagrelay {
namespace {

const std::string bom = "\xEF\xBB\xBF";
// The walk's name and line for "Café.mp3", "Künstler - Été", in the locale's set: UTF-8 in the
// locale the tests run in, Windows-1252 under wine.
const std::string ownUtf8 = "\"Caf\xC3\xA9.mp3\" K\xC3\xBCnstler - \xC3\x89t\xC3\xA9\r\n";
#ifdef _WIN32
const std::string cafe = latin1ToLocale("Caf\xE9.mp3");
const std::string own = latin1ToLocale("\"Caf\xE9.mp3\" K\xFCnstler - \xC9t\xE9\r\n");
#else
const std::string cafe = "Caf\xC3\xA9.mp3";
const std::string own = ownUtf8;
#endif
// Lines of others: Windows-1252 "Menü für", UTF-8 "Grüße", and HFS's multi-line form, whose end
// 0x04 0xC2 is no UTF-8 but no text either.
const std::string cp1252 = "notes.txt Men\xFC f\xFCr\r\n";
const std::string utf8 = "notes.txt Gr\xC3\xBC\xC3\x9F\x65\r\n";
const std::string hfs = "notes.txt one\\ntwo \xC3\xBC\x04\xC2\n";

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
    test::ScopedLocale utf8Locale({"C.UTF-8", "en_US.UTF-8"});
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
using Entries = std::vector<std::string>;
using Lines = std::vector<EntryLines>;

INSTANTIATE_TEST_SUITE_P(
    Lists, ListCharsetTest,
    testing::Values(
        CharsetCase{
            "SignatureAskedForANewList", Utf8WithSignature, "", {cafe}, {{0, own}}, bom + ownUtf8},
        CharsetCase{"Utf8AskedPutsNoSignature", Utf8, "", {cafe}, {{0, own}}, ownUtf8},
        CharsetCase{"SignatureInFrontOfUtf8LinesOfOthers", Utf8WithSignature, utf8,
                    Entries{"notes.txt", cafe}, Lines{{1, own}}, bom + utf8 + ownUtf8},
        CharsetCase{"SignatureInFrontOfHfsMultiLineForm", Utf8WithSignature, hfs,
                    Entries{"notes.txt", cafe}, Lines{{1, own}}, bom + hfs + ownUtf8},
        // Behind a signature Far would read the visitor's Windows-1252 comment as UTF-8.
        CharsetCase{"NoSignatureInFrontOfOthersLinesInAnotherSet", Utf8WithSignature, cp1252,
                    Entries{"notes.txt", cafe}, Lines{{1, own}}, cp1252 + own, true},
        // The walk's own old lines are replaced: they do not hold the list back.
        CharsetCase{"OwnOldLinesInAnotherSetAreReplaced", Utf8WithSignature,
                    "\"a.mp3\" M\xFCller\r\n", Entries{"a.mp3"}, Lines{{0, "\"a.mp3\" x\r\n"}},
                    bom + "\"a.mp3\" x\r\n"},
        // An entry the walk did not reach (a stopped walk) keeps its old line, which stays.
        CharsetCase{"AnOldLineThatStaysCountsAsOthers", Utf8, "\"b.mp3\" M\xFCller\r\n",
                    Entries{cafe, "b.mp3"}, Lines{{0, own}}, own + "\"b.mp3\" M\xFCller\r\n", true},
        // A list that says it is UTF-8 stays UTF-8 whatever was asked; others keep their bytes.
        CharsetCase{"ASignedListGetsUtf8WhenTheLocaleIsAsked", Locale, bom + cp1252,
                    Entries{cafe, "notes.txt"}, Lines{{0, own}}, bom + ownUtf8 + cp1252},
        CharsetCase{"ANameOutsideTheSetGetsNoLine",
                    Utf8,
                    "",
                    Entries{"x\xFF.mp3", "a.mp3"},
                    Lines{{0, "\"x\xFF.mp3\" text\r\n"}, {1, "\"a.mp3\" \r\n"}},
                    "\"a.mp3\" \r\n",
                    false,
                    Entries{"x\xFF.mp3"},
                    {},
                    true},
        CharsetCase{"BytesOutsideTheSetInADescriptionBecomeOneMarkEach",
                    Utf8,
                    "",
                    {"a.mp3"},
                    Lines{{0, "\"a.mp3\" Gr\xC3\xBC\xFF\xFE Caf\xC3\xA9 x\xC3\r\n"}},
                    "\"a.mp3\" Gr\xC3\xBC? Caf\xC3\xA9 x?\r\n",
                    false,
                    {},
                    Entries{"a.mp3"},
                    true}),
    [](const testing::TestParamInfo<CharsetCase>& row) { return row.param.what; });

} // namespace
} // namespace tagrelay
