#include "containers/iso_bmff.h"
#include "platform/byte_reader.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace tagrelay {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes be32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

/// A box: its 32-bit size, its type, the payload.
Bytes box(const char (&type)[5], const Bytes& payload)
{
    return join(
        {be32(static_cast<std::uint32_t>(8 + payload.size())), be32(fourCc(type)), payload});
}

Bytes zeros(std::size_t count)
{
    return Bytes(count, 0);
}

/// A tkhd of version 0 with the matrix's a, b, c, d and the size 320 x 240.
Bytes trackHeader(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d)
{
    const auto u = [](std::int32_t v) { return be32(static_cast<std::uint32_t>(v)); };
    return box("tkhd", join({zeros(12), be32(1), zeros(4 + 4 + 16), u(a), u(b), zeros(4), u(c),
                             u(d), zeros(12), be32(0x40000000), be32(320 << 16), be32(240 << 16)}));
}

Bytes movie(const Bytes& trackBoxes, const Bytes& more = {})
{
    const Bytes mvhd = box("mvhd", join({zeros(12), be32(1000), be32(5000), zeros(80)}));
    return join({box("ftyp", join({be32(fourCc("isom")), zeros(4)})),
                 box("moov", join({mvhd, box("trak", trackBoxes), more}))});
}

IsoFacts read(const Bytes& bytes)
{
    test::TempTree folder;
    ByteReader file(folder.writeFile("f.mp4", bytes));
    return readIsoFile(file, IsoCover::Keep);
}

TEST(IsoBmffTest, TheMatrixTurnsTheSizeOnlyByAQuarterTurn)
{
    const struct
    {
        std::int32_t a, b, c, d;
        bool turned;
    } cases[] = {
        {0x10000, 0, 0, 0x10000, false},   // none
        {0, 0x10000, -0x10000, 0, true},   // 90 degrees
        {-0x10000, 0, 0, -0x10000, false}, // 180
        {0, -0x10000, 0x10000, 0, true},   // 270
    };
    for (const auto& c : cases) {
        const IsoFacts facts = read(movie(trackHeader(c.a, c.b, c.c, c.d)));
        ASSERT_EQ(facts.tracks.size(), 1u);
        EXPECT_EQ(facts.tracks[0].isTurned, c.turned) << c.b;
        EXPECT_EQ(facts.tracks[0].width, 320);
        EXPECT_EQ(facts.tracks[0].height, 240);
    }
}

TEST(IsoBmffTest, EditListsSumEverySegmentEmptyEditsIncluded)
{
    // Version 1: an empty edit of 500 (media time -1), then 4000; version 0: 1000 + 2000.
    const Bytes v1 =
        box("elst", join({be32(0x01000000), be32(2), be32(0), be32(500), be32(~0u), be32(~0u),
                          be32(0x10000), be32(0), be32(4000), be32(0), be32(0), be32(0x10000)}));
    const Bytes v0 = box("elst", join({be32(0), be32(2), be32(1000), be32(0), be32(0x10000),
                                       be32(2000), be32(1024), be32(0x10000)}));
    EXPECT_EQ(read(movie(box("edts", v1))).tracks.at(0).editDuration, 4500);
    EXPECT_EQ(read(movie(box("edts", v0))).tracks.at(0).editDuration, 3000);
    // An entry count far beyond the box reads what the box holds.
    const Bytes lying = box("elst", join({be32(0), be32(0xFFFFFFFF), be32(700), zeros(8)}));
    EXPECT_EQ(read(movie(box("edts", lying))).tracks.at(0).editDuration, 700);
}

TEST(IsoBmffTest, CountsAndSizesBeyondTheFileNeitherAllocateNorLoop)
{
    // A trun of 2^32 - 1 samples with sizes, holding two; an stsz likewise.
    const Bytes trun = box("trun", join({be32(0x000200), be32(0xFFFFFFFF), be32(10), be32(10)}));
    const Bytes moof =
        box("moof", box("traf", join({box("tfhd", join({be32(0), be32(1)})), trun})));
    const Bytes stsz = box("stsz", join({be32(0), be32(0), be32(0xFFFFFFFF), be32(7)}));
    const Bytes mvex =
        box("mvex", box("trex", join({be32(0), be32(1), be32(1), be32(5), be32(0), be32(0)})));
    Bytes file = join({movie(join({trackHeader(0x10000, 0, 0, 0x10000),
                                   box("mdia", box("minf", box("stbl", stsz)))}),
                             mvex),
                       moof});
    IsoFacts facts = read(file);
    ASSERT_EQ(facts.tracks.size(), 1u);
    EXPECT_TRUE(facts.isFragmented);
    EXPECT_EQ(facts.tracks[0].sampleCount, 3);
    EXPECT_EQ(facts.tracks[0].sampleBytes, 27);
    EXPECT_EQ(facts.tracks[0].fragmentDuration, 10); // trex's default, twice
    EXPECT_FALSE(facts.tracks[0].sizesEqual);
    EXPECT_TRUE(facts.isCut);

    // A largesize of 2^63 and more, and a size smaller than the header.
    for (const Bytes& tail : {join({be32(1), be32(fourCc("mdat")), be32(0xFFFFFFFF), be32(0)}),
                              join({be32(4), be32(fourCc("free"))})}) {
        facts = read(join({movie(trackHeader(0x10000, 0, 0, 0x10000)), tail}));
        EXPECT_TRUE(facts.hasMovie);
        EXPECT_EQ(facts.tracks.size(), 1u);
    }

    // Containers nested deeper than the limit, and more boxes than the limit.
    Bytes nested = box("stbl", {});
    for (int i = 0; i < 100; ++i)
        nested = box("mdia", nested);
    EXPECT_TRUE(read(movie(nested)).hitLimit);
    Bytes many = movie({});
    for (int i = 0; i <= isoMaxBoxes; ++i)
        many.insert(many.end(), {0, 0, 0, 8, 'f', 'r', 'e', 'e'});
    facts = read(many);
    EXPECT_TRUE(facts.hitLimit);
    EXPECT_TRUE(facts.hasMovie);
}

TEST(IsoBmffTest, SizeZeroRunsToTheEndAndTheMovieAfterItIsNotSought)
{
    // mdat of size 0 takes the rest: a moov behind it is inside it.
    Bytes file =
        join({box("ftyp", zeros(8)), be32(0), be32(fourCc("mdat")), zeros(16), box("moov", {})});
    IsoFacts facts = read(file);
    EXPECT_TRUE(facts.isIsoFile);
    EXPECT_FALSE(facts.hasMovie);
    EXPECT_FALSE(facts.isCut);
    EXPECT_FALSE(read(Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}).isIsoFile);
}

TEST(IsoBmffTest, GaplessInfoIsTheSecondAndThirdHexadecimalWord)
{
    std::int64_t priming = -1;
    std::int64_t padding = -1;
    EXPECT_TRUE(parseGaplessInfo(" 00000000 00000840 000001CC 00000000000A0B54", priming, padding));
    EXPECT_EQ(priming, 0x840);
    EXPECT_EQ(padding, 0x1CC);
    for (const char* bad : {"", " 00000000 00000840", " 0 84G 1", " 0 11111111111111111 0"})
        EXPECT_FALSE(parseGaplessInfo(bad, priming, padding)) << bad;
}

} // namespace
} // namespace tagrelay
