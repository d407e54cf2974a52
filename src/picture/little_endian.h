#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tagrelay {

/// Little-endian fields of picture headers. Bytes past the end read as 0; the readers check
/// the sizes they rely on first.
constexpr std::uint32_t readLittleEndian(std::span<const std::uint8_t> bytes, std::size_t offset,
                                         std::size_t count)
{
    std::uint32_t value = 0;
    for (std::size_t i = count; i-- > 0;) {
        const std::size_t at = offset + i;
        value = (value << 8) | (at < bytes.size() ? bytes[at] : 0U);
    }
    return value;
}

constexpr std::uint16_t readU16Le(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(readLittleEndian(bytes, offset, 2));
}

constexpr std::uint32_t readU32Le(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return readLittleEndian(bytes, offset, 4);
}

constexpr std::int32_t readI32Le(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::int32_t>(readU32Le(bytes, offset));
}

} // namespace tagrelay
