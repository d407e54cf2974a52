#pragma once

#include "formats/file_format.h"

#include <string>

namespace tagrelay {

/// The tag check: true when artist and title both end in "?", the mark that characters the
/// locale cannot show leave.
[[nodiscard]] bool needsNewTag(const std::string& artist, const std::string& title);

/// MP3 files: tags, the first frame header and, when the bitrate or the playing time is
/// ticked, the stream scan; the cover only when the front end shows covers or an icon is to
/// be made. Always described, analysed on the workers, polled after.
class Mp3FileFormat : public FileFormat
{
  public:
    std::string_view name() const override { return "mp3"; }
    std::span<const std::string_view> extensions() const override;
    std::string cacheKey(const LineOptions& options) const override;
    bool runsOnWorkers() const override { return true; }
    bool pollsAfter() const override { return true; }
    ReadAheadWish readAhead(const Settings& settings) const override;
    FileOutcome analyse(OpenFile file, const std::string& fullPath, const AnalysisOptions& options,
                        AnalysisSink& sink) const override;
};

} // namespace tagrelay
