#include "scan/run_state.h"
#include "shell/end_run.h"
#include "shell/main_window.h"
#include "shell/progress_display.h"
#include "shell/shell_test_support.h"
#include "support/frame_bytes.h"
#include "support/picture_bytes.h"

#include <filesystem>

namespace tagrelay {
namespace {

using test::InTempFolderTest;
using test::plainIntegers;
using test::ProbeLayer;
using test::readFileBytes;
using test::settingsBytes;
using test::SettingsIntegers;
using test::withCounter;

/// The counter a settings file holds, or -1 when it is too short.
std::int32_t storedCounter(const std::vector<std::uint8_t>& bytes)
{
    if (bytes.size() < 52)
        return -1;
    return static_cast<std::int32_t>(bytes[48] | bytes[49] << 8 | bytes[50] << 16
                                     | static_cast<std::uint32_t>(bytes[51]) << 24);
}

class StartRunTest : public InTempFolderTest
{
  protected:
    /// One program run in which the user presses start at once and picks folder.
    bool startOneRun(const std::string& folder)
    {
        RecordingWindowLayer window;
        window.setFolderAnswer(folder);
        window.queueClick(startButton);
        RunState run;
        EXPECT_EQ(runProgram(window, run), 0);
        EXPECT_EQ(window.window(thankYouWindow) != nullptr, run.thankYouDue);
        return run.thankYouDue;
    }

    bool hasDescriptionFile() const
    {
        return std::filesystem::exists(tree.path() + "descript.ion")
               || std::filesystem::exists(tree.path() + "Descript.ion");
    }
};

TEST_F(StartRunTest, SavesTheChoiceAsTheSixtyOneByteExample)
{
    RecordingWindowLayer window;
    window.setFolderAnswer("/x/Music"); // the missing "/" is added
    window.queueClick(startButton);
    RunState run;
    run.fileCount = 99;
    EXPECT_EQ(runProgram(window, run), 0);

    std::vector<std::uint8_t> expected(44, 0);
    expected.insert(expected.end(), {0x32, 0, 0, 0, 0x01, 0, 0, 0});
    expected.insert(expected.end(), {'/', 'x', '/', 'M', 'u', 's', 'i', 'c', '/'});
    EXPECT_EQ(readFileBytes(settingsPath()), expected);
    EXPECT_EQ(run.settings.startDirectory, "/x/Music/");
    EXPECT_EQ(run.fileCount, 0);
    ASSERT_NE(window.gadget(44), nullptr);
    ASSERT_FALSE(window.gadget(44)->lines.empty());
    EXPECT_EQ(window.gadget(44)->lines[0], "List of files with errors");
}

TEST_F(StartRunTest, RemovesThePanelAndEmptiesTheFileBeforeTheDialog)
{
    SettingsIntegers integers = plainIntegers;
    integers[0] = 1;   // showArtist
    integers[10] = 5;  // makePictureIcons: a value the program never writes, so not ticked
    integers[11] = 66; // iconSize
    const std::string stored(300, 'd');
    tree.writeFile("brelvoka.ini", settingsBytes(integers, "/home/u/Music/\r\n" + stored));
    ProbeLayer window;
    window.onDialog = [&] {
        for (const int gadget :
             {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 17, 18, 19, 20, 31})
            EXPECT_FALSE(window.hasGadget(gadget)) << gadget;
        EXPECT_EQ(window.defaultFont(), -1);
        const auto* errorList = window.gadget(44);
        ASSERT_NE(errorList, nullptr);
        EXPECT_EQ(errorList->kind, GadgetKind::MultiLineBox);
        EXPECT_EQ(errorList->box, (Box{8, 390, 786, 200}));
        EXPECT_TRUE(errorList->lines.empty());
        EXPECT_LE(readFileBytes(settingsPath()).size(), 32u);
    };
    window.setFolderAnswer("/music/");
    window.queueClick(3);
    window.queueClick(startButton);
    test::ScopedLocale utf8({"C.UTF-8", "en_US.UTF-8"});
    RunState run;
    runProgram(window, run);

    ASSERT_EQ(window.folderDialogCount(), 1);
    if (utf8.isSet()) {
        EXPECT_EQ(window.lastFolderPrompt(), "Bitte w\xC3\xA4hlen Sie einen Pfad aus");
    }
    EXPECT_EQ(window.lastFolderInitial(), "/home/u/Music");
    EXPECT_EQ(readFileBytes(settingsPath()),
              settingsBytes({1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 66, 2}, "/music/"));
}

TEST_F(StartRunTest, ACancelledDialogKeepsTheRememberedFolderAndWalksNothing)
{
    tree.writeFile("song.mp3", "not really music");
    tree.writeFile("brelvoka.ini", settingsBytes(withCounter(3), "/music/"));
    EXPECT_FALSE(startOneRun(""));
    const auto saved = readFileBytes(settingsPath());
    EXPECT_EQ(saved, settingsBytes(withCounter(4), "/music/"));
    EXPECT_FALSE(hasDescriptionFile());

    ProbeLayer next;
    next.queueClick(startButton);
    RunState run;
    runProgram(next, run);
    EXPECT_EQ(next.lastFolderInitial(), "/music");
    ASSERT_NE(next.gadget(closingMessage), nullptr);
    EXPECT_FALSE(hasDescriptionFile());
}

// The two choices beyond the original panel sit in the gap above the start button, are saved
// behind the directory, and come back ticked on the next start; the tag choice reaches the walk.
TEST_F(StartRunTest, TheExtraChoicesAreSavedApartAndComeBackTicked)
{
    const std::string folder = tree.makeDir("music");
    RecordingWindowLayer window;
    window.setFolderAnswer(folder);
    window.queueClick(moreFormatsBox);
    window.queueClick(allTagVersionsBox);
    window.queueClick(startButton);
    RunState run;
    EXPECT_EQ(runProgram(window, run), 0);
    EXPECT_EQ(run.tagVersions, TagVersions::All);
    EXPECT_EQ(run.settings.moreFormats, 1);

    // The list encoding and the index-page flag follow, both off.
    const std::string extras = std::string("\0TRX1\x01\0\0\0\x01\0\0\0", 13) + std::string(8, '\0');
    EXPECT_EQ(readFileBytes(settingsPath()), settingsBytes(withCounter(1), folder + extras));

    ProbeLayer next;
    next.onWait = [&next](int waitNumber) {
        if (waitNumber != 1)
            return;
        for (const int gadget : {moreFormatsBox, allTagVersionsBox}) {
            ASSERT_NE(next.gadget(gadget), nullptr) << gadget;
            EXPECT_EQ(next.gadget(gadget)->kind, GadgetKind::CheckBox);
            EXPECT_EQ(next.gadget(gadget)->state, 1) << gadget;
        }
        EXPECT_EQ(next.gadget(moreFormatsBox)->box, (Box{10, 350, 830, 20}));
        EXPECT_EQ(next.gadget(allTagVersionsBox)->box, (Box{10, 370, 830, 20}));
    };
    next.queueClick(allTagVersionsBox); // unticked again
    next.queueClick(startButton);
    next.setFolderAnswer(folder);
    RunState second;
    runProgram(next, second);
    EXPECT_EQ(second.tagVersions, TagVersions::Id3v23Only);
    EXPECT_EQ(readFileBytes(settingsPath()),
              settingsBytes(withCounter(2), folder + extras.substr(0, 9) + std::string(12, '\0')));
}

// The fields show the count before the file they show; when the walk is over they show all
// it described, also when the last files were pictures, which show no count of their own.
TEST_F(StartRunTest, TheEndShowsTheCountOfEveryFileDescribed)
{
    const std::string folder = tree.makeDir("music");
    tree.writeFile("music/a.mp3", test::FrameStream().frames(40, test::FrameSpec{}).bytes());
    tree.writeFile("music/b.mp3", test::FrameStream().frames(40, test::FrameSpec{}).bytes());
    for (const char* name : {"z/1.jpg", "z/2.jpg", "z/3.jpg"})
        tree.writeFile(std::string("music/") + name,
                       test::jpegFile(test::solidImage(8, 8, {1, 2, 3})));
    RecordingWindowLayer window;
    window.setFolderAnswer(folder);
    window.queueClick(1);  // artist
    window.queueClick(11); // picture size
    window.queueClick(startButton);
    RunState run;
    EXPECT_EQ(runProgram(window, run), 0);
    EXPECT_EQ(run.fileCount, 5);
    ASSERT_NE(window.gadget(fileCountField), nullptr);
    EXPECT_EQ(window.gadget(fileCountField)->text, "Filecount: 5");
}

TEST_F(StartRunTest, ThanksAreDueOnTheNinthRunAndEveryEighthAfter)
{
    const std::string folder = tree.makeDir("music");
    std::vector<std::int32_t> stored;
    std::vector<int> thankedRuns;
    for (int runNumber = 1; runNumber <= 18; ++runNumber) {
        if (startOneRun(folder))
            thankedRuns.push_back(runNumber);
        stored.push_back(storedCounter(readFileBytes(settingsPath())));
    }
    EXPECT_EQ(thankedRuns, (std::vector<int>{9, 17}));
    EXPECT_EQ(stored,
              (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 5, 6, 7, 8, 1, 2}));
}

TEST_F(StartRunTest, AnUnwritableSettingsFileDoesNotStopTheRun)
{
    std::filesystem::create_directory(settingsPath()); // a folder where the file should be
    const std::string folder = tree.makeDir("music");
    RecordingWindowLayer window;
    window.setFolderAnswer(folder);
    window.queueClick(startButton);
    RunState run;
    EXPECT_EQ(runProgram(window, run), 0);
    EXPECT_EQ(window.folderDialogCount(), 1);
    EXPECT_NE(window.gadget(closingMessage), nullptr);
    EXPECT_TRUE(std::filesystem::is_directory(settingsPath()));
}

struct SelectionCase
{
    std::string stored;
    std::string initial;
};

class InitialSelectionTest : public ::testing::TestWithParam<SelectionCase>
{
};

TEST_P(InitialSelectionTest, CutsAndDropsTheTrailingSlash)
{
    EXPECT_EQ(initialFolderSelection(GetParam().stored), GetParam().initial);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, InitialSelectionTest,
    ::testing::Values(SelectionCase{"", ""}, SelectionCase{"/", "/"},
                      SelectionCase{"/music/", "/music"}, SelectionCase{"/a/", "/a"},
                      SelectionCase{"/music", "/music"},
                      SelectionCase{"/" + std::string(257, 'a') + "/b",
                                    "/" + std::string(257, 'a')},
                      SelectionCase{std::string(300, 'a'), std::string(259, 'a')}));

} // namespace
} // namespace tagrelay
