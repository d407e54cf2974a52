// The movie step as the walk calls it today: the hooks of describeMovie over the window layer
// and the run's state.

#include "media/movie_service.h"
#include "platform/file_writer.h"
#include "scan/descriptions.h"
#include "scan/movies.h"
#include "scan/progress.h"
#include "scan/run_state.h"
#include "scan/walk.h"

namespace tagrelay {

namespace {

/// One worker serves every movie of the program's life; it starts with the first movie.
MovieService& walkMovieService()
{
    static MovieService service;
    return service;
}

} // namespace

void describeMovie(const std::string& fullPath, const std::string& name,
                   const std::string& descriptionPath, WindowLayer& window, RunState& run)
{
    MovieWalkHooks hooks;
    hooks.showAnalysing = [&](const std::string& path) { showAnalysing(window, path); };
    hooks.pollForClose = [&] {
        drainEvents(window, run);
        return run.closeRequested;
    };
    hooks.openVideoWindow = [&](Box place) { return window.openVideoWindow(place); };
    hooks.closeVideoWindow = [&] { window.closeVideoWindow(); };
    hooks.writeDescription = [&](const std::string& description) {
        appendToFile(descriptionPath, descriptionLine(name, description));
    };
    hooks.countFile = [&] { return ++run.fileCount; };
    hooks.showMovieRows = [&](const MovieRows& rows) {
        showField(window, filenameField, rows.filename);
        showField(window, artistField, rows.size);
        showField(window, titleField, rows.fps);
        showField(window, bitrateField, rows.blank);
        showField(window, genreField, rows.blank);
        showField(window, channelModeField, rows.blank);
        showField(window, playtimeField, rows.playingTime);
        showField(window, fileCountField, rows.fileCount);
        showPreview(window, rows.preview);
    };
    hooks.addError = [&](const std::string& line) { addError(window, line); };

    const MovieScreen screen{window.screenWidth(), window.screenHeight()};
    if (describeMovie(fullPath, name, walkMovieService(), screen, hooks)
        == MovieOutcome::CloseRequested)
        run.closeRequested = true;
}

} // namespace tagrelay
