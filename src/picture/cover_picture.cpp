#include "picture/cover_picture.h"

#include "picture/picture_service.h"
#include "picture/resize.h"

namespace tagrelay {

PictureHandle decodeCover(std::span<const std::uint8_t> pictureBytes, std::uint8_t displayDepth)
{
    if (pictureBytes.empty())
        return nullptr;
    return catchPicture(pictureBytes, displayDepth, PixelNeed{coverAreaSide});
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
