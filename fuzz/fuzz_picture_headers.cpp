// Fuzzes the header readers of our own of PNG (IHDR), GIF, WebP, TIFF and HEIF, and the facts
// the picture service takes from them by content.

#include "fuzz_input.h"
#include "picture/heif_header.h"
#include "picture/picture_headers.h"
#include "picture/picture_service.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tagrelay;
    const std::span<const std::uint8_t> bytes(data, size);
    const std::array readers = {readPngIhdr, readGifHeader, readWebpHeader, readTiffHeader,
                                readHeifHeader};
    int accepted = 0;
    for (const auto read : readers) {
        const auto header = read(bytes);
        if (!header)
            continue;
        ++accepted;
        if (!isAcceptedPictureSize(header->width, header->height)
            || (header->bitsPerPixel != 24 && header->bitsPerPixel != 32))
            fuzz::fail("a header outside the accepted sizes or depths");
    }
    // The signatures exclude each other: no bytes are two of these formats.
    if (accepted > 1)
        fuzz::fail("bytes read as two formats");
    const PictureFacts facts =
        readPictureFacts(bytes, PictureOrigin::File, noScreenDepth, PictureFormatSet::Extended);
    if (accepted == 1 && facts.width == 0)
        fuzz::fail("a header the service does not describe");
    // Cut anywhere, the bytes may hold less but never crash the readers.
    for (const auto read : readers)
        (void)read(bytes.first(size / 2));
    return 0;
}
