#pragma once

#include "mpeg/header_bits.h"

#include <cstdint>

namespace tagrelay {

class ByteReader;

/// Where the audio of an MP3 file ends: its size less the tags taggers append behind the
/// frames, an ID3v1 block and, before it, APEv2 (the tag of ReplayGain tools) and Lyrics3v2
/// tags. Sizes that do not fit are taken as no tag. Leaves the position anywhere.
[[nodiscard]] std::int64_t audioEndOf(ByteReader& file);

/// True when a frame of the stream of `stream` (version, layer and sampling rate) ends exactly
/// at audioEnd: the last frame of a whole file. Reads only the bytes before audioEnd that the
/// longest frame of the stream could take, none of the frames before. Leaves the position
/// anywhere.
[[nodiscard]] bool hasLastFrameAt(ByteReader& file, std::int64_t audioEnd, HeaderBytes stream);

} // namespace tagrelay
