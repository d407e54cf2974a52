#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

namespace tagrelay::test {

using Bytes = std::vector<std::uint8_t>;

enum class Utf16Order { LittleEndian, BigEndian };
enum class Terminator { None, Zero };

/// The parts one after another, e.g. join({tag, audio, id3v1Block(...)}).
Bytes join(std::initializer_list<Bytes> parts);

/// Four synchsafe bytes (7 bits each, most significant first).
Bytes synchsafe(std::uint32_t value);

/// The bytes unsynchronised as a tag writer does it: a 0x00 goes in behind every 0xFF that is
/// followed by a byte with its three top bits set, by a 0x00, or by nothing.
Bytes unsynchronise(const Bytes& bytes);

/// Builds an ID3v2 tag byte by byte: the 10-byte header ("ID3", version, revision 0, flags,
/// synchsafe size of everything behind it), an optional extended header, the frames and the
/// padding in the order they were added, and an optional version 4 footer. Frame headers take
/// the version's layout: a 3-character id and a 3-byte size (version 2), a 4-character id, a
/// plain (version 3) or synchsafe (version 4) size and two flag bytes.
///
///     Id3v2Builder().textFrame("TIT2", "Test").padding(64).bytes()
class Id3v2Builder
{
  public:
    explicit Id3v2Builder(std::uint8_t majorVersion = 3);

    /// A text frame with encoding 0; the text's bytes are written as they are (ISO-8859-1).
    Id3v2Builder& textFrame(std::string_view id, std::string_view text,
                            Terminator terminator = Terminator::None);
    /// A text frame with encoding 1: the byte-order mark of the order, then the units.
    Id3v2Builder& utf16Frame(std::string_view id, std::u16string_view text,
                             Utf16Order order = Utf16Order::LittleEndian,
                             Terminator terminator = Terminator::None);
    /// A frame with any data; its size field says data.size() unless sizeField is given
    /// (a size past the end of the file, a negative or zero size).
    Id3v2Builder& rawFrame(std::string_view id, const Bytes& data,
                           std::optional<std::uint32_t> sizeField = std::nullopt);
    /// A version 4 frame with format flags (%0h00kmnp); the data as it is to be stored.
    Id3v2Builder& flaggedFrame(std::string_view id, std::uint8_t formatFlags, const Bytes& data);
    /// A WXXX frame: encoding, description, a zero byte, the link.
    Id3v2Builder& linkFrame(std::string_view description, std::string_view link,
                            std::uint8_t encoding = 0);
    /// An APIC frame: encoding, MIME type and zero, picture type, description and its
    /// terminator (a zero byte, or with encoding 1 a byte-order mark and a zero unit), data.
    Id3v2Builder& pictureFrame(std::uint8_t pictureType, std::string_view mimeType,
                               const Bytes& data, std::string_view description = "",
                               std::uint8_t encoding = 0);
    /// Zero bytes behind the frames.
    Id3v2Builder& padding(std::size_t count);
    /// Any bytes behind what was added so far.
    Id3v2Builder& raw(const Bytes& bytes);
    /// Sets the extended-header flag (bit 6) and writes an extended header before the frames:
    /// version 3 10 bytes (size 6, no flags, no padding), version 4 6 bytes (synchsafe size 6
    /// counting itself, one flag byte of zero).
    Id3v2Builder& extendedHeader();
    /// Sets the footer flag (bit 4) and appends the 10-byte footer ("3DI", ...).
    Id3v2Builder& footer();
    /// Sets the unsynchronisation flag (bit 7); with version 2 the body is unsynchronised whole.
    Id3v2Builder& unsynchronisedTag();
    /// Writes this size into the header instead of the real one.
    Id3v2Builder& tagSizeField(std::uint32_t size);

    Bytes bytes() const;

  private:
    std::uint8_t m_majorVersion;
    std::uint8_t m_flags = 0;
    std::uint8_t m_formatFlags = 0;
    bool m_hasExtendedHeader = false;
    bool m_hasFooter = false;
    std::optional<std::uint32_t> m_tagSizeField;
    Bytes m_body;
};

/// A 128-byte ID3v1 block. Texts are cut to their field and zero-padded. The comment field
/// takes up to 29 bytes; the track byte follows it (ID3v1.1 when the comment leaves its 29th
/// byte zero, ID3v1.0 when a 29-character comment fills it).
Bytes id3v1Block(std::string_view title, std::string_view artist, std::string_view album,
                 std::string_view year, std::uint8_t trackByte = 0, std::uint8_t genreByte = 255,
                 std::string_view comment = "");

/// Bytes that begin with an MPEG-1 Layer III frame header (128 kbit/s, 44.1 kHz), followed by
/// zeros up to count bytes: enough for the audio start to be found there.
Bytes audioBytes(std::size_t count = 417);

} // namespace tagrelay::test
