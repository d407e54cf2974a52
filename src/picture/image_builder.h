#pragma once

#include "picture/rgb_image.h"

#include <cstdint>
#include <vector>

namespace tagrelay {

/// The widest and tallest picture the decoders accept, and the most pixels: a header that
/// announces more is a decompression bomb, not a picture.
constexpr std::int64_t largestPictureSide = 65535;
constexpr std::int64_t mostPicturePixels = 256'000'000;

/// True when a header's width and height describe a picture the decoders may decode.
constexpr bool isAcceptedPictureSize(std::int64_t width, std::int64_t height)
{
    return width >= 1 && height >= 1 && width <= largestPictureSide && height <= largestPictureSide
           && width * height <= mostPicturePixels;
}

/// What a decoder finds in a picture's header: its size and its stored bits per pixel.
struct PictureHeader
{
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
};

/// How many pixels a caller needs: all of them, or a copy whose sides are at least minSide
/// (an icon, the cover area), which the decoders may make while they decode.
struct PixelNeed
{
    int minSide = 0; // 0: the whole picture
};
constexpr PixelNeed wholePicture{};

/// Collects a decoder's rows into an RgbImage. With a PixelNeed smaller than the picture it
/// keeps only the averages of blocks of pixels, so a large picture wanted as an icon never has
/// its full pixels in memory. Rows may come in any order and in parts (interlaced PNG, bottom-up
/// BMP); pixels that never come stay black.
class ImageBuilder
{
  public:
    ImageBuilder(int width, int height, PixelNeed need);

    /// Takes pixels firstX, firstX + stepX, ... of row y from a whole row of RGB bytes.
    void putPixels(int y, const std::uint8_t* rgbRow, int firstX = 0, int stepX = 1);
    /// The picture, or its reduced copy, as far as it was decoded.
    [[nodiscard]] RgbImage finish();

    bool isReducing() const { return m_blockWidth > 1 || m_blockHeight > 1; }

  private:
    struct CellSum
    {
        std::uint32_t red = 0;
        std::uint32_t green = 0;
        std::uint32_t blue = 0;
        std::uint32_t count = 0;
    };

    int m_width = 0;
    int m_height = 0;
    int m_blockWidth = 1;
    int m_blockHeight = 1;
    RgbImage m_image;             // the pixels or, when reducing, the size of the reduced copy
    std::vector<CellSum> m_cells; // when reducing: one sum per block
    std::vector<int> m_cellOfColumn;
};

} // namespace tagrelay
