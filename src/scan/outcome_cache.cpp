#include "scan/outcome_cache.h"

namespace tagrelay {

OutcomeCache::~OutcomeCache() = default;

bool isIconInPlace(int folderFd, const std::string& name, const CachedFile& file)
{
    if (!file.icon)
        return true;
    const auto icon = readStampAt(folderFd, name + ".ico", LinkRule::NoFollow);
    return icon && icon->stamp == *file.icon;
}

} // namespace tagrelay
