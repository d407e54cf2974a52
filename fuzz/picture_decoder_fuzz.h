// The body of the fuzz programs of the library decoders (fuzz_gif_decoder, ...): the input
// goes to one format's header reader and, when the header is accepted, to its decoder for an
// icon and for the whole picture, as the picture service calls them.

#pragma once

#include "fuzz_input.h"
#include "picture/library_decoders.h"
#include "picture/picture_service.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tagrelay::fuzz {

using HeaderReader = std::optional<tagrelay::PictureHeader> (*)(std::span<const std::uint8_t>);

inline void checkDecodedImage(const std::optional<tagrelay::RgbImage>& image)
{
    if (!image)
        return;
    if (image->width < 1 || image->height < 1
        || image->pixels.size()
               != static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->height)
                      * 3)
        fail("a decoded image whose pixels do not fill its size");
}

inline int fuzzDecoder(HeaderReader readHeader, tagrelay::PictureDecoder decode,
                       const std::uint8_t* data, std::size_t size)
{
    using namespace tagrelay;
    const std::span<const std::uint8_t> bytes(data, size);
    const auto header = readHeader(bytes);
    if (!header || decode == nullptr)
        return 0;
    // Large pictures take seconds under the sanitisers; the size cap itself is the header's.
    if (static_cast<std::int64_t>(header->width) * header->height > 4'000'000)
        return 0;
    checkDecodedImage(decode(bytes, PixelNeed{48}));
    const PictureIcon icon = makePictureIcon(bytes, noScreenDepth, 32, PictureFormatSet::Extended);
    if (icon.facts.width != header->width || icon.facts.height != header->height)
        fail("the icon's facts differ from the header's");
    if (!icon.iconBytes.empty() && icon.isUndecodable)
        fail("an icon of a picture that could not be decoded");
    return 0;
}

} // namespace tagrelay::fuzz
