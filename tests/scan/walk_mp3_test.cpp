#include "scan/run_state.h"
#include "scan/walk.h"
#include "support/frame_bytes.h"
#include "support/id3_bytes.h"
#include "support/recording_reporter.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace tagrelay {
namespace {

using test::FrameSpec;
using test::FrameStream;
using test::Id3v2Builder;
using test::readFileText;

/// The walk over MP3 files with real tags and frames: the readers' facts reach the lines,
/// the progress fields and the error list.
class WalkMp3Test : public testing::Test
{
  protected:
    WalkMp3Test()
    {
        Settings& s = run.settings;
        s.showArtist = s.showAlbum = s.showTitle = s.showBitrate = 1;
        s.showAudioMode = s.showPlaytime = s.showGenre = 1;
        s.iconSize = 50;
    }

    std::string writeSong(const std::string& name, const test::Bytes& tag, int frames,
                          const test::Bytes& tail = {})
    {
        FrameStream stream;
        stream.raw(tag).paddedFrames(frames, FrameSpec{});
        if (!tail.empty())
            stream.raw(tail);
        return tree.writeFile(name, stream.bytes());
    }

    void walk() { describeDirectory(tree.path(), 0, reporter, run); }
    std::string list() const { return readFileText(tree.path() + "descript.ion"); }
    /// The list's entries as the run keeps them, checked to be what the front end was told.
    std::vector<std::string> errors() const
    {
        std::vector<std::string> told;
        for (const std::string& report : reporter.withPrefix("error "))
            told.push_back(report.substr(6));
        EXPECT_EQ(told, run.errors);
        return run.errors;
    }
    long polls() const
    {
        return std::count(reporter.reports.begin(), reporter.reports.end(), "poll");
    }

    test::TempTree tree;
    test::RecordingReporter reporter;
    RunState run;
};

TEST_F(WalkMp3Test, ALineCarriesEveryTickedFactInItsOrder)
{
    // 1000 frames of 1152 samples at 44.1 kHz: 26.1 seconds.
    writeSong("song.mp3",
              Id3v2Builder()
                  .textFrame("TIT2", "Title")
                  .textFrame("TPE1", "Artist")
                  .textFrame("TALB", "Album")
                  .textFrame("TCON", "(17)")
                  .padding(100)
                  .bytes(),
              1000);
    walk();
    EXPECT_EQ(
        list(),
        "\"song.mp3\" Artist - Album - Title - 128 kbs CBR - Joint Stereo - 0:26 min - (17)\r\n");
    EXPECT_EQ(reporter.withPrefix("mp3 "),
              std::vector<std::string>{
                  "mp3 song.mp3 | Artist | Title | 128 | (17) | Joint Stereo | 0:26 min | 0"});
    EXPECT_EQ(
        reporter.withPrefix("description "),
        std::vector<std::string>{
            "description Artist - Album - Title - 128 kbs CBR - Joint Stereo - 0:26 min - (17)"});
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(run.fileCount, 1);
}

TEST_F(WalkMp3Test, Id3v1ValuesStandWhereTheId3v2TagHasNone)
{
    writeSong("old.mp3", Id3v2Builder().textFrame("TIT2", "New Title").bytes(), 200,
              test::id3v1Block("Old Title", "Old Artist", "Old Album", "1999", 3, 17));
    run.settings.showBitrate = run.settings.showAudioMode = run.settings.showPlaytime = 0;
    walk();
    EXPECT_EQ(list(), "\"old.mp3\" Old Artist - Old Album - New Title - Rock\r\n");
}

TEST_F(WalkMp3Test, ATagCannotBreakTheLine)
{
    writeSong(
        "break.mp3",
        Id3v2Builder().textFrame("TPE1", "Two\r\nLines").textFrame("TIT2", "Tab\there").bytes(),
        10);
    run.settings = Settings{};
    run.settings.showArtist = run.settings.showTitle = 1;
    walk();
    EXPECT_EQ(list(), "\"break.mp3\" Two  Lines - Tab here\r\n");
}

TEST_F(WalkMp3Test, AUnicodeLineBreakInATagCannotForgeALine)
{
    const test::ScopedLocale utf8({"C.UTF-8", "C.utf8"});
    ASSERT_TRUE(utf8.isSet());
    writeSong("forge.mp3",
              Id3v2Builder()
                  .utf16Frame("TPE1", u"Who\u2028\"victim.mp3\" forged")
                  .utf16Frame("TIT2", u"A\u2029B\u0085C")
                  .bytes(),
              10);
    run.settings = Settings{};
    run.settings.showArtist = run.settings.showTitle = 1;
    walk();
    EXPECT_EQ(list(), "\"forge.mp3\" Who \"victim.mp3\" forged - A B C\r\n");
}

TEST_F(WalkMp3Test, TagsTheLocaleCannotShowAreListed)
{
    test::ScopedLocale locale({"C"});
    writeSong(
        "far.mp3",
        Id3v2Builder().utf16Frame("TPE1", u"\u4E2D\u6587").utf16Frame("TIT2", u"\u6B4C").bytes(),
        10);
    writeSong("near.mp3",
              Id3v2Builder().textFrame("TPE1", "Who?").textFrame("TIT2", "Fine").bytes(), 10);
    walk();
    EXPECT_EQ(errors(),
              std::vector<std::string>{tree.path() + "far.mp3 please write a new id3 tag "});
}

TEST_F(WalkMp3Test, ClosingDuringAScanEndsTheRunBeforeTheLine)
{
    // On the walk's own thread the scan asks the front end for every frame.
    run.analysisWorkers = 1;
    FrameStream vbr;
    vbr.bitrates({128, 192, 128, 160}, FrameSpec{});
    for (int i = 0; i < 500; ++i)
        vbr.bitrates({128, 192}, FrameSpec{});
    tree.writeFile("long.mp3", vbr.bytes());
    reporter.stopAtPoll = 50;
    walk();
    EXPECT_TRUE(run.closeRequested);
    EXPECT_EQ(polls(), 50);
    EXPECT_TRUE(reporter.withPrefix("mp3 ").empty());
    EXPECT_EQ(list(), "");
    EXPECT_EQ(run.fileCount, 0);
}

TEST_F(WalkMp3Test, AVbrFileIsWalkedToItsEndWithTheBarGoneAfter)
{
    // On the walk's own thread the scan asks the front end for every frame.
    run.analysisWorkers = 1;
    FrameStream vbr;
    for (int i = 0; i < 300; ++i)
        vbr.bitrates({128, 192}, FrameSpec{});
    tree.writeFile("vbr.mp3", vbr.bytes());
    run.settings = Settings{};
    run.settings.showBitrate = 1;
    walk();
    EXPECT_EQ(list(), "\"vbr.mp3\" 160 kbs VBR\r\n");
    const auto& reports = reporter.reports;
    EXPECT_EQ(
        std::count(reports.begin(), reports.end(), "scan of " + std::to_string(vbr.bytes().size())),
        1);
    EXPECT_EQ(std::count(reports.begin(), reports.end(), "scan finished"), 1);
    EXPECT_GE(polls(), 600);
}

struct FrameTroubleCase
{
    const char* name;
    test::Bytes file;
    const char* entry; // the error-list entry, followed by the file's path
    const char* line;  // the description with bitrate and playtime ticked
};

class WalkFrameTroubleTest : public WalkMp3Test,
                             public testing::WithParamInterface<FrameTroubleCase>
{
};

// What the frame readers find reaches the error list through the walk, once, with the path.
TEST_P(WalkFrameTroubleTest, ListsTheFileAndStillWritesItsLine)
{
    const FrameTroubleCase& row = GetParam();
    tree.writeFile("x.mp3", row.file);
    run.settings = Settings{};
    run.settings.showBitrate = run.settings.showPlaytime = 1;
    walk();
    EXPECT_EQ(errors(), std::vector<std::string>{row.entry + tree.path() + "x.mp3"});
    EXPECT_EQ(list(), std::string("\"x.mp3\" ") + row.line + "\r\n");
    EXPECT_EQ(run.fileCount, 1);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, WalkFrameTroubleTest, testing::Values(
    FrameTroubleCase{"NoSync", test::Bytes(500, 0), "No MPEG audio frame found: ", "0 kbs CBR - "},
    FrameTroubleCase{"CutLastFrame", FrameStream().frames(20, {}).truncatedFrame({}, 100).bytes(),
                     "auch hier ein kleines Problem: ", "128 kbs CBR - 0:00 min"}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

TEST_F(WalkMp3Test, TheScanBarShowsOnlyWithTheBitrate)
{
    writeSong("a.mp3", {}, 150);
    for (const int bitrate : {0, 1}) {
        run.settings = Settings{};
        run.settings.showPlaytime = 1;
        run.settings.showBitrate = bitrate;
        test::RecordingReporter fresh;
        describeDirectory(tree.path(), 0, fresh, run);
        EXPECT_EQ(fresh.withPrefix("scan of ").size(), bitrate == 1 ? 1u : 0u);
    }
}

TEST_F(WalkMp3Test, ADanglingLinkIsListedAsAFileThatCannotBeOpened)
{
    ASSERT_EQ(::symlink("gone.mp3", (tree.path() + "x.mp3").c_str()), 0);
    walk();
    EXPECT_EQ(errors(),
              std::vector<std::string>{"File Could Not be opened: " + tree.path() + "x.mp3"});
    EXPECT_EQ(run.fileCount, 1);
}

TEST_F(WalkMp3Test, ReadingAheadChangesNoLineNorEntry)
{
    // CBR and VBR files, tags, a cut file, a non-MP3 and a FIFO, in two folders.
    for (int i = 0; i < 40; ++i) {
        const std::string folder = i % 2 == 0 ? "" : "sub/";
        FrameStream stream;
        stream.raw(Id3v2Builder().textFrame("TIT2", "Song " + std::to_string(i)).bytes());
        if (i % 3 == 0)
            stream.bitrates({128, 192, 160, 128, 320, 96}, FrameSpec{});
        else
            stream.frames(20 + i, FrameSpec{});
        if (i % 7 == 0)
            stream.truncatedFrame(FrameSpec{}, 50);
        tree.writeFile(folder + "t" + std::to_string(i) + ".mp3", stream.bytes());
    }
    tree.writeFile("sub/no.mp3", "not an mp3 at all");
    ASSERT_EQ(::mkfifo((tree.path() + "pipe.mp3").c_str(), 0600), 0);

    std::vector<std::string> lists;
    std::vector<std::vector<std::string>> errorLists;
    for (const bool readAhead : {true, false}) {
        RunState fresh;
        fresh.settings = run.settings;
        fresh.readAhead = readAhead;
        test::RecordingReporter freshReporter;
        describeDirectory(tree.path(), 0, freshReporter, fresh);
        lists.push_back(list() + readFileText(tree.path() + "sub/descript.ion"));
        errorLists.push_back(fresh.errors);
    }
    EXPECT_EQ(lists[0], lists[1]);
    EXPECT_EQ(errorLists[0], errorLists[1]);
    EXPECT_EQ(std::count(lists[0].begin(), lists[0].end(), '\n'), 41);
}

} // namespace
} // namespace tagrelay
