#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tagrelay {

/// The error entries of a file as the cache keeps them: each entry ended by a zero byte, the
/// file's path taken out and marked by the byte 1, so the entries follow the file when its
/// folder is renamed or the tree is given by another path. Nothing when an entry cannot be
/// kept so: one that names the path more than once, or holds a zero byte or the byte 1
/// outside it.
[[nodiscard]] std::optional<std::string> encodeErrorEntries(const std::vector<std::string>& entries,
                                                            std::string_view fullPath);

/// The entries back, with fullPath put in; nothing for bytes encodeErrorEntries never makes
/// (an entry not ended by a zero byte, or with the mark twice).
[[nodiscard]] std::optional<std::vector<std::string>> decodeErrorEntries(std::string_view bytes,
                                                                         std::string_view fullPath);

} // namespace tagrelay
