#include "scan/picture_describer.h"

#include "picture/picture_service.h"
#include "scan/descriptions.h"
#include "scan/folder_context.h"
#include "scan/run_state.h"
#include "scan/walk_context.h"
#include "scan/walk_reporter.h"

namespace tagrelay {

namespace {

std::string pictureDescription(const PictureFacts& facts)
{
    return std::to_string(facts.width) + " x " + std::to_string(facts.height) + " pixel "
           + std::to_string(facts.depth) + " Bit";
}

} // namespace

void describePicture(FolderContext& folder, const std::string& name, WalkContext& walk)
{
    ++walk.run.fileCount;
    const Settings& settings = walk.run.settings;
    const std::uint8_t depth = walk.reporter.displayDepth();
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
    writeIconFile(folder, name, icon, walk);
}

} // namespace tagrelay
