// Fuzzes the HEIF (HEIC and AVIF) decoder over its library behind our header reader.

#include "picture/heif_header.h"
#include "picture_decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return tagrelay::fuzz::fuzzDecoder(tagrelay::readHeifHeader, tagrelay::heifDecoder(), data,
                                       size);
}
