// Bytes that are no picture, damaged pictures and decompression bombs: each is either refused
// as a value or decoded as far as it goes, never a crash.

#include "picture/picture_service.h"
#include "support/picture_bytes.h"

#include <gtest/gtest.h>

namespace tagrelay {
namespace {

using test::Bytes;

const RgbImage picture = test::solidImage(40, 24, {200, 100, 50});

Bytes cut(Bytes bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

/// The offset of the first JPEG marker FF code.
std::size_t jpegMarker(const Bytes& jpeg, std::uint8_t code)
{
    for (std::size_t at = 2; at + 1 < jpeg.size(); ++at) {
        if (jpeg[at] == 0xFF && jpeg[at + 1] == code)
            return at;
    }
    return jpeg.size();
}

/// An icon file whose directory is changed at one offset.
Bytes iconWithDirectoryByte(std::size_t at, std::uint8_t value)
{
    Bytes icon = test::iconFile(test::pngFile(picture));
    icon[at] = value;
    return icon;
}

struct UnloadableCase
{
    const char* name;
    Bytes bytes;
};

class UnloadablePictureTest : public testing::TestWithParam<UnloadableCase>
{
};

TEST_P(UnloadablePictureTest, GivesNoFactsAndNoPicture)
{
    const Bytes& bytes = GetParam().bytes;
    const PictureFacts facts = readPictureFacts(bytes, PictureOrigin::File, noScreenDepth);
    EXPECT_EQ(facts.width, 0);
    EXPECT_EQ(facts.height, 0);
    EXPECT_EQ(facts.depth, 0);
    EXPECT_FALSE(loadPicture(bytes, noScreenDepth));
    EXPECT_FALSE(catchPicture(bytes, noScreenDepth, PixelNeed{48}));
}

const Bytes jpeg = test::jpegFile(picture);
const Bytes png = test::pngFile(picture);
const Bytes progressiveJpeg = test::jpegFile(picture, {}, true);

INSTANTIATE_TEST_SUITE_P(
    Media, UnloadablePictureTest,
    testing::Values(
        UnloadableCase{"Empty", {}}, UnloadableCase{"Text", {'h', 'e', 'l', 'l', 'o', '\n'}},
        UnloadableCase{"Gif", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}},
        UnloadableCase{"JpegCutBeforeItsFrameHeader", cut(jpeg, jpegMarker(jpeg, 0xC0))},
        UnloadableCase{"JpegCutBeforeItsScan", cut(jpeg, jpegMarker(jpeg, 0xDA))},
        UnloadableCase{"JpegBombOf400Megapixels", test::withJpegSize(jpeg, 20000, 20000)},
        UnloadableCase{"PngSignatureOnly", cut(png, 8)},
        UnloadableCase{"PngCutInItsHeader", cut(png, 20)},
        UnloadableCase{"PngCutBeforeItsPixelData", cut(png, 33)},
        UnloadableCase{"PngBombWiderThan65535", test::withPngSize(png, 70000, 10)},
        UnloadableCase{"PngBombOf400Megapixels", test::withPngSize(png, 20000, 20000)},
        UnloadableCase{"BmpMostNegativeHeight", test::bmpHeaderOnly(10, INT32_MIN, 24, 0, 1000)},
        UnloadableCase{"BmpHugeHeight", test::bmpHeaderOnly(10, 70000, 24, 0, 1000)},
        UnloadableCase{"BmpHugeTopDownHeight", test::bmpHeaderOnly(10, -70000, 24, 0, 1000)},
        UnloadableCase{"BmpBombOf400Megapixels", test::bmpHeaderOnly(20000, 20000, 1, 0, 1000)},
        UnloadableCase{"BmpZeroWidth", test::bmpHeaderOnly(0, 10, 24, 0, 1000)},
        UnloadableCase{"BmpRowsPastTheEnd", test::bmpHeaderOnly(100, 100, 24, 0, 1000)},
        UnloadableCase{"BmpTopDownRunLength", test::bmpHeaderOnly(10, -10, 8, 1, 100)},
        UnloadableCase{"BmpBitCount7", test::bmpHeaderOnly(10, 10, 7, 0, 1000)},
        UnloadableCase{"BmpEmbeddedJpeg", test::bmpHeaderOnly(10, 10, 0, 4, 1000)},
        UnloadableCase{"BmpFileHeaderOnly", {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        UnloadableCase{"IconWithoutImages", iconWithDirectoryByte(4, 0)},
        UnloadableCase{"IconImagePastTheEnd", iconWithDirectoryByte(17, 0x7F)},
        UnloadableCase{"IconImageOffsetPastTheEnd", iconWithDirectoryByte(21, 0x7F)},
        UnloadableCase{"IconImageOffsetInsideTheDirectory", iconWithDirectoryByte(18, 4)},
        UnloadableCase{"IconDirectoryCut", cut(test::iconFile(test::pngFile(picture)), 12)}),
    [](const auto& param) { return std::string(param.param.name); });

struct DamagedCase
{
    const char* name;
    Bytes bytes;
};

class DamagedPixelsTest : public testing::TestWithParam<DamagedCase>
{
};

TEST_P(DamagedPixelsTest, KeepTheHeaderSizeAndDecodeWhatIsThere)
{
    const PictureHandle loaded = loadPicture(GetParam().bytes, noScreenDepth);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->width, 40);
    EXPECT_EQ(loaded->height, 24);
    EXPECT_EQ(loaded->image.pixels.size(), 40U * 24 * 3);
}

Bytes withGarbageAfter(Bytes bytes, std::size_t from)
{
    for (std::size_t at = from; at < bytes.size(); ++at)
        bytes[at] = static_cast<std::uint8_t>(at * 151);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Media, DamagedPixelsTest,
    testing::Values(
        DamagedCase{"JpegCutInItsScan", cut(jpeg, jpegMarker(jpeg, 0xDA) + 16)},
        DamagedCase{"JpegScanOverwritten", withGarbageAfter(jpeg, jpegMarker(jpeg, 0xDA) + 20)},
        DamagedCase{"ProgressiveJpegCut",
                    cut(progressiveJpeg, jpegMarker(progressiveJpeg, 0xDA) + 16)},
        DamagedCase{"PngCutInItsPixelData", cut(png, png.size() - 20)},
        DamagedCase{"PngPixelDataOverwritten", withGarbageAfter(png, 45)},
        DamagedCase{"BmpRunLengthCutShort", cut(test::bmpFile(picture, {40, 8, 1}), 60 + 1024)}),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace tagrelay
