#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tagrelay {

/// The character set of the user's locale ("UTF-8", "ISO-8859-1", "ANSI_X3.4-1968", ...).
/// The program keeps every text in it, as the file names come.
std::string localeCodeset();

/// Converts UTF-16 units to the locale's character set. A character the set lacks becomes
/// its nearest equivalent where the set has one, else "?"; so does a broken surrogate pair.
std::string utf16ToLocale(std::span<const std::uint16_t> units);

/// Converts ISO-8859-1 bytes to the locale's character set (unchanged on a Latin-1 system),
/// with the same substitution rule as utf16ToLocale.
std::string latin1ToLocale(std::string_view bytes);

/// Converts a text in the locale's character set to UTF-8, for consoles and toolkits that
/// want it. Bytes that do not convert become U+FFFD.
std::string localeToUtf8(std::string_view text);

/// Converts a text in the locale's character set to UTF-8 character for character, for the
/// lists written in UTF-8. Nothing when a byte sequence is no character of the set (a file name
/// in another set than the locale's). In the C locale, whose set is ASCII alone, a text of
/// valid UTF-8 is taken as it is: the names such a run sees are the system's, mostly UTF-8.
[[nodiscard]] std::optional<std::string> exactLocaleToUtf8(std::string_view text);

/// The bytes a web server of this system takes a URL path segment for when it looks up a file
/// name: the name's own bytes on POSIX systems, whose names are bytes; its UTF-8 form on
/// Windows, whose names are Unicode.
std::string nameInUrl(std::string_view name);

} // namespace tagrelay
