#pragma once

#include "formats/file_format.h"
#include "formats/track_facts.h"

#include <string>

namespace tagrelay {

/// The tag check: true when artist and title both end in "?", the mark that characters the
/// locale cannot show leave.
[[nodiscard]] bool needsNewTag(const std::string& artist, const std::string& title);

/// True when someone uses a track's cover: the front end shows it, or an icon file is made.
[[nodiscard]] bool usesCover(const AnalysisOptions& options);

/// The track's cover: squeezed to the cover area when the front end shows covers, and as the
/// JPEG icon file when that option is ticked. A cover that nothing uses is never decoded.
void takeCover(const TrackTags& tags, const AnalysisOptions& options, FileOutcome& outcome);
/// The same for a cover given as a picture file's bytes.
void takeCover(std::span<const std::uint8_t> picture, const AnalysisOptions& options,
               FileOutcome& outcome);

/// The part of an audio format's cache key that the MP3 options shape: the seven facts and the
/// icon option as flags, and the icon's size and depth when icons are made.
[[nodiscard]] std::string mp3OptionsKey(const LineOptions& options);

/// The end of every audio file's analysis: the line composed as an MP3 line is the outcome's
/// description and what the front end shows with the track's facts; the file is counted.
void finishTrackOutcome(FileOutcome& outcome, const TrackFacts& facts, const Settings& settings,
                        const std::string& genreText, const std::string& playingTime,
                        std::string_view fullPath);

/// A track's facts as the progress display shows them.
[[nodiscard]] Mp3Shown shownFacts(std::string_view name, const TrackFacts& facts,
                                  const std::string& genreText, const std::string& playingTime);

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
