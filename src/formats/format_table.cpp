#include "formats/format_table.h"

#include "formats/audio_format.h"
#include "formats/matroska_format.h"
#include "formats/more_pictures_format.h"
#include "formats/movie_format.h"
#include "formats/mp3_format.h"
#include "formats/mp4_format.h"
#include "formats/picture_format.h"

#include <array>

namespace tagrelay {

namespace {

const Mp3FileFormat mp3Format;
const PictureFileFormat pictureFormat;
const MovieFileFormat movieFormat;
const MatroskaFileFormat matroskaFormat;
const M4aFileFormat m4aFormat;
const Mp4MovieFileFormat mp4MovieFormat;
const AudioFileFormat flacFormat(AudioContainer::Flac);
const AudioFileFormat oggFormat(AudioContainer::Ogg);
const AudioFileFormat wavFormat(AudioContainer::Wav);
const AudioFileFormat adtsFormat(AudioContainer::Adts);
const MorePicturesFileFormat morePicturesFormat;

/// The rows. A name matches the first format whose extension it ends with. A row's place is
/// its key in the description cache: new rows go at the end.
const std::array<const FileFormat*, 11> formats = {
    &mp3Format,  &pictureFormat, &movieFormat, &matroskaFormat, &m4aFormat,         &mp4MovieFormat,
    &flacFormat, &oggFormat,     &wavFormat,   &adtsFormat,     &morePicturesFormat};

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
