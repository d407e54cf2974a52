#pragma once

#include "tags/tag_versions.h"
#include "tags/track_tags.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tagrelay {

class ByteReader;

/// Size of an ID3v2 tag header, of a version 4 tag footer, and of an ID3v2.3 frame header.
inline constexpr std::int64_t id3v2HeaderSize = 10;

/// The most of one text a tag gives: a title of a hundred megabytes is cut here, and the rest
/// of its frame is skipped without being held.
inline constexpr std::int64_t maxTextBytes = 64 * 1024;
/// The largest cover picture frame taken; a larger one is passed over as no cover.
inline constexpr std::int64_t maxCoverFrameBytes = 16 * 1024 * 1024;

/// The facts of an ID3v2 tag header ("ID3", version, revision, flags, synchsafe size).
struct Id3v2Header
{
    std::uint8_t majorVersion = 0;
    std::uint8_t flags = 0;
    /// Bytes behind the header (frames and padding), not counting a version 4 footer.
    std::int64_t tagSize = 0;
};

/// Decodes the first bytes of a file as an ID3v2 tag header; nothing when they do not begin
/// with "ID3" (upper case) or are fewer than 10. Size bytes with their top bit set, which
/// writers should never produce, are combined as they are (7 bits apart).
[[nodiscard]] std::optional<Id3v2Header> decodeId3v2Header(std::span<const std::uint8_t> bytes);

/// Reads the ID3v1 block and the ID3v2.3 tag of the file, so that every ID3v2.3 frame present
/// replaces the ID3v1 value of its field. With TagVersions::All an ID3v2.2 or ID3v2.4 tag is
/// read the same way (readId3v22Or24Tag), and a TCON genre number of any version shows as its
/// name (nameNumberedGenre). Missing or broken tags leave fields empty; a file that is not open
/// gives empty tags.
/// With CoverBytes::PassOver no cover is read and coverFrame stays empty.
[[nodiscard]] TrackTags readTrackTags(ByteReader& file,
                                      TagVersions versions = TagVersions::Id3v23Only,
                                      CoverBytes covers = CoverBytes::Keep);

/// Reads an ID3v2 tag that begins at tagStart (inside a container, such as the `id3 ` chunk
/// of a WAV file) as readTrackTags reads one at the start of a file, without an ID3v1 block.
[[nodiscard]] TrackTags readId3v2TagAt(ByteReader& file, std::int64_t tagStart,
                                       TagVersions versions, CoverBytes covers);

/// Walks the frames of an ID3v2.3 tag at the start of the file and stores the texts of
/// TIT2, TPE1, TALB, TYER, TCON, TCOP and TRCK, the link description of WXXX, and the data
/// of the last front-cover APIC frame; other frames are skipped by their size. Tags of other
/// versions are not read. The walk ends on a frame id whose first byte is zero (padding, or
/// the end of the file), on a frame size below 1, or when the frames' data sizes add up to
/// the tag size. Frames read before a broken one keep their values.
/// \returns 1 when the walk ended on a zero frame id, else 0.
int readId3v2Tag(ByteReader& file, TrackTags& tags);

/// Reads a text frame of frameSize data bytes from the file's position (an encoding byte,
/// then the text) into the field of frameId: TIT2 title, TPE1 artist, TALB album, TYER year,
/// TCON genre (as stored, "(17)" stays), TCOP rightsNotice, TRCK track. Encoding 0 is
/// ISO-8859-1, encoding 1 UTF-16 after a byte-order mark (FE FF big-endian, anything else
/// little-endian); both are converted to the locale's character set, UTF-16 characters it
/// lacks becoming "?". Other encodings give the empty text. The first zero ends a text.
/// \returns 1 when the frame held a byte after the encoding byte (the field is replaced,
/// also by an empty text), else 0 (the field keeps its value).
int readTextFrame(ByteReader& file, std::string_view frameId, std::int32_t frameSize,
                  TrackTags& tags);

/// Reads a WXXX frame of frameSize data bytes from the file's position: linkDescription
/// becomes the bytes behind the encoding byte up to the first zero, as ISO-8859-1.
/// \returns 1 when the frame held a byte after the encoding byte, else 0 (nothing changed).
int readLinkFrame(ByteReader& file, std::string_view frameId, std::int32_t frameSize,
                  TrackTags& tags);

/// The field an ID3v2.3 text frame fills (TIT2 title, TPE1 artist, TALB album, TYER year,
/// TCON genre, TCOP rightsNotice, TRCK track), or nullptr for a frame the descriptions do not use.
[[nodiscard]] std::string* textFieldFor(std::string_view frameId, TrackTags& tags);

/// True when an APIC frame's data is a front cover with picture bytes behind its texts: encoding
/// 0 or 1, a MIME type ended by one zero byte, picture type 3, a description ended by a zero
/// byte (encoding 0) or a zero 16-bit unit (encoding 1), then at least one byte.
[[nodiscard]] bool isFrontCoverFrame(std::span<const std::uint8_t> data);

} // namespace tagrelay
