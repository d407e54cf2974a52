#include "picture/resize.h"

#include "picture/image_builder.h"

#include <pixman.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace tagrelay {

namespace {

// pixman averages with separable convolution filters: per axis, a box reconstruction sampled
// by a box as wide as one new pixel gives each new pixel the mean of the area it covers (what
// a halftone stretch does); growing sides use a bilinear tent instead. Subsampling the filter
// at 16 phases a pixel keeps it exact enough for 8-bit channels.
constexpr int filterPhaseBits = 4;
// pixman's 16.16 fixed-point numbers hold scales below 32 768; a filter that wide would be
// slow anyway. Only a very thin result of a very wide picture comes near it.
constexpr double largestScale = 8192.0;

struct PixmanImageDeleter
{
    void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using PixmanImage = std::unique_ptr<pixman_image_t, PixmanImageDeleter>;

struct FilterDeleter
{
    void operator()(pixman_fixed_t* values) const { std::free(values); }
};

std::vector<std::uint32_t> toXrgb(const RgbImage& image)
{
    std::vector<std::uint32_t> pixels(image.pixels.size() / 3);
    const std::uint8_t* in = image.pixels.data();
    for (std::uint32_t& pixel : pixels) {
        pixel = 0xFF000000U | static_cast<std::uint32_t>(in[0]) << 16
                | static_cast<std::uint32_t>(in[1]) << 8 | in[2];
        in += 3;
    }
    return pixels;
}

RgbImage fromXrgb(const std::vector<std::uint32_t>& pixels, int width, int height)
{
    RgbImage image{width, height, std::vector<std::uint8_t>(pixels.size() * 3)};
    std::uint8_t* out = image.pixels.data();
    for (const std::uint32_t pixel : pixels) {
        out[0] = static_cast<std::uint8_t>(pixel >> 16);
        out[1] = static_cast<std::uint8_t>(pixel >> 8);
        out[2] = static_cast<std::uint8_t>(pixel);
        out += 3;
    }
    return image;
}

pixman_kernel_t reconstructionFor(double scale)
{
    return scale > 1.0 ? PIXMAN_KERNEL_BOX : PIXMAN_KERNEL_LINEAR;
}

pixman_kernel_t samplingFor(double scale)
{
    return scale > 1.0 ? PIXMAN_KERNEL_BOX : PIXMAN_KERNEL_IMPULSE;
}

/// The smooth stretch itself; the sides are at most a few times apart here.
RgbImage stretchWithPixman(const RgbImage& image, int width, int height)
{
    std::vector<std::uint32_t> source = toXrgb(image);
    std::vector<std::uint32_t> target(static_cast<std::size_t>(width)
                                      * static_cast<std::size_t>(height));
    PixmanImage from(pixman_image_create_bits(PIXMAN_x8r8g8b8, image.width, image.height,
                                              source.data(), image.width * 4));
    PixmanImage to(
        pixman_image_create_bits(PIXMAN_x8r8g8b8, width, height, target.data(), width * 4));
    if (!from || !to)
        return {};

    const double scaleX = static_cast<double>(image.width) / width;
    const double scaleY = static_cast<double>(image.height) / height;
    if (scaleX > largestScale || scaleY > largestScale)
        return {};
    pixman_transform_t transform;
    pixman_transform_init_scale(&transform, pixman_double_to_fixed(scaleX),
                                pixman_double_to_fixed(scaleY));
    int valueCount = 0;
    const std::unique_ptr<pixman_fixed_t, FilterDeleter> filter(
        pixman_filter_create_separable_convolution(
            &valueCount, pixman_double_to_fixed(scaleX), pixman_double_to_fixed(scaleY),
            reconstructionFor(scaleX), reconstructionFor(scaleY), samplingFor(scaleX),
            samplingFor(scaleY), filterPhaseBits, filterPhaseBits));
    if (!filter || !pixman_image_set_transform(from.get(), &transform)
        || !pixman_image_set_filter(from.get(), PIXMAN_FILTER_SEPARABLE_CONVOLUTION, filter.get(),
                                    valueCount))
        return {};
    // Pixels past the edges repeat the edge, so the border does not fade to black.
    pixman_image_set_repeat(from.get(), PIXMAN_REPEAT_PAD);
    pixman_image_composite32(PIXMAN_OP_SRC, from.get(), nullptr, to.get(), 0, 0, 0, 0, 0, 0, width,
                             height);
    return fromXrgb(target, width, height);
}

bool isWholeImage(const RgbImage& image)
{
    return image.width > 0 && image.height > 0
           && image.pixels.size()
                  == static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)
                         * 3;
}

} // namespace

RgbImage resizeImage(const RgbImage& image, int width, int height)
{
    if (!isWholeImage(image) || !isAcceptedPictureSize(image.width, image.height) || width < 1
        || height < 1 || width > largestPictureSide || height > largestPictureSide)
        return {};
    if (width == image.width && height == image.height)
        return image;
    // A large picture first loses whole blocks of pixels to their averages, so the filter
    // that follows stays a few pixels wide (and within pixman's fixed-point range).
    ImageBuilder reducer(image.width, image.height, PixelNeed{std::max(width, height)});
    if (!reducer.isReducing())
        return stretchWithPixman(image, width, height);
    const std::size_t stride = static_cast<std::size_t>(image.width) * 3;
    for (int y = 0; y < image.height; ++y)
        reducer.putPixels(y, image.pixels.data() + static_cast<std::size_t>(y) * stride);
    return stretchWithPixman(reducer.finish(), width, height);
}

} // namespace tagrelay
