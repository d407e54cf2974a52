// Fuzzes the APIC frame reader and the cover decoding over one frame's data, decoded twice.

#include "fuzz_input.h"
#include "picture/cover_picture.h"
#include "tags/picture_frame.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tagrelay;
    const std::span<const std::uint8_t> bytes(data, size);
    const auto frame = readPictureFrame(bytes);
    if (frame) {
        const auto* begin = bytes.data();
        const auto* end = begin + bytes.size();
        if (frame->data.data() + frame->data.size() != end || frame->data.data() < begin
            || frame->description.data() < begin
            || frame->description.data() + frame->description.size() > frame->data.data())
            fuzz::fail("the frame's parts lie outside it or out of order");
    }
    const auto picture = frontCoverPicture(bytes);
    if (!picture.empty() && (!frame || !isFrontCoverFrame(*frame)))
        fuzz::fail("cover bytes from a frame that is no front cover");
    const PictureHandle cover = decodeCover(picture, noScreenDepth);
    if ((decodeCover(picture, noScreenDepth) != nullptr) != (cover != nullptr))
        fuzz::fail("the same frame twice gives another cover");
    if (cover) {
        const RgbImage area = coverAreaImage(*cover);
        if (area.width != coverAreaSide || area.height != coverAreaSide)
            fuzz::fail("the cover area image is not 150 x 150");
    }
    return 0;
}
