#pragma once

#include "audio/audio_track.h"

namespace tagrelay {

class ByteReader;

/// Reads a WAV file (RIFF, or RF64 with its ds64 sizes) by its chunks: fmt gives the rate, the
/// channels and the block align, data the payload, fact the sample count of compressed data;
/// LIST/INFO gives IART, IPRD, INAM and IGNR (UTF-8 when they are valid UTF-8, else
/// ISO-8859-1), and an `id3 ` chunk read by the ID3v2 reader replaces each field it has.
/// Duration: PCM and float data, data bytes / block align / rate; other data, the fact
/// sample count / rate (without one, data bytes / the byte rate). Always CBR.
[[nodiscard]] AudioTrack readWav(ByteReader& file, const AudioReadOptions& options);

} // namespace tagrelay
