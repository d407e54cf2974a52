#pragma once

#include <string>
#include <string_view>

namespace tagrelay {

/// False for a file name the list format cannot hold: one with a double quote, or a character
/// a reader of the list could take for a line break (CR, LF, VT, FF, U+001C-001E, and in UTF-8
/// U+0085, U+2028 and U+2029).
bool isWritableName(std::string_view name);

/// One line of a description file: the quoted name, a blank, the description and CR LF.
/// Control characters in the description (a line break in a tag) become blanks, so a tag can
/// never start a line of its own.
std::string descriptionLine(std::string_view name, std::string_view description);

} // namespace tagrelay
