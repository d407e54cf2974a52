#include "audio/vorbis_comment.h"

#include "audio/audio_track.h"
#include "tags/id3v2.h"
#include "tags/tag_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace tagrelay {

namespace {

constexpr std::uint8_t utf8Encoding = 3;
constexpr std::uint32_t frontCoverType = 3;

/// Reads fields in order from a span: integers past the end read as 0 and mark it short.
class FieldCursor
{
  public:
    explicit FieldCursor(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::uint32_t readU32(bool bigEndian)
    {
        if (m_bytes.size() - m_at < 4) {
            m_short = true;
            m_at = m_bytes.size();
            return 0;
        }
        const std::uint8_t* b = m_bytes.data() + m_at;
        m_at += 4;
        if (bigEndian)
            return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16)
                   | (std::uint32_t{b[2]} << 8) | b[3];
        return (std::uint32_t{b[3]} << 24) | (std::uint32_t{b[2]} << 16)
               | (std::uint32_t{b[1]} << 8) | b[0];
    }
    /// The next count bytes, or what is left (marking it short).
    std::span<const std::uint8_t> take(std::uint64_t count)
    {
        const std::size_t left = m_bytes.size() - m_at;
        if (count > left) {
            m_short = true;
            count = left;
        }
        const auto piece = m_bytes.subspan(m_at, static_cast<std::size_t>(count));
        m_at += static_cast<std::size_t>(count);
        return piece;
    }
    bool isShort() const { return m_short; }

  private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_at = 0;
    bool m_short = false;
};

bool namesEqual(std::span<const std::uint8_t> name, std::string_view wanted)
{
    return name.size() == wanted.size()
           && std::equal(name.begin(), name.end(), wanted.begin(), [](std::uint8_t a, char b) {
                  return std::toupper(a) == static_cast<unsigned char>(b);
              });
}

constexpr std::array<std::int8_t, 256> base64Values = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i)
        values[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return values;
}();

} // namespace

bool readVorbisComment(std::span<const std::uint8_t> block, CoverBytes covers, TrackTags& tags)
{
    FieldCursor cursor(block);
    cursor.take(cursor.readU32(false)); // the vendor string
    const std::uint32_t count = cursor.readU32(false);
    bool artist = false, album = false, title = false, genre = false;
    for (std::uint32_t i = 0; i < count && !cursor.isShort(); ++i) {
        const std::span<const std::uint8_t> field = cursor.take(cursor.readU32(false));
        const auto equals = std::find(field.begin(), field.end(), std::uint8_t{'='});
        if (equals == field.end())
            continue;
        const auto name = field.first(static_cast<std::size_t>(equals - field.begin()));
        const auto value = field.subspan(name.size() + 1);
        const auto take = [&](bool& seen, std::string& text) {
            if (!seen)
                text = utf8TagText(value);
            seen = true;
        };
        if (namesEqual(name, "ARTIST"))
            take(artist, tags.artist);
        else if (namesEqual(name, "ALBUM"))
            take(album, tags.album);
        else if (namesEqual(name, "TITLE"))
            take(title, tags.title);
        else if (namesEqual(name, "GENRE"))
            take(genre, tags.genre);
        else if (covers == CoverBytes::Keep && tags.coverFrame.empty()
                 && namesEqual(name, "METADATA_BLOCK_PICTURE"))
            takeFrontCover(decodeBase64(value), tags);
    }
    return !cursor.isShort();
}

std::optional<PictureBlock> readPictureBlock(std::span<const std::uint8_t> block)
{
    FieldCursor cursor(block);
    PictureBlock picture;
    picture.type = cursor.readU32(true);
    cursor.take(cursor.readU32(true)); // MIME type
    cursor.take(cursor.readU32(true)); // description
    cursor.take(16);                   // width, height, depth, colours
    picture.data = cursor.take(cursor.readU32(true));
    if (cursor.isShort())
        return std::nullopt;
    return picture;
}

bool takeFrontCover(std::span<const std::uint8_t> block, TrackTags& tags)
{
    const auto picture = readPictureBlock(block);
    if (!tags.coverFrame.empty() || !picture || picture->type != frontCoverType
        || picture->data.empty())
        return false;
    tags.coverFrame.assign(picture->data.begin(), picture->data.end());
    tags.coverPictureStart = 0;
    return true;
}

std::vector<std::uint8_t> decodeBase64(std::span<const std::uint8_t> text)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t bits = 0;
    int bitCount = 0;
    for (const std::uint8_t c : text) {
        const std::int8_t value = base64Values[c];
        if (value < 0)
            break;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            bytes.push_back(static_cast<std::uint8_t>(bits >> bitCount));
            bits &= (1u << bitCount) - 1;
        }
    }
    return bytes;
}

bool isValidUtf8(std::span<const std::uint8_t> bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t lead = bytes[i];
        std::size_t length = 0;
        std::uint32_t min = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            min = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            min = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            min = 0x10000;
        } else {
            return false;
        }
        if (bytes.size() - i < length)
            return false;
        std::uint32_t codePoint = lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (bytes[i + k] & 0x3Fu);
        }
        if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint < 0xE000))
            return false;
        i += length;
    }
    return true;
}

std::string utf8TagText(std::span<const std::uint8_t> bytes)
{
    return decodeTagText(utf8Encoding,
                         bytes.first(std::min<std::size_t>(bytes.size(), maxTextBytes)));
}

} // namespace tagrelay
