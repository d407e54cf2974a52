// The readers and decoders on pictures written by the tests: every stored layout gives back the
// picture it was made from.

#include "picture/bmp_reader.h"
#include "picture/ico_reader.h"
#include "picture/jpeg_codec.h"
#include "picture/png_codec.h"
#include "support/picture_bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tagrelay {
namespace {

using test::BmpLayout;
using test::Bytes;
using test::PngLayout;
using test::Rgb;

constexpr Rgb black{0, 0, 0};
constexpr Rgb white{255, 255, 255};
constexpr Rgb red{255, 0, 0};
constexpr Rgb green{0, 255, 0};
constexpr Rgb blue{0, 0, 255};
constexpr Rgb yellow{255, 255, 0};

/// 5 × 3 (an odd width, so rows need padding), four colours, no two rows alike.
RgbImage fourColours()
{
    return test::paintedImage(5, 3, [](int x, int y) {
        constexpr Rgb colours[] = {black, red, green, blue};
        return colours[(x + 2 * y) % 4];
    });
}

/// 11 × 2 in two colours: bits of one row straddle two bytes.
RgbImage twoColours()
{
    return test::paintedImage(11, 2,
                              [](int x, int y) { return (x * 3 + y) % 4 == 0 ? black : white; });
}

struct BmpCase
{
    const char* name;
    RgbImage image;
    BmpLayout layout;
};

class BmpLayoutTest : public testing::TestWithParam<BmpCase>
{
};

TEST_P(BmpLayoutTest, DecodesToThePictureItWasMadeFrom)
{
    const Bytes file = test::bmpFile(GetParam().image, GetParam().layout);
    const auto header = readBmpHeader(file);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->bitsPerPixel, GetParam().layout.bitCount);
    const auto image = decodeBmp(file, wholePicture);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, GetParam().image.width);
    EXPECT_EQ(image->height, GetParam().image.height);
    EXPECT_EQ(image->pixels, GetParam().image.pixels);
}

constexpr std::uint32_t rle8 = 1;
constexpr std::uint32_t rle4 = 2;
constexpr std::uint32_t bitFields = 3;

INSTANTIATE_TEST_SUITE_P(
    Media, BmpLayoutTest,
    testing::Values(BmpCase{"Info1Bit", twoColours(), {40, 1}},
                    BmpCase{"Core1Bit", twoColours(), {12, 1}},
                    BmpCase{"Info4Bit", fourColours(), {40, 4}},
                    BmpCase{"Info8Bit", fourColours(), {40, 8}},
                    BmpCase{"Core8Bit", fourColours(), {12, 8}},
                    BmpCase{"Info16Bit555", fourColours(), {40, 16}},
                    BmpCase{"Info16Bit565Fields",
                            fourColours(),
                            {40, 16, bitFields, false, {0xF800, 0x07E0, 0x001F}}},
                    BmpCase{"Info24Bit", fourColours(), {40, 24}},
                    BmpCase{"Core24Bit", fourColours(), {12, 24}},
                    BmpCase{"Info24BitTopDown", fourColours(), {40, 24, 0, true}},
                    BmpCase{"Info32Bit", fourColours(), {40, 32}},
                    BmpCase{"V4Fields32BitBgrx",
                            fourColours(),
                            {108, 32, bitFields, false, {0x0000FF00, 0x00FF0000, 0xFF000000}}},
                    BmpCase{"V5Fields16Bit444",
                            fourColours(),
                            {124, 16, bitFields, true, {0x0F00, 0x00F0, 0x000F}}},
                    BmpCase{"Rle8", fourColours(), {40, 8, rle8}},
                    BmpCase{"Rle4", fourColours(), {40, 4, rle4}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(MediaBmpReaderTest, RunLengthSkipsLeaveBlackAndTheRestIsPlaced)
{
    // 4 × 3, 8-bit palette {black, red}. Bottom row: 2 red; then skip right 1 and up 1 to the
    // middle row's x = 3; one red; end of bitmap. The top row is never reached.
    Bytes file = test::bmpFile(test::solidImage(4, 3, red), {40, 8, rle8});
    const std::size_t rowsAt = file[10];
    file.resize(rowsAt);
    file.insert(file.end(), {2, 0, 0, 2, 1, 1, 1, 0, 0, 1});
    const auto image = decodeBmp(file, wholePicture);
    ASSERT_TRUE(image);
    EXPECT_EQ(test::pixelAt(*image, 0, 2), red);
    EXPECT_EQ(test::pixelAt(*image, 1, 2), red);
    EXPECT_EQ(test::pixelAt(*image, 2, 2), black);
    EXPECT_EQ(test::pixelAt(*image, 3, 1), red);
    EXPECT_EQ(test::pixelAt(*image, 2, 1), black);
    EXPECT_EQ(test::pixelAt(*image, 0, 0), black);
}

struct PngCase
{
    const char* name;
    RgbImage image;
    PngLayout layout;
    int bits;
};

class PngLayoutTest : public testing::TestWithParam<PngCase>
{
};

TEST_P(PngLayoutTest, DecodesToRgbOfThePicture)
{
    const Bytes file = test::pngFile(GetParam().image, GetParam().layout);
    const auto header = readPngHeader(file);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->bitsPerPixel, GetParam().bits);
    const auto image = decodePng(file, wholePicture);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, GetParam().image.pixels);
}

/// A 13 × 11 picture: every Adam7 pass has pixels in it.
RgbImage rgbPattern()
{
    return test::paintedImage(13, 11, [](int x, int y) {
        return Rgb{static_cast<std::uint8_t>(x * 19), static_cast<std::uint8_t>(y * 23),
                   static_cast<std::uint8_t>((x * y) % 256)};
    });
}

RgbImage greyPattern()
{
    return test::paintedImage(13, 11,
                              [](int x, int y) { return (x + y) % 3 == 0 ? white : black; });
}

INSTANTIATE_TEST_SUITE_P(
    Media, PngLayoutTest,
    testing::Values(PngCase{"Rgb8", rgbPattern(), {2, 8}, 24},
                    PngCase{"Rgb16", rgbPattern(), {2, 16}, 24},
                    PngCase{"Rgba8DropsAlpha", rgbPattern(), {6, 8}, 32},
                    PngCase{"Rgb8Interlaced", rgbPattern(), {2, 8, true}, 24},
                    PngCase{"Grey8", greyPattern(), {0, 8}, 24},
                    PngCase{"Grey1", greyPattern(), {0, 1}, 24},
                    PngCase{"GreyAlpha8", greyPattern(), {4, 8}, 32},
                    PngCase{"Palette4", fourColours(), {3, 4}, 24},
                    PngCase{"Palette8Interlaced", fourColours(), {3, 8, true}, 24}),
    [](const auto& param) { return std::string(param.param.name); });

/// The largest difference of any channel of any pixel.
int largestDifference(const RgbImage& a, const RgbImage& b)
{
    int largest = 0;
    for (std::size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
        largest = std::max(largest, std::abs(a.pixels[i] - b.pixels[i]));
    return a.pixels.size() == b.pixels.size() ? largest : 256;
}

struct JpegCase
{
    const char* name;
    test::JpegColour colour;
};

class JpegColourTest : public testing::TestWithParam<JpegCase>
{
};

TEST_P(JpegColourTest, DecodesToRgbOfThePicture)
{
    // One flat colour whose three channels differ (grey for a grey JPEG): the compression keeps
    // it nearly exact, and a swapped or uninverted channel shows at once.
    const bool isGrey = GetParam().colour == test::JpegColour::Grey;
    const RgbImage picture =
        test::solidImage(16, 16, isGrey ? Rgb{200, 200, 200} : Rgb{255, 128, 0});
    const Bytes file = test::jpegFile(picture, GetParam().colour);
    const auto header = readJpegHeader(file);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->bitsPerPixel, 24);
    const auto image = decodeJpeg(file, wholePicture);
    ASSERT_TRUE(image);
    EXPECT_LE(largestDifference(*image, picture), 6);
}

INSTANTIATE_TEST_SUITE_P(Media, JpegColourTest,
                         testing::Values(JpegCase{"Colour", test::JpegColour::Colour},
                                         JpegCase{"Grey", test::JpegColour::Grey},
                                         JpegCase{"AdobeCmyk", test::JpegColour::AdobeCmyk},
                                         JpegCase{"AdobeYcck", test::JpegColour::AdobeYcck}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(MediaIconReaderTest, BitmapImageShowsItsMaskOnWhite)
{
    const RgbImage colours =
        test::paintedImage(4, 2, [](int x, int) { return x < 2 ? red : black; });
    // The right half masked: black there shows the white background.
    const Bytes file =
        test::iconFile(test::iconBitmap(colours, 4, [](int x, int) { return x >= 2; }));
    const auto header = readIconHeader(file);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->width, 4);
    EXPECT_EQ(header->height, 2);
    EXPECT_EQ(header->bitsPerPixel, 4);
    const auto image = decodeIcon(file, wholePicture);
    ASSERT_TRUE(image);
    EXPECT_EQ(test::pixelAt(*image, 0, 0), red);
    EXPECT_EQ(test::pixelAt(*image, 3, 1), white);
}

TEST(MediaIconReaderTest, PngImageDecodesAsPngOf32Bits)
{
    const Bytes file = test::iconFile(test::pngFile(rgbPattern(), {6, 8}));
    const auto header = readIconHeader(file);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->bitsPerPixel, 32);
    const auto image = decodeIcon(file, wholePicture);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, rgbPattern().pixels);
}

} // namespace
} // namespace tagrelay
