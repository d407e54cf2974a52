#pragma once

#include <cstdint>

namespace tagrelay {

class ByteReader;

/// 1 when bit number `bit` (0 = least significant) of value is set, else 0.
constexpr int isBitSet(std::int64_t value, int bit)
{
    return bit >= 0 && bit < 63 && ((value >> bit) & 1) != 0 ? 1 : 0;
}

/// How far behind the tags the search for the first frame goes, not counting further ID3v2
/// tags it skips.
inline constexpr std::int64_t audioStartSearchLimit = 16 * 1024 * 1024;

/// Headers of the same stream that must follow a sync, each where the frame before it ends,
/// for the sync to count as a frame (fewer when the frames reach the end of the audio first).
inline constexpr int followingFramesNeeded = 2;

/// Offset of the first MPEG audio frame: the first frame sync (a 0xFF byte followed by a byte
/// with its three top bits set) that starts a header followed by headers of the same stream
/// (version, layer, sampling rate) where the frame lengths put them (for a free-format header,
/// only as the first sync met: where the distance to its next header puts them), behind a leading
/// ID3v2 tag of version 2, 3 or 4 (and the footer a version 4 tag announces). Further ID3v2 tags
/// met on the way are skipped by their size. -1 when the file cannot be opened or no frame starts
/// in the first audioStartSearchLimit bytes searched. Starts at the file's beginning whatever the
/// reader's position, and reads through the reader's buffer.
[[nodiscard]] std::int64_t findAudioStart(ByteReader& file);

/// The search of findAudioStart from offset `from` on, with the same limit: the offset of the
/// first frame there, or -1.
[[nodiscard]] std::int64_t findFrameFrom(ByteReader& file, std::int64_t from);

} // namespace tagrelay
