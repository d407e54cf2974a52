#pragma once

#include "lists/html_index.h"

#include <cstddef>
#include <string>

namespace tagrelay {

/// The largest page the walk writes, and the largest it reads to tell whether it is its own
/// (none of its own is larger): a folder of a few hundred thousand entries stays below it.
inline constexpr std::size_t maxIndexPageBytes = std::size_t{64} << 20;

/// What became of a folder's page.
enum class PageWrite {
    Unchanged, // it held these bytes already: not written, times and all
    Written,
    NotOurs, // a page of somebody else's (or anything but a regular file) under the name
    Failed,
};

struct PageRenewal
{
    PageWrite write = PageWrite::Unchanged;
    std::string reason; // for NotOurs and Failed, for the list of files with errors
};

/// Renews the page (indexPageName) of an open folder from the folder as it is now, listed
/// afresh, and its list listName as it is on disk (see indexPageOf); title is the folder's
/// name. Only a page of this program is replaced, and only when its bytes change, through a
/// temporary file and a rename, never through a link. The page is readable by no more users
/// than the list it shows (its permission bits and, as root, its owner), nor than may list the
/// folder; without a list, by no more than a new file or the page before it.
[[nodiscard]] PageRenewal renewIndexPage(int folderFd, const std::string& title,
                                         const std::string& listName, ListTexts texts);

} // namespace tagrelay
