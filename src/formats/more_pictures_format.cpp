#include "formats/more_pictures_format.h"

#include "picture/picture_service.h"

#include <array>

namespace tagrelay {

namespace {

/// Raise with every change to what these pictures' lines, entries or icons are made of.
constexpr int morePicturesFormatVersion = 3;

constexpr std::array<std::string_view, 10> morePictureExtensions = {
    ".png", ".gif", ".webp", ".heic", ".heif", ".avif", ".tif", ".tiff", ".jpeg", ".jpe"};

std::string pictureDescription(const PictureFacts& facts)
{
    return std::to_string(facts.width) + " x " + std::to_string(facts.height) + " pixel "
           + std::to_string(facts.depth) + " Bit";
}

} // namespace

std::span<const std::string_view> MorePicturesFileFormat::extensions() const
{
    return morePictureExtensions;
}

std::string MorePicturesFileFormat::cacheKey(const LineOptions& options) const
{
    const Settings& s = options.settings;
    std::string key = "more pictures " + std::to_string(morePicturesFormatVersion) + "; size "
                      + (s.showPictureSize != 0 ? "1" : "0") + "; icons "
                      + (s.makePictureIcons != 0 ? "1" : "0");
    if (s.makePictureIcons != 0) {
        key += "; icon size " + std::to_string(s.iconSize);
        // A build without a decoder writes no icon where another writes one.
        key += hasEveryPictureDecoder() ? "; all decoders" : "; some decoders";
    }
    // Palette bitmaps (a BMP named .png) report the screen's depth.
    key += "; display depth " + std::to_string(options.displayDepth);
    return key;
}

FileOutcome MorePicturesFileFormat::analyse(OpenFile file, const std::string& fullPath,
                                            const AnalysisOptions& options,
                                            AnalysisSink& /*sink*/) const
{
    FileOutcome outcome;
    outcome.counted = true;
    const Settings& settings = options.settings;
    if (settings.makePictureIcons == 0 && settings.showPictureSize == 0)
        return outcome;
    constexpr PictureFormatSet set = PictureFormatSet::Extended;
    PictureIcon made;
    if (settings.makePictureIcons != 0 && !isLargerThanAnyPicture(file.fd())) {
        made = makePictureIcon(readOpenPictureFile(file.fd()), options.displayDepth,
                               settings.iconSize, set);
        outcome.iconBytes = std::move(made.iconBytes);
    } else {
        made.facts = readOpenPictureFacts(file.fd(), options.displayDepth, set);
        made.isCutShort = made.facts.width != 0 && isCutShortPictureFile(file.fd());
        if (settings.makePictureIcons != 0)
            outcome.errors.push_back("Picture too large for an icon (over 256 MiB): " + fullPath);
    }
    if (!file.isOpen())
        outcome.errors.push_back("File Could Not be opened: " + fullPath);
    else if (made.facts.width == 0 || made.isUndecodable)
        outcome.errors.push_back("Picture could not be loaded: " + fullPath);
    else if (!made.missingDecoder.empty())
        outcome.errors.push_back("No icon: this build has no " + std::string(made.missingDecoder)
                                 + " decoder: " + fullPath);
    else if (made.isCutShort)
        outcome.errors.push_back("Picture cut short, its data ends early: " + fullPath);
    // Counted with or without a line; 0 x 0 pixel 0 Bit when it could not be loaded.
    if (settings.showPictureSize != 0)
        outcome.description = pictureDescription(made.facts);
    return outcome;
}

} // namespace tagrelay
