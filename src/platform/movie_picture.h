#pragma once

#include <cstdint>
#include <span>

namespace tagrelay {

/// One picture of a movie that is shown while it is measured: 32-bit pixels, in memory the
/// bytes blue, green, red and one unused, row after row. Valid only during the call it is
/// handed to.
struct MoviePicture
{
    std::span<const std::uint8_t> pixels; // stride * (height - 1) + width * 4 bytes at least
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0; // bytes from one row to the next
};

} // namespace tagrelay
