#include "containers/matroska_reader.h"
#include "formats/matroska_format.h"
#include "scan/run_state.h"
#include "scan/walk.h"
#include "support/recording_reporter.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace tagrelay {
namespace {

using Bytes = std::vector<std::uint8_t>;

/// Runs a shell command in folder; empty when it failed, else the bytes of folder/out.
Bytes made(const std::string& folder, const std::string& command)
{
    if (std::system(("cd '" + folder + "' && " + command + " 2>/dev/null").c_str()) != 0)
        return {};
    return test::readFileBytes(folder + "out");
}

bool haveEncoders()
{
    return std::system("(command -v ffmpeg && command -v mkvmerge) >/dev/null") == 0;
}

struct MovieCase
{
    const char* name;
    const char* fileName;
    const char* command; // writes "out"
    std::int64_t frames;
    std::int64_t durationMs; // -1: not checked
    const char* line;        // the description (its start for a cut file); "": none
    const char* entry;       // the entry before the path; "": none
};

void PrintTo(const MovieCase& row, std::ostream* out)
{
    *out << row.name;
}

class MatroskaFileTest : public testing::TestWithParam<MovieCase>
{
  protected:
    test::TempTree tree;
};

// Files the encoders write: the facts the reader takes from them, and the line and entries the
// row writes for them in a walk.
TEST_P(MatroskaFileTest, DescribesTheEncodersOutput)
{
    const MovieCase& row = GetParam();
    if (!haveEncoders())
        GTEST_SKIP() << "ffmpeg or mkvmerge missing (scripts/install-deps)";
    const std::string work = tree.makeDir("work");
    const Bytes file = made(work, row.command);
    ASSERT_FALSE(file.empty()) << "the encoder failed";

    const std::string path = tree.writeFile(std::string("movies/") + row.fileName, file);
    ByteReader reader(path);
    const MatroskaFacts facts = readMatroska(reader);
    if (row.frames >= 0) {
        EXPECT_EQ(facts.frames, row.frames);
    } else {
        EXPECT_TRUE(facts.frames > 50 && facts.frames < 200) << facts.frames;
    }
    if (row.durationMs >= 0) {
        EXPECT_EQ(facts.durationNs, row.durationMs * 1000000);
    }

    RunState run;
    run.settings.showMovieInfo = 1;
    run.settings.moreFormats = 1;
    test::RecordingReporter reporter;
    describeDirectory(tree.path() + "movies/", 0, reporter, run);
    const std::string list = test::readFileText(tree.path() + "movies/descript.ion");
    // A file cut short is checked up to its minutes: where the cut falls depends on the encoder.
    const std::string line =
        *row.line == 0 ? "" : "\"" + std::string(row.fileName) + "\" " + row.line;
    EXPECT_EQ(list.substr(0, line.size()), line);
    EXPECT_EQ(list.size(), line.size() + (*row.line == 0 ? 0 : row.frames < 0 ? 8 : 2)) << list;
    EXPECT_EQ(run.errors, *row.entry == 0 ? std::vector<std::string>{}
                                          : std::vector<std::string>{row.entry + path});
}

constexpr const char* cutShort = "Movie cut short, its data ends early: ";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Made, MatroskaFileTest, testing::ValuesIn(std::vector<MovieCase>{
    {"Cfr25", "cfr.mkv", "ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -t 10 "
     "-c:v mpeg4 -f matroska out", 250, 10000, "120 x 160 pixel - 25 fps - 0:10 min", ""},
    // 4 s at 25 and 4 s at 50 fps: ffmpeg's Duration ends where the last frame starts.
    {"Vfr", "vfr.mkv", "ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25:duration=4 "
     "-f lavfi -i testsrc=size=160x120:rate=50:duration=4 -filter_complex "
     "'[0:v][1:v]concat=n=2:v=1[v]' -map '[v]' -vsync vfr -c:v libx264 -preset ultrafast "
     "-f matroska out", 300, 7980, "120 x 160 pixel - 38 fps - 0:08 min", ""},
    // Muxed to a pipe: no Duration, the last block's time plus the DefaultDuration.
    {"NoDurationFromAPipe", "pipe.mkv", "ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 "
     "-frames:v 250 -c:v mpeg4 -f matroska - > out", 250, 10000,
     "120 x 160 pixel - 25 fps - 0:10 min", ""},
    // With B-frames the last block in the file is not the latest.
    {"BFramesWithoutDuration", "bframes.mkv", "ffmpeg -v error -f lavfi "
     "-i testsrc=size=160x120:rate=25 -frames:v 250 -c:v libx264 -preset ultrafast -bf 2 "
     "-x264-params bframes=2:b-pyramid=0 -f matroska - > out", 250, 10000,
     "120 x 160 pixel - 25 fps - 0:10 min", ""},
    {"Ntsc2997", "ntsc.mkv", "ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=30000/1001 "
     "-t 10 -c:v mpeg4 -f matroska out", 300, 10010, "120 x 160 pixel - 30 fps - 0:10 min", ""},
    {"Sixty", "sixty.mkv", "ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=60 -t 10 "
     "-c:v mpeg4 -f matroska out", 600, 10000, "120 x 160 pixel - 60 fps - 0:10 min", ""},
    // mkvmerge laces the MP3 frames of the audio track: they are not the video's. Its Duration
    // is the Segment's, which the audio's last frame ends.
    {"MkvmergeWithLacedAudio", "merged.mkv", "ffmpeg -v error -f lavfi "
     "-i testsrc=size=160x120:rate=25 -t 10 -c:v mpeg4 v.mkv && ffmpeg -v error -f lavfi "
     "-i sine=d=10 -c:a libmp3lame a.mp3 && mkvmerge -q -o out v.mkv a.mp3", 250, -1,
     "120 x 160 pixel - 25 fps - 0:10 min", ""},
    {"Vp8", "vp8.webm", "ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -t 4 "
     "-c:v libvpx -b:v 100k -f webm out", 100, 4000, "120 x 160 pixel - 25 fps - 0:04 min", ""},
    {"Vp9", "vp9.webm", "ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -t 4 "
     "-c:v libvpx-vp9 -deadline realtime -b:v 100k -f webm out", 100, 4000,
     "120 x 160 pixel - 25 fps - 0:04 min", ""},
    // What was read before the cut: its blocks time it, not the Duration it promised.
    {"CutInHalf", "cut.mkv", "ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -t 10 "
     "-c:v mpeg4 -f matroska whole && head -c $(( $(stat -c %s whole) / 2 )) whole > out",
     -1, -1, "120 x 160 pixel - 25 fps - 0:", cutShort},
    {"RandomBytes", "noise.mkv", "head -c 20000 /dev/urandom > out", 0, -1, "",
     "Movie could not be loaded (no Matroska header): "},
    {"AudioOnly", "audio.mkv", "ffmpeg -v error -f lavfi -i sine=d=2 -c:a libmp3lame "
     "-f matroska out", 0, -1, "", "Movie could not be loaded (no video track): "},
}));
// clang-format on

// Without the switch the movies are not the walk's: the list others wrote stays byte for byte,
// the window's movie option or not. With it their lines are replaced and the others kept.
TEST(MatroskaWalkTest, DescribesMoviesOnlyWithTheSwitch)
{
    if (!haveEncoders())
        GTEST_SKIP() << "ffmpeg or mkvmerge missing (scripts/install-deps)";
    test::TempTree tree;
    const Bytes movie = made(tree.makeDir("work"), "ffmpeg -v error -f lavfi "
                                                   "-i testsrc=size=160x120:rate=25 -t 2 "
                                                   "-c:v libvpx -b:v 100k -f webm out");
    ASSERT_FALSE(movie.empty()) << "the encoder failed";
    tree.writeFile("movies/a.webm", movie);
    tree.writeFile("movies/sub/b.mkv", movie);
    tree.writeFile("movies/notes.txt", "notes");
    // In the order the walk keeps the lines of files it does not describe.
    const std::string oldList = "notes.txt my notes\r\n\"a.webm\" the first holiday\r\n";
    const std::string oldSubList = "\"b.mkv\" second\r\n";
    for (const int moreFormats : {0, 1}) {
        tree.writeFile("movies/descript.ion", oldList);
        tree.writeFile("movies/sub/descript.ion", oldSubList);
        RunState run;
        run.settings.showMovieInfo = 1;
        run.settings.moreFormats = moreFormats;
        test::RecordingReporter reporter;
        describeDirectory(tree.path() + "movies/", 0, reporter, run);
        const std::string list = test::readFileText(tree.path() + "movies/descript.ion");
        const std::string subList = test::readFileText(tree.path() + "movies/sub/descript.ion");
        if (moreFormats == 0) {
            EXPECT_EQ(list, oldList);
            EXPECT_EQ(subList, oldSubList);
        } else {
            EXPECT_EQ(list,
                      "notes.txt my notes\r\n\"a.webm\" 120 x 160 pixel - 25 fps - 0:02 min\r\n");
            EXPECT_EQ(subList, "\"b.mkv\" 120 x 160 pixel - 25 fps - 0:02 min\r\n");
        }
        EXPECT_TRUE(run.errors.empty());
    }
}

} // namespace
} // namespace tagrelay
