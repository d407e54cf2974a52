#include "platform/windows/wide_path.h"

#include "platform/windows/posix.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace tagrelay::windows {

namespace {

constexpr std::wstring_view longPrefix = L"\\\\?\\";

// The head of REPARSE_DATA_BUFFER, which mingw's headers lack (the DDK declares it).
struct ReparseHead
{
    ULONG tag;
    USHORT dataLength;
    USHORT reserved;
    USHORT substituteNameOffset;
    USHORT substituteNameLength;
    USHORT printNameOffset;
    USHORT printNameLength;
    // Symbolic links have a ULONG of flags here; mount points (junctions) start the names.
};
constexpr ULONG symlinkFlagRelative = 1;
constexpr std::wstring_view objectPrefix = L"\\??\\";

bool isDriveName(std::wstring_view name)
{
    return name.size() == 2 && name[1] == L':'
           && ((name[0] >= L'A' && name[0] <= L'Z') || (name[0] >= L'a' && name[0] <= L'z'));
}

bool isAbsolute(std::wstring_view path)
{
    return (path.size() >= 3 && isDriveName(path.substr(0, 2))
            && (path[2] == L'\\' || path[2] == L'/'))
           || (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/')
               && (path[1] == L'\\' || path[1] == L'/'));
}

std::wstring fullPathOf(const std::wstring& path)
{
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return {};
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return {};
    full.resize(length);
    if (full.starts_with(longPrefix))
        return full;
    if (full.starts_with(L"\\\\"))
        return std::wstring(longPrefix) + L"UNC" + full.substr(1);
    return std::wstring(longPrefix) + full;
}

std::wstring finalPathOf(HANDLE handle)
{
    std::vector<wchar_t> path(1024);
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return {};
        if (length < path.size())
            return std::wstring(path.data(), length);
        path.resize(length + 1);
    }
}

/// Where the long form of a path has its root: "\\?\C:\" or "\\?\UNC\server\share\".
std::size_t rootLength(std::wstring_view path)
{
    if (path.size() >= 7 && isDriveName(path.substr(4, 2)))
        return 7;
    if (path.substr(4).starts_with(L"UNC\\")) {
        std::size_t slashes = 0;
        for (std::size_t i = 8; i < path.size(); ++i) {
            if (path[i] == L'\\' && ++slashes == 2)
                return i + 1;
        }
    }
    return path.size();
}

} // namespace

std::wstring wideIn(std::string_view text, unsigned codePage, unsigned long flags)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), length);
    return wide;
}

std::string textIn(std::wstring_view wide, unsigned codePage, unsigned long flags)
{
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

std::wstring wideOf(std::string_view text)
{
    std::wstring wide = wideIn(text, CP_ACP, MB_ERR_INVALID_CHARS);
    if (wide.empty() && !text.empty())
        errno = EILSEQ;
    return wide;
}

std::string ansiOf(std::wstring_view text)
{
    // UTF-8 and the other code pages without best-fit tables take no flags.
    return textIn(text, CP_ACP, GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS);
}

} // namespace tagrelay::windows
