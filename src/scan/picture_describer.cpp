#include "scan/picture_describer.h"

#include "picture/picture_service.h"
#include "scan/descriptions.h"
#include "scan/file_analysis.h"
#include "scan/folder_context.h"
#include "scan/run_state.h"
#include "scan/walk_context.h"

namespace tagrelay {

namespace {

std::string pictureDescription(const PictureFacts& facts)
{
    return std::to_string(facts.width) + " x " + std::to_string(facts.height) + " pixel "
           + std::to_string(facts.depth) + " Bit";
}

} // namespace

PictureAnalysis analysePicture(OpenFile file, const std::string& fullPath,
                               const AnalysisOptions& options)
{
    PictureAnalysis analysis;
    const Settings& settings = options.settings;
    if (settings.makePictureIcons == 0 && settings.showPictureSize == 0)
        return analysis;
    bool isCutShort = false;
    // The icon needs the pixels; the dimensions alone only the picture's header. An icon
    // that is not written is not made: nothing else would show it.
    if (settings.makePictureIcons != 0 && !isLargerThanAnyPicture(file.fd())) {
        PictureIcon made = makePictureIcon(readOpenPictureFile(file.fd()), options.displayDepth,
                                           settings.iconSize);
        analysis.facts = made.facts;
        analysis.iconBytes = std::move(made.iconBytes);
        isCutShort = made.isCutShort;
    } else {
        analysis.facts = readOpenPictureFacts(file.fd(), options.displayDepth);
        isCutShort = analysis.facts.width != 0 && isCutShortPictureFile(file.fd());
        if (settings.makePictureIcons != 0)
            analysis.errors.push_back("Picture too large for an icon (over 256 MiB): " + fullPath);
    }
    if (!file.isOpen())
        analysis.errors.push_back("File Could Not be opened: " + fullPath);
    else if (analysis.facts.width == 0)
        analysis.errors.push_back("Picture could not be loaded: " + fullPath);
    else if (isCutShort)
        analysis.errors.push_back("Picture cut short, its data ends early: " + fullPath);
    return analysis;
}

void commitPicture(FolderContext& folder, const std::string& name, const PictureAnalysis& analysis,
                   WalkContext& walk)
{
    ++walk.run.fileCount;
    for (const std::string& error : analysis.errors)
        walk.addError(error);
    if (walk.run.settings.showPictureSize != 0)
        folder.appendLine(descriptionLine(name, pictureDescription(analysis.facts)));
    writeIconFile(folder, name, analysis.iconBytes, walk);
}

void describePicture(FolderContext& folder, const std::string& name, OpenFile file,
                     WalkContext& walk)
{
    const std::string fullPath = folder.path + name;
    commitPicture(folder, name, analysePicture(std::move(file), fullPath, analysisOptionsOf(walk)),
                  walk);
}

} // namespace tagrelay
