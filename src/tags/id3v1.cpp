#include "tags/id3v1.h"

#include "platform/byte_reader.h"
#include "tags/genres.h"
#include "tags/tag_text.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace tagrelay {

namespace {

using Block = std::array<std::uint8_t, id3v1BlockSize>;

// Field layout of the block: "TAG", title, artist, album, year, comment, track, genre.
constexpr std::size_t titleOffset = 3;
constexpr std::size_t artistOffset = 33;
constexpr std::size_t albumOffset = 63;
constexpr std::size_t yearOffset = 93;
constexpr std::size_t textWidth = 30;
constexpr std::size_t yearWidth = 4;
constexpr std::size_t trackOffset = 126;
constexpr std::size_t genreOffset = 127;

bool hasTagMark(const Block& block)
{
    return block[0] == 'T' && block[1] == 'A' && block[2] == 'G';
}

/// The field's bytes up to its first zero, without the blanks at either end, in the locale's
/// character set. Writers pad with blanks or zeros; blanks inside a name stay.
std::string fieldText(const Block& block, std::size_t offset, std::size_t width)
{
    std::string_view bytes(reinterpret_cast<const char*>(block.data()) + offset, width);
    bytes = bytes.substr(0, bytes.find('\0'));
    const auto first = bytes.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = bytes.find_last_not_of(' ');
    return latin1TagText(bytes.substr(first, last - first + 1));
}

/// The byte as a one-byte text, kept raw: the genre and track bytes are numbers, and the
/// description shows a genre only when its text is exactly one byte long.
std::string oneByteText(std::uint8_t byte)
{
    return byte == 0 ? std::string() : std::string(1, static_cast<char>(byte));
}

} // namespace

int readId3v1Tag(ByteReader& file, TrackTags& facts)
{
    if (!file.isOpen())
        return 0;
    Block block{};
    // A file shorter than a block is read from its start; the missing bytes stay zero.
    file.seek(file.size() - static_cast<std::int64_t>(block.size()));
    file.readData(block);
    if (!hasTagMark(block))
        return 0;
    facts.title = fieldText(block, titleOffset, textWidth);
    facts.artist = fieldText(block, artistOffset, textWidth);
    facts.album = fieldText(block, albumOffset, textWidth);
    facts.year = fieldText(block, yearOffset, yearWidth);
    facts.track = oneByteText(block[trackOffset]);
    facts.genre = oneByteText(block[genreOffset]);
    facts.genreName = std::string(genreNameFor(block[genreOffset]));
    return 1;
}

} // namespace tagrelay
