#include "support/picture_bytes.h"

// jpeglib.h needs size_t and FILE declared before it.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstring>

namespace tagrelay::test {

namespace {

void putU16Le(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putU32Le(Bytes& out, std::uint32_t value)
{
    putU16Le(out, value & 0xFFFF);
    putU16Le(out, value >> 16);
}

void putU32Be(Bytes& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void setU32Be(Bytes& bytes, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

std::vector<Rgb> distinctColours(const RgbImage& image)
{
    std::vector<Rgb> colours;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const Rgb colour = pixelAt(image, x, y);
            if (std::find(colours.begin(), colours.end(), colour) == colours.end())
                colours.push_back(colour);
        }
    }
    return colours;
}

std::uint32_t indexOf(const std::vector<Rgb>& palette, Rgb colour)
{
    return static_cast<std::uint32_t>(std::find(palette.begin(), palette.end(), colour)
                                      - palette.begin());
}

/// An 8-bit channel placed into the bits of a mask.
std::uint32_t intoMask(std::uint8_t value, std::uint32_t mask)
{
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const std::uint32_t largest = mask >> shift;
    return ((value * largest + 127) / 255) << shift;
}

std::array<std::uint32_t, 3> defaultMasks(int bitCount)
{
    if (bitCount == 16)
        return {0x7C00, 0x03E0, 0x001F};
    return {0xFF0000, 0x00FF00, 0x0000FF};
}

/// One stored row, padded to 4 bytes.
Bytes packedRow(const RgbImage& image, int y, int bitCount, const std::vector<Rgb>& palette,
                const std::array<std::uint32_t, 3>& masks)
{
    Bytes row((static_cast<std::size_t>(image.width) * static_cast<std::size_t>(bitCount) + 31) / 32
              * 4);
    for (int x = 0; x < image.width; ++x) {
        const Rgb colour = pixelAt(image, x, y);
        const auto ux = static_cast<std::size_t>(x);
        if (bitCount <= 8) {
            const std::size_t bit = ux * static_cast<std::size_t>(bitCount);
            row[bit / 8] = static_cast<std::uint8_t>(
                row[bit / 8] | indexOf(palette, colour) << (8 - bitCount - bit % 8));
        } else if (bitCount == 24) {
            row[ux * 3] = colour[2];
            row[ux * 3 + 1] = colour[1];
            row[ux * 3 + 2] = colour[0];
        } else {
            const std::uint32_t value = intoMask(colour[0], masks[0])
                                        | intoMask(colour[1], masks[1])
                                        | intoMask(colour[2], masks[2]);
            const std::size_t size = static_cast<std::size_t>(bitCount / 8);
            for (std::size_t i = 0; i < size; ++i)
                row[ux * size + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }
    return row;
}

/// A row as run-length data: the first three pixels literal, the rest in repeat runs.
Bytes runLengthRow(const RgbImage& image, int y, bool isRle4, const std::vector<Rgb>& palette)
{
    Bytes out;
    std::vector<std::uint8_t> indexes;
    for (int x = 0; x < image.width; ++x)
        indexes.push_back(static_cast<std::uint8_t>(indexOf(palette, pixelAt(image, x, y))));
    std::size_t x = 0;
    if (indexes.size() >= 3) {
        out.insert(out.end(), {0, 3});
        if (isRle4) {
            out.push_back(static_cast<std::uint8_t>(indexes[0] << 4 | indexes[1]));
            out.push_back(static_cast<std::uint8_t>(indexes[2] << 4));
        } else {
            out.insert(out.end(), {indexes[0], indexes[1], indexes[2], 0});
        }
        x = 3;
    }
    while (x < indexes.size()) {
        std::size_t run = 1;
        while (x + run < indexes.size() && indexes[x + run] == indexes[x] && run < 255)
            ++run;
        out.push_back(static_cast<std::uint8_t>(run));
        out.push_back(isRle4 ? static_cast<std::uint8_t>(indexes[x] << 4 | indexes[x])
                             : indexes[x]);
        x += run;
    }
    out.insert(out.end(), {0, 0});
    return out;
}

void appendChunk(Bytes& png, const char* type, const Bytes& data)
{
    putU32Be(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    const uLong crc = crc32(0, png.data() + typeAt, static_cast<uInt>(data.size() + 4));
    putU32Be(png, static_cast<std::uint32_t>(crc));
}

/// A PNG row's samples (without the filter byte) for the pixels x = first, first + step, ...
Bytes pngRowSamples(const RgbImage& image, int y, int first, int step, const PngLayout& layout,
                    const std::vector<Rgb>& palette)
{
    std::vector<std::uint32_t> samples;
    for (int x = first; x < image.width; x += step) {
        const Rgb colour = pixelAt(image, x, y);
        switch (layout.colourType) {
        case 0:
            samples.push_back(colour[0]);
            break;
        case 2:
            samples.insert(samples.end(), {colour[0], colour[1], colour[2]});
            break;
        case 3:
            samples.push_back(indexOf(palette, colour));
            break;
        case 4:
            samples.insert(samples.end(), {colour[0], 128});
            break;
        default:
            samples.insert(samples.end(), {colour[0], colour[1], colour[2], 128});
            break;
        }
    }
    Bytes out;
    if (layout.bitDepth == 16) {
        for (const std::uint32_t sample : samples) {
            out.push_back(static_cast<std::uint8_t>(sample));
            out.push_back(static_cast<std::uint8_t>(sample));
        }
        return out;
    }
    if (layout.bitDepth == 8) {
        for (const std::uint32_t sample : samples)
            out.push_back(static_cast<std::uint8_t>(sample));
        return out;
    }
    const auto depth = static_cast<std::size_t>(layout.bitDepth);
    out.assign((samples.size() * depth + 7) / 8, 0);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::uint32_t value =
            layout.colourType == 3 ? samples[i] : samples[i] >> (8 - layout.bitDepth);
        const std::size_t bit = i * depth;
        out[bit / 8] = static_cast<std::uint8_t>(out[bit / 8] | value << (8 - depth - bit % 8));
    }
    return out;
}

struct JpegTestErrors
{
    jpeg_error_mgr manager;
    std::jmp_buf jumpBack;
};

[[noreturn]] void jumpBackOnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegTestErrors*>(info->err)->jumpBack, 1);
}

struct JpegTestReading
{
    jpeg_decompress_struct info;
    JpegTestErrors errors;
};

bool readJpegHeaderForTest(JpegTestReading& reading, const Bytes& jpeg)
{
    reading.info.err = jpeg_std_error(&reading.errors.manager);
    reading.errors.manager.error_exit = jumpBackOnError;
    if (setjmp(reading.errors.jumpBack) != 0)
        return false;
    jpeg_create_decompress(&reading.info);
    jpeg_mem_src(&reading.info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    return jpeg_read_header(&reading.info, TRUE) == JPEG_HEADER_OK;
}

bool readJpegPixelsForTest(JpegTestReading& reading, std::uint8_t* pixels)
{
    if (setjmp(reading.errors.jumpBack) != 0)
        return false;
    reading.info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&reading.info);
    while (reading.info.output_scanline < reading.info.output_height) {
        JSAMPROW row = pixels + reading.info.output_scanline * reading.info.output_width * 3;
        jpeg_read_scanlines(&reading.info, &row, 1);
    }
    jpeg_finish_decompress(&reading.info);
    return true;
}

} // namespace

RgbImage solidImage(int width, int height, Rgb colour)
{
    return paintedImage(width, height, [&](int, int) { return colour; });
}

Rgb pixelAt(const RgbImage& image, int x, int y)
{
    const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width)
                            + static_cast<std::size_t>(x))
                           * 3;
    return {image.pixels[at], image.pixels[at + 1], image.pixels[at + 2]};
}

Bytes bmpFile(const RgbImage& image, const BmpLayout& layout)
{
    const bool isRle = layout.compression == 1 || layout.compression == 2;
    const std::vector<Rgb> palette =
        layout.bitCount <= 8 ? distinctColours(image) : std::vector<Rgb>{};
    const auto masks = layout.compression == 3 ? layout.masks : defaultMasks(layout.bitCount);
    Bytes header;
    putU32Le(header, layout.headerSize);
    if (layout.headerSize == 12) {
        putU16Le(header, static_cast<std::uint32_t>(image.width));
        putU16Le(header, static_cast<std::uint32_t>(image.height));
        putU16Le(header, 1);
        putU16Le(header, static_cast<std::uint32_t>(layout.bitCount));
    } else {
        putU32Le(header, static_cast<std::uint32_t>(image.width));
        putU32Le(header,
                 static_cast<std::uint32_t>(layout.isTopDown ? -image.height : image.height));
        putU16Le(header, 1);
        putU16Le(header, static_cast<std::uint32_t>(layout.bitCount));
        putU32Le(header, layout.compression);
        putU32Le(header, 0);    // image size: may be 0 without compression
        putU32Le(header, 2835); // 72 dpi
        putU32Le(header, 2835);
        putU32Le(header, static_cast<std::uint32_t>(palette.size())); // colours used
        putU32Le(header, 0);                                          // important colours
        if (layout.compression == 3 || layout.headerSize > 40) {
            for (const std::uint32_t mask : masks)
                putU32Le(header, layout.compression == 3 ? mask : 0);
        }
        header.resize(layout.headerSize == 40 && layout.compression == 3 ? 52 : layout.headerSize);
    }
    for (const Rgb& colour : palette) {
        header.insert(header.end(), {colour[2], colour[1], colour[0]});
        if (layout.headerSize != 12)
            header.push_back(0);
    }
    // A core header has no colour count: its palette always has 2^bitCount entries.
    if (layout.headerSize == 12 && layout.bitCount <= 8)
        header.resize(header.size() + 3 * ((std::size_t{1} << layout.bitCount) - palette.size()));
    Bytes rows;
    for (int stored = 0; stored < image.height; ++stored) {
        const int y = layout.isTopDown ? stored : image.height - 1 - stored;
        const Bytes row = isRle ? runLengthRow(image, y, layout.compression == 2, palette)
                                : packedRow(image, y, layout.bitCount, palette, masks);
        rows.insert(rows.end(), row.begin(), row.end());
    }
    if (isRle)
        rows.insert(rows.end(), {0, 1});
    Bytes file{'B', 'M'};
    putU32Le(file, static_cast<std::uint32_t>(14 + header.size() + rows.size()));
    putU32Le(file, 0);
    putU32Le(file, static_cast<std::uint32_t>(14 + header.size()));
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), rows.begin(), rows.end());
    return file;
}

Bytes bmpHeaderOnly(std::int32_t width, std::int32_t height, int bitCount,
                    std::uint32_t compression, std::size_t pixelBytes)
{
    Bytes file{'B', 'M'};
    putU32Le(file, static_cast<std::uint32_t>(54 + pixelBytes));
    putU32Le(file, 0);
    putU32Le(file, 54 + (bitCount <= 8 ? 4U << bitCount : 0U));
    putU32Le(file, 40);
    putU32Le(file, static_cast<std::uint32_t>(width));
    putU32Le(file, static_cast<std::uint32_t>(height));
    putU16Le(file, 1);
    putU16Le(file, static_cast<std::uint32_t>(bitCount));
    putU32Le(file, compression);
    file.resize(54 + (bitCount <= 8 ? 4U << bitCount : 0U) + pixelBytes, 0);
    return file;
}

Bytes pngFile(const RgbImage& image, const PngLayout& layout)
{
    const std::vector<Rgb> palette =
        layout.colourType == 3 ? distinctColours(image) : std::vector<Rgb>{};
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    putU32Be(header, static_cast<std::uint32_t>(image.width));
    putU32Be(header, static_cast<std::uint32_t>(image.height));
    header.insert(header.end(), {static_cast<std::uint8_t>(layout.bitDepth),
                                 static_cast<std::uint8_t>(layout.colourType), 0, 0,
                                 static_cast<std::uint8_t>(layout.isInterlaced ? 1 : 0)});
    appendChunk(png, "IHDR", header);
    if (!palette.empty()) {
        Bytes entries;
        for (const Rgb& colour : palette)
            entries.insert(entries.end(), colour.begin(), colour.end());
        appendChunk(png, "PLTE", entries);
    }
    Bytes raw;
    auto addRows = [&](int firstRow, int rowStep, int firstColumn, int columnStep) {
        if (firstColumn >= image.width)
            return;
        for (int y = firstRow; y < image.height; y += rowStep) {
            raw.push_back(0); // filter type 0
            const Bytes samples = pngRowSamples(image, y, firstColumn, columnStep, layout, palette);
            raw.insert(raw.end(), samples.begin(), samples.end());
        }
    };
    if (layout.isInterlaced) {
        constexpr int passes[7][4] = {{0, 8, 0, 8}, {0, 8, 4, 8}, {4, 8, 0, 4}, {0, 4, 2, 4},
                                      {2, 4, 0, 2}, {0, 2, 1, 2}, {1, 2, 0, 1}};
        for (const auto& pass : passes)
            addRows(pass[0], pass[1], pass[2], pass[3]);
    } else {
        addRows(0, 1, 0, 1);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(packedSize);
    compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6);
    packed.resize(packedSize);
    appendChunk(png, "IDAT", packed);
    appendChunk(png, "IEND", {});
    return png;
}

Bytes withPngSize(Bytes png, std::uint32_t width, std::uint32_t height)
{
    setU32Be(png, 16, width);
    setU32Be(png, 20, height);
    setU32Be(png, 29, static_cast<std::uint32_t>(crc32(0, png.data() + 12, 17)));
    return png;
}

Bytes jpegFile(const RgbImage& image, JpegColour colour, bool isProgressive)
{
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(image.width);
    info.image_height = static_cast<JDIMENSION>(image.height);
    const bool isCmyk = colour == JpegColour::AdobeCmyk || colour == JpegColour::AdobeYcck;
    info.input_components = colour == JpegColour::Grey ? 1 : isCmyk ? 4 : 3;
    info.in_color_space = colour == JpegColour::Grey ? JCS_GRAYSCALE : isCmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    if (colour == JpegColour::AdobeYcck)
        jpeg_set_colorspace(&info, JCS_YCCK);
    jpeg_set_quality(&info, 95, TRUE);
    if (isProgressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    Bytes row(static_cast<std::size_t>(image.width) * 4);
    while (info.next_scanline < info.image_height) {
        const int y = static_cast<int>(info.next_scanline);
        for (int x = 0; x < image.width; ++x) {
            const Rgb rgb = pixelAt(image, x, y);
            const auto ux = static_cast<std::size_t>(x);
            if (colour == JpegColour::Grey) {
                row[ux] = rgb[0];
            } else if (!isCmyk) {
                std::copy(rgb.begin(), rgb.end(), row.begin() + static_cast<long>(ux * 3));
            } else {
                // Inks from RGB; Adobe stores each ink inverted (255 = no ink).
                const int brightest = std::max({rgb[0], rgb[1], rgb[2]});
                for (std::size_t c = 0; c < 3; ++c) {
                    const int ink = brightest == 0 ? 0 : 255 - rgb[c] * 255 / brightest;
                    row[ux * 4 + c] = static_cast<std::uint8_t>(255 - ink);
                }
                row[ux * 4 + 3] = static_cast<std::uint8_t>(brightest);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes jpeg(buffer, buffer + size);
    std::free(buffer);
    return jpeg;
}

Bytes withJpegSize(Bytes jpeg, std::uint16_t width, std::uint16_t height)
{
    for (std::size_t at = 2; at + 9 < jpeg.size(); ++at) {
        if (jpeg[at] == 0xFF && (jpeg[at + 1] == 0xC0 || jpeg[at + 1] == 0xC2)) {
            jpeg[at + 5] = static_cast<std::uint8_t>(height >> 8);
            jpeg[at + 6] = static_cast<std::uint8_t>(height);
            jpeg[at + 7] = static_cast<std::uint8_t>(width >> 8);
            jpeg[at + 8] = static_cast<std::uint8_t>(width);
            break;
        }
    }
    return jpeg;
}

std::optional<JpegReadback> readBackJpeg(const Bytes& jpeg)
{
    JpegTestReading reading;
    std::memset(&reading, 0, sizeof reading);
    std::optional<JpegReadback> result;
    if (readJpegHeaderForTest(reading, jpeg)) {
        JpegReadback back;
        back.width = static_cast<int>(reading.info.image_width);
        back.height = static_cast<int>(reading.info.image_height);
        back.components = reading.info.num_components;
        back.isJfif = reading.info.saw_JFIF_marker != 0;
        back.isProgressive = reading.info.progressive_mode != 0;
        if (reading.info.quant_tbl_ptrs[0] != nullptr)
            back.firstLuminanceQuantiser = reading.info.quant_tbl_ptrs[0]->quantval[0];
        back.image = RgbImage{back.width, back.height,
                              Bytes(static_cast<std::size_t>(back.width)
                                    * static_cast<std::size_t>(back.height) * 3)};
        if (readJpegPixelsForTest(reading, back.image.pixels.data()))
            result = std::move(back);
    }
    jpeg_destroy_decompress(&reading.info);
    return result;
}

Bytes iconFile(const Bytes& image)
{
    Bytes file;
    putU16Le(file, 0); // reserved
    putU16Le(file, 1); // icon
    putU16Le(file, 1); // one image
    file.insert(file.end(), {16, 16, 0, 0});
    putU16Le(file, 1);  // planes
    putU16Le(file, 32); // bit count
    putU32Le(file, static_cast<std::uint32_t>(image.size()));
    putU32Le(file, 22); // the image right behind this entry
    file.insert(file.end(), image.begin(), image.end());
    return file;
}

Bytes iconBitmapWithMask(const RgbImage& image, int bitCount,
                         const std::vector<std::vector<bool>>& mask)
{
    const std::vector<Rgb> palette = bitCount <= 8 ? distinctColours(image) : std::vector<Rgb>{};
    Bytes bytes;
    putU32Le(bytes, 40);
    putU32Le(bytes, static_cast<std::uint32_t>(image.width));
    putU32Le(bytes, static_cast<std::uint32_t>(image.height * 2));
    putU16Le(bytes, 1);
    putU16Le(bytes, static_cast<std::uint32_t>(bitCount));
    putU32Le(bytes, 0);
    bytes.resize(32, 0);
    putU32Le(bytes, static_cast<std::uint32_t>(palette.size()));
    putU32Le(bytes, 0);
    for (const Rgb& colour : palette)
        bytes.insert(bytes.end(), {colour[2], colour[1], colour[0], 0});
    for (int y = image.height - 1; y >= 0; --y) {
        const Bytes row = packedRow(image, y, bitCount, palette, defaultMasks(bitCount));
        bytes.insert(bytes.end(), row.begin(), row.end());
    }
    const std::size_t maskStride = (static_cast<std::size_t>(image.width) + 31) / 32 * 4;
    for (int y = image.height - 1; y >= 0; --y) {
        Bytes row(maskStride, 0);
        for (std::size_t x = 0; x < static_cast<std::size_t>(image.width); ++x) {
            if (mask[static_cast<std::size_t>(y)][x])
                row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | 0x80U >> (x % 8));
        }
        bytes.insert(bytes.end(), row.begin(), row.end());
    }
    return bytes;
}

std::vector<PngChunk> pngChunks(const Bytes& png)
{
    std::vector<PngChunk> chunks;
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        const std::size_t length = static_cast<std::size_t>(png[at]) << 24
                                   | static_cast<std::size_t>(png[at + 1]) << 16
                                   | static_cast<std::size_t>(png[at + 2]) << 8 | png[at + 3];
        if (at + 12 + length > png.size())
            break;
        PngChunk chunk;
        std::copy(png.begin() + static_cast<long>(at + 4), png.begin() + static_cast<long>(at + 8),
                  chunk.type.begin());
        chunk.data.assign(png.begin() + static_cast<long>(at + 8),
                          png.begin() + static_cast<long>(at + 8 + length));
        chunks.push_back(std::move(chunk));
        at += 12 + length;
    }
    return chunks;
}

std::optional<Bytes> inflateZlib(const Bytes& data)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return std::nullopt;
    Bytes out;
    Bytes buffer(64 * 1024);
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
        status = inflate(&stream, Z_NO_FLUSH);
        out.insert(out.end(), buffer.data(), stream.next_out);
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        return std::nullopt;
    return out;
}

} // namespace tagrelay::test
