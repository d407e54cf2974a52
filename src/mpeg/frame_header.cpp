#include "mpeg/frame_header.h"

#include "mpeg/audio_start.h"
#include "mpeg/bitrate_tables.h"
#include "mpeg/header_bits.h"
#include "mpeg/info_frame.h"
#include "platform/byte_reader.h"

#include <array>

namespace tagrelay {

namespace {

// The texts are written into the description lines as they stand, "Dual Chanel" included.
constexpr std::array<const char*, 4> channelModeTexts = {"Stereo", "Joint Stereo", "Dual Chanel",
                                                         "Mono"};
constexpr std::array<const char*, 4> mpeg1ModeExtensions = {"4", "8", "12", "16"};
constexpr std::array<const char*, 4> mpeg2ModeExtensions = {"0", "4", "8", "16"};
constexpr std::array<const char*, 4> emphasisTexts = {"None", "50/15 microseconds", "Dunno",
                                                      "CITT j.17"};

constexpr std::int64_t id3v1TagSize = 128;

/// True when the last 128 bytes of the file begin with "TAG" (upper case only).
bool endsInId3v1Tag(ByteReader& file)
{
    if (file.size() < id3v1TagSize)
        return false;
    file.seek(file.size() - id3v1TagSize);
    return file.readU8() == 'T' && file.readU8() == 'A' && file.readU8() == 'G';
}

std::string modeExtensionText(MpegVersion version, int bits)
{
    const auto at = static_cast<std::size_t>(bits & 3);
    if (version == MpegVersion::Mpeg1)
        return mpeg1ModeExtensions[at];
    if (version == MpegVersion::Mpeg2)
        return mpeg2ModeExtensions[at];
    return {};
}

/// The header of the first audio frame: the one at the audio start, or the one behind it when
/// that holds an encoder's information and a header that times the same kind of stream
/// follows.
HeaderBytes firstAudioHeader(ByteReader& file, std::int64_t audioStart, HeaderBytes header)
{
    if (!isEncoderInfoFrame(file, audioStart, header))
        return header;
    const MpegVersion version = versionOf(header);
    const MpegLayer layer = layerOf(header);
    const std::int64_t length =
        frameLength(version, layer, bitrateFor(version, layer, bitrateIndexOf(header)),
                    sampleRateFor(version, sampleRateIndexOf(header)), paddingOf(header));
    if (length <= 0 || audioStart + length + 4 > file.size())
        return header;
    file.seek(audioStart + length);
    const HeaderBytes next = headerBytesOf(file.readU32BigEndian());
    const bool timesTheStream = hasFrameSync(next) && isKnownVersion(versionOf(next))
                                && sampleRateFor(versionOf(next), sampleRateIndexOf(next)) != 0
                                && layerOf(next) != MpegLayer::Reserved;
    return timesTheStream ? next : header;
}

/// Whether a header of the same stream (version, layer and sampling rate) follows the frame at
/// start, or the frame reaches the end of the audio, or its length cannot be told.
bool isFollowedByFrame(ByteReader& file, std::int64_t start, std::int64_t audioEnd,
                       HeaderBytes header)
{
    const MpegVersion version = versionOf(header);
    const MpegLayer layer = layerOf(header);
    const int rate = sampleRateFor(version, sampleRateIndexOf(header));
    const std::int64_t length =
        frameLength(version, layer, bitrateFor(version, layer, bitrateIndexOf(header)), rate,
                    paddingOf(header));
    if (length <= 0 || start + length + 4 > audioEnd)
        return true;
    file.seek(start + length);
    const HeaderBytes next = headerBytesOf(file.readU32BigEndian());
    return hasFrameSync(next) && versionOf(next) == version && layerOf(next) == layer
           && sampleRateFor(versionOf(next), sampleRateIndexOf(next)) == rate;
}

} // namespace

FirstFrame readFrameHeaderAt(ByteReader& file, std::int64_t audioStart)
{
    FirstFrame first;
    if (!file.isOpen() || audioStart < 0)
        return first;
    first.foundAudioStart = true;
    first.audioStart = audioStart;
    FrameFacts& facts = first.facts;
    facts.audioBytes = file.size() - audioStart;
    if (endsInId3v1Tag(file))
        facts.audioBytes -= id3v1TagSize;

    file.seek(audioStart);
    const HeaderBytes header = headerBytesOf(file.readU32BigEndian());
    if (!hasFrameSync(header)) {
        first.result = -1;
        return first;
    }

    const MpegVersion version = versionOf(header);
    const MpegLayer layer = layerOf(header);
    const int rateIndex = sampleRateIndexOf(header);
    if (isKnownVersion(version) && sampleRateFor(version, rateIndex) == 0)
        return first; // the reserved rate: nothing can be timed

    facts.audioStart = audioStart;
    facts.headerBitrate = bitrateFor(version, layer, bitrateIndexOf(header));
    facts.copyrightFlag = static_cast<std::uint8_t>(copyrightOf(header));
    facts.originalFlag = static_cast<std::uint8_t>(originalOf(header));
    facts.emphasis = emphasisTexts[static_cast<std::size_t>(emphasisOf(header))];
    // An encoder's information frame carries header bits of its own (ffmpeg writes plain
    // stereo there for a joint-stereo stream): the stream's kind comes from the first frame
    // of audio behind it, when there is one.
    const HeaderBytes audio = firstAudioHeader(file, audioStart, header);
    const MpegVersion audioVersion = versionOf(audio);
    facts.mpegVersion = static_cast<std::uint8_t>(versionNumber(audioVersion));
    facts.layer = static_cast<std::uint8_t>(layerNumber(layerOf(audio)));
    facts.sampleRate = sampleRateFor(audioVersion, sampleRateIndexOf(audio));
    facts.channelMode = channelModeTexts[static_cast<std::size_t>(channelModeOf(audio))];
    facts.modeExtension = modeExtensionText(audioVersion, modeExtensionOf(audio));
    first.isFollowed = isFollowedByFrame(file, audioStart, audioStart + facts.audioBytes, header);
    first.result = 1;
    return first;
}

FirstFrame readFrameHeader(ByteReader& file)
{
    const std::int64_t audioStart = findAudioStart(file);
    if (audioStart < 0)
        return {};
    return readFrameHeaderAt(file, audioStart);
}

} // namespace tagrelay
