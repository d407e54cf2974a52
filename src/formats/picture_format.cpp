#include "formats/picture_format.h"

#include "picture/picture_service.h"

#include <array>

namespace tagrelay {

namespace {

/// Raise with every change to what a picture's line, entries or icon are made of.
constexpr int pictureFormatVersion = 2;

constexpr std::array<std::string_view, 2> pictureExtensions = {".jpg", ".bmp"};

std::string pictureDescription(const PictureFacts& facts)
{
    return std::to_string(facts.width) + " x " + std::to_string(facts.height) + " pixel "
           + std::to_string(facts.depth) + " Bit";
}

} // namespace

std::span<const std::string_view> PictureFileFormat::extensions() const
{
    return pictureExtensions;
}

std::string PictureFileFormat::cacheKey(const LineOptions& options) const
{
    const Settings& s = options.settings;
    std::string key = "picture " + std::to_string(pictureFormatVersion) + "; size "
                      + (s.showPictureSize != 0 ? "1" : "0") + "; icons "
                      + (s.makePictureIcons != 0 ? "1" : "0");
    if (s.makePictureIcons != 0)
        key += "; icon size " + std::to_string(s.iconSize);
    // Palette pictures report the screen's depth.
    key += "; display depth " + std::to_string(options.displayDepth);
    return key;
}

FileOutcome PictureFileFormat::analyse(OpenFile file, const std::string& fullPath,
                                       const AnalysisOptions& options, AnalysisSink& /*sink*/) const
{
    FileOutcome outcome;
    outcome.counted = true;
    const Settings& settings = options.settings;
    if (settings.makePictureIcons == 0 && settings.showPictureSize == 0)
        return outcome;
    // The icon needs the pixels; the dimensions alone only the picture's header. An icon
    // that is not written is not made: nothing else would show it.
    PictureFacts facts;
    bool isCutShort = false;
    if (settings.makePictureIcons != 0 && !isLargerThanAnyPicture(file.fd())) {
        PictureIcon made = makePictureIcon(readOpenPictureFile(file.fd()), options.displayDepth,
                                           settings.iconSize);
        facts = made.facts;
        outcome.iconBytes = std::move(made.iconBytes);
        isCutShort = made.isCutShort;
    } else {
        facts = readOpenPictureFacts(file.fd(), options.displayDepth);
        isCutShort = facts.width != 0 && isCutShortPictureFile(file.fd());
        if (settings.makePictureIcons != 0)
            outcome.errors.push_back("Picture too large for an icon (over 256 MiB): " + fullPath);
    }
    if (!file.isOpen())
        outcome.errors.push_back("File Could Not be opened: " + fullPath);
    else if (facts.width == 0)
        outcome.errors.push_back("Picture could not be loaded: " + fullPath);
    else if (isCutShort)
        outcome.errors.push_back("Picture cut short, its data ends early: " + fullPath);
    // Counted with or without a line; 0 x 0 pixel 0 Bit when it could not be loaded.
    if (settings.showPictureSize != 0)
        outcome.description = pictureDescription(facts);
    return outcome;
}

} // namespace tagrelay
