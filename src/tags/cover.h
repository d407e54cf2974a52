#pragma once

#include "media/picture.h"
#include "media/picture_service.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tagrelay {

/// The picture type of a front cover; the only one that becomes the MP3 file's cover.
constexpr std::uint8_t frontCoverType = 3;
/// The side of the square the window shows the cover in.
constexpr int coverAreaSide = 150;

/// The parts of one APIC frame's data (ID3v2.3): text encoding (1 byte), MIME type (single
/// bytes and a zero, in every encoding), picture type (1 byte), description (encoding 0:
/// single bytes and a zero; encoding 1: UTF-16 units and a zero unit), then the picture data
/// to the end of the frame. The views point into the frame's bytes.
struct PictureFrame
{
    std::uint8_t encoding = 0; // 0 = ISO-8859-1, 1 = UTF-16 with byte-order mark
    std::string_view mimeType; // without its zero, e.g. image/jpeg; not used to pick a decoder
    std::uint8_t pictureType = 0;
    std::span<const std::uint8_t> description; // raw bytes without the terminator
    std::span<const std::uint8_t> data;        // the encoded picture, possibly empty
};

/// Splits an APIC frame's data into its parts. A description is read whole up to its
/// terminator, line breaks included; UTF-16 units are taken in pairs from its start.
///
/// \returns nothing when the encoding byte is neither 0 nor 1, or the frame ends before the
/// MIME type's zero, the picture type or the description's terminator.
[[nodiscard]] std::optional<PictureFrame> readPictureFrame(std::span<const std::uint8_t> frameData);

/// True when the frame's picture becomes the cover: a front cover with at least one data byte.
bool isFrontCoverFrame(const PictureFrame& frame);

/// Handles one APIC frame of a tag: a front cover replaces cover (releasing the picture an
/// earlier front cover left there) with the caught picture, or with none when no decoder
/// accepts the data (GIF, say). Any other frame leaves cover as it is. Call it for every APIC
/// frame in the tag's order, with cover empty at the start of each file: the last front cover
/// wins. The pixels are kept at the cover area's size or larger.
void takeCoverFrame(std::span<const std::uint8_t> frameData, PictureHandle& cover,
                    std::uint8_t displayDepth = noScreenDepth);

/// The cover squeezed to the cover area (150 × 150, aspect not kept), for the window to draw.
[[nodiscard]] RgbImage coverAreaImage(const Picture& cover);

/// Shrinks the cover itself to iconSize × iconSize and encodes it as the MP3 file's icon file
/// content (JPEG, quality 70). Empty when the encoding fails.
[[nodiscard]] std::vector<std::uint8_t> makeCoverIcon(Picture& cover, int iconSize);

} // namespace tagrelay
