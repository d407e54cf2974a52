#include "lists/list_renewal.h"

namespace tagrelay {

FolderResult renewList(int folderFd, const std::string& listName,
                       std::span<const DirectoryEntry> entries,
                       std::span<const EntryLines> described)
{
    std::string old;
    const FolderResult read = readFileAt(folderFd, listName, maxListBytes, old);
    if (!read.ok())
        return {read.reason + "; left as it is"};
    const auto existsNow = [folderFd](const std::string& name) {
        EntryKind kind = EntryKind::Other;
        return kindAt(folderFd, name, kind);
    };
    const std::optional<std::string> merged = mergeList(old, entries, described, existsNow);
    if (!merged)
        return {"not a list of 8-bit text lines (UTF-16?); left as it is"};
    EntryKind kind = EntryKind::Other;
    if (*merged == old && (!old.empty() || kindAt(folderFd, listName, kind)))
        return {};
    FolderResult made;
    ReplacementFile listFile = ReplacementFile::create(folderFd, made);
    if (!made.ok())
        return made;
    return listFile.replace(folderFd, listName, *merged);
}

} // namespace tagrelay
