#pragma once

#include <cstdint>

namespace tagrelay {

class ByteReader;

/// 1 when bit number `bit` (0 = least significant) of value is set, else 0.
constexpr int isBitSet(std::int64_t value, int bit)
{
    return bit >= 0 && bit < 63 && ((value >> bit) & 1) != 0 ? 1 : 0;
}

/// How far behind the tags the search for the first frame goes.
inline constexpr std::int64_t audioStartSearchLimit = 16 * 1024 * 1024;

/// Offset of the first MPEG frame sync (a 0xFF byte followed by a byte with its three top
/// bits set) behind a leading ID3v2 tag of version 2, 3 or 4 (and the footer a version 4 tag
/// announces), or -1 when the file cannot be opened or holds no sync in the first
/// audioStartSearchLimit bytes there. Starts at the
/// file's beginning whatever the reader's position, and reads through the reader's buffer.
[[nodiscard]] std::int64_t findAudioStart(ByteReader& file);

} // namespace tagrelay
