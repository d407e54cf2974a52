#pragma once

#include "lists/list_merge.h"
#include "platform/directory.h"
#include "platform/folder.h"
#include "platform/replacement_file.h"

#include <cstddef>
#include <functional>
#include <span>
#include <string>

namespace tagrelay {

/// The largest description list the walk renews. A list of a hundred thousand files with long
/// descriptions stays far below it; a larger one is left as it is rather than read whole.
inline constexpr std::size_t maxListBytes = std::size_t{64} << 20;

/// Renews the description list listName of an open folder: reads the list as it is now (never
/// through a link), so lines that another program wrote during the walk are kept too, merges
/// the walk's new lines into it (mergeList) and replaces it whole through a temporary file of
/// the folder (ReplacementFile). A list whose bytes would not change is not written at all, and
/// no temporary file is made: the list keeps its modification time, and the folder its own,
/// for the web server's caches and for backups. A list that cannot be read, is larger than
/// maxListBytes or cannot take lines of 8-bit text is left as it is; the result says why.
/// A list another program changes meanwhile is read and merged again, a few times at most,
/// so its lines are kept too; only a change in the moment between the last look and the
/// rename can still be lost, which no writer can prevent without the other's cooperation.
/// The walk's lines go in in the charset asked as mergeList has it; notes, when given, say
/// what the list that was written could not take. afterRead runs after each read of the list
/// (tests write into the list there). stopAsked is asked during the merge of a long list:
/// when it says to stop, the list is left as it is and the result says so
/// (stoppedDuringRenewal).
[[nodiscard]] FolderResult
renewList(int folderFd, const std::string& listName, std::span<const DirectoryEntry> entries,
          std::span<const EntryLines> described, ListCharset asked = ListCharset::Locale,
          CharsetNotes* notes = nullptr, const std::function<void()>& afterRead = {},
          const StopAsked& stopAsked = {});

/// The reason renewList gives for a list it left because the walk was stopped.
inline constexpr const char* stoppedDuringRenewal =
    "the walk was stopped while the list was renewed; left as it is";

} // namespace tagrelay
