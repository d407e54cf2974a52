#include "mpeg/frame_header.h"
#include "mpeg/stream_scan.h"
#include "platform/byte_reader.h"
#include "support/frame_bytes.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace tagrelay {
namespace {

bool hasTool(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

/// Options that start with this prefix go to ffmpeg's MP3 encoder instead of lame.
constexpr std::string_view ffmpegPrefix = "ffmpeg ";

/// A file made by a real encoder from a tone with noise bursts, and what it was asked for.
struct EncoderCase
{
    const char* name;
    int inputRate;
    int inputChannels;
    const char* options;
    int version;
    int sampleRate;
    const char* channelMode;
    int bitrate; // 0: a VBR stream, whose average is checked against its size
    int samplesPerFrame;
};

class EncoderOutputTest : public ::testing::TestWithParam<EncoderCase>
{
  protected:
    static constexpr double seconds = 6.0;

    /// Encodes the tone with the row's options; empty when the encoder failed.
    std::string encode(const EncoderCase& row)
    {
        const auto wav = tree.writeFile(
            "in.wav", test::toneWithNoiseWav(row.inputRate, row.inputChannels, seconds));
        const auto mp3 = tree.path() + "out.mp3";
        const std::string_view options = row.options;
        const std::string command =
            options.starts_with(ffmpegPrefix)
                ? "ffmpeg -v error -y -i '" + wav + "' -c:a libmp3lame -write_id3v1 1 "
                      + "-metadata title=Song -metadata artist=Band "
                      + std::string(options.substr(ffmpegPrefix.size())) + " '" + mp3 + "'"
                : std::string("lame --quiet --tt Song --ta Band --add-id3v2 ") + row.options + " '"
                      + wav + "' '" + mp3 + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0)
            return {};
        return mp3;
    }

    test::TempTree tree;
};

TEST_P(EncoderOutputTest, AgreesWithWhatTheEncoderWasAskedFor)
{
    const EncoderCase& row = GetParam();
    const char* encoder =
        std::string_view(row.options).starts_with(ffmpegPrefix) ? "ffmpeg" : "lame";
    if (!hasTool(encoder))
        GTEST_SKIP() << encoder << " is not installed (scripts/install-deps installs it)";
    const auto path = encode(row);
    ASSERT_FALSE(path.empty()) << "lame failed for " << row.options;
    const auto size = static_cast<std::int64_t>(test::readFileBytes(path).size());

    ByteReader file(path, mpegReadWindow);
    const FirstFrame first = readFrameHeader(file);
    ASSERT_EQ(first.result, 1);
    int counted = 0;
    const StreamScan scan = scanStream(file, [&](std::int64_t, std::int64_t) {
        ++counted;
        return true;
    });
    const FrameFacts& facts = first.facts;

    EXPECT_GT(facts.audioStart, 0) << "the ID3v2 tag comes first";
    EXPECT_EQ(facts.audioBytes, size - facts.audioStart - 128) << "the ID3v1 tag comes last";
    EXPECT_EQ(facts.mpegVersion, row.version);
    EXPECT_EQ(facts.layer, 3);
    EXPECT_EQ(facts.sampleRate, row.sampleRate);
    EXPECT_EQ(facts.channelMode, row.channelMode);
    EXPECT_EQ(scan.framesPastEnd, 0);

    const double framesInInput = seconds * row.sampleRate / row.samplesPerFrame;
    if (row.bitrate > 0) {
        EXPECT_EQ(scan.bitrate, row.bitrate);
        EXPECT_FALSE(scan.isVbr);
        EXPECT_EQ(counted, 100) << "a CBR stream stops at the 100th frame";
    } else {
        EXPECT_TRUE(scan.isVbr);
        // Walked to the end: every frame of the input, give or take the encoder's delay.
        EXPECT_NEAR(counted, framesInInput, 4.0);
        const double averageFromSize = static_cast<double>(facts.audioBytes) * 8.0
                                       / (counted * row.samplesPerFrame) * row.sampleRate / 1000.0;
        // The average is a whole number, cut toward zero.
        EXPECT_NEAR(scan.bitrate, averageFromSize, averageFromSize * 0.03 + 1.0);
    }
    const double playingTime =
        static_cast<double>(facts.audioBytes) * 8.0 / (scan.bitrate * 1000.0);
    EXPECT_NEAR(playingTime, seconds, 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Lame, EncoderOutputTest,
    ::testing::Values(
        EncoderCase{"Cbr128JointStereo", 44100, 2, "-b 128 -m j", 1, 44100, "Joint Stereo", 128,
                    1152},
        EncoderCase{"Cbr32Stereo", 44100, 2, "-b 32 -m s --resample 44.1", 1, 44100, "Stereo", 32,
                    1152},
        EncoderCase{"Cbr96DualChannel", 48000, 2, "-b 96 -m d --resample 48", 1, 48000,
                    "Dual Chanel", 96, 1152},
        // Every audio frame at the lowest bitrate, behind a Xing frame at 128 (MPEG 1) or 64
        // (MPEG 2) kbit/s: constant, whatever the first frame says.
        EncoderCase{"PinnedAbrBehindXing", 44100, 2, "--abr 32 -b 32 -B 32 -F --resample 44.1 -m s",
                    1, 44100, "Stereo", 32, 1152},
        EncoderCase{"PinnedAbrWithCrc", 44100, 2, "--abr 32 -b 32 -B 32 -F --resample 44.1 -m s -p",
                    1, 44100, "Stereo", 32, 1152},
        EncoderCase{"Mpeg2PinnedAbrBehindXing", 44100, 1, "--abr 8 -b 8 -B 8 -F --resample 16 -m m",
                    2, 16000, "Mono", 8, 576},
        EncoderCase{"VbrQuality4", 44100, 2, "-V 4 -m j", 1, 44100, "Joint Stereo", 0, 1152},
        EncoderCase{"VbrMono", 32000, 1, "-V 2 -m m", 1, 32000, "Mono", 0, 1152},
        EncoderCase{"Mpeg2Cbr64", 44100, 2, "--resample 22.05 -b 64 -m s", 2, 22050, "Stereo", 64,
                    576},
        EncoderCase{"Mpeg2Cbr8Mono", 44100, 1, "--resample 16 -b 8 -m m", 2, 16000, "Mono", 8, 576},
        EncoderCase{"Mpeg2Vbr", 24000, 2, "-V 5 -m j", 2, 24000, "Joint Stereo", 0, 576},
        EncoderCase{"Mpeg25Cbr24Mono", 44100, 1, "--resample 11.025 -b 24 -m m", 2, 11025, "Mono",
                    24, 576},
        EncoderCase{"Mpeg25Vbr", 8000, 1, "-V 6 -m m", 2, 8000, "Mono", 0, 576}),
    [](const auto& row) { return std::string(row.param.name); });

// ffmpeg writes its information frame with the mode bits of plain stereo whatever the audio
// frames carry: the mode is the audio's.
INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, EncoderOutputTest,
    ::testing::Values(
        EncoderCase{"Cbr128JointStereo", 44100, 2, "ffmpeg -b:a 128k", 1, 44100, "Joint Stereo",
                    128, 1152},
        EncoderCase{"Cbr192Stereo", 44100, 2, "ffmpeg -b:a 192k -joint_stereo 0", 1, 44100,
                    "Stereo", 192, 1152},
        EncoderCase{"VbrJointStereo", 44100, 2, "ffmpeg -q:a 4", 1, 44100, "Joint Stereo", 0, 1152},
        EncoderCase{"VbrStereo", 48000, 2, "ffmpeg -q:a 2 -joint_stereo 0", 1, 48000, "Stereo", 0,
                    1152},
        EncoderCase{"Cbr64Mono", 44100, 1, "ffmpeg -b:a 64k -ac 1", 1, 44100, "Mono", 64, 1152},
        EncoderCase{"Mpeg2Cbr64", 22050, 2, "ffmpeg -b:a 64k", 2, 22050, "Joint Stereo", 64, 576}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace tagrelay
