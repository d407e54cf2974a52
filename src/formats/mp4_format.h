#pragma once

#include "containers/iso_bmff.h"
#include "formats/exact_duration.h"
#include "formats/file_format.h"

#include <optional>
#include <string>

namespace tagrelay {

/// A track's exact duration by the container's rules: for a fragmented file mehd, else the sum
/// of the fragments' sample durations; otherwise the edit list (in the mvhd scale), else mdhd
/// less the iTunSMPB priming and padding (an audio track's), else mdhd, else the sample table.
/// None when nothing gives a positive duration.
[[nodiscard]] std::optional<ExactDuration> isoTrackDuration(const IsoFacts& facts,
                                                            const IsoTrack& track);

/// The entries for the list of files with errors that the walk over the boxes leaves.
[[nodiscard]] std::vector<std::string> isoDamageEntries(const IsoFacts& facts,
                                                        const std::string& fullPath);

/// M4A audio (AAC or ALAC in an ISO base media file): described as an MP3 file is, from the
/// boxes alone, with the more-formats switch. Analysed on the workers, polled after.
class M4aFileFormat : public FileFormat
{
  public:
    std::string_view name() const override { return "m4a"; }
    std::span<const std::string_view> extensions() const override;
    bool isDescribed(const Settings& settings) const override { return settings.moreFormats != 0; }
    std::string cacheKey(const LineOptions& options) const override;
    bool runsOnWorkers() const override { return true; }
    bool pollsAfter() const override { return true; }
    FileOutcome analyse(OpenFile file, const std::string& fullPath, const AnalysisOptions& options,
                        AnalysisSink& sink) const override;
};

/// MP4, M4V and MOV movies: size, rate and playing time from the boxes, with the more-formats
/// switch and the movie option. Nothing is played, so they are analysed on the workers.
class Mp4MovieFileFormat : public FileFormat
{
  public:
    std::string_view name() const override { return "mp4"; }
    std::span<const std::string_view> extensions() const override;
    bool isDescribed(const Settings& settings) const override
    {
        return settings.moreFormats != 0 && settings.showMovieInfo != 0;
    }
    std::string cacheKey(const LineOptions& options) const override;
    bool runsOnWorkers() const override { return true; }
    bool pollsAfter() const override { return true; }
    FileOutcome analyse(OpenFile file, const std::string& fullPath, const AnalysisOptions& options,
                        AnalysisSink& sink) const override;
};

} // namespace tagrelay
