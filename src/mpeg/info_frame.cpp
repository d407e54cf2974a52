#include "mpeg/info_frame.h"

#include "platform/byte_reader.h"

namespace tagrelay {

namespace {

/// True when the four bytes at offset read as the given tag. Leaves the position where it was.
bool hasTagAt(ByteReader& file, std::int64_t offset, const char (&tag)[5])
{
    const std::int64_t resume = file.position();
    file.seek(offset);
    bool same = true;
    for (int i = 0; i < 4; ++i)
        same = file.readU8() == static_cast<std::uint8_t>(tag[i]) && same;
    file.seek(resume);
    return same;
}

} // namespace

bool isEncoderInfoFrame(ByteReader& file, std::int64_t frameStart, HeaderBytes header)
{
    if (layerOf(header) != MpegLayer::Layer3)
        return false;
    if (hasTagAt(file, frameStart + vbriTagOffset, "VBRI"))
        return true;
    const int xingOffset = xingTagOffset(header);
    if (xingOffset == 0)
        return false;
    // With a CRC the tag belongs behind it, but LAME writes it where it would be without one.
    for (const int offset : {xingOffset, hasCrc(header) ? xingOffset + 2 : xingOffset}) {
        if (hasTagAt(file, frameStart + offset, "Xing")
            || hasTagAt(file, frameStart + offset, "Info"))
            return true;
    }
    return false;
}

} // namespace tagrelay
