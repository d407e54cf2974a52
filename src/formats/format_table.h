#pragma once

#include "formats/file_format.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace tagrelay {

/// Every kind of file the walk describes, in the order a name is matched against them. A
/// format's place in the table is its key in the description cache.
[[nodiscard]] std::span<const FileFormat* const> fileFormats();

/// The place in fileFormats() of the format whose extensions the name ends with; none for a
/// file the walk leaves alone.
[[nodiscard]] std::optional<std::size_t> formatPlaceOf(std::string_view fileName);

/// Each format's cache key under the options, by its place in the table.
[[nodiscard]] std::vector<std::string> formatCacheKeys(const LineOptions& options);

} // namespace tagrelay
