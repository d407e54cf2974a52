#include "picture/library_decoders.h"

#ifdef TAGRELAY_WITH_GIF

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace tagrelay {

namespace {

struct MemorySource
{
    std::span<const std::uint8_t> bytes;
    std::size_t at = 0;
};

int readFromMemory(GifFileType* gif, GifByteType* out, int wanted)
{
    auto* source = static_cast<MemorySource*>(gif->UserData);
    const std::size_t count =
        std::min(static_cast<std::size_t>(std::max(wanted, 0)), source->bytes.size() - source->at);
    std::memcpy(out, source->bytes.data() + source->at, count);
    source->at += count;
    return static_cast<int>(count);
}

struct GifCloser
{
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

/// Skips records up to the first image's descriptor. False at the end of the data or damage.
bool reachFirstImage(GifFileType* gif)
{
    // A GIF is a sequence of records; more extensions than this before a picture is damage.
    for (int records = 0; records < 65536; ++records) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR)
            return false;
        if (type == IMAGE_DESC_RECORD_TYPE)
            return DGifGetImageDesc(gif) != GIF_ERROR;
        if (type != EXTENSION_RECORD_TYPE)
            return false;
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
            return false;
        while (block != nullptr) {
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                return false;
        }
    }
    return false;
}

std::optional<RgbImage> decodeGif(std::span<const std::uint8_t> bytes, PixelNeed need)
{
    MemorySource source{bytes};
    int error = 0;
    GifHandle gif(DGifOpen(&source, readFromMemory, &error));
    if (!gif || gif->SWidth < 1 || gif->SHeight < 1 || !reachFirstImage(gif.get()))
        return std::nullopt;
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (colours == nullptr || colours->Colors == nullptr || frame.Width < 1 || frame.Height < 1
        || frame.Left < 0 || frame.Top < 0)
        return std::nullopt;

    // The first frame on the logical screen; what it does not cover stays black.
    const int width = gif->SWidth;
    const int height = gif->SHeight;
    ImageBuilder builder(width, height, need);
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * 3, 0);
    const int visibleColumns = std::clamp(width - frame.Left, 0, frame.Width);
    // Interlaced rows come in four passes: every 8th from 0, every 8th from 4, every 4th
    // from 2, every 2nd from 1.
    static constexpr std::array<int, 4> passStart = {0, 4, 2, 1};
    static constexpr std::array<int, 4> passStep = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int first = frame.Interlace ? passStart[static_cast<std::size_t>(pass)] : 0;
        const int step = frame.Interlace ? passStep[static_cast<std::size_t>(pass)] : 1;
        for (int row = first; row < frame.Height; row += step) {
            const int y = frame.Top + row;
            // Rows below the screen are never shown: the frame is done with the last visible.
            if (!frame.Interlace && y >= height)
                return builder.finish();
            if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
                // A file that ends inside its picture is not loaded, as a JPEG cut short is
                // not; damaged data leaves the rest black, as for damaged JPEG data.
                if (gif->Error == D_GIF_ERR_READ_FAILED)
                    return std::nullopt;
                return builder.finish();
            }
            if (y >= height)
                continue;
            for (int x = 0; x < visibleColumns; ++x) {
                const int index = line[static_cast<std::size_t>(x)];
                // An index past the colour table shows black.
                const GifColorType colour =
                    index < colours->ColorCount ? colours->Colors[index] : GifColorType{0, 0, 0};
                std::uint8_t* pixel = rgb.data() + static_cast<std::size_t>(frame.Left + x) * 3;
                pixel[0] = colour.Red;
                pixel[1] = colour.Green;
                pixel[2] = colour.Blue;
            }
            builder.putPixels(y, rgb.data());
        }
    }
    return builder.finish();
}

} // namespace

PictureDecoder gifDecoder()
{
    return decodeGif;
}

} // namespace tagrelay

#else

namespace tagrelay {
PictureDecoder gifDecoder()
{
    return nullptr;
}
} // namespace tagrelay

#endif
