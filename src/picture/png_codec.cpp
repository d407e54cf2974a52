#include "picture/png_codec.h"

#include <png.h>

#include <array>
#include <cstring>

namespace tagrelay {

namespace {

// Text and profile chunks are decompressed into memory while the header is read; no real
// picture needs more than this for one of them.
constexpr png_alloc_size_t largestPngChunk = 8 * 1024 * 1024;
constexpr png_uint_32 mostAncillaryPngChunks = 1000;

// Adam7: the rows and columns each of the seven passes holds.
constexpr std::array<int, 7> adam7FirstRow{0, 0, 4, 0, 2, 0, 1};
constexpr std::array<int, 7> adam7RowStep{8, 8, 8, 4, 4, 2, 2};
constexpr std::array<int, 7> adam7FirstColumn{0, 4, 0, 2, 0, 1, 0};
constexpr std::array<int, 7> adam7ColumnStep{8, 8, 4, 4, 2, 2, 1};

// libpng's error handler must not return: it jumps back into the small function that set the
// jump point (png_jmpbuf). Those functions hold no locals with destructors. Warnings are
// dropped: damaged pictures are common and nothing is shown.
[[noreturn]] void jumpBackOnError(png_structp png, png_const_charp /*message*/)
{
    png_longjmp(png, 1);
}

void stayQuiet(png_structp /*png*/, png_const_charp /*message*/)
{
}

struct PngReading
{
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::span<const std::uint8_t> bytes;
    std::size_t position = 0;
};

void readFromBytes(png_structp png, png_bytep out, png_size_t count)
{
    auto* reading = static_cast<PngReading*>(png_get_io_ptr(png));
    if (count > reading->bytes.size() - reading->position)
        png_error(png, "the data ends early");
    std::memcpy(out, reading->bytes.data() + reading->position, count);
    reading->position += count;
}

bool readInfo(PngReading& reading)
{
    if (setjmp(png_jmpbuf(reading.png)) != 0)
        return false;
    png_set_user_limits(reading.png, static_cast<png_uint_32>(largestPictureSide),
                        static_cast<png_uint_32>(largestPictureSide));
    png_set_chunk_malloc_max(reading.png, largestPngChunk);
    png_set_chunk_cache_max(reading.png, mostAncillaryPngChunks);
    png_set_read_fn(reading.png, &reading, readFromBytes);
    png_read_info(reading.png, reading.info);
    return true;
}

/// Asks for 8-bit RGB rows; gives the number of interlace passes, 0 on a library error.
int askForRgbRows(PngReading& reading)
{
    if (setjmp(png_jmpbuf(reading.png)) != 0)
        return 0;
    png_set_strip_16(reading.png);
    png_set_strip_alpha(reading.png);
    png_set_palette_to_rgb(reading.png);
    png_set_expand_gray_1_2_4_to_8(reading.png);
    png_set_gray_to_rgb(reading.png);
    const int passes = png_set_interlace_handling(reading.png);
    png_read_update_info(reading.png, reading.info);
    if (png_get_rowbytes(reading.png, reading.info)
        != static_cast<png_size_t>(png_get_image_width(reading.png, reading.info)) * 3)
        return 0;
    return passes;
}

bool readRow(PngReading& reading, png_bytep row)
{
    if (setjmp(png_jmpbuf(reading.png)) != 0)
        return false;
    png_read_row(reading.png, row, nullptr);
    return true;
}

/// Owns libpng's read state for the functions with destructors around it.
class PngReader
{
  public:
    explicit PngReader(std::span<const std::uint8_t> bytes)
    {
        m_reading.bytes = bytes;
        m_reading.png =
            png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpBackOnError, stayQuiet);
        if (m_reading.png != nullptr)
            m_reading.info = png_create_info_struct(m_reading.png);
    }
    ~PngReader() { png_destroy_read_struct(&m_reading.png, &m_reading.info, nullptr); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    std::optional<PictureHeader> readHeader()
    {
        if (m_reading.info == nullptr || !hasPngSignature(m_reading.bytes) || !readInfo(m_reading))
            return std::nullopt;
        const png_uint_32 width = png_get_image_width(m_reading.png, m_reading.info);
        const png_uint_32 height = png_get_image_height(m_reading.png, m_reading.info);
        if (!isAcceptedPictureSize(width, height))
            return std::nullopt;
        const png_byte colourType = png_get_color_type(m_reading.png, m_reading.info);
        const int bits = (colourType & PNG_COLOR_MASK_ALPHA) != 0 ? 32 : 24;
        return PictureHeader{static_cast<int>(width), static_cast<int>(height), bits};
    }
    PngReading& reading() { return m_reading; }

  private:
    PngReading m_reading;
};

bool isInAdam7Pass(int y, int pass)
{
    const auto index = static_cast<std::size_t>(pass);
    return y >= adam7FirstRow[index] && (y - adam7FirstRow[index]) % adam7RowStep[index] == 0;
}

} // namespace

bool hasPngSignature(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 8 && png_sig_cmp(bytes.data(), 0, 8) == 0;
}

std::optional<PictureHeader> readPngHeader(std::span<const std::uint8_t> bytes)
{
    PngReader reader(bytes);
    return reader.readHeader();
}

std::optional<RgbImage> decodePng(std::span<const std::uint8_t> bytes, PixelNeed need)
{
    PngReader reader(bytes);
    const auto header = reader.readHeader();
    if (!header)
        return std::nullopt;
    ImageBuilder builder(header->width, header->height, need);
    const int passes = askForRgbRows(reader.reading());
    std::vector<std::uint8_t> row(static_cast<std::size_t>(header->width) * 3);
    if (passes == 1) {
        for (int y = 0; y < header->height; ++y) {
            if (!readRow(reader.reading(), row.data()))
                break;
            builder.putPixels(y, row.data());
        }
        return builder.finish();
    }
    // Interlaced: the library hands every row once a pass; each pass adds only its own pixels.
    for (int pass = 0; pass < passes && pass < 7; ++pass) {
        for (int y = 0; y < header->height; ++y) {
            if (!readRow(reader.reading(), row.data()))
                return builder.finish();
            if (isInAdam7Pass(y, pass))
                builder.putPixels(y, row.data(), adam7FirstColumn[static_cast<std::size_t>(pass)],
                                  adam7ColumnStep[static_cast<std::size_t>(pass)]);
        }
    }
    return builder.finish();
}

bool reachesPngEnd(std::span<const std::uint8_t> bytes)
{
    constexpr std::size_t signatureSize = 8;
    constexpr std::size_t chunkFrame = 12; // length, type, CRC
    std::size_t at = signatureSize;
    while (bytes.size() >= at + chunkFrame) {
        const std::uint32_t length = (std::uint32_t{bytes[at]} << 24) | (bytes[at + 1] << 16)
                                     | (bytes[at + 2] << 8) | bytes[at + 3];
        if (length > bytes.size() - at - chunkFrame)
            return false;
        if (std::memcmp(bytes.data() + at + 4, "IEND", 4) == 0)
            return true;
        at += chunkFrame + length;
    }
    return false;
}

std::optional<RgbImage> decodeWholePng(std::span<const std::uint8_t> bytes, PixelNeed need)
{
    if (!reachesPngEnd(bytes))
        return std::nullopt;
    return decodePng(bytes, need);
}

namespace {

struct PngWriting
{
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<std::uint8_t>* out = nullptr;
};

void appendToBytes(png_structp png, png_bytep data, png_size_t count)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + count);
}

void flushNothing(png_structp /*png*/)
{
}

bool writeRows(PngWriting& writing, const RgbImage& image)
{
    if (setjmp(png_jmpbuf(writing.png)) != 0)
        return false;
    png_set_write_fn(writing.png, writing.out, appendToBytes, flushNothing);
    png_set_IHDR(writing.png, writing.info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(writing.png, 9);
    png_set_filter(writing.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(writing.png, writing.info);
    const std::size_t stride = static_cast<std::size_t>(image.width) * 3;
    for (std::size_t y = 0; y < static_cast<std::size_t>(image.height); ++y) {
        // The library takes rows as non-const pointers but only reads them.
        png_write_row(writing.png, const_cast<png_bytep>(image.pixels.data() + y * stride));
    }
    png_write_end(writing.png, nullptr);
    return true;
}

} // namespace

std::vector<std::uint8_t> encodePng(const RgbImage& image)
{
    if (image.width <= 0 || image.height <= 0
        || image.pixels.size()
               != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)
                      * 3)
        return {};
    std::vector<std::uint8_t> bytes;
    PngWriting writing;
    writing.out = &bytes;
    writing.png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpBackOnError, stayQuiet);
    if (writing.png != nullptr)
        writing.info = png_create_info_struct(writing.png);
    const bool isDone = writing.info != nullptr && writeRows(writing, image);
    png_destroy_write_struct(&writing.png, &writing.info);
    if (!isDone)
        bytes.clear();
    return bytes;
}

} // namespace tagrelay
