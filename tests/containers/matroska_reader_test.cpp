#include "containers/matroska_reader.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

namespace tagrelay {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

/// An element: its ID, its size as an eight-byte integer (or unknown), its data.
Bytes element(std::uint32_t id, const Bytes& data, bool unknownSize = false)
{
    Bytes bytes;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if ((id >> shift) != 0)
            bytes.push_back(static_cast<std::uint8_t>(id >> shift));
    }
    bytes.push_back(0x01);
    for (int shift = 48; shift >= 0; shift -= 8)
        bytes.push_back(unknownSize ? 0xFF : static_cast<std::uint8_t>(data.size() >> shift));
    return bytes + data;
}

Bytes unsignedElement(std::uint32_t id, std::uint64_t value)
{
    Bytes data;
    for (int shift = 56; shift >= 0; shift -= 8)
        data.push_back(static_cast<std::uint8_t>(value >> shift));
    return element(id, data);
}

Bytes floatElement(std::uint32_t id, double value)
{
    return unsignedElement(id, std::bit_cast<std::uint64_t>(value));
}

Bytes header(const char* docType = "matroska")
{
    return element(0x1A45DFA3, element(0x4282, Bytes(docType, docType + std::strlen(docType))));
}

Bytes track(std::uint64_t number, std::uint64_t type, std::uint64_t defaultDurationNs = 0)
{
    Bytes entry = unsignedElement(0xD7, number) + unsignedElement(0x83, type);
    if (defaultDurationNs != 0)
        entry = entry + unsignedElement(0x23E383, defaultDurationNs);
    if (type == 1)
        entry = entry + element(0xE0, unsignedElement(0xB0, 320) + unsignedElement(0xBA, 240));
    return element(0xAE, entry);
}

Bytes tracks()
{
    return element(0x1654AE6B, track(1, 1, 40000000) + track(2, 2));
}

/// A block's data: track 1 to 127, the relative timestamp, the flags, then lacing bytes and
/// payload as given.
Bytes block(std::uint8_t track, std::int16_t relative, std::uint8_t flags, const Bytes& rest = {})
{
    const auto r = static_cast<std::uint16_t>(relative);
    return Bytes{static_cast<std::uint8_t>(0x80 | track), static_cast<std::uint8_t>(r >> 8),
                 static_cast<std::uint8_t>(r), flags}
           + rest;
}

Bytes simpleBlock(std::uint8_t track, std::int16_t relative, const Bytes& rest = Bytes(10, 0xAA),
                  std::uint8_t flags = 0x80)
{
    return element(0xA3, block(track, relative, flags, rest));
}

Bytes cluster(std::uint64_t timestamp, const Bytes& blocks, bool unknownSize = false)
{
    return element(0x1F43B675, unsignedElement(0xE7, timestamp) + blocks, unknownSize);
}

Bytes segment(const Bytes& children, bool unknownSize = false)
{
    return element(0x18538067, children, unknownSize);
}

Bytes info(std::optional<double> duration, std::uint64_t scale = 1000000)
{
    Bytes data = unsignedElement(0x2AD7B1, scale);
    if (duration)
        data = data + floatElement(0x4489, *duration);
    return element(0x1549A966, data);
}

MatroskaFacts read(const Bytes& file)
{
    test::TempTree tree;
    ByteReader reader(tree.writeFile("movie.mkv", file));
    return readMatroska(reader);
}

struct BlockCase
{
    const char* name;
    Bytes blocks; // in a cluster at 1000 ms of a segment without a Duration
    std::int64_t frames;
    std::int64_t endMs;
    MatroskaTrouble trouble = MatroskaTrouble::None;
};

void PrintTo(const BlockCase& row, std::ostream* out)
{
    *out << row.name;
}

class MatroskaBlockTest : public testing::TestWithParam<BlockCase>
{
};

// The frames of the video track's blocks, and the end of the one with the largest timestamp.
TEST_P(MatroskaBlockTest, CountsFramesAndFindsTheEnd)
{
    const BlockCase& row = GetParam();
    const MatroskaFacts facts =
        read(header() + segment(info(std::nullopt) + tracks() + cluster(1000, row.blocks)));
    EXPECT_EQ(facts.trouble, row.trouble) << facts.troubleText;
    EXPECT_EQ(facts.frames, row.frames);
    EXPECT_EQ(facts.durationNs, row.endMs * 1000000);
    ASSERT_TRUE(facts.video);
    EXPECT_EQ(facts.video->pixelWidth, 320);
    EXPECT_EQ(facts.video->pixelHeight, 240);
}

// Flags: 0x02 Xiph lacing, 0x04 fixed, 0x06 EBML; the byte after them is the frames less one.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Blocks, MatroskaBlockTest, testing::Values(
    BlockCase{"OneFramePerBlock", simpleBlock(1, 0) + simpleBlock(1, 40), 2, 1080},
    BlockCase{"OtherTracksNotCounted", simpleBlock(2, 0) + simpleBlock(1, 0) + simpleBlock(2, 500),
              1, 1040},
    // Shown before the frames decoded ahead of them: the last block is not the latest.
    BlockCase{"LatestIsNotLast", simpleBlock(1, 0) + simpleBlock(1, 120) + simpleBlock(1, 40)
              + simpleBlock(1, 80), 4, 1160},
    BlockCase{"BlockDurationOverDefault",
              element(0xA0, element(0xA1, block(1, 200, 0)) + unsignedElement(0x9B, 7))
              + simpleBlock(1, 0), 2, 1207},
    BlockCase{"XiphLacing", simpleBlock(1, 0, Bytes{2, 255, 3, 4} + Bytes(270, 0), 0x82), 3, 1120},
    BlockCase{"EbmlLacing", simpleBlock(1, 0, Bytes{3, 0x85, 0xBF, 0xC0, 0xBF} + Bytes(30, 0),
                                        0x86), 4, 1160},
    BlockCase{"FixedLacing", simpleBlock(1, 0, Bytes{1} + Bytes(20, 0), 0x84), 2, 1080},
    BlockCase{"XiphSizesPastTheBlock", simpleBlock(1, 0, Bytes{1, 200} + Bytes(20, 0), 0x82), 2,
              1080, MatroskaTrouble::Damaged},
    BlockCase{"FixedSizesUneven", simpleBlock(1, 0, Bytes{2} + Bytes(20, 0), 0x84), 3, 1120,
              MatroskaTrouble::Damaged},
    BlockCase{"NegativeRelativeTime", simpleBlock(1, -1000) + simpleBlock(1, -960), 2, 80}));
// clang-format on

TEST(MatroskaReaderTest, SegmentDurationTimesTheScale)
{
    const Bytes body = tracks() + cluster(0, simpleBlock(1, 0) + simpleBlock(1, 400));
    // 100 microseconds per unit: 80000 units are 8 s.
    EXPECT_EQ(read(header() + segment(info(80000.0, 100000) + body)).durationNs, 8000000000);
    EXPECT_EQ(read(header("webm") + segment(info(std::nullopt, 100000) + body)).durationNs,
              (400 * 100000) + 40000000);
}

// Live and piped files: a Segment of unknown size runs to the end of the file, a Cluster of
// unknown size to the next element that cannot be inside it.
TEST(MatroskaReaderTest, ReadsSegmentsAndClustersOfUnknownSize)
{
    const Bytes clusters = cluster(0, simpleBlock(1, 0) + simpleBlock(1, 40), true)
                           + cluster(80, simpleBlock(1, 0), true) + element(0x1C53BB6B, Bytes(8, 0))
                           + cluster(120, simpleBlock(1, 0));
    const MatroskaFacts facts =
        read(header() + segment(info(std::nullopt) + tracks() + clusters, true));
    EXPECT_EQ(facts.trouble, MatroskaTrouble::None) << facts.troubleText;
    EXPECT_EQ(facts.frames, 4);
    EXPECT_EQ(facts.durationNs, 160000000);
    // Tracks behind the clusters still name the video track.
    EXPECT_EQ(read(header() + segment(clusters + tracks())).frames, 4);
}

struct DamageCase
{
    const char* name;
    Bytes file;
    MatroskaTrouble trouble;
    std::int64_t frames;
    std::int64_t endMs = -1; // -1: not checked
};

void PrintTo(const DamageCase& row, std::ostream* out)
{
    *out << row.name;
}

class MatroskaDamageTest : public testing::TestWithParam<DamageCase>
{
};

TEST_P(MatroskaDamageTest, TellsWhatIsWrongAndKeepsWhatWasRead)
{
    const MatroskaFacts facts = read(GetParam().file);
    EXPECT_EQ(facts.trouble, GetParam().trouble);
    EXPECT_FALSE(facts.troubleText.empty());
    EXPECT_EQ(facts.frames, GetParam().frames);
    if (GetParam().endMs >= 0) {
        EXPECT_EQ(facts.durationNs, GetParam().endMs * 1000000);
    }
}

Bytes cutAt(Bytes bytes, std::size_t less)
{
    bytes.resize(bytes.size() - less);
    return bytes;
}

const Bytes threeBlocks =
    header()
    + segment(info(10000.0) + tracks()
              + cluster(0, simpleBlock(1, 0) + simpleBlock(1, 40) + simpleBlock(1, 80)));

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, MatroskaDamageTest, testing::Values(
    DamageCase{"Empty", {}, MatroskaTrouble::NotMatroska, 0},
    DamageCase{"OtherDocType", header("avi") + segment(tracks()), MatroskaTrouble::NotMatroska, 0},
    DamageCase{"CutInsideTheLastBlock", cutAt(threeBlocks, 3), MatroskaTrouble::CutShort, 2, 80},
    // Cut where a block ends: timed by its blocks, not by the Duration it promised.
    DamageCase{"CutBehindABlock", cutAt(threeBlocks, 23), MatroskaTrouble::CutShort, 2, 80},
    DamageCase{"CutInsideTheHeader", cutAt(header(), 2), MatroskaTrouble::CutShort, 0},
    DamageCase{"ZeroByteWhereAnElementStarts", cutAt(threeBlocks, 16) + Bytes(16, 0),
               MatroskaTrouble::Damaged, 2},
    DamageCase{"BlockPastItsCluster", header() + segment(tracks() + [] {
        Bytes shorter = cluster(0, simpleBlock(1, 0));
        shorter[11] = static_cast<std::uint8_t>(shorter[11] - 4); // the size's last byte
        return shorter + simpleBlock(1, 0);
    }()),
               MatroskaTrouble::Damaged, 0}));
// clang-format on

} // namespace
} // namespace tagrelay
