#include "mpeg/frame_header.h"
#include "platform/byte_reader.h"
#include "support/frame_bytes.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <tuple>

namespace tagrelay {
namespace {

using test::FrameSpec;
using test::FrameStream;

/// The decoded fields but audioBytes, as one value that tests compare at once.
using DecodedFields =
    std::tuple<std::int64_t, int, int, int, int, std::string, std::string, int, int, std::string>;

DecodedFields decodedFieldsOf(const FrameFacts& facts)
{
    return {facts.audioStart,   facts.mpegVersion, facts.layer,         facts.headerBitrate,
            facts.sampleRate,   facts.channelMode, facts.modeExtension, facts.copyrightFlag,
            facts.originalFlag, facts.emphasis};
}

class FrameHeaderTest : public ::testing::Test
{
  protected:
    FirstFrame firstFrameOf(const std::string& path)
    {
        ByteReader file(path);
        return readFrameHeader(file);
    }

    test::TempTree tree;
};

struct DecodeCase
{
    const char* name;
    std::array<std::uint8_t, 4> header;
    int result;
    int version;
    int layer;
    int bitrate;
    int rate;
    const char* channelMode;
    const char* modeExtension;
    int copyright;
    int original;
    const char* emphasis;
};

class FrameHeaderDecodeTest : public FrameHeaderTest,
                              public ::testing::WithParamInterface<DecodeCase>
{
};

TEST_P(FrameHeaderDecodeTest, DecodesTheFirstHeader)
{
    const DecodeCase& row = GetParam();
    // Zero payload keeps the file longer than an ID3v1 block.
    std::vector<std::uint8_t> bytes(row.header.begin(), row.header.end());
    bytes.resize(600, 0);
    // At the offset given, as the search would give it for a stream of such frames.
    ByteReader file(tree.writeFile("a.mp3", bytes));
    const FirstFrame first = readFrameHeaderAt(file, 0);

    EXPECT_EQ(first.result, row.result);
    EXPECT_TRUE(first.foundAudioStart);
    EXPECT_EQ(first.facts.audioBytes, 600);
    if (row.result != 1)
        EXPECT_EQ(decodedFieldsOf(first.facts), decodedFieldsOf(FrameFacts{}));
    else
        EXPECT_EQ(decodedFieldsOf(first.facts),
                  DecodedFields(0, row.version, row.layer, row.bitrate, row.rate, row.channelMode,
                                row.modeExtension, row.copyright, row.original, row.emphasis));
}

// clang-format off
// Bytes by field: b1 = 111 VV LL P, b2 = BBBB SS P x, b3 = CC MM c o EE.
INSTANTIATE_TEST_SUITE_P(
    Headers, FrameHeaderDecodeTest,
    ::testing::Values(
        DecodeCase{"Mpeg1Layer3At128k", {0xFF, 0xFB, 0x90, 0x64}, 1, 1, 3, 128, 44100,
                   "Joint Stereo", "12", 0, 1, "None"},
        DecodeCase{"Mpeg1MonoPadded", {0xFF, 0xFB, 0x92, 0xC4}, 1, 1, 3, 128, 44100, "Mono", "4",
                   0, 1, "None"},
        // MPEG 2: the low-sampling-rate tables, 40 and 56 kbit/s at indexes 5 and 7.
        DecodeCase{"Mpeg2Layer3Index5", {0xFF, 0xF3, 0x50, 0x44}, 1, 2, 3, 40, 22050,
                   "Joint Stereo", "0", 0, 1, "None"},
        DecodeCase{"Mpeg2Layer3Index7", {0xFF, 0xF3, 0x74, 0x00}, 1, 2, 3, 56, 24000, "Stereo",
                   "0", 0, 0, "None"},
        DecodeCase{"Mpeg2Layer2Index14", {0xFF, 0xF5, 0xE8, 0x30}, 1, 2, 2, 160, 16000, "Stereo",
                   "16", 0, 0, "None"},
        DecodeCase{"Mpeg2Layer1Index11", {0xFF, 0xF7, 0xB0, 0x20}, 1, 2, 1, 176, 22050, "Stereo",
                   "8", 0, 0, "None"},
        DecodeCase{"Mpeg1Layer1Index11", {0xFF, 0xFF, 0xB8, 0x88}, 1, 1, 1, 352, 32000,
                   "Dual Chanel", "4", 1, 0, "None"},
        DecodeCase{"Mpeg1Layer2Index14", {0xFF, 0xFD, 0xE4, 0x31}, 1, 1, 2, 384, 48000, "Stereo",
                   "16", 0, 0, "50/15 microseconds"},
        // MPEG 2.5: stored as version 2, with its own rates and no mode extension text.
        DecodeCase{"Mpeg25Layer3", {0xFF, 0xE3, 0x84, 0x42}, 1, 2, 3, 64, 12000, "Joint Stereo",
                   "", 0, 0, "Dunno"},
        DecodeCase{"Mpeg25WithCrcAt8000", {0xFF, 0xE2, 0x18, 0xC7}, 1, 2, 3, 8, 8000, "Mono", "",
                   0, 1, "CITT j.17"},
        DecodeCase{"Mpeg25At11025", {0xFF, 0xE3, 0x40, 0x00}, 1, 2, 3, 32, 11025, "Stereo", "", 0,
                   0, "None"},
        DecodeCase{"ReservedVersion", {0xFF, 0xEB, 0x90, 0x64}, 1, 0, 3, 0, 0, "Joint Stereo", "",
                   0, 1, "None"},
        DecodeCase{"ReservedLayer", {0xFF, 0xF9, 0x90, 0x64}, 1, 1, 0, 0, 44100, "Joint Stereo",
                   "12", 0, 1, "None"},
        DecodeCase{"BitrateIndex15", {0xFF, 0xFB, 0xF0, 0x64}, 1, 1, 3, -1, 44100,
                   "Joint Stereo", "12", 0, 1, "None"},
        DecodeCase{"BitrateIndex0", {0xFF, 0xFB, 0x00, 0x64}, 1, 1, 3, 0, 44100, "Joint Stereo",
                   "12", 0, 1, "None"},
        // The reserved sampling-rate index: nothing can be timed, the walk lists the file.
        DecodeCase{"Mpeg1RateIndex3", {0xFF, 0xFB, 0x9C, 0x64}, 0, 0, 0, 0, 0, "", "", 0, 0, ""},
        DecodeCase{"Mpeg2RateIndex3", {0xFF, 0xF3, 0x9C, 0x64}, 0, 0, 0, 0, 0, "", "", 0, 0, ""},
        DecodeCase{"Mpeg25RateIndex3", {0xFF, 0xE3, 0x8C, 0x64}, 0, 0, 0, 0, 0, "", "", 0, 0,
                   ""}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

struct AudioBytesCase
{
    const char* name;
    FrameStream stream;
    std::int64_t audioStart;
    std::int64_t notAudio; // bytes behind the audio start that are no audio
};

void PrintTo(const AudioBytesCase& row, std::ostream* out)
{
    *out << row.name;
}

class FrameHeaderAudioBytesTest : public FrameHeaderTest,
                                  public ::testing::WithParamInterface<AudioBytesCase>
{
};

TEST_P(FrameHeaderAudioBytesTest, LeavesTagsOutOfTheAudioBytes)
{
    const AudioBytesCase& row = GetParam();
    const FirstFrame first = firstFrameOf(tree.writeFile("a.mp3", row.stream.bytes()));

    EXPECT_EQ(first.result, 1);
    EXPECT_EQ(first.facts.audioStart, row.audioStart);
    EXPECT_EQ(first.facts.audioBytes, row.stream.size() - row.audioStart - row.notAudio);
}

const FrameSpec at128{};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, FrameHeaderAudioBytesTest, ::testing::Values(
    AudioBytesCase{"FramesOnly", FrameStream().frames(3, at128), 0, 0},
    AudioBytesCase{"Id3v1Block", FrameStream().frames(3, at128).id3v1Tag(), 0, 128},
    AudioBytesCase{"BothTags", FrameStream().id3v2Tag("Song", 90).frames(3, at128).id3v1Tag(),
                   10 + 10 + 5 + 90, 128},
    AudioBytesCase{"LowerCaseTagIsAudio", FrameStream().frames(3, at128).id3v1Tag("tag"), 0, 0},
    AudioBytesCase{"TagOneByteTooEarlyIsAudio", FrameStream().frames(3, at128).id3v1Tag().raw({0}), 0, 0},
    AudioBytesCase{"FileShorterThanABlock", FrameStream().raw({'T', 'A', 'G'}).frame(
                       {.version = test::Mpeg::V25, .kbps = 8, .rate = 8000}), 3, 0}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

struct InfoFrameCase
{
    const char* name;
    FrameStream stream;
    const char* channelMode;
    int sampleRate;
};

void PrintTo(const InfoFrameCase& row, std::ostream* out)
{
    *out << row.name;
}

class FrameHeaderInfoFrameTest : public FrameHeaderTest,
                                 public ::testing::WithParamInterface<InfoFrameCase>
{
};

// The kind of stream comes from its first audio frame; the information frame before it stands
// only when nothing follows it. The audio start stays at the information frame.
TEST_P(FrameHeaderInfoFrameTest, TakesTheModeFromTheFirstAudioFrame)
{
    const FirstFrame first = firstFrameOf(tree.writeFile("a.mp3", GetParam().stream.bytes()));
    EXPECT_EQ(first.result, 1);
    EXPECT_EQ(first.facts.audioStart, 0);
    EXPECT_EQ(first.facts.channelMode, GetParam().channelMode);
    EXPECT_EQ(first.facts.sampleRate, GetParam().sampleRate);
}

const FrameSpec stereo320{.kbps = 320, .channels = test::Channels::Stereo};
const FrameSpec joint128{.channels = test::Channels::JointStereo};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Streams, FrameHeaderInfoFrameTest, ::testing::Values(
    InfoFrameCase{"XingBeforeJointStereo", FrameStream().infoFrame(test::InfoTag::Xing, stereo320).frames(5, joint128), "Joint Stereo", 44100},
    InfoFrameCase{"InfoBeforeMono", FrameStream().infoFrame(test::InfoTag::Info, {.kbps = 320, .channels = test::Channels::Mono})
                                        .frames(5, {.channels = test::Channels::Mono}), "Mono", 44100},
    InfoFrameCase{"VbriBeforeMpeg2", FrameStream().infoFrame(test::InfoTag::Vbri, {.version = test::Mpeg::V2, .kbps = 64, .rate = 24000, .channels = test::Channels::Stereo})
                                         .frames(5, {.version = test::Mpeg::V2, .kbps = 32, .rate = 24000, .channels = test::Channels::JointStereo}),
                  "Joint Stereo", 24000},
    InfoFrameCase{"InformationFrameAlone", FrameStream().infoFrame(test::InfoTag::Xing, stereo320), "Stereo", 44100},
    InfoFrameCase{"AudioFrameFirstIsTakenAsItIs", FrameStream().frames(1, {.channels = test::Channels::Stereo}).frames(3, joint128), "Stereo", 44100}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

TEST_F(FrameHeaderTest, BytesThatAreNoHeaderGiveMinusOne)
{
    // The audio start is trusted as given; FF 7B lacks bit 7 of the second byte.
    const auto path =
        tree.writeFile("bad.mp3", FrameStream().raw({0, 0, 0xFF, 0x7B, 0x90, 0x64}).bytes());
    ByteReader file(path);

    const FirstFrame first = readFrameHeaderAt(file, 2);

    EXPECT_EQ(first.result, -1);
    EXPECT_TRUE(first.foundAudioStart);
    EXPECT_EQ(first.facts.audioBytes, 4);
    EXPECT_EQ(decodedFieldsOf(first.facts), decodedFieldsOf(FrameFacts{}));
}

TEST_F(FrameHeaderTest, NoAudioStartGivesNothing)
{
    const auto noSync = tree.writeFile(
        "nosync.mp3", FrameStream().raw({0xFF, 0x7B, 0x90, 0x64}).id3v2Tag("x").bytes());
    const auto silent = tree.writeFile("silent.mp3", std::vector<std::uint8_t>(2000, 0));
    // An information frame followed by no frame of its stream is no audio.
    const auto garbage =
        tree.writeFile("garbage.mp3", FrameStream()
                                          .infoFrame(test::InfoTag::Xing, stereo320)
                                          .raw(std::vector<std::uint8_t>(500, 0x55))
                                          .bytes());
    for (const auto& path : {noSync, silent, garbage, tree.path() + "missing.mp3"}) {
        const FirstFrame first = firstFrameOf(path);
        EXPECT_EQ(first.result, 0) << path;
        EXPECT_FALSE(first.foundAudioStart) << path;
        EXPECT_EQ(first.facts.audioBytes, 0) << path;
        EXPECT_EQ(decodedFieldsOf(first.facts), decodedFieldsOf(FrameFacts{})) << path;
    }
}

} // namespace
} // namespace tagrelay
