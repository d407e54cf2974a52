#include "platform/terminal_text.h"

#include "platform/codepage.h"

#include <array>

namespace tagrelay {

namespace {

void appendEscape(std::string& out, unsigned value, bool wide)
{
    constexpr std::array<char, 16> digits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                             '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    out += wide ? "\\u00" : "\\x";
    out += digits[(value >> 4) & 0xF];
    out += digits[value & 0xF];
}

} // namespace

std::string terminalText(std::string_view text, bool utf8)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) {
            appendEscape(out, byte, false);
        } else if (utf8 && byte == 0xC2 && i + 1 < text.size()
                   && static_cast<unsigned char>(text[i + 1]) >= 0x80
                   && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080 to U+009F: the C1 controls, which some terminals obey.
            appendEscape(out, static_cast<unsigned char>(text[++i]), true);
        } else if (!utf8 && byte >= 0x80 && byte <= 0x9F) {
            appendEscape(out, byte, false);
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

std::string terminalText(std::string_view text)
{
    static const bool utf8 = localeCodeset() == "UTF-8";
    return terminalText(text, utf8);
}

} // namespace tagrelay
