#include "tags/picture_frame.h"

#include <algorithm>

namespace tagrelay {

namespace {

constexpr std::uint8_t latin1Encoding = 0;
constexpr std::uint8_t utf16Encoding = 1;

/// Where the single-byte text from `from` ends (its zero byte), or nothing without one.
std::optional<std::size_t> findZeroByte(std::span<const std::uint8_t> bytes, std::size_t from)
{
    for (std::size_t at = from; at < bytes.size(); ++at) {
        if (bytes[at] == 0)
            return at;
    }
    return std::nullopt;
}

/// Where the UTF-16 text from `from` ends (its zero unit), or nothing without one.
std::optional<std::size_t> findZeroUnit(std::span<const std::uint8_t> bytes, std::size_t from)
{
    for (std::size_t at = from; at + 1 < bytes.size(); at += 2) {
        if (bytes[at] == 0 && bytes[at + 1] == 0)
            return at;
    }
    return std::nullopt;
}

} // namespace

std::optional<PictureFrame> readPictureFrame(std::span<const std::uint8_t> frameData)
{
    if (frameData.empty())
        return std::nullopt;
    PictureFrame frame;
    frame.encoding = frameData[0];
    if (frame.encoding != latin1Encoding && frame.encoding != utf16Encoding)
        return std::nullopt;
    const auto mimeEnd = findZeroByte(frameData, 1);
    if (!mimeEnd || *mimeEnd + 1 >= frameData.size())
        return std::nullopt;
    frame.mimeType = {reinterpret_cast<const char*>(frameData.data()) + 1, *mimeEnd - 1};
    frame.pictureType = frameData[*mimeEnd + 1];
    const std::size_t descriptionStart = *mimeEnd + 2;
    const auto descriptionEnd = frame.encoding == utf16Encoding
                                    ? findZeroUnit(frameData, descriptionStart)
                                    : findZeroByte(frameData, descriptionStart);
    if (!descriptionEnd)
        return std::nullopt;
    frame.description = frameData.subspan(descriptionStart, *descriptionEnd - descriptionStart);
    const std::size_t terminatorSize = frame.encoding == utf16Encoding ? 2 : 1;
    frame.data = frameData.subspan(*descriptionEnd + terminatorSize);
    return frame;
}

bool isFrontCoverFrame(const PictureFrame& frame)
{
    return frame.pictureType == frontCoverType && !frame.data.empty();
}

std::span<const std::uint8_t> frontCoverPicture(std::span<const std::uint8_t> frameData)
{
    const auto start = frontCoverPictureStart(frameData);
    return start ? frameData.subspan(*start) : std::span<const std::uint8_t>();
}

std::optional<std::size_t> frontCoverPictureStart(std::span<const std::uint8_t> frameData)
{
    const auto frame = readPictureFrame(frameData);
    if (!frame || !isFrontCoverFrame(*frame))
        return std::nullopt;
    return static_cast<std::size_t>(frame->data.data() - frameData.data());
}

} // namespace tagrelay
