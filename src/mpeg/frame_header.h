#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tagrelay {

class ByteReader;
class WindowLayer;
struct RunState;
struct TrackFacts;

/// Window of the reader the path overloads open: one kernel read serves about 150 frames.
inline constexpr std::size_t mpegReadWindow = 64 * 1024;

/// Decodes the first MPEG audio frame header of the file into the frame part of facts, after
/// resetting it (and bitrate and isVbr). Creates the scan's progress bar when the bitrate is
/// shown. The audio bytes leave out a trailing ID3v1 tag.
///
/// \returns 1 when decoded; 0 when no audio start was found or the sampling-rate index is
/// reserved; -1 when the bytes at the audio start are no frame header (then the error list
/// has an entry "frame header error : " + path).
[[nodiscard]] std::int32_t readFrameHeader(ByteReader& file, const std::string& path,
                                           TrackFacts& facts, WindowLayer& window, RunState& run);
[[nodiscard]] std::int32_t readFrameHeader(const std::string& path, TrackFacts& facts,
                                           WindowLayer& window, RunState& run);

/// readFrameHeader for an audio start already found: trusts the offset and decodes whatever
/// four bytes lie there. Resets the frame part of facts first, like readFrameHeader.
[[nodiscard]] std::int32_t readFrameHeaderAt(ByteReader& file, std::int64_t audioStart,
                                             const std::string& path, TrackFacts& facts,
                                             WindowLayer& window, RunState& run);

} // namespace tagrelay
