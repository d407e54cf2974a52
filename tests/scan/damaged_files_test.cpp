#include "scan/run_state.h"
#include "scan/walk.h"
#include "support/frame_bytes.h"
#include "support/recording_reporter.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
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

/// lame's output for `seconds` of tone and noise.
Bytes lame(const std::string& folder, const std::string& options, int rate, int channels,
           double seconds)
{
    const Bytes wav = test::toneWithNoiseWav(rate, channels, seconds);
    std::ofstream(folder + "in.wav", std::ios::binary)
        .write(reinterpret_cast<const char*>(wav.data()), static_cast<std::streamsize>(wav.size()));
    return made(folder, "lame --quiet " + options + " in.wav out");
}

/// Bytes rich in sync pairs (0xFF and bytes with the top three bits set).
Bytes syncRichJunk(std::size_t size)
{
    std::mt19937 random(7);
    Bytes junk(size);
    for (auto& byte : junk)
        byte = static_cast<std::uint8_t>(random() % 2 == 0 ? 0xFF : 0xE0 | (random() & 0x1F));
    return junk;
}

Bytes insertAt(Bytes bytes, std::size_t at, const Bytes& inserted)
{
    if (!bytes.empty())
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), inserted.begin(),
                     inserted.end());
    return bytes;
}

struct DamagedCase
{
    const char* name;
    const char* fileName;
    Bytes (*make)(const std::string& work);
    const char* lineEnd; // how the description ends
    const char* entry;   // the entry in the list of files with errors before the path; "": none
};

void PrintTo(const DamagedCase& row, std::ostream* out)
{
    *out << row.name;
}

class DamagedFileTest : public testing::TestWithParam<DamagedCase>
{
  protected:
    std::string walk(const std::string& name, const Bytes& file)
    {
        Settings& s = run.settings;
        s.showBitrate = s.showAudioMode = s.showPlaytime = s.showPictureSize = 1;
        s.makePictureIcons = 1;
        s.iconSize = 32;
        tree.writeFile("music/" + name, file);
        describeDirectory(tree.path() + "music/", 0, reporter, run);
        return test::readFileText(tree.path() + "music/descript.ion");
    }

    test::TempTree tree;
    test::RecordingReporter reporter;
    RunState run;
};

// Each file gets the line it got before (the playing time the peers give) and is named.
TEST_P(DamagedFileTest, GetsItsLineAndItsEntry)
{
    const DamagedCase& row = GetParam();
    if (std::system("(command -v lame && command -v ffmpeg && command -v mid3v2 && "
                    "command -v id3v2) >/dev/null")
        != 0)
        GTEST_SKIP() << "lame, ffmpeg, mid3v2 or id3v2 missing (scripts/install-deps)";
    const Bytes file = row.make(tree.makeDir("work"));
    ASSERT_FALSE(file.empty()) << "the encoder or tagger failed";

    const std::string list = walk(row.fileName, file);
    EXPECT_TRUE(list.starts_with("\"" + std::string(row.fileName) + "\" "));
    EXPECT_TRUE(list.ends_with(std::string(row.lineEnd) + "\r\n")) << list;
    const std::string path = tree.path() + "music/" + row.fileName;
    EXPECT_EQ(run.errors, *row.entry == 0 ? std::vector<std::string>{}
                                          : std::vector<std::string>{row.entry + path});
    if (std::string_view(row.fileName).ends_with(".jpg")) {
        EXPECT_EQ(::access((path + ".ico").c_str(), F_OK) == 0, *row.entry == 0);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Found, DamagedFileTest, testing::Values(
    DamagedCase{"VbrPodcastTimedByItsFrames", "pod.mp3", [](const std::string& work) {
        return lame(work, "-V 9", 16000, 1, 150.5);
    }, " kbs VBR - Mono - 2:30 min", ""},
    DamagedCase{"VbrWithZerosInTheMiddle", "gap.mp3", [](const std::string& work) {
        const Bytes file = lame(work, "-V 2", 44100, 2, 20.5);
        return insertAt(file, file.size() / 2, Bytes(100000, 0));
    }, " kbs VBR - Joint Stereo - 0:20 min", ""},
    DamagedCase{"CbrCutAtSixtyPercent", "cut.mp3", [](const std::string& work) {
        Bytes file = lame(work, "-b 128 --tt Song --add-id3v2", 44100, 2, 20.5);
        file.resize(file.size() * 6 / 10);
        return file;
    }, "128 kbs CBR - Joint Stereo - 0:12 min", "auch hier ein kleines Problem: "},
    DamagedCase{"CbrWithJunkBehindItsFrames", "tail.mp3", [](const std::string& work) {
        const Bytes file = lame(work, "-b 64 -m m", 44100, 1, 10.5);
        return insertAt(file, file.size(), syncRichJunk(3000));
    }, "64 kbs CBR - Mono - 0:10 min", "auch hier ein kleines Problem: "},
    // A small tag in front of one with a cover, as a tagger that ignores the tag there leaves it.
    DamagedCase{"SecondTagWithACoverBehindTheFirst", "two.mp3", [](const std::string& work) {
        return lame(work, "-V 2", 44100, 2, 20.5).empty() ? Bytes{} : made(work,
            "ffmpeg -v error -f lavfi -i testsrc=size=300x300 -frames:v 1 c.jpg && mid3v2 -t Song"
            " -p c.jpg:Cover:3:image/jpeg out && : >a && id3v2 -2 -t Small a && cat a out >o && mv o out");
    }, " kbs VBR - Joint Stereo - 0:20 min", ""},
    DamagedCase{"JunkBetweenTheTagAndTheAudio", "junk.mp3", [](const std::string& work) {
        const Bytes file = lame(work, "-V 4 --tt Song --add-id3v2", 44100, 2, 20.5);
        const std::size_t tag = file.size() < 10 ? 0 : 10 + (std::size_t{file[8]} << 7) + file[9];
        return insertAt(file, tag, syncRichJunk(3000));
    }, " kbs VBR - Joint Stereo - 0:20 min", ""},
    // Random bytes named as music: every such file is named.
    DamagedCase{"RandomBytes", "random.mp3", [](const std::string&) {
        std::mt19937 random(20000);
        Bytes bytes(20000);
        for (auto& byte : bytes)
            byte = static_cast<std::uint8_t>(random());
        return bytes;
    }, "0 kbs CBR -  - ", "No MPEG audio frame found: "},
    // A whole free-format stream keeps the start it had.
    DamagedCase{"FreeFormatStream", "free.mp3", [](const std::string& work) {
        return lame(work, "--freeformat -b 400", 44100, 2, 5.5);
    }, "0 kbs CBR - Joint Stereo - ", ""},
    // About 50 bytes of scan data: the rest would come out grey.
    DamagedCase{"JpegCutAfterItsHeader", "photo.jpg", [](const std::string& work) {
        Bytes file = made(work, "ffmpeg -v error -f lavfi -i testsrc=size=480x360 -frames:v 1 -f mjpeg out");
        for (std::size_t at = 0; at + 4 < file.size(); ++at) {
            if (file[at] == 0xFF && file[at + 1] == 0xDA)
                return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(at + 70));
        }
        return Bytes{};
    }, "480 x 360 pixel 24 Bit", "Picture cut short, its data ends early: "}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

} // namespace
} // namespace tagrelay
