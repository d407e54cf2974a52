#include "movie/movie_container.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tagrelay {
namespace {

using Bytes = std::vector<std::uint8_t>;

void putU32(Bytes& bytes, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

void putText(Bytes& bytes, const std::string& text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
}

/// A RIFF chunk: four-character id, little-endian size, the body, a pad byte to an even size.
Bytes chunk(const std::string& id, const Bytes& body)
{
    Bytes bytes;
    putText(bytes, id);
    putU32(bytes, static_cast<std::uint32_t>(body.size()));
    bytes.insert(bytes.end(), body.begin(), body.end());
    if (body.size() % 2 != 0)
        bytes.push_back(0);
    return bytes;
}

Bytes list(const std::string& type, const std::vector<Bytes>& chunks)
{
    Bytes body;
    putText(body, type);
    for (const Bytes& part : chunks)
        body.insert(body.end(), part.begin(), part.end());
    return chunk("LIST", body);
}

/// avih: microseconds per frame, ..., total frames at 16, width at 32, height at 36.
Bytes mainHeader(std::uint32_t microSeconds, std::uint32_t frames, std::uint32_t width,
                 std::uint32_t height)
{
    Bytes body(56, 0);
    const auto at = [&body](std::size_t offset, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            body[offset + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(value >> (8 * i));
    };
    at(0, microSeconds);
    at(16, frames);
    at(32, width);
    at(36, height);
    return chunk("avih", body);
}

/// strh: fccType, handler, flags, priority and language, initial frames, scale, rate, start,
/// length.
Bytes streamHeader(const std::string& type, std::uint32_t scale, std::uint32_t rate,
                   std::uint32_t length)
{
    Bytes body;
    putText(body, type);
    putText(body, "DIVX");
    for (std::uint32_t value : {0u, 0u, 0u, scale, rate, 0u, length})
        putU32(body, value);
    body.resize(56, 0);
    return chunk("strh", body);
}

/// strf of a video stream: BITMAPINFOHEADER size, width, height (negative: top-down).
Bytes videoFormat(std::int32_t width, std::int32_t height)
{
    Bytes body;
    putU32(body, 40);
    putU32(body, static_cast<std::uint32_t>(width));
    putU32(body, static_cast<std::uint32_t>(height));
    body.resize(40, 0);
    return chunk("strf", body);
}

Bytes aviFile(const std::vector<Bytes>& headerChunks, const std::vector<Bytes>& after = {})
{
    Bytes body;
    putText(body, "AVI ");
    const Bytes headers = list("hdrl", headerChunks);
    body.insert(body.end(), headers.begin(), headers.end());
    for (const Bytes& part : after)
        body.insert(body.end(), part.begin(), part.end());
    const Bytes movi = list("movi", {chunk("00dc", Bytes(10, 0))});
    body.insert(body.end(), movi.begin(), movi.end());
    return chunk("RIFF", body);
}

ContainerReading readBytes(test::TempTree& tree, const Bytes& bytes)
{
    ByteReader file(tree.writeFile("movie", bytes));
    return readMovieContainer(file);
}

TEST(MovieContainerTest, ReadsTheAviVideoStreamsSizeRateAndFrameCount)
{
    test::TempTree tree;
    const auto reading = readBytes(
        tree,
        aviFile({mainHeader(40000, 90, 320, 240),
                 list("strl", {streamHeader("auds", 1, 44100, 999), chunk("strf", Bytes(18, 0))}),
                 list("strl", {streamHeader("vids", 1001, 30000, 1500), videoFormat(640, -480)})}));
    ASSERT_TRUE(reading.facts) << reading.refusal;
    EXPECT_EQ(reading.facts->width, 640);
    EXPECT_EQ(reading.facts->height, 480); // a top-down picture's negative height
    EXPECT_EQ(reading.facts->frames, 1500);
    EXPECT_NEAR(reading.facts->framesPerSecond, 29.97, 0.001);
}

TEST(MovieContainerTest, TakesTheOpenDmlFrameCountAndTheMainHeaderWhereTheStreamSaysNothing)
{
    test::TempTree tree;
    const auto reading = readBytes(
        tree, aviFile({mainHeader(40000, 100, 352, 288),
                       list("strl", {streamHeader("vids", 0, 0, 0), chunk("strf", Bytes(4, 0))})},
                      {list("odml", {chunk("dmlh", Bytes{0x10, 0x27, 0, 0})})}));
    ASSERT_TRUE(reading.facts) << reading.refusal;
    EXPECT_EQ(reading.facts->width, 352);
    EXPECT_EQ(reading.facts->height, 288);
    EXPECT_EQ(reading.facts->frames, 10000);
    EXPECT_DOUBLE_EQ(reading.facts->framesPerSecond, 25.0);
}

TEST(MovieContainerTest, AnAviWithoutVideoHasNoPicture)
{
    test::TempTree tree;
    const auto reading = readBytes(
        tree, aviFile({mainHeader(0, 0, 0, 0), list("strl", {streamHeader("auds", 1, 8000, 5)})}));
    ASSERT_TRUE(reading.facts);
    EXPECT_EQ(reading.facts->width, -1);
    EXPECT_EQ(reading.facts->height, -1);
    EXPECT_EQ(reading.facts->frames, 0);
}

/// An MPEG-2 PES packet of video stream 0xE0 whose header carries the PTS.
Bytes videoPacket(std::uint64_t pts)
{
    Bytes bytes{0x00, 0x00, 0x01, 0xE0, 0x00, 0x0D, 0x80, 0x80, 0x05};
    // '0010' PTS[32..30] marker, PTS[29..15] marker, PTS[14..0] marker
    bytes.push_back(static_cast<std::uint8_t>(0x21 | ((pts >> 29) & 0x0E)));
    bytes.push_back(static_cast<std::uint8_t>(pts >> 22));
    bytes.push_back(static_cast<std::uint8_t>(0x01 | ((pts >> 14) & 0xFE)));
    bytes.push_back(static_cast<std::uint8_t>(pts >> 7));
    bytes.push_back(static_cast<std::uint8_t>(0x01 | ((pts << 1) & 0xFE)));
    bytes.insert(bytes.end(), 4, 0xAA);
    return bytes;
}

/// Sequence header: 12 bits width, 12 bits height, aspect (4 bits) and frame rate code (4).
Bytes sequenceHeader(unsigned width, unsigned height, unsigned rateCode)
{
    return {0x00,
            0x00,
            0x01,
            0xB3,
            static_cast<std::uint8_t>(width >> 4),
            static_cast<std::uint8_t>(((width & 0x0F) << 4) | (height >> 8)),
            static_cast<std::uint8_t>(height),
            static_cast<std::uint8_t>(0x10 | rateCode)};
}

Bytes programStream(unsigned width, unsigned height, unsigned rateCode, std::uint64_t first,
                    std::uint64_t last, std::size_t filler)
{
    Bytes bytes{0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
    const Bytes start = videoPacket(first);
    bytes.insert(bytes.end(), start.begin(), start.end());
    const Bytes sequence = sequenceHeader(width, height, rateCode);
    bytes.insert(bytes.end(), sequence.begin(), sequence.end());
    bytes.insert(bytes.end(), filler, 0x55);
    const Bytes end = videoPacket(last);
    bytes.insert(bytes.end(), end.begin(), end.end());
    return bytes;
}

TEST(MovieContainerTest, TimesAnMpegProgramStreamByItsFirstAndLastTimeStamps)
{
    test::TempTree tree;
    // 60 s at 25 fps from a start of 1 s; the last frame lasts a frame more.
    const auto reading =
        readBytes(tree, programStream(720, 576, 3, 90000, 90000 + 5'400'000, 3000));
    ASSERT_TRUE(reading.facts) << reading.refusal;
    EXPECT_EQ(reading.facts->width, 720);
    EXPECT_EQ(reading.facts->height, 576);
    EXPECT_DOUBLE_EQ(reading.facts->framesPerSecond, 25.0);
    EXPECT_EQ(reading.facts->frames, 1501);
}

TEST(MovieContainerTest, ATimeStampThatWrappedStillGivesTheLength)
{
    test::TempTree tree;
    const std::uint64_t nearWrap = (std::uint64_t{1} << 33) - 90000;
    const auto reading = readBytes(tree, programStream(352, 240, 4, nearWrap, 90000 * 9, 100));
    ASSERT_TRUE(reading.facts);
    EXPECT_EQ(reading.facts->frames, std::int64_t{300} + 1); // 10 s at 30000/1001
}

TEST(MovieContainerTest, ABareVideoStreamHasSizeAndRateButNoLength)
{
    test::TempTree tree;
    Bytes bytes = sequenceHeader(320, 240, 5);
    bytes.insert(bytes.end(), 64, 0);
    const auto reading = readBytes(tree, bytes);
    ASSERT_TRUE(reading.facts);
    EXPECT_EQ(reading.facts->width, 320);
    EXPECT_DOUBLE_EQ(reading.facts->framesPerSecond, 30.0);
    EXPECT_EQ(reading.facts->frames, 0);
}

struct RefusedCase
{
    const char* name;
    Bytes bytes;
};

class RefusedContainerTest : public testing::TestWithParam<RefusedCase>
{
};

TEST_P(RefusedContainerTest, IsNoMovieWithAReason)
{
    test::TempTree tree;
    const auto reading = readBytes(tree, GetParam().bytes);
    EXPECT_FALSE(reading.facts);
    EXPECT_FALSE(reading.refusal.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedContainerTest,
    testing::Values(RefusedCase{"Empty", {}}, RefusedCase{"Text", {'h', 'e', 'l', 'l', 'o'}},
                    RefusedCase{"WaveFile", chunk("RIFF", {'W', 'A', 'V', 'E'})},
                    // RIFF AVI whose header list is cut before the main header
                    RefusedCase{"AviWithoutMainHeader",
                                {'R', 'I', 'F', 'F', 8,   0,   0,    0,    'A',  'V',
                                 'I', ' ', 'L', 'I', 'S', 'T', 0xFF, 0xFF, 0xFF, 0x7F}},
                    RefusedCase{"MpegAudioFrame", {0xFF, 0xFB, 0x90, 0x64, 0, 0, 0, 0}}),
    [](const testing::TestParamInfo<RefusedCase>& param) { return std::string(param.param.name); });

TEST(MovieContainerTest, AChunkClaimingMoreThanTheFileEndsTheHeadersWithoutHarm)
{
    test::TempTree tree;
    Bytes bytes = aviFile({mainHeader(40000, 25, 160, 120)});
    // A strl list that says it holds 2 GiB, behind the main header.
    const Bytes huge{'L', 'I', 'S', 'T', 0xFF, 0xFF, 0xFF, 0x7F, 's', 't', 'r', 'l'};
    bytes.insert(bytes.begin() + 12 + 12 + 64, huge.begin(), huge.end());
    const auto reading = readBytes(tree, bytes);
    ASSERT_TRUE(reading.facts);
    EXPECT_EQ(reading.facts->width, -1);
}

} // namespace
} // namespace tagrelay
