#include "picture/image_builder.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace tagrelay {

namespace {

// A reduced copy keeps at least twice the sides asked for, and never fewer than this, so the
// smooth resize that follows still sees many pixels per new pixel and the blocks cut at the
// right and bottom edges weigh little.
constexpr int smallestReducedSide = 64;

int blockSizeFor(int side, int minSide)
{
    if (minSide <= 0)
        return 1;
    const int keep = std::max(2 * minSide, smallestReducedSide);
    return std::max(1, side / keep);
}

} // namespace

ImageBuilder::ImageBuilder(int width, int height, PixelNeed need)
    : m_width(width), m_height(height), m_blockWidth(blockSizeFor(width, need.minSide)),
      m_blockHeight(blockSizeFor(height, need.minSide))
{
    assert(isAcceptedPictureSize(width, height) && "the decoder checks the size first");
    m_image.width = (width + m_blockWidth - 1) / m_blockWidth;
    m_image.height = (height + m_blockHeight - 1) / m_blockHeight;
    if (!isReducing()) {
        m_image.pixels.assign(
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 0);
        return;
    }
    m_cells.resize(static_cast<std::size_t>(m_image.width)
                   * static_cast<std::size_t>(m_image.height));
    m_cellOfColumn.resize(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
        m_cellOfColumn[static_cast<std::size_t>(x)] = x / m_blockWidth;
}

void ImageBuilder::putPixels(int y, const std::uint8_t* rgbRow, int firstX, int stepX)
{
    if (y < 0 || y >= m_height || firstX < 0 || stepX < 1)
        return;
    const auto width = static_cast<std::size_t>(m_width);
    if (!isReducing()) {
        std::uint8_t* out = m_image.pixels.data() + static_cast<std::size_t>(y) * width * 3;
        if (firstX == 0 && stepX == 1) {
            std::memcpy(out, rgbRow, width * 3);
            return;
        }
        for (auto x = static_cast<std::size_t>(firstX); x < width;
             x += static_cast<std::size_t>(stepX))
            std::memcpy(out + x * 3, rgbRow + x * 3, 3);
        return;
    }
    CellSum* row =
        m_cells.data()
        + static_cast<std::size_t>(y / m_blockHeight) * static_cast<std::size_t>(m_image.width);
    for (auto x = static_cast<std::size_t>(firstX); x < width;
         x += static_cast<std::size_t>(stepX)) {
        CellSum& cell = row[m_cellOfColumn[x]];
        const std::uint8_t* pixel = rgbRow + x * 3;
        cell.red += pixel[0];
        cell.green += pixel[1];
        cell.blue += pixel[2];
        ++cell.count;
    }
}

RgbImage ImageBuilder::finish()
{
    if (!isReducing())
        return std::move(m_image);
    m_image.pixels.assign(m_cells.size() * 3, 0);
    std::uint8_t* out = m_image.pixels.data();
    for (const CellSum& cell : m_cells) {
        if (cell.count != 0) {
            const std::uint32_t half = cell.count / 2;
            out[0] = static_cast<std::uint8_t>((cell.red + half) / cell.count);
            out[1] = static_cast<std::uint8_t>((cell.green + half) / cell.count);
            out[2] = static_cast<std::uint8_t>((cell.blue + half) / cell.count);
        }
        out += 3;
    }
    m_cells = {};
    return std::move(m_image);
}

} // namespace tagrelay
