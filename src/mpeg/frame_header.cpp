#include "mpeg/frame_header.h"

#include "platform/byte_reader.h"
#include "scan/run_state.h"
#include "tags/audio_start.h"

namespace tagrelay {

// FIXME: only the audio start is looked for yet; the header itself is not decoded.
std::int32_t readFrameHeader(ByteReader& file, const std::string& /*path*/, TrackFacts& facts,
                             WindowLayer& /*window*/, RunState& /*run*/)
{
    facts.bitrate = 0;
    facts.isVbr = 0;
    facts.channelMode.clear();
    return findAudioStart(file) < 0 ? 0 : 1;
}

std::int32_t readFrameHeader(const std::string& path, TrackFacts& facts, WindowLayer& window,
                             RunState& run)
{
    ByteReader file(path);
    return readFrameHeader(file, path, facts, window, run);
}

} // namespace tagrelay
