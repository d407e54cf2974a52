#include "scan/walk_context.h"

#include "formats/file_format.h"
#include "lists/list_line.h"
#include "platform/folder.h"
#include "platform/replacement_file.h"
#include "scan/folder_context.h"
#include "scan/run_state.h"
#include "scan/walk_reporter.h"

#include <cstring>

namespace tagrelay {

void WalkContext::addError(const std::string& text)
{
    run.errors.push_back(text);
    reporter.errorAdded(text);
}

bool WalkContext::stopRequestedAfterFile()
{
    if (!reporter.goOnAfterFile())
        run.closeRequested = true;
    return run.closeRequested;
}

bool isStillInTree(FolderContext& folder)
{
    if (folder.start == nullptr || folder.leftTree)
        return !folder.leftTree;
    const auto now = std::chrono::steady_clock::now();
    FolderPlace above;
    if (folder.parentPlace && folder.lastChainCheck != nullptr
        && now - *folder.lastChainCheck < chainCheckInterval) {
        if (!placeAbove(folder.fd, 1, above) || !(above == *folder.parentPlace))
            folder.leftTree = true;
        return !folder.leftTree;
    }
    if (!placeAbove(folder.fd, folder.stepsToStart, above) || !(above == *folder.start))
        folder.leftTree = true;
    else if (folder.lastChainCheck != nullptr)
        *folder.lastChainCheck = now;
    return !folder.leftTree;
}

IconWrite writeIconFile(FolderContext& folder, const std::string& name,
                        std::span<const std::uint8_t> bytes, WalkContext& walk)
{
    if (bytes.empty() || !isStillInTree(folder))
        return IconWrite::None;
    // An icon file that already holds these bytes is left alone, times and all, as a list that
    // would not change is.
    std::string existing;
    if (readFileAt(folder.fd, name + ".ico", bytes.size(), existing).ok()
        && existing.size() == bytes.size()
        && std::memcmp(existing.data(), bytes.data(), bytes.size()) == 0)
        return IconWrite::Written;
    const FolderResult written = replaceFileAt(folder.fd, name + ".ico", bytes);
    if (written.ok())
        return IconWrite::Written;
    walk.addError("Icon file could not be written: " + folder.path + name + ".ico ("
                  + written.reason + ")");
    return IconWrite::Failed;
}

IconWrite commitOutcome(FolderContext& folder, const std::string& name, const FileFormat& format,
                        FileOutcome outcome, WalkContext& walk)
{
    if (outcome.stopped) {
        walk.run.closeRequested = true;
        return IconWrite::None;
    }
    for (std::size_t i = outcome.errorsTold; i < outcome.errors.size(); ++i)
        walk.addError(outcome.errors[i]);
    WalkReporter& reporter = walk.reporter;
    FileShown& shown = outcome.shown;
    if (shown.mp3) {
        shown.mp3->fileCount = walk.run.fileCount;
        reporter.mp3Shown(*shown.mp3);
    }
    if (shown.hasCoverPlace && reporter.showsCovers())
        reporter.coverShown(shown.coverArea ? &*shown.coverArea : nullptr);
    const IconWrite icon = writeIconFile(folder, name, outcome.iconBytes, walk);
    if (shown.description)
        reporter.descriptionShown(*shown.description);
    if (outcome.description)
        folder.appendLine(descriptionLine(name, *outcome.description));
    if (outcome.counted)
        ++walk.run.fileCount;
    if (shown.movie) {
        shown.movie->fileCount = "Filecount: " + std::to_string(walk.run.fileCount);
        reporter.movieShown(*shown.movie);
    }
    if (outcome.counted && format.pollsAfter())
        walk.stopRequestedAfterFile();
    return icon;
}

} // namespace tagrelay
