#pragma once

#include <string>
#include <string_view>

namespace tagrelay {

/// The text as a terminal may show it: control characters (C0, DEL, and C1 in UTF-8 or as
/// single bytes) become visible escapes such as "\x1b", so a file name or a tag can never
/// move the cursor, retitle the window or clear the screen. A backslash stays as it is.
[[nodiscard]] std::string terminalText(std::string_view text, bool utf8);
/// The same in the locale's character set (UTF-8 or a single-byte one).
[[nodiscard]] std::string terminalText(std::string_view text);

} // namespace tagrelay
