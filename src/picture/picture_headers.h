#pragma once

#include "picture/byte_ranges.h"
#include "picture/image_builder.h"

#include <cstdint>
#include <optional>
#include <span>

namespace tagrelay {

// Header readers over bytes for the pictures that are described from their first bytes alone,
// without any library. Each returns nothing for another format, a header cut short, a field
// out of its range, or a size the decoders refuse (isAcceptedPictureSize). bitsPerPixel is 32
// for a picture with an alpha channel, else 24.

/// PNG: the signature and the IHDR chunk (which must come first). Colour types 4 (grey with
/// alpha) and 6 (RGBA) are 32 bits; 0, 2 and 3 are 24, a palette with tRNS included.
[[nodiscard]] std::optional<PictureHeader> readPngIhdr(std::span<const std::uint8_t> bytes);

/// GIF87a and GIF89a: the logical screen's size. Always 24 bits (a transparent colour is no
/// alpha channel).
[[nodiscard]] std::optional<PictureHeader> readGifHeader(std::span<const std::uint8_t> bytes);

/// WebP: RIFF "WEBP" and its first chunk: VP8 (lossy key frame, 24 bits), VP8L (lossless,
/// with its alpha-is-used bit) or VP8X (the canvas and its alpha flag).
[[nodiscard]] std::optional<PictureHeader> readWebpHeader(std::span<const std::uint8_t> bytes);

/// TIFF and BigTIFF in either byte order: the first image file directory's width, length and
/// extra samples (32 bits when one of them is alpha, associated or not).
[[nodiscard]] std::optional<PictureHeader> readTiffHeader(std::span<const std::uint8_t> bytes);
/// The same over a file read by place: the header, the directory at its offset and the extra
/// samples at theirs, wherever in the file they lie (writers often put the directory after
/// the pixels).
[[nodiscard]] std::optional<PictureHeader> readTiffHeaderFrom(ByteRanges& file);

/// True when the bytes start with a TIFF or BigTIFF header.
[[nodiscard]] bool hasTiffSignature(std::span<const std::uint8_t> bytes);

} // namespace tagrelay
