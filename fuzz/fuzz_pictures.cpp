// Fuzzes picture loading over bytes as the walk and the cover reader use it: format by content
// (BMP, icon, JPEG, PNG), facts from the header, decoding for an icon, the resize and both
// encoders.

#include "fuzz_input.h"
#include "picture/jpeg_codec.h"
#include "picture/picture_service.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

bool sameFacts(const tagrelay::PictureFacts& a, const tagrelay::PictureFacts& b)
{
    return a.width == b.width && a.height == b.height && a.depth == b.depth;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tagrelay;
    const std::span<const std::uint8_t> bytes(data, size);
    const PictureFacts facts = readPictureFacts(bytes, PictureOrigin::File, noScreenDepth);
    PictureHandle picture = loadPicture(bytes, noScreenDepth, PixelNeed{48});
    if (!sameFacts(facts, pictureFacts(picture.get())))
        fuzz::fail("the header's facts differ from the loaded picture's");
    // A cut JPEG is one the decoder loads, and it gets no icon.
    const bool isCut = isJpegCutShort(bytes);
    if (isCut && !picture)
        fuzz::fail("a picture found cut short that does not load");
    if (isCut) {
        const PictureIcon icon = makePictureIcon(bytes, noScreenDepth, 48);
        if (!icon.isCutShort || !icon.iconBytes.empty() || !sameFacts(icon.facts, facts))
            fuzz::fail("the icon of a cut picture disagrees with the cut check");
    }
    if (!picture)
        return 0;
    if (facts.width == 0 || facts.height == 0 || facts.depth == 0)
        fuzz::fail("a loaded picture without a size or depth");

    // The cover path: caught from memory and kept for the cover area.
    const PictureHandle cover = catchPicture(bytes, noScreenDepth, PixelNeed{150});
    if (!cover || cover->width != facts.width || cover->height != facts.height)
        fuzz::fail("the caught picture differs from the loaded one");

    if (!resizePicture(*picture, 48, 48) || picture->image.width != 48
        || picture->image.height != 48)
        fuzz::fail("the icon resize failed");
    if (savePicture(*picture, PictureFormat::Png).empty()
        || savePicture(*picture, PictureFormat::Jpeg).empty())
        fuzz::fail("an icon could not be encoded");
    return 0;
}
