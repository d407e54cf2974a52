#pragma once

#include "formats/file_format.h"

#include <string>

namespace tagrelay {

struct WalkContext;

/// The options of the walk's run and front end, as an analysis takes them.
[[nodiscard]] AnalysisOptions analysisOptionsOf(const WalkContext& walk);

/// The sink of an analysis on the walk's own thread: reports go straight to the front end and
/// faults to the list of files with errors; a stop request sets run.closeRequested. Its movie
/// player is the run's, started with the first movie, and its windows are the front end's.
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
    MovieSource* moviePlayer() override;
    bool goOnAfterLoad() override;
    bool goOnDuringPlay() override;
    std::uint64_t openVideoWindow(ScreenPlace place) override;
    void closeVideoWindow() override;

  private:
    WalkContext& m_walk;
    std::string m_fullPath;
};

} // namespace tagrelay
