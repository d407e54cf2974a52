// The picture service as the walk and the cover reader use it: facts and depths, resizing,
// the icon files' bytes, and pictures that cannot be loaded.

#include "picture/picture_service.h"
#include "support/picture_bytes.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <numeric>

namespace tagrelay {
namespace {

using test::Bytes;
using test::Rgb;

// A display depth no stored picture has, so a test sees where it comes from.
constexpr std::uint8_t displayDepth = 16;

constexpr Rgb red{255, 0, 0};
constexpr Rgb green{0, 255, 0};
constexpr Rgb blue{0, 0, 255};
constexpr Rgb white{255, 255, 255};

RgbImage fourColours(int width, int height)
{
    return test::paintedImage(width, height, [](int x, int y) {
        constexpr Rgb colours[] = {red, green, blue, white};
        return colours[(x + y) % 4];
    });
}

struct DepthCase
{
    const char* name;
    Bytes bytes;
    PictureOrigin origin;
    std::uint8_t depth;
};

class PictureDepthTest : public testing::TestWithParam<DepthCase>
{
};

TEST_P(PictureDepthTest, FactsFromTheHeaderAgreeWithTheLoadedPicture)
{
    const DepthCase& c = GetParam();
    const PictureFacts facts = readPictureFacts(c.bytes, c.origin, displayDepth);
    EXPECT_EQ(facts.width, 6);
    EXPECT_EQ(facts.height, 4);
    EXPECT_EQ(facts.depth, c.depth);
    const PictureHandle picture = c.origin == PictureOrigin::File
                                      ? loadPicture(c.bytes, displayDepth)
                                      : catchPicture(c.bytes, displayDepth);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->depth, c.depth);
    EXPECT_EQ(picture->image.width, 6);
    EXPECT_EQ(picture->image.height, 4);
}

const RgbImage sixByFour = fourColours(6, 4);
constexpr auto file = PictureOrigin::File;
constexpr auto memory = PictureOrigin::Memory;

INSTANTIATE_TEST_SUITE_P(
    Media, PictureDepthTest,
    testing::Values(
        DepthCase{"Bmp1BitFileShowsTheDisplay", test::bmpFile(test::solidImage(6, 4, red), {40, 1}),
                  file, displayDepth},
        DepthCase{"Bmp8BitFileShowsTheDisplay", test::bmpFile(sixByFour, {40, 8}), file,
                  displayDepth},
        DepthCase{"Bmp16BitFile", test::bmpFile(sixByFour, {40, 16}), file, 16},
        DepthCase{"Bmp24BitFile", test::bmpFile(sixByFour, {40, 24}), file, 24},
        DepthCase{"Bmp32BitFile", test::bmpFile(sixByFour, {40, 32}), file, 32},
        DepthCase{"Bmp24BitInMemoryShowsTheDisplay", test::bmpFile(sixByFour, {40, 24}), memory,
                  displayDepth},
        DepthCase{"JpegFile", test::jpegFile(sixByFour), file, 24},
        DepthCase{"GreyJpegFile", test::jpegFile(sixByFour, test::JpegColour::Grey), file, 24},
        DepthCase{"CmykJpegFile", test::jpegFile(sixByFour, test::JpegColour::AdobeCmyk), file, 24},
        DepthCase{"JpegInMemoryShowsTheDisplay", test::jpegFile(sixByFour), memory, displayDepth},
        DepthCase{"RgbPngFile", test::pngFile(sixByFour), file, 24},
        DepthCase{"PalettePngFile", test::pngFile(sixByFour, {3, 8}), file, 24},
        DepthCase{"RgbaPngFile", test::pngFile(sixByFour, {6, 8}), file, 32},
        DepthCase{"GreyAlphaPngFile", test::pngFile(sixByFour, {4, 8}), file, 32},
        DepthCase{"RgbaPngInMemoryShowsTheDisplay", test::pngFile(sixByFour, {6, 8}), memory,
                  displayDepth},
        DepthCase{"Icon4BitFile",
                  test::iconFile(test::iconBitmap(sixByFour, 4, [](int, int) { return false; })),
                  file, 4},
        DepthCase{"Icon8BitInMemoryKeepsItsDepth",
                  test::iconFile(test::iconBitmap(sixByFour, 8, [](int, int) { return false; })),
                  memory, 8},
        DepthCase{"PngIconFile", test::iconFile(test::pngFile(sixByFour)), file, 32}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(MediaPictureServiceTest, ContentDecidesTheFormatNotTheName)
{
    test::TempTree tree;
    const std::string pngNamedJpg = tree.writeFile("png.jpg", test::pngFile(fourColours(7, 5)));
    const std::string bmpNamedJpg =
        tree.writeFile("bmp.jpg", test::bmpFile(fourColours(9, 3), {40, 24}));

    const PictureHandle png = loadPictureFile(pngNamedJpg, displayDepth);
    ASSERT_TRUE(png);
    EXPECT_EQ(png->image.pixels, fourColours(7, 5).pixels);
    const PictureFacts bmp = readPictureFileFacts(bmpNamedJpg, displayDepth);
    EXPECT_EQ(bmp.width, 9);
    EXPECT_EQ(bmp.height, 3);
    EXPECT_EQ(bmp.depth, 24);
}

TEST(MediaPictureServiceTest, LargeBmpFileFactsNeedOnlyItsStart)
{
    // Larger than the part of a file the facts read first: its rows still count as present.
    test::TempTree tree;
    const std::string path =
        tree.writeFile("big.bmp", test::bmpFile(test::solidImage(300, 100, red), {40, 24}));
    const PictureFacts facts = readPictureFileFacts(path, displayDepth);
    EXPECT_EQ(facts.width, 300);
    EXPECT_EQ(facts.height, 100);
}

TEST(MediaPictureServiceTest, WideningPictureIsSqueezedNotCropped)
{
    // Four bands of 25 columns each; squeezed to 50 × 50 each band is 12.5 columns wide.
    const RgbImage bands = test::paintedImage(100, 50, [](int x, int) {
        constexpr Rgb colours[] = {red, green, blue, white};
        return colours[x / 25];
    });
    Picture picture{100, 50, 24, bands};
    ASSERT_TRUE(resizePicture(picture, 50, 50));
    EXPECT_EQ(picture.width, 50);
    EXPECT_EQ(picture.height, 50);
    EXPECT_EQ(picture.depth, 24);
    for (int y : {0, 25, 49}) {
        EXPECT_EQ(test::pixelAt(picture.image, 5, y), red);
        EXPECT_EQ(test::pixelAt(picture.image, 18, y), green);
        EXPECT_EQ(test::pixelAt(picture.image, 31, y), blue);
        EXPECT_EQ(test::pixelAt(picture.image, 44, y), white);
    }
}

TEST(MediaPictureServiceTest, ShrinkingAveragesThePixelsItCovers)
{
    // A one-pixel checkerboard of black and white halves to an even grey, not to a pattern of
    // picked pixels.
    const RgbImage checkers = test::paintedImage(64, 64, [](int x, int y) {
        return (x + y) % 2 == 0 ? white : Rgb{0, 0, 0};
    });
    Picture picture{64, 64, 24, checkers};
    ASSERT_TRUE(resizePicture(picture, 32, 32));
    for (const std::uint8_t value : picture.image.pixels)
        EXPECT_NEAR(value, 128, 2);
}

TEST(MediaPictureServiceTest, ResizeToTheSameSizeChangesNothing)
{
    const RgbImage noise = test::paintedImage(40, 30, [](int x, int y) {
        return Rgb{static_cast<std::uint8_t>(x * 37 + y), static_cast<std::uint8_t>(y * 91),
                   static_cast<std::uint8_t>(x ^ y)};
    });
    Picture picture{40, 30, 24, noise};
    ASSERT_TRUE(resizePicture(picture, 40, 30));
    EXPECT_EQ(picture.image.pixels, noise.pixels);
}

TEST(MediaPictureServiceTest, SavedPngIsPlainRgbWithoutFiltersAtLevelNine)
{
    Picture picture{50, 50, 24, fourColours(50, 50)};
    const Bytes png = savePicture(picture, PictureFormat::Png);
    const auto chunks = test::pngChunks(png);
    ASSERT_EQ(chunks.size(), 3U); // IHDR, IDAT, IEND: no other chunks
    EXPECT_EQ(std::string(chunks[0].type.data(), 4), "IHDR");
    EXPECT_EQ(chunks[0].data, (Bytes{0, 0, 0, 50, 0, 0, 0, 50, // width, height
                                     8, 2,                     // bit depth, colour type RGB
                                     0, 0, 0}));               // compression, filter, interlace
    EXPECT_EQ(std::string(chunks[1].type.data(), 4), "IDAT");
    EXPECT_EQ(std::string(chunks[2].type.data(), 4), "IEND");
    // zlib's second header byte: bits 7..6 hold the level class, 3 for the slowest levels.
    ASSERT_GE(chunks[1].data.size(), 2U);
    EXPECT_EQ(chunks[1].data[1] >> 6, 3);
    const auto rows = test::inflateZlib(chunks[1].data);
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 50U * (1 + 50 * 3));
    for (std::size_t y = 0; y < 50; ++y)
        EXPECT_EQ((*rows)[y * (1 + 50 * 3)], 0) << "filter type of row " << y;
}

TEST(MediaPictureServiceTest, SavedJpegIsBaselineRgbAtQualitySeventy)
{
    Picture picture{48, 48, 24, fourColours(48, 48)};
    const auto jpeg = test::readBackJpeg(savePicture(picture, PictureFormat::Jpeg));
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->width, 48);
    EXPECT_EQ(jpeg->height, 48);
    EXPECT_EQ(jpeg->components, 3);
    EXPECT_TRUE(jpeg->isJfif);
    EXPECT_FALSE(jpeg->isProgressive);
    // The standard luminance table's first entry, 16, scaled for quality 70 (60 %).
    EXPECT_EQ(jpeg->firstLuminanceQuantiser, 10);
}

TEST(MediaPictureServiceTest, PictureIconIsSquarePngWithTheFacts)
{
    const PictureIcon icon =
        makePictureIcon(test::jpegFile(fourColours(300, 100)), displayDepth, 48);
    EXPECT_EQ(icon.facts.width, 300);
    EXPECT_EQ(icon.facts.height, 100);
    EXPECT_EQ(icon.facts.depth, 24);
    const auto chunks = test::pngChunks(icon.iconBytes);
    ASSERT_FALSE(chunks.empty());
    EXPECT_EQ(chunks[0].data[3], 48);
    EXPECT_EQ(chunks[0].data[7], 48);
}

double meanDifference(const RgbImage& a, const RgbImage& b)
{
    EXPECT_EQ(a.pixels.size(), b.pixels.size());
    double sum = 0;
    for (std::size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
        sum += std::abs(a.pixels[i] - b.pixels[i]);
    return sum / static_cast<double>(a.pixels.size());
}

struct ReducedCase
{
    const char* name;
    Bytes (*makeFile)(); // made when the test runs: large pictures take a while
};

class ReducedLoadTest : public testing::TestWithParam<ReducedCase>
{
};

TEST_P(ReducedLoadTest, IconFromReducedPixelsMatchesTheIconFromAllPixels)
{
    const Bytes bytes = GetParam().makeFile();
    PictureHandle whole = loadPicture(bytes, displayDepth);
    PictureHandle reduced = loadPicture(bytes, displayDepth, PixelNeed{48});
    ASSERT_TRUE(whole && reduced);
    EXPECT_EQ(reduced->width, whole->width);
    EXPECT_EQ(reduced->height, whole->height);
    EXPECT_LT(reduced->image.width, whole->image.width);
    EXPECT_GE(reduced->image.width, 48);
    EXPECT_GE(reduced->image.height, 48);
    ASSERT_TRUE(resizePicture(*whole, 48, 48));
    ASSERT_TRUE(resizePicture(*reduced, 48, 48));
    EXPECT_LT(meanDifference(whole->image, reduced->image), 3.0);
}

/// A smooth picture with some detail, 1200 × 700.
RgbImage gradient()
{
    return test::paintedImage(1200, 700, [](int x, int y) {
        return Rgb{static_cast<std::uint8_t>(x * 255 / 1199),
                   static_cast<std::uint8_t>(y * 255 / 699),
                   static_cast<std::uint8_t>((x / 100 + y / 100) % 2 == 0 ? 40 : 220)};
    });
}

INSTANTIATE_TEST_SUITE_P(
    Media, ReducedLoadTest,
    testing::Values(ReducedCase{"Jpeg", [] { return test::jpegFile(gradient()); }},
                    ReducedCase{"ProgressiveJpeg",
                                [] { return test::jpegFile(gradient(), {}, true); }},
                    ReducedCase{"InterlacedPng",
                                [] {
                                    return test::pngFile(gradient(), {2, 8, true});
                                }},
                    ReducedCase{"Bmp",
                                [] {
                                    return test::bmpFile(gradient(), {40, 24});
                                }}),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace tagrelay
