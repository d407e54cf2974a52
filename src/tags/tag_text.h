#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tagrelay {

/// The ID3v2 text encodings, as the byte in front of a frame's text gives them.
enum class TextEncoding : std::uint8_t { Latin1 = 0, Utf16 = 1, Utf16BigEndian = 2, Utf8 = 3 };

/// Decodes the first text of bytes (the frame data behind its encoding byte) in the locale's
/// character set. Latin1 ends at the first zero byte; Utf16 reads a byte-order mark first (FE FF
/// big-endian, anything else little-endian) and ends at the first zero unit, as Utf16BigEndian
/// does without a mark; Utf8 ends at the first zero byte, a malformed sequence becoming U+FFFD.
/// Characters the locale lacks become their nearest equivalent or "?". A trailing odd byte of
/// UTF-16 is no unit. An encoding byte above 3 gives the empty text. U+0085 (next line),
/// U+2028 (line separator) and U+2029 (paragraph separator) become blanks: a reader of the
/// description list that knows Unicode would take them for the end of a line.
[[nodiscard]] std::string decodeTagText(std::uint8_t encoding, std::span<const std::uint8_t> bytes);

/// ISO-8859-1 bytes of a tag (an ID3v1 field) in the locale's character set, with the byte
/// 0x85 (next line) as a blank, for the same reason.
[[nodiscard]] std::string latin1TagText(std::string_view bytes);

} // namespace tagrelay
