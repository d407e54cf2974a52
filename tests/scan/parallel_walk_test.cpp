// The walk with several analysis threads against the walk on one: the same lists, icon files,
// error list and window, call for call.

#include "scan/run_state.h"
#include "scan/walk.h"
#include "shell/progress_display.h"
#include "support/frame_bytes.h"
#include "support/id3_bytes.h"
#include "support/picture_bytes.h"
#include "support/recording_reporter.h"
#include "support/recording_window_layer.h"
#include "support/support.h"
#include "support/window_walk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>

namespace tagrelay {
namespace {

using test::Bytes;
using test::FrameSpec;
using test::FrameStream;
using test::Id3v2Builder;

/// Everything a walk leaves: the files it wrote, its error list, and the window's history.
struct WalkRecord
{
    std::map<std::string, std::string> written; // lists and icon files by path in the tree
    std::vector<std::string> errors;
    std::int32_t fileCount = 0;
    bool stopped = false;
    std::vector<int> createdGadgets;
    std::vector<std::string> drawCalls;
    std::map<int, std::string> finalGadgets;
};

std::string summary(const RecordingWindowLayer::Gadget& gadget)
{
    std::string text = std::to_string(static_cast<int>(gadget.kind)) + "|" + gadget.text + "|"
                       + std::to_string(gadget.value) + "/" + std::to_string(gadget.maximum);
    for (const std::string& line : gadget.lines)
        text += "|" + line;
    return text;
}

class ParallelWalkTest : public testing::Test
{
  protected:
    ParallelWalkTest()
    {
        Settings& s = settings;
        s.showArtist = s.showAlbum = s.showTitle = s.showBitrate = s.showAudioMode = 1;
        s.showPlaytime = s.showGenre = s.makeMp3Icons = 1;
        s.showPictureSize = s.makePictureIcons = 1;
        s.iconSize = 40;
        s.htmlIndex = 1;
    }

    /// A tree of the kinds of files the walk meets, damaged ones among them, over folders.
    void makeTree()
    {
        std::mt19937 random(11);
        const Bytes cover = test::jpegFile(test::solidImage(300, 200, {200, 40, 40}));
        for (int album = 0; album < 3; ++album) {
            const std::string folder = "artist/album" + std::to_string(album) + "/";
            for (int track = 0; track < 7; ++track) {
                Id3v2Builder tag;
                tag.textFrame("TIT2", "Track " + std::to_string(track))
                    .textFrame("TPE1", "Artist")
                    .textFrame("TCON", "(17)");
                if (album != 1)
                    tag.pictureFrame(3, "image/jpeg", cover);
                FrameStream stream;
                stream.raw(tag.padding(64).bytes());
                if (track % 2 == 0)
                    stream.frames(150 + 40 * track, FrameSpec{});
                for (int i = 0; track % 2 == 1 && i < 200; ++i)
                    stream.bitrates({128, 192, 256}, FrameSpec{});
                tree.writeFile(folder + std::to_string(track) + ".mp3", stream.bytes());
            }
            tree.writeFile(folder + "folder.jpg",
                           test::jpegFile(test::solidImage(120 + album, 90, {1, 2, 3})));
            tree.writeFile(folder + "scan.bmp", test::bmpFile(test::solidImage(33, 17, {9, 8, 7})));
            Bytes noise(3000);
            for (auto& byte : noise)
                byte = static_cast<std::uint8_t>(random());
            tree.writeFile(folder + "broken.mp3", noise);
            tree.writeFile(folder + "broken.jpg", noise);
            tree.writeFile(folder + "notes.txt", "not described");
            // Entries the workers get no job for, among the MP3 files: links of another user
            // that lead out of the tree are refused when their turn comes. Each must take its
            // own outcome, not the next pending one of its folder.
            for (int link = 0; ::geteuid() == 0 && link < 4; ++link) {
                const std::string name =
                    tree.path() + folder + "link" + std::to_string(link) + ".mp3";
                ASSERT_EQ(::symlink(outsideSong.c_str(), name.c_str()), 0);
                ASSERT_EQ(::lchown(name.c_str(), 65534, 65534), 0);
            }
        }
        tree.writeFile("top.mp3", FrameStream().frames(120, FrameSpec{}).bytes());
        tree.writeFile("quote\".mp3", "x");
        ::mkfifo((tree.path() + "pipe.mp3").c_str(), 0600);
    }

    WalkRecord walkWith(int workers, std::function<Event(int)> pollHook = {})
    {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.path())) {
            const std::string name = entry.path().filename().string();
            if (name == "descript.ion" || name == "index.html"
                || entry.path().extension() == ".ico")
                std::filesystem::remove(entry.path());
        }
        RecordingWindowLayer window;
        openWalkWindow(window, "test");
        if (pollHook)
            window.setPollHook(std::move(pollHook));
        RunState run;
        run.settings = settings;
        run.analysisWorkers = workers;
        describeDirectory(tree.path(), 0, window, run);

        WalkRecord record;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.path())) {
            const std::string name = entry.path().filename().string();
            if (name == "descript.ion" || name == "index.html"
                || entry.path().extension() == ".ico")
                record.written[entry.path().string()] = test::readFileText(entry.path().string());
        }
        record.errors = run.errors;
        record.fileCount = run.fileCount;
        record.stopped = run.closeRequested;
        record.createdGadgets = window.createdGadgets();
        for (const auto& call : window.drawCalls())
            record.drawCalls.push_back(
                std::to_string(static_cast<int>(call.kind)) + " " + std::to_string(call.box.x) + " "
                + std::to_string(call.imageWidth) + " " + std::to_string(call.colour));
        for (int number = 0; number < 400; ++number) {
            // The elapsed time depends on the clock, not on the walk.
            if (const auto* gadget = window.gadget(number); gadget && number != elapsedField)
                record.finalGadgets[number] = summary(*gadget);
        }
        return record;
    }

    test::TempTree tree;
    test::TempTree outside;
    const std::string outsideSong =
        outside.writeFile("song.mp3", FrameStream().frames(90, FrameSpec{}).bytes());
    Settings settings;
};

TEST_F(ParallelWalkTest, AnyNumberOfWorkersGivesTheWalkOfOneThread)
{
    makeTree();
    const WalkRecord serial = walkWith(1);
    ASSERT_GT(serial.fileCount, 20);
    ASSERT_GE(serial.errors.size(), 6u);
    for (const int workers : {2, 3, 8, 2}) {
        const WalkRecord parallel = walkWith(workers);
        EXPECT_EQ(parallel.written, serial.written) << workers;
        EXPECT_EQ(parallel.errors, serial.errors) << workers;
        EXPECT_EQ(parallel.fileCount, serial.fileCount) << workers;
        EXPECT_EQ(parallel.createdGadgets, serial.createdGadgets) << workers;
        EXPECT_EQ(parallel.drawCalls, serial.drawCalls) << workers;
        EXPECT_EQ(parallel.finalGadgets, serial.finalGadgets) << workers;
    }
}

/// What the walk reports, in order, to a front end that shows covers, less the polls (a
/// worker's file is waited for with polls of its own): the same for any number of workers.
TEST_F(ParallelWalkTest, AnyNumberOfWorkersReportsWhatOneThreadReports)
{
    makeTree();
    const auto reportsWith = [this](int workers) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.path())) {
            if (entry.path().filename() == "descript.ion" || entry.path().extension() == ".ico")
                std::filesystem::remove(entry.path());
        }
        test::RecordingReporter reporter;
        reporter.covers = true;
        RunState run;
        run.settings = settings;
        run.analysisWorkers = workers;
        describeDirectory(tree.path(), 0, reporter, run);
        std::vector<std::string> reports;
        for (const std::string& report : reporter.reports) {
            if (report != "poll")
                reports.push_back(report);
        }
        return reports;
    };
    const std::vector<std::string> serial = reportsWith(1);
    ASSERT_GT(serial.size(), 100u);
    for (const int workers : {2, 8})
        EXPECT_EQ(reportsWith(workers), serial) << workers;
}

TEST_F(ParallelWalkTest, AStopLeavesWholeListsOfTheFilesDoneInOrder)
{
    makeTree();
    const WalkRecord serial = walkWith(1);
    for (const int closeAt : {1, 5, 20}) {
        const WalkRecord stopped = walkWith(3, [closeAt](int poll) {
            return poll == closeAt ? Event{EventKind::CloseWindow, 0, -1} : Event{};
        });
        EXPECT_TRUE(stopped.stopped);
        EXPECT_LT(stopped.fileCount, serial.fileCount);
        // Each list holds the lines of the files done, in the walk's order: the start of what
        // the whole walk writes there.
        for (const auto& [path, text] : stopped.written) {
            if (!path.ends_with("descript.ion"))
                continue;
            EXPECT_EQ(serial.written.at(path).rfind(text, 0), 0u) << path << " at " << closeAt;
        }
    }
}

} // namespace
} // namespace tagrelay
