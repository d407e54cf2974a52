#include "platform/terminal_text.h"

#include <windows.h>

namespace tagrelay {

namespace {

std::wstring wideOf(std::string_view text, UINT codePage)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string encoded(const std::wstring& wide, UINT codePage)
{
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

} // namespace

std::string terminalText(std::string_view text)
{
    if (GetACP() == CP_UTF8)
        return terminalText(text, true);
    // Each character is judged as the character it is: in Windows' code pages the bytes 0x80 to
    // 0x9F are letters and punctuation ("\x96" is an en dash in Windows-1252) or the first
    // halves of characters, not C1 controls. The escapes are ASCII, which every code page keeps.
    const std::string utf8 = encoded(wideOf(text, CP_ACP), CP_UTF8);
    if (utf8.empty() && !text.empty())
        return terminalText(text, false);
    return encoded(wideOf(terminalText(utf8, true), CP_UTF8), CP_ACP);
}

} // namespace tagrelay
