#include "scan/run_state.h"
#include "shell/end_run.h"
#include "shell/main_window.h"
#include "shell/shell_test_support.h"

namespace tagrelay {
namespace {

using test::InTempFolderTest;
using test::plainIntegers;
using test::ProbeLayer;
using test::readFileBytes;
using test::settingsBytes;
using test::SettingsIntegers;
using test::withCounter;
using Kind = GadgetKind;

std::vector<std::string> linesOf(const RecordingWindowLayer& window, int gadget)
{
    const auto* found = window.gadget(gadget);
    return found != nullptr ? found->lines : std::vector<std::string>{"<no gadget>"};
}

struct PanelRow
{
    int number;
    GadgetKind kind;
    Box box;
    std::string text;
};

using MainWindowTest = InTempFolderTest;

TEST_F(MainWindowTest, OpensTheOptionPanelInCourierInItsOrder)
{
    ProbeLayer window;
    window.onWait = [&window](int waitNumber) {
        if (waitNumber != 1)
            return;
        ASSERT_NE(window.font(0), nullptr);
        EXPECT_EQ(window.font(0)->face, "Courier");
        EXPECT_EQ(window.font(0)->points, 8);
    };
    window.queueClose();
    RunState run;
    EXPECT_EQ(runProgram(window, run), 0);

    ASSERT_NE(window.window(0), nullptr);
    EXPECT_EQ(window.window(0)->width, 800);
    EXPECT_EQ(window.window(0)->height, 600);
    EXPECT_EQ(window.window(0)->title, "Tagrelay for mp3-files       Build: 1.0.1.8");
    const std::vector<int> panelOrder = {0,  1,  2,  3,  4,  5,  6,  7, 8,
                                         13, 17, 18, 19, 20, 11, 12, 9, 31};
    std::vector<int> created = window.createdGadgets();
    ASSERT_GE(created.size(), panelOrder.size());
    created.resize(panelOrder.size());
    EXPECT_EQ(created, panelOrder);

    const std::vector<PanelRow> rows = {
        {0, Kind::MultiLineBox, {8, 10, 786, 90}, "Filename: track04.mp3"},
        {1, Kind::CheckBox, {10, 110, 430, 20}, "MP3: Artist"},
        {2, Kind::CheckBox, {10, 130, 430, 20}, "MP3: Album"},
        {3, Kind::CheckBox, {10, 150, 430, 20}, "MP3: Title"},
        {4, Kind::CheckBox, {10, 170, 430, 20}, "MP3: Bitrate"},
        {5, Kind::CheckBox, {10, 190, 430, 20}, "MP3: AudioMode"},
        {6, Kind::CheckBox, {10, 210, 430, 20}, "MP3: Playtime"},
        {7, Kind::CheckBox, {10, 230, 430, 20}, "MP3: Genre"},
        {8,
         Kind::CheckBox,
         {10, 250, 830, 20},
         "MP3: create %filename%.mp3.ico if picture in Id3-tag "},
        {13,
         Kind::CheckBox,
         {10, 270, 830, 20},
         "JPG/BMP: create %filename%.jpg/bmp.ico for pictures"},
        {17, Kind::Button, {20, 290, 20, 20}, "-"},
        {18, Kind::MultiLineBox, {60, 290, 50, 20}, "50"},
        {19, Kind::Button, {140, 290, 20, 20}, "+"},
        {20, Kind::MultiLineBox, {200, 290, 200, 20}, "ico size 32 .. 70"},
        {11,
         Kind::CheckBox,
         {10, 310, 830, 20},
         "JPG/BMP: Dimensions for *.jpg and *.bmp pictures"},
        {12,
         Kind::CheckBox,
         {10, 330, 830, 20},
         "MOVIE: Dimensions for *.avi and *.mpg + frames per sec + playtime"},
        {9, Kind::ToggleButton, {10, 390, 430, 30}, "Start and select startdirectory"},
        {31, Kind::MultiLineBox, {8, 450, 786, 100}, ""},
    };
    for (const PanelRow& row : rows) {
        const auto* gadget = window.gadget(row.number);
        ASSERT_NE(gadget, nullptr) << row.number;
        EXPECT_EQ(gadget->window, 0) << row.number;
        EXPECT_EQ(gadget->kind, row.kind) << row.number;
        EXPECT_EQ(gadget->box, row.box) << row.number;
        EXPECT_EQ(gadget->font, 0) << row.number;
        EXPECT_EQ(gadget->state, 0) << row.number;
        if (row.kind != Kind::MultiLineBox) {
            EXPECT_EQ(gadget->text, row.text) << row.number;
        } else if (!row.text.empty()) {
            EXPECT_EQ(gadget->lines, std::vector<std::string>{row.text}) << row.number;
        }
    }

    const auto info = linesOf(window, 31);
    ASSERT_EQ(info.size(), 6u);
    EXPECT_NE(info[0].find("2008"), std::string::npos);
    EXPECT_NE(info[0].find(authorAddress), std::string::npos);
    EXPECT_TRUE(info[0].ends_with("tag of MP3 files -> Descript.ion."));
    EXPECT_EQ(info[1], "This Program creates Descript.ion files for all mp3 files.");
    EXPECT_EQ(info[2], "Simply select what you want to display and it goes from the directory "
                       "thou all sub-dirs");
    EXPECT_EQ(info[3], "In Hfs please deaktivate >use OEM For Description<");
    EXPECT_EQ(info[4], "Warning: bitrate and/or playtime slow my prog a bit if MP3-file is a VBR");
    EXPECT_EQ(info[5].size(), 153u);
    EXPECT_TRUE(info[5].starts_with("How to activate .ico IN HFS-HTML Template??? [file] <tr>"));
    EXPECT_TRUE(info[5].ends_with("<img src=\"%item-name%.ico\" /> %item-name%</a>%comment%"));
}

struct PreviewCase
{
    const char* name;
    std::vector<int> clicks;
    std::vector<std::string> lines;
};

class PreviewTest : public InTempFolderTest, public ::testing::WithParamInterface<PreviewCase>
{
};

TEST_P(PreviewTest, ShowsTheSampleForTheTickedBoxes)
{
    RecordingWindowLayer window;
    for (const int box : GetParam().clicks)
        window.queueClick(box);
    window.queueClose();
    RunState run;
    runProgram(window, run);
    EXPECT_EQ(linesOf(window, 0), GetParam().lines);
}

const std::string track = "Filename: track04.mp3";

INSTANTIATE_TEST_SUITE_P(
    Boxes, PreviewTest,
    ::testing::Values(
        PreviewCase{"NoBox", {}, {track}},
        PreviewCase{
            "ArtistTitleGenre", {1, 3, 7}, {track, "Vella Marondi - The locomotion - Rock/Pop"}},
        PreviewCase{"AlbumOnly", {2}, {track, "Greatest Hit `86"}},
        PreviewCase{"BitrateModePlaytime", {6, 4, 5}, {track, "192 kbs - Joint Stereo - 3:11 min"}},
        PreviewCase{"PictureSizeOnly",
                    {11},
                    {track, "", "Filename: picture.jpg", "500 x 400 pixel 24 Bit "}},
        PreviewCase{"PicturesAndMovies",
                    {12, 11},
                    {track, "", "Filename: picture.jpg", "500 x 400 pixel 24 Bit ",
                     "Filename: movie.avi", "352 x 640 pixel - 24 fps - 58:18 min"}},
        // Box 8 is no part of what the preview shows: nothing is redrawn.
        PreviewCase{"Mp3IconsOnly", {8}, {track}},
        // Box 13 shows nothing of its own but is one of the values the preview follows.
        PreviewCase{"PictureIconsOnly", {13}, {track, ""}},
        PreviewCase{"TickedAndUntickedAgain", {1, 1}, {track, ""}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(MainWindowTest, StoredTicksShowAfterTheFirstEventAndOddValuesLeaveBoxesUnticked)
{
    SettingsIntegers integers = plainIntegers;
    integers[2] = 1;   // showTitle
    integers[9] = 1;   // showMovieInfo
    integers[0] = 7;   // showArtist: values the program never writes tick nothing
    integers[10] = -1; // makePictureIcons
    tree.writeFile("brelvoka.ini", settingsBytes(integers, "/music/"));
    ProbeLayer window;
    std::vector<std::string> beforeFirstEvent;
    window.onWait = [&](int waitNumber) {
        if (waitNumber == 1)
            beforeFirstEvent = linesOf(window, 0);
    };
    window.queueOther();
    window.queueClose();
    RunState run;
    runProgram(window, run);
    EXPECT_EQ(beforeFirstEvent, std::vector<std::string>{track});
    EXPECT_EQ(linesOf(window, 0),
              (std::vector<std::string>{track, "The locomotion", "Filename: movie.avi",
                                        "352 x 640 pixel - 24 fps - 58:18 min"}));
    EXPECT_EQ(window.gadgetState(3), 1);
    EXPECT_EQ(window.gadgetState(12), 1);
    EXPECT_EQ(window.gadgetState(1), 0);
    EXPECT_EQ(window.gadgetState(13), 0);
    EXPECT_EQ(run.settings.showTitle, 1);
    EXPECT_EQ(run.settings.showMovieInfo, 1);
    EXPECT_EQ(run.settings.showArtist, 0);
    EXPECT_EQ(run.settings.makePictureIcons, 0);
}

struct IconSizeCase
{
    const char* name;
    std::int32_t stored; // 0: no settings file
    std::vector<int> clicks;
    int shown;
    int boxWidth; // 50 as created, 40 once redrawn
};

class IconSizeTest : public InTempFolderTest, public ::testing::WithParamInterface<IconSizeCase>
{
};

TEST_P(IconSizeTest, MovesWithinItsRangeAndRedrawsOnlyOnChange)
{
    if (GetParam().stored != 0) {
        SettingsIntegers integers = plainIntegers;
        integers[11] = GetParam().stored;
        tree.writeFile("brelvoka.ini", settingsBytes(integers, ""));
    }
    RecordingWindowLayer window;
    for (const int button : GetParam().clicks)
        window.queueClick(button);
    window.queueClose();
    RunState run;
    runProgram(window, run);
    EXPECT_EQ(run.settings.iconSize, GetParam().shown);
    const std::string shown = std::to_string(GetParam().shown);
    EXPECT_EQ(linesOf(window, 18), std::vector<std::string>{shown});
    ASSERT_NE(window.gadget(18), nullptr);
    EXPECT_EQ(window.gadget(18)->box, (Box{60, 290, GetParam().boxWidth, 20}));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, IconSizeTest,
    ::testing::Values(IconSizeCase{"NoFile", 0, {}, 50, 50},
                      IconSizeCase{"StoredTwentyShowsFifty", 20, {}, 50, 50},
                      IconSizeCase{"NegativeShowsFifty", -7, {}, 50, 50},
                      // Above the buttons' range the default is taken as well.
                      IconSizeCase{"NinetyShowsFiftyAndPlusRaisesIt", 90, {19, 19}, 52, 40},
                      IconSizeCase{"NinetyShowsFiftyAndMinusLowersIt", 90, {17, 17, 17}, 47, 40},
                      IconSizeCase{"TwentyThousandShowsFifty", 20000, {}, 50, 50},
                      IconSizeCase{"SeventyKeptPlusDoesNothing", 70, {19, 19}, 70, 50},
                      IconSizeCase{"StopsAtThirtyTwo", 34, {17, 17, 17, 17}, 32, 40},
                      IconSizeCase{"StopsAtSeventy", 68, {19, 19, 19}, 70, 40},
                      IconSizeCase{"BackAndForth", 50, {17, 19}, 50, 40}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(MainWindowTest, ClosingBeforeStartSavesNothingAndNeedsASecondClose)
{
    const auto stored = settingsBytes(withCounter(8), "/music/\r\n");
    tree.writeFile("brelvoka.ini", stored);
    RecordingWindowLayer window;
    window.queueClick(4);
    window.queueClose();
    window.queueOther();
    window.queueClick(1);
    window.queueClose();
    RunState run;
    EXPECT_EQ(runProgram(window, run), 0);
    EXPECT_EQ(window.waitCount(), 5);
    EXPECT_EQ(readFileBytes(settingsPath()), stored);
    EXPECT_EQ(window.folderDialogCount(), 0);
    EXPECT_EQ(window.window(thankYouWindow), nullptr);
    ASSERT_NE(window.gadget(closingMessage), nullptr);
    EXPECT_EQ(window.gadget(closingMessage)->box, (Box{8, 310, 786, 30}));
    EXPECT_NE(window.gadget(1), nullptr); // shown over the option panel
}

} // namespace
} // namespace tagrelay
