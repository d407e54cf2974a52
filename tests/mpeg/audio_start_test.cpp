#include "mpeg/audio_start.h"
#include "platform/byte_reader.h"
#include "support/frame_bytes.h"
#include "support/id3_bytes.h"
#include "support/support.h"
#include "tags/id3v2.h"

#include <gtest/gtest.h>

namespace tagrelay {
namespace {

using test::Bytes;
using test::Id3v2Builder;
using test::join;

TEST(IsBitSetTest, TestsOneBit)
{
    EXPECT_EQ(isBitSet(0xE0, 7), 1);
    EXPECT_EQ(isBitSet(0xE0, 6), 1);
    EXPECT_EQ(isBitSet(0xE0, 5), 1);
    EXPECT_EQ(isBitSet(0xE0, 4), 0);
    EXPECT_EQ(isBitSet(1, 0), 1);
    EXPECT_EQ(isBitSet(std::int32_t{-2147483647 - 1}, 31), 1);
    EXPECT_EQ(isBitSet(0xFF, -1), 0);
    EXPECT_EQ(isBitSet(-1, 64), 0);
}

struct StartCase
{
    const char* name;
    Bytes file;
    std::int64_t expected;
};

void PrintTo(const StartCase& row, std::ostream* out)
{
    *out << row.name;
}

class AudioStartTest : public ::testing::TestWithParam<StartCase>
{
};

TEST_P(AudioStartTest, FindsTheFirstSyncBehindTheTag)
{
    test::TempTree tree;
    ByteReader file(tree.writeFile("a.mp3", GetParam().file));
    EXPECT_EQ(findAudioStart(file), GetParam().expected);
}

/// A tag whose cover picture is full of byte pairs that look like frame syncs.
Id3v2Builder tagWithSyncLikeCover(std::uint8_t version)
{
    return Id3v2Builder(version)
        .textFrame("TIT2", "Test")
        .pictureFrame(3, "image/jpeg", Bytes(300, 0xFF))
        .padding(50);
}

const auto coverTag3 = tagWithSyncLikeCover(3).bytes();
const auto coverTag4 = tagWithSyncLikeCover(4).bytes();
const auto coverTag2 = tagWithSyncLikeCover(2).bytes();
const auto coverTag4WithFooter = tagWithSyncLikeCover(4).footer().bytes();
const auto tagSize = static_cast<std::int64_t>(coverTag3.size());

/// A frame whose header starts FF FF (MPEG 1 layer 1), and free-format frames (index 0).
const auto layer1Frame = test::FrameStream().frame({.layer = 1, .kbps = 288}).bytes();
const auto freeFormatFrames = test::FrameStream()
                                  .rawHeaderFrame({0xFF, 0xFB, 0x00, 0x64}, {})
                                  .rawHeaderFrame({0xFF, 0xFB, 0x02, 0x64}, {.padding = true})
                                  .rawHeaderFrame({0xFF, 0xFB, 0x00, 0x64}, {})
                                  .bytes();

INSTANTIATE_TEST_SUITE_P(
    Files, AudioStartTest,
    ::testing::Values(
        StartCase{"SyncAtTheStart", test::audioBytes(), 0},
        StartCase{"SyncBehindOtherBytes", join({Bytes{0, 0xFF, 0xC0, 0xE0, 0}, test::audioBytes()}),
                  5},
        StartCase{"TwoFFBytesAreASync", join({Bytes{1, 2}, layer1Frame}), 2},
        StartCase{"SecondByteIsExaminedAgain", join({Bytes{0xFF, 0x1F}, layer1Frame}), 2},
        // A lone sync pair, or a header that times no frame, is no frame.
        StartCase{"LoneSyncPairIsNoFrame", Bytes{1, 2, 0xFF, 0xFF, 0}, -1},
        StartCase{"ReservedLayerIsNoFrame", Bytes{0xFF, 0x1F, 0xFF, 0xE0}, -1},
        StartCase{"FFAsTheLastByteIsNoSync", Bytes{0, 0, 0, 0xFF}, -1},
        StartCase{"EmptyFile", Bytes{}, -1},
        // Free format: the distance to the next header of the stream is the frames' length.
        StartCase{"FreeFormatStream", join({Bytes(7, 0), freeFormatFrames}), 7},
        StartCase{"FreeFormatHeaderAlone",
                  Bytes(freeFormatFrames.begin(), freeFormatFrames.begin() + 417), -1},
        StartCase{"Version3TagSkipped", join({coverTag3, test::audioBytes()}), tagSize},
        StartCase{"Version4TagSkipped", join({coverTag4, test::audioBytes()}), tagSize},
        StartCase{"Version2TagSkipped", join({coverTag2, test::audioBytes()}),
                  static_cast<std::int64_t>(coverTag2.size())},
        StartCase{"Version4FooterSkipped", join({coverTag4WithFooter, test::audioBytes()}),
                  tagSize + 10},
        // Without the footer flag the ten bytes behind a version 4 tag are audio.
        StartCase{"Version4WithoutFooterFlag", join({Id3v2Builder(4).bytes(), test::audioBytes()}),
                  10},
        StartCase{"FooterFlagOnVersion3MeansNothing",
                  join({Bytes{'I', 'D', '3', 3, 0, 0x10, 0, 0, 0, 0}, test::audioBytes()}), 10},
        StartCase{"OnlyATag", coverTag3, -1},
        StartCase{"TagLargerThanTheFile",
                  join({Id3v2Builder().tagSizeField(5000).bytes(), test::audioBytes()}), -1},
        // Its size bytes are read as audio bytes: a version 5 header is no tag to skip.
        StartCase{"OtherVersionIsNoTag", join({Bytes{'I', 'D', '3', 5, 0, 0, 0, 0}, layer1Frame}),
                  8}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(AudioStartTest, StartsAtTheBeginningWhereverTheReaderStands)
{
    test::TempTree tree;
    const auto path =
        tree.writeFile("a.mp3", join({coverTag3, test::audioBytes(), Bytes{0xFF, 0xFB}}));
    ByteReader file(path);
    file.seek(file.size() - 1);
    EXPECT_EQ(findAudioStart(file), tagSize);
    ByteReader missing("/nonexistent/a.mp3");
    EXPECT_EQ(findAudioStart(missing), -1);
}

TEST(Id3v2HeaderTest, CombinesSizeBytesSevenBitsApart)
{
    const auto header = decodeId3v2Header(Bytes{'I', 'D', '3', 3, 0, 0x50, 1, 2, 3, 4});
    ASSERT_TRUE(header);
    EXPECT_EQ(header->majorVersion, 3);
    EXPECT_EQ(header->flags, 0x50);
    EXPECT_EQ(header->tagSize, (1 << 21) + (2 << 14) + (3 << 7) + 4);
    // Invalid size bytes with the top bit set are combined as they are.
    EXPECT_EQ(decodeId3v2Header(Bytes{'I', 'D', '3', 3, 0, 0, 0, 0, 1, 0x80})->tagSize, 256);
    EXPECT_FALSE(decodeId3v2Header(Bytes{'I', 'D', '3', 3, 0, 0, 0, 0, 0}));
}

} // namespace
} // namespace tagrelay
