#include "formats/file_format.h"

#include <algorithm>

namespace tagrelay {

AnalysisSink::~AnalysisSink() = default;

FileFormat::~FileFormat() = default;

bool FileFormat::matches(std::string_view fileName) const
{
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return std::any_of(extensions().begin(), extensions().end(), [&](std::string_view ending) {
        return fileName.size() >= ending.size()
               && std::equal(ending.begin(), ending.end(),
                             fileName.end() - static_cast<std::ptrdiff_t>(ending.size()),
                             [&](char a, char b) { return a == lower(b); });
    });
}

std::string_view entryNameOf(std::string_view fullPath)
{
    const std::size_t slash = fullPath.rfind('/');
    return slash == std::string_view::npos ? fullPath : fullPath.substr(slash + 1);
}

} // namespace tagrelay
