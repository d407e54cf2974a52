#pragma once

#include "platform/byte_reader.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tagrelay {

/// An element's header as read: its ID with the length marker kept (0x1A45DFA3), where its
/// header and its data start, and its data size; none when the size is unknown (all value
/// bits set, as a live or piped file writes its Segment and Clusters).
struct EbmlElement
{
    std::uint32_t id = 0;
    std::int64_t start = 0;
    std::int64_t dataStart = 0;
    std::optional<std::int64_t> size;

    /// Where the data ends; unknownEnd when the size is unknown.
    [[nodiscard]] std::int64_t end(std::int64_t unknownEnd) const
    {
        return size ? dataStart + *size : unknownEnd;
    }
};

/// The length of a variable-size integer from its first byte: the place of the first set bit,
/// 1 to 8; 0 for a zero byte, which starts no valid integer.
[[nodiscard]] constexpr int ebmlVintLength(std::uint8_t first)
{
    for (int length = 1; length <= 8; ++length) {
        if ((first & (0x80u >> (length - 1))) != 0)
            return length;
    }
    return 0;
}

/// Reads a variable-size integer with its length marker cleared (sizes, track numbers, lace
/// sizes); none at a zero first byte or past the end. allOnes tells whether every value bit
/// was set (an unknown size).
[[nodiscard]] std::optional<std::uint64_t> readEbmlVint(ByteReader& file, bool* allOnes = nullptr);

/// Reads an element header at the position: an ID of 1 to 4 bytes and a size of 1 to 8. None
/// when the bytes cannot start one (a zero byte, an ID longer than 4 bytes) or end first.
[[nodiscard]] std::optional<EbmlElement> readEbmlElement(ByteReader& file);

/// An unsigned integer element's value (0 to 8 bytes, big-endian); none for a longer one.
[[nodiscard]] std::optional<std::uint64_t> readEbmlUnsigned(ByteReader& file, std::int64_t size);

/// A float element's value (0, 4 or 8 bytes); none for another size.
[[nodiscard]] std::optional<double> readEbmlFloat(ByteReader& file, std::int64_t size);

/// A string element's text up to its first zero byte, when it is at most maxLength bytes long;
/// none for a longer one.
[[nodiscard]] std::optional<std::string> readEbmlString(ByteReader& file, std::int64_t size,
                                                        std::int64_t maxLength);

} // namespace tagrelay
