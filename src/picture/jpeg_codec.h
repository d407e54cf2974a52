#pragma once

#include "picture/image_builder.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tagrelay {

/// True when the bytes start like a JPEG file (FF D8).
bool hasJpegSignature(std::span<const std::uint8_t> bytes);

/// Reads a JPEG header (no pixels). Every JPEG counts as 24 bits, CMYK and greyscale included.
///
/// \returns nothing when the data is no JPEG, the library cannot read its header, or the header
/// announces a size the decoders refuse (isAcceptedPictureSize).
[[nodiscard]] std::optional<PictureHeader> readJpegHeader(std::span<const std::uint8_t> bytes);

/// Decodes a JPEG to RGB: greyscale is spread to RGB, CMYK and YCCK (also Adobe's inverted
/// CMYK) are converted. With a PixelNeed smaller than the picture it decodes at a reduced DCT
/// scale and averages blocks of the rows, keeping the sides at least need.minSide.
///
/// \returns nothing when readJpegHeader gives nothing. A library error after the header (cut or
/// damaged data, too little memory) leaves the rest of the picture black: the picture is still
/// returned, as large as its header says.
[[nodiscard]] std::optional<RgbImage> decodeJpeg(std::span<const std::uint8_t> bytes,
                                                 PixelNeed need);

/// True when the bytes are a JPEG whose data ends inside the picture (a cut file): the library
/// then warns and makes up the missing rows in grey. A file that ends in the end-of-image
/// marker is not decoded for this.
[[nodiscard]] bool isJpegCutShort(std::span<const std::uint8_t> bytes);

/// Encodes the image as a baseline JFIF file with the library's default settings at quality 70.
///
/// \returns the file's bytes, or nothing when the image is empty or the library fails.
[[nodiscard]] std::vector<std::uint8_t> encodeJpeg(const RgbImage& image);

} // namespace tagrelay
