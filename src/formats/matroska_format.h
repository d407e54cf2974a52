#pragma once

#include "containers/matroska_reader.h"
#include "formats/file_format.h"

namespace tagrelay {

/// The description of a Matroska movie from its facts: "H x W pixel - R fps - M:SS min" from
/// the video track's pixel size, its counted frames and the duration; none without a video
/// track.
[[nodiscard]] std::optional<std::string> matroskaDescription(const MatroskaFacts& facts);

/// Matroska and WebM movies, described with the more-formats switch and the movie option from
/// their container alone: nothing is played or decoded, so they are analysed on the workers
/// like any reader over bytes, and never polled after.
class MatroskaFileFormat : public FileFormat
{
  public:
    std::string_view name() const override { return "matroska"; }
    std::span<const std::string_view> extensions() const override;
    bool isDescribed(const Settings& settings) const override
    {
        return settings.moreFormats != 0 && settings.showMovieInfo != 0;
    }
    std::string cacheKey(const LineOptions& options) const override;
    bool runsOnWorkers() const override { return true; }
    bool pollsAfter() const override { return false; }
    FileOutcome analyse(OpenFile file, const std::string& fullPath, const AnalysisOptions& options,
                        AnalysisSink& sink) const override;
};

} // namespace tagrelay
