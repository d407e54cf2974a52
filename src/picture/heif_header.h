#pragma once

#include "picture/image_builder.h"

#include <cstdint>
#include <optional>
#include <span>

namespace tagrelay {

/// True when the bytes start with an "ftyp" box that names a HEIF brand (HEIC, AVIF or the
/// plain image brands mif1 and mif2).
bool hasHeifSignature(std::span<const std::uint8_t> bytes);

/// Reads a HEIF file's (HEIC, HEIF, AVIF) top-level "meta" box: the primary item (pitm), the
/// items (iinf), their references (iref) and properties (iprp: ipco, ipma). Width and height
/// are the primary item's image spatial extents (ispe), swapped by its rotation (irot) of 90
/// or 270 degrees. bitsPerPixel is 32 when an auxiliary item of type alpha (auxC) refers to
/// the primary item (auxl), else 24. Only the boxes of the meta box are read, no media data.
///
/// \returns nothing for another format, a missing or damaged box, a primary item without an
/// ispe, or a size the decoders refuse.
[[nodiscard]] std::optional<PictureHeader> readHeifHeader(std::span<const std::uint8_t> bytes);

} // namespace tagrelay
