// Fuzzes the header readers of our own of PNG (IHDR), GIF, WebP, TIFF and HEIF, and the facts
// the picture service takes from them by content. The TIFF and HEIF readers also read the
// input by place from a file, with a start of it read already whose length the input's last
// byte chooses: they must give what they give over the bytes.

#include "fuzz_input.h"
#include "picture/heif_header.h"
#include "picture/picture_headers.h"
#include "picture/picture_service.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace {

bool isSame(const std::optional<tagrelay::PictureHeader>& a,
            const std::optional<tagrelay::PictureHeader>& b)
{
    return a.has_value() == b.has_value()
           && (!a
               || (a->width == b->width && a->height == b->height
                   && a->bitsPerPixel == b->bitsPerPixel));
}

} // namespace

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
    static fuzz::InputFile input;
    const int fd = ::open(input.hold(data, size).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fuzz::fail("the input file cannot be opened");
    const std::size_t startSize = size == 0 ? 0 : std::min<std::size_t>(size, data[size - 1] * 8U);
    FileRanges tiffFile(fd, size, bytes.first(startSize));
    FileRanges heifFile(fd, size, bytes.first(startSize));
    const bool sameByPlace = isSame(readTiffHeaderFrom(tiffFile), readTiffHeader(bytes))
                             && isSame(readHeifHeaderFrom(heifFile), readHeifHeader(bytes));
    const PictureFacts fileFacts =
        readOpenPictureFacts(fd, noScreenDepth, PictureFormatSet::Extended);
    ::close(fd);
    if (!sameByPlace)
        fuzz::fail("a header read by place differs from the one read from the bytes");
    if (fileFacts.width != facts.width || fileFacts.height != facts.height
        || fileFacts.depth != facts.depth)
        fuzz::fail("the facts of the file differ from those of its bytes");
    // Cut anywhere, the bytes may hold less but never crash the readers.
    for (const auto read : readers)
        (void)read(bytes.first(size / 2));
    return 0;
}
