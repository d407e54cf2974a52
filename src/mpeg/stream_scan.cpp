#include "mpeg/stream_scan.h"

#include "platform/byte_reader.h"
#include "scan/run_state.h"

namespace tagrelay {

// FIXME: the frame-by-frame scan is not in place yet; no frame is counted.
std::int16_t scanStream(ByteReader& /*file*/, const std::string& /*path*/, TrackFacts& facts,
                        WindowLayer& /*window*/, RunState& /*run*/)
{
    facts.isVbr = 0;
    return 0;
}

std::int16_t scanStream(const std::string& path, TrackFacts& facts, WindowLayer& window,
                        RunState& run)
{
    ByteReader file(path);
    return scanStream(file, path, facts, window, run);
}

} // namespace tagrelay
