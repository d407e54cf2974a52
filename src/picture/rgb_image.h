#pragma once

#include <cstdint>
#include <vector>

namespace tagrelay {

/// Pixels of a decoded picture: 3 bytes a pixel in red, green, blue order, top row first, no
/// row padding.
struct RgbImage
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

} // namespace tagrelay
