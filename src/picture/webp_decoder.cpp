#include "picture/library_decoders.h"

#ifdef TAGRELAY_WITH_WEBP

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace tagrelay {

namespace {

// Decoded for an icon, a picture's shorter side is scaled by the library to this multiple of
// the side asked for (as the image builder keeps a reduced copy), never below 64 pixels.
int scaledShortSide(int minSide)
{
    return std::max(2 * minSide, 64);
}

/// Hands rows of RGB or RGBA pixels to the builder.
void putRows(ImageBuilder& builder, const std::uint8_t* pixels, int width, int height, int stride,
             int channels)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        if (channels == 3) {
            builder.putPixels(y, row);
            continue;
        }
        for (int x = 0; x < width; ++x)
            std::copy_n(row + static_cast<std::ptrdiff_t>(x) * channels, 3,
                        rgb.begin() + static_cast<std::ptrdiff_t>(x) * 3);
        builder.putPixels(y, rgb.data());
    }
}

/// The first frame of an animation, put together on its canvas by the library.
std::optional<RgbImage> decodeFirstFrame(std::span<const std::uint8_t> bytes, PixelNeed need)
{
    const WebPData data{bytes.data(), bytes.size()};
    WebPAnimDecoderOptions options;
    if (WebPAnimDecoderOptionsInit(&options) == 0)
        return std::nullopt;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
    if (decoder == nullptr)
        return std::nullopt;
    std::optional<RgbImage> image;
    WebPAnimInfo info;
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (WebPAnimDecoderGetInfo(decoder, &info) != 0
        && isAcceptedPictureSize(info.canvas_width, info.canvas_height)
        && WebPAnimDecoderGetNext(decoder, &canvas, &timestamp) != 0) {
        const int width = static_cast<int>(info.canvas_width);
        const int height = static_cast<int>(info.canvas_height);
        ImageBuilder builder(width, height, need);
        putRows(builder, canvas, width, height, width * 4, 4);
        image = builder.finish();
    }
    WebPAnimDecoderDelete(decoder);
    return image;
}

std::optional<RgbImage> decodeWebp(std::span<const std::uint8_t> bytes, PixelNeed need)
{
    WebPDecoderConfig config;
    if (WebPInitDecoderConfig(&config) == 0
        || WebPGetFeatures(bytes.data(), bytes.size(), &config.input) != VP8_STATUS_OK
        || !isAcceptedPictureSize(config.input.width, config.input.height))
        return std::nullopt;
    if (config.input.has_animation != 0)
        return decodeFirstFrame(bytes, need);
    int width = config.input.width;
    int height = config.input.height;
    const int shortSide = std::min(width, height);
    if (need.minSide > 0 && shortSide > scaledShortSide(need.minSide)) {
        const double scale = static_cast<double>(scaledShortSide(need.minSide)) / shortSide;
        width = std::max(1, static_cast<int>(std::ceil(width * scale)));
        height = std::max(1, static_cast<int>(std::ceil(height * scale)));
        config.options.use_scaling = 1;
        config.options.scaled_width = width;
        config.options.scaled_height = height;
    }
    config.output.colorspace = MODE_RGB;
    const VP8StatusCode status = WebPDecode(bytes.data(), bytes.size(), &config);
    std::optional<RgbImage> image;
    if (status == VP8_STATUS_OK) {
        ImageBuilder builder(width, height, PixelNeed{});
        putRows(builder, config.output.u.RGBA.rgba, width, height, config.output.u.RGBA.stride, 3);
        image = builder.finish();
    }
    WebPFreeDecBuffer(&config.output);
    return image;
}

} // namespace

PictureDecoder webpDecoder()
{
    return decodeWebp;
}

} // namespace tagrelay

#else

namespace tagrelay {
PictureDecoder webpDecoder()
{
    return nullptr;
}
} // namespace tagrelay

#endif
