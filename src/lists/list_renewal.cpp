#include "lists/list_renewal.h"

#include "platform/file_stamp.h"

#include <optional>
#include <unordered_set>

namespace tagrelay {

namespace {

/// How often a list that another program changed while the new one was made is read and
/// merged again before the walk's lines go in regardless.
constexpr int renewalTries = 4;

/// What tells a list's bytes apart without reading them: its file, size and times. Nothing
/// for a list that is not there.
std::optional<FileStamp> listStampAt(int folderFd, const std::string& name)
{
    const std::optional<StampReading> reading = readStampAt(folderFd, name, LinkRule::NoFollow);
    return reading ? std::optional<FileStamp>(reading->stamp) : std::nullopt;
}

} // namespace

FolderResult renewList(int folderFd, const std::string& listName,
                       std::span<const DirectoryEntry> entries,
                       std::span<const EntryLines> described, ListCharset asked,
                       CharsetNotes* notes, const std::function<void()>& afterRead,
                       const StopAsked& stopAsked)
{
    for (int attempt = 1;; ++attempt) {
        // Old lines of names the listing lacks are looked up in one fresh listing of the
        // folder, made on the first such name: a list of a million names that were never
        // there costs one listing, not a million look-ups.
        std::optional<std::unordered_set<std::string>> namesNow;
        const auto existsNow = [folderFd, &namesNow](const std::string& name) {
            if (!namesNow) {
                namesNow.emplace();
                FolderResult listed;
                for (DirectoryEntry& entry : listFolder(folderFd, listed))
                    namesNow->insert(std::move(entry.name));
            }
            return namesNow->contains(name);
        };
        // Another program (a web server taking visitors' comments) may write the list while
        // the walk merges: the list is looked at again just before the new one takes its
        // place, and read and merged again when it changed.
        const std::optional<FileStamp> before = listStampAt(folderFd, listName);
        std::string old;
        const FolderResult read = readFileAt(folderFd, listName, maxListBytes, old);
        if (!read.ok())
            return {read.reason + "; left as it is"};
        if (afterRead)
            afterRead();
        // Notes of an earlier try are about a list that is no more.
        if (notes != nullptr)
            *notes = {};
        const std::optional<std::string> merged =
            mergeList(old, entries, described, existsNow, asked, notes, stopAsked);
        if (!merged && stopAsked && stopAsked())
            return {stoppedDuringRenewal};
        if (!merged)
            return {"not a list of 8-bit text lines (UTF-16?); left as it is"};
        EntryKind kind = EntryKind::Other;
        if (*merged == old && (!old.empty() || kindAt(folderFd, listName, kind)))
            return {};
        FolderResult made;
        ReplacementFile listFile = ReplacementFile::create(folderFd, made);
        if (!made.ok())
            return made;
        const bool isLastTry = attempt == renewalTries;
        const FolderResult written = listFile.replace(
            folderFd, listName, *merged, isLastTry ? std::function<bool()>() : [&] {
                return listStampAt(folderFd, listName) == before;
            });
        if (written.reason != replacedMeanwhile)
            return written;
    }
}

} // namespace tagrelay
