#pragma once

#include "tags/track_tags.h"

#include <cstddef>

namespace tagrelay {

class ByteReader;

/// Size of the ID3v1 block at the end of an MP3 file.
inline constexpr std::size_t id3v1BlockSize = 128;

/// Reads the ID3v1 block in the last 128 bytes of the file (a file shorter than that is read
/// from its start, the missing bytes counting as zero). When the block begins with "TAG"
/// (upper case), sets title, artist, album and year (ISO-8859-1 texts, cut at their first
/// zero byte, blanks trimmed from both ends), track and genre (the raw bytes 126 and 127 as
/// one-byte texts, empty for a zero byte) and genreName (the table's name for the genre byte,
/// empty past 147).
/// \returns 1 when a block was found and taken, else 0 (nothing changed).
int readId3v1Tag(ByteReader& file, TrackTags& tags);

} // namespace tagrelay
