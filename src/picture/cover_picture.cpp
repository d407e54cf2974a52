#include "picture/cover_picture.h"

#include "picture/picture_service.h"
#include "picture/resize.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace tagrelay {

namespace {

// The tracks of an album nearly always carry the same cover, byte for byte. The last cover
// decoded is kept for every thread (the walk's workers take an album's tracks in turns), and
// each thread keeps the last cover area and cover icon it made, so the album's next track
// costs a comparison instead of a decode (a 700 x 700 JPEG: about 15 microseconds against 3
// milliseconds). All three are pure functions of their input; what is kept only saves the
// work. Covers larger than this are decoded every time instead of held.
constexpr std::size_t largestKeptCover = 8 * 1024 * 1024;

/// The last cover decoded; a thread that meets it while another still decodes it waits for
/// that decode instead of doing the same.
struct LastCover
{
    std::vector<std::uint8_t> bytes;
    std::uint8_t displayDepth = 0;
    int minSide = 0;
    bool isDecoded = false;
    std::optional<Picture> picture; // none: no decoder accepted the bytes
};

std::mutex lastCoverMutex;
std::condition_variable lastCoverDecoded;
std::shared_ptr<LastCover> lastCover; // guarded by lastCoverMutex; the object's fields too

struct LastCoverArea
{
    bool isSet = false;
    RgbImage cover;
    RgbImage area;
};

struct LastCoverIcon
{
    RgbImage cover;
    int iconSize = 0;
    Picture shrunk; // the cover after it was shrunk to the icon
    std::vector<std::uint8_t> iconBytes;
};

thread_local LastCoverArea lastCoverArea;
thread_local LastCoverIcon lastCoverIcon;

bool isCover(const LastCover& cover, std::span<const std::uint8_t> pictureBytes,
             std::uint8_t displayDepth, int minSide)
{
    return cover.displayDepth == displayDepth && cover.minSide == minSide
           && cover.bytes.size() == pictureBytes.size()
           && std::equal(pictureBytes.begin(), pictureBytes.end(), cover.bytes.begin());
}

bool isSameImage(const RgbImage& a, const RgbImage& b)
{
    return a.width == b.width && a.height == b.height && a.pixels == b.pixels;
}

PictureHandle decodeCoverWithSides(std::span<const std::uint8_t> pictureBytes,
                                   std::uint8_t displayDepth, int minSide)
{
    if (pictureBytes.empty())
        return nullptr;
    minSide = std::max(1, minSide);
    std::shared_ptr<LastCover> claimed;
    {
        std::unique_lock lock(lastCoverMutex);
        const std::shared_ptr<LastCover> last = lastCover;
        if (last && isCover(*last, pictureBytes, displayDepth, minSide)) {
            lastCoverDecoded.wait(lock, [&last] { return last->isDecoded; });
            return last->picture ? std::make_unique<Picture>(*last->picture) : nullptr;
        }
        if (pictureBytes.size() <= largestKeptCover) {
            claimed = std::make_shared<LastCover>();
            claimed->bytes.assign(pictureBytes.begin(), pictureBytes.end());
            claimed->displayDepth = displayDepth;
            claimed->minSide = minSide;
            lastCover = claimed;
        }
    }
    PictureHandle cover = catchPicture(pictureBytes, displayDepth, PixelNeed{minSide});
    if (claimed) {
        {
            const std::lock_guard lock(lastCoverMutex);
            claimed->picture = cover ? std::optional<Picture>(*cover) : std::nullopt;
            claimed->isDecoded = true;
        }
        lastCoverDecoded.notify_all();
    }
    return cover;
}

} // namespace

PictureHandle decodeCover(std::span<const std::uint8_t> pictureBytes, std::uint8_t displayDepth,
                          int iconSize)
{
    return decodeCoverWithSides(pictureBytes, displayDepth, std::max(coverAreaSide, iconSize));
}

RgbImage coverAreaImage(const Picture& cover)
{
    if (!lastCoverArea.isSet || !isSameImage(cover.image, lastCoverArea.cover)) {
        lastCoverArea.area = resizeImage(cover.image, coverAreaSide, coverAreaSide);
        lastCoverArea.cover = cover.image;
        lastCoverArea.isSet = true;
    }
    return lastCoverArea.area;
}

std::vector<std::uint8_t> makeCoverIcon(Picture& cover, int iconSize)
{
    if (iconSize == lastCoverIcon.iconSize && !lastCoverIcon.iconBytes.empty()
        && cover.depth == lastCoverIcon.shrunk.depth
        && isSameImage(cover.image, lastCoverIcon.cover)) {
        cover = lastCoverIcon.shrunk;
        return lastCoverIcon.iconBytes;
    }
    RgbImage original = cover.image;
    if (!resizePicture(cover, iconSize, iconSize))
        return {};
    std::vector<std::uint8_t> iconBytes = savePicture(cover, PictureFormat::Jpeg);
    lastCoverIcon = {std::move(original), iconSize, cover, iconBytes};
    return iconBytes;
}

} // namespace tagrelay
