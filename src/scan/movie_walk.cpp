// The walk's movie step: the hooks of describeMovie over the window layer and the run's state.

#include "media/movie_service.h"
#include "scan/descriptions.h"
#include "scan/folder_context.h"
#include "scan/movies.h"
#include "scan/progress.h"
#include "scan/run_state.h"
#include "scan/walk.h"

#include <unistd.h>

#include <memory>

namespace tagrelay {

namespace {

/// The longest path handed to the movie worker as it stands; a longer one goes through this
/// process's handle of the folder, which the worker (its child) may open.
constexpr std::size_t longestPlainPath = 3000;

std::string workerPathOf(const FolderContext& folder, const std::string& name)
{
    const std::string path = folder.path + name;
    if (path.size() <= longestPlainPath)
        return path;
    return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(folder.fd) + "/"
           + name;
}

} // namespace

void describeMovie(FolderContext& folder, const std::string& name, WindowLayer& window,
                   RunState& run)
{
    // One worker serves every movie of the run; it starts with the first movie.
    if (!run.movieService)
        run.movieService = std::make_shared<MovieService>();
    MovieWalkHooks hooks;
    hooks.showAnalysing = [&](const std::string&) { showAnalysing(window, folder.path + name); };
    hooks.pollForClose = [&] {
        drainEvents(window, run);
        return run.closeRequested;
    };
    hooks.openVideoWindow = [&](Box place) { return window.openVideoWindow(place); };
    hooks.closeVideoWindow = [&] { window.closeVideoWindow(); };
    hooks.writeDescription = [&](const std::string& description) {
        folder.appendLine(descriptionLine(name, description));
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
    hooks.addError = [&](const std::string& line) { addError(run, window, line); };

    const MovieScreen screen{window.screenWidth(), window.screenHeight()};
    if (describeMovie(workerPathOf(folder, name), name, *run.movieService, screen, hooks)
        == MovieOutcome::CloseRequested)
        run.closeRequested = true;
}

} // namespace tagrelay
