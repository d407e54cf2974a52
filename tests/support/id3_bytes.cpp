#include "support/id3_bytes.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <string>

namespace tagrelay::test {

namespace {

void appendText(Bytes& out, std::string_view text)
{
    out.insert(out.end(), text.begin(), text.end());
}

void appendBigEndian32(Bytes& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void appendUnit(Bytes& out, char16_t unit, Utf16Order order)
{
    const auto high = static_cast<std::uint8_t>(unit >> 8);
    const auto low = static_cast<std::uint8_t>(unit & 0xFF);
    if (order == Utf16Order::BigEndian) {
        out.push_back(high);
        out.push_back(low);
    } else {
        out.push_back(low);
        out.push_back(high);
    }
}

void appendUtf16(Bytes& out, std::u16string_view text, Utf16Order order, Terminator terminator)
{
    appendUnit(out, u'\uFEFF', order);
    for (const char16_t unit : text)
        appendUnit(out, unit, order);
    if (terminator == Terminator::Zero)
        appendUnit(out, 0, order);
}

/// Copies text into a field of width bytes at offset; the rest of the field stays zero.
void putField(Bytes& block, std::size_t offset, std::size_t width, std::string_view text)
{
    std::copy_n(text.begin(), std::min(width, text.size()),
                block.begin() + static_cast<std::ptrdiff_t>(offset));
}

} // namespace

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes synchsafe(std::uint32_t value)
{
    return {static_cast<std::uint8_t>((value >> 21) & 0x7F),
            static_cast<std::uint8_t>((value >> 14) & 0x7F),
            static_cast<std::uint8_t>((value >> 7) & 0x7F),
            static_cast<std::uint8_t>(value & 0x7F)};
}

Id3v2Builder::Id3v2Builder(std::uint8_t majorVersion) : m_majorVersion(majorVersion)
{
}

Id3v2Builder& Id3v2Builder::textFrame(std::string_view id, std::string_view text,
                                      Terminator terminator)
{
    Bytes data{0};
    appendText(data, text);
    if (terminator == Terminator::Zero)
        data.push_back(0);
    return rawFrame(id, data);
}

Id3v2Builder& Id3v2Builder::utf16Frame(std::string_view id, std::u16string_view text,
                                       Utf16Order order, Terminator terminator)
{
    Bytes data{1};
    appendUtf16(data, text, order, terminator);
    return rawFrame(id, data);
}

Id3v2Builder& Id3v2Builder::rawFrame(std::string_view id, const Bytes& data,
                                     std::optional<std::uint32_t> sizeField)
{
    const auto size = sizeField.value_or(static_cast<std::uint32_t>(data.size()));
    appendText(m_body, id);
    if (m_majorVersion == 2) {
        // A four-character id stays as given: some tests want a version 2 tag that holds
        // what only version 3 means.
        for (int shift = 16; shift >= 0; shift -= 8)
            m_body.push_back(static_cast<std::uint8_t>(size >> shift));
    } else {
        assert(id.size() == 4 && "frame ids have four characters");
        const Bytes sizeBytes = m_majorVersion == 4 ? synchsafe(size) : Bytes{};
        if (m_majorVersion == 4)
            m_body.insert(m_body.end(), sizeBytes.begin(), sizeBytes.end());
        else
            appendBigEndian32(m_body, size);
        m_body.push_back(0); // status flags
        m_body.push_back(m_formatFlags);
    }
    m_body.insert(m_body.end(), data.begin(), data.end());
    return *this;
}

Id3v2Builder& Id3v2Builder::flaggedFrame(std::string_view id, std::uint8_t formatFlags,
                                         const Bytes& data)
{
    m_formatFlags = formatFlags;
    rawFrame(id, data);
    m_formatFlags = 0;
    return *this;
}

Id3v2Builder& Id3v2Builder::unsynchronisedTag()
{
    m_flags |= 0x80;
    return *this;
}

Bytes unsynchronise(const Bytes& bytes)
{
    Bytes out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == 0xFF
            && (i + 1 == bytes.size() || bytes[i + 1] >= 0xE0 || bytes[i + 1] == 0))
            out.push_back(0);
    }
    return out;
}

Id3v2Builder& Id3v2Builder::linkFrame(std::string_view description, std::string_view link,
                                      std::uint8_t encoding)
{
    Bytes data{encoding};
    appendText(data, description);
    data.push_back(0);
    appendText(data, link);
    return rawFrame("WXXX", data);
}

Id3v2Builder& Id3v2Builder::pictureFrame(std::uint8_t pictureType, std::string_view mimeType,
                                         const Bytes& data, std::string_view description,
                                         std::uint8_t encoding)
{
    Bytes frame{encoding};
    appendText(frame, mimeType);
    frame.push_back(0);
    frame.push_back(pictureType);
    if (encoding == 1) {
        appendUtf16(frame, std::u16string(description.begin(), description.end()),
                    Utf16Order::LittleEndian, Terminator::Zero);
    } else {
        appendText(frame, description);
        frame.push_back(0);
    }
    frame.insert(frame.end(), data.begin(), data.end());
    return rawFrame("APIC", frame);
}

Id3v2Builder& Id3v2Builder::padding(std::size_t count)
{
    m_body.insert(m_body.end(), count, 0);
    return *this;
}

Id3v2Builder& Id3v2Builder::raw(const Bytes& bytes)
{
    m_body.insert(m_body.end(), bytes.begin(), bytes.end());
    return *this;
}

Id3v2Builder& Id3v2Builder::extendedHeader()
{
    m_hasExtendedHeader = true;
    m_flags |= 0x40;
    return *this;
}

Id3v2Builder& Id3v2Builder::footer()
{
    m_hasFooter = true;
    m_flags |= 0x10;
    return *this;
}

Id3v2Builder& Id3v2Builder::tagSizeField(std::uint32_t size)
{
    m_tagSizeField = size;
    return *this;
}

Bytes Id3v2Builder::bytes() const
{
    Bytes body;
    if (m_hasExtendedHeader && m_majorVersion == 4) {
        body = synchsafe(6); // size of the whole extended header, these bytes included
        body.push_back(1);   // one byte of flags follows
        body.push_back(0);
    } else if (m_hasExtendedHeader) {
        appendBigEndian32(body, 6); // size of what follows: flags (2) and padding size (4)
        body.insert(body.end(), 6, 0);
    }
    body.insert(body.end(), m_body.begin(), m_body.end());
    if (m_majorVersion == 2 && (m_flags & 0x80) != 0)
        body = unsynchronise(body);
    const auto size = m_tagSizeField.value_or(static_cast<std::uint32_t>(body.size()));

    Bytes header{'I', 'D', '3', m_majorVersion, 0, m_flags};
    const Bytes sizeBytes = synchsafe(size);
    header.insert(header.end(), sizeBytes.begin(), sizeBytes.end());
    Bytes tag = join({header, body});
    if (m_hasFooter) {
        Bytes footerBytes{'3', 'D', 'I', m_majorVersion, 0, m_flags};
        footerBytes.insert(footerBytes.end(), sizeBytes.begin(), sizeBytes.end());
        tag = join({tag, footerBytes});
    }
    return tag;
}

Bytes id3v1Block(std::string_view title, std::string_view artist, std::string_view album,
                 std::string_view year, std::uint8_t trackByte, std::uint8_t genreByte,
                 std::string_view comment)
{
    Bytes block(128, 0);
    putField(block, 0, 3, "TAG");
    putField(block, 3, 30, title);
    putField(block, 33, 30, artist);
    putField(block, 63, 30, album);
    putField(block, 93, 4, year);
    putField(block, 97, 29, comment);
    block[126] = trackByte;
    block[127] = genreByte;
    return block;
}

Bytes audioBytes(std::size_t count)
{
    Bytes bytes(std::max<std::size_t>(count, 4), 0);
    // sync (11 bits), MPEG-1, Layer III, no CRC | 128 kbit/s, 44.1 kHz | joint stereo
    bytes[0] = 0xFF;
    bytes[1] = 0xFB;
    bytes[2] = 0x90;
    bytes[3] = 0x64;
    return bytes;
}

} // namespace tagrelay::test
