#include "mpeg/audio_start.h"

#include "mpeg/bitrate_tables.h"
#include "mpeg/header_bits.h"
#include "mpeg/stream_end.h"
#include "platform/byte_reader.h"
#include "tags/id3v2.h"

#include <algorithm>
#include <array>

namespace tagrelay {

namespace {

constexpr std::uint8_t footerFlagBit = 4; // ID3v2.4 header flags: %abcd0000, d = footer

/// The end of an ID3v2 tag of version 2, 3 or 4 that starts at offset, its footer included
/// (which may lie beyond the file); 0 when none starts there.
std::int64_t tagEndAt(ByteReader& file, std::int64_t offset)
{
    file.seek(offset);
    std::array<std::uint8_t, id3v2HeaderSize> headerBytes{};
    file.readData(headerBytes);
    const auto header = decodeId3v2Header(headerBytes);
    if (!header || header->majorVersion < 2 || header->majorVersion > 4)
        return 0;
    std::int64_t end = offset + id3v2HeaderSize + header->tagSize;
    if (header->majorVersion == 4 && isBitSet(header->flags, footerFlagBit))
        end += id3v2HeaderSize;
    return end;
}

/// True for the second byte of a frame sync: its three top bits are set.
constexpr bool isSyncSecondByte(std::uint8_t byte)
{
    return isBitSet(byte, 7) && isBitSet(byte, 6) && isBitSet(byte, 5);
}

/// A header that gives its frame's length: a known version and layer, a bitrate from the
/// tables (not free format, not the forbidden index) and a sampling rate.
bool isTimedHeader(HeaderBytes header)
{
    const MpegVersion version = versionOf(header);
    return hasFrameSync(header) && hasBitrateTable(version, layerOf(header))
           && bitrateFor(version, layerOf(header), bitrateIndexOf(header)) > 0
           && sampleRateFor(version, sampleRateIndexOf(header)) != 0;
}

/// A free-format header: a known version and layer and a sampling rate, but bitrate index 0,
/// so that only the distance to the next header tells the frame's length.
bool isFreeFormatHeader(HeaderBytes header)
{
    const MpegVersion version = versionOf(header);
    return hasFrameSync(header) && hasBitrateTable(version, layerOf(header))
           && bitrateIndexOf(header) == 0 && sampleRateFor(version, sampleRateIndexOf(header)) != 0;
}

/// The longest free-format frame looked for: 640 kbit/s in layer 3 of MPEG 2.5 at 8 kHz takes
/// 5761 bytes, every other free-format frame less.
constexpr std::int64_t longestFreeFormatFrame = 5761;

bool isSameStream(HeaderBytes a, HeaderBytes b)
{
    return versionOf(a) == versionOf(b) && layerOf(a) == layerOf(b)
           && sampleRateIndexOf(a) == sampleRateIndexOf(b);
}

std::int64_t lengthOf(HeaderBytes header)
{
    const MpegVersion version = versionOf(header);
    const MpegLayer layer = layerOf(header);
    return frameLength(version, layer, bitrateFor(version, layer, bitrateIndexOf(header)),
                       sampleRateFor(version, sampleRateIndexOf(header)), paddingOf(header));
}

/// The search's view of the file's end: where the audio ends before the tags there, looked up
/// once and only when a run of frames reaches that far.
class AudioEnd
{
  public:
    explicit AudioEnd(ByteReader& file) : m_file(file) {}

    /// True when offset is where the audio of the file ends.
    bool isAt(std::int64_t offset)
    {
        if (offset == m_file.size())
            return true;
        if (m_end < 0)
            m_end = audioEndOf(m_file);
        return offset == m_end;
    }

  private:
    ByteReader& m_file;
    std::int64_t m_end = -1;
};

/// The run of frames of startsStream for a free-format header: the next header of the stream found
/// behind it gives the frames' length without the padding slot, and the headers after it must
/// follow at that length.
bool startsFreeFormatStream(ByteReader& file, std::int64_t start, HeaderBytes first, AudioEnd& end)
{
    const auto isOfStream = [&](HeaderBytes header) {
        return isFreeFormatHeader(header) && isSameStream(header, first);
    };
    std::int64_t at = start + 4;
    const std::int64_t last = std::min(file.size() - 4, start + longestFreeFormatFrame);
    HeaderBytes header;
    for (; at <= last; ++at) {
        file.seek(at);
        header = headerBytesOf(file.readU32BigEndian());
        if (isOfStream(header))
            break;
    }
    if (at > last)
        return false;
    const std::int64_t slot = layerOf(first) == MpegLayer::Layer1 ? 4 : 1;
    const std::int64_t unpadded = at - start - slot * paddingOf(first);
    for (int followed = 1; followed < followingFramesNeeded; ++followed) {
        at += unpadded + slot * paddingOf(header);
        if (at + 4 > file.size())
            return at <= file.size();
        file.seek(at);
        header = headerBytesOf(file.readU32BigEndian());
        if (!isOfStream(header))
            return end.isAt(at);
    }
    return true;
}

/// Whether a free-format header may start the stream. Its run is told by a search of its own,
/// which only the first sync the search meets is worth: where the stream starts at once.
enum class FreeFormat { Looked, NotLooked };

/// True when the header at start is followed by followingFramesNeeded headers of its stream,
/// each where the frame before it ends. A run that reaches the end of the audio first is
/// enough: a last frame that ends where the audio does or leaves too little for a header, or,
/// behind at least one such header, a frame cut by the end of the file.
bool startsStream(ByteReader& file, std::int64_t start, HeaderBytes first, AudioEnd& end,
                  FreeFormat freeFormat)
{
    if (isFreeFormatHeader(first))
        return freeFormat == FreeFormat::Looked && startsFreeFormatStream(file, start, first, end);
    if (!isTimedHeader(first))
        return false;
    std::int64_t at = start;
    HeaderBytes header = first;
    for (int followed = 0; followed < followingFramesNeeded; ++followed) {
        at += lengthOf(header);
        if (at > file.size())
            return followed > 0;
        if (at + 4 > file.size())
            return true;
        file.seek(at);
        header = headerBytesOf(file.readU32BigEndian());
        if (!isTimedHeader(header) || !isSameStream(header, first))
            return end.isAt(at);
    }
    return true;
}

std::int64_t searchFrom(ByteReader& file, std::int64_t from)
{
    AudioEnd audioEnd(file);
    // A file with no frame near its start is no MP3 file: the search ends rather than read
    // gigabytes of something else. Junk between a tag and the audio, or a cover behind a
    // tag's wrong size, is far smaller than this; a further tag is skipped, not searched.
    std::int64_t end = std::min(file.size(), from + audioStartSearchLimit);
    file.seek(from);
    // Each byte is looked at once, as a second byte after a 0xFF and as a possible first
    // byte, so 0xFF 0xFF counts as a sync, and a 0xFF as the very last byte ends the search.
    bool previousWasFF = false;
    FreeFormat freeFormat = FreeFormat::Looked;
    while (file.position() < end) {
        const std::int64_t at = file.position();
        const std::uint8_t byte = file.readU8();
        if (previousWasFF && isSyncSecondByte(byte)) {
            file.seek(at - 1);
            if (startsStream(file, at - 1, headerBytesOf(file.readU32BigEndian()), audioEnd,
                             freeFormat))
                return at - 1;
            freeFormat = FreeFormat::NotLooked;
            file.seek(at + 1);
        } else if (byte == 'I') {
            // Taggers that do not read the tag already there put theirs in front of it.
            const std::int64_t tagEnd = tagEndAt(file, at);
            if (tagEnd > at && tagEnd <= file.size()) {
                end = std::min(file.size(), end + (tagEnd - at));
                file.seek(tagEnd);
                previousWasFF = false;
                continue;
            }
            file.seek(at + 1);
        }
        previousWasFF = byte == 0xFF;
    }
    return -1;
}

} // namespace

std::int64_t findFrameFrom(ByteReader& file, std::int64_t from)
{
    if (!file.isOpen() || from < 0)
        return -1;
    return searchFrom(file, from);
}

std::int64_t findAudioStart(ByteReader& file)
{
    if (!file.isOpen())
        return -1;
    // Behind an ID3v2 tag at the start of the file, whose bytes could otherwise pass for
    // frames (a cover picture is full of 0xFF pairs). Only version 3 tags are read for their
    // frames, but every version is skipped; one whose size runs past the end leaves nothing.
    return searchFrom(file, tagEndAt(file, 0));
}

} // namespace tagrelay
