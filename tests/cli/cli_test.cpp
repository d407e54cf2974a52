#include "scan/run_state.h"
#include "scan/walk.h"
#include "shell/progress_display.h"
#include "support/cli_runner.h"
#include "support/id3_bytes.h"
#include "support/recording_window_layer.h"
#include "support/support.h"
#include "support/window_walk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace tagrelay {
namespace {

/// Waits until the program made reads enough to have described a few hundred files, at least
/// 300 ms and at most 30 s: under a sanitiser the walk may take longer than that to reach its
/// first file, and a stop before it would leave nothing to check.
void waitForReads(pid_t child, long reads)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream io("/proc/" + std::to_string(child) + "/io");
        std::string key;
        long value = 0;
        while (io >> key >> value) {
            if (key == "syscr:" && value >= reads)
                return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

using test::readFileText;
using test::TempTree;

using test::CliResult;
using test::startCli;

class CliTest : public testing::Test
{
  protected:
    CliResult run(const std::vector<std::string>& arguments)
    {
        return test::runCli(arguments, work.path(), scratch.path());
    }

    TempTree work;    // the current directory of the program
    TempTree music;   // the tree it walks
    TempTree scratch; // its captured output
};

TEST_F(CliTest, RefusesBadUsageWithExitCodeTwo)
{
    music.writeFile("file.txt", "x");
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{},
                                               {music.path() + "missing"},
                                               {music.path() + "file.txt"},
                                               {"--no-such-option", music.path()},
                                               {"--icon-size", "90", music.path()},
                                               {"--icon-size"},
                                               {music.path(), music.path()}}) {
        const CliResult result = run(arguments);
        EXPECT_EQ(result.exitCode, 2) << testing::PrintToString(arguments);
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.err.rfind("tagrelay-cli: ", 0), 0u) << result.err;
    }
    EXPECT_FALSE(std::filesystem::exists(music.path() + "descript.ion"));
}

TEST_F(CliTest, SaysWhenNoMp3FactIsChosenAndWalksOn)
{
    music.writeFile("a.mp3", "x");
    const CliResult bare = run({music.path()});
    EXPECT_EQ(bare.exitCode, 0);
    EXPECT_EQ(bare.err, "tagrelay-cli: no MP3 fact chosen (--artist, --album, --title, --bitrate, "
                        "--audio-mode, --playtime, --genre): the lines of MP3 files will hold "
                        "their names alone\n");
    EXPECT_EQ(readFileText(music.path() + "descript.ion"), "\"a.mp3\" \r\n");
    EXPECT_EQ(run({"--audio-mode", music.path()}).err, "");
}

TEST_F(CliTest, HelpAndVersion)
{
    const CliResult help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: tagrelay-cli [options] DIRECTORY"), std::string::npos);
    const CliResult version = run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, std::string("tagrelay-cli ") + TAGRELAY_VERSION + "\n");
}

TEST_F(CliTest, AllTagVersionsReadsAVersion4TagFromTheFlagOrTheSettingsFile)
{
    const test::Bytes tag = test::Id3v2Builder(4)
                                .textFrame("TPE1", "Band")
                                .textFrame("TIT2", "Song")
                                .textFrame("TCON", "(17)")
                                .bytes();
    music.writeFile("four.mp3", test::join({tag, test::audioBytes()}));
    const std::string list = music.path() + "descript.ion";

    const CliResult with =
        run({"--artist", "--title", "--genre", "--all-tag-versions", music.path()});
    EXPECT_EQ(with.exitCode, 0) << with.err;
    EXPECT_EQ(readFileText(list), "\"four.mp3\" Band - Song - Rock\r\n");
    const CliResult without = run({"--artist", "--title", "--genre", "--all-tag-versions",
                                   "--no-all-tag-versions", music.path()});
    EXPECT_EQ(without.exitCode, 0) << without.err;
    EXPECT_EQ(readFileText(list), "\"four.mp3\"  -  - \r\n");
    EXPECT_FALSE(std::filesystem::exists(work.path() + "brelvoka.ini"));
    EXPECT_NE(run({"--help"}).out.find("\n  --all-tag-versions "), std::string::npos);
    EXPECT_NE(run({"--help"}).out.find("\n  --more-formats "), std::string::npos);

    // Ticked in the window, the choice is saved and taken from the settings file.
    std::vector<std::uint8_t> settings(52, 0);
    settings[44] = 50;
    for (const char c : std::string("/m/\0TRX1\0\0\0\0\x01\0\0\0", 16))
        settings.push_back(static_cast<std::uint8_t>(c));
    work.writeFile("brelvoka.ini", settings);
    ASSERT_EQ(run({"--artist", "--title", "--genre", music.path()}).exitCode, 0);
    EXPECT_EQ(readFileText(list), "\"four.mp3\" Band - Song - Rock\r\n");
    ASSERT_EQ(
        run({"--artist", "--title", "--genre", "--no-all-tag-versions", music.path()}).exitCode, 0);
    EXPECT_EQ(readFileText(list), "\"four.mp3\"  -  - \r\n");
}

TEST_F(CliTest, WritesTheSameListsAsTheWindowWalk)
{
    TempTree twin;
    for (TempTree* tree : {&music, &twin}) {
        tree->writeFile("a.mp3", "not audio");
        tree->writeFile("PHOTO.JPG", "x");
        tree->writeFile("sub/deeper/b.mp3", std::string(300, '\xFF'));
    }
    const CliResult result =
        run({"--artist", "--bitrate", "--picture-size", "--genre", music.path()});
    EXPECT_EQ(result.exitCode, 0) << result.err;

    RecordingWindowLayer window;
    openWalkWindow(window, "twin");
    RunState state;
    state.settings.showArtist = 1;
    state.settings.showBitrate = 1;
    state.settings.showPictureSize = 1;
    state.settings.showGenre = 1;
    state.settings.iconSize = 50;
    describeDirectory(twin.path(), 0, window, state);

    for (const char* folder : {"", "sub/", "sub/deeper/"}) {
        const std::string written = readFileText(music.path() + folder + "descript.ion");
        EXPECT_FALSE(std::string(folder).empty() && written.empty());
        EXPECT_EQ(written, readFileText(twin.path() + folder + "descript.ion")) << folder;
    }
    EXPECT_NE(result.out.find("3 files described in 0:00:0"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.rfind("List of files with errors:\n", 0), 0u) << result.out;
    EXPECT_NE(result.out.find("\n  No MPEG audio frame found: " + music.path() + "a.mp3\n"),
              std::string::npos)
        << result.out;
}

TEST_F(CliTest, StartsFromTheSettingsFileAndNeverWritesIt)
{
    // Artist and album ticked, icon size 50, counter 3, start folder "/music/".
    std::vector<std::uint8_t> settings(52, 0);
    settings[0] = 1;
    settings[4] = 1;
    settings[44] = 50;
    settings[48] = 3;
    for (const char c : std::string("/music/"))
        settings.push_back(static_cast<std::uint8_t>(c));
    const std::string settingsPath = work.writeFile("brelvoka.ini", settings);
    music.writeFile("a.mp3", "x");

    ASSERT_EQ(run({music.path()}).exitCode, 0);
    EXPECT_EQ(readFileText(music.path() + "descript.ion"), "\"a.mp3\"  - \r\n");
    ASSERT_EQ(run({"--no-album", music.path()}).exitCode, 0);
    EXPECT_EQ(readFileText(music.path() + "descript.ion"), "\"a.mp3\" \r\n");
    EXPECT_EQ(test::readFileBytes(settingsPath), settings);
}

TEST_F(CliTest, AFolderLeftUndescribedGivesExitCodeOneAndNamesShowEscaped)
{
    const std::string hostile = "e\x1b]0;PWNED\x07\x1b[2J.mp3";
    music.writeFile(hostile, "x");
    music.writeFile("b\xE2\x80\xAEgpj.mp3", "x"); // shown as "b3pm.jpg" were it obeyed
    music.writeFile("sub/descript.ion/a.mp3", "x");

    const CliResult result = run({music.path()});

    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out.find('\x1b'), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find('\x07'), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("No MPEG audio frame found: " + music.path()
                              + "e\\x1b]0;PWNED\\x07\\x1b[2J.mp3"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("No MPEG audio frame found: " + music.path() + "b\\u202egpj.mp3"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("descript.ion is not a regular file, folder not described: "
                              + music.path() + "sub/"),
              std::string::npos);
    EXPECT_NE(result.out.find("1 folder could not be described or written in full"),
              std::string::npos);
    // The list on disk keeps the name as it is: the server needs it to find the file.
    EXPECT_NE(readFileText(music.path() + "descript.ion").find("\"" + hostile + "\""),
              std::string::npos);
}

TEST_F(CliTest, ARunAsPidOneIsNotBlockedByATemporaryFileOfAnEarlierPidOne)
{
    // Every run in a container's pid namespace is pid 1; earlier versions named their files by
    // pid, so one left by a killed run blocked the folder for every later run.
    music.writeFile(".tagrelay-1-0.tmp", "");
    music.writeFile("a.mp3", "x");
    const std::string outPath = scratch.path() + "out.txt";
    const std::string errPath = scratch.path() + "err.txt";
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWPID) != 0)
            ::_exit(97);
        ::_exit(test::waitForCli(startCli({music.path()}, work.path(), outPath, errPath)));
    }
    const int exitCode = test::waitForCli(child);
    if (exitCode == 97)
        GTEST_SKIP() << "no pid namespace for this user or kernel (it needs root)";
    EXPECT_EQ(exitCode, 0) << readFileText(outPath);
    EXPECT_EQ(readFileText(music.path() + "descript.ion"), "\"a.mp3\" \r\n");
}

TEST_F(CliTest, CtrlCStopsTheWalkAndKeepsTheLinesWritten)
{
    // Enough files that the walk is still going when the signal comes.
    const std::string folder = music.makeDir("many");
    for (int i = 0; i < 20000; ++i)
        music.writeFile("many/" + std::to_string(i) + ".mp3", "x");
    const std::string outPath = scratch.path() + "out.txt";
    const std::string errPath = scratch.path() + "err.txt";
    const pid_t child = startCli({music.path()}, work.path(), outPath, errPath);
    const std::string list = folder + "descript.ion";
    // A folder's list appears when the folder is done, so the signal comes after a while.
    waitForReads(child, 1000);
    ::kill(child, SIGINT);
    const int exitCode = test::waitForCli(child);
    if (exitCode == 0)
        GTEST_SKIP() << "the walk ended before the signal arrived";
    EXPECT_EQ(exitCode, 130);
    const std::string written = readFileText(list);
    const auto lines = std::count(written.begin(), written.end(), '\n');
    EXPECT_GT(lines, 0);
    EXPECT_LT(lines, 20000);
    // Every line that was written is whole.
    EXPECT_EQ(written.back(), '\n');
    EXPECT_NE(readFileText(errPath).find("stopped by Ctrl+C"), std::string::npos);
    EXPECT_NE(readFileText(outPath).find("stopped before the end"), std::string::npos);
}

struct StopSignal
{
    const char* what;
    int signal;
    int exitCode;
    const char* said;
};

class CliStopTest : public CliTest, public testing::WithParamInterface<StopSignal>
{
};

TEST_P(CliStopTest, AStoppedReRunKeepsTheOldLinesOfTheFilesNotReached)
{
    constexpr int files = 20000;
    const std::string folder = music.makeDir("many");
    std::string old = "notes.txt written by hand\r\n";
    for (int i = 0; i < files; ++i) {
        const std::string name = std::to_string(i) + ".mp3";
        music.writeFile("many/" + name, "x");
        old += "\"" + name + "\" old\r\n";
    }
    music.writeFile("many/notes.txt", "x");
    music.writeFile("many/descript.ion", old);
    const std::string outPath = scratch.path() + "out.txt";
    const std::string errPath = scratch.path() + "err.txt";
    const pid_t child = startCli({music.path()}, work.path(), outPath, errPath);
    waitForReads(child, 1000);
    ::kill(child, GetParam().signal);
    const int exitCode = test::waitForCli(child);
    if (exitCode == 0)
        GTEST_SKIP() << "the walk ended before the signal arrived";
    EXPECT_EQ(exitCode, GetParam().exitCode);
    EXPECT_NE(readFileText(errPath).find(GetParam().said), std::string::npos);

    // Every file has one line, new or old, and the hand-written line stays.
    std::multiset<std::string> lines;
    std::istringstream list(readFileText(folder + "descript.ion"));
    for (std::string line; std::getline(list, line);)
        lines.insert(line);
    EXPECT_EQ(lines.count("notes.txt written by hand\r"), 1u);
    int renewed = 0;
    for (int i = 0; i < files; ++i) {
        const std::string quoted = "\"" + std::to_string(i) + ".mp3\" ";
        const auto isNew = lines.count(quoted + "\r");
        ASSERT_EQ(isNew + lines.count(quoted + "old\r"), 1u) << i;
        renewed += static_cast<int>(isNew);
    }
    EXPECT_EQ(lines.size(), files + 1u);
    EXPECT_GT(renewed, 0);
    EXPECT_LT(renewed, files);
}

INSTANTIATE_TEST_SUITE_P(Signals, CliStopTest,
                         testing::Values(StopSignal{"CtrlC", SIGINT, 130, "stopped by Ctrl+C"},
                                         StopSignal{"Sigterm", SIGTERM, 143, "stopped by SIGTERM"}),
                         [](const testing::TestParamInfo<StopSignal>& row) {
                             return row.param.what;
                         });

TEST_F(CliTest, MovieLinesAreTheWalksOnlyWithTheMovieOption)
{
    music.writeFile("not a movie.avi", "RIFF");
    const std::string list = music.path() + "descript.ion";
    const std::string old = "\"not a movie.avi\" 352 x 640 pixel - 24 fps - 58:18 min\r\n";
    music.writeFile("descript.ion", old);
    ASSERT_EQ(run({"--no-movie-info", music.path()}).exitCode, 0);
    EXPECT_EQ(readFileText(list), old);
    // With the option the walk describes movies: one it cannot load gets no line.
    ASSERT_EQ(run({"--movie-info", music.path()}).exitCode, 0);
    EXPECT_EQ(readFileText(list), "");
}

} // namespace
} // namespace tagrelay
