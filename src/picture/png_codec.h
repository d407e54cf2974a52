#pragma once

#include "picture/image_builder.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tagrelay {

/// True when the bytes start with the 8-byte PNG signature.
bool hasPngSignature(std::span<const std::uint8_t> bytes);

/// Reads a PNG's chunks up to its pixel data (no pixels). Colour types with an alpha channel
/// (grey + alpha, RGBA) count as 32 bits, all others as 24.
///
/// \returns nothing when the data is no PNG, the library rejects a chunk before the pixel data,
/// or the header announces a size the decoders refuse (isAcceptedPictureSize).
[[nodiscard]] std::optional<PictureHeader> readPngHeader(std::span<const std::uint8_t> bytes);

/// Decodes a PNG to 8-bit RGB: palettes and low grey depths are expanded, grey is spread to
/// RGB, 16-bit samples are reduced, alpha is dropped, interlaced pictures are put together.
/// With a PixelNeed smaller than the picture, blocks of rows are averaged as they come.
///
/// \returns nothing when readPngHeader gives nothing. A library error in the pixel data (cut
/// or damaged data) leaves the rest of the picture black: the picture is still returned.
[[nodiscard]] std::optional<RgbImage> decodePng(std::span<const std::uint8_t> bytes,
                                                PixelNeed need);

/// Whether the chunks from the signature on lead to an IEND chunk within the bytes: a PNG
/// cut short ends inside a chunk, or before its IEND.
[[nodiscard]] bool reachesPngEnd(std::span<const std::uint8_t> bytes);

/// decodePng for a picture described as a PNG file: one cut short is not loaded at all.
[[nodiscard]] std::optional<RgbImage> decodeWholePng(std::span<const std::uint8_t> bytes,
                                                     PixelNeed need);

/// Encodes the image as a PNG file: IHDR with bit depth 8, colour type 2 (RGB), no interlace;
/// every row with filter type 0 (none); zlib level 9; IDAT and IEND, no other chunks.
///
/// \returns the file's bytes, or nothing when the image is empty or the library fails.
[[nodiscard]] std::vector<std::uint8_t> encodePng(const RgbImage& image);

} // namespace tagrelay
