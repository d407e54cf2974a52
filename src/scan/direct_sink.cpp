#include "scan/direct_sink.h"

#include "movie/movie_service.h"
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
    options.screen = walk.reporter.screenSize();
    options.readAhead = walk.readAhead;
    return options;
}

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

MovieSource* DirectSink::moviePlayer()
{
    // One worker serves every movie of the run; it starts with the first movie.
    RunState& run = m_walk.run;
    if (!run.movieService) {
        MovieServiceOptions options;
        options.showsWindows = m_walk.reporter.showsMovies();
        if (options.showsWindows) {
            WalkReporter& reporter = m_walk.reporter;
            options.showPicture = [&reporter](const MoviePicture& picture) {
                reporter.moviePictureShown(picture);
            };
        }
        run.movieService = std::make_shared<MovieService>(options);
    }
    return run.movieService.get();
}

bool DirectSink::goOnAfterLoad()
{
    return !m_walk.stopRequestedAfterFile();
}

bool DirectSink::goOnDuringPlay()
{
    if (!m_walk.reporter.goOnWhilePlaying())
        m_walk.run.closeRequested = true;
    return !m_walk.run.closeRequested;
}

std::uint64_t DirectSink::openVideoWindow(ScreenPlace place)
{
    return m_walk.reporter.openVideoWindow(place);
}

void DirectSink::closeVideoWindow()
{
    m_walk.reporter.closeVideoWindow();
}

} // namespace tagrelay
