#pragma once

#include "mpeg/audio_start.h"

#include <cstdint>

namespace tagrelay {

/// The four bytes of an MPEG audio frame header in file order. Bit 7 is the most significant
/// bit of a byte.
///
///   b0: 11111111  frame sync
///   b1: 111VVLLP  sync, version, layer, protection (0: a 16-bit CRC follows the header)
///   b2: BBBBSSPX  bitrate index, sampling-rate index, padding, private
///   b3: CCMMcoEE  channel mode, mode extension, copyright, original, emphasis
struct HeaderBytes
{
    std::uint8_t b0 = 0;
    std::uint8_t b1 = 0;
    std::uint8_t b2 = 0;
    std::uint8_t b3 = 0;
};

/// The header bytes of a big-endian 32-bit word as read from the file.
constexpr HeaderBytes headerBytesOf(std::uint32_t word)
{
    return {static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
            static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
}

/// The unsigned value of `count` bits of a byte, the highest of them bit `highBit`, read most
/// significant bit first.
constexpr int bitField(std::uint8_t byte, int highBit, int count)
{
    return (byte >> (highBit - count + 1)) & ((1 << count) - 1);
}

/// True when b0 is 0xFF and the three top bits of b1 are set.
constexpr bool hasFrameSync(HeaderBytes bytes)
{
    return bytes.b0 == 0xFF && isBitSet(bytes.b1, 7) && isBitSet(bytes.b1, 6)
           && isBitSet(bytes.b1, 5);
}

/// Version bits 4, 3 of b1, by their value.
enum class MpegVersion : std::uint8_t { Mpeg25 = 0, Reserved = 1, Mpeg2 = 2, Mpeg1 = 3 };

/// Layer bits 2, 1 of b1, by their value (layer 1 is 11, layer 3 is 01).
enum class MpegLayer : std::uint8_t { Reserved = 0, Layer3 = 1, Layer2 = 2, Layer1 = 3 };

constexpr MpegVersion versionOf(HeaderBytes bytes)
{
    return static_cast<MpegVersion>(bitField(bytes.b1, 4, 2));
}

constexpr MpegLayer layerOf(HeaderBytes bytes)
{
    return static_cast<MpegLayer>(bitField(bytes.b1, 2, 2));
}

/// True when the protection bit is clear, so a 16-bit CRC sits between header and side
/// information.
constexpr bool hasCrc(HeaderBytes bytes)
{
    return isBitSet(bytes.b1, 0) == 0;
}

/// Bitrate index 0..15: bits 7..4 of b2.
constexpr int bitrateIndexOf(HeaderBytes bytes)
{
    return bitField(bytes.b2, 7, 4);
}

/// Sampling-rate index 0..3: bits 3, 2 of b2.
constexpr int sampleRateIndexOf(HeaderBytes bytes)
{
    return bitField(bytes.b2, 3, 2);
}

/// Padding bit 1 of b2: the frame carries one more slot.
constexpr int paddingOf(HeaderBytes bytes)
{
    return isBitSet(bytes.b2, 1);
}

/// Channel mode 0..3 (stereo, joint stereo, dual channel, mono): bits 7, 6 of b3.
constexpr int channelModeOf(HeaderBytes bytes)
{
    return bitField(bytes.b3, 7, 2);
}

/// Mode extension 0..3: bits 5, 4 of b3.
constexpr int modeExtensionOf(HeaderBytes bytes)
{
    return bitField(bytes.b3, 5, 2);
}

constexpr int copyrightOf(HeaderBytes bytes)
{
    return isBitSet(bytes.b3, 3);
}

constexpr int originalOf(HeaderBytes bytes)
{
    return isBitSet(bytes.b3, 2);
}

/// Emphasis 0..3: bits 1, 0 of b3.
constexpr int emphasisOf(HeaderBytes bytes)
{
    return bitField(bytes.b3, 1, 2);
}

/// The layer as the number people use: 1, 2 or 3; 0 for the reserved layer bits.
constexpr int layerNumber(MpegLayer layer)
{
    switch (layer) {
    case MpegLayer::Layer1:
        return 1;
    case MpegLayer::Layer2:
        return 2;
    case MpegLayer::Layer3:
        return 3;
    case MpegLayer::Reserved:
        break;
    }
    return 0;
}

/// The version as stored for the file: 1, or 2 for both MPEG 2 and MPEG 2.5, or 0 for the
/// reserved version bits.
constexpr int versionNumber(MpegVersion version)
{
    switch (version) {
    case MpegVersion::Mpeg1:
        return 1;
    case MpegVersion::Mpeg2:
    case MpegVersion::Mpeg25:
        return 2;
    case MpegVersion::Reserved:
        break;
    }
    return 0;
}

/// True for the versions with bitrate tables and sampling rates.
constexpr bool isKnownVersion(MpegVersion version)
{
    return version != MpegVersion::Reserved;
}

/// Offset from the frame start at which an encoder's "Xing" or "Info" tag sits in a layer 3
/// frame: behind the header and the side information, whose size depends on the version and
/// on mono or not. A frame with a CRC may have it 2 bytes later, behind the CRC. 0 when the
/// frame cannot carry one.
constexpr int xingTagOffset(HeaderBytes bytes)
{
    if (layerOf(bytes) != MpegLayer::Layer3 || !isKnownVersion(versionOf(bytes)))
        return 0;
    const bool mono = channelModeOf(bytes) == 3;
    const int sideInformation =
        versionOf(bytes) == MpegVersion::Mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    return 4 + sideInformation;
}

/// Offset from the frame start of the Fraunhofer encoder's "VBRI" tag.
inline constexpr int vbriTagOffset = 36;

} // namespace tagrelay
