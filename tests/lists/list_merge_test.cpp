// Reading old description lists and merging the walk's new lines into them, as bytes.

#include "lists/list_merge.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace tagrelay {
namespace {

struct SplitCase
{
    const char* what;
    std::string line;
    std::string name;
    std::string description;
};

class ListSplitTest : public testing::TestWithParam<SplitCase>
{
};

TEST_P(ListSplitTest, ReadsTheNameAsTheListsReadersDo)
{
    const SplitCase& c = GetParam();
    const std::vector<ListLine> lines = splitList(c.line);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].name, c.name);
    EXPECT_EQ(lines[0].description, c.description);
    EXPECT_EQ(lines[0].bytes, c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ListSplitTest,
    testing::Values(SplitCase{"QuotedWithBlank", "\"01 a b.mp3\" Artist - Title\r\n", "01 a b.mp3",
                              "Artist - Title"},
                    SplitCase{"UnquotedToTheFirstBlank", "notes.txt read me first\n", "notes.txt",
                              "read me first"},
                    SplitCase{"QuotedEmptyDescription", "\"a.mp3\" \r\n", "a.mp3", ""},
                    SplitCase{"NameOnly", "notes.txt\r\n", "notes.txt", ""},
                    SplitCase{"NoBlankBehindTheQuote", "\"a.mp3\"text\n", "a.mp3", "text"},
                    SplitCase{"ACrInsideIsText", "a.txt x\ry\n", "a.txt", "x\ry"},
                    SplitCase{"HfsMultiLine", "notes.txt one\\ntwo\x04\xC2\n", "notes.txt",
                              "one\\ntwo\x04\xC2"},
                    SplitCase{"LastLineWithoutEnd", "\"x y\" z", "x y", "z"},
                    SplitCase{"LastLineCutAfterItsCr", "y.txt\r", "y.txt", ""},
                    SplitCase{"UnclosedQuoteNamesNothing", "\"never closed x\r\n", "", ""},
                    SplitCase{"EmptyLineNamesNothing", "\r\n", "", ""}),
    [](const testing::TestParamInfo<SplitCase>& row) { return row.param.what; });

struct MergeCase
{
    const char* what;
    std::string old;
    std::vector<std::string> entries; // in listing order
    std::vector<EntryLines> described;
    std::string merged;
};

class ListMergeTest : public testing::TestWithParam<MergeCase>
{
};

TEST_P(ListMergeTest, PlacesEveryLineWhereItsEntryIsListed)
{
    const MergeCase& c = GetParam();
    std::vector<DirectoryEntry> entries;
    for (const std::string& name : c.entries)
        entries.push_back({name, EntryKind::File});
    const auto merged =
        mergeList(c.old, entries, c.described, [](const std::string&) { return false; });
    ASSERT_TRUE(merged);
    EXPECT_EQ(*merged, c.merged);
}

// Windows-1252 "Café", "Menü für"; CP850 "Übersicht" (0x9A 0x81); UTF-8 "Grüße aus Köln".
const std::string cp1252Line = "\"Caf\xE9.txt\" Men\xFC f\xFCr heute\r\n";
const std::string cp850Line = "Ordner \x9A\x62\x65rsicht\r\n";
const std::string utf8Line =
    "\"Gr\xC3\xBC\xC3\x9F\x65.txt\" Gr\xC3\xBC\xC3\x9F\x65 aus K\xC3\xB6ln\n";

INSTANTIATE_TEST_SUITE_P(
    Lists, ListMergeTest,
    testing::Values(
        MergeCase{"ForeignLinesInThreeEncodingsKeepTheirBytes",
                  cp1252Line + "\"a.mp3\" old\r\n" + utf8Line + cp850Line,
                  {"Ordner", "a.mp3", "Gr\xC3\xBC\xC3\x9F\x65.txt", "Caf\xE9.txt"},
                  {{1, "\"a.mp3\" new\r\n"}},
                  cp850Line + "\"a.mp3\" new\r\n" + utf8Line + cp1252Line},
        MergeCase{"HfsMultiLineFormStaysWhole",
                  "notes.txt one\\ntwo\x04\xC2\n\"read me.txt\" a\\nb\x04\xC2\n",
                  {"read me.txt", "notes.txt"},
                  {},
                  "\"read me.txt\" a\\nb\x04\xC2\nnotes.txt one\\ntwo\x04\xC2\n"},
        MergeCase{"AnUnquotedNameEndsAtTheFirstBlank",
                  "read me.txt unquoted\r\n\"read me.txt\" quoted\r\n",
                  {"read me.txt", "read"},
                  {},
                  "\"read me.txt\" quoted\r\nread me.txt unquoted\r\n"},
        MergeCase{"LinesOfVanishedFilesAndUnreadableLinesGo",
                  "gone.txt x\r\n\r\n\"unclosed x\r\nkept.txt y\r\n",
                  {"kept.txt"},
                  {},
                  "kept.txt y\r\n"},
        MergeCase{"OnlyEntriesDescribedToTheirEndLoseTheirOldLines",
                  "\"1.mp3\" old 1\r\n\"2.mp3\" old 2\r\n\"3.mp3\" old 3\r\n\"x.jpg\" old\r\n",
                  {"1.mp3", "x.jpg", "2.mp3", "3.mp3"},
                  {{0, "\"1.mp3\" new 1\r\n"}, {1, ""}},
                  "\"1.mp3\" new 1\r\n\"2.mp3\" old 2\r\n\"3.mp3\" old 3\r\n"},
        MergeCase{"SeveralLinesOfOneNameKeepTheirOrder",
                  "a.txt one\r\nb.txt\r\na.txt two\r\n",
                  {"a.txt"},
                  {},
                  "a.txt one\r\na.txt two\r\n"},
        MergeCase{"AKeptLastLineGetsALineEnd",
                  "z.txt last",
                  {"z.txt", "a.mp3"},
                  {{1, "\"a.mp3\" \r\n"}},
                  "z.txt last\r\n\"a.mp3\" \r\n"},
        MergeCase{
            "AKeptLastLineCutAfterItsCrGetsTheLf", "y.txt\r", {"y.txt", "z"}, {}, "y.txt\r\n"},
        MergeCase{"AByteOrderMarkStaysInFront",
                  "\xEF\xBB\xBFnotes.txt hi\r\n",
                  {"a.mp3", "notes.txt"},
                  {{0, "\"a.mp3\" \r\n"}},
                  "\xEF\xBB\xBF\"a.mp3\" \r\nnotes.txt hi\r\n"},
        MergeCase{"ByteOrderMarkOfAListLeftEmptyGoes",
                  "\xEF\xBB\xBF\"a.mp3\" old\r\n",
                  {"a.mp3"},
                  {{0, ""}},
                  ""},
        MergeCase{"AKeptLineStartingWithTheMarkGetsOneInFront",
                  "a.txt x\r\n\xEF\xBB\xBF"
                  "b.txt y\r\n",
                  {"\xEF\xBB\xBF"
                   "b.txt",
                   "a.txt"},
                  {},
                  "\xEF\xBB\xBF\xEF\xBB\xBF"
                  "b.txt y\r\na.txt x\r\n"},
        MergeCase{"NamesCompareByteForByte",
                  "\"song.mp3\" old\r\nnotes.txt x\r\n",
                  {"Song.MP3", "Notes.txt"},
                  {{0, "\"Song.MP3\" new\r\n"}},
                  "\"Song.MP3\" new\r\n"},
        MergeCase{"NoOldList", "", {"a.mp3", "b"}, {{0, "\"a.mp3\" \r\n"}}, "\"a.mp3\" \r\n"}),
    [](const testing::TestParamInfo<MergeCase>& row) { return row.param.what; });

TEST(ListMergeTest, KeepsLinesOfFilesThatCameDuringTheWalkAndAsksOnlyAboutEntryNames)
{
    const std::vector<DirectoryEntry> entries = {{"a.mp3", EntryKind::File}};
    std::set<std::string> asked;
    const auto merged = mergeList(
        "upload.txt new here\r\n..\r\n.\r\nsub/x.txt y\r\nold.txt gone\r\n\"a.mp3\" old\r\n",
        entries, std::vector<EntryLines>{{0, "\"a.mp3\" new\r\n"}},
        [&asked](const std::string& name) {
            asked.insert(name);
            return name == "upload.txt";
        });
    ASSERT_TRUE(merged);
    EXPECT_EQ(*merged, "\"a.mp3\" new\r\nupload.txt new here\r\n");
    EXPECT_EQ(asked, (std::set<std::string>{"upload.txt", "old.txt"}));
}

TEST(ListMergeTest, RefusesListsThatAreNotEightBitText)
{
    const std::vector<DirectoryEntry> entries = {{"a.mp3", EntryKind::File}};
    const std::vector<EntryLines> described = {{0, "\"a.mp3\" \r\n"}};
    for (const std::string& old :
         {std::string("\xFF\xFEn\0o\0", 6), std::string("\xFE\xFF\0n\0o", 6),
          std::string("n\0o\0t\0e\0", 8)}) {
        EXPECT_FALSE(isEightBitList(old));
        EXPECT_FALSE(mergeList(old, entries, described, {}));
    }
    // Windows-1252 "ÿþ.txt" is a name, not a byte-order mark.
    EXPECT_TRUE(isEightBitList("\xFF\xFE.txt hi\r\n"));
}

} // namespace
} // namespace tagrelay
