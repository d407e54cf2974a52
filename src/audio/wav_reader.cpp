#include "audio/wav_reader.h"

#include "audio/vorbis_comment.h"
#include "platform/byte_reader.h"
#include "tags/id3v2.h"
#include "tags/tag_text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>

namespace tagrelay {

namespace {

constexpr int maxChunks = 10000;
constexpr std::uint16_t pcmFormat = 1;
constexpr std::uint16_t floatFormat = 3;
constexpr std::uint16_t extensibleFormat = 0xFFFE;
constexpr std::uint32_t sizeInDs64 = 0xFFFFFFFF;

using ChunkId = std::array<char, 4>;

bool isId(const ChunkId& id, std::string_view name)
{
    return std::memcmp(id.data(), name.data(), 4) == 0;
}

ChunkId readId(ByteReader& file)
{
    ChunkId id{};
    file.readData(std::span(reinterpret_cast<std::uint8_t*>(id.data()), id.size()));
    return id;
}

std::uint16_t readU16(ByteReader& file)
{
    const std::uint8_t low = file.readU8();
    return static_cast<std::uint16_t>(low | (file.readU8() << 8));
}

std::uint64_t readU64(ByteReader& file)
{
    const std::uint64_t low = file.readU32LittleEndian();
    return low | (std::uint64_t{file.readU32LittleEndian()} << 32);
}

struct Format
{
    std::uint16_t tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint32_t byteRate = 0;
    std::uint16_t blockAlign = 0;
};

Format readFormat(ByteReader& file, std::int64_t size)
{
    Format format;
    format.tag = readU16(file);
    format.channels = readU16(file);
    format.rate = file.readU32LittleEndian();
    format.byteRate = file.readU32LittleEndian();
    format.blockAlign = readU16(file);
    if (format.tag == extensibleFormat && size >= 26) {
        file.skip(2 + 2 + 2 + 4);   // bits, extension size, valid bits, channel mask
        format.tag = readU16(file); // the first two bytes of the sub-format GUID
    }
    return format;
}

/// An INFO text: its bytes up to the first zero, as UTF-8 when they are valid UTF-8.
std::string infoText(const std::vector<std::uint8_t>& bytes)
{
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    const std::span<const std::uint8_t> text(bytes.data(),
                                             static_cast<std::size_t>(end - bytes.begin()));
    if (isValidUtf8(text))
        return utf8TagText(text);
    return latin1TagText(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
}

void readInfoList(ByteReader& file, std::int64_t end, TrackTags& tags)
{
    for (int i = 0; i < maxChunks && file.position() + 8 <= end; ++i) {
        const ChunkId id = readId(file);
        const std::int64_t size = file.readU32LittleEndian();
        const std::int64_t next = file.position() + size + (size & 1);
        std::string* field = isId(id, "IART")   ? &tags.artist
                             : isId(id, "IPRD") ? &tags.album
                             : isId(id, "INAM") ? &tags.title
                             : isId(id, "IGNR") ? &tags.genre
                                                : nullptr;
        if (field != nullptr)
            *field =
                infoText(file.readBytes(std::min({size, end - file.position(), maxTextBytes})));
        file.seek(next);
    }
}

} // namespace

AudioTrack readWav(ByteReader& file, const AudioReadOptions& options)
{
    AudioTrack track;
    track.isVbr = false;
    if (!file.isOpen()) {
        track.addProblem("cannot be read");
        return track;
    }
    file.seek(0);
    const ChunkId riff = readId(file);
    const bool isRf64 = isId(riff, "RF64");
    file.skip(4);
    const ChunkId wave = readId(file);
    if ((!isId(riff, "RIFF") && !isRf64) || !isId(wave, "WAVE")) {
        track.addProblem("no RIFF WAVE header");
        return track;
    }
    std::optional<Format> format;
    std::optional<std::int64_t> dataBytes;
    std::optional<std::uint64_t> factSamples;
    std::uint64_t ds64Data = 0;
    std::uint64_t ds64Samples = 0;
    TrackTags info;
    std::optional<TrackTags> id3;
    for (int i = 0; i < maxChunks && file.position() + 8 <= file.size(); ++i) {
        const ChunkId id = readId(file);
        const std::uint32_t statedSize = file.readU32LittleEndian();
        const std::int64_t start = file.position();
        std::int64_t size = statedSize;
        if (isRf64 && statedSize == sizeInDs64 && isId(id, "data"))
            size = static_cast<std::int64_t>(std::min<std::uint64_t>(ds64Data, INT64_MAX / 2));
        if (start + size > file.size()) {
            if (!(isId(id, "data") && statedSize == sizeInDs64 && !isRf64))
                track.addProblem(isId(id, "data") ? "truncated data chunk" : "truncated chunk");
            size = file.size() - start;
        }
        if (isId(id, "ds64") && size >= 24) {
            file.skip(8); // the RIFF size
            ds64Data = readU64(file);
            ds64Samples = readU64(file);
        } else if (isId(id, "fmt ") && size >= 16 && !format) {
            format = readFormat(file, size);
        } else if (isId(id, "data") && !dataBytes) {
            dataBytes = size;
        } else if (isId(id, "fact") && size >= 4 && !factSamples) {
            factSamples = file.readU32LittleEndian();
            if (isRf64 && *factSamples == sizeInDs64)
                factSamples = ds64Samples;
        } else if (isId(id, "LIST") && size >= 4) {
            if (isId(readId(file), "INFO"))
                readInfoList(file, start + size, info);
        } else if ((isId(id, "id3 ") || isId(id, "ID3 ")) && !id3) {
            id3 = readId3v2TagAt(file, start, options.tagVersions, options.covers);
        }
        file.seek(start + size + (size & 1));
    }

    track.tags = info;
    if (id3) {
        // The ID3 tag wins over INFO: each field it has replaces INFO's.
        for (auto field :
             {&TrackTags::artist, &TrackTags::album, &TrackTags::title, &TrackTags::genre})
            if (!((*id3).*field).empty())
                track.tags.*field = (*id3).*field;
        track.tags.coverFrame = std::move(id3->coverFrame);
        track.tags.coverPictureStart = id3->coverPictureStart;
        track.tagsAreId3 = !id3->genre.empty();
    }
    if (!format) {
        track.addProblem("no fmt chunk");
        return track;
    }
    track.sampleRate = static_cast<std::int32_t>(std::min<std::uint32_t>(format->rate, INT32_MAX));
    track.channels = format->channels;
    if (!dataBytes) {
        track.addProblem("no data chunk");
        return track;
    }
    track.payloadBytes = *dataBytes;
    if (format->rate == 0) {
        track.addProblem("no sample rate");
        return track;
    }
    const bool isPlain = format->tag == pcmFormat || format->tag == floatFormat;
    if (isPlain && format->blockAlign > 0) {
        track.durationTicks = *dataBytes / format->blockAlign;
        track.durationScale = format->rate;
    } else if (!isPlain && factSamples) {
        track.durationTicks =
            static_cast<std::int64_t>(std::min<std::uint64_t>(*factSamples, INT64_MAX / 2));
        track.durationScale = format->rate;
    } else if (format->byteRate > 0) {
        track.durationTicks = *dataBytes;
        track.durationScale = format->byteRate;
    } else {
        track.addProblem("no block align");
    }
    return track;
}

} // namespace tagrelay
