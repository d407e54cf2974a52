#include "picture/heif_header.h"
#include "picture/library_decoders.h"

#ifdef TAGRELAY_WITH_HEIF

#include <dlfcn.h>
#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>

namespace tagrelay {

namespace {

/// libheif and the codecs it brings (libde265, libx265, libaom, libdav1d) are loaded with the
/// first HEIC or AVIF picture, not with the program: their start costs every run milliseconds
/// that a walk without such pictures never needs back.
struct HeifLibrary
{
    decltype(&heif_context_alloc) contextAlloc = nullptr;
    decltype(&heif_context_free) contextFree = nullptr;
    decltype(&heif_context_set_maximum_image_size_limit) setSizeLimit = nullptr;
    decltype(&heif_context_set_max_decoding_threads) setThreads = nullptr;
    decltype(&heif_context_read_from_memory_without_copy) readFromMemory = nullptr;
    decltype(&heif_context_get_primary_image_handle) primaryHandle = nullptr;
    decltype(&heif_image_handle_get_width) handleWidth = nullptr;
    decltype(&heif_image_handle_get_height) handleHeight = nullptr;
    decltype(&heif_image_handle_release) handleRelease = nullptr;
    decltype(&heif_decode_image) decodeImage = nullptr;
    decltype(&heif_image_get_plane_readonly) planeReadonly = nullptr;
    decltype(&heif_image_get_width) imageWidth = nullptr;
    decltype(&heif_image_get_height) imageHeight = nullptr;
    decltype(&heif_image_release) imageRelease = nullptr;
    decltype(&heif_image_handle_get_number_of_thumbnails) thumbnailCount = nullptr;
    decltype(&heif_image_handle_get_list_of_thumbnail_IDs) thumbnailIds = nullptr;
    decltype(&heif_image_handle_get_thumbnail) thumbnail = nullptr;
};

template <typename Function> bool resolve(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

/// The library, loaded once for all threads; nullptr where it cannot be loaded.
const HeifLibrary* heifLibrary()
{
    static std::once_flag once;
    static HeifLibrary library;
    static bool loaded = false;
    std::call_once(once, [] {
        void* handle = ::dlopen("libheif.so.1", RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            return;
        HeifLibrary& l = library;
        loaded = resolve(handle, "heif_context_alloc", l.contextAlloc)
                 && resolve(handle, "heif_context_free", l.contextFree)
                 && resolve(handle, "heif_context_set_maximum_image_size_limit", l.setSizeLimit)
                 && resolve(handle, "heif_context_set_max_decoding_threads", l.setThreads)
                 && resolve(handle, "heif_context_read_from_memory_without_copy", l.readFromMemory)
                 && resolve(handle, "heif_context_get_primary_image_handle", l.primaryHandle)
                 && resolve(handle, "heif_image_handle_get_width", l.handleWidth)
                 && resolve(handle, "heif_image_handle_get_height", l.handleHeight)
                 && resolve(handle, "heif_image_handle_release", l.handleRelease)
                 && resolve(handle, "heif_decode_image", l.decodeImage)
                 && resolve(handle, "heif_image_get_plane_readonly", l.planeReadonly)
                 && resolve(handle, "heif_image_get_width", l.imageWidth)
                 && resolve(handle, "heif_image_get_height", l.imageHeight)
                 && resolve(handle, "heif_image_release", l.imageRelease)
                 && resolve(handle, "heif_image_handle_get_number_of_thumbnails", l.thumbnailCount)
                 && resolve(handle, "heif_image_handle_get_list_of_thumbnail_IDs", l.thumbnailIds)
                 && resolve(handle, "heif_image_handle_get_thumbnail", l.thumbnail);
    });
    return loaded ? &library : nullptr;
}

using HandlePointer = std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle*)>;

/// For an icon, the smallest thumbnail of the picture (photos of phones and cameras carry one)
/// that is still need.minSide or more on each side, no larger than the picture on either (so
/// the picture's size check holds for it too) and lies the same way (wider than high or not,
/// so a thumbnail written without the picture's rotation is passed over); else none.
HandlePointer iconThumbnail(const HeifLibrary& heif, heif_image_handle* primary, PixelNeed need)
{
    HandlePointer best(nullptr, heif.handleRelease);
    if (need.minSide <= 0)
        return best;
    const int count = heif.thumbnailCount(primary);
    // A picture has one or two; more are passed over.
    constexpr int mostThumbnails = 8;
    if (count <= 0 || count > mostThumbnails)
        return best;
    std::array<heif_item_id, mostThumbnails> ids{};
    const int listed = heif.thumbnailIds(primary, ids.data(), count);
    const int primaryWidth = heif.handleWidth(primary);
    const int primaryHeight = heif.handleHeight(primary);
    const bool isWide = primaryWidth >= primaryHeight;
    for (int i = 0; i < listed && i < count; ++i) {
        heif_image_handle* raw = nullptr;
        if (heif.thumbnail(primary, ids[static_cast<std::size_t>(i)], &raw).code != heif_error_Ok)
            continue;
        HandlePointer candidate(raw, heif.handleRelease);
        const int width = heif.handleWidth(raw);
        const int height = heif.handleHeight(raw);
        if (width < need.minSide || height < need.minSide || width > primaryWidth
            || height > primaryHeight || (width >= height) != isWide)
            continue;
        if (!best || width < heif.handleWidth(best.get()))
            best = std::move(candidate);
    }
    return best;
}

std::optional<RgbImage> decodeHeif(std::span<const std::uint8_t> bytes, PixelNeed need)
{
    const HeifLibrary* heif = heifLibrary();
    if (heif == nullptr || !refersToImagesOnly(bytes))
        return std::nullopt;
    std::unique_ptr<heif_context, decltype(heif->contextFree)> context(heif->contextAlloc(),
                                                                       heif->contextFree);
    if (!context)
        return std::nullopt;
    // The library's own limit on a side (and so on the pixels it allocates) is the one of
    // every decoder here; one thread, since the walk decodes on several already.
    heif->setSizeLimit(context.get(), static_cast<int>(largestPictureSide));
    heif->setThreads(context.get(), 1);
    if (heif->readFromMemory(context.get(), bytes.data(), bytes.size(), nullptr).code
        != heif_error_Ok)
        return std::nullopt;
    heif_image_handle* rawHandle = nullptr;
    if (heif->primaryHandle(context.get(), &rawHandle).code != heif_error_Ok)
        return std::nullopt;
    std::unique_ptr<heif_image_handle, decltype(heif->handleRelease)> handle(rawHandle,
                                                                             heif->handleRelease);
    // The size is checked before any pixel is decoded: a tiled picture is put together whole.
    const int width = heif->handleWidth(handle.get());
    const int height = heif->handleHeight(handle.get());
    if (!isAcceptedPictureSize(width, height))
        return std::nullopt;
    // The grid of a tiled picture states its size again, and the library allocates by that
    // one: it may exceed the size checked by no more than a tile's coding margin on either
    // side (coded tiles are rounded up to blocks of up to 128 pixels; a small picture may lie
    // in a single larger tile).
    constexpr int tileMargin = 1024;
    const int sideLimit = std::max(width, height) + tileMargin;
    // The limit holds for both sides: past this one a composed picture could state more
    // pixels than any picture may have, so such a picture is not decoded.
    constexpr int largestSquareSide = 16384;
    if (sideLimit > largestSquareSide && hasComposedPicture(bytes))
        return std::nullopt;
    heif->setSizeLimit(context.get(), sideLimit);
    // The icon's pixels may come from a smaller thumbnail of the same picture.
    if (HandlePointer thumbnail = iconThumbnail(*heif, handle.get(), need))
        handle.reset(thumbnail.release());
    heif_image* rawImage = nullptr;
    if (heif->decodeImage(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                          nullptr)
            .code
        != heif_error_Ok)
        return std::nullopt;
    std::unique_ptr<heif_image, decltype(heif->imageRelease)> image(rawImage, heif->imageRelease);
    int stride = 0;
    const std::uint8_t* pixels =
        heif->planeReadonly(image.get(), heif_channel_interleaved, &stride);
    const int imageWidth = heif->imageWidth(image.get(), heif_channel_interleaved);
    const int imageHeight = heif->imageHeight(image.get(), heif_channel_interleaved);
    if (pixels == nullptr || !isAcceptedPictureSize(imageWidth, imageHeight)
        || stride < imageWidth * 3)
        return std::nullopt;
    ImageBuilder builder(imageWidth, imageHeight, need);
    for (int y = 0; y < imageHeight; ++y)
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
