// Fuzzes the BMP reader: headers, palettes, bit fields, run-length streams, on any bytes that
// start like a BMP file.

#include "fuzz_input.h"
#include "picture/bmp_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    const auto header = tagrelay::readBmpHeader(bytes);
    const auto reduced = tagrelay::decodeBmp(bytes, tagrelay::PixelNeed{48});
    if (header.has_value() != reduced.has_value())
        tagrelay::fuzz::fail("the header and the decoder disagree on what is a BMP");
    if (!header)
        return 0;
    if (reduced->width < 1 || reduced->width > header->width || reduced->height < 1
        || reduced->height > header->height
        || reduced->pixels.size()
               != static_cast<std::size_t>(reduced->width)
                      * static_cast<std::size_t>(reduced->height) * 3)
        tagrelay::fuzz::fail("the reduced picture has an impossible size");
    // The whole picture only while it stays small: large ones are for the reduced path.
    if (static_cast<std::int64_t>(header->width) * header->height <= 4'000'000) {
        const auto whole = tagrelay::decodeBmp(bytes, tagrelay::wholePicture);
        if (!whole || whole->width != header->width || whole->height != header->height)
            tagrelay::fuzz::fail("the whole picture is not as large as its header");
    }
    return 0;
}
