#include "tags/id3v2_versions.h"

#include "platform/byte_reader.h"
#include "tags/genres.h"
#include "tags/id3v2.h"
#include "tags/picture_frame.h"
#include "tags/tag_text.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tagrelay {

namespace {

// Tag header flags, %abcd0000: a unsynchronisation (version 2: of the whole tag, frame headers
// included; version 4: of every frame's data), b extended header (version 4) or compression
// of the whole tag (version 2), c experimental, d footer.
constexpr std::uint8_t unsynchronisationFlag = 0x80;
constexpr std::uint8_t extendedHeaderFlag = 0x40;
constexpr std::uint8_t wholeTagCompressionFlag = 0x40;

// Version 4 frame format flags, %0h00kmnp: h grouping byte, k compressed, m encrypted,
// n unsynchronised, p data-length indicator. The grouping byte and the indicator come in that
// order in front of the frame's content.
constexpr std::uint8_t groupingFlag = 0x40;
constexpr std::uint8_t compressionFlag = 0x08;
constexpr std::uint8_t encryptionFlag = 0x04;
constexpr std::uint8_t frameUnsynchronisationFlag = 0x02;
constexpr std::uint8_t dataLengthFlag = 0x01;

/// The stored bytes a text frame is read with at most: the text cap, room for what
/// unsynchronisation inserts into it, and the few bytes in front of the content.
constexpr std::int64_t maxTextFrameBytes = 2 * maxTextBytes + 16;
/// Unsynchronised frames are passed over in pieces of this size.
constexpr std::int64_t skipPieceBytes = 64 * 1024;

/// The frames of a version 2 tag the readers use, by the ID3v2.3 frame each one stands for.
/// COM (a comment) is passed over, as COMM is in version 3: no field holds a comment.
constexpr std::array<std::pair<std::string_view, std::string_view>, 9> version2Frames = {{
    // clang-format off
    {"TT2", "TIT2"}, {"TP1", "TPE1"}, {"TAL", "TALB"}, {"TYE", "TYER"}, {"TCO", "TCON"},
    {"TCR", "TCOP"}, {"TRK", "TRCK"}, {"WXX", "WXXX"}, {"PIC", "APIC"},
    // clang-format on
}};

/// The bytes of a tag between its header and its end, in order. With the whole-tag
/// unsynchronisation of a version 2 tag, each 0x00 directly behind a 0xFF is dropped as it is
/// read, so sizes count the bytes as they were before the writer inserted those zeros.
class TagBody
{
  public:
    TagBody(ByteReader& file, std::int64_t end, bool unsynchronised)
        : m_file(file), m_end(std::min(end, file.size())), m_unsynchronised(unsynchronised)
    {
    }

    /// Stored bytes before the tag's end: at least as many as there are still to read.
    std::int64_t left() const { return std::max<std::int64_t>(0, m_end - m_file.position()); }

    /// Up to count bytes; fewer only at the tag's end.
    std::vector<std::uint8_t> read(std::int64_t count)
    {
        std::vector<std::uint8_t> out;
        // Each piece asks for what is still missing; dropped zeros make another piece.
        while (static_cast<std::int64_t>(out.size()) < count && left() > 0) {
            const std::int64_t missing = count - static_cast<std::int64_t>(out.size());
            const std::vector<std::uint8_t> stored = m_file.readBytes(std::min(missing, left()));
            if (stored.empty())
                break;
            if (!m_unsynchronised) {
                out.insert(out.end(), stored.begin(), stored.end());
                continue;
            }
            for (const std::uint8_t byte : stored) {
                if (!m_afterFF || byte != 0)
                    out.push_back(byte);
                m_afterFF = byte == 0xFF;
            }
        }
        return out;
    }

    /// Passes over count bytes, or up to the tag's end.
    void skip(std::int64_t count)
    {
        if (!m_unsynchronised) {
            m_file.seek(m_file.position() + std::min(std::max<std::int64_t>(count, 0), left()));
            return;
        }
        while (count > 0) {
            const auto piece =
                static_cast<std::int64_t>(read(std::min(count, skipPieceBytes)).size());
            if (piece == 0)
                return;
            count -= piece;
        }
    }

  private:
    ByteReader& m_file;
    std::int64_t m_end;
    bool m_unsynchronised;
    bool m_afterFF = false;
};

struct FrameHeader
{
    std::string id;
    std::int64_t size = 0;
    std::uint8_t formatFlags = 0; // version 4 only
};

constexpr bool isFrameIdCharacter(std::uint8_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

/// Four synchsafe bytes (7 bits each, most significant first). Some writers put plain sizes
/// into version 4 frame headers; a byte with its top bit set can only be one of those.
std::int64_t synchsafeOrPlain(std::span<const std::uint8_t> bytes)
{
    const bool plain = std::any_of(bytes.begin(), bytes.end(), [](auto b) { return b > 0x7F; });
    std::int64_t value = 0;
    for (const std::uint8_t b : bytes)
        value = value * (plain ? 256 : 128) + b;
    return value;
}

/// The next frame header, or nothing when the walk ends there: too few bytes before the tag's
/// end, or an id that is no frame id (the padding's zeros, or a broken tag).
std::optional<FrameHeader> readFrameHeader(TagBody& body, std::uint8_t version)
{
    const std::size_t idLength = version == 2 ? 3 : 4;
    const std::size_t headerSize = version == 2 ? 6 : 10;
    const std::vector<std::uint8_t> bytes = body.read(static_cast<std::int64_t>(headerSize));
    if (bytes.size() < headerSize
        || !std::all_of(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(idLength),
                        isFrameIdCharacter))
        return std::nullopt;
    FrameHeader header;
    header.id.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(idLength));
    if (version == 2) {
        header.size = (bytes[3] << 16) | (bytes[4] << 8) | bytes[5];
    } else {
        header.size = synchsafeOrPlain(std::span(bytes).subspan(4, 4));
        header.formatFlags = bytes[9];
    }
    return header;
}

/// The ID3v2.3 id of the field a frame fills, or empty for a frame the readers pass over.
std::string_view id3v23IdFor(std::string_view id, std::uint8_t version)
{
    if (version == 2) {
        const auto* found = std::find_if(version2Frames.begin(), version2Frames.end(),
                                         [id](const auto& entry) { return entry.first == id; });
        return found == version2Frames.end() ? std::string_view() : found->second;
    }
    if (id == "TDRC")
        return "TYER";
    for (const std::string_view known :
         {"TIT2", "TPE1", "TALB", "TYER", "TCON", "TCOP", "TRCK", "WXXX", "APIC"}) {
        if (id == known)
            return known;
    }
    return {};
}

/// A version 4 frame's content: unsynchronisation undone, the grouping byte and the
/// data-length indicator taken off, cut to the length the indicator gives. Nothing for a
/// compressed or encrypted frame, whose content cannot be read as it stands.
std::optional<std::vector<std::uint8_t>> version4Content(std::vector<std::uint8_t> stored,
                                                         std::uint8_t flags, bool unsynchronised)
{
    if ((flags & (compressionFlag | encryptionFlag)) != 0)
        return std::nullopt;
    if (unsynchronised || (flags & frameUnsynchronisationFlag) != 0)
        stored = undoUnsynchronisation(stored);
    std::size_t front = (flags & groupingFlag) != 0 ? 1 : 0;
    std::optional<std::int64_t> dataLength;
    if ((flags & dataLengthFlag) != 0) {
        if (stored.size() < front + 4)
            return std::nullopt;
        dataLength = synchsafeOrPlain(std::span(stored).subspan(front, 4));
        front += 4;
    }
    front = std::min(front, stored.size());
    stored.erase(stored.begin(), stored.begin() + static_cast<std::ptrdiff_t>(front));
    if (dataLength && *dataLength < static_cast<std::int64_t>(stored.size()))
        stored.resize(static_cast<std::size_t>(*dataLength));
    return stored;
}

/// Stores one frame's content in the field of its ID3v2.3 id, as the ID3v2.3 readers do.
void storeFrame(std::string_view id, std::string_view originalId, std::vector<std::uint8_t> data,
                TrackTags& tags)
{
    if (std::string* field = textFieldFor(id, tags)) {
        if (data.size() < 2)
            return; // the encoding byte alone leaves the field as it was
        const auto text = std::span(data).subspan(
            1, static_cast<std::size_t>(std::min<std::int64_t>(
                   static_cast<std::int64_t>(data.size()) - 1, maxTextBytes)));
        *field = decodeTagText(data[0], text);
        if (id == "TCON")
            tags.genre = nameNumberedGenre(tags.genre);
        if (originalId == "TDRC")
            tags.year = tags.year.substr(0, tags.year.find('-')); // "2004-05-06": the year
        return;
    }
    if (id == "WXXX") {
        // The description is taken byte by byte, whatever the encoding byte says.
        if (data.size() >= 2)
            tags.linkDescription = decodeTagText(0, std::span(data).subspan(1));
        return;
    }
    if (id != "APIC" || data.empty())
        return;
    if (originalId == "PIC")
        data = picFrameAsApic(data);
    else if (data[0] == static_cast<std::uint8_t>(TextEncoding::Utf16BigEndian))
        // The description ends as in UTF-16 (a zero unit) and as in ISO-8859-1 (a zero byte)
        // for UTF-8; the encoding byte says so to whoever walks the frame's layout.
        data[0] = static_cast<std::uint8_t>(TextEncoding::Utf16);
    else if (data[0] == static_cast<std::uint8_t>(TextEncoding::Utf8))
        data[0] = static_cast<std::uint8_t>(TextEncoding::Latin1);
    if (const auto start = frontCoverPictureStart(data)) {
        tags.coverFrame = std::move(data);
        tags.coverPictureStart = *start;
    }
}

/// How many of a frame's stored bytes the readers need: all of a cover up to its cap, the
/// start of a text, none of a frame they pass over.
std::int64_t bytesToRead(std::string_view id, std::int64_t stored, CoverBytes covers)
{
    if (id.empty())
        return 0;
    if (id == "APIC")
        return stored > maxCoverFrameBytes || covers == CoverBytes::PassOver ? 0 : stored;
    return std::min(stored, maxTextFrameBytes);
}

void walkFrames(TagBody& body, std::uint8_t version, bool unsynchronisedFrames, TrackTags& tags,
                CoverBytes covers)
{
    while (const auto header = readFrameHeader(body, version)) {
        const std::int64_t size = std::min(header->size, body.left());
        const std::string_view id = id3v23IdFor(header->id, version);
        const std::int64_t wanted = bytesToRead(id, size, covers);
        std::vector<std::uint8_t> data = body.read(wanted);
        body.skip(size - wanted);
        if (wanted == 0)
            continue;
        if (version == 2) {
            storeFrame(id, header->id, std::move(data), tags);
            continue;
        }
        auto content = version4Content(std::move(data), header->formatFlags, unsynchronisedFrames);
        if (content)
            storeFrame(id, header->id, std::move(*content), tags);
    }
}

} // namespace

bool readId3v22Or24Tag(ByteReader& file, TrackTags& tags, CoverBytes covers, std::int64_t tagStart)
{
    if (!file.isOpen())
        return false;
    file.seek(tagStart);
    std::array<std::uint8_t, id3v2HeaderSize> headerBytes{};
    file.readData(headerBytes);
    const auto header = decodeId3v2Header(headerBytes);
    if (!header || (header->majorVersion != 2 && header->majorVersion != 4))
        return false;
    const std::int64_t tagEnd = tagStart + id3v2HeaderSize + header->tagSize;
    const bool unsynchronised = (header->flags & unsynchronisationFlag) != 0;

    if (header->majorVersion == 2) {
        // No way of compressing a whole tag was ever defined: such a tag cannot be read.
        if ((header->flags & wholeTagCompressionFlag) != 0)
            return true;
        TagBody body(file, tagEnd, unsynchronised);
        walkFrames(body, 2, false, tags, covers);
        return true;
    }
    TagBody body(file, tagEnd, false);
    if ((header->flags & extendedHeaderFlag) != 0) {
        // Its synchsafe size counts the whole extended header, these four bytes included.
        const std::vector<std::uint8_t> sizeBytes = body.read(4);
        if (sizeBytes.size() < 4)
            return true;
        body.skip(synchsafeOrPlain(sizeBytes) - 4);
    }
    walkFrames(body, 4, unsynchronised, tags, covers);
    return true;
}

std::vector<std::uint8_t> undoUnsynchronisation(std::span<const std::uint8_t> bytes)
{
    std::vector<std::uint8_t> out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == 0 && i > 0 && bytes[i - 1] == 0xFF)
            continue;
        out.push_back(bytes[i]);
    }
    return out;
}

std::vector<std::uint8_t> picFrameAsApic(std::span<const std::uint8_t> data)
{
    // encoding (1), image format (3), picture type (1), then the description and picture
    if (data.size() < 5)
        return {};
    std::string format;
    for (std::size_t i = 1; i < 4; ++i) {
        const auto c = static_cast<char>(data[i]);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            format += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    std::string mimeType = "image/" + format;
    if (format == "jpg")
        mimeType = "image/jpeg";
    std::vector<std::uint8_t> apic{data[0]};
    apic.insert(apic.end(), mimeType.begin(), mimeType.end());
    apic.push_back(0);
    apic.insert(apic.end(), data.begin() + 4, data.end());
    return apic;
}

} // namespace tagrelay
