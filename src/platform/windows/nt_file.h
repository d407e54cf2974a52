#pragma once

// Files opened, renamed and removed relative to an open folder's handle, through the native
// API every Windows has (ntdll): NtCreateFile with the folder as OBJECT_ATTRIBUTES'
// RootDirectory looks the name up in that very folder, wherever its path now leads, as openat
// does on POSIX. The Win32 calls take whole paths only.

#include <windows.h>

#include <string>
#include <string_view>

namespace tagrelay::windows {

/// A name the native API can look up relative to a folder: its names joined by "\" and "."
/// left out ("" for the folder itself). False for what only a path can name: an absolute
/// name, a drive, a name with "..", which the native API does not take.
[[nodiscard]] bool relativeName(std::wstring_view name, std::wstring& relative);

/// What an open needs beyond the name, in CreateFileW's terms (access, CREATE_NEW and the
/// like, FILE_FLAG_OPEN_REPARSE_POINT); folders open too (backup semantics).
struct OpenRequest
{
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    bool onLinkItself = false;
    bool folderOnly = false;
};

/// Opens relative (a name relativeName made) in folder; INVALID_HANDLE_VALUE with the Win32
/// error in lastError when it cannot. The handle is synchronous, as CreateFileW's.
[[nodiscard]] HANDLE openRelative(HANDLE folder, const std::wstring& relative,
                                  const OpenRequest& request, DWORD& lastError);

/// Gives the open file the name relative in folder, replacing a file of that name when
/// replace is true (never a folder); the Win32 error, or 0.
[[nodiscard]] DWORD renameRelative(HANDLE file, HANDLE folder, const std::wstring& relative,
                                   bool replace);

} // namespace tagrelay::windows
