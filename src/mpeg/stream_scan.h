#pragma once

#include <cstdint>
#include <string>

namespace tagrelay {

class ByteReader;
class WindowLayer;
struct RunState;
struct TrackFacts;

/// Walks the MP3 file frame by frame from the audio start and decides CBR or VBR.
/// Polls one window event per counted frame.
///
/// \returns the bitrate in kbit/s: the common bitrate of a CBR file, the average of a VBR
/// file, 0 when no frame was counted, -1 when no audio start was found. Sets facts.isVbr.
/// Sets run.closeRequested and returns at once when the user closes the window.
[[nodiscard]] std::int16_t scanStream(ByteReader& file, const std::string& path, TrackFacts& facts,
                                      WindowLayer& window, RunState& run);
[[nodiscard]] std::int16_t scanStream(const std::string& path, TrackFacts& facts,
                                      WindowLayer& window, RunState& run);

} // namespace tagrelay
