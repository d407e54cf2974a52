#pragma once

#include "formats/file_format.h"

namespace tagrelay {

/// JPEG and BMP pictures: the width, height and depth when the dimensions option is ticked
/// (from the header alone), the PNG icon when that option is ticked (decoded at the icon's
/// size). Always described and counted, analysed on the workers, never polled after; the
/// front end is shown nothing.
class PictureFileFormat : public FileFormat
{
  public:
    std::string_view name() const override { return "picture"; }
    std::span<const std::string_view> extensions() const override;
    std::string cacheKey(const LineOptions& options) const override;
    bool runsOnWorkers() const override { return true; }
    bool pollsAfter() const override { return false; }
    FileOutcome analyse(OpenFile file, const std::string& fullPath, const AnalysisOptions& options,
                        AnalysisSink& sink) const override;
};

} // namespace tagrelay
