#pragma once

#include "picture/image_builder.h"

#include <cstdint>
#include <optional>
#include <span>

namespace tagrelay {

/// True when the bytes start with "BM", the mark of a BMP file.
bool hasBmpSignature(std::span<const std::uint8_t> bytes);

/// Reads a BMP file's headers (no pixels): the 14-byte file header, then a core (OS/2, 12
/// bytes), info (40, 52 or 56), V4 (108) or V5 (124) bitmap header. Accepted: 1, 4, 8, 16, 24
/// and 32 bits uncompressed, 16 and 32 bits with bit fields, RLE8 and RLE4 (bottom-up only).
/// bitsPerPixel is the header's bit count.
///
/// \returns nothing for another format or variant, a size the decoders refuse, a palette or
/// uncompressed rows that run past the end of the data.
[[nodiscard]] std::optional<PictureHeader> readBmpHeader(std::span<const std::uint8_t> bytes);

/// readBmpHeader on the start of a file of fileSize bytes, enough to hold the headers and the
/// palette; the rows are checked against fileSize.
[[nodiscard]] std::optional<PictureHeader> readBmpFileHeader(std::span<const std::uint8_t> start,
                                                             std::size_t fileSize);

/// Decodes a BMP file that readBmpHeader accepts into RGB rows, top row first. Palette indexes
/// past the palette give black; pixels an RLE stream skips or never reaches stay black.
[[nodiscard]] std::optional<RgbImage> decodeBmp(std::span<const std::uint8_t> bytes,
                                                PixelNeed need);

/// Reads the bitmap of an icon image: a bitmap header whose height counts the colour rows and
/// the mask rows, the palette, the colour (XOR) rows, then the 1-bit AND mask rows. No file
/// header, no compression. The height given is that of the picture (half the stored one).
[[nodiscard]] std::optional<PictureHeader>
readIconBitmapHeader(std::span<const std::uint8_t> bytes);

/// Decodes an icon bitmap as it shows on a white background: pixels with the AND mask bit set
/// show white inverted by their colour (white for the usual black). 32-bit images keep their
/// colours and ignore the mask and the alpha.
[[nodiscard]] std::optional<RgbImage> decodeIconBitmap(std::span<const std::uint8_t> bytes,
                                                       PixelNeed need);

} // namespace tagrelay
