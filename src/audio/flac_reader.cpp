#include "audio/flac_reader.h"

#include "audio/sequential_bytes.h"
#include "audio/vorbis_comment.h"
#include "platform/byte_reader.h"
#include "tags/id3v2.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace tagrelay {

namespace {

constexpr std::uint8_t id3v2FooterFlag = 0x10;
constexpr std::size_t streamInfoSize = 34;
constexpr int maxMetadataBlocks = 4096;
/// A frame header is at most 16 bytes: 2 sync, 2 codes, 7 number, 2 block size, 2 rate, 1 CRC.
constexpr std::size_t maxFrameHeaderSize = 16;
/// Frames missing between two found ones that still count as the same stream (a damaged one).
constexpr std::uint64_t maxFramesSkipped = 16;

enum BlockType : std::uint8_t { streamInfoBlock = 0, commentBlock = 4, pictureBlock = 6 };

constexpr std::array<std::uint8_t, 256> crc8Table = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1;
        table[i] = static_cast<std::uint8_t>(crc);
    }
    return table;
}();

/// CRC-16 of a whole frame (polynomial 0x8005, as FLAC's frame footer holds it), eight bytes
/// at a time: table k gives the CRC of a byte followed by k zero bytes.
constexpr std::array<std::array<std::uint16_t, 256>, 8> crc16Tables = [] {
    std::array<std::array<std::uint16_t, 256>, 8> tables{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) != 0 ? (crc << 1) ^ 0x8005 : crc << 1;
        tables[0][i] = static_cast<std::uint16_t>(crc);
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (unsigned i = 0; i < 256; ++i) {
            const unsigned previous = tables[k - 1][i];
            tables[k][i] = static_cast<std::uint16_t>((previous << 8) ^ tables[0][previous >> 8]);
        }
    }
    return tables;
}();

std::uint16_t flacCrc16(std::span<const std::uint8_t> bytes)
{
    unsigned crc = 0;
    std::size_t at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
        const std::uint8_t* b = bytes.data() + at;
        crc = crc16Tables[7][b[0] ^ (crc >> 8)] ^ crc16Tables[6][b[1] ^ (crc & 0xFF)]
              ^ crc16Tables[5][b[2]] ^ crc16Tables[4][b[3]] ^ crc16Tables[3][b[4]]
              ^ crc16Tables[2][b[5]] ^ crc16Tables[1][b[6]] ^ crc16Tables[0][b[7]];
    }
    for (; at < bytes.size(); ++at)
        crc = ((crc << 8) ^ crc16Tables[0][((crc >> 8) ^ bytes[at]) & 0xFF]) & 0xFFFF;
    return static_cast<std::uint16_t>(crc);
}

/// The most bytes at the stream's end looked through for its last frame.
constexpr std::int64_t maxTailBytes = 1024 * 1024;

/// The block size of code bits 7..4 of the third header byte; 0 for reserved, and for 6 and 7
/// (the size follows the number).
constexpr std::uint32_t codedBlockSize(unsigned code)
{
    if (code == 1)
        return 192;
    if (code >= 2 && code <= 5)
        return 576u << (code - 2);
    if (code >= 8)
        return 256u << (code - 8);
    return 0;
}

struct StreamInfo
{
    std::uint32_t minBlock = 0;
    std::uint32_t maxBlock = 0;
    std::uint32_t minFrame = 0;
    std::uint32_t maxFrame = 0;
    std::uint32_t rate = 0;
    std::uint32_t channels = 0;
    std::uint64_t totalSamples = 0;
};

StreamInfo decodeStreamInfo(const std::array<std::uint8_t, streamInfoSize>& b)
{
    StreamInfo info;
    info.minBlock = (b[0] << 8) | b[1];
    info.maxBlock = (b[2] << 8) | b[3];
    info.minFrame = (std::uint32_t{b[4]} << 16) | (b[5] << 8) | b[6];
    info.maxFrame = (std::uint32_t{b[7]} << 16) | (b[8] << 8) | b[9];
    // rate 20 bits | channels - 1: 3 bits | bits per sample - 1: 5 bits | total samples: 36 bits
    info.rate = (std::uint32_t{b[10]} << 12) | (b[11] << 4) | (b[12] >> 4);
    info.channels = ((b[12] >> 1) & 0x07u) + 1;
    info.totalSamples = std::uint64_t{b[13] & 0x0Fu} << 32;
    for (std::size_t i = 14; i < 18; ++i)
        info.totalSamples |= std::uint64_t{b[i]} << (8 * (17 - i));
    return info;
}

/// Counts the samples of the frames from start to end: a frame is a sync whose header's CRC
/// holds and whose number follows the last frame's, so a sync-like pair of bytes inside a
/// frame's data is not taken for one.
std::uint64_t countFrameSamples(ByteReader& file, std::int64_t start, std::int64_t end,
                                const AudioReadOptions& options, AudioTrack& track)
{
    SequentialBytes bytes(file, start, end);
    std::uint64_t samples = 0;
    std::optional<FlacFrameHeader> last;
    std::int64_t nextProgress = start;
    while (bytes.ensure(maxFrameHeaderSize) >= 2) {
        if (options.progress && bytes.position() >= nextProgress) {
            if (!options.progress(bytes.position())) {
                track.stopped = true;
                return samples;
            }
            nextProgress = bytes.position() + 4 * 1024 * 1024;
        }
        const std::size_t scanned = bytes.available() - 1;
        const auto* at = static_cast<const std::uint8_t*>(std::memchr(bytes.data(), 0xFF, scanned));
        if (at == nullptr) {
            bytes.advance(static_cast<std::int64_t>(scanned));
            continue;
        }
        bytes.advance(at - bytes.data());
        bytes.ensure(maxFrameHeaderSize);
        const auto header =
            decodeFlacFrameHeader(std::span<const std::uint8_t>(bytes.data(), bytes.available()));
        if (!header) {
            bytes.advance(1);
            continue;
        }
        bool follows = !last;
        if (last && header->variableBlocks == last->variableBlocks) {
            const std::uint64_t step = header->variableBlocks ? last->blockSize : 1;
            const std::uint64_t expected = last->number + step;
            follows = header->number == expected;
            if (!follows && header->number > expected
                && header->number <= expected + maxFramesSkipped * step) {
                track.addProblem("damaged frames");
                follows = true;
            }
        }
        if (!follows) {
            bytes.advance(1);
            continue;
        }
        samples += header->blockSize;
        last = header;
        bytes.advance(static_cast<std::int64_t>(header->length));
    }
    if (!last)
        track.addProblem("no audio frames");
    return samples;
}

/// Whether the frames run to the stated end: the last frame, found from the end as the header
/// whose frame's CRC-16 holds up to the stream's last byte, is whole and ends at the stream's
/// total samples. A file cut short loses its last frame's end, or whole frames.
bool endsWithLastFrame(ByteReader& file, std::int64_t start, std::int64_t end,
                       const StreamInfo& info)
{
    const std::int64_t frameRoom =
        info.maxFrame != 0 ? std::int64_t{info.maxFrame} + 16 : maxTailBytes;
    const std::int64_t tailStart = std::max(start, end - std::min(frameRoom, maxTailBytes));
    file.seek(tailStart);
    const std::vector<std::uint8_t> tail = file.readBytes(end - tailStart);
    if (tail.size() < 2)
        return false;
    const std::size_t footer = tail.size() - 2;
    const std::uint16_t stored = static_cast<std::uint16_t>((tail[footer] << 8) | tail[footer + 1]);
    for (std::size_t at = footer; at-- > 0;) {
        if (tail[at] != 0xFF || (tail[at + 1] & 0xFE) != 0xF8)
            continue;
        const auto header = decodeFlacFrameHeader(std::span(tail).subspan(at));
        if (!header)
            continue;
        if (flacCrc16(std::span(tail).subspan(at, footer - at)) != stored)
            continue;
        const std::uint64_t first =
            header->variableBlocks ? header->number : header->number * info.maxBlock;
        return first + header->blockSize == info.totalSamples;
    }
    return false;
}

} // namespace

std::optional<FlacFrameHeader> decodeFlacFrameHeader(std::span<const std::uint8_t> b)
{
    if (b.size() < 6 || b[0] != 0xFF || (b[1] & 0xFE) != 0xF8)
        return std::nullopt;
    FlacFrameHeader header;
    header.variableBlocks = (b[1] & 0x01) != 0;
    const unsigned blockCode = b[2] >> 4;
    const unsigned rateCode = b[2] & 0x0F;
    const unsigned channelCode = b[3] >> 4;
    const unsigned sizeCode = (b[3] >> 1) & 0x07;
    if (blockCode == 0 || rateCode == 15 || channelCode > 10 || sizeCode == 3 || (b[3] & 1) != 0)
        return std::nullopt;
    // The number, coded like UTF-8 up to seven bytes (36 bits).
    std::size_t at = 4;
    const std::uint8_t lead = b[at++];
    int more = 0;
    std::uint64_t number = 0;
    if (lead < 0x80) {
        number = lead;
    } else if (lead >= 0xC0 && lead != 0xFF) {
        while ((lead << (more + 1)) & 0x80)
            ++more;
        number = lead & (0x3Fu >> more);
    } else {
        return std::nullopt;
    }
    for (int i = 0; i < more; ++i) {
        if (at >= b.size() || (b[at] & 0xC0) != 0x80)
            return std::nullopt;
        number = (number << 6) | (b[at++] & 0x3Fu);
    }
    header.number = number;
    header.blockSize = codedBlockSize(blockCode);
    const std::size_t extraBlock = blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0;
    const std::size_t extraRate = rateCode == 12 ? 1 : rateCode >= 13 ? 2 : 0;
    if (at + extraBlock + extraRate + 1 > b.size())
        return std::nullopt;
    if (extraBlock == 1)
        header.blockSize = b[at] + 1u;
    else if (extraBlock == 2)
        header.blockSize = ((b[at] << 8) | b[at + 1]) + 1u;
    at += extraBlock + extraRate;
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < at; ++i)
        crc = crc8Table[crc ^ b[i]];
    if (crc != b[at])
        return std::nullopt;
    header.length = at + 1;
    return header;
}

AudioTrack readFlac(ByteReader& file, const AudioReadOptions& options)
{
    AudioTrack track;
    if (!file.isOpen()) {
        track.addProblem("cannot be read");
        return track;
    }
    std::int64_t start = 0;
    std::array<std::uint8_t, id3v2HeaderSize> id3Bytes{};
    file.seek(0);
    file.readData(id3Bytes);
    if (const auto id3 = decodeId3v2Header(id3Bytes))
        start = id3v2HeaderSize + id3->tagSize + ((id3->flags & id3v2FooterFlag) != 0 ? 10 : 0);
    file.seek(start);
    std::array<std::uint8_t, 4> marker{};
    file.readData(marker);
    if (std::memcmp(marker.data(), "fLaC", 4) != 0) {
        track.addProblem("no FLAC stream marker");
        return track;
    }

    std::optional<StreamInfo> info;
    bool metadataEnds = false;
    for (int i = 0; i < maxMetadataBlocks && !metadataEnds; ++i) {
        std::array<std::uint8_t, 4> head{};
        if (file.readData(head) < head.size()) {
            track.addProblem("truncated metadata");
            return track;
        }
        metadataEnds = (head[0] & 0x80) != 0;
        const auto type = static_cast<std::uint8_t>(head[0] & 0x7F);
        const std::int64_t length = (std::int64_t{head[1]} << 16) | (head[2] << 8) | head[3];
        const std::int64_t blockStart = file.position();
        if (blockStart + length > file.size()) {
            track.addProblem("truncated metadata block");
            return track;
        }
        if (type == streamInfoBlock && length >= static_cast<std::int64_t>(streamInfoSize)
            && !info) {
            std::array<std::uint8_t, streamInfoSize> bytes{};
            file.readData(bytes);
            info = decodeStreamInfo(bytes);
        } else if (type == commentBlock && length <= maxHeldBlockBytes) {
            if (!readVorbisComment(file.readBytes(length), options.covers, track.tags))
                track.addProblem("damaged Vorbis comment block");
        } else if (type == pictureBlock && options.covers == CoverBytes::Keep
                   && track.tags.coverFrame.empty() && length <= maxCoverFrameBytes) {
            takeFrontCover(file.readBytes(length), track.tags);
        } else if (type == 127) {
            track.addProblem("invalid metadata block");
        }
        file.seek(blockStart + length);
    }
    if (!metadataEnds)
        track.addProblem("too many metadata blocks");

    const std::int64_t audioStart = file.position();
    const std::int64_t audioEnd = audioEndOf(file, audioStart);
    track.payloadBytes = audioEnd - audioStart;
    if (!info) {
        track.addProblem("no STREAMINFO block");
        return track;
    }
    track.sampleRate = static_cast<std::int32_t>(info->rate);
    track.channels = static_cast<std::int32_t>(info->channels);
    track.isVbr = !(info->minFrame != 0 && info->minFrame == info->maxFrame);
    if (info->rate == 0)
        track.addProblem("no sample rate");
    file.seek(audioStart);
    std::array<std::uint8_t, maxFrameHeaderSize> first{};
    const std::size_t got = file.readData(first);
    if (track.payloadBytes == 0 || !decodeFlacFrameHeader(std::span(first).first(got)))
        track.addProblem("no audio frame behind the metadata");

    std::uint64_t samples = info->totalSamples;
    // The stream states its length: what is there is checked at its end alone.
    if (samples > 0 && track.payloadBytes > 0 && track.problems.empty()
        && !endsWithLastFrame(file, audioStart, audioEnd, *info))
        track.addProblem("cut short, its frames end early");
    if (samples == 0 && track.payloadBytes > 0) {
        if (!options.walksStream)
            return track;
        samples = countFrameSamples(file, audioStart, audioEnd, options, track);
    }
    if (info->rate > 0) {
        track.durationTicks = static_cast<std::int64_t>(samples);
        track.durationScale = info->rate;
    }
    return track;
}

} // namespace tagrelay
