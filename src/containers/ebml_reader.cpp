#include "containers/ebml_reader.h"

#include <bit>
#include <cstring>

namespace tagrelay {

std::optional<std::uint64_t> readEbmlVint(ByteReader& file, bool* allOnes)
{
    if (file.atEnd())
        return std::nullopt;
    const std::uint8_t first = file.readU8();
    const int length = ebmlVintLength(first);
    if (length == 0)
        return std::nullopt;
    std::uint64_t value = first & (0xFFu >> length);
    bool ones = value == (0xFFu >> length);
    for (int i = 1; i < length; ++i) {
        if (file.atEnd())
            return std::nullopt;
        const std::uint8_t next = file.readU8();
        ones = ones && next == 0xFF;
        value = (value << 8) | next;
    }
    if (allOnes != nullptr)
        *allOnes = ones;
    return value;
}

std::optional<EbmlElement> readEbmlElement(ByteReader& file)
{
    EbmlElement element;
    element.start = file.position();
    if (file.atEnd())
        return std::nullopt;
    const std::uint8_t first = file.readU8();
    const int idLength = ebmlVintLength(first);
    if (idLength == 0 || idLength > 4)
        return std::nullopt;
    std::uint32_t id = first;
    for (int i = 1; i < idLength; ++i) {
        if (file.atEnd())
            return std::nullopt;
        id = (id << 8) | file.readU8();
    }
    element.id = id;
    bool unknown = false;
    const std::optional<std::uint64_t> size = readEbmlVint(file, &unknown);
    if (!size)
        return std::nullopt;
    element.dataStart = file.position();
    // Eight bytes hold at most 2^56 - 1: it fits, but no file is that large.
    if (!unknown)
        element.size = static_cast<std::int64_t>(*size);
    return element;
}

std::optional<std::uint64_t> readEbmlUnsigned(ByteReader& file, std::int64_t size)
{
    if (size < 0 || size > 8)
        return std::nullopt;
    std::uint64_t value = 0;
    for (std::int64_t i = 0; i < size; ++i)
        value = (value << 8) | file.readU8();
    return value;
}

std::optional<double> readEbmlFloat(ByteReader& file, std::int64_t size)
{
    if (size == 0)
        return 0.0;
    if (size == 4) {
        return static_cast<double>(std::bit_cast<float>(file.readU32BigEndian()));
    }
    if (size == 8) {
        const std::uint64_t high = file.readU32BigEndian();
        const std::uint64_t bits = (high << 32) | file.readU32BigEndian();
        return std::bit_cast<double>(bits);
    }
    return std::nullopt;
}

std::optional<std::string> readEbmlString(ByteReader& file, std::int64_t size,
                                          std::int64_t maxLength)
{
    if (size < 0 || size > maxLength)
        return std::nullopt;
    std::string text(static_cast<std::size_t>(size), '\0');
    const std::size_t got = file.readData(
        std::span(reinterpret_cast<std::uint8_t*>(text.data()), static_cast<std::size_t>(size)));
    text.resize(got);
    text.resize(std::strlen(text.c_str()));
    return text;
}

} // namespace tagrelay
