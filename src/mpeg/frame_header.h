#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tagrelay {

class ByteReader;

/// What the first frame header at the audio start says.
struct FrameFacts
{
    std::int64_t audioStart = 0;
    std::int64_t audioBytes = 0;
    std::uint8_t mpegVersion = 0;
    std::uint8_t layer = 0;
    std::int16_t headerBitrate = 0;
    std::uint8_t copyrightFlag = 0;
    std::uint8_t originalFlag = 0;
    std::int32_t sampleRate = 0;
    std::string modeExtension;
    std::string emphasis;
    std::string channelMode;
};

/// Window of the reader the MPEG analysis wants: one kernel read serves about 150 frames.
inline constexpr std::size_t mpegReadWindow = 64 * 1024;

/// The outcome of decoding the first frame header.
struct FirstFrame
{
    /// 1 when decoded; 0 when no audio start was found or the sampling-rate index is
    /// reserved; -1 when the bytes at the audio start are no frame header.
    std::int32_t result = 0;
    /// Whether an audio start was found (also when result is 0 for a reserved rate or -1).
    bool foundAudioStart = false;
    /// Where it was found, for the stream scan to start there; -1 for none.
    std::int64_t audioStart = -1;
    /// The decoded facts. audioBytes is set whenever an audio start was found and leaves out
    /// a trailing ID3v1 tag; the other fields only when result is 1.
    FrameFacts facts;
    /// When result is 1: false when the bytes where the first frame should end hold no
    /// header of the same stream, a sign that the sync found was no audio at all (a damaged
    /// or foreign file). True when a header of the stream follows, when the frame reaches the
    /// end of the audio, or when its length cannot be told (free format).
    bool isFollowed = true;
};

/// Finds the audio start of the file and decodes the first MPEG audio frame header there.
[[nodiscard]] FirstFrame readFrameHeader(ByteReader& file);

/// readFrameHeader for an audio start already found: trusts the offset and decodes whatever
/// four bytes lie there.
[[nodiscard]] FirstFrame readFrameHeaderAt(ByteReader& file, std::int64_t audioStart);

} // namespace tagrelay
