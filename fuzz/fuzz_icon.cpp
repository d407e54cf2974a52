// Fuzzes the icon reader: the directory, the first image as PNG or as a bitmap with its mask.

#include "fuzz_input.h"
#include "picture/ico_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    const auto header = tagrelay::readIconHeader(bytes);
    const auto image = tagrelay::decodeIcon(bytes, tagrelay::PixelNeed{48});
    if (header.has_value() != image.has_value())
        tagrelay::fuzz::fail("the header and the decoder disagree on what is an icon");
    if (header && (image->width > header->width || image->height > header->height))
        tagrelay::fuzz::fail("the icon's pixels are larger than its header");
    return 0;
}
