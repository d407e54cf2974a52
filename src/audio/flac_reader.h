#pragma once

#include "audio/audio_track.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tagrelay {

class ByteReader;

/// What a FLAC frame header says, once its CRC-8 holds.
struct FlacFrameHeader
{
    bool variableBlocks = false; // the number is a sample number, else a frame number
    std::uint64_t number = 0;
    std::uint32_t blockSize = 0;
    std::size_t length = 0; // header bytes, the CRC-8 included
};

/// Decodes a frame header from the bytes at a frame sync (0xFF 0xF8 or 0xF9); nothing when a
/// field holds a reserved value, the bytes run out or the CRC-8 does not match.
[[nodiscard]] std::optional<FlacFrameHeader>
decodeFlacFrameHeader(std::span<const std::uint8_t> bytes);

/// Reads a FLAC file: an ID3v2 tag in front is passed over; STREAMINFO gives the rate, the
/// channels and the total samples, VORBIS_COMMENT the tags, the first PICTURE of type 3 the
/// cover. The payload is the frames: from behind the metadata to the end, less a trailing
/// ID3v1 block. A stream that states 0 samples has its frames' samples counted (when
/// options.walksStream). CBR when STREAMINFO's smallest and largest frame sizes are one size.
[[nodiscard]] AudioTrack readFlac(ByteReader& file, const AudioReadOptions& options);

} // namespace tagrelay
