#pragma once

#include "mpeg/header_bits.h"

#include <array>
#include <cstdint>

namespace tagrelay {

/// Bitrates in kbit/s by bitrate index (bits 7..4 of b2, i.e. BBBBxxxx). Index 0 is the free
/// format, which gives no bitrate (0); index 15 is forbidden and reads as -1.
using BitrateTable = std::array<std::int16_t, 16>;

inline constexpr BitrateTable mpeg1Layer1Bitrates = {0,   32,  64,  96,  128, 160, 192, 224,
                                                     256, 288, 320, 352, 384, 416, 448, -1};
inline constexpr BitrateTable mpeg1Layer2Bitrates = {0,   32,  48,  56,  64,  80,  96,  112,
                                                     128, 160, 192, 224, 256, 320, 384, -1};
inline constexpr BitrateTable mpeg1Layer3Bitrates = {0,   32,  40,  48,  56,  64,  80,  96,
                                                     112, 128, 160, 192, 224, 256, 320, -1};
// MPEG 2 and MPEG 2.5 (the low sampling rates) share two tables: one for layer 1, one for
// layers 2 and 3.
inline constexpr BitrateTable lowRateLayer1Bitrates = {0,   32,  48,  56,  64,  80,  96,  112,
                                                       128, 144, 160, 176, 192, 224, 256, -1};
inline constexpr BitrateTable lowRateLayer23Bitrates = {0,  8,  16, 24,  32,  40,  48,  56,
                                                        64, 80, 96, 112, 128, 144, 160, -1};

/// True when the version and layer bits name a bitrate table.
constexpr bool hasBitrateTable(MpegVersion version, MpegLayer layer)
{
    return isKnownVersion(version) && layer != MpegLayer::Reserved;
}

/// kbit/s for a bitrate index; 0 when the version or layer is reserved or the index is out of
/// range, -1 for index 15.
constexpr std::int16_t bitrateFor(MpegVersion version, MpegLayer layer, int index)
{
    if (!hasBitrateTable(version, layer) || index < 0 || index > 15)
        return 0;
    const auto at = static_cast<std::size_t>(index);
    if (version == MpegVersion::Mpeg1) {
        switch (layer) {
        case MpegLayer::Layer1:
            return mpeg1Layer1Bitrates[at];
        case MpegLayer::Layer2:
            return mpeg1Layer2Bitrates[at];
        default:
            return mpeg1Layer3Bitrates[at];
        }
    }
    return layer == MpegLayer::Layer1 ? lowRateLayer1Bitrates[at] : lowRateLayer23Bitrates[at];
}

/// Sampling rates in Hz by sampling-rate index (bits 3, 2 of b2, i.e. xxxxSSxx); index 3 is
/// reserved.
inline constexpr std::array<std::int32_t, 3> mpeg1Rates = {44100, 48000, 32000};
inline constexpr std::array<std::int32_t, 3> mpeg2Rates = {22050, 24000, 16000};
inline constexpr std::array<std::int32_t, 3> mpeg25Rates = {11025, 12000, 8000};

/// Hz for a sampling-rate index; 0 for the reserved version or the reserved index 3.
constexpr std::int32_t sampleRateFor(MpegVersion version, int index)
{
    if (index < 0 || index > 2)
        return 0;
    const auto at = static_cast<std::size_t>(index);
    switch (version) {
    case MpegVersion::Mpeg1:
        return mpeg1Rates[at];
    case MpegVersion::Mpeg2:
        return mpeg2Rates[at];
    case MpegVersion::Mpeg25:
        return mpeg25Rates[at];
    case MpegVersion::Reserved:
        break;
    }
    return 0;
}

/// Bytes from the start of a frame to the start of the next one. Layer 1 counts in slots of
/// four bytes (384 samples a frame); layer 2 and layer 3 of MPEG 1 carry 1152 samples a frame,
/// layer 3 of MPEG 2 and 2.5 only 576, hence half the length. Zero or less when the bitrate is
/// (free format, forbidden index) or the rate is unknown.
constexpr std::int64_t frameLength(MpegVersion version, MpegLayer layer, std::int64_t kbps,
                                   std::int64_t rate, int padding)
{
    if (rate <= 0)
        return 0;
    // Every table bitrate and rate fits 32 bits, and so does 144 times the bits per second:
    // the division, done for every frame of a stream, is the narrow one then.
    if (kbps >= 0 && kbps <= 1000 && rate <= 0xFFFFFFFF) {
        const auto bitsPerSecond = static_cast<std::uint32_t>(kbps) * 1000;
        const auto perRate = static_cast<std::uint32_t>(rate);
        const auto slot = static_cast<std::uint32_t>(padding);
        if (layer == MpegLayer::Layer1)
            return (12 * bitsPerSecond / perRate + slot) * 4;
        if (layer == MpegLayer::Layer3 && version != MpegVersion::Mpeg1)
            return 72 * bitsPerSecond / perRate + slot;
        return 144 * bitsPerSecond / perRate + slot;
    }
    const std::int64_t bitsPerSecond = kbps * 1000;
    if (layer == MpegLayer::Layer1)
        return (12 * bitsPerSecond / rate + padding) * 4;
    if (layer == MpegLayer::Layer3 && version != MpegVersion::Mpeg1)
        return 72 * bitsPerSecond / rate + padding;
    return 144 * bitsPerSecond / rate + padding;
}

/// Samples a frame carries: 384 in layer 1, 1152 in layer 2 and in layer 3 of MPEG 1, 576 in
/// layer 3 of MPEG 2 and 2.5; 0 for the reserved version or layer.
constexpr std::int32_t samplesPerFrame(MpegVersion version, MpegLayer layer)
{
    if (!hasBitrateTable(version, layer))
        return 0;
    if (layer == MpegLayer::Layer1)
        return 384;
    if (layer == MpegLayer::Layer3 && version != MpegVersion::Mpeg1)
        return 576;
    return 1152;
}

} // namespace tagrelay
