#include "picture/picture_headers.h"

#include "picture/little_endian.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace tagrelay {

namespace {

std::uint32_t readU32Be(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t at = offset + i;
        value = (value << 8) | (at < bytes.size() ? bytes[at] : 0U);
    }
    return value;
}

bool startsWith(std::span<const std::uint8_t> bytes, std::size_t offset, const char* text)
{
    const std::size_t length = std::strlen(text);
    return bytes.size() >= offset + length && std::memcmp(bytes.data() + offset, text, length) == 0;
}

std::optional<PictureHeader> acceptedHeader(std::uint64_t width, std::uint64_t height,
                                            bool hasAlpha)
{
    if (width > static_cast<std::uint64_t>(largestPictureSide)
        || height > static_cast<std::uint64_t>(largestPictureSide)
        || !isAcceptedPictureSize(static_cast<std::int64_t>(width),
                                  static_cast<std::int64_t>(height)))
        return std::nullopt;
    return PictureHeader{static_cast<int>(width), static_cast<int>(height), hasAlpha ? 32 : 24};
}

/// Whether a PNG bit depth is allowed with the colour type (the table of the PNG format).
bool isPngDepthOf(std::uint8_t colourType, std::uint8_t bitDepth)
{
    switch (colourType) {
    case 0: // grey: 1, 2, 4, 8, 16
        return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16;
    case 3: // palette: 1, 2, 4, 8
        return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
    case 2: // RGB, grey + alpha, RGBA: 8, 16
    case 4:
    case 6:
        return bitDepth == 8 || bitDepth == 16;
    default:
        return false;
    }
}

/// Fields of a TIFF file read in its byte order; reads past the end of the bytes give 0.
struct TiffFields
{
    std::span<const std::uint8_t> bytes;
    bool bigEndian = false;

    std::uint64_t read(std::size_t offset, std::size_t count) const
    {
        if (offset > bytes.size() || bytes.size() - offset < count)
            return 0;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t byte = bigEndian ? offset + i : offset + count - 1 - i;
            value = (value << 8) | bytes[byte];
        }
        return value;
    }
};

/// Bytes of one value of a TIFF field type; 0 for a type this reader does not take.
std::size_t tiffTypeSize(std::uint64_t type)
{
    switch (type) {
    case 1: // BYTE
    case 6: // SBYTE
    case 7: // UNDEFINED
        return 1;
    case 3: // SHORT
    case 8: // SSHORT
        return 2;
    case 4: // LONG
    case 9: // SLONG
        return 4;
    case 16: // LONG8
        return 8;
    default:
        return 0;
    }
}

// A directory with more entries than this is damage: the TIFF tags defined number a few hundred.
constexpr std::uint64_t mostTiffEntries = 4096;
// Extra samples past this many are not looked at (a picture has a handful).
constexpr std::uint64_t mostTiffExtraSamples = 64;

} // namespace

std::optional<PictureHeader> readPngIhdr(std::span<const std::uint8_t> bytes)
{
    // Signature (8), IHDR length (4) = 13, "IHDR", width (4), height (4), bit depth (1),
    // colour type (1), compression (1) = 0, filter (1) = 0, interlace (1) = 0 or 1.
    static constexpr std::array<std::uint8_t, 8> signature = {0x89, 'P',  'N',  'G',
                                                              0x0D, 0x0A, 0x1A, 0x0A};
    if (bytes.size() < 33 || !std::equal(signature.begin(), signature.end(), bytes.begin())
        || readU32Be(bytes, 8) != 13 || !startsWith(bytes, 12, "IHDR"))
        return std::nullopt;
    const std::uint8_t bitDepth = bytes[24];
    const std::uint8_t colourType = bytes[25];
    if (!isPngDepthOf(colourType, bitDepth) || bytes[26] != 0 || bytes[27] != 0 || bytes[28] > 1)
        return std::nullopt;
    return acceptedHeader(readU32Be(bytes, 16), readU32Be(bytes, 20),
                          colourType == 4 || colourType == 6);
}

std::optional<PictureHeader> readGifHeader(std::span<const std::uint8_t> bytes)
{
    // "GIF87a" or "GIF89a", screen width (2, LE), screen height (2), flags, background, aspect.
    if (bytes.size() < 13 || (!startsWith(bytes, 0, "GIF87a") && !startsWith(bytes, 0, "GIF89a")))
        return std::nullopt;
    return acceptedHeader(readU16Le(bytes, 6), readU16Le(bytes, 8), false);
}

std::optional<PictureHeader> readWebpHeader(std::span<const std::uint8_t> bytes)
{
    // "RIFF", size (4, LE), "WEBP", then the first chunk: fourcc (4), size (4), data.
    if (bytes.size() < 30 || !startsWith(bytes, 0, "RIFF") || !startsWith(bytes, 8, "WEBP"))
        return std::nullopt;
    const std::size_t data = 20;
    const std::uint32_t chunkSize = readU32Le(bytes, 16);
    if (startsWith(bytes, 12, "VP8 ")) {
        // Frame tag (3; bit 0 clear on a key frame), start code 9D 01 2A, width and height
        // (2 each, LE; the top 2 bits are the scale).
        if (chunkSize < 10 || (bytes[data] & 1) != 0 || bytes[data + 3] != 0x9D
            || bytes[data + 4] != 0x01 || bytes[data + 5] != 0x2A)
            return std::nullopt;
        return acceptedHeader(readU16Le(bytes, data + 6) & 0x3FFFU,
                              readU16Le(bytes, data + 8) & 0x3FFFU, false);
    }
    if (startsWith(bytes, 12, "VP8L")) {
        // Signature 0x2F, then 32 bits LE: width - 1 (14), height - 1 (14), alpha is used (1),
        // version (3) = 0.
        if (chunkSize < 5 || bytes[data] != 0x2F)
            return std::nullopt;
        const std::uint32_t bits = readU32Le(bytes, data + 1);
        if ((bits >> 29) != 0)
            return std::nullopt;
        return acceptedHeader((bits & 0x3FFFU) + 1, ((bits >> 14) & 0x3FFFU) + 1,
                              ((bits >> 28) & 1U) != 0);
    }
    if (startsWith(bytes, 12, "VP8X")) {
        // Flags (1; 0x10 alpha, 0x02 animation), reserved (3), canvas width - 1 (3, LE),
        // canvas height - 1 (3).
        if (chunkSize < 10)
            return std::nullopt;
        return acceptedHeader(readLittleEndian(bytes, data + 4, 3) + 1ULL,
                              readLittleEndian(bytes, data + 7, 3) + 1ULL,
                              (bytes[data] & 0x10U) != 0);
    }
    return std::nullopt;
}

bool hasTiffSignature(std::span<const std::uint8_t> bytes)
{
    if (!startsWith(bytes, 0, "II") && !startsWith(bytes, 0, "MM"))
        return false;
    const TiffFields fields{bytes, bytes[0] == 'M'};
    const std::uint64_t version = fields.read(2, 2);
    return version == 42 || version == 43;
}

std::optional<PictureHeader> readTiffHeader(std::span<const std::uint8_t> bytes)
{
    MemoryRanges ranges(bytes);
    return readTiffHeaderFrom(ranges);
}

std::optional<PictureHeader> readTiffHeaderFrom(ByteRanges& file)
{
    // "II" or "MM", 42 and the first directory's offset (4), or for BigTIFF 43, the offset
    // size 8, 0, and the offset (8).
    const std::span<const std::uint8_t> head = file.read(0, 16);
    TiffFields fields{head};
    if (startsWith(head, 0, "MM"))
        fields.bigEndian = true;
    else if (!startsWith(head, 0, "II"))
        return std::nullopt;
    const std::uint64_t version = fields.read(2, 2);
    const bool isBig = version == 43;
    if (head.size() < 8
        || (version != 42 && !(isBig && fields.read(4, 2) == 8 && fields.read(6, 2) == 0)))
        return std::nullopt;
    const std::uint64_t directory = isBig ? fields.read(8, 8) : fields.read(4, 4);
    const std::size_t countSize = isBig ? 8 : 2;
    const std::size_t entrySize = isBig ? 20 : 12;
    const std::size_t valueSize = isBig ? 8 : 4;
    if (directory < 8 || directory >= file.size())
        return std::nullopt;
    fields.bytes = file.read(directory, countSize);
    const std::uint64_t entries = fields.bytes.size() == countSize ? fields.read(0, countSize) : 0;
    if (entries == 0 || entries > mostTiffEntries)
        return std::nullopt;
    // The entries are kept: an entry's values may lie elsewhere and be read meanwhile.
    const std::size_t tableSize = static_cast<std::size_t>(entries) * entrySize;
    const std::span<const std::uint8_t> tableBytes = file.read(directory + countSize, tableSize);
    if (tableBytes.size() != tableSize)
        return std::nullopt;
    const std::vector<std::uint8_t> table(tableBytes.begin(), tableBytes.end());
    const TiffFields entryFields{table, fields.bigEndian};

    std::uint64_t width = 0;
    std::uint64_t height = 0;
    bool hasWidth = false;
    bool hasHeight = false;
    bool hasExtraSamples = false;
    bool hasAlpha = false;
    for (std::size_t entry = 0; entry < tableSize; entry += entrySize) {
        // Tag (2), type (2), count (4 or 8), the value or its offset (4 or 8).
        const std::uint64_t tag = entryFields.read(entry, 2);
        const std::uint64_t type = entryFields.read(entry + 2, 2);
        const std::uint64_t count = entryFields.read(entry + 4, valueSize);
        const std::size_t valueAt = entry + 4 + valueSize;
        const std::size_t size = tiffTypeSize(type);
        if (size == 0 || count == 0)
            continue;
        if (tag == 256 || tag == 257) { // ImageWidth, ImageLength: one SHORT, LONG or LONG8
            // A tag listed again is passed over, as libtiff passes it over.
            bool& seen = tag == 256 ? hasWidth : hasHeight;
            if (seen)
                continue;
            if (count != 1 || size < 2 || size > valueSize)
                return std::nullopt;
            (tag == 256 ? width : height) = entryFields.read(valueAt, size);
            seen = true;
        } else if (tag == 338 && (type == 3 || type == 1) && !hasExtraSamples) { // ExtraSamples
            hasExtraSamples = true;
            const auto looked = static_cast<std::size_t>(std::min(count, mostTiffExtraSamples));
            TiffFields samples{std::span(table).subspan(valueAt, valueSize), fields.bigEndian};
            if (looked * size > valueSize) {
                samples.bytes = file.read(entryFields.read(valueAt, valueSize), looked * size);
                if (samples.bytes.size() != looked * size)
                    return std::nullopt;
            }
            for (std::size_t sample = 0; sample < looked; ++sample) {
                // 1: associated alpha, 2: unassociated alpha (0: unspecified).
                const std::uint64_t meaning = samples.read(sample * size, size);
                hasAlpha = hasAlpha || meaning == 1 || meaning == 2;
            }
        }
    }
    return acceptedHeader(width, height, hasAlpha);
}

} // namespace tagrelay
