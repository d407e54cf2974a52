#include "formats/format_table.h"

#include "formats/more_pictures_format.h"
#include "formats/movie_format.h"
#include "formats/mp3_format.h"
#include "formats/picture_format.h"

#include <array>

namespace tagrelay {

namespace {

const Mp3FileFormat mp3Format;
const PictureFileFormat pictureFormat;
const MovieFileFormat movieFormat;
const MorePicturesFileFormat morePicturesFormat;

/// The rows. A name matches the first format whose extension it ends with.
const std::array<const FileFormat*, 4> formats = {&mp3Format, &pictureFormat, &movieFormat,
                                                  &morePicturesFormat};

} // namespace

std::span<const FileFormat* const> fileFormats()
{
    return formats;
}

std::optional<std::size_t> formatPlaceOf(std::string_view fileName)
{
    for (std::size_t place = 0; place < formats.size(); ++place) {
        if (formats[place]->matches(fileName))
            return place;
    }
    return std::nullopt;
}

std::vector<std::string> formatCacheKeys(const LineOptions& options)
{
    std::vector<std::string> keys;
    for (const FileFormat* format : formats)
        keys.push_back(format->cacheKey(options));
    return keys;
}

} // namespace tagrelay
