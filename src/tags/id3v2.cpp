#include "tags/id3v2.h"

#include "platform/byte_reader.h"
#include "platform/codepage.h"
#include "tags/cover.h"
#include "tags/id3v1.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tagrelay {

namespace {

constexpr std::uint8_t latin1Encoding = 0;

/// The most of one text a tag gives: a title of a hundred megabytes is cut here, and the rest
/// of its frame is skipped without being held.
constexpr std::int64_t maxTextBytes = 64 * 1024;
/// The largest cover picture frame taken; a larger one is passed over as no cover.
constexpr std::int64_t maxCoverFrameBytes = 16 * 1024 * 1024;
constexpr std::uint8_t utf16Encoding = 1;

/// The record field a text frame fills, or none for a frame the descriptions do not use.
std::string* textFieldFor(std::string_view frameId, TrackTags& facts)
{
    if (frameId == "TIT2")
        return &facts.title;
    if (frameId == "TPE1")
        return &facts.artist;
    if (frameId == "TALB")
        return &facts.album;
    if (frameId == "TYER")
        return &facts.year;
    if (frameId == "TCON")
        return &facts.genre;
    if (frameId == "TCOP")
        return &facts.rightsNotice;
    if (frameId == "TRCK")
        return &facts.track;
    return nullptr;
}

/// Bytes up to the first zero, as a view of the same characters.
std::string_view untilFirstZero(std::span<const std::uint8_t> bytes)
{
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return {reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::size_t>(end - bytes.begin())};
}

/// UTF-16 text behind its byte-order mark, up to the first zero unit. FE FF marks big-endian
/// text; taggers write both orders, and the little-endian one is by far the more common, so
/// any other mark is read as little-endian. A trailing odd byte is no unit.
std::string utf16Text(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 2)
        return {};
    const bool bigEndian = bytes[0] == 0xFE && bytes[1] == 0xFF;
    std::vector<std::uint16_t> units;
    units.reserve((bytes.size() - 2) / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto unit = static_cast<std::uint16_t>(bigEndian ? (bytes[i] << 8) | bytes[i + 1]
                                                               : bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0)
            break;
        units.push_back(unit);
    }
    return utf16ToLocale(units);
}

/// The text of a text frame: the bytes behind its encoding byte, decoded by that byte.
std::string frameText(std::uint8_t encoding, std::span<const std::uint8_t> bytes)
{
    if (encoding == latin1Encoding)
        return latin1ToLocale(untilFirstZero(bytes));
    if (encoding == utf16Encoding)
        return utf16Text(bytes);
    return {};
}

/// Reads the count bytes behind the position, but never more than the file still holds: a
/// frame that claims more than is there (a hostile 2 GiB size in a small file) gets only
/// what is there. The missing rest would read as zeros, and a zero ends every text, so one
/// zero in its place gives the same text.
std::vector<std::uint8_t> readFrameBytes(ByteReader& file, std::int64_t count)
{
    std::vector<std::uint8_t> bytes = file.readBytes(count);
    if (static_cast<std::int64_t>(bytes.size()) < count)
        bytes.push_back(0);
    return bytes;
}

using FrameId = std::array<char, 4>;

FrameId readFrameId(ByteReader& file)
{
    FrameId id{};
    for (char& c : id)
        c = static_cast<char>(file.readU8());
    return id;
}

/// Hands one frame, positioned at its first data byte, to the reader that knows its id. The
/// frame's size has been cut to what lies inside the tag.
void dispatchFrame(ByteReader& file, std::string_view id, std::int32_t frameSize, TrackTags& facts)
{
    if (textFieldFor(id, facts) != nullptr)
        readTextFrame(file, id, frameSize, facts);
    else if (id == "WXXX")
        readLinkFrame(file, id, frameSize, facts);
    else if (id == "APIC") {
        // A later front cover replaces an earlier one, even when its picture turns out to
        // be undecodable.
        if (frameSize > maxCoverFrameBytes)
            return;
        std::vector<std::uint8_t> data = file.readBytes(frameSize);
        const auto frame = readPictureFrame(data);
        if (frame && isFrontCoverFrame(*frame))
            facts.coverFrame = std::move(data);
    }
}

} // namespace

std::optional<Id3v2Header> decodeId3v2Header(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < static_cast<std::size_t>(id3v2HeaderSize) || bytes[0] != 'I'
        || bytes[1] != 'D' || bytes[2] != '3')
        return std::nullopt;
    Id3v2Header header;
    header.majorVersion = bytes[3];
    header.flags = bytes[5];
    for (std::size_t i = 6; i < 10; ++i)
        header.tagSize = header.tagSize * 128 + bytes[i];
    return header;
}

TrackTags readTrackTags(ByteReader& file)
{
    TrackTags tags;
    if (!file.isOpen())
        return tags;
    // ID3v1 first, so that every frame of an ID3v2.3 tag replaces the value of its field.
    readId3v1Tag(file, tags);
    readId3v2Tag(file, tags);
    return tags;
}

int readId3v2Tag(ByteReader& file, TrackTags& facts)
{
    if (!file.isOpen())
        return 0;
    file.seek(0);
    std::array<std::uint8_t, id3v2HeaderSize> headerBytes{};
    file.readData(headerBytes);
    const auto header = decodeId3v2Header(headerBytes);
    if (!header || header->majorVersion != 3)
        return 0;

    // The sum counts the frames' data sizes only, without their headers, so the walk may
    // go on behind the last frame of a tag without padding; what it meets there ends it
    // the same way (a zero id, a size below 1, the end of the file) or is skipped.
    std::int64_t frameSizeSum = 0;
    const std::int64_t tagEnd = id3v2HeaderSize + header->tagSize;
    for (;;) {
        const FrameId id = readFrameId(file);
        if (id[0] == 0)
            return 1;
        const auto frameSize = static_cast<std::int32_t>(file.readU32BigEndian());
        frameSizeSum += frameSize;
        file.skip(2); // flags: compressed, encrypted or grouped frames are read as they are
        if (frameSize < 1)
            return 0;
        const std::int64_t nextFrame = file.position() + frameSize;
        // A frame that starts inside the tag never reads past the tag's end into the audio
        // behind it. (Frames the walk meets behind the tag, where the data sizes have not
        // yet reached the tag size, are read as they stand.)
        std::int64_t readable = frameSize;
        if (file.position() < tagEnd)
            readable = std::min<std::int64_t>(frameSize, tagEnd - file.position());
        dispatchFrame(file, std::string_view(id.data(), id.size()),
                      static_cast<std::int32_t>(readable), facts);
        file.seek(nextFrame); // a frame running past the end of the file ends at the end
        if (frameSizeSum >= header->tagSize)
            return 0;
    }
}

int readTextFrame(ByteReader& file, std::string_view frameId, std::int32_t frameSize,
                  TrackTags& facts)
{
    std::string* field = textFieldFor(frameId, facts);
    if (field == nullptr)
        return 0;
    const std::uint8_t encoding = file.readU8();
    const std::int64_t textLength = static_cast<std::int64_t>(frameSize) - 1;
    if (textLength < 1)
        return 0;
    *field = frameText(encoding, readFrameBytes(file, std::min(textLength, maxTextBytes)));
    return 1;
}

int readLinkFrame(ByteReader& file, std::string_view /*frameId*/, std::int32_t frameSize,
                  TrackTags& facts)
{
    file.readU8(); // the encoding: the description is taken byte by byte whatever it says
    const std::int64_t dataLength = static_cast<std::int64_t>(frameSize) - 1;
    if (dataLength < 1)
        return 0;
    facts.linkDescription =
        latin1ToLocale(untilFirstZero(readFrameBytes(file, std::min(dataLength, maxTextBytes))));
    return 1;
}

} // namespace tagrelay
