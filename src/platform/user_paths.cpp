#include "platform/user_paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace tagrelay {

std::string userCacheFolder()
{
    const auto absolute = [](const char* value) {
        return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
    };
    if (std::string base = absolute(std::getenv("XDG_CACHE_HOME")); !base.empty())
        return base;
    std::string home = absolute(std::getenv("HOME"));
    if (home.empty()) {
        if (const passwd* entry = ::getpwuid(::geteuid()))
            home = absolute(entry->pw_dir);
    }
    return home.empty() ? std::string() : home + "/.cache";
}

std::string slashedPath(const std::string& path)
{
    return path;
}

std::string libraryFileName(const std::string& path)
{
    return path;
}

} // namespace tagrelay
