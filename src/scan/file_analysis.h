#pragma once

#include "settings/settings.h"
#include "tags/tag_versions.h"

#include <cstdint>
#include <string>

namespace tagrelay {

class ReadAhead;
struct WalkContext;

/// What the analysis of a file needs to know of the run, copied when the file is handed out,
/// so that an analysis on another thread never touches the run's state or its front end.
struct AnalysisOptions
{
    Settings settings;
    TagVersions tagVersions = TagVersions::Id3v23Only;
    bool showsCovers = false;       // the front end shows each MP3 file's cover
    std::uint8_t displayDepth = 32; // bits per pixel palette pictures report
    const ReadAhead* readAhead = nullptr;
};

/// The options of the walk's run and front end.
[[nodiscard]] AnalysisOptions analysisOptionsOf(const WalkContext& walk);

/// What an analysis tells as it goes, in the order the walk shows it: the file is being
/// analysed, its stream scan starts, progresses and ends, and it finds faults for the list of
/// files with errors. An analysis on the walk's own thread tells the front end at once; one on
/// a worker thread records it for the walk to show when the file's turn comes.
class AnalysisSink
{
  public:
    virtual ~AnalysisSink();
    /// The file's tags are read: it is being analysed.
    virtual void analysing() = 0;
    virtual void scanStarted(std::int64_t fileSize) = 0;
    /// False when the walk is to stop: the analysis ends at once.
    [[nodiscard]] virtual bool scanProgress(std::int64_t bytesDone) = 0;
    virtual void scanFinished() = 0;
    virtual void errorFound(const std::string& text) = 0;
};

/// The sink of an analysis on the walk's own thread: reports go straight to the front end and
/// faults to the list of files with errors; a stop request during the scan sets
/// run.closeRequested.
class DirectSink : public AnalysisSink
{
  public:
    DirectSink(WalkContext& walk, std::string fullPath)
        : m_walk(walk), m_fullPath(std::move(fullPath))
    {
    }
    void analysing() override;
    void scanStarted(std::int64_t fileSize) override;
    bool scanProgress(std::int64_t bytesDone) override;
    void scanFinished() override;
    void errorFound(const std::string& text) override;

  private:
    WalkContext& m_walk;
    std::string m_fullPath;
};

} // namespace tagrelay
