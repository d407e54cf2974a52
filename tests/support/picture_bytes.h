#pragma once

#include "picture/rgb_image.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tagrelay::test {

using Bytes = std::vector<std::uint8_t>;
using Rgb = std::array<std::uint8_t, 3>;

/// A width × height picture of one colour.
RgbImage solidImage(int width, int height, Rgb colour);
/// A picture whose pixel (x, y) is colourAt(x, y).
template <typename ColourAt> RgbImage paintedImage(int width, int height, ColourAt colourAt)
{
    RgbImage image{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb colour = colourAt(x, y);
            image.pixels.insert(image.pixels.end(), colour.begin(), colour.end());
        }
    }
    return image;
}
/// The colour of pixel (x, y).
Rgb pixelAt(const RgbImage& image, int x, int y);

/// How a BMP stores its pixels.
struct BmpLayout
{
    std::uint32_t headerSize = 40; // 12 core, 40 info, 108 V4, 124 V5
    int bitCount = 24;
    std::uint32_t compression = 0; // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
    bool isTopDown = false;
    std::array<std::uint32_t, 3> masks{}; // red, green, blue for bit fields
};

/// Writes a BMP file of the picture: the 14-byte file header (offset field pointing at the
/// rows), the bitmap header, masks behind a 40-byte header with bit fields, a palette of the
/// picture's distinct colours (at most 2^bitCount of them) and the rows, bottom-up unless
/// top-down. RLE rows are written as literal runs of up to 3 pixels followed by repeat runs,
/// each row ended by 0 0 and the bitmap by 0 1.
Bytes bmpFile(const RgbImage& image, const BmpLayout& layout = {});

/// Writes the bitmap header fields of a BMP file with any values and no pixels behind it: for
/// impossible sizes, depths and compressions.
Bytes bmpHeaderOnly(std::int32_t width, std::int32_t height, int bitCount,
                    std::uint32_t compression = 0, std::size_t pixelBytes = 0);

/// How a PNG stores its pixels.
struct PngLayout
{
    int colourType = 2; // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
    int bitDepth = 8;   // 1, 2, 4 (grey and palette), 8, 16
    bool isInterlaced = false;
};

/// Writes a PNG file of the picture: signature, IHDR, PLTE for palette pictures, one IDAT
/// (zlib) and IEND, each chunk with its CRC. Grey takes the red channel; alpha is 128. Grey
/// bit depths below 8 keep the top bits of red.
Bytes pngFile(const RgbImage& image, const PngLayout& layout = {});

/// A PNG's bytes with IHDR's width and height replaced and its CRC fixed.
Bytes withPngSize(Bytes png, std::uint32_t width, std::uint32_t height);

enum class JpegColour { Colour, Grey, AdobeCmyk, AdobeYcck }; // Colour: YCbCr from RGB input

/// Writes a JPEG file of the picture through libjpeg at quality 95 (baseline unless
/// progressive). For CMYK and YCCK the inks are computed from the RGB colour and stored
/// inverted, with the Adobe marker, as Adobe's programs do.
Bytes jpegFile(const RgbImage& image, JpegColour colour = JpegColour::Colour,
               bool isProgressive = false);

/// A JPEG's bytes with the frame header's (SOF) height and width replaced.
Bytes withJpegSize(Bytes jpeg, std::uint16_t width, std::uint16_t height);

/// What libjpeg reads from a JPEG: size, components and the first luminance quantiser.
struct JpegReadback
{
    int width = 0;
    int height = 0;
    int components = 0;
    bool isJfif = false;
    bool isProgressive = false;
    int firstLuminanceQuantiser = 0;
    RgbImage image;
};
std::optional<JpegReadback> readBackJpeg(const Bytes& jpeg);

/// An icon file holding the one image given (a PNG file, or a bitmap from iconBitmap).
Bytes iconFile(const Bytes& image);

/// An icon image bitmap: a 40-byte header with the doubled height, the palette for up to 8
/// bits, the colour rows bottom-up, then the AND mask rows (bit set where mask(x, y)).
template <typename Mask> Bytes iconBitmap(const RgbImage& image, int bitCount, Mask mask);

/// The PNG chunks in file order: type and data.
struct PngChunk
{
    std::array<char, 4> type{};
    Bytes data;
};
std::vector<PngChunk> pngChunks(const Bytes& png);
/// zlib's inflate of the data; nothing when it is no complete zlib stream.
std::optional<Bytes> inflateZlib(const Bytes& data);

/// The icon bitmap with a mask given as a table of rows (true = masked).
Bytes iconBitmapWithMask(const RgbImage& image, int bitCount,
                         const std::vector<std::vector<bool>>& mask);

template <typename Mask> Bytes iconBitmap(const RgbImage& image, int bitCount, Mask mask)
{
    std::vector<std::vector<bool>> rows(static_cast<std::size_t>(image.height));
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x)
            rows[static_cast<std::size_t>(y)].push_back(mask(x, y));
    }
    return iconBitmapWithMask(image, bitCount, rows);
}

} // namespace tagrelay::test
