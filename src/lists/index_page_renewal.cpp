#include "lists/index_page_renewal.h"

#include "lists/list_renewal.h"
#include "platform/file_stamp.h"
#include "platform/folder.h"
#include "platform/replacement_file.h"

#include <sys/stat.h>

namespace tagrelay {

namespace {

std::optional<FileStamp> pageStampAt(int folderFd)
{
    const auto reading = readStampAt(folderFd, indexPageName, LinkRule::NoFollow);
    return reading ? std::optional<FileStamp>(reading->stamp) : std::nullopt;
}

/// Who may read the new page: as the list, or the old page, or a new file; never a class of
/// users that may not list the folder, since the page lists it.
FileAccess pageAccess(int folderFd, const std::string& listName)
{
    std::optional<FileAccess> access = fileAccessAt(folderFd, listName);
    if (!access)
        access = fileAccessAt(folderFd, indexPageName);
    if (!access)
        access = FileAccess{newFileMode(), 0, 0, false};
    struct stat folder
    {
    };
    // The read bits of the group (0040) and of others (0004), where the folder lacks them.
    if (::fstat(folderFd, &folder) == 0)
        access->mode &= ~(~static_cast<unsigned>(folder.st_mode) & 0044U);
    return *access;
}

} // namespace

PageRenewal renewIndexPage(int folderFd, const std::string& title, const std::string& listName,
                           ListTexts texts)
{
    const std::string pageName = indexPageName;
    const std::optional<FileStamp> before = pageStampAt(folderFd);
    std::string old;
    const FolderResult read = readFileAt(folderFd, pageName, maxIndexPageBytes, old);
    if (!read.ok())
        return {PageWrite::NotOurs, read.reason};
    EntryKind kind = EntryKind::Other;
    const bool exists = !old.empty() || kindAt(folderFd, pageName, kind);
    if (exists && !isOwnIndexPage(old))
        return {PageWrite::NotOurs, "not written by Tagrelay"};

    std::string list;
    if (const FolderResult listRead = readFileAt(folderFd, listName, maxListBytes, list);
        !listRead.ok())
        return {PageWrite::Failed, listName + " could not be read: " + listRead.reason};
    FolderResult listed;
    std::vector<ListedEntry> listing;
    for (DirectoryEntry& entry : listFolder(folderFd, listed)) {
        ListedEntry item{std::move(entry), std::nullopt};
        if (item.entry.kind == EntryKind::File && !item.entry.isLink) {
            if (const auto stamp = readStampAt(folderFd, item.entry.name, LinkRule::NoFollow))
                item.size = static_cast<std::uint64_t>(stamp->stamp.size);
        }
        listing.push_back(std::move(item));
    }
    if (!listed.ok())
        return {PageWrite::Failed, "folder could not be listed: " + listed.reason};
    const std::string page = indexPageBytes(indexPageOf(title, listing, list, texts));
    if (page == old)
        return {};
    if (page.size() > maxIndexPageBytes)
        return {PageWrite::Failed, "larger than " + std::to_string(maxIndexPageBytes) + " bytes"};

    FolderResult made;
    ReplacementFile file = ReplacementFile::create(folderFd, made);
    if (!made.ok())
        return {PageWrite::Failed, made.reason};
    file.setAccess(pageAccess(folderFd, listName));
    // Somebody may put a page of their own in place meanwhile: it is not replaced.
    const FolderResult written =
        file.replace(folderFd, pageName, page, [&] { return pageStampAt(folderFd) == before; });
    if (!written.ok())
        return {PageWrite::Failed, written.reason};
    return {PageWrite::Written, {}};
}

} // namespace tagrelay
