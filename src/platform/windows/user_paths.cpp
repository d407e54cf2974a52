#include "platform/user_paths.h"

#include "platform/windows/wide_path.h"

#include <windows.h>

#include <algorithm>

namespace tagrelay {

namespace {

/// The path's names joined by the separator given (the path is in the ANSI code page, where
/// a byte "\" may be half of a character, so it is split as UTF-16).
std::wstring joinedBy(const std::string& path, wchar_t separator)
{
    std::wstring wide = windows::wideOf(path);
    std::replace_if(
        wide.begin(), wide.end(), [](wchar_t c) { return c == L'/' || c == L'\\'; }, separator);
    return wide;
}

} // namespace

std::string userCacheFolder()
{
    // The user's own folder of programs' local data, which roaming profiles leave on the machine.
    std::wstring folder(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder.data(),
                                                     static_cast<DWORD>(folder.size()));
        if (length == 0)
            return {};
        if (length < folder.size()) {
            folder.resize(length);
            break;
        }
        folder.resize(length);
    }
    const bool isAbsolute =
        folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/');
    const std::string ansi = windows::ansiOf(folder);
    // A folder the code page cannot name ("?" in its place) is no place to use.
    if (!isAbsolute || ansi.empty() || windows::wideOf(ansi) != folder)
        return {};
    return slashedPath(ansi);
}

std::string slashedPath(const std::string& path)
{
    const std::string slashed = windows::ansiOf(joinedBy(path, L'/'));
    return slashed.empty() ? path : slashed;
}

std::string libraryFileName(const std::string& path)
{
    return windows::textIn(joinedBy(path, L'\\'), CP_UTF8);
}

} // namespace tagrelay
