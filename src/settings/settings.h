#pragma once

#include <cstdint>
#include <string>

namespace tagrelay {

/// The range the "-" and "+" buttons move the icon size in; a stored size outside it becomes
/// defaultIconSize.
inline constexpr int smallestIconSize = 32;
inline constexpr int largestIconSize = 70;
inline constexpr int defaultIconSize = 50;

/// The character sets a list can be written in. Locale is the locale's character set, as the
/// lists have always been; the others are UTF-8, with or without its signature in front.
enum class ListEncoding : std::int32_t {
    Locale = 0,
    Utf8 = 1,
    Utf8WithSignature = 2,
};
inline constexpr std::int32_t largestListEncoding = 2;

/// The user's options, the icon size, the run counter and the last start directory. The
/// option loop keeps the flags equal to the check boxes; everything else only reads them.
struct Settings
{
    std::int32_t showArtist = 0;
    std::int32_t showAlbum = 0;
    std::int32_t showTitle = 0;
    std::int32_t showBitrate = 0;
    std::int32_t showAudioMode = 0;
    std::int32_t showPlaytime = 0;
    std::int32_t showGenre = 0;
    std::int32_t makeMp3Icons = 0;
    std::int32_t showPictureSize = 0;
    std::int32_t showMovieInfo = 0;
    std::int32_t makePictureIcons = 0;
    /// Also describe the audio, picture and movie formats beyond MP3, JPG/BMP and AVI/MPG.
    std::int32_t moreFormats = 0;
    /// Also read ID3v2.2 and ID3v2.4 tags and show numbered genres by their names.
    std::int32_t allTagVersions = 0;
    /// The character set of the lists this program writes: ListEncoding as a number.
    std::int32_t listEncoding = 0;
    /// Also write an index.html beside each list, for web servers that show no list.
    std::int32_t htmlIndex = 0;
    std::int32_t iconSize = 0;
    std::int32_t runCounter = 0;
    std::string startDirectory;
};

} // namespace tagrelay
