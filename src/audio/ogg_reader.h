#pragma once

#include "audio/audio_track.h"

namespace tagrelay {

class ByteReader;

/// Reads an Ogg Vorbis or Ogg Opus file by walking its pages to the end in large reads. The
/// track is the first Vorbis or Opus logical stream and, in a chained file, each one that
/// begins after the one before: the tags and the channels of the first, the duration and the
/// payload summed over all. Duration: Vorbis, the last granule position / rate; Opus, (the
/// last granule position - pre-skip) / 48000. Payload: the stream's packet bytes less its
/// header packets (3 for Vorbis, 2 for Opus). CBR when every audio packet has one size. The
/// cover is the first METADATA_BLOCK_PICTURE of type 3. Without options.walksStream the walk
/// ends with the first stream's comment header.
[[nodiscard]] AudioTrack readOgg(ByteReader& file, const AudioReadOptions& options);

} // namespace tagrelay
