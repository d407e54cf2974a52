#include "scan/file_analysis.h"

#include "scan/run_state.h"
#include "scan/walk_context.h"
#include "scan/walk_reporter.h"

namespace tagrelay {

AnalysisOptions analysisOptionsOf(const WalkContext& walk)
{
    AnalysisOptions options;
    options.settings = walk.run.settings;
    options.tagVersions = walk.run.tagVersions;
    options.showsCovers = walk.reporter.showsCovers();
    options.displayDepth = walk.reporter.displayDepth();
    options.readAhead = walk.readAhead;
    return options;
}

AnalysisSink::~AnalysisSink() = default;

void DirectSink::analysing()
{
    m_walk.reporter.analysing(m_fullPath);
}

void DirectSink::scanStarted(std::int64_t fileSize)
{
    m_walk.reporter.scanStarted(fileSize);
}

bool DirectSink::scanProgress(std::int64_t bytesDone)
{
    m_walk.reporter.scanProgress(bytesDone);
    // The user may stop the walk during a long scan; it ends at once then.
    if (m_walk.reporter.goOn())
        return true;
    m_walk.run.closeRequested = true;
    return false;
}

void DirectSink::scanFinished()
{
    m_walk.reporter.scanFinished();
}

void DirectSink::errorFound(const std::string& text)
{
    m_walk.addError(text);
}

} // namespace tagrelay
