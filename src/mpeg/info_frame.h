#pragma once

#include "mpeg/header_bits.h"

#include <cstdint>

namespace tagrelay {

class ByteReader;

/// True when the frame at frameStart holds an encoder's information ("Xing" or "Info" behind
/// the side information, "VBRI" at offset 36) instead of audio. Encoders write it with
/// header bits of their own (a higher bitrate, plain stereo for a joint-stereo stream), so it
/// speaks neither for the stream's bitrate nor for its mode. Leaves the position where it
/// was.
[[nodiscard]] bool isEncoderInfoFrame(ByteReader& file, std::int64_t frameStart,
                                      HeaderBytes header);

} // namespace tagrelay
