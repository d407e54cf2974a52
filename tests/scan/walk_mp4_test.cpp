#include "scan/run_state.h"
#include "scan/walk.h"
#include "support/frame_bytes.h"
#include "support/recording_reporter.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tagrelay {
namespace {

/// A tree of M4A and MP4 files beside an MP3 file, walked with and without the more-formats
/// switch: without it the lists stay as they were, with it the new lines replace the old.
TEST(WalkMp4Test, TheSwitchAloneBringsTheLinesOfM4aAndMp4Files)
{
    test::TempTree tree;
    const std::string make =
        "cd '" + tree.path()
        + "' && ffmpeg -v error -f lavfi -i sine=duration=2.5 -c:a aac -metadata title=Song"
          " song.m4a && ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=50:duration=2"
          " -c:v libx264 -pix_fmt yuv420p clip.mp4 && head -c 3000 clip.mp4 > cut.mov";
    if (std::system((make + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "ffmpeg missing (scripts/install-deps)";
    tree.writeFile("tune.mp3", test::FrameStream().frames(40, {}).bytes());
    const std::string old = "\"song.m4a\" written by someone else\r\n"
                            "\"clip.mp4\" also theirs\r\n";
    tree.writeFile("descript.ion", old);

    RunState run;
    run.settings.showTitle = run.settings.showPlaytime = run.settings.showMovieInfo = 1;
    test::RecordingReporter reporter;
    describeDirectory(tree.path(), 0, reporter, run);
    const std::string without = test::readFileText(tree.path() + "descript.ion");
    EXPECT_NE(without.find(old), std::string::npos) << without;
    EXPECT_EQ(without.find("cut.mov"), std::string::npos) << without;
    EXPECT_EQ(run.fileCount, 1);

    run.settings.moreFormats = 1;
    describeDirectory(tree.path(), 0, reporter, run);
    const std::string with = test::readFileText(tree.path() + "descript.ion");
    // The old lines are gone, the MP3 line is as before; the cut movie gets no line.
    EXPECT_EQ(with.find("someone else"), std::string::npos) << with;
    EXPECT_EQ(with.find("theirs"), std::string::npos) << with;
    const std::size_t mp3 = without.find("\"tune.mp3\"");
    ASSERT_NE(mp3, std::string::npos) << without;
    EXPECT_NE(with.find(without.substr(mp3, without.find("\r\n", mp3) + 2 - mp3)),
              std::string::npos)
        << with;
    EXPECT_NE(with.find("\"song.m4a\" Song - 0:02 min\r\n"), std::string::npos) << with;
    EXPECT_NE(with.find("\"clip.mp4\" 48 x 64 pixel - 50 fps - 0:02 min\r\n"), std::string::npos)
        << with;
    EXPECT_EQ(with.find("cut.mov"), std::string::npos) << with;
    EXPECT_EQ(run.fileCount, 1 + 3);
    EXPECT_EQ(reporter.withPrefix("error MP4 file cut short before its moov box: ").size(), 1u);
}

} // namespace
} // namespace tagrelay
