#include "platform/codepage.h"

#include "platform/windows/wide_path.h"

#include <windows.h>

#include <string>

namespace tagrelay {

// On Windows the program keeps its texts in the ANSI code page, as the system's own programs
// and the lists' readers there do; where the system's code page is UTF-8 that is UTF-8.

namespace {

std::string fromWide(const std::wstring& wide, UINT codePage)
{
    std::string text = windows::textIn(wide, codePage);
    return text.empty() && !wide.empty() ? std::string(wide.size(), '?') : text;
}

std::wstring toWide(std::string_view text, UINT codePage)
{
    std::wstring wide = windows::wideIn(text, codePage);
    return wide.empty() && !text.empty() ? std::wstring(text.size(), L'\uFFFD') : wide;
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
    const std::wstring wide = windows::wideIn(text, CP_ACP, MB_ERR_INVALID_CHARS);
    if (wide.empty())
        return std::nullopt;
    return fromWide(wide, CP_UTF8);
}

std::string nameInUrl(std::string_view name)
{
    return localeToUtf8(name);
}

} // namespace tagrelay
