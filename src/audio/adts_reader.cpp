#include "audio/adts_reader.h"

#include "audio/sequential_bytes.h"
#include "platform/byte_reader.h"
#include "tags/id3v2.h"

#include <array>
#include <cstring>

namespace tagrelay {

namespace {

constexpr std::size_t headerSize = 7;
constexpr std::uint8_t id3v2FooterFlag = 0x10;
constexpr std::int64_t samplesPerBlock = 1024;
constexpr std::int64_t progressStep = 4 * 1024 * 1024;
/// How far past damage the walk looks for the next frame of the stream.
constexpr std::int64_t maxResyncBytes = 64 * 1024;

// sampling-frequency index: bits 5..2 of the third byte, i.e. xxRRRRxx
constexpr std::array<std::int32_t, 13> sampleRates = {
    96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
// channel configuration 7 is 7.1: eight channels
constexpr std::array<std::int32_t, 8> channelCounts = {0, 1, 2, 3, 4, 5, 6, 8};

} // namespace

std::optional<AdtsHeader> decodeAdtsHeader(std::span<const std::uint8_t> b)
{
    // sync 12 bits | id | layer 2 | protection absent | profile 2 | rate index 4 | private |
    // channels 3 | original | home | 2 copyright bits | frame length 13 | fullness 11 | blocks 2
    if (b.size() < headerSize || b[0] != 0xFF || (b[1] & 0xF6) != 0xF0)
        return std::nullopt;
    const unsigned rateIndex = (b[2] >> 2) & 0x0F;
    if (rateIndex >= sampleRates.size())
        return std::nullopt;
    AdtsHeader header;
    header.sampleRate = sampleRates[rateIndex];
    header.channels = channelCounts[((b[2] & 0x01) << 2) | (b[3] >> 6)];
    header.frameLength = ((b[3] & 0x03) << 11) | (b[4] << 3) | (b[5] >> 5);
    header.blocks = (b[6] & 0x03) + 1;
    const bool hasCrc = (b[1] & 0x01) == 0;
    if (header.frameLength < static_cast<std::int32_t>(headerSize + (hasCrc ? 2 : 0)))
        return std::nullopt;
    return header;
}

AudioTrack readAdts(ByteReader& file, const AudioReadOptions& options)
{
    AudioTrack track;
    track.tagsAreId3 = true;
    track.isVbr = false;
    if (!file.isOpen()) {
        track.addProblem("cannot be read");
        return track;
    }
    track.tags = readTrackTags(file, options.tagVersions, options.covers);
    std::int64_t start = 0;
    std::array<std::uint8_t, id3v2HeaderSize> id3Bytes{};
    file.seek(0);
    file.readData(id3Bytes);
    if (const auto id3 = decodeId3v2Header(id3Bytes))
        start = id3v2HeaderSize + id3->tagSize + ((id3->flags & id3v2FooterFlag) != 0 ? 10 : 0);
    const std::int64_t end = audioEndOf(file, start);

    SequentialBytes bytes(file, start, end);
    std::optional<AdtsHeader> first;
    std::int64_t blocks = 0;
    std::int32_t lastLength = -1;
    std::int64_t nextProgress = 0;
    std::int64_t resyncFrom = -1;
    while (bytes.ensure(headerSize) > 0) {
        if (options.progress && bytes.position() >= nextProgress) {
            if (!options.progress(bytes.position())) {
                track.stopped = true;
                return track;
            }
            nextProgress = bytes.position() + progressStep;
        }
        auto header = decodeAdtsHeader(std::span(bytes.data(), bytes.available()));
        if (header && first && header->sampleRate != first->sampleRate)
            header.reset();
        if (!header) {
            // Damage, or bytes that are no stream: the next frame is looked for a little way on.
            if (resyncFrom < 0) {
                resyncFrom = bytes.position();
                if (first)
                    track.addProblem("damaged frames");
            }
            if (bytes.position() - resyncFrom > maxResyncBytes) {
                if (!first)
                    break;
                track.addProblem("bytes behind the frames");
                break;
            }
            bytes.advance(1);
            continue;
        }
        if (bytes.position() + header->frameLength > end) {
            track.addProblem("truncated frame");
            break;
        }
        resyncFrom = -1;
        if (!first) {
            first = header;
            track.sampleRate = header->sampleRate;
            track.channels = header->channels;
            if (!options.walksStream)
                break;
        }
        blocks += header->blocks;
        track.payloadBytes += header->frameLength;
        if (lastLength >= 0 && lastLength != header->frameLength)
            track.isVbr = true;
        lastLength = header->frameLength;
        bytes.advance(header->frameLength);
    }
    if (!first) {
        track.addProblem("no ADTS frame found");
        return track;
    }
    if (options.walksStream) {
        track.durationTicks = blocks * samplesPerBlock;
        track.durationScale = first->sampleRate;
    }
    return track;
}

} // namespace tagrelay
