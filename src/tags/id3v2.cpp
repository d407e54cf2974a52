#include "tags/id3v2.h"

#include "platform/byte_reader.h"
#include "platform/codepage.h"
#include "tags/genres.h"
#include "tags/id3v1.h"
#include "tags/id3v2_versions.h"
#include "tags/picture_frame.h"
#include "tags/tag_text.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tagrelay {

namespace {

constexpr std::uint8_t latin1Encoding = 0;
constexpr std::uint8_t utf16Encoding = 1;

/// The text of a text frame: the bytes behind its encoding byte, decoded by that byte. An
/// ID3v2.3 tag knows ISO-8859-1 and UTF-16 only; any other encoding gives the empty text.
std::string frameText(std::uint8_t encoding, std::span<const std::uint8_t> bytes)
{
    if (encoding > utf16Encoding)
        return {};
    return decodeTagText(encoding, bytes);
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
void dispatchFrame(ByteReader& file, std::string_view id, std::int32_t frameSize, TrackTags& facts,
                   TagVersions versions, CoverBytes covers)
{
    if (textFieldFor(id, facts) != nullptr) {
        if (readTextFrame(file, id, frameSize, facts) == 1 && id == "TCON"
            && versions == TagVersions::All)
            facts.genre = nameNumberedGenre(facts.genre);
    } else if (id == "WXXX") {
        readLinkFrame(file, id, frameSize, facts);
    } else if (id == "APIC") {
        // A later front cover replaces an earlier one, even when its picture turns out to
        // be undecodable.
        if (frameSize > maxCoverFrameBytes || covers == CoverBytes::PassOver)
            return;
        std::vector<std::uint8_t> data = file.readBytes(frameSize);
        if (const auto start = frontCoverPictureStart(data)) {
            facts.coverFrame = std::move(data);
            facts.coverPictureStart = *start;
        }
    }
}

/// The frame walk of readId3v2Tag; with TagVersions::All a TCON genre number shows as its name.
int walkId3v23Tag(ByteReader& file, TrackTags& facts, TagVersions versions, CoverBytes covers,
                  std::int64_t tagStart = 0)
{
    if (!file.isOpen())
        return 0;
    file.seek(tagStart);
    std::array<std::uint8_t, id3v2HeaderSize> headerBytes{};
    file.readData(headerBytes);
    const auto header = decodeId3v2Header(headerBytes);
    if (!header || header->majorVersion != 3)
        return 0;

    // The sum counts the frames' data sizes only, without their headers, so the walk may
    // go on behind the last frame of a tag without padding; what it meets there ends it
    // the same way (a zero id, a size below 1, the end of the file) or is skipped.
    std::int64_t frameSizeSum = 0;
    const std::int64_t tagEnd = tagStart + id3v2HeaderSize + header->tagSize;
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
                      static_cast<std::int32_t>(readable), facts, versions, covers);
        file.seek(nextFrame); // a frame running past the end of the file ends at the end
        if (frameSizeSum >= header->tagSize)
            return 0;
    }
}

} // namespace

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

bool isFrontCoverFrame(std::span<const std::uint8_t> data)
{
    const auto frame = readPictureFrame(data);
    return frame && isFrontCoverFrame(*frame);
}

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

TrackTags readTrackTags(ByteReader& file, TagVersions versions, CoverBytes covers)
{
    TrackTags tags;
    if (!file.isOpen())
        return tags;
    // ID3v1 first, so that every frame of an ID3v2 tag replaces the value of its field.
    readId3v1Tag(file, tags);
    if (versions == TagVersions::All && readId3v22Or24Tag(file, tags, covers))
        return tags;
    walkId3v23Tag(file, tags, versions, covers);
    return tags;
}

TrackTags readId3v2TagAt(ByteReader& file, std::int64_t tagStart, TagVersions versions,
                         CoverBytes covers)
{
    TrackTags tags;
    if (versions == TagVersions::All && readId3v22Or24Tag(file, tags, covers, tagStart))
        return tags;
    walkId3v23Tag(file, tags, versions, covers, tagStart);
    return tags;
}

int readId3v2Tag(ByteReader& file, TrackTags& facts)
{
    return walkId3v23Tag(file, facts, TagVersions::Id3v23Only, CoverBytes::Keep);
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
        decodeTagText(latin1Encoding, readFrameBytes(file, std::min(dataLength, maxTextBytes)));
    return 1;
}

} // namespace tagrelay
