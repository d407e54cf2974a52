#include "picture/library_decoders.h"

#ifdef TAGRELAY_WITH_TIFF

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace tagrelay {

namespace {

// The most the library may allocate at once (a strip, a tile, a table); the largest
// uncompressed 8-bit RGBA strip of the widest accepted picture is 256 KiB a row.
constexpr tmsize_t largestTiffAllocation = 64 * 1024 * 1024;
// Larger pictures are converted this many rows at a time into a raster of RGBA words.
constexpr std::int64_t largestTiffRaster = 64 * 1024 * 1024;
constexpr int rowsInAPiece = 64;

struct MemoryFile
{
    std::span<const std::uint8_t> bytes;
    std::uint64_t at = 0;
};

tmsize_t readMemory(thandle_t handle, void* out, tmsize_t size)
{
    auto* file = static_cast<MemoryFile*>(handle);
    if (size <= 0 || file->at >= file->bytes.size())
        return 0;
    const auto count =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(size), file->bytes.size() - file->at);
    std::memcpy(out, file->bytes.data() + file->at, static_cast<std::size_t>(count));
    file->at += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t writeNothing(thandle_t /*handle*/, void* /*data*/, tmsize_t /*size*/)
{
    return 0;
}

toff_t seekMemory(thandle_t handle, toff_t offset, int whence)
{
    auto* file = static_cast<MemoryFile*>(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = file->at;
    else if (whence == SEEK_END)
        base = file->bytes.size();
    file->at = base + offset;
    return file->at;
}

int closeNothing(thandle_t /*handle*/)
{
    return 0;
}

toff_t sizeOfMemory(thandle_t handle)
{
    return static_cast<MemoryFile*>(handle)->bytes.size();
}

// The bytes are handed to the library as a mapped file: it reads strips and tiles in place
// (its own reads of a file it does not map refuse some tiles that it reads mapped).
int mapMemory(thandle_t handle, void** base, toff_t* size)
{
    auto* file = static_cast<MemoryFile*>(handle);
    *base = const_cast<std::uint8_t*>(file->bytes.data());
    *size = file->bytes.size();
    return 1;
}

void unmapNothing(thandle_t /*handle*/, void* /*base*/, toff_t /*size*/)
{
}

int ignoreMessage(TIFF* /*tiff*/, void* /*data*/, const char* /*module*/, const char* /*format*/,
                  va_list /*arguments*/)
{
    return 1; // handled: nothing goes to the standard error
}

struct TiffCloser
{
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

std::optional<RgbImage> decodeTiff(std::span<const std::uint8_t> bytes, PixelNeed need)
{
    MemoryFile file{bytes};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr)
        return std::nullopt;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, largestTiffAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options, ignoreMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreMessage, nullptr);
    std::unique_ptr<TIFF, TiffCloser> tiff(
        TIFFClientOpenExt("picture", "r", &file, readMemory, writeNothing, seekMemory, closeNothing,
                          sizeOfMemory, mapMemory, unmapNothing, options));
    TIFFOpenOptionsFree(options);
    if (!tiff)
        return std::nullopt;
    char message[1024] = {};
    TIFFRGBAImage picture;
    if (TIFFRGBAImageOK(tiff.get(), message) == 0
        || TIFFRGBAImageBegin(&picture, tiff.get(), 0, message) == 0)
        return std::nullopt;
    const int width = static_cast<int>(picture.width);
    const int height = static_cast<int>(picture.height);
    if (!isAcceptedPictureSize(width, height)) {
        TIFFRGBAImageEnd(&picture);
        return std::nullopt;
    }
    picture.req_orientation = ORIENTATION_TOPLEFT;
    ImageBuilder builder(width, height, need);
    // The library decodes every strip a call touches again: a picture of one large strip read
    // in pieces would be decoded once per piece. Pictures up to the raster cap are read whole.
    const std::int64_t wholeRaster = static_cast<std::int64_t>(width) * height * 4;
    const int rowsAtATime = wholeRaster <= largestTiffRaster ? height : rowsInAPiece;
    std::vector<std::uint32_t> raster(static_cast<std::size_t>(width)
                                      * static_cast<std::size_t>(rowsAtATime));
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * 3);
    bool isWhole = true;
    for (int top = 0; top < height && isWhole; top += rowsAtATime) {
        const int rows = std::min(rowsAtATime, height - top);
        picture.row_offset = top;
        picture.col_offset = 0;
        isWhole = TIFFRGBAImageGet(&picture, raster.data(), static_cast<std::uint32_t>(width),
                                   static_cast<std::uint32_t>(rows))
                  != 0;
        for (int y = 0; y < rows; ++y) {
            const std::uint32_t* row = raster.data() + static_cast<std::size_t>(y) * width;
            for (int x = 0; x < width; ++x) {
                std::uint8_t* pixel = rgb.data() + static_cast<std::size_t>(x) * 3;
                // The library multiplies the colours by an unassociated alpha; the icon
                // drops the alpha, as for PNG, so the colours are divided back.
                const std::uint32_t alpha = TIFFGetA(row[x]);
                const auto colour = [alpha](std::uint32_t value) {
                    if (alpha == 0 || alpha == 255)
                        return static_cast<std::uint8_t>(value);
                    return static_cast<std::uint8_t>(
                        std::min<std::uint32_t>(255, (value * 255 + alpha / 2) / alpha));
                };
                pixel[0] = colour(TIFFGetR(row[x]));
                pixel[1] = colour(TIFFGetG(row[x]));
                pixel[2] = colour(TIFFGetB(row[x]));
            }
            builder.putPixels(top + y, rgb.data());
        }
    }
    TIFFRGBAImageEnd(&picture);
    // Damaged strips leave the rest black, as for damaged JPEG data.
    return builder.finish();
}

} // namespace

PictureDecoder tiffDecoder()
{
    return decodeTiff;
}

} // namespace tagrelay

#else

namespace tagrelay {
PictureDecoder tiffDecoder()
{
    return nullptr;
}
} // namespace tagrelay

#endif
