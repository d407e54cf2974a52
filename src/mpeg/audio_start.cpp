#include "mpeg/audio_start.h"

#include "platform/byte_reader.h"
#include "tags/id3v2.h"

#include <algorithm>
#include <array>

namespace tagrelay {

namespace {

constexpr std::uint8_t footerFlagBit = 4; // ID3v2.4 header flags: %abcd0000, d = footer

/// Where the audio may begin: behind an ID3v2 tag of version 2, 3 or 4 at the start of the
/// file, whose bytes could otherwise pass for a frame sync (a cover picture is full of 0xFF
/// pairs). Only version 3 tags are read for their frames, but every version is skipped.
std::int64_t scanStartBehindTag(ByteReader& file)
{
    file.seek(0);
    std::array<std::uint8_t, id3v2HeaderSize> headerBytes{};
    file.readData(headerBytes);
    const auto header = decodeId3v2Header(headerBytes);
    if (!header || header->majorVersion < 2 || header->majorVersion > 4)
        return 0;
    std::int64_t start = id3v2HeaderSize + header->tagSize;
    if (header->majorVersion == 4 && isBitSet(header->flags, footerFlagBit))
        start += id3v2HeaderSize;
    return start;
}

/// True for the second byte of a frame sync: its three top bits are set.
constexpr bool isSyncSecondByte(std::uint8_t byte)
{
    return isBitSet(byte, 7) && isBitSet(byte, 6) && isBitSet(byte, 5);
}

} // namespace

std::int64_t findAudioStart(ByteReader& file)
{
    if (!file.isOpen())
        return -1;
    const std::int64_t start = scanStartBehindTag(file);
    file.seek(start);
    // A file with no frame near its start is no MP3 file: the search ends rather than read
    // gigabytes of something else. A cover behind a wrong tag size is far smaller than this.
    const std::int64_t end = std::min(file.size(), start + audioStartSearchLimit);
    // Each byte is looked at once, as a second byte after a 0xFF and as a possible first
    // byte, so 0xFF 0xFF counts as a sync, and a 0xFF as the very last byte ends the search.
    bool previousWasFF = false;
    while (file.position() < end) {
        const std::uint8_t byte = file.readU8();
        if (previousWasFF && isSyncSecondByte(byte))
            return file.position() - 2;
        previousWasFF = byte == 0xFF;
    }
    return -1;
}

} // namespace tagrelay
