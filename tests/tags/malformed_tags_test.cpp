#include "mpeg/audio_start.h"
#include "platform/byte_reader.h"
#include "support/frame_bytes.h"
#include "support/id3_bytes.h"
#include "support/support.h"
#include "tags/id3v2.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

namespace tagrelay {
namespace {

using test::Bytes;
using test::Id3v2Builder;
using test::join;

struct MalformedCase
{
    const char* name;
    Bytes file;
    std::string expectedTitle;
};

void PrintTo(const MalformedCase& row, std::ostream* out)
{
    *out << row.name;
}

class MalformedTagTest : public ::testing::TestWithParam<MalformedCase>
{
};

/// The process's peak resident memory so far, in KiB.
long peakMemoryKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Hostile sizes must neither crash, hang nor allocate what they claim: a buffer of the
// claimed 2 GiB would raise the peak memory by gigabytes.
TEST_P(MalformedTagTest, ReadsWhatIsThereAndStops)
{
    const long peakBefore = peakMemoryKiB();
    test::TempTree tree;
    const auto path = tree.writeFile("bad.mp3", GetParam().file);
    ByteReader file(path);
    const TrackTags tags = readTrackTags(file);
    EXPECT_EQ(tags.title, GetParam().expectedTitle);
    const std::int64_t start = findAudioStart(file);
    EXPECT_GE(start, -1);
    EXPECT_LT(start, static_cast<std::int64_t>(GetParam().file.size()));
    EXPECT_LT(peakMemoryKiB() - peakBefore, 64 * 1024);
}

Bytes truncated(Bytes bytes, std::size_t count)
{
    bytes.resize(count);
    return bytes;
}

const Bytes goodTag = Id3v2Builder().textFrame("TIT2", "Title").padding(8).bytes();

INSTANTIATE_TEST_SUITE_P(
    Files, MalformedTagTest,
    ::testing::Values(
        MalformedCase{"HeaderOnlyPartly", truncated(goodTag, 5), ""},
        MalformedCase{"FrameHeaderCutOff", truncated(goodTag, 16), ""},
        MalformedCase{"FrameDataCutOff", truncated(goodTag, 24), "Tit"},
        MalformedCase{"TagSizeLargerThanTheFile",
                      Id3v2Builder().textFrame("TIT2", "Title").tagSizeField(0x0FFFFFFF).bytes(),
                      "Title"},
        MalformedCase{"TagSizeBytesAllOnes",
                      Id3v2Builder().textFrame("TIT2", "Title").tagSizeField(0xFFFFFFFF).bytes(),
                      "Title"},
        MalformedCase{"TwoGibibyteTextFrame",
                      Id3v2Builder().rawFrame("TIT2", {0, 'B', 'i', 'g'}, 0x7FFFFFFF).bytes(),
                      "Big"},
        // The frame stops at the tag's end: the odd byte 'i' there is no character, and the
        // audio behind the tag never pairs with it.
        MalformedCase{
            "TwoGibibyteUtf16Frame",
            Id3v2Builder().rawFrame("TIT2", {1, 0xFF, 0xFE, 'B', 0, 'i'}, 0x7FFFFFFF).bytes(), "B"},
        MalformedCase{
            "TwoGibibyteLinkFrame",
            Id3v2Builder().textFrame("TIT2", "T").rawFrame("WXXX", {0, 'd'}, 0x7FFFFFFF).bytes(),
            "T"},
        MalformedCase{"ZeroSizeFrameFirst",
                      Id3v2Builder().rawFrame("TIT2", {}, 0).textFrame("TIT2", "X").bytes(), ""},
        MalformedCase{"ManyOneByteFramesUpToTheEnd",
                      [] {
                          Id3v2Builder tag;
                          for (int i = 0; i < 2000; ++i)
                              tag.rawFrame("XXXX", {0});
                          return tag.textFrame("TIT2", "End").tagSizeField(0x0FFFFFFF).bytes();
                      }(),
                      "End"},
        MalformedCase{"FrameIdsOfAllOnes",
                      join({Id3v2Builder().tagSizeField(1000).bytes(), Bytes(600, 0xFF)}), ""},
        MalformedCase{"Id3v1InsideTheTagOfATinyFile",
                      truncated(join({Id3v2Builder().tagSizeField(0x0FFFFFFF).bytes(),
                                      test::id3v1Block("V1", "", "", "")}),
                                80),
                      ""}),
    [](const auto& row) { return std::string(row.param.name); });

// The readers of one file share its reader: the tags and the audio start of a typical
// tagged file cost a few large reads, not one per frame or per byte.
TEST(TagReadCostTest, ReadersOfOneFileShareItsWindow)
{
    test::TempTree tree;
    const Bytes tag = Id3v2Builder()
                          .textFrame("TIT2", "Title")
                          .textFrame("TPE1", "Artist")
                          .textFrame("TALB", "Album")
                          .textFrame("TCON", "(17)")
                          .pictureFrame(3, "image/jpeg", Bytes(20000, 0xFF))
                          .padding(2048)
                          .bytes();
    const auto path =
        tree.writeFile("typical.mp3", join({tag, test::FrameStream().frames(960, {}).bytes(),
                                            test::id3v1Block("T", "A", "", "")}));
    ByteReader file(path, 64 * 1024);
    const TrackTags tags = readTrackTags(file);
    EXPECT_EQ(findAudioStart(file), static_cast<std::int64_t>(tag.size()));
    EXPECT_EQ(tags.title, "Title");
    EXPECT_LE(file.readCalls(), 3u);
    EXPECT_LE(file.bytesFetched(), 2u * 64 * 1024 + 128);
}

} // namespace
} // namespace tagrelay
