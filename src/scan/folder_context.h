#pragma once

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

    void appendLine(std::string_view line) { lines += line; }
};

} // namespace tagrelay
