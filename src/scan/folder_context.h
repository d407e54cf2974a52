#pragma once

#include "platform/tree_guard.h"

#include <string>
#include <string_view>

namespace tagrelay {

/// The folder the walk is describing, as the describers of its files see it: the open folder
/// to open files in and write icon files into, its path for what the user is shown, and the
/// folder's new description list. The list is kept here until the folder is finished and then
/// replaces the old one at once, so a list on disk is always whole.
struct FolderContext
{
    int fd = -1;
    std::string path; // from the start folder as the user gave it, ending in "/"
    std::string lines;
    /// Where the start folder stands, and how many ".." steps lead up to it from this folder:
    /// files are written into the folder only while it is still in the tree.
    const FolderPlace* start = nullptr;
    int stepsToStart = 0;
    /// Set when the folder was found moved out of the tree: nothing more is written into it.
    bool leftTree = false;

    void appendLine(std::string_view line) { lines += line; }
};

} // namespace tagrelay
