#pragma once

#include "picture/image_builder.h"

#include <cstdint>
#include <optional>
#include <span>

namespace tagrelay {

/// True when the bytes start like an icon file: the 16-bit words 0 (reserved) and 1 (icon).
bool hasIconSignature(std::span<const std::uint8_t> bytes);

/// Reads the header of an icon file's first image (no pixels): a PNG image counts as 32 bits,
/// a bitmap image as its bit count.
///
/// \returns nothing for a file without images, a first directory entry whose image lies
/// outside the data, or an image that is neither a PNG nor a bitmap the icon reader accepts.
[[nodiscard]] std::optional<PictureHeader> readIconHeader(std::span<const std::uint8_t> bytes);

/// Decodes an icon file's first image: a PNG image as a PNG, a bitmap image with its AND mask
/// as it shows on white (decodeIconBitmap).
[[nodiscard]] std::optional<RgbImage> decodeIcon(std::span<const std::uint8_t> bytes,
                                                 PixelNeed need);

} // namespace tagrelay
