#include "platform/codepage.h"

#include <windows.h>

#include <string>

namespace tagrelay {

// On Windows the program keeps its texts in the ANSI code page, as the system's own programs
// and the lists' readers there do; where the system's code page is UTF-8 that is UTF-8.

namespace {

std::string fromWide(const std::wstring& wide, UINT codePage)
{
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string(wide.size(), '?');
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

std::wstring toWide(std::string_view text, UINT codePage)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (length <= 0)
        return std::wstring(text.size(), L'\uFFFD');
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

} // namespace

std::string localeCodeset()
{
    const UINT codePage = GetACP();
    return codePage == CP_UTF8 ? std::string("UTF-8") : "CP" + std::to_string(codePage);
}

std::string utf16ToLocale(std::span<const std::uint16_t> units)
{
    std::wstring wide;
    wide.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint16_t unit = units[i];
        const bool isHigh = unit >= 0xD800 && unit <= 0xDBFF;
        const bool isLow = unit >= 0xDC00 && unit <= 0xDFFF;
        if (isHigh && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            wide += static_cast<wchar_t>(unit);
            wide += static_cast<wchar_t>(units[++i]);
        } else if (isHigh || isLow) {
            wide += L'?';
        } else {
            wide += static_cast<wchar_t>(unit);
        }
    }
    // The code page's best-fit table gives the nearest equivalent, its default character "?".
    return fromWide(wide, CP_ACP);
}

std::string latin1ToLocale(std::string_view bytes)
{
    std::wstring wide;
    wide.reserve(bytes.size());
    for (const char byte : bytes)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(byte));
    return fromWide(wide, CP_ACP);
}

std::string localeToUtf8(std::string_view text)
{
    return fromWide(toWide(text, CP_ACP), CP_UTF8);
}

std::optional<std::string> exactLocaleToUtf8(std::string_view text)
{
    if (text.empty())
        return std::string();
    // Through the names' and texts' UTF-16 form; a byte the code page has no character for
    // (or, where the code page is UTF-8, a broken sequence) fails the whole text.
    const int size = static_cast<int>(text.size());
    const int length =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
    return fromWide(wide, CP_UTF8);
}

std::string nameInUrl(std::string_view name)
{
    return localeToUtf8(name);
}

} // namespace tagrelay
