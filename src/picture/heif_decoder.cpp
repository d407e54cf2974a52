#include "picture/library_decoders.h"

#ifdef TAGRELAY_WITH_HEIF

#include <libheif/heif.h>

#include <memory>

namespace tagrelay {

namespace {

struct ContextFree
{
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleRelease
{
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageRelease
{
    void operator()(heif_image* image) const { heif_image_release(image); }
};

std::optional<RgbImage> decodeHeif(std::span<const std::uint8_t> bytes, PixelNeed need)
{
    std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    if (!context)
        return std::nullopt;
    // The library's own limit on a side (and so on the pixels it allocates) is the one of
    // every decoder here; one thread, since the walk decodes on several already.
    heif_context_set_maximum_image_size_limit(context.get(), static_cast<int>(largestPictureSide));
    heif_context_set_max_decoding_threads(context.get(), 1);
    if (heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(),
                                                   nullptr)
            .code
        != heif_error_Ok)
        return std::nullopt;
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
        return std::nullopt;
    std::unique_ptr<heif_image_handle, HandleRelease> handle(rawHandle);
    // The size is checked before any pixel is decoded: a tiled picture is put together whole.
    if (!isAcceptedPictureSize(heif_image_handle_get_width(handle.get()),
                               heif_image_handle_get_height(handle.get())))
        return std::nullopt;
    heif_image* rawImage = nullptr;
    if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                          nullptr)
            .code
        != heif_error_Ok)
        return std::nullopt;
    std::unique_ptr<heif_image, ImageRelease> image(rawImage);
    int stride = 0;
    const std::uint8_t* pixels =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (pixels == nullptr || !isAcceptedPictureSize(width, height) || stride < width * 3)
        return std::nullopt;
    ImageBuilder builder(width, height, need);
    for (int y = 0; y < height; ++y)
        builder.putPixels(y, pixels + static_cast<std::ptrdiff_t>(y) * stride);
    return builder.finish();
}

} // namespace

PictureDecoder heifDecoder()
{
    return decodeHeif;
}

} // namespace tagrelay

#else

namespace tagrelay {
PictureDecoder heifDecoder()
{
    return nullptr;
}
} // namespace tagrelay

#endif
