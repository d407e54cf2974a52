#include "picture/jpeg_codec.h"

// jpeglib.h needs size_t and FILE declared before it.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace tagrelay {

namespace {

// The most memory the library may take for one picture. Baseline photos need little at any
// size; a progressive or multi-scan JPEG keeps all its coefficients (2 bytes a sample), so this
// decodes those up to about 40 megapixels and refuses the rest as a library error.
constexpr long jpegMemoryLimit = 128L * 1024 * 1024;
// Real progressive files have about a dozen scans; a stream of thousands of tiny scans would
// make the library pass over the whole picture again for each.
constexpr int mostJpegScans = 100;
constexpr int jpegIconQuality = 70;

// The library's error handler must not return: it jumps back into the small reading function
// that set the jump point. Those functions hold no locals with destructors, so nothing is
// skipped that would need running.
struct JpegErrors
{
    jpeg_error_mgr manager;
    std::jmp_buf jumpBack;
    bool dataEndedEarly; // the library's warning that the data ran out inside the picture
};

[[noreturn]] void jumpBackOnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jumpBack, 1);
}

// Warnings and traces would go to stderr; damaged pictures are common and nothing is shown.
void stayQuiet(j_common_ptr /*info*/)
{
}

// Only warnings (level -1) are looked at: the one for data that ends inside the picture, after
// which the library makes up the missing rows in grey.
void noteDataEnd(j_common_ptr info, int level)
{
    if (level == -1 && info->err->msg_code == JWRN_JPEG_EOF)
        reinterpret_cast<JpegErrors*>(info->err)->dataEndedEarly = true;
}

void limitScans(j_common_ptr info)
{
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (info->is_decompressor && decompress->input_scan_number > mostJpegScans)
        jumpBackOnError(info);
}

struct JpegReading
{
    jpeg_decompress_struct info;
    JpegErrors errors;
    jpeg_progress_mgr progress;
    bool isCreated;
};

void useQuietErrors(JpegErrors& errors)
{
    jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jumpBackOnError;
    errors.manager.output_message = stayQuiet;
    errors.manager.emit_message = noteDataEnd;
}

bool readHeader(JpegReading& reading, const std::uint8_t* data, std::size_t size)
{
    reading.info.err = &reading.errors.manager;
    useQuietErrors(reading.errors);
    if (setjmp(reading.errors.jumpBack) != 0)
        return false;
    jpeg_create_decompress(&reading.info);
    reading.isCreated = true;
    reading.info.mem->max_memory_to_use = jpegMemoryLimit;
    reading.progress.progress_monitor = limitScans;
    reading.info.progress = &reading.progress;
    jpeg_mem_src(&reading.info, data, static_cast<unsigned long>(size));
    return jpeg_read_header(&reading.info, TRUE) == JPEG_HEADER_OK;
}

bool startDecompress(JpegReading& reading)
{
    if (setjmp(reading.errors.jumpBack) != 0)
        return false;
    return jpeg_start_decompress(&reading.info) != 0;
}

bool calcOutputSize(JpegReading& reading)
{
    if (setjmp(reading.errors.jumpBack) != 0)
        return false;
    jpeg_calc_output_dimensions(&reading.info);
    return true;
}

/// Reads one row into the buffer; false on a library error.
bool readRow(JpegReading& reading, JSAMPROW row)
{
    if (setjmp(reading.errors.jumpBack) != 0)
        return false;
    return jpeg_read_scanlines(&reading.info, &row, 1) == 1;
}

/// Owns the library's decompression state for the functions with destructors around it.
class JpegReader
{
  public:
    JpegReader() { std::memset(&m_reading, 0, sizeof m_reading); }
    ~JpegReader()
    {
        if (m_reading.isCreated)
            jpeg_destroy_decompress(&m_reading.info);
    }
    JpegReader(const JpegReader&) = delete;
    JpegReader& operator=(const JpegReader&) = delete;

    bool readHeader(std::span<const std::uint8_t> bytes)
    {
        return tagrelay::readHeader(m_reading, bytes.data(), bytes.size())
               && isAcceptedPictureSize(m_reading.info.image_width, m_reading.info.image_height);
    }
    JpegReading& reading() { return m_reading; }
    bool dataEndedEarly() const { return m_reading.errors.dataEndedEarly; }
    jpeg_decompress_struct& info() { return m_reading.info; }

  private:
    JpegReading m_reading;
};

bool isCmyk(const jpeg_decompress_struct& info)
{
    return info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
}

/// The largest reduction (1/8, 1/4, 1/2) that keeps both sides at least minSide; the library
/// rounds a reduced side up. libjpeg-turbo also decodes at 3/8, 5/8, 6/8 and 7/8, but those
/// inverse transforms have no vector code: a 500 x 500 cover decoded at 3/8 took as long as
/// at 1/2, and the pixels after it cost no less to shrink to the cover area.
unsigned int scaleDenominatorFor(const jpeg_decompress_struct& info, PixelNeed need)
{
    if (need.minSide <= 0)
        return 1;
    const auto minSide = static_cast<unsigned int>(need.minSide);
    for (unsigned int denominator : {8U, 4U, 2U}) {
        const unsigned int width = (info.image_width + denominator - 1) / denominator;
        const unsigned int height = (info.image_height + denominator - 1) / denominator;
        if (width >= minSide && height >= minSide)
            return denominator;
    }
    return 1;
}

/// Turns a row of CMYK samples into RGB in place (the RGB bytes end up in front). Adobe's
/// files, nearly all CMYK JPEGs, store the inks inverted (0 = full ink).
void convertCmykRow(std::uint8_t* row, std::size_t width, bool isInverted)
{
    for (std::size_t x = 0; x < width; ++x) {
        const std::uint8_t* cmyk = row + x * 4;
        unsigned int cyan = cmyk[0];
        unsigned int magenta = cmyk[1];
        unsigned int yellow = cmyk[2];
        unsigned int black = cmyk[3];
        if (!isInverted) {
            cyan = 255 - cyan;
            magenta = 255 - magenta;
            yellow = 255 - yellow;
            black = 255 - black;
        }
        std::uint8_t* rgb = row + x * 3;
        rgb[0] = static_cast<std::uint8_t>((cyan * black + 127) / 255);
        rgb[1] = static_cast<std::uint8_t>((magenta * black + 127) / 255);
        rgb[2] = static_cast<std::uint8_t>((yellow * black + 127) / 255);
    }
}

} // namespace

bool hasJpegSignature(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8;
}

std::optional<PictureHeader> readJpegHeader(std::span<const std::uint8_t> bytes)
{
    if (!hasJpegSignature(bytes))
        return std::nullopt;
    JpegReader reader;
    if (!reader.readHeader(bytes))
        return std::nullopt;
    return PictureHeader{static_cast<int>(reader.info().image_width),
                         static_cast<int>(reader.info().image_height), 24};
}

namespace {

/// decodeJpeg, telling in dataEndedEarly whether the library warned that the data ended inside
/// the picture.
std::optional<RgbImage> decodeJpegNoting(std::span<const std::uint8_t> bytes, PixelNeed need,
                                         bool& dataEndedEarly)
{
    dataEndedEarly = false;
    if (!hasJpegSignature(bytes))
        return std::nullopt;
    JpegReader reader;
    if (!reader.readHeader(bytes))
        return std::nullopt;
    jpeg_decompress_struct& info = reader.info();
    const int width = static_cast<int>(info.image_width);
    const int height = static_cast<int>(info.image_height);

    const bool cmyk = isCmyk(info);
    info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    info.scale_num = 1;
    info.scale_denom = scaleDenominatorFor(info, need);
    if (info.scale_denom > 1)
        info.do_fancy_upsampling = FALSE; // the blocks are averaged right after
    if (!calcOutputSize(reader.reading()))
        return ImageBuilder(width, height, need).finish();

    const int outWidth = static_cast<int>(info.output_width);
    const int outHeight = static_cast<int>(info.output_height);
    ImageBuilder builder(outWidth, outHeight, need);
    if (!startDecompress(reader.reading()) || info.output_components != (cmyk ? 4 : 3)) {
        dataEndedEarly = reader.dataEndedEarly(); // a progressive file reads all its scans here
        return builder.finish();
    }

    std::vector<std::uint8_t> row(static_cast<std::size_t>(outWidth) * 4);
    while (info.output_scanline < info.output_height) {
        const int y = static_cast<int>(info.output_scanline);
        if (!readRow(reader.reading(), row.data()))
            break;
        if (cmyk)
            convertCmykRow(row.data(), static_cast<std::size_t>(outWidth),
                           info.saw_Adobe_marker != 0);
        builder.putPixels(y, row.data());
    }
    dataEndedEarly = reader.dataEndedEarly();
    return builder.finish();
}

} // namespace

std::optional<RgbImage> decodeJpeg(std::span<const std::uint8_t> bytes, PixelNeed need)
{
    bool dataEndedEarly = false;
    return decodeJpegNoting(bytes, need, dataEndedEarly);
}

bool isJpegCutShort(std::span<const std::uint8_t> bytes)
{
    // Nearly every whole JPEG file ends in its end marker; only the others are decoded, at
    // the smallest scale, for the library to tell whether their data runs out.
    if (!hasJpegSignature(bytes) || (bytes[bytes.size() - 2] == 0xFF && bytes.back() == 0xD9))
        return false;
    bool dataEndedEarly = false;
    return decodeJpegNoting(bytes, PixelNeed{1}, dataEndedEarly) && dataEndedEarly;
}

namespace {

struct JpegWriting
{
    jpeg_compress_struct info;
    JpegErrors errors;
    unsigned char* buffer;
    unsigned long size;
    bool isCreated;
};

bool compressRows(JpegWriting& writing, const RgbImage& image)
{
    writing.info.err = &writing.errors.manager;
    useQuietErrors(writing.errors);
    if (setjmp(writing.errors.jumpBack) != 0)
        return false;
    jpeg_create_compress(&writing.info);
    writing.isCreated = true;
    jpeg_mem_dest(&writing.info, &writing.buffer, &writing.size);
    writing.info.image_width = static_cast<JDIMENSION>(image.width);
    writing.info.image_height = static_cast<JDIMENSION>(image.height);
    writing.info.input_components = 3;
    writing.info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&writing.info);
    jpeg_set_quality(&writing.info, jpegIconQuality, FALSE);
    jpeg_start_compress(&writing.info, TRUE);
    const std::size_t stride = static_cast<std::size_t>(image.width) * 3;
    while (writing.info.next_scanline < writing.info.image_height) {
        // The library takes rows as non-const pointers but only reads them.
        auto* row = const_cast<JSAMPLE*>(image.pixels.data() + writing.info.next_scanline * stride);
        jpeg_write_scanlines(&writing.info, &row, 1);
    }
    jpeg_finish_compress(&writing.info);
    return true;
}

} // namespace

std::vector<std::uint8_t> encodeJpeg(const RgbImage& image)
{
    if (image.width <= 0 || image.height <= 0
        || image.pixels.size()
               != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)
                      * 3)
        return {};
    JpegWriting writing;
    std::memset(&writing, 0, sizeof writing);
    const bool isDone = compressRows(writing, image);
    std::vector<std::uint8_t> bytes;
    if (isDone && writing.buffer != nullptr)
        bytes.assign(writing.buffer, writing.buffer + writing.size);
    if (writing.isCreated)
        jpeg_destroy_compress(&writing.info);
    std::free(writing.buffer);
    return bytes;
}

} // namespace tagrelay
