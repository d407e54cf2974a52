#pragma once

#include <cstdint>
#include <string>

namespace tagrelay {

class ByteReader;
class WindowLayer;
struct RunState;
struct TrackFacts;

/// Decodes the first MPEG audio frame header of the file into the frame part of facts, after
/// resetting it (and bitrate and isVbr). Creates the scan's progress bar when the bitrate is
/// shown.
///
/// \returns 1 when decoded; 0 when no audio start was found or the sampling-rate index is
/// reserved; -1 when the bytes at the audio start are no frame header (then the error list
/// has an entry "frame header error : " + path).
[[nodiscard]] std::int32_t readFrameHeader(ByteReader& file, const std::string& path,
                                           TrackFacts& facts, WindowLayer& window, RunState& run);
[[nodiscard]] std::int32_t readFrameHeader(const std::string& path, TrackFacts& facts,
                                           WindowLayer& window, RunState& run);

} // namespace tagrelay
