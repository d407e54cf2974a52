#include "picture/ico_reader.h"

#include "picture/bmp_reader.h"
#include "picture/little_endian.h"
#include "picture/png_codec.h"

namespace tagrelay {

namespace {

// ICONDIR: reserved (2 bytes, 0), type (2 bytes, 1 = icon), image count (2 bytes); then one
// 16-byte ICONDIRENTRY per image: width, height, colour count, reserved (1 byte each), planes,
// bit count (2 bytes each), byte count (4 bytes), offset from the file's start (4 bytes).
constexpr std::size_t iconDirSize = 6;
constexpr std::size_t iconEntrySize = 16;

/// The bytes of the first image, or nothing when the directory does not place it in the data.
std::optional<std::span<const std::uint8_t>> firstImage(std::span<const std::uint8_t> bytes)
{
    if (!hasIconSignature(bytes) || readU16Le(bytes, 4) == 0
        || bytes.size() < iconDirSize + iconEntrySize)
        return std::nullopt;
    const std::size_t size = readU32Le(bytes, iconDirSize + 8);
    const std::size_t offset = readU32Le(bytes, iconDirSize + 12);
    if (offset < iconDirSize + iconEntrySize || offset > bytes.size()
        || size > bytes.size() - offset || size == 0)
        return std::nullopt;
    return bytes.subspan(offset, size);
}

} // namespace

bool hasIconSignature(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 4 && readU16Le(bytes, 0) == 0 && readU16Le(bytes, 2) == 1;
}

std::optional<PictureHeader> readIconHeader(std::span<const std::uint8_t> bytes)
{
    const auto image = firstImage(bytes);
    if (!image)
        return std::nullopt;
    if (hasPngSignature(*image)) {
        auto header = readPngHeader(*image);
        if (header)
            header->bitsPerPixel = 32;
        return header;
    }
    return readIconBitmapHeader(*image);
}

std::optional<RgbImage> decodeIcon(std::span<const std::uint8_t> bytes, PixelNeed need)
{
    const auto image = firstImage(bytes);
    if (!image)
        return std::nullopt;
    if (hasPngSignature(*image))
        return decodePng(*image, need);
    return decodeIconBitmap(*image, need);
}

} // namespace tagrelay
