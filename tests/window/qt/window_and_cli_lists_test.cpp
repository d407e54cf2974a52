// The window program and tagrelay-cli walk the same tree and must leave the same files. Under
// the offscreen platform this checks the lines and icon files; run on an X display (ctest runs
// it once under Xvfb) it also checks the depth palette pictures report: the bits per pixel of
// the display's bitmap format, 32 on a depth-24 screen, as the command line says.
#include "scan/run_state.h"
#include "settings/settings_file.h"
#include "shell/end_run.h"
#include "shell/main_window.h"
#include "shell/progress_display.h"
#include "support/frame_bytes.h"
#include "support/id3_bytes.h"
#include "support/picture_bytes.h"
#include "support/support.h"
#include "window/qt/qt_window_layer.h"
#include "window/qt/screen_format.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <filesystem>
#include <map>
#include <vector>

namespace tagrelay {
namespace {

using test::Bytes;

/// A 16-colour BMP, a JPEG and an MP3 file with a tag and a front cover.
void writeSmallTree(test::TempTree& tree, const std::string& folder)
{
    const RgbImage stripes = test::paintedImage(40, 30, [](int x, int y) {
        return test::Rgb{static_cast<std::uint8_t>(x / 3 * 20), 90,
                         static_cast<std::uint8_t>(y * 8)};
    });
    tree.writeFile(folder + "stripes.bmp", test::bmpFile(stripes, {.bitCount = 4}));
    tree.writeFile(folder + "photo.jpg", test::jpegFile(test::solidImage(64, 48, {200, 40, 10})));
    const Bytes cover = test::jpegFile(test::solidImage(30, 30, {10, 60, 200}));
    const Bytes tag = test::Id3v2Builder()
                          .textFrame("TPE1", "Vella Marondi")
                          .textFrame("TIT2", "The locomotion")
                          .textFrame("TCON", "(13)")
                          .pictureFrame(3, "image/jpeg", cover)
                          .bytes();
    test::FrameStream audio;
    audio.raw(tag).paddedFrames(400, test::FrameSpec{});
    tree.writeFile(folder + "sub/track04.mp3", audio.bytes());
}

/// Every file below the folder, by its path relative to it, with its bytes.
std::map<std::string, std::string> filesBelow(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files[std::filesystem::relative(entry.path(), folder).string()] =
                test::readFileText(entry.path().string());
    }
    return files;
}

std::vector<std::string> namesOf(const std::map<std::string, std::string>& files)
{
    std::vector<std::string> names;
    for (const auto& entry : files)
        names.push_back(entry.first);
    return names;
}

/// Runs tagrelay-cli in the work folder (where it reads the settings file) over the folder.
int runCli(const std::string& work, const std::string& folder)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);
        if (::chdir(work.c_str()) != 0 || quiet < 0)
            ::_exit(99);
        ::dup2(quiet, STDOUT_FILENO);
        ::dup2(quiet, STDERR_FILENO);
        ::execl(TAGRELAY_CLI_PATH, TAGRELAY_CLI_PATH, folder.c_str(), static_cast<char*>(nullptr));
        ::_exit(98);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

/// Runs in the folder for the scope.
class ScopedWorkingFolder
{
  public:
    explicit ScopedWorkingFolder(const std::string& folder)
        : m_previous(std::filesystem::current_path())
    {
        std::filesystem::current_path(folder);
    }
    ~ScopedWorkingFolder() { std::filesystem::current_path(m_previous); }
    ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
    ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;

  private:
    std::filesystem::path m_previous;
};

/// The window program as a user runs it, in the current folder: the option panel takes the
/// options from the settings file there, the user presses start, takes the folder the dialog
/// offers (the one the settings remember), and closes the window once the walk has ended.
/// Before start, the user clicks the buttons given.
void runWindowProgram(QtWindowLayer& layer, std::vector<int> clicks = {})
{
    bool started = false;
    QElapsedTimer clock;
    clock.start();
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            QMetaObject::invokeMethod(dialog, "accept");
        } else if (!clicks.empty() && layer.hasGadget(clicks.front())) {
            static_cast<QPushButton*>(layer.gadgetWidget(clicks.front()))->click();
            clicks.erase(clicks.begin());
        } else if (!started && layer.hasGadget(startButton)) {
            started = true;
            static_cast<QPushButton*>(layer.gadgetWidget(startButton))->click();
        } else if (layer.hasGadget(closingMessage) || clock.elapsed() > 60'000) {
            // After a minute something is stuck: closing ends the program either way.
            layer.windowWidget(mainWindow)->close();
        }
    });
    user.start(20);
    RunState run;
    EXPECT_EQ(runProgram(layer, run), 0);
    user.stop();
    layer.closeAll();
}

TEST(WindowAndCliListsTest, BothProgramsLeaveTheSameListsAndIconsForAPaletteBmpAJpegAndAnMp3)
{
    test::TempTree tree;
    writeSmallTree(tree, "window/");
    writeSmallTree(tree, "cli/");
    const std::string work = tree.makeDir("work");
    Settings settings;
    for (std::int32_t Settings::*flag :
         {&Settings::showArtist, &Settings::showTitle, &Settings::showBitrate,
          &Settings::showAudioMode, &Settings::showPlaytime, &Settings::showGenre,
          &Settings::makeMp3Icons, &Settings::showPictureSize, &Settings::makePictureIcons})
        settings.*flag = 1;
    settings.iconSize = 40;
    settings.startDirectory = tree.path() + "window/";
    SettingsWriter file(work + settingsFileName);
    ASSERT_TRUE(file.writeMp3Flags(settings));
    ASSERT_TRUE(file.writeRestAndClose(settings));

    ASSERT_EQ(runCli(work, tree.path() + "cli/"), 0);
    {
        ScopedWorkingFolder inWork(work);
        QtWindowLayer layer;
        runWindowProgram(layer);
    }

    const auto byWindow = filesBelow(tree.path() + "window/");
    const auto byCli = filesBelow(tree.path() + "cli/");
    // The three files, two lists, three icon files.
    EXPECT_EQ(byWindow.size(), 8u);
    ASSERT_EQ(namesOf(byWindow), namesOf(byCli));
    for (const auto& [name, bytes] : byWindow) {
        if (name.ends_with("descript.ion"))
            EXPECT_EQ(bytes, byCli.at(name)) << name;
        else
            EXPECT_TRUE(bytes == byCli.at(name)) << name << " differs";
    }
    const std::string list = test::readFileText(tree.path() + "window/descript.ion");
    EXPECT_NE(list.find("\"stripes.bmp\" 40 x 30 pixel 32 Bit\r\n"), std::string::npos) << list;
    EXPECT_NE(list.find("\"photo.jpg\" 64 x 48 pixel 24 Bit\r\n"), std::string::npos) << list;
}

// The choice of the Lists button is the settings file's: the command line that reads it after
// the window wrote it makes the same lists, with the signature in front.
TEST(WindowAndCliListsTest, TheListsButtonsChoiceGoesToTheSettingsFileAndTheCommandLine)
{
    test::TempTree tree;
    writeSmallTree(tree, "window/");
    writeSmallTree(tree, "cli/");
    const std::string work = tree.makeDir("work");
    Settings settings;
    settings.showTitle = settings.showPictureSize = 1;
    settings.startDirectory = tree.path() + "window/";
    SettingsWriter file(work + settingsFileName);
    ASSERT_TRUE(file.writeMp3Flags(settings) && file.writeRestAndClose(settings));
    {
        ScopedWorkingFolder inWork(work);
        QtWindowLayer layer;
        runWindowProgram(layer, {listEncodingButton, listEncodingButton});
    }
    ASSERT_EQ(runCli(work, tree.path() + "cli/"), 0);
    for (const std::string list : {"descript.ion", "sub/descript.ion"}) {
        const std::string byWindow = test::readFileText(tree.path() + "window/" + list);
        EXPECT_TRUE(byWindow.starts_with("\xEF\xBB\xBF\"")) << byWindow;
        EXPECT_EQ(byWindow, test::readFileText(tree.path() + "cli/" + list));
    }
}

struct DepthCase
{
    int depth;
    int bitsPerPixel;
};

class ScreenFormatTest : public ::testing::TestWithParam<DepthCase>
{
};

TEST_P(ScreenFormatTest, ADepthIsStoredInTheNextPixelSizeOfTodaysWindowSystems)
{
    EXPECT_EQ(bitsPerPixelOfDepth(GetParam().depth), GetParam().bitsPerPixel);
}

INSTANTIATE_TEST_SUITE_P(Depths, ScreenFormatTest,
                         ::testing::Values(DepthCase{0, 0}, DepthCase{-8, 0}, DepthCase{1, 1},
                                           DepthCase{4, 4}, DepthCase{8, 8}, DepthCase{15, 16},
                                           DepthCase{16, 16}, DepthCase{24, 32}, DepthCase{30, 32},
                                           DepthCase{32, 32}));

TEST(ScreenFormatTest, TheLayerReportsTheBitsPerPixelOfTheScreensBitmapFormat)
{
    QtWindowLayer layer;
    const int depth = QGuiApplication::primaryScreen()->depth();
    // Xvfb and every X server of today keep 24-bit pixels in 32 bits.
    if (depth == 24 || depth == 32)
        EXPECT_EQ(layer.screenDepth(), 32);
    else
        EXPECT_GE(layer.screenDepth(), depth);
}

} // namespace
} // namespace tagrelay
