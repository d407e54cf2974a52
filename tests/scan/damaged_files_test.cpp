#include "scan/run_state.h"
#include "scan/walk.h"
#include "shell/progress_display.h"
#include "support/frame_bytes.h"
#include "support/recording_window_layer.h"
#include "support/support.h"
#include "support/window_walk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <random>

namespace tagrelay {
namespace {

using Bytes = std::vector<std::uint8_t>;

/// Files as encoders, taggers and downloads leave them, made in a folder of their own.
class DamagedFileMaker
{
  public:
    explicit DamagedFileMaker(test::TempTree& tree) : m_tree(tree) {}

    /// Runs a shell command in the work folder; false when it failed.
    bool run(const std::string& command)
    {
        return std::system(("cd '" + m_tree.path() + "work' && " + command).c_str()) == 0;
    }

    /// lame's output for `seconds` of tone and noise at the rate and channels given.
    Bytes lame(const std::string& options, int rate, int channels, double seconds)
    {
        m_tree.writeFile("work/in.wav", test::toneWithNoiseWav(rate, channels, seconds));
        if (!run("lame --quiet " + options + " in.wav out.mp3 2>/dev/null"))
            return {};
        return bytes("out.mp3");
    }

    Bytes bytes(const std::string& name)
    {
        return test::readFileBytes(m_tree.path() + "work/" + name);
    }

  private:
    test::TempTree& m_tree;
};

/// Bytes rich in sync pairs that start no frame of a stream.
Bytes syncRichJunk(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes junk(size);
    for (auto& byte : junk) {
        const auto pick = random() % 4;
        byte = static_cast<std::uint8_t>(pick == 0   ? 0xFF
                                         : pick == 1 ? 0xE0 | (random() & 0x1F)
                                                     : random() & 0xFF);
    }
    return junk;
}

Bytes insertAt(Bytes bytes, std::size_t at, const Bytes& inserted)
{
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), inserted.begin(), inserted.end());
    return bytes;
}

/// The length of the ID3v2 tag at the start of lame's output (its header and its size).
std::size_t tagLength(const Bytes& file)
{
    if (file.size() < 10 || file[0] != 'I' || file[1] != 'D' || file[2] != '3')
        return 0;
    return 10 + (std::size_t{file[6]} << 21) + (std::size_t{file[7]} << 14)
           + (std::size_t{file[8]} << 7) + file[9];
}

struct DamagedCase
{
    const char* name;
    const char* tools;    // what must be installed to make the file
    const char* fileName; // ".mp3" or ".jpg"
    Bytes (*make)(DamagedFileMaker&);
    const char* lineEnd; // how the file's description ends
    const char* entry;   // its entry in the list of files with errors, before the path; "": none
};

void PrintTo(const DamagedCase& row, std::ostream* out)
{
    *out << row.name;
}

class DamagedFileTest : public testing::TestWithParam<DamagedCase>
{
  protected:
    DamagedFileTest()
    {
        openWalkWindow(window, "test");
        Settings& s = run.settings;
        s.showBitrate = s.showAudioMode = s.showPlaytime = 1;
        s.showPictureSize = s.makePictureIcons = 1;
        s.iconSize = 32;
        tree.makeDir("work");
        tree.makeDir("music");
    }

    test::TempTree tree;
    RecordingWindowLayer window;
    RunState run;
};

bool hasTools(const char* tools)
{
    return std::system(("for t in " + std::string(tools)
                        + "; do command -v $t >/dev/null || exit 1;"
                          " done")
                           .c_str())
           == 0;
}

// Each file gets the line it got before, and is named in the list of files with errors.
TEST_P(DamagedFileTest, GetsItsLineAndItsEntry)
{
    const DamagedCase& row = GetParam();
    if (!hasTools(row.tools))
        GTEST_SKIP() << row.tools << " not installed (scripts/install-deps installs them)";
    DamagedFileMaker maker(tree);
    const Bytes file = row.make(maker);
    ASSERT_FALSE(file.empty()) << "the encoder or tagger failed";
    const std::string path = tree.writeFile("music/" + std::string(row.fileName), file);

    describeDirectory(tree.path() + "music/", 0, window, run);

    const std::string list = test::readFileText(tree.path() + "music/descript.ion");
    const std::string start = "\"" + std::string(row.fileName) + "\" ";
    ASSERT_EQ(list.rfind(start, 0), 0u) << list;
    const std::string description = list.substr(start.size(), list.size() - start.size() - 2);
    EXPECT_TRUE(description.ends_with(row.lineEnd)) << description;
    const std::string entry = row.entry;
    EXPECT_EQ(run.errors,
              entry.empty() ? std::vector<std::string>{} : std::vector<std::string>{entry + path});
    // A cut picture gets no icon of grey rows.
    struct stat icon
    {
    };
    if (std::string_view(row.fileName).ends_with(".jpg")) {
        EXPECT_EQ(::stat((path + ".ico").c_str(), &icon) == 0, entry.empty());
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Found, DamagedFileTest, testing::Values(
    // A podcast at 16 kHz mono averages 40-odd kbit/s: its bytes at the whole kbit/s below the
    // mean ran seconds too long.
    DamagedCase{"VbrPodcastIsTimedByItsFrames", "lame", "podcast.mp3", [](DamagedFileMaker& make) {
        return make.lame("-V 9", 16000, 1, 150.5);
    }, " kbs VBR - Mono - 2:30 min", ""},
    // 100 kB of zeros in the middle, as a broken download leaves them: the frames behind
    // them are walked too, and the zeros take no time.
    DamagedCase{"VbrWithZerosInTheMiddle", "lame", "gap.mp3", [](DamagedFileMaker& make) {
        const Bytes file = make.lame("-V 2", 44100, 2, 20.5);
        return file.empty() ? file : insertAt(file, file.size() / 2, Bytes(100000, 0));
    }, " kbs VBR - Joint Stereo - 0:20 min", ""},
    DamagedCase{"CbrCutAtSixtyPercent", "lame", "cut.mp3", [](DamagedFileMaker& make) {
        Bytes file = make.lame("-b 128 --tt Song --add-id3v2", 44100, 2, 20.5);
        file.resize(file.size() * 6 / 10);
        return file;
    }, "128 kbs CBR - Joint Stereo - 0:12 min", "auch hier ein kleines Problem: "},
    DamagedCase{"CbrFramesStopBeforeTheEnd", "lame", "tail.mp3", [](DamagedFileMaker& make) {
        const Bytes file = make.lame("-b 64 -m m", 44100, 1, 10.5);
        return file.empty() ? file : insertAt(file, file.size(), syncRichJunk(3000, 3));
    }, "64 kbs CBR - Mono - 0:10 min", "auch hier ein kleines Problem: "},
    // A small tag in front of one holding a cover, as a tagger that does not read the tag
    // already there leaves the file.
    DamagedCase{"SecondTagWithACoverBehindTheFirst", "lame ffmpeg id3v2 mid3v2", "two.mp3", [](DamagedFileMaker& make) {
        Bytes audio = make.lame("-V 2", 44100, 2, 20.5);
        if (audio.empty()
            || !make.run("ffmpeg -v error -y -f lavfi -i testsrc=size=300x300 -frames:v 1 "
                         "cover.jpg && mid3v2 -t Song -p cover.jpg:Cover:3:image/jpeg out.mp3"
                         " && : > small.mp3 && id3v2 -2 -t Small small.mp3"))
            return Bytes{};
        Bytes file = make.bytes("small.mp3");
        const Bytes tagged = make.bytes("out.mp3");
        file.insert(file.end(), tagged.begin(), tagged.end());
        return file;
    }, " kbs VBR - Joint Stereo - 0:20 min", ""},
    DamagedCase{"JunkBetweenTheTagAndTheAudio", "lame", "junk.mp3", [](DamagedFileMaker& make) {
        const Bytes file = make.lame("-V 4 --tt Song --add-id3v2", 44100, 2, 20.5);
        return file.empty() ? file : insertAt(file, tagLength(file), syncRichJunk(3000, 7));
    }, " kbs VBR - Joint Stereo - 0:20 min", ""},
    // Whole files whose search ends where it ended before.
    DamagedCase{"FreeFormatStream", "lame", "free.mp3", [](DamagedFileMaker& make) {
        return make.lame("--freeformat -b 400", 44100, 2, 5.5);
    }, "0 kbs CBR - Joint Stereo - ", ""},
    DamagedCase{"JpegCutAfterItsHeader", "ffmpeg", "photo.jpg", [](DamagedFileMaker& make) {
        if (!make.run("ffmpeg -v error -y -f lavfi -i testsrc=size=480x360 -frames:v 1 photo.jpg"))
            return Bytes{};
        Bytes file = make.bytes("photo.jpg");
        // 50 bytes of the scan data behind the start-of-scan segment.
        for (std::size_t at = 0; at + 4 < file.size(); ++at) {
            if (file[at] == 0xFF && file[at + 1] == 0xDA) {
                file.resize(at + 2 + (std::size_t{file[at + 2]} << 8) + file[at + 3] + 50);
                break;
            }
        }
        return file;
    }, "480 x 360 pixel 24 Bit", "Picture cut short, its data ends early: "},
    DamagedCase{"WholeJpeg", "ffmpeg", "whole.jpg", [](DamagedFileMaker& make) {
        return make.run("ffmpeg -v error -y -f lavfi -i testsrc=size=480x360 -frames:v 1 p.jpg")
                   ? make.bytes("p.jpg") : Bytes{};
    }, "480 x 360 pixel 24 Bit", ""}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

// Random bytes named as music: none of them holds a frame of a stream, and every one is named.
TEST_F(DamagedFileTest, EveryFileOfRandomBytesIsNamed)
{
    std::mt19937 random(20000);
    for (int n = 0; n < 12; ++n) {
        Bytes bytes(20000);
        for (auto& byte : bytes)
            byte = static_cast<std::uint8_t>(random());
        tree.writeFile("music/random" + std::to_string(n) + ".mp3", bytes);
    }

    describeDirectory(tree.path() + "music/", 0, window, run);

    ASSERT_EQ(run.errors.size(), 12u);
    for (const std::string& entry : run.errors)
        EXPECT_EQ(entry.rfind("No MPEG audio frame found: " + tree.path() + "music/random", 0), 0u)
            << entry;
    const std::string list = test::readFileText(tree.path() + "music/descript.ion");
    for (int n = 0; n < 12; ++n)
        EXPECT_NE(list.find("\"random" + std::to_string(n) + ".mp3\" 0 kbs CBR -  - \r\n"),
                  std::string::npos)
            << list;
}

} // namespace
} // namespace tagrelay
