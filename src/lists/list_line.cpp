#include "lists/list_line.h"

namespace tagrelay {

bool isWritableName(std::string_view name)
{
    // Whatever a reader of the list could take for the end of a line: CR and LF, and what
    // Unicode-aware readers also split at (vertical tab, form feed, the file, group and record
    // separators, and in UTF-8 next line, line separator and paragraph separator).
    constexpr std::string_view lineBreaks[] = {
        "\r", "\n", "\v", "\f", "\x1C", "\x1D", "\x1E", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"};
    if (name.find('"') != std::string_view::npos)
        return false;
    for (const std::string_view lineBreak : lineBreaks) {
        if (name.find(lineBreak) != std::string_view::npos)
            return false;
    }
    return true;
}

std::string descriptionLine(std::string_view name, std::string_view description)
{
    std::string line;
    line.reserve(name.size() + description.size() + 5);
    line += '"';
    line += name;
    line += "\" ";
    for (const char c : description)
        line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    line += "\r\n";
    return line;
}

} // namespace tagrelay
