#include "mpeg/frame_header.h"
#include "mpeg/stream_scan.h"
#include "platform/byte_reader.h"
#include "support/frame_bytes.h"
#include "support/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>

namespace tagrelay {
namespace {

using test::Channels;
using test::FrameSpec;
using test::FrameStream;
using test::InfoTag;
using test::Mpeg;

const FrameSpec at128{};
const FrameSpec at32{.kbps = 32};
const FrameSpec at320{.kbps = 320};
const FrameSpec mono32{.kbps = 32, .channels = Channels::Mono};
const FrameSpec mono320{.kbps = 320, .channels = Channels::Mono};
const FrameSpec mpeg2Mono32{
    .version = Mpeg::V2, .kbps = 32, .rate = 22050, .channels = Channels::Mono};
const FrameSpec mpeg2Mono160{
    .version = Mpeg::V2, .kbps = 160, .rate = 22050, .channels = Channels::Mono};

/// count frames at kbps, then the rest.
std::vector<int> series(int count, int kbps, std::vector<int> rest = {})
{
    rest.insert(rest.begin(), static_cast<std::size_t>(count), kbps);
    return rest;
}

class StreamScanTest : public ::testing::Test
{
  protected:
    StreamScan scanOf(const std::string& path)
    {
        ByteReader file(path, mpegReadWindow);
        return scanOf(file);
    }

    /// Scans, noting the bytes done at every progress call (one per counted frame).
    StreamScan scanOf(ByteReader& file)
    {
        return scanStream(file, [this](std::int64_t done, std::int64_t) {
            doneValues.push_back(done);
            return stopAt == 0 || static_cast<int>(doneValues.size()) < stopAt;
        });
    }

    int countedFrames() const { return static_cast<int>(doneValues.size()); }

    test::TempTree tree;
    std::vector<std::int64_t> doneValues;
    int stopAt = 0; // the counted frame whose progress call asks to stop; 0 for never
};

struct ScanCase
{
    const char* name;
    FrameStream stream;
    int bitrate;
    int isVbr;
    int counted;
    std::size_t problems; // "auch hier ein kleines Problem" entries
};

void PrintTo(const ScanCase& row, std::ostream* out)
{
    *out << row.name;
}

class StreamScanCaseTest : public StreamScanTest, public ::testing::WithParamInterface<ScanCase>
{
};

TEST_P(StreamScanCaseTest, GivesBitrateAndMode)
{
    const ScanCase& row = GetParam();
    const StreamScan scan = scanOf(tree.writeFile("song.mp3", row.stream.bytes()));

    EXPECT_EQ(scan.bitrate, row.bitrate);
    EXPECT_EQ(scan.isVbr, row.isVbr != 0);
    EXPECT_EQ(countedFrames(), row.counted);
    EXPECT_EQ(scan.framesPastEnd, static_cast<std::int32_t>(row.problems));
    // A CBR stream stops at its 100th frame; any other scan goes on to the end.
    EXPECT_EQ(scan.walkedToEnd, !(row.isVbr == 0 && row.counted == 100));
    EXPECT_FALSE(scan.stopped);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(ConstantBitrate, StreamScanCaseTest, ::testing::Values(
    ScanCase{"ThousandFramesStopAtTheHundredth", FrameStream().frames(1000, at128), 128, 0, 100, 0},
    ScanCase{"PaddedFramesStopAtTheHundredth", FrameStream().paddedFrames(1000, at128), 128, 0, 100, 0},
    // The average is over the counted frames: 50 × 128 ÷ 50.
    ScanCase{"FiftyFramesAreWalkedToTheEnd", FrameStream().frames(50, at128), 128, 0, 50, 0},
    ScanCase{"TagsAroundPaddedFrames",
             FrameStream().id3v2Tag("Song", 300).paddedFrames(50, at128).id3v1Tag(), 128, 0, 50, 0},
    ScanCase{"OneFrame", FrameStream().frames(1, at128), 128, 0, 1, 0},
    // Frame lengths by layer and version, padding included.
    ScanCase{"Mpeg1Layer1", FrameStream().paddedFrames(50, {.layer = 1, .kbps = 32}), 32, 0, 50, 0},
    ScanCase{"Mpeg1Layer2", FrameStream().paddedFrames(50, {.layer = 2, .kbps = 192}), 192, 0, 50, 0},
    ScanCase{"Mpeg2Layer1", FrameStream().paddedFrames(
        50, {.version = Mpeg::V2, .layer = 1, .kbps = 144, .rate = 22050}), 144, 0, 50, 0},
    ScanCase{"Mpeg2Layer3", FrameStream().paddedFrames(
        50, {.version = Mpeg::V2, .kbps = 64, .rate = 22050}), 64, 0, 50, 0},
    ScanCase{"Mpeg25Layer3", FrameStream().paddedFrames(
        50, {.version = Mpeg::V25, .kbps = 32, .rate = 11025}), 32, 0, 50, 0}),
    [](const auto& row) { return std::string(row.param.name); });

INSTANTIATE_TEST_SUITE_P(VariableBitrate, StreamScanCaseTest, ::testing::Values(
    // (9 × 128 + 160) ÷ 10
    ScanCase{"ChangeAtTheSecondFrame", FrameStream().bitrates(series(1, 128, series(1, 160, series(8, 128))), at128),
             131, 1, 10, 0},
    // (109 × 128 + 320) ÷ 110: the whole file, not the 100th frame's bitrate.
    ScanCase{"ChangeAtTheHundredthFrame",
             FrameStream().bitrates(series(99, 128, series(1, 320, series(10, 128))), at128), 129, 1, 110, 0},
    ScanCase{"ChangeAfterTheHundredthFrameIsNotSeen",
             FrameStream().bitrates(series(100, 128, series(1, 320, series(10, 128))), at128), 128, 0, 100, 0},
    // (2001 × 96 + 999 × 320) ÷ 3000
    ScanCase{"LongStreamIsWalkedToTheEnd",
             FrameStream().bitrates(series(1, 96, series(999, 320, series(2000, 96))), at128),
             170, 1, 3000, 0}),
    [](const auto& row) { return std::string(row.param.name); });

// The encoder's information frame is written at a higher bitrate than the stream.
INSTANTIATE_TEST_SUITE_P(EncoderInformation, StreamScanCaseTest, ::testing::Values(
    ScanCase{"Xing", FrameStream().infoFrame(InfoTag::Xing, at320).frames(50, at32), 32, 0, 50, 0},
    ScanCase{"Info", FrameStream().infoFrame(InfoTag::Info, at320).frames(1000, at32), 32, 0, 100, 0},
    ScanCase{"Vbri", FrameStream().infoFrame(InfoTag::Vbri, at320).frames(50, at32), 32, 0, 50, 0},
    ScanCase{"InfoBehindMonoSideInformation",
             FrameStream().infoFrame(InfoTag::Info, mono320).frames(50, mono32), 32, 0, 50, 0},
    ScanCase{"InfoBehindCrc", FrameStream().infoFrame(InfoTag::Info, {.kbps = 320, .crc = true})
                                  .frames(50, {.kbps = 32, .crc = true}), 32, 0, 50, 0},
    ScanCase{"XingInMpeg2Mono",
             FrameStream().infoFrame(InfoTag::Xing, mpeg2Mono160).frames(50, mpeg2Mono32), 32, 0, 50, 0},
    // Only the first frame holds the encoder's information: (49 × 32 + 320) ÷ 50.
    ScanCase{"XingInTheSecondFrameIsAudio",
             FrameStream().frames(1, at32).infoFrame(InfoTag::Xing, at320).frames(48, at32), 37, 1, 50, 0},
    // A tag at the stereo place in a mono frame is audio: (50 × 32 + 320) ÷ 51.
    ScanCase{"StereoTagInMonoFrameIsAudio",
             FrameStream().infoFrame(InfoTag::Info, at320).setByte(3, 0xC4).frames(50, at32), 37, 1, 51, 0}),
    [](const auto& row) { return std::string(row.param.name); });

INSTANTIATE_TEST_SUITE_P(DamagedStreams, StreamScanCaseTest, ::testing::Values(
    ScanCase{"TruncatedLastFrame", FrameStream().frames(20, at128).truncatedFrame(at128, 100), 128, 0, 21, 1},
    // The missing bytes read as zeros: free-format bits, which keep the bitrate before.
    ScanCase{"HeaderCutAtTheEnd", FrameStream().frames(20, at128).raw({0xFF, 0xFB}), 128, 0, 21, 1},
    // A forbidden bitrate or free format gives no frame length: the scan ends before it.
    ScanCase{"ForbiddenBitrateIndex", FrameStream().frames(10, at128)
                 .rawHeaderFrame({0xFF, 0xFB, 0xF0, 0x64}, at128).frames(10, at320), 128, 0, 10, 0},
    // A free-format header is no frame of the stream behind it: the audio starts there.
    ScanCase{"FreeFormatFirstFrame", FrameStream()
                 .rawHeaderFrame({0xFF, 0xFB, 0x00, 0x64}, at128).frames(10, at128), 128, 0, 10, 0},
    // The reserved rate index: counted at the rate before, then the scan ends.
    ScanCase{"ReservedRateIndex", FrameStream().frames(10, at128)
                 .rawHeaderFrame({0xFF, 0xFB, 0x9C, 0x64}, at128).frames(10, at320), 128, 0, 11, 0},
    ScanCase{"GarbageBehindTheFrames",
             FrameStream().frames(10, at128).raw(std::vector<std::uint8_t>(900, 0x55)), 128, 0, 10, 0}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

TEST_F(StreamScanTest, NoAudioStartGivesMinusOne)
{
    const auto path = tree.writeFile("silent.mp3", std::vector<std::uint8_t>(3000, 0));
    const auto syncAtTheEnd =
        tree.writeFile("end.mp3", FrameStream().raw({0, 0, 0, 0xFF, 0xFB}).bytes());
    for (const auto& file : {path, syncAtTheEnd, tree.path() + "missing.mp3"}) {
        const StreamScan scan = scanOf(file);
        EXPECT_EQ(scan.bitrate, -1);
        EXPECT_FALSE(scan.isVbr);
        EXPECT_FALSE(scan.walkedToEnd);
    }
    EXPECT_EQ(countedFrames(), 0);
}

TEST_F(StreamScanTest, CbrStreamCostsAHundredHeaderReads)
{
    const auto stream = FrameStream().id3v2Tag("Song").frames(1000, at128);
    const auto path = tree.writeFile("long.mp3", stream.bytes());
    // A tiny window makes every header that is not in the window a read of its own.
    ByteReader file(path, 16);

    EXPECT_EQ(scanOf(file).bitrate, 128);

    // And a look at the end, for the last frame: the longest frame's bytes, in one read, and
    // the places of the tags behind the frames.
    EXPECT_GE(file.readCalls(), 100u);
    EXPECT_LE(file.readCalls(), 110u);
    EXPECT_LE(file.bytesFetched(), 110u * 16 + 1045);
}

TEST_F(StreamScanTest, VbrStreamIsReadOnce)
{
    std::vector<int> kbps;
    for (int i = 0; i < 4000; ++i)
        kbps.push_back(i % 2 == 0 ? 128 : 256);
    const auto stream = FrameStream().frame(at320).bitrates(kbps, at128).id3v1Tag();
    const auto path = tree.writeFile("vbr.mp3", stream.bytes());
    ByteReader file(path, mpegReadWindow);

    ASSERT_EQ(readFrameHeader(file).result, 1);
    EXPECT_EQ(scanOf(file).bitrate, 192);

    const auto size = static_cast<std::uint64_t>(stream.size());
    const auto window64k = static_cast<std::uint64_t>(mpegReadWindow);
    // The start is read again after the look at the ID3v1 block at the end, nothing more.
    EXPECT_LE(file.bytesFetched(), size + 2 * window64k);
    EXPECT_LE(file.readCalls(), size / window64k + 4);
}

TEST_F(StreamScanTest, ProgressFollowsEveryCountedFrame)
{
    const auto stream = FrameStream().id3v2Tag("Song").frames(1000, at128);
    const auto path = tree.writeFile("long.mp3", stream.bytes());
    const std::int64_t audioStart = 10 + 10 + 5;

    const StreamScan scan = scanOf(path);

    ASSERT_EQ(scan.bitrate, 128);
    ASSERT_EQ(doneValues.size(), 100u);
    for (std::size_t i = 0; i < doneValues.size(); ++i)
        EXPECT_EQ(doneValues[i], audioStart + static_cast<std::int64_t>(i) * 417 + 4) << i;
}

TEST_F(StreamScanTest, AStopIsTakenAtOnce)
{
    const auto path =
        tree.writeFile("vbr.mp3", FrameStream()
                                      .bitrates(series(1, 128, series(500, 160)), at128)
                                      .truncatedFrame(at128, 10)
                                      .bytes());
    ByteReader file(path, mpegReadWindow);
    stopAt = 5;

    const StreamScan scan = scanOf(file);

    EXPECT_TRUE(scan.stopped);
    EXPECT_FALSE(scan.walkedToEnd);
    EXPECT_EQ(countedFrames(), 5);
    // Nothing was read or moved past the fifth header; the end (and its problem) never came.
    EXPECT_EQ(file.position(), 417 + 3 * 522 + 4);
    EXPECT_EQ(scan.framesPastEnd, 0);
}

/// Audio bytes and bitrate of a stream of a known length give that length back.
struct DurationCase
{
    const char* name;
    FrameSpec frameSpec;
    int samplesPerFrame;
    int seconds;
};

class StreamScanDurationTest : public StreamScanTest,
                               public ::testing::WithParamInterface<DurationCase>
{
};

TEST_P(StreamScanDurationTest, FactsGiveThePlayingTime)
{
    const DurationCase& row = GetParam();
    const int frames =
        (row.seconds * row.frameSpec.rate + row.samplesPerFrame - 1) / row.samplesPerFrame;
    const auto path = tree.writeFile("song.mp3", FrameStream()
                                                     .id3v2Tag("Song", 2000)
                                                     .paddedFrames(frames, row.frameSpec)
                                                     .id3v1Tag()
                                                     .bytes());
    ByteReader file(path, mpegReadWindow);

    const FirstFrame first = readFrameHeader(file);
    ASSERT_EQ(first.result, 1);
    const StreamScan scan = scanOf(file);

    EXPECT_EQ(scan.bitrate, row.frameSpec.kbps);
    EXPECT_EQ(first.facts.sampleRate, row.frameSpec.rate);
    const auto total = static_cast<std::int64_t>(static_cast<double>(first.facts.audioBytes) * 8.0
                                                 / (scan.bitrate * 1000.0));
    EXPECT_EQ(total, row.seconds);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, StreamScanDurationTest,
    ::testing::Values(
        DurationCase{"NineSecondsAt128", at128, 1152, 9},
        DurationCase{"FourMinutesTenAt128", at128, 1152, 250},
        DurationCase{"TwoMinutesFortySixAt192", {.kbps = 192}, 1152, 166},
        DurationCase{"Mpeg2At64", {.version = Mpeg::V2, .kbps = 64, .rate = 22050}, 576, 9},
        DurationCase{"Mpeg25At32", {.version = Mpeg::V25, .kbps = 32, .rate = 11025}, 576, 9}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(StreamScanTest, FileOverTwoGibibytesKeepsItsLength)
{
    // A sparse file: three frames, a hole of zeros and an ID3v1 block at the end.
    const auto path = tree.writeFile("huge.mp3", FrameStream().frames(3, at128).bytes());
    const std::int64_t size = (std::int64_t{1} << 31) + 1'000'000;
    {
        const int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const bool made = ::ftruncate(fd, size) == 0 && ::pwrite(fd, "TAG", 3, size - 128) == 3;
        ::close(fd);
        if (!made)
            GTEST_SKIP() << "no sparse file of 2 GiB here";
    }
    ByteReader file(path, mpegReadWindow);

    const FirstFrame first = readFrameHeader(file);
    ASSERT_EQ(first.result, 1);
    EXPECT_EQ(first.facts.audioBytes, size - 128);
    EXPECT_EQ(scanOf(file).bitrate, 128);
    EXPECT_EQ(countedFrames(), 3);
}

/// An APEv2 tag, as ReplayGain tools append it: an 8-byte item ("GAIN") and the 32-byte footer
/// (version 2000, size 53 with the footer, 1 item, flags: bit 31 a header is there), and with
/// a header in front, the footer again with bit 29 set.
std::vector<std::uint8_t> apeTag(bool withHeader)
{
    const std::string footer("APETAGEX\xD0\x07\0\0\x35\0\0\0\x01\0\0\0\0\0\0\x80", 24);
    const std::string item = std::string("\x08\0\0\0\0\0\0\0GAIN\0-6.50 dB", 21);
    const std::string reserved(8, '\0');
    std::string tag = (withHeader ? footer.substr(0, 23) + "\xA0" + reserved : "") + item
                      + footer.substr(0, 23) + (withHeader ? "\x80" : std::string(1, '\0'))
                      + reserved;
    return {tag.begin(), tag.end()};
}

/// A Lyrics3v2 tag: its fields, their size in six digits, and the end mark.
std::vector<std::uint8_t> lyricsTag()
{
    const std::string tag = "LYRICSBEGINLYR00011Hello world000030LYRICS200";
    return {tag.begin(), tag.end()};
}

// A CBR stream is checked at the end of the file: its last frame must end where the audio
// does, in front of the tags taggers put behind the frames.
TEST_F(StreamScanTest, FindsTheLastFrameOfACbrStreamAtTheEndOfTheAudio)
{
    const auto whole = [] { return FrameStream().paddedFrames(300, at128); };
    const std::pair<const char*, FrameStream> wholeStreams[] = {
        {"before ID3v1", whole().id3v1Tag()},
        {"before APEv2 and ID3v1", whole().raw(apeTag(true)).id3v1Tag()},
        {"before APEv2 without header", whole().raw(apeTag(false))},
        {"before Lyrics3v2 and APEv2", whole().raw(lyricsTag()).raw(apeTag(true))},
        {"walked to its end", FrameStream().frames(50, at32)},
        // Taken as CBR by its first hundred frames: the last frame may have any bitrate.
        {"with a late change of bitrate", FrameStream().frames(150, at128).frames(20, at320)}};
    for (const auto& [what, stream] : wholeStreams)
        EXPECT_FALSE(scanOf(tree.writeFile("whole.mp3", stream.bytes())).missesAudioEnd) << what;
    for (const auto& damaged :
         {whole().truncatedFrame(at128, 200), FrameStream().frames(50, at32).raw({0, 0, 0, 0, 0})})
        EXPECT_TRUE(scanOf(tree.writeFile("damaged.mp3", damaged.bytes())).missesAudioEnd);
}

TEST_F(StreamScanTest, MalformedStreamsEndWithoutHarm)
{
    std::vector<std::vector<std::uint8_t>> inputs = {
        std::vector<std::uint8_t>(20000, 0xFF),
        {},
        {0xFF},
        {0xFF, 0xFB, 0x90},
    };
    // Header words packed closer than their frame lengths.
    std::vector<std::uint8_t> packed;
    for (int i = 0; i < 2000; ++i)
        packed.insert(packed.end(), {0xFF, 0xFB, 0x90, 0x64});
    inputs.push_back(packed);
    // Random bytes, rich in sync pairs.
    std::mt19937 random(20240611);
    for (int n = 0; n < 300; ++n) {
        std::vector<std::uint8_t> bytes(random() % 5000);
        for (auto& byte : bytes) {
            const auto pick = random() % 8;
            byte = static_cast<std::uint8_t>(pick < 2   ? 0xFF
                                             : pick < 4 ? 0xE0 | (random() & 0x1F)
                                                        : random() & 0xFF);
        }
        inputs.push_back(bytes);
    }

    for (std::size_t i = 0; i < inputs.size(); ++i) {
        ByteReader file(tree.writeFile("bad.mp3", inputs[i]), mpegReadWindow);
        doneValues.clear();
        const int header = readFrameHeader(file).result;
        const int bitrate = scanOf(file).bitrate;

        EXPECT_TRUE(header == 0 || header == 1) << "input " << i;
        EXPECT_GE(bitrate, -1) << "input " << i;
        EXPECT_LE(bitrate, 448) << "input " << i;
        // Every counted frame moves the scan on by at least one header.
        EXPECT_LE(countedFrames(), static_cast<int>(inputs[i].size() / 4) + 1) << "input " << i;
    }
}

} // namespace
} // namespace tagrelay
