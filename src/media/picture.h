#pragma once

#include "media/rgb_image.h"

#include <cstdint>
#include <memory>

namespace tagrelay {

/// A decoded picture held in memory: its pixels and the facts the descriptions show.
struct Picture
{
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t depth = 0; // bits per pixel, as the describers report it
    RgbImage image;
};

using PictureHandle = std::unique_ptr<Picture>;

} // namespace tagrelay
