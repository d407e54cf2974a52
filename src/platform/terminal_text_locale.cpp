#include "platform/codepage.h"
#include "platform/terminal_text.h"

namespace tagrelay {

std::string terminalText(std::string_view text)
{
    static const bool utf8 = localeCodeset() == "UTF-8";
    return terminalText(text, utf8);
}

} // namespace tagrelay
