#pragma once

#include "tags/track_facts.h"

#include <cstdint>
#include <string_view>

namespace tagrelay {

class ByteReader;

/// Reads an APIC frame whose data starts at the file's position and keeps a front cover in
/// facts.picture, releasing the cover an earlier frame of the same tag left there. Any other
/// picture, or data no decoder accepts, leaves facts.picture as it is. May stop anywhere
/// inside the frame: the frame walk seeks to the next frame by itself.
void readPictureFrame(ByteReader& file, std::string_view frameId, std::int32_t frameSize,
                      TrackFacts& facts);

} // namespace tagrelay
