#pragma once

#include "lists/list_merge.h"
#include "platform/tree_guard.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tagrelay {

/// The folder the walk is describing, as the describers of its files see it: the open folder
/// to open files in and write icon files into, its path for what the user is shown, and the
/// folder's new lines. The lines are kept here, entry by entry, until the folder is finished;
/// they then go into the folder's list in one step (see mergeList), so a list on disk is
/// always whole and keeps the lines of entries the walk did not describe.
struct FolderContext
{
    int fd = -1;
    std::string path; // from the start folder as the user gave it, ending in "/"
    /// The lines written for the entry being described.
    std::string entryLines;
    /// The entries described to their end, in the order the walk took them.
    std::vector<EntryLines> described;
    /// Where the start folder stands, and how many ".." steps lead up to it from this folder:
    /// files are written into the folder only while it is still in the tree.
    const FolderPlace* start = nullptr;
    int stepsToStart = 0;
    /// Where the folder above it stands, for a folder entered by its name from there; such a
    /// folder is checked by one step up while the whole chain was checked a moment ago.
    std::optional<FolderPlace> parentPlace;
    /// When the walk last checked a whole chain of folders up to the start folder.
    std::chrono::steady_clock::time_point* lastChainCheck = nullptr;
    /// Set when the folder was found moved out of the tree: nothing more is written into it.
    bool leftTree = false;

    void appendLine(std::string_view line) { entryLines += line; }

    /// Closes the entry at place index of the folder's listing, which the walk described.
    /// When the walk was stopped inside it before it wrote a line (during a stream scan or at
    /// a movie's first poll), the entry counts as not reached: its old lines stay.
    void finishEntry(std::size_t index, bool stopped)
    {
        if (!stopped || !entryLines.empty())
            described.push_back({index, std::move(entryLines)});
        entryLines.clear();
    }
};

} // namespace tagrelay
