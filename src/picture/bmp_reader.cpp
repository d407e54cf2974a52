#include "picture/bmp_reader.h"

#include "picture/little_endian.h"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

namespace tagrelay {

namespace {

constexpr std::size_t fileHeaderSize = 14;
constexpr std::uint32_t coreHeaderSize = 12;
constexpr std::uint32_t infoHeaderSize = 40;

// compression field of the info headers
constexpr std::uint32_t uncompressed = 0; // BI_RGB
constexpr std::uint32_t rle8 = 1;         // BI_RLE8
constexpr std::uint32_t rle4 = 2;         // BI_RLE4
constexpr std::uint32_t bitFields = 3;    // BI_BITFIELDS

/// One colour channel of a 16- or 32-bit pixel: where its bits are and how to widen them.
struct Channel
{
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t largest = 0; // mask >> shift

    explicit Channel(std::uint32_t bits = 0)
        : mask(bits), shift(bits == 0 ? 0 : std::countr_zero(bits)), largest(bits >> shift)
    {
    }
    std::uint8_t valueOf(std::uint32_t pixel) const
    {
        if (largest == 0)
            return 0;
        const std::uint64_t value = (pixel & mask) >> shift;
        return static_cast<std::uint8_t>((value * 255 + largest / 2) / largest);
    }
};

/// Where a bitmap's parts lie in the bytes and how to read a pixel.
struct Dib
{
    int width = 0;
    int height = 0; // rows of the picture (for icons without the mask rows)
    bool isTopDown = false;
    int bitCount = 0;
    std::uint32_t compression = uncompressed;
    std::array<Channel, 3> channels; // red, green, blue for 16 and 32 bits
    std::size_t paletteStart = 0;
    std::size_t paletteEntrySize = 4;
    std::size_t paletteCount = 0;
    std::size_t pixelStart = 0;
    std::size_t stride = 0; // bytes a stored row takes, padded to 4

    std::size_t rowBytes() const // bytes of a row without the padding
    {
        return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount) + 7) / 8;
    }
};

bool isValidBitCount(int bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

bool isKnownHeaderSize(std::uint32_t size)
{
    return size == coreHeaderSize || size == infoHeaderSize || size == 52 || size == 56
           || size == 108 || size == 124;
}

/// Reads the bitmap header at headerStart and the palette behind it. The pixel rows are not
/// placed yet; the caller knows where they start.
std::optional<Dib> readDib(std::span<const std::uint8_t> bytes, std::size_t headerStart)
{
    const std::uint32_t headerSize = readU32Le(bytes, headerStart);
    if (!isKnownHeaderSize(headerSize) || bytes.size() < headerStart + headerSize)
        return std::nullopt;
    Dib dib;
    std::int64_t height = 0;
    std::size_t masksEnd = headerStart + headerSize;
    if (headerSize == coreHeaderSize) {
        dib.width = readU16Le(bytes, headerStart + 4);
        height = readU16Le(bytes, headerStart + 6);
        dib.bitCount = readU16Le(bytes, headerStart + 10);
        dib.paletteEntrySize = 3;
    } else {
        dib.width = readI32Le(bytes, headerStart + 4);
        height = readI32Le(bytes, headerStart + 8);
        dib.bitCount = readU16Le(bytes, headerStart + 14);
        dib.compression = readU32Le(bytes, headerStart + 16);
        const std::uint32_t coloursUsed = readU32Le(bytes, headerStart + 32);
        if (dib.bitCount <= 8)
            dib.paletteCount = coloursUsed;
        if (dib.compression == bitFields) {
            // The info header keeps its three masks behind it; the larger headers inside.
            const std::size_t masksAt = headerStart + infoHeaderSize;
            if (headerSize == infoHeaderSize)
                masksEnd += 12;
            if (bytes.size() < masksAt + 12)
                return std::nullopt;
            dib.channels = {Channel(readU32Le(bytes, masksAt)),
                            Channel(readU32Le(bytes, masksAt + 4)),
                            Channel(readU32Le(bytes, masksAt + 8))};
        }
    }
    if (height < 0) {
        dib.isTopDown = true;
        height = -height;
    }
    // Clamped so that a huge height stays too large even after an icon halves it.
    dib.height = static_cast<int>(std::min<std::int64_t>(height, 2 * (largestPictureSide + 1)));
    if (!isValidBitCount(dib.bitCount))
        return std::nullopt;
    switch (dib.compression) {
    case uncompressed:
        if (dib.bitCount == 16)
            dib.channels = {Channel(0x7C00), Channel(0x03E0), Channel(0x001F)};
        if (dib.bitCount == 32)
            dib.channels = {Channel(0xFF0000), Channel(0x00FF00), Channel(0x0000FF)};
        break;
    case bitFields:
        if (dib.bitCount != 16 && dib.bitCount != 32)
            return std::nullopt;
        break;
    case rle8:
    case rle4:
        // A run-length stream always starts at the bottom row.
        if (dib.bitCount != (dib.compression == rle8 ? 8 : 4) || dib.isTopDown)
            return std::nullopt;
        break;
    default:
        return std::nullopt;
    }
    if (dib.bitCount <= 8) {
        const std::size_t fullPalette = std::size_t{1} << dib.bitCount;
        if (dib.paletteCount == 0 || dib.paletteCount > fullPalette)
            dib.paletteCount = fullPalette;
    }
    dib.paletteStart = masksEnd;
    if (bytes.size() < dib.paletteStart + dib.paletteCount * dib.paletteEntrySize)
        return std::nullopt;
    dib.stride =
        (static_cast<std::size_t>(std::max(dib.width, 0)) * static_cast<std::size_t>(dib.bitCount)
         + 31)
        / 32 * 4;
    return dib;
}

std::size_t paletteEnd(const Dib& dib)
{
    return dib.paletteStart + dib.paletteCount * dib.paletteEntrySize;
}

/// True when every uncompressed row lies inside the bytes (the last one may lack its padding).
bool hasAllRows(const Dib& dib, std::size_t size)
{
    if (dib.compression == rle8 || dib.compression == rle4)
        return dib.pixelStart <= size;
    const std::size_t need =
        dib.pixelStart + dib.stride * static_cast<std::size_t>(dib.height - 1) + dib.rowBytes();
    return need <= size;
}

/// Turns stored pixels into RGB rows and hands them to the builder.
class DibDecoder
{
  public:
    DibDecoder(std::span<const std::uint8_t> bytes, const Dib& dib)
        : m_bytes(bytes), m_dib(dib), m_row(static_cast<std::size_t>(dib.width) * 3)
    {
        for (std::size_t i = 0; i < dib.paletteCount; ++i) {
            const std::uint8_t* entry = bytes.data() + dib.paletteStart + i * dib.paletteEntrySize;
            m_palette.push_back({entry[2], entry[1], entry[0]}); // stored blue, green, red
        }
    }

    void decodeUncompressed(ImageBuilder& builder)
    {
        for (int stored = 0; stored < m_dib.height; ++stored) {
            convertRow(storedRow(stored));
            builder.putPixels(pictureRowOf(stored), m_row.data());
        }
    }

    /// Run-length data: pairs of (count, index) and escapes (0, 0 end of row; 0, 1 end of
    /// bitmap; 0, 2, dx, dy skip; 0, n with n literal indexes padded to 2 bytes). Each step
    /// eats at least two bytes, so the work is bounded by the data and the picture size.
    void decodeRunLength(ImageBuilder& builder)
    {
        const bool isRle4 = m_dib.compression == rle4;
        std::size_t at = m_dib.pixelStart;
        int x = 0;
        int stored = 0; // bottom row first
        bool isRowTouched = false;
        std::fill(m_row.begin(), m_row.end(), 0);
        auto endRow = [&] {
            if (isRowTouched)
                builder.putPixels(pictureRowOf(stored), m_row.data());
            std::fill(m_row.begin(), m_row.end(), 0);
            isRowTouched = false;
        };
        while (at + 2 <= m_bytes.size() && stored < m_dib.height) {
            const std::uint8_t count = m_bytes[at];
            const std::uint8_t value = m_bytes[at + 1];
            at += 2;
            if (count > 0) {
                for (int i = 0; i < count && x < m_dib.width; ++i, ++x)
                    setIndex(x, isRle4 ? ((i % 2 == 0) ? value >> 4 : value & 0x0F) : value);
                isRowTouched = true;
                continue;
            }
            if (value == 0) { // end of row
                endRow();
                x = 0;
                ++stored;
            } else if (value == 1) { // end of bitmap
                break;
            } else if (value == 2) { // skip right and up
                if (at + 2 > m_bytes.size())
                    break;
                x = std::min(x + m_bytes[at], m_dib.width);
                const int up = m_bytes[at + 1];
                at += 2;
                if (up > 0) {
                    endRow();
                    stored += up;
                }
            } else { // literal indexes
                const std::size_t dataBytes = isRle4 ? (value + 1U) / 2U : value;
                const std::size_t padded = (dataBytes + 1) & ~std::size_t{1};
                for (int i = 0; i < value && x < m_dib.width; ++i, ++x) {
                    const std::size_t byteAt =
                        at
                        + (isRle4 ? static_cast<std::size_t>(i / 2) : static_cast<std::size_t>(i));
                    if (byteAt >= m_bytes.size())
                        break;
                    const std::uint8_t byte = m_bytes[byteAt];
                    setIndex(x, isRle4 ? ((i % 2 == 0) ? byte >> 4 : byte & 0x0F) : byte);
                }
                isRowTouched = true;
                at += padded;
            }
        }
        if (stored < m_dib.height)
            endRow();
    }

    /// Colours of an icon's colour rows as shown on white: where the AND mask is set, the
    /// screen's white is inverted by the colour.
    void decodeIcon(ImageBuilder& builder)
    {
        const std::size_t maskStride = (static_cast<std::size_t>(m_dib.width) + 31) / 32 * 4;
        const std::size_t maskStart =
            m_dib.pixelStart + m_dib.stride * static_cast<std::size_t>(m_dib.height);
        for (int stored = 0; stored < m_dib.height; ++stored) {
            convertRow(storedRow(stored));
            const std::size_t maskRow = maskStart + maskStride * static_cast<std::size_t>(stored);
            if (m_dib.bitCount < 32 && maskRow + maskStride <= m_bytes.size()) {
                for (std::size_t x = 0; x < static_cast<std::size_t>(m_dib.width); ++x) {
                    if ((m_bytes[maskRow + x / 8] & (0x80U >> (x % 8))) != 0) {
                        for (std::size_t c = 0; c < 3; ++c)
                            m_row[x * 3 + c] = static_cast<std::uint8_t>(255 - m_row[x * 3 + c]);
                    }
                }
            }
            builder.putPixels(pictureRowOf(stored), m_row.data());
        }
    }

  private:
    const std::uint8_t* storedRow(int stored) const
    {
        return m_bytes.data() + m_dib.pixelStart + m_dib.stride * static_cast<std::size_t>(stored);
    }
    int pictureRowOf(int stored) const
    {
        return m_dib.isTopDown ? stored : m_dib.height - 1 - stored;
    }
    void setIndex(int x, unsigned int index)
    {
        const std::array<std::uint8_t, 3> colour =
            index < m_palette.size() ? m_palette[index] : std::array<std::uint8_t, 3>{};
        std::copy(colour.begin(), colour.end(), m_row.begin() + x * 3);
    }

    void convertRow(const std::uint8_t* in)
    {
        const int bits = m_dib.bitCount;
        for (int x = 0; x < m_dib.width; ++x) {
            const auto ux = static_cast<std::size_t>(x);
            std::uint8_t* out = m_row.data() + ux * 3;
            if (bits <= 8) {
                const std::size_t bitAt = ux * static_cast<std::size_t>(bits);
                const unsigned int byte = in[bitAt / 8];
                const unsigned int shift = 8U - static_cast<unsigned int>(bits) - bitAt % 8;
                setIndex(x, (byte >> shift) & ((1U << bits) - 1));
            } else if (bits == 24) {
                out[0] = in[ux * 3 + 2];
                out[1] = in[ux * 3 + 1];
                out[2] = in[ux * 3];
            } else {
                const std::uint32_t pixel =
                    bits == 16 ? readU16Le({in + ux * 2, 2}, 0) : readU32Le({in + ux * 4, 4}, 0);
                for (std::size_t c = 0; c < 3; ++c)
                    out[c] = m_dib.channels[c].valueOf(pixel);
            }
        }
    }

    std::span<const std::uint8_t> m_bytes;
    const Dib& m_dib;
    std::vector<std::array<std::uint8_t, 3>> m_palette;
    std::vector<std::uint8_t> m_row;
};

std::optional<Dib> readBmpDib(std::span<const std::uint8_t> bytes, std::size_t fileSize)
{
    if (!hasBmpSignature(bytes) || bytes.size() < fileHeaderSize)
        return std::nullopt;
    auto dib = readDib(bytes, fileHeaderSize);
    if (!dib || !isAcceptedPictureSize(dib->width, dib->height))
        return std::nullopt;
    // The file header says where the rows start; a 0 there (common in hand-made files) means
    // right behind the palette.
    const std::uint32_t offset = readU32Le(bytes, 10);
    dib->pixelStart = offset == 0 ? paletteEnd(*dib) : offset;
    if (!hasAllRows(*dib, fileSize))
        return std::nullopt;
    return dib;
}

std::optional<Dib> readIconDib(std::span<const std::uint8_t> bytes)
{
    auto dib = readDib(bytes, 0);
    // The stored height counts the colour rows and the mask rows; the rows go bottom-up.
    if (!dib || dib->isTopDown || dib->compression == rle8 || dib->compression == rle4
        || dib->height % 2 != 0)
        return std::nullopt;
    dib->height /= 2;
    if (!isAcceptedPictureSize(dib->width, dib->height))
        return std::nullopt;
    dib->pixelStart = paletteEnd(*dib);
    if (!hasAllRows(*dib, bytes.size()))
        return std::nullopt;
    return dib;
}

} // namespace

bool hasBmpSignature(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
}

std::optional<PictureHeader> readBmpHeader(std::span<const std::uint8_t> bytes)
{
    return readBmpFileHeader(bytes, bytes.size());
}

std::optional<PictureHeader> readBmpFileHeader(std::span<const std::uint8_t> start,
                                               std::size_t fileSize)
{
    const auto dib = readBmpDib(start, std::max(fileSize, start.size()));
    if (!dib)
        return std::nullopt;
    return PictureHeader{dib->width, dib->height, dib->bitCount};
}

std::optional<RgbImage> decodeBmp(std::span<const std::uint8_t> bytes, PixelNeed need)
{
    const auto dib = readBmpDib(bytes, bytes.size());
    if (!dib)
        return std::nullopt;
    ImageBuilder builder(dib->width, dib->height, need);
    DibDecoder decoder(bytes, *dib);
    if (dib->compression == rle8 || dib->compression == rle4)
        decoder.decodeRunLength(builder);
    else
        decoder.decodeUncompressed(builder);
    return builder.finish();
}

std::optional<PictureHeader> readIconBitmapHeader(std::span<const std::uint8_t> bytes)
{
    const auto dib = readIconDib(bytes);
    if (!dib)
        return std::nullopt;
    return PictureHeader{dib->width, dib->height, dib->bitCount};
}

std::optional<RgbImage> decodeIconBitmap(std::span<const std::uint8_t> bytes, PixelNeed need)
{
    const auto dib = readIconDib(bytes);
    if (!dib)
        return std::nullopt;
    ImageBuilder builder(dib->width, dib->height, need);
    DibDecoder(bytes, *dib).decodeIcon(builder);
    return builder.finish();
}

} // namespace tagrelay
