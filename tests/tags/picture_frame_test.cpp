#include "picture/cover_picture.h"
#include "platform/byte_reader.h"
#include "support/id3_bytes.h"
#include "support/picture_bytes.h"
#include "support/support.h"
#include "tags/id3v2.h"
#include "tags/picture_frame.h"

#include <gtest/gtest.h>

namespace tagrelay {
namespace {

using test::Bytes;
using test::join;

/// APIC frame data from its parts, the terminators included in the parts given.
Bytes apic(std::uint8_t encoding, std::string_view mimeAndZero, std::uint8_t pictureType,
           const Bytes& descriptionAndTerminator, const Bytes& data)
{
    Bytes frame{encoding};
    frame.insert(frame.end(), mimeAndZero.begin(), mimeAndZero.end());
    frame.push_back(pictureType);
    return join({frame, descriptionAndTerminator, data});
}

const Bytes someData{0xFF, 0xD8, 0xFF, 0xE0};

struct FrameCase
{
    const char* name;
    Bytes frame;
    std::optional<std::string_view> mimeType; // none: the frame gives no parts
    std::size_t descriptionSize = 0;
    Bytes data;
};

constexpr std::optional<std::string_view> noParts;

class PictureFrameTest : public testing::TestWithParam<FrameCase>
{
};

TEST_P(PictureFrameTest, SplitsTheFrameIntoItsParts)
{
    const auto frame = readPictureFrame(GetParam().frame);
    ASSERT_EQ(frame.has_value(), GetParam().mimeType.has_value());
    if (!frame)
        return;
    EXPECT_EQ(frame->mimeType, *GetParam().mimeType);
    EXPECT_EQ(frame->description.size(), GetParam().descriptionSize);
    EXPECT_EQ(Bytes(frame->data.begin(), frame->data.end()), GetParam().data);
}

using namespace std::string_view_literals;

INSTANTIATE_TEST_SUITE_P(
    Cover, PictureFrameTest,
    testing::Values(
        FrameCase{
            "Latin1DescriptionWithLineBreak",
            apic(0, "image/jpeg\0"sv, 3, {'F', 'r', 'o', 'n', 't', '\r', '\n', 'x', 0}, someData),
            "image/jpeg", 8, someData},
        // The units U+0041 U+0100 hold a zero pair across their boundary (41 00 | 00 01):
        // only pairs from the description's start may end it.
        FrameCase{"Utf16DescriptionWithLineBreakAndZeroBytes",
                  apic(1, "image/png\0"sv, 3, {0xFF, 0xFE, 'A', 0, 0, 1, '\n', 0, 'B', 0, 0, 0},
                       someData),
                  "image/png", 10, someData},
        FrameCase{"EmptyDescription", apic(0, "\0"sv, 3, {0}, someData), "", 0, someData},
        FrameCase{"NoDataLeft", apic(0, "image/jpeg\0"sv, 3, {0}, {}), "image/jpeg", 0, {}},
        FrameCase{"EncodingTwo", apic(2, "image/jpeg\0"sv, 3, {0}, someData), noParts, 0, {}},
        FrameCase{"MimeTypeWithoutZero", {0, 'i', 'm', 'a', 'g', 'e'}, noParts, 0, {}},
        FrameCase{"EndsBeforeThePictureType", {0, 'i', 0}, noParts, 0, {}},
        FrameCase{"DescriptionWithoutTerminator",
                  apic(0, "image/jpeg\0"sv, 3, {'a', 'b'}, {}),
                  noParts,
                  0,
                  {}},
        FrameCase{"Utf16DescriptionEndsInHalfAUnit",
                  apic(1, "image/png\0"sv, 3, {0xFF, 0xFE, 'A', 0, 0}, {}),
                  noParts,
                  0,
                  {}},
        FrameCase{"Empty", {}, noParts, 0, {}}),
    [](const auto& param) { return std::string(param.param.name); });

Bytes pngOfWidth(int width)
{
    return test::pngFile(test::solidImage(width, 10, {10, 20, 30}));
}

const Bytes gif{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0};

Bytes frontCover(const Bytes& data, std::uint8_t encoding = 0)
{
    return apic(encoding, "image/png\0"sv, frontCoverType,
                encoding == 1 ? Bytes{0xFF, 0xFE, 'x', 0, 0, 0} : Bytes{'x', 0}, data);
}

Bytes backCover(const Bytes& data)
{
    return apic(0, "image/png\0"sv, 4, {0}, data);
}

struct SequenceCase
{
    const char* name;
    std::vector<Bytes> frames;
    int coverWidth; // 0: no cover
};

class CoverSequenceTest : public testing::TestWithParam<SequenceCase>
{
};

/// The cover a file whose tag holds these APIC frames shows: the tag reader keeps the last
/// front cover, which is then decoded.
PictureHandle coverOfTag(const std::vector<Bytes>& frames)
{
    test::Id3v2Builder tag;
    for (const Bytes& frame : frames)
        tag.rawFrame("APIC", frame);
    test::TempTree tree;
    ByteReader file(tree.writeFile("song.mp3", join({tag.bytes(), test::audioBytes()})));
    return decodeCover(frontCoverPicture(readTrackTags(file).coverFrame), noScreenDepth);
}

TEST_P(CoverSequenceTest, LeavesTheLastDecodableFrontCover)
{
    const PictureHandle cover = coverOfTag(GetParam().frames);
    EXPECT_EQ(cover ? cover->width : 0, GetParam().coverWidth);
}

INSTANTIATE_TEST_SUITE_P(
    Cover, CoverSequenceTest,
    testing::Values(
        SequenceCase{
            "BackCoverThenFrontCover", {backCover(pngOfWidth(11)), frontCover(pngOfWidth(22))}, 22},
        SequenceCase{
            "FrontCoverThenBackCover", {frontCover(pngOfWidth(22)), backCover(pngOfWidth(11))}, 22},
        SequenceCase{"TwoFrontCoversTheLaterWins",
                     {frontCover(pngOfWidth(22)), frontCover(pngOfWidth(33))},
                     33},
        SequenceCase{"Utf16FrameWithPng", {frontCover(pngOfWidth(44), 1)}, 44},
        SequenceCase{"GifFrontCover", {frontCover(gif)}, 0},
        SequenceCase{
            "GifFrontCoverReplacesAnEarlierOne", {frontCover(pngOfWidth(22)), frontCover(gif)}, 0},
        SequenceCase{"FrontCoverWithoutDataKeepsTheEarlierOne",
                     {frontCover(pngOfWidth(22)), frontCover({})},
                     22}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(CoverTest, TagReaderKeepsTheFrontCoverOfTheTag)
{
    const Bytes tag = test::Id3v2Builder()
                          .textFrame("TIT2", "Song")
                          .pictureFrame(4, "image/png", pngOfWidth(11))
                          .pictureFrame(3, "image/png", pngOfWidth(500), "Front\r\ncover", 1)
                          .bytes();
    test::TempTree tree;
    ByteReader file(tree.writeFile("song.mp3", join({tag, test::audioBytes()})));
    const TrackTags tags = readTrackTags(file);
    const PictureHandle cover = decodeCover(frontCoverPicture(tags.coverFrame), noScreenDepth);
    ASSERT_TRUE(cover);
    EXPECT_EQ(cover->width, 500);
    EXPECT_EQ(tags.title, "Song");
}

TEST(CoverTest, CoverGivesTheAreaImageAndASmallJpegIcon)
{
    const Bytes frame = frontCover(test::jpegFile(test::solidImage(500, 300, {250, 120, 10})));
    const PictureHandle cover = decodeCover(frontCoverPicture(frame), noScreenDepth);
    ASSERT_TRUE(cover);
    const RgbImage area = coverAreaImage(*cover);
    EXPECT_EQ(area.width, coverAreaSide);
    EXPECT_EQ(area.height, coverAreaSide);

    const auto icon = test::readBackJpeg(makeCoverIcon(*cover, 32));
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->width, 32);
    EXPECT_EQ(icon->height, 32);
    EXPECT_EQ(icon->components, 3);
    EXPECT_EQ(cover->width, 32);
    EXPECT_EQ(cover->height, 32);
}

} // namespace
} // namespace tagrelay
