#include "mpeg/stream_end.h"

#include "mpeg/bitrate_tables.h"
#include "platform/byte_reader.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace tagrelay {

namespace {

constexpr std::int64_t id3v1Size = 128;
constexpr std::int64_t apeFooterSize = 32;
constexpr std::uint32_t apeHasHeaderBit = 31; // flags of the footer: a header of 32 bytes too
constexpr std::int64_t lyricsEndSize = 9;     // "LYRICS200"
constexpr std::int64_t lyricsSizeDigits = 6;  // the size of the tag in decimal, before the end

bool hasTextAt(ByteReader& file, std::int64_t offset, std::string_view text)
{
    if (offset < 0)
        return false;
    file.seek(offset);
    for (const char c : text) {
        if (file.readU8() != static_cast<std::uint8_t>(c))
            return false;
    }
    return true;
}

/// The start of an APEv2 tag that ends at end, or end when there is none.
std::int64_t apeTagStart(ByteReader& file, std::int64_t end)
{
    const std::int64_t footer = end - apeFooterSize;
    if (!hasTextAt(file, footer, "APETAGEX"))
        return end;
    file.seek(footer + 12);
    const std::int64_t size = file.readU32LittleEndian(); // items and footer
    file.skip(4);                                         // the item count
    const std::uint32_t flags = file.readU32LittleEndian();
    const std::int64_t start =
        end - size - (isBitSet(flags, apeHasHeaderBit) != 0 ? apeFooterSize : 0);
    return size >= apeFooterSize && start >= 0 ? start : end;
}

/// The start of a Lyrics3v2 tag that ends at end, or end when there is none.
std::int64_t lyricsTagStart(ByteReader& file, std::int64_t end)
{
    if (!hasTextAt(file, end - lyricsEndSize, "LYRICS200"))
        return end;
    file.seek(end - lyricsEndSize - lyricsSizeDigits);
    std::int64_t size = 0;
    for (std::int64_t i = 0; i < lyricsSizeDigits; ++i) {
        const std::uint8_t digit = file.readU8();
        if (digit < '0' || digit > '9')
            return end;
        size = size * 10 + (digit - '0');
    }
    const std::int64_t start = end - lyricsEndSize - lyricsSizeDigits - size;
    return start >= 0 && hasTextAt(file, start, "LYRICSBEGIN") ? start : end;
}

} // namespace

std::int64_t audioEndOf(ByteReader& file)
{
    // One read of the file's tail serves the looks at its tags and, mostly, at its last frame.
    constexpr std::int64_t tailSize = 4096;
    file.seek(std::max<std::int64_t>(0, file.size() - tailSize));
    (void)file.readU8();
    std::int64_t end = file.size();
    if (end >= id3v1Size && hasTextAt(file, end - id3v1Size, "TAG"))
        end -= id3v1Size;
    // Either order is met behind the frames.
    for (int tags = 0; tags < 2; ++tags) {
        std::int64_t start = apeTagStart(file, end);
        if (start == end)
            start = lyricsTagStart(file, end);
        if (start == end)
            break;
        end = start;
    }
    return end;
}

bool hasLastFrameAt(ByteReader& file, std::int64_t audioEnd, HeaderBytes stream)
{
    const MpegVersion version = versionOf(stream);
    const MpegLayer layer = layerOf(stream);
    const std::int32_t rate = sampleRateFor(version, sampleRateIndexOf(stream));
    constexpr int highestBitrateIndex = 14;
    const std::int64_t longest =
        frameLength(version, layer, bitrateFor(version, layer, highestBitrateIndex), rate, 1);
    if (longest <= 0 || audioEnd < 4)
        return false;
    const std::int64_t from = std::max<std::int64_t>(0, audioEnd - longest);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(audioEnd - from));
    file.seek(from);
    if (file.readData(bytes) != bytes.size())
        return false;
    for (std::size_t at = 0; at + 4 <= bytes.size(); ++at) {
        const HeaderBytes header{bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3]};
        if (!hasFrameSync(header) || versionOf(header) != version || layerOf(header) != layer
            || sampleRateIndexOf(header) != sampleRateIndexOf(stream))
            continue;
        const std::int64_t length =
            frameLength(version, layer, bitrateFor(version, layer, bitrateIndexOf(header)), rate,
                        paddingOf(header));
        if (length > 0 && from + static_cast<std::int64_t>(at) + length == audioEnd)
            return true;
    }
    return false;
}

} // namespace tagrelay
