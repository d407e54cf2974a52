#include "mpeg/frame_header.h"

#include "mpeg/bitrate_tables.h"
#include "mpeg/header_bits.h"
#include "platform/byte_reader.h"
#include "scan/progress.h"
#include "scan/run_state.h"
#include "tags/audio_start.h"
#include "window/window_layer.h"

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

constexpr Box scanProgressBarBox{8, 45, 776, 10};
constexpr std::int64_t id3v1TagSize = 128;

/// Clears everything an earlier file left in the frame and stream part of the record.
void resetFrameFacts(TrackFacts& facts)
{
    facts.audioStart = 0;
    facts.audioBytes = 0;
    facts.mpegVersion = 0;
    facts.layer = 0;
    facts.headerBitrate = 0;
    facts.copyrightFlag = 0;
    facts.originalFlag = 0;
    facts.sampleRate = 0;
    facts.modeExtension.clear();
    facts.emphasis.clear();
    facts.channelMode.clear();
    facts.bitrate = 0;
    facts.isVbr = 0;
}

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

} // namespace

std::int32_t readFrameHeaderAt(ByteReader& file, std::int64_t audioStart, const std::string& path,
                               TrackFacts& facts, WindowLayer& window, RunState& run)
{
    resetFrameFacts(facts);
    if (!file.isOpen() || audioStart < 0)
        return 0;
    const std::int64_t length = file.size();
    facts.audioBytes = length - audioStart;

    if (run.settings.showBitrate != 0) {
        window.createGadget(mainWindow, scanProgressBar, GadgetKind::ProgressBar,
                            scanProgressBarBox, "");
        window.setProgressRange(scanProgressBar, 0, length);
    }
    if (endsInId3v1Tag(file))
        facts.audioBytes -= id3v1TagSize;

    file.seek(audioStart);
    const HeaderBytes header = headerBytesOf(file.readU32BigEndian());
    if (!hasFrameSync(header)) {
        addError(window, "frame header error : " + path);
        return -1;
    }

    const MpegVersion version = versionOf(header);
    const MpegLayer layer = layerOf(header);
    const int rateIndex = sampleRateIndexOf(header);
    if (isKnownVersion(version) && sampleRateFor(version, rateIndex) == 0)
        return 0; // the reserved rate: nothing can be timed

    facts.audioStart = audioStart;
    facts.mpegVersion = static_cast<std::uint8_t>(versionNumber(version));
    facts.layer = static_cast<std::uint8_t>(layerNumber(layer));
    facts.headerBitrate = bitrateFor(version, layer, bitrateIndexOf(header));
    facts.sampleRate = sampleRateFor(version, rateIndex);
    facts.channelMode = channelModeTexts[static_cast<std::size_t>(channelModeOf(header))];
    facts.modeExtension = modeExtensionText(version, modeExtensionOf(header));
    facts.copyrightFlag = static_cast<std::uint8_t>(copyrightOf(header));
    facts.originalFlag = static_cast<std::uint8_t>(originalOf(header));
    facts.emphasis = emphasisTexts[static_cast<std::size_t>(emphasisOf(header))];
    return 1;
}

std::int32_t readFrameHeader(ByteReader& file, const std::string& path, TrackFacts& facts,
                             WindowLayer& window, RunState& run)
{
    resetFrameFacts(facts);
    const std::int64_t audioStart = findAudioStart(file);
    if (audioStart < 0)
        return 0;
    return readFrameHeaderAt(file, audioStart, path, facts, window, run);
}

std::int32_t readFrameHeader(const std::string& path, TrackFacts& facts, WindowLayer& window,
                             RunState& run)
{
    ByteReader file(path, mpegReadWindow);
    return readFrameHeader(file, path, facts, window, run);
}

} // namespace tagrelay
