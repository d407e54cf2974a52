// Whole walks over folders whose lists others wrote to: which old lines a walk keeps, where,
// and what a stopped walk leaves.

#include "platform/folder.h"
#include "scan/run_state.h"
#include "scan/walk.h"
#include "scan/walk_reporter.h"
#include "support/frame_bytes.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace tagrelay {
namespace {

using test::readFileText;
using test::TempTree;

/// A front end that asks to stop after a given number of files, or inside the stream scan of
/// the n-th MP3 file, and lets a test act while a file is analysed.
class StoppingReporter : public WalkReporter
{
  public:
    int stopAfterFile = 0; // the walk stops at the end of this file (counted from 1)
    int stopInScanOf = 0;  // the walk stops in the stream scan of this MP3 file
    std::function<void(const std::string&)> onAnalysing;

    void analysing(const std::string& fullPath) override
    {
        ++m_analysed;
        if (onAnalysing)
            onAnalysing(fullPath);
    }
    // Asked also while the walk waits for the first analysis, before any file was analysed.
    bool goOn() override { return stopInScanOf == 0 || m_analysed != stopInScanOf; }
    bool goOnAfterFile() override { return ++m_filesDone != stopAfterFile; }

  private:
    int m_analysed = 0;
    int m_filesDone = 0;
};

class WalkListsTest : public testing::Test
{
  protected:
    void walk() { describeDirectory(tree.path(), 0, reporter, run); }
    std::string list(const std::string& folder = "") const
    {
        return readFileText(tree.path() + folder + "descript.ion");
    }

    /// The entries of a folder in the order the walk takes them.
    std::vector<std::string> listingOrder(const std::string& folder = "") const
    {
        FolderResult result;
        const FolderHandle handle = openFolder(tree.path() + folder, result);
        std::vector<std::string> names;
        for (const DirectoryEntry& entry : listFolder(handle.fd(), result))
            names.push_back(entry.name);
        return names;
    }

    /// The lines expected for the entries of a folder, in listing order.
    std::string inListingOrder(const std::map<std::string, std::string>& lineOf,
                               const std::string& folder = "") const
    {
        std::string lines;
        for (const std::string& name : listingOrder(folder)) {
            if (const auto found = lineOf.find(name); found != lineOf.end())
                lines += found->second;
        }
        return lines;
    }

    TempTree tree;
    StoppingReporter reporter;
    RunState run;
};

TEST_F(WalkListsTest, ARunKeepsTheLinesOfOthersByteForByteWhereTheirEntriesAreListed)
{
    run.settings.showPictureSize = 1;
    for (const char* name : {"a.mp3", "Song.MP3", "photo.jpg", "clip.avi", "notes.txt",
                             "read me.txt", "Caf\xE9.txt", "old.mp3.ico"})
        tree.writeFile(name, "x");
    tree.makeDir("Bilder & Ton #1");
    // Others wrote: a Windows-1252 line, a CP850 line on the sub-folder, the web file
    // server's multi-line form, a hand-written line without quotes, and one on an icon file.
    const std::map<std::string, std::string> foreign = {
        {"Caf\xE9.txt", "\"Caf\xE9.txt\" Men\xFC f\xFCr heute\r\n"},
        {"Bilder & Ton #1", "\"Bilder & Ton #1\" \x9A\x62\x65rsicht der Ordner\r\n"},
        {"read me.txt", "\"read me.txt\" Zeile eins\\nZeile zwei\x04\xC2\n"},
        {"notes.txt", "notes.txt Gr\xC3\xBC\xC3\x9F\x65 aus K\xC3\xB6ln\n"},
        {"old.mp3.ico", "old.mp3.ico an icon file\r\n"},
        // Movies are not the walk's files while the movie option is off.
        {"clip.avi", "\"clip.avi\" 352 x 640 pixel - 24 fps - 58:18 min\r\n"},
    };
    std::string old = "\"a.mp3\" an old description\r\n\"photo.jpg\" 1 x 1 pixel 1 Bit\r\n"
                      "gone.txt a file that is no more\r\n\"song.mp3\" not this file's case\r\n";
    for (const auto& [name, line] : foreign)
        old += line;
    tree.writeFile("descript.ion", old);

    walk();

    std::map<std::string, std::string> expected = foreign;
    expected["a.mp3"] = "\"a.mp3\" \r\n";
    expected["Song.MP3"] = "\"Song.MP3\" \r\n";
    expected["photo.jpg"] = "\"photo.jpg\" 0 x 0 pixel 0 Bit\r\n";
    EXPECT_EQ(list(), inListingOrder(expected));
    EXPECT_EQ(list("Bilder & Ton #1/"), "");
}

struct OptionCase
{
    const char* what;
    bool pictureSize;
    std::string photoLine; // empty: the old line is dropped
};

class WalkListsOptionTest : public WalkListsTest, public testing::WithParamInterface<OptionCase>
{
};

TEST_P(WalkListsOptionTest, PictureLinesAreTheWalksWhateverItsOptions)
{
    run.settings.showPictureSize = GetParam().pictureSize ? 1 : 0;
    tree.writeFile("photo.jpg", "x");
    tree.writeFile("descript.ion", "photo.jpg typed by hand\r\n");
    walk();
    EXPECT_EQ(list(), GetParam().photoLine);
}

INSTANTIATE_TEST_SUITE_P(
    Options, WalkListsOptionTest,
    testing::Values(OptionCase{"SizeShown", true, "\"photo.jpg\" 0 x 0 pixel 0 Bit\r\n"},
                    OptionCase{"SizeNotShown", false, ""}),
    [](const testing::TestParamInfo<OptionCase>& row) { return row.param.what; });

struct StopCase
{
    const char* what;
    int stopAfterFile;
    int stopInScanOf;
    int filesDone; // MP3 files whose new line replaces the old one
};

class WalkListsStopTest : public WalkListsTest, public testing::WithParamInterface<StopCase>
{
};

TEST_P(WalkListsStopTest, AStoppedReRunKeepsTheOldLinesOfEveryEntryNotDone)
{
    const StopCase& c = GetParam();
    run.settings.showBitrate = 1;
    reporter.stopAfterFile = c.stopAfterFile;
    reporter.stopInScanOf = c.stopInScanOf;
    test::FrameStream song;
    song.frames(40, test::FrameSpec{});
    std::map<std::string, std::string> oldLines;
    for (int i = 1; i <= 6; ++i) {
        const std::string name = std::to_string(i) + ".mp3";
        tree.writeFile(name, song.bytes());
        oldLines[name] = "\"" + name + "\" old line " + std::to_string(i) + "\r\n";
    }
    tree.writeFile("notes.txt", "x");
    oldLines["notes.txt"] = "notes.txt kept\r\n";
    // A folder with a list of its own, described only when the walk reaches it.
    tree.writeFile("later/kept.txt", "x");
    const std::string laterList = "kept.txt here\r\ngone.txt not here\r\n";
    tree.writeFile("later/descript.ion", laterList);
    std::string old;
    for (const auto& [name, line] : oldLines)
        old += line;
    tree.writeFile("descript.ion", old);

    walk();

    EXPECT_TRUE(run.closeRequested);
    std::map<std::string, std::string> expected = oldLines;
    int mp3Seen = 0;
    bool laterReached = false;
    for (const std::string& name : listingOrder()) {
        if (name == "later")
            laterReached = mp3Seen < c.filesDone + (c.stopInScanOf != 0 ? 1 : 0);
        if (!name.ends_with(".mp3"))
            continue;
        if (++mp3Seen <= c.filesDone)
            expected[name] = "\"" + name + "\" 128 kbs CBR\r\n";
    }
    // A folder the stopped walk wrote no line for keeps its list byte for byte.
    EXPECT_EQ(list(), c.filesDone == 0 ? old : inListingOrder(expected));
    EXPECT_EQ(list("later/"), laterReached ? "kept.txt here\r\n" : laterList);
}

INSTANTIATE_TEST_SUITE_P(Stops, WalkListsStopTest,
                         testing::Values(StopCase{"AtTheEndOfTheThirdFile", 3, 0, 3},
                                         StopCase{"InTheScanOfTheThirdFile", 0, 3, 2},
                                         StopCase{"InTheScanOfTheFirstFile", 0, 1, 0}),
                         [](const testing::TestParamInfo<StopCase>& row) {
                             return row.param.what;
                         });

TEST_F(WalkListsTest, LinesWrittenByAnotherProgramDuringTheWalkAreKept)
{
    tree.writeFile("a.mp3", "x");
    tree.writeFile("notes.txt", "x");
    tree.writeFile("descript.ion", "\"a.mp3\" old\r\nnotes.txt before\r\n");
    // A web file server takes a comment and an upload with its comment while the walk runs:
    // it writes the whole list again, as it does.
    reporter.onAnalysing = [this](const std::string&) {
        tree.writeFile("upload.txt", "x");
        tree.writeFile("descript.ion",
                       "a.mp3 old\r\nnotes.txt changed\nupload.txt new\\nfile\x04\xC2\n");
    };
    walk();
    std::map<std::string, std::string> expected = {{"a.mp3", "\"a.mp3\" \r\n"},
                                                   {"notes.txt", "notes.txt changed\n"}};
    EXPECT_EQ(list(), inListingOrder(expected) + "upload.txt new\\nfile\x04\xC2\n");
}

TEST_F(WalkListsTest, AListInUtf16IsLeftAsItIsAndNamed)
{
    tree.writeFile("a.mp3", "x");
    const char bytes[] = "\xFF\xFEn\0o\0t\0e\0s\0.\0t\0x\0t\0 \0h\0i\0\r\0\n\0";
    const std::string utf16(bytes, sizeof bytes - 1);
    tree.writeFile("descript.ion", utf16);
    walk();
    EXPECT_EQ(list(), utf16);
    ASSERT_EQ(run.errors.size(), 2u);
    EXPECT_EQ(run.errors[1], "descript.ion could not be written: " + tree.path()
                                 + "descript.ion (not a list of 8-bit text lines (UTF-16?); "
                                   "left as it is)");
    EXPECT_EQ(run.incompleteFolders, 1);
}

} // namespace
} // namespace tagrelay
