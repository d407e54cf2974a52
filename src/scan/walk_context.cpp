#include "scan/walk_context.h"

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
    FolderPlace above;
    if (!placeAbove(folder.fd, folder.stepsToStart, above) || !(above == *folder.start))
        folder.leftTree = true;
    return !folder.leftTree;
}

void writeIconFile(FolderContext& folder, const std::string& name,
                   std::span<const std::uint8_t> bytes, WalkContext& walk)
{
    if (bytes.empty() || !isStillInTree(folder))
        return;
    // An icon file that already holds these bytes is left alone, times and all, as a list that
    // would not change is.
    std::string existing;
    if (readFileAt(folder.fd, name + ".ico", bytes.size(), existing).ok()
        && existing.size() == bytes.size()
        && std::memcmp(existing.data(), bytes.data(), bytes.size()) == 0) {
        ++walk.iconsWritten;
        return;
    }
    const FolderResult written = replaceFileAt(folder.fd, name + ".ico", bytes);
    if (written.ok()) {
        ++walk.iconsWritten;
        return;
    }
    ++walk.iconsFailed;
    walk.addError("Icon file could not be written: " + folder.path + name + ".ico ("
                  + written.reason + ")");
}

} // namespace tagrelay
