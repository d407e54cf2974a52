#include "platform/terminal_text.h"
#include "platform/windows/wide_path.h"

#include <windows.h>

namespace tagrelay {

std::string terminalText(std::string_view text)
{
    if (GetACP() == CP_UTF8)
        return terminalText(text, true);
    // Each character is judged as the character it is: in Windows' code pages the bytes 0x80 to
    // 0x9F are letters and punctuation ("\x96" is an en dash in Windows-1252) or the first
    // halves of characters, not C1 controls. The escapes are ASCII, which every code page keeps.
    const std::string utf8 = windows::textIn(windows::wideIn(text, CP_ACP), CP_UTF8);
    if (utf8.empty() && !text.empty())
        return terminalText(text, false);
    return windows::textIn(windows::wideIn(terminalText(utf8, true), CP_UTF8), CP_ACP);
}

} // namespace tagrelay
