#pragma once

#include "audio/audio_track.h"

#include <cstdint>
#include <optional>
#include <span>

namespace tagrelay {

class ByteReader;

/// What an ADTS frame header says.
struct AdtsHeader
{
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;    // 0: given by a program config element
    std::int32_t frameLength = 0; // the whole frame, header included
    std::int32_t blocks = 1;      // raw data blocks of 1024 samples each
};

/// Decodes the 7 bytes of an ADTS frame header; nothing without the sync, with a layer other
/// than 0, a reserved sampling-frequency index or a frame shorter than its header.
[[nodiscard]] std::optional<AdtsHeader> decodeAdtsHeader(std::span<const std::uint8_t> bytes);

/// Reads an ADTS AAC file: the tags of an ID3v2 tag in front (and of an ID3v1 block at the
/// end), then the frame walk to the end. Duration: the frames' blocks x 1024 / the first
/// frame's rate; payload: the whole frames, headers included. CBR when every frame has one
/// length. Without options.walksStream only the first frame is read.
[[nodiscard]] AudioTrack readAdts(ByteReader& file, const AudioReadOptions& options);

} // namespace tagrelay
