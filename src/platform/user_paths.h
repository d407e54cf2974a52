#pragma once

#include <string>

namespace tagrelay {

/// The folder where the user's programs keep their caches, with "/" between its names:
/// $XDG_CACHE_HOME, or ~/.cache for a missing or relative XDG_CACHE_HOME (the home from HOME,
/// else from the user database); on Windows %LOCALAPPDATA%. Empty when there is none.
[[nodiscard]] std::string userCacheFolder();

/// A path with "/" between its names, as the program splits paths: on Windows "\" becomes "/"
/// (Windows takes both); elsewhere the path as it is, since "\" is part of a name there.
[[nodiscard]] std::string slashedPath(const std::string& path);

/// A path in the form libraries that take UTF-8 file names want (SQLite on Windows, where the
/// program's paths are in the ANSI code page); elsewhere the bytes as they are, which is what
/// the system takes.
[[nodiscard]] std::string libraryFileName(const std::string& path);

} // namespace tagrelay
