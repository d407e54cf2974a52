#pragma once

#include "formats/file_format.h"

namespace tagrelay {

/// The audio containers described besides MP3, each a row of its own.
enum class AudioContainer { Flac, Ogg, Wav, Adts };

/// FLAC, Ogg Vorbis and Opus, WAV and ADTS AAC files, described only with the more-formats
/// switch: the line is an MP3 line (the same options, pieces and joins) made of the
/// container's tags and its exact duration and payload; the front cover is the icon and the
/// cover shown. Analysed on the workers, polled after.
class AudioFileFormat : public FileFormat
{
  public:
    explicit AudioFileFormat(AudioContainer container) : m_container(container) {}

    std::string_view name() const override;
    std::span<const std::string_view> extensions() const override;
    bool isDescribed(const Settings& settings) const override { return settings.moreFormats != 0; }
    std::string cacheKey(const LineOptions& options) const override;
    bool runsOnWorkers() const override { return true; }
    bool pollsAfter() const override { return true; }
    ReadAheadWish readAhead(const Settings& settings) const override;
    FileOutcome analyse(OpenFile file, const std::string& fullPath, const AnalysisOptions& options,
                        AnalysisSink& sink) const override;

  private:
    AudioContainer m_container;
};

/// "Mono", "Stereo" or "N Channels"; empty for an unknown count.
[[nodiscard]] std::string channelModeText(std::int32_t channels);

} // namespace tagrelay
