#include "picture/cover_picture.h"

#include "picture/picture_service.h"
#include "picture/resize.h"

#include <algorithm>

namespace tagrelay {

namespace {

PictureHandle decodeCoverWithSides(std::span<const std::uint8_t> pictureBytes,
                                   std::uint8_t displayDepth, int minSide)
{
    if (pictureBytes.empty())
        return nullptr;
    return catchPicture(pictureBytes, displayDepth, PixelNeed{std::max(1, minSide)});
}

} // namespace

PictureHandle decodeCover(std::span<const std::uint8_t> pictureBytes, std::uint8_t displayDepth,
                          int iconSize)
{
    return decodeCoverWithSides(pictureBytes, displayDepth, std::max(coverAreaSide, iconSize));
}

PictureHandle decodeCoverForIcon(std::span<const std::uint8_t> pictureBytes,
                                 std::uint8_t displayDepth, int iconSize)
{
    return decodeCoverWithSides(pictureBytes, displayDepth, iconSize);
}

RgbImage coverAreaImage(const Picture& cover)
{
    return resizeImage(cover.image, coverAreaSide, coverAreaSide);
}

std::vector<std::uint8_t> makeCoverIcon(Picture& cover, int iconSize)
{
    if (!resizePicture(cover, iconSize, iconSize))
        return {};
    return savePicture(cover, PictureFormat::Jpeg);
}

} // namespace tagrelay
