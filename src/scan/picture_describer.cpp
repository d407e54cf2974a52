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

void describePicture(FolderContext& folder, const std::string& name, OpenFile file,
                     WalkContext& walk)
{
    ++walk.run.fileCount;
    const Settings& settings = walk.run.settings;
    if (settings.makePictureIcons == 0 && settings.showPictureSize == 0)
        return;
    const std::string fullPath = folder.path + name;
    const std::uint8_t depth = walk.reporter.displayDepth();
    // The icon needs the pixels; the dimensions alone only the picture's header. An icon
    // that is not written is not made: nothing else would show it.
    PictureFacts facts;
    std::vector<std::uint8_t> icon;
    if (settings.makePictureIcons != 0 && !isLargerThanAnyPicture(file.fd())) {
        PictureIcon made =
            makePictureIcon(readOpenPictureFile(file.fd()), depth, settings.iconSize);
        facts = made.facts;
        icon = std::move(made.iconBytes);
    } else {
        facts = readOpenPictureFacts(file.fd(), depth);
        if (settings.makePictureIcons != 0)
            walk.addError("Picture too large for an icon (over 256 MiB): " + fullPath);
    }
    if (!file.isOpen())
        walk.addError("File Could Not be opened: " + fullPath);
    else if (facts.width == 0)
        walk.addError("Picture could not be loaded: " + fullPath);
    if (settings.showPictureSize != 0)
        folder.appendLine(descriptionLine(name, pictureDescription(facts)));
    writeIconFile(folder, name, icon, walk);
}

} // namespace tagrelay
