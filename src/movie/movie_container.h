#pragma once

#include "platform/byte_reader.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tagrelay {

/// What a movie's container says about it, without decoding a frame.
struct ContainerFacts
{
    std::int32_t width = -1; // -1 each: no picture stream
    std::int32_t height = -1;
    std::int64_t frames = 0;      // 0: not known
    double framesPerSecond = 0.0; // 0: not known
};

/// A container read: the facts, or why the file is no movie the reader knows.
struct ContainerReading
{
    std::optional<ContainerFacts> facts;
    std::string refusal;
};

/// The frame rates of MPEG-1 and MPEG-2 video by frame_rate_code (bits 3..0 of the sequence
/// header's eighth byte); codes 0 and 9..15 are reserved and give 0.
inline constexpr std::array<double, 16> mpegFrameRates = {0.0,
                                                          24000.0 / 1001.0,
                                                          24.0,
                                                          25.0,
                                                          30000.0 / 1001.0,
                                                          30.0,
                                                          50.0,
                                                          60000.0 / 1001.0,
                                                          60.0,
                                                          0.0,
                                                          0.0,
                                                          0.0,
                                                          0.0,
                                                          0.0,
                                                          0.0,
                                                          0.0};

/// The 33-bit time stamp (90 kHz) in the five bytes of a PES header's PTS field:
/// xxxx 3 bits 1 | 15 bits 1 | 15 bits 1, the marker bits ignored.
[[nodiscard]] constexpr std::uint64_t mpegTimeStamp(std::span<const std::uint8_t, 5> bytes)
{
    return (static_cast<std::uint64_t>((bytes[0] >> 1) & 0x07u) << 30)
           | (std::uint64_t{bytes[1]} << 22) | (static_cast<std::uint64_t>(bytes[2] >> 1) << 15)
           | (std::uint64_t{bytes[3]} << 7) | (std::uint64_t{bytes[4]} >> 1);
}

/// Reads an AVI file's main header, its first video stream's header and format, and the
/// OpenDML header (the frame count of files past the first RIFF chunk): the picture size, the
/// frame count and the rate (dwRate / dwScale).
[[nodiscard]] ContainerReading readAviContainer(ByteReader& file);

/// Reads an MPEG program or system stream, or a bare MPEG video stream: the picture size and
/// rate from the first sequence header, the length from the first and last time stamps of the
/// video packets (a bare stream has none: frames stays 0).
[[nodiscard]] ContainerReading readMpegContainer(ByteReader& file);

/// Either of the two, by the file's first bytes.
[[nodiscard]] ContainerReading readMovieContainer(ByteReader& file);

} // namespace tagrelay
