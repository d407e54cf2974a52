#include "lists/list_renewal.h"
#include "platform/folder.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace tagrelay {
namespace {

/// A folder whose song.mp3 the walk described: the folder open, its listing, the song's line.
struct DescribedSong
{
    FolderHandle folder;
    std::vector<DirectoryEntry> entries;
    std::vector<EntryLines> described;
};

DescribedSong describedSong(const test::TempTree& tree)
{
    DescribedSong song;
    FolderResult result;
    song.folder = openFolder(tree.path(), result);
    song.entries = listFolder(song.folder.fd(), result);
    std::size_t index = 0;
    while (song.entries[index].name != "song.mp3")
        ++index;
    song.described = {{index, "\"song.mp3\" 128 kbs CBR\r\n"}};
    return song;
}

/// A list that another program writes while the walk renews it: what it added is kept, and a
/// writer that never stops cannot keep the walk's lines out for ever.
TEST(ListRenewalTest, LinesWrittenMeanwhileAreMergedAgain)
{
    struct Case
    {
        const char* what;
        int writesAt; // the reads after which the other program appends a line; 0: every one
        int reads;    // how often the list is read
    };
    for (const Case c : {Case{"once", 1, 2}, Case{"twice", 2, 3}, Case{"at every read", 0, 4}}) {
        test::TempTree tree;
        tree.writeFile("song.mp3", "x");
        tree.writeFile("notes.txt", "x");
        const std::string list = tree.writeFile("descript.ion", "notes.txt kept\r\n");
        const auto [folder, entries, described] = describedSong(tree);
        int reads = 0;
        std::vector<std::string> appended;
        const auto otherWriter = [&] {
            ++reads;
            if (c.writesAt != 0 && reads > c.writesAt)
                return;
            const std::string name = "comment" + std::to_string(reads) + ".txt";
            tree.writeFile(name, "x");
            appended.push_back(name + " a visitor's comment\r\n");
            std::ofstream(list, std::ios::app | std::ios::binary) << appended.back();
        };

        ASSERT_TRUE(renewList(folder.fd(), "descript.ion", entries, described, ListCharset::Locale,
                              nullptr, otherWriter)
                        .ok())
            << c.what;
        EXPECT_EQ(reads, c.reads) << c.what;
        const std::string text = test::readFileText(list);
        EXPECT_NE(text.find("\"song.mp3\" 128 kbs CBR\r\n"), std::string::npos) << c.what;
        EXPECT_NE(text.find("notes.txt kept\r\n"), std::string::npos) << c.what;
        // Every line written before the last read is in; one written after it is what no
        // writer can keep without the other's cooperation.
        if (c.writesAt == 0)
            appended.pop_back();
        for (const std::string& line : appended)
            EXPECT_NE(text.find(line), std::string::npos) << c.what << ": " << line;
    }
}

/// A list of many names the folder never held (a hostile one, hard-linked into many folders)
/// loses them all, while the line of a file that came after the listing stays.
TEST(ListRenewalTest, NamesNeverThereAreDroppedAndLateComersKept)
{
    test::TempTree tree;
    tree.writeFile("song.mp3", "x");
    std::string old;
    for (int i = 0; i < 200'000; ++i)
        old += "ghost" + std::to_string(i) + ".txt a name that never was\r\n";
    old += "late.txt came during the walk\r\n";
    const std::string list = tree.writeFile("descript.ion", old);
    const auto [folder, entries, described] = describedSong(tree);
    tree.writeFile("late.txt", "x");

    ASSERT_TRUE(renewList(folder.fd(), "descript.ion", entries, described, {}).ok());
    EXPECT_EQ(test::readFileText(list),
              "\"song.mp3\" 128 kbs CBR\r\nlate.txt came during the walk\r\n");
}

/// A stop asked for while a long list is merged leaves that list as it is, at once; a short
/// list is merged whole before anyone is asked.
TEST(ListRenewalTest, AStopDuringALongMergeLeavesTheListAsItIs)
{
    for (const int ghosts : {200'000, 1'000}) {
        test::TempTree tree;
        tree.writeFile("song.mp3", "x");
        std::string old;
        for (int i = 0; i < ghosts; ++i)
            old += "ghost" + std::to_string(i) + ".txt a name that never was\r\n";
        const std::string list = tree.writeFile("descript.ion", old);
        const auto [folder, entries, described] = describedSong(tree);
        int asked = 0;
        const FolderResult renewed = renewList(folder.fd(), "descript.ion", entries, described,
                                               ListCharset::Locale, nullptr, {}, [&asked] {
                                                   ++asked;
                                                   return true;
                                               });
        if (ghosts > 100'000) {
            EXPECT_EQ(renewed.reason, stoppedDuringRenewal);
            EXPECT_EQ(test::readFileText(list), old);
            EXPECT_LE(asked, 2);
        } else {
            EXPECT_TRUE(renewed.ok()) << renewed.reason;
            EXPECT_EQ(test::readFileText(list), "\"song.mp3\" 128 kbs CBR\r\n");
            EXPECT_EQ(asked, 0);
        }
    }
}

} // namespace
} // namespace tagrelay
