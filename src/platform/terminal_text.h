#pragma once

#include <string>
#include <string_view>

namespace tagrelay {

/// The text as a terminal may show it: control characters (C0, DEL, and C1 in UTF-8 or as
/// single bytes) become visible escapes such as "\x1b" or "\u009b", so a file name or a tag can
/// never move the cursor, retitle the window or clear the screen. In UTF-8 the bidirectional
/// controls (U+202A..U+202E, U+2066..U+2069), which reorder what follows them on the line,
/// become escapes such as "\u202e" too, and so does each byte of a malformed sequence ("\x9b"),
/// which some terminals take for a C1 control. A backslash stays as it is.
[[nodiscard]] std::string terminalText(std::string_view text, bool utf8);
/// The same in the locale's character set (UTF-8 or a single-byte one).
[[nodiscard]] std::string terminalText(std::string_view text);

/// Whether text is well-formed UTF-8 throughout: no stray continuation byte, overlong form,
/// surrogate half, code point above U+10FFFF or sequence cut short.
[[nodiscard]] bool isWellFormedUtf8(std::string_view text);

} // namespace tagrelay
