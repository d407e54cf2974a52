#pragma once

#include "mpeg/frame_header.h"
#include "tags/track_tags.h"

#include <cstdint>

namespace tagrelay {

/// Everything known about one MP3 file, built by the walk from the readers' results for that
/// file: its tags, its first frame and the stream scan's bitrate.
struct TrackFacts : TrackTags, FrameFacts
{
    std::int16_t bitrate = 0; // kbit/s shown for the file
    std::uint8_t isVbr = 0;
};

} // namespace tagrelay
