#pragma once

#include <string>

namespace tagrelay {

/// The cache's place when none is given: tagrelay/descriptions.sqlite in the user's cache
/// folder ($XDG_CACHE_HOME, else ~/.cache; %LOCALAPPDATA% on Windows: userCacheFolder()).
/// Empty when there is none.
[[nodiscard]] std::string defaultDescriptionCachePath();

/// Where the cache's database is, once its place was found safe.
struct CachePlace
{
    /// The canonical path of the database file; SQLite opens this one.
    std::string databasePath;
    /// Why the place is not used, as the cache's warning says it; empty when it is safe.
    std::string unsafeReason;
};

/// Checks the place of the cache and makes its file when missing (permissions 0600), so the
/// program never writes where another user could redirect it, also when it runs as root:
/// every folder on the canonical path belongs to root or the running user and only the owner
/// can write it (a folder above the last may be sticky, like /tmp); the last folder belongs to
/// the user; the database and the -wal and -shm journals SQLite opens beside it by name are,
/// where they exist, regular files of the user with no other name. makesFolders makes the
/// missing folders first (permissions 0700), for the default place.
[[nodiscard]] CachePlace prepareCachePlace(const std::string& path, bool makesFolders);

} // namespace tagrelay
