// Fuzzes the APIC frame reader and the cover step over one frame's data, twice in a row as two
// frames of one tag.

#include "fuzz_input.h"
#include "tags/cover.h"

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
    PictureHandle cover;
    takeCoverFrame(bytes, cover);
    const bool isCover = cover != nullptr;
    if (isCover && (!frame || !isFrontCoverFrame(*frame)))
        fuzz::fail("a cover from a frame that is no front cover");
    takeCoverFrame(bytes, cover);
    if ((cover != nullptr) != isCover)
        fuzz::fail("the same frame twice gives another cover");
    if (cover) {
        const RgbImage area = coverAreaImage(*cover);
        if (area.width != coverAreaSide || area.height != coverAreaSide)
            fuzz::fail("the cover area image is not 150 x 150");
    }
    return 0;
}
