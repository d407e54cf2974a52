#include "scan/pictures.h"

#include "scan/descriptions.h"
#include "scan/folder_context.h"
#include "scan/progress.h"
#include "scan/run_state.h"
#include "tags/track_facts.h"

namespace tagrelay {

void describePicture(FolderContext& folder, const std::string& name, RunState& run)
{
    ++run.fileCount;
    // FIXME: pictures are not decoded yet, so every picture reads as one that cannot be loaded.
    const int width = 0;
    const int height = 0;
    const int depth = 0;
    if (run.settings.showPictureSize != 0) {
        const std::string description = std::to_string(width) + " x " + std::to_string(height)
                                        + " pixel " + std::to_string(depth) + " Bit";
        folder.appendLine(descriptionLine(name, description));
    }
}

void showCover(const TrackFacts& facts, WindowLayer& window, RunState& /*run*/)
{
    drawPictureArea(window, facts.picture.get());
    // FIXME: the cover is not yet shrunk to the icon size nor written as an icon file.
}

} // namespace tagrelay
