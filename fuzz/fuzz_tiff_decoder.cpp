// Fuzzes the TIFF decoder over its library behind our header reader.

#include "picture/picture_headers.h"
#include "picture_decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return tagrelay::fuzz::fuzzDecoder(tagrelay::readTiffHeader, tagrelay::tiffDecoder(), data,
                                       size);
}
