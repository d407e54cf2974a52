#pragma once

#include "picture/rgb_image.h"

#include <cstdint>
#include <memory>

namespace tagrelay {

/// The colour depth of the screen to report when there is none (the command-line program).
inline constexpr std::uint8_t noScreenDepth = 32;

/// Width, height and depth of a picture, as the picture descriptions show them. All three are 0
/// for a picture that cannot be loaded.
struct PictureFacts
{
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t depth = 0; // bits per pixel, as the describers report it
};

/// A decoded picture held in memory: its facts and its pixels.
///
/// width and height are the picture's own size. The pixels may be smaller when the picture was
/// loaded for icons only (see loadPicture): image then holds the same picture, already reduced,
/// never smaller than the size asked for. resizePicture makes both agree again.
struct Picture
{
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t depth = 0; // bits per pixel, as the describers report it
    RgbImage image;
};

/// The owner of a picture; empty means no picture. Releasing it frees the pixels.
using PictureHandle = std::unique_ptr<Picture>;

} // namespace tagrelay
