#pragma once

#include "picture/picture.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tagrelay {

/// The side of the square the window shows an MP3 file's cover in.
inline constexpr int coverAreaSide = 150;

/// Decodes the picture bytes of an MP3 file's front cover as a picture held in memory (see
/// catchPicture for the formats and depths), for the window's cover area and, when one is
/// written, the icon. The pixels are kept at the larger of the cover area's side and iconSize,
/// or a little larger, which is all the window and the icon need: a JPEG cover is decoded at
/// the smallest DCT scale that gives that much, so a 700 x 700 cover costs 175 x 175 pixels.
/// The same bytes as the last cover decoded on this thread (the album's previous track) give a
/// copy of that picture without a decode.
///
/// \returns none for bytes no decoder accepts (a GIF, say) or for no bytes.
[[nodiscard]] PictureHandle decodeCover(std::span<const std::uint8_t> pictureBytes,
                                        std::uint8_t displayDepth, int iconSize = 0);

/// The cover squeezed to the cover area (150 x 150, aspect not kept), for the window to draw.
/// The same pixels as the last cover area made on this thread give that area again.
[[nodiscard]] RgbImage coverAreaImage(const Picture& cover);

/// Shrinks the cover itself to iconSize x iconSize and encodes it as the MP3 file's icon file
/// content (JPEG, quality 70). The same pixels and icon size as the last cover icon made on this
/// thread give that icon again. Empty when the encoding fails.
[[nodiscard]] std::vector<std::uint8_t> makeCoverIcon(Picture& cover, int iconSize);

} // namespace tagrelay
