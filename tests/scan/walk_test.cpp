#include "platform/folder.h"
#include "scan/run_state.h"
#include "scan/walk.h"
#include "shell/progress_display.h"
#include "support/recording_window_layer.h"
#include "support/support.h"
#include "support/window_walk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace tagrelay {
namespace {

using test::readFileText;
using test::TempTree;

/// A walk over a temporary tree with the window a run has when the walk starts.
class WalkTest : public testing::Test
{
  protected:
    WalkTest() { openWalkWindow(window, "test"); }

    void walk(const std::string& path = {})
    {
        describeDirectory(path.empty() ? tree.path() : path, 0, window, run);
    }

    /// The error list's entries after its heading, those starting with prefix.
    std::vector<std::string> errors(const std::string& prefix = "") const
    {
        std::vector<std::string> found;
        const auto& lines = window.gadget(errorListBox)->lines;
        for (std::size_t i = 1; i < lines.size(); ++i) {
            if (lines[i].rfind(prefix, 0) == 0)
                found.push_back(lines[i]);
        }
        return found;
    }

    std::string list(const std::string& folder = "") const
    {
        return readFileText(tree.path() + folder + "descript.ion");
    }

    /// The entries of a folder in the order the file system lists them.
    std::vector<std::string> listingOrder(const std::string& folder) const
    {
        FolderResult result;
        const FolderHandle handle = openFolder(folder, result);
        std::vector<std::string> names;
        for (const DirectoryEntry& entry : listFolder(handle.fd(), result))
            names.push_back(entry.name);
        return names;
    }

    TempTree tree;
    RecordingWindowLayer window;
    RunState run;
};

TEST_F(WalkTest, WritesADescriptionFileInEveryFolder)
{
    tree.writeFile("a/one.mp3", "no audio");
    tree.makeDir("a/b/c");
    tree.makeDir("empty");
    walk();
    for (const char* folder : {"", "a/", "a/b/", "a/b/c/", "empty/"})
        EXPECT_TRUE(std::filesystem::is_regular_file(tree.path() + folder + "descript.ion"))
            << folder;
    EXPECT_EQ(list("a/"), "\"one.mp3\" \r\n");
    EXPECT_EQ(list("a/b/"), "");
    EXPECT_EQ(run.fileCount, 1);
}

TEST_F(WalkTest, DescribesFilesByTheirLastFourCharacters)
{
    for (const char* name : {"Song.MP3", "PHOTO.JPG", "pic.Bmp", "photo.jpeg", "clip.mpeg",
                             "song.mp2", "mp3", "notes.txt", "movie.avi"})
        tree.writeFile(name, "x");
    tree.writeFile("album.mp3/inner.mp3", "x");
    tree.writeFile(".../deep.mp3", "x");
    run.settings.showPictureSize = 1;
    walk();

    const std::string top = list();
    EXPECT_NE(top.find("\"Song.MP3\" \r\n"), std::string::npos);
    EXPECT_NE(top.find("\"PHOTO.JPG\" 0 x 0 pixel 0 Bit\r\n"), std::string::npos);
    EXPECT_NE(top.find("\"pic.Bmp\" "), std::string::npos);
    for (const char* name :
         {"photo.jpeg", "clip.mpeg", "song.mp2", "notes.txt", "album.mp3", "movie.avi", "\"mp3\""})
        EXPECT_EQ(top.find(name), std::string::npos) << name;
    EXPECT_EQ(std::count(top.begin(), top.end(), '\n'), 3);
    EXPECT_EQ(list("album.mp3/"), "\"inner.mp3\" \r\n");
    EXPECT_EQ(list(".../"), "\"deep.mp3\" \r\n");
    // Pictures count whatever the options; the two MP3 files below and Song.MP3 count too.
    EXPECT_EQ(run.fileCount, 5);
}

TEST_F(WalkTest, PicturesCountWithoutALineWhenTheSizeOptionIsOff)
{
    tree.writeFile("photo.jpg", "x");
    walk();
    EXPECT_EQ(list(), "");
    EXPECT_EQ(run.fileCount, 1);
}

TEST_F(WalkTest, LinesFollowTheListingOrderAndSubtreesFinishFirst)
{
    for (const char* name : {"1.mp3", "2.mp3", "3.mp3", "4.mp3"})
        tree.writeFile(name, "x");
    tree.writeFile("sub/inner.mp3", "x");
    std::vector<std::string> analysed;
    window.setPollHook([&](int) {
        analysed.push_back(window.gadget(analysingField)->text);
        return Event{};
    });
    walk();

    std::string expectedList;
    std::vector<std::string> expectedOrder;
    for (const auto& name : listingOrder(tree.path())) {
        if (name == "sub")
            expectedOrder.push_back("Analysing: " + tree.path() + "sub/inner.mp3");
        if (name.ends_with(".mp3")) {
            expectedList += "\"" + name + "\" \r\n";
            expectedOrder.push_back("Analysing: " + tree.path() + name);
        }
    }
    EXPECT_EQ(list(), expectedList);
    // Two drains per file, each polling until nothing is pending.
    analysed.erase(std::unique(analysed.begin(), analysed.end()), analysed.end());
    EXPECT_EQ(analysed, expectedOrder);
}

TEST_F(WalkTest, ASecondRunGivesTheSameListsAndSkipsItsOwnFiles)
{
    tree.writeFile("a.mp3", "x");
    tree.writeFile("b.mp3.ico", "x");
    walk();
    const std::string first = list();
    walk();
    EXPECT_EQ(list(), first);
    EXPECT_EQ(first, "\"a.mp3\" \r\n");
}

TEST_F(WalkTest, RefillsAnExistingDescriptionFileUnderItsOwnName)
{
    tree.writeFile("Descript.ion", "\"old.mp3\" gone\r\n");
    tree.writeFile("a.mp3", "x");
    tree.writeFile("sub/DESCRIPT.ION", "stale");
    walk();
    EXPECT_EQ(readFileText(tree.path() + "Descript.ion"), "\"a.mp3\" \r\n");
    EXPECT_FALSE(std::filesystem::exists(tree.path() + "descript.ion"));
    EXPECT_EQ(readFileText(tree.path() + "sub/DESCRIPT.ION"), "");
    EXPECT_FALSE(std::filesystem::exists(tree.path() + "sub/descript.ion"));
}

TEST_F(WalkTest, AnEmptyPathWalksTheCurrentDirectory)
{
    tree.writeFile("here.mp3", "x");
    tree.writeFile("sub/there.mp3", "x");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(tree.path());
    describeDirectory("", 0, window, run);
    std::filesystem::current_path(previous);
    EXPECT_EQ(list(), "\"here.mp3\" \r\n");
    EXPECT_EQ(list("sub/"), "\"there.mp3\" \r\n");
    EXPECT_EQ(window.gadget(analysingField)->text.rfind("Analysing: sub/there.mp3", 0) == 0
                  || window.gadget(analysingField)->text == "Analysing: here.mp3",
              true);
}

TEST_F(WalkTest, NamesTheListFormatCannotHoldAreReportedNotWritten)
{
    tree.writeFile("say \"hi\".mp3", "x");
    tree.writeFile("two\nlines.mp3", "x");
    tree.writeFile("fine.mp3", "x");
    walk();
    EXPECT_EQ(list(), "\"fine.mp3\" \r\n");
    EXPECT_EQ(run.fileCount, 1);
    auto found = errors("Name cannot");
    std::sort(found.begin(), found.end());
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0],
              "Name cannot be written to Descript.ion: " + tree.path() + "say \"hi\".mp3");
    EXPECT_EQ(found[1],
              "Name cannot be written to Descript.ion: " + tree.path() + "two\nlines.mp3");
}

TEST_F(WalkTest, LinkLoopsAndFifosNeverHang)
{
    tree.writeFile("a/song.mp3", "x");
    ASSERT_EQ(::symlink("..", (tree.path() + "a/up").c_str()), 0);
    ASSERT_EQ(::symlink(".", (tree.path() + "a/self").c_str()), 0);
    ASSERT_EQ(::mkfifo((tree.path() + "x.mp3").c_str(), 0600), 0);
    tree.writeFile("linked/target.mp3", "x");
    ASSERT_EQ(::symlink("linked", (tree.path() + "shortcut").c_str()), 0);
    walk();
    EXPECT_EQ(list("a/"), "\"song.mp3\" \r\n");
    EXPECT_EQ(list(), "");
    // A link to a folder outside the descent is followed like the folder itself.
    EXPECT_EQ(list("linked/"), "\"target.mp3\" \r\n");
    // The linked folder is described once, whichever way the walk came to it first.
    EXPECT_EQ(run.fileCount, 2);
    EXPECT_EQ(errors("File Could Not be opened: " + tree.path() + "x.mp3").size(), 1u);
    const auto loops = errors("Folder loop");
    EXPECT_EQ(loops.size(), 2u);
    for (const auto& entry : loops)
        EXPECT_EQ(entry.rfind("Folder loop not entered again: " + tree.path() + "a/", 0), 0u)
            << entry;
}

TEST_F(WalkTest, ACloseRequestAtAPollingPointEndsTheWalk)
{
    // On the walk's own thread the scan asks the window for every frame: polls count files.
    run.analysisWorkers = 1;
    for (const char* name : {"1.mp3", "2.mp3", "3.mp3"})
        tree.writeFile(name, "x");
    tree.writeFile("sub/4.mp3", "x");
    window.queueClose();
    walk();
    EXPECT_TRUE(run.closeRequested);
    EXPECT_EQ(run.fileCount, 1);
    const std::string top = list();
    EXPECT_EQ(std::count(top.begin(), top.end(), '\n'), 1);
    // Nothing after the close: a folder not reached yet gets no list at all, or an empty one
    // when it was reached before.
    const std::string sub = tree.path() + "sub/descript.ion";
    EXPECT_TRUE(!std::filesystem::exists(sub) || readFileText(sub).empty());
}

TEST_F(WalkTest, OtherEventsAreDrainedAndDropped)
{
    tree.writeFile("1.mp3", "x");
    tree.writeFile("2.mp3", "x");
    window.queueOther();
    window.queueClick(5);
    walk();
    EXPECT_FALSE(run.closeRequested);
    EXPECT_EQ(run.fileCount, 2);
}

TEST_F(WalkTest, ShowsTheFileBeforeItIsCountedAndRemovesTheScanBar)
{
    tree.writeFile("song.mp3", "no sync here");
    window.createGadget(mainWindow, scanProgressBar, GadgetKind::ProgressBar, {8, 45, 776, 10}, "");
    walk();
    EXPECT_FALSE(window.hasGadget(scanProgressBar));
    EXPECT_EQ(window.gadget(fileCountField)->text, "Filecount: 0");
    EXPECT_EQ(window.gadget(filenameField)->text, "Filename: song.mp3");
    EXPECT_EQ(window.gadget(filenameField)->box, (Box{8, 70, 776, 26}));
    EXPECT_EQ(window.gadget(previewList)->lines, std::vector<std::string>{""});
    EXPECT_EQ(errors(),
              std::vector<std::string>{"No MPEG audio frame found: " + tree.path() + "song.mp3"});
    // No cover: the pale box and its two diagonals.
    const auto& calls = window.drawCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].box, (Box{360, 160, 150, 150}));
    EXPECT_EQ(calls[0].colour, 16777164u);
    EXPECT_EQ(calls[1].x2, 509);
    EXPECT_EQ(calls[2].y1, 309);
}

/// Runs the walk as an unprivileged user (root writes through permission bits).
void walkAsNobody(const std::string& path)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        RecordingWindowLayer window;
        RunState run;
        describeDirectory(path, 0, window, run);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(WalkTest, AnUnwritableFolderIsSkippedWithItsSubtree)
{
    tree.writeFile("open/a.mp3", "x");
    tree.writeFile("locked/b.mp3", "x");
    tree.writeFile("locked/inner/c.mp3", "x");
    ::chmod(tree.path().c_str(), 0777);
    ::chmod((tree.path() + "open").c_str(), 0777);
    ::chmod((tree.path() + "locked/inner").c_str(), 0777);
    ::chmod((tree.path() + "locked").c_str(), 0555);
    if (::geteuid() == 0) {
        walkAsNobody(tree.path());
    } else {
        walk();
    }
    EXPECT_EQ(list("open/"), "\"a.mp3\" \r\n");
    EXPECT_FALSE(std::filesystem::exists(tree.path() + "locked/descript.ion"));
    EXPECT_FALSE(std::filesystem::exists(tree.path() + "locked/inner/descript.ion"));
}

} // namespace
} // namespace tagrelay
