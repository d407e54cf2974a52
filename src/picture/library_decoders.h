#pragma once

#include "picture/image_builder.h"

#include <cstdint>
#include <optional>
#include <span>

namespace tagrelay {

/// A decoder of one picture format to 8-bit RGB (alpha dropped, the first frame of an
/// animation): nothing when the library rejects the data. With a PixelNeed smaller than the
/// picture the pixels may come reduced, never below minSide on a side.
using PictureDecoder = std::optional<RgbImage> (*)(std::span<const std::uint8_t>, PixelNeed);

// The decoders over the system's libraries, each null when the build has no such library
// (the Windows build has none of them): giflib, libwebp (with its demuxer for animations),
// libtiff, libheif (HEIC and AVIF). They are called only on data whose header the picture
// service has read and accepted, so the picture's size is already within the limits.
[[nodiscard]] PictureDecoder gifDecoder();
[[nodiscard]] PictureDecoder webpDecoder();
[[nodiscard]] PictureDecoder tiffDecoder();
[[nodiscard]] PictureDecoder heifDecoder();

} // namespace tagrelay
