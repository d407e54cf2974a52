// The window's front end over real walks: what the progress display shows of the walk's
// reports, by the window's control numbers.

#include "scan/run_state.h"
#include "shell/progress_display.h"
#include "support/frame_bytes.h"
#include "support/id3_bytes.h"
#include "support/recording_window_layer.h"
#include "support/support.h"
#include "support/window_walk.h"

#include <gtest/gtest.h>

namespace tagrelay {
namespace {

using test::FrameSpec;
using test::FrameStream;
using test::Id3v2Builder;

class ProgressDisplayTest : public testing::Test
{
  protected:
    ProgressDisplayTest() { openWalkWindow(window, "test"); }

    void walk() { describeDirectory(tree.path(), 0, window, run); }
    const std::vector<std::string>& errorList() const { return window.gadget(errorListBox)->lines; }

    test::TempTree tree;
    RecordingWindowLayer window;
    RunState run;
};

TEST_F(ProgressDisplayTest, TheFieldsShowTheFilesFactsAndTheErrorListItsEntries)
{
    FrameStream song;
    song.raw(Id3v2Builder()
                 .textFrame("TIT2", "Title?")
                 .textFrame("TPE1", "Artist?")
                 .textFrame("TCON", "(17)")
                 .padding(100)
                 .bytes())
        .paddedFrames(1000, FrameSpec{});
    tree.writeFile("song.mp3", song.bytes());
    Settings& s = run.settings;
    s.showArtist = s.showTitle = s.showBitrate = s.showAudioMode = s.showPlaytime = 1;
    s.showGenre = 1;
    walk();
    EXPECT_EQ(window.gadget(bitrateField)->text, "Bitrate: 128 kbs ");
    EXPECT_EQ(window.gadget(genreField)->text, "Genre: (17)");
    EXPECT_EQ(window.gadget(playtimeField)->text, "0:26 min");
    EXPECT_EQ(window.gadget(channelModeField)->text, "Joint Stereo");
    EXPECT_EQ(window.gadget(artistField)->text, "Artist: Artist?");
    EXPECT_EQ(errorList(),
              (std::vector<std::string>{errorListTitle,
                                        tree.path() + "song.mp3 please write a new id3 tag "}));

    // No cover: the area is crossed corner to corner, and nothing is drawn outside it that
    // the next cover would leave behind.
    const auto& calls = window.drawCalls();
    const auto box = std::find_if(calls.begin(), calls.end(), [](const auto& call) {
        return call.kind == RecordingWindowLayer::DrawKind::Box;
    });
    ASSERT_NE(box, calls.end());
    const Box area = box->box;
    int lines = 0;
    for (const auto& call : calls) {
        if (call.kind != RecordingWindowLayer::DrawKind::Line)
            continue;
        ++lines;
        for (const auto& [x, y] : {std::pair{call.x1, call.y1}, std::pair{call.x2, call.y2}}) {
            EXPECT_TRUE(x == area.x || x == area.x + area.width - 1) << x;
            EXPECT_TRUE(y == area.y || y == area.y + area.height - 1) << y;
        }
    }
    EXPECT_EQ(lines, 2);
}

TEST_F(ProgressDisplayTest, ThePollsOfALongScanAreTheWindowsAndTheBarGoesAfterIt)
{
    run.analysisWorkers = 1;
    FrameStream vbr;
    for (int i = 0; i < 300; ++i)
        vbr.bitrates({128, 192}, FrameSpec{});
    tree.writeFile("vbr.mp3", vbr.bytes());
    run.settings.showBitrate = 1;
    bool barSeen = false;
    window.setPollHook([&](int) {
        barSeen = barSeen || window.hasGadget(scanProgressBar);
        return Event{};
    });
    walk();
    EXPECT_TRUE(barSeen);
    EXPECT_FALSE(window.hasGadget(scanProgressBar));
    EXPECT_FALSE(window.hasGadget(analysingField));
    EXPECT_GE(window.pollCount(), 600);
}

TEST_F(ProgressDisplayTest, ClosingTheWindowDuringAScanEndsTheRun)
{
    run.analysisWorkers = 1;
    FrameStream vbr;
    for (int i = 0; i < 500; ++i)
        vbr.bitrates({128, 192}, FrameSpec{});
    tree.writeFile("long.mp3", vbr.bytes());
    run.settings.showBitrate = 1;
    window.setPollHook([](int poll) {
        return poll == 50 ? Event{EventKind::CloseWindow, 0, -1} : Event{};
    });
    walk();
    EXPECT_TRUE(run.closeRequested);
    EXPECT_EQ(window.pollCount(), 50);
    EXPECT_EQ(run.fileCount, 0);
}

} // namespace
} // namespace tagrelay
