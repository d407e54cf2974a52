#include "scan/pictures.h"

#include "media/picture_service.h"
#include "platform/folder.h"
#include "scan/descriptions.h"
#include "scan/folder_context.h"
#include "scan/progress.h"
#include "scan/run_state.h"
#include "tags/cover.h"
#include "tags/track_facts.h"
#include "window/window_layer.h"

namespace tagrelay {

namespace {

std::string pictureDescription(const PictureFacts& facts)
{
    return std::to_string(facts.width) + " x " + std::to_string(facts.height) + " pixel "
           + std::to_string(facts.depth) + " Bit";
}

std::uint8_t displayDepthOf(const WindowLayer& window)
{
    return static_cast<std::uint8_t>(window.screenDepth());
}

/// Writes an icon file beside the described file, whole or not at all, never through a link.
void writeIconFile(FolderContext& folder, const std::string& name,
                   const std::vector<std::uint8_t>& bytes, WindowLayer& window, RunState& run)
{
    if (bytes.empty())
        return;
    const FolderResult written = replaceFileAt(folder.fd, name + ".ico", bytes);
    if (!written.ok())
        addError(run, window,
                 "Icon file could not be written: " + folder.path + name + ".ico ("
                     + written.reason + ")");
}

} // namespace

void describePicture(FolderContext& folder, const std::string& name, WindowLayer& window,
                     RunState& run)
{
    ++run.fileCount;
    const Settings& settings = run.settings;
    const std::uint8_t depth = displayDepthOf(window);
    // The icon needs the pixels; the dimensions alone only the picture's header. An icon
    // that is not written is not made: nothing else would show it.
    PictureFacts facts;
    std::vector<std::uint8_t> icon;
    if (settings.makePictureIcons != 0) {
        PictureIcon made =
            makePictureIcon(readPictureFile(folder.fd, name), depth, settings.iconSize);
        facts = made.facts;
        icon = std::move(made.iconBytes);
    } else if (settings.showPictureSize != 0) {
        facts = readPictureFileFacts(folder.fd, name, depth);
    }
    if (settings.showPictureSize != 0)
        folder.appendLine(descriptionLine(name, pictureDescription(facts)));
    writeIconFile(folder, name, icon, window, run);
}

void takeCover(TrackFacts& facts, const WindowLayer& window)
{
    facts.picture.reset();
    if (!facts.coverFrame.empty())
        takeCoverFrame(facts.coverFrame, facts.picture, displayDepthOf(window));
}

void showCover(FolderContext& folder, const std::string& name, TrackFacts& facts,
               WindowLayer& window, RunState& run)
{
    if (!facts.picture) {
        drawPictureArea(window, nullptr);
        return;
    }
    const RgbImage area = coverAreaImage(*facts.picture);
    drawPictureArea(window, &area);
    // The cover itself becomes the icon's size, whether or not the icon is written.
    std::vector<std::uint8_t> icon = makeCoverIcon(*facts.picture, run.settings.iconSize);
    if (run.settings.makeMp3Icons != 0)
        writeIconFile(folder, name, icon, window, run);
}

} // namespace tagrelay
