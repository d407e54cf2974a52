#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tagrelay {

/// The picture type of a front cover; the only one that becomes the MP3 file's cover.
constexpr std::uint8_t frontCoverType = 3;

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

/// The picture bytes of an APIC frame's data when it is a front cover with at least one byte
/// of picture; empty otherwise. The view points into frameData.
[[nodiscard]] std::span<const std::uint8_t>
frontCoverPicture(std::span<const std::uint8_t> frameData);

/// Where the picture bytes start in an APIC frame's data when it is a front cover with at
/// least one byte of picture; nothing otherwise.
[[nodiscard]] std::optional<std::size_t>
frontCoverPictureStart(std::span<const std::uint8_t> frameData);

} // namespace tagrelay
