#include "cache/description_cache_record.h"

namespace tagrelay {

namespace {

constexpr char entryEnd = '\0';
constexpr char pathMark = '\1';

bool holdsReservedByte(std::string_view text)
{
    return text.find(entryEnd) != std::string_view::npos
           || text.find(pathMark) != std::string_view::npos;
}

} // namespace

std::optional<std::string> encodeErrorEntries(const std::vector<std::string>& entries,
                                              std::string_view fullPath)
{
    std::string bytes;
    for (const std::string& entry : entries) {
        const std::size_t at = fullPath.empty() ? std::string::npos : entry.find(fullPath);
        if (at == std::string::npos) {
            if (holdsReservedByte(entry))
                return std::nullopt;
            bytes += entry;
        } else {
            const std::string_view before = std::string_view(entry).substr(0, at);
            const std::string_view after = std::string_view(entry).substr(at + fullPath.size());
            // A second mention, even one overlapping the first, could not be told from text
            // that only looks like the path.
            if (entry.find(fullPath, at + 1) != std::string::npos || holdsReservedByte(before)
                || holdsReservedByte(after))
                return std::nullopt;
            bytes.append(before);
            bytes += pathMark;
            bytes.append(after);
        }
        bytes += entryEnd;
    }
    return bytes;
}

std::optional<std::vector<std::string>> decodeErrorEntries(std::string_view bytes,
                                                           std::string_view fullPath)
{
    std::vector<std::string> entries;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find(entryEnd);
        if (end == std::string_view::npos)
            return std::nullopt;
        const std::string_view stored = bytes.substr(0, end);
        bytes.remove_prefix(end + 1);
        const std::size_t mark = stored.find(pathMark);
        if (mark == std::string_view::npos) {
            entries.emplace_back(stored);
            continue;
        }
        if (stored.find(pathMark, mark + 1) != std::string_view::npos)
            return std::nullopt;
        std::string entry(stored.substr(0, mark));
        entry.append(fullPath);
        entry.append(stored.substr(mark + 1));
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace tagrelay
