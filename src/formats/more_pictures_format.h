#pragma once

#include "formats/file_format.h"

namespace tagrelay {

/// PNG, GIF, WebP, HEIC, HEIF, AVIF and TIFF pictures, and JPEG named .jpeg or .jpe: described
/// only with the more-formats switch, then under the options of the JPEG and BMP pictures (the
/// line "W x H pixel D Bit" from the header alone, the PNG icon decoded at the icon's size).
/// The content decides the format; the name only that the file is a picture.
class MorePicturesFileFormat : public FileFormat
{
  public:
    std::string_view name() const override { return "more pictures"; }
    std::span<const std::string_view> extensions() const override;
    bool isDescribed(const Settings& settings) const override { return settings.moreFormats != 0; }
    std::string cacheKey(const LineOptions& options) const override;
    bool runsOnWorkers() const override { return true; }
    bool pollsAfter() const override { return false; }
    FileOutcome analyse(OpenFile file, const std::string& fullPath, const AnalysisOptions& options,
                        AnalysisSink& sink) const override;
};

} // namespace tagrelay
