#pragma once

#include "tags/tag_versions.h"
#include "tags/track_tags.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tagrelay {

class ByteReader;

/// Reads an ID3v2.2 or ID3v2.4 tag at the start of the file into tags, the frames the ID3v2.3
/// reader knows replacing their fields the same way: in version 2 TT2, TP1, TAL, TYE, TCO, TCR,
/// TRK, WXX and PIC; in version 4 the ID3v2.3 ids, with TDRC giving the year. Texts in any of
/// the four encodings are converted to the locale's character set, the first of several strings
/// is taken, and a TCON genre number shows as its name. The whole-tag and per-frame
/// unsynchronisation, a version 4 extended header and the data-length indicator are honoured;
/// compressed and encrypted frames are passed over. Frames never read past the tag's end, a
/// text past maxTextBytes is cut, and a front cover (left in the layout of an ID3v2.3 APIC
/// frame's data) larger than maxCoverFrameBytes is passed over. The walk ends at a frame id
/// that is not upper-case letters and digits (padding) or at the tag's end.
/// The tag is looked for at tagStart (0: the start of the file).
/// \returns true when the file begins with a tag of version 2 or 4, read or (being compressed
/// as a whole) passed over; false for any other file, whose tags stay untouched.
[[nodiscard]] bool readId3v22Or24Tag(ByteReader& file, TrackTags& tags,
                                     CoverBytes covers = CoverBytes::Keep,
                                     std::int64_t tagStart = 0);

/// The bytes with unsynchronisation undone: every 0x00 directly behind a 0xFF is dropped.
[[nodiscard]] std::vector<std::uint8_t> undoUnsynchronisation(std::span<const std::uint8_t> bytes);

/// The data of an ID3v2.2 PIC frame (encoding, a three-letter image format, picture type,
/// description, picture) in the layout of an APIC frame's data, the format becoming a MIME type
/// ("JPG" image/jpeg, "PNG" image/png, any other "image/" and the format's letters in lower
/// case). Empty when the data is too short to hold the fields before the description.
[[nodiscard]] std::vector<std::uint8_t> picFrameAsApic(std::span<const std::uint8_t> data);

} // namespace tagrelay
