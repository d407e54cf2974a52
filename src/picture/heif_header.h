#pragma once

#include "picture/byte_ranges.h"
#include "picture/image_builder.h"

#include <cstdint>
#include <optional>
#include <span>

namespace tagrelay {

/// True when the bytes start with an "ftyp" box that names a HEIF brand (HEIC, AVIF or the
/// plain image brands mif1 and mif2), of at most 4 KiB.
bool hasHeifSignature(std::span<const std::uint8_t> bytes);

/// Reads a HEIF file's (HEIC, HEIF, AVIF) top-level "meta" box: the primary item (pitm), the
/// items (iinf), their references (iref) and properties (iprp: ipco, ipma). Width and height
/// are the primary item's image spatial extents (ispe), swapped by its rotation (irot) of 90
/// or 270 degrees. bitsPerPixel is 32 when an auxiliary item of type alpha (auxC) refers to
/// the primary item (auxl), else 24. Only the boxes of the first top-level meta box (up to
/// 16 MiB) are read, no media data.
///
/// \returns nothing for another format, a missing or damaged box, a primary item without an
/// ispe, or a size the decoders refuse.
[[nodiscard]] std::optional<PictureHeader> readHeifHeader(std::span<const std::uint8_t> bytes);
/// The same over a file read by place: the ftyp box, the headers of the top-level boxes up to
/// the meta box, and that box, wherever it lies (after the media data too).
[[nodiscard]] std::optional<PictureHeader> readHeifHeaderFrom(ByteRanges& file);

/// Whether every picture that a HEIF file's items are derived from (their dimg references) is
/// an image item: a derived picture (iden, iovl) made of anything else makes Debian 12's
/// libheif fail an assertion and end the program, so such a file is not given to it. False
/// also when the meta box cannot be read.
[[nodiscard]] bool refersToImagesOnly(std::span<const std::uint8_t> bytes);

/// Whether a HEIF file holds a picture composed of others (a grid of tiles, an overlay), whose
/// size libheif takes from the composition, not from the size the header gives.
[[nodiscard]] bool hasComposedPicture(std::span<const std::uint8_t> bytes);

} // namespace tagrelay
