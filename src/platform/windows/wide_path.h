#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tagrelay::windows {

/// The UTF-16 form of a text in the code page given (MultiByteToWideChar's flags as given);
/// empty when it does not convert.
[[nodiscard]] std::wstring wideIn(std::string_view text, unsigned codePage,
                                  unsigned long flags = 0);

/// A UTF-16 text in the code page given (WideCharToMultiByte's flags as given); empty when it
/// does not convert.
[[nodiscard]] std::string textIn(std::wstring_view wide, unsigned codePage,
                                 unsigned long flags = 0);

/// The UTF-16 form of a text in the ANSI code page; empty (and errno set) when it does not
/// convert.
[[nodiscard]] std::wstring wideOf(std::string_view text);

/// The ANSI code page form of a UTF-16 text. A character the code page lacks becomes "?",
/// never a look-alike: a name that does not convert back to itself names nothing.
[[nodiscard]] std::string ansiOf(std::wstring_view text);

/// The full path of name relative to the open folder (or the current folder for AT_FDCWD),
/// in the long form ("\\?\C:\...") that takes paths of any length. Names are split at "/" and
/// "\"; "." stays, ".." goes up (not above a drive's root), a leading "/" starts at the root
/// of the folder's drive and a name "X:" at the root of that drive, so link texts read by
/// readlinkat lead where the link does. Empty, with errno set, when it cannot be made.
[[nodiscard]] std::wstring pathAt(int folderFd, std::string_view name);

/// The path of an open file or folder in the ANSI code page ("C:\music"), or empty.
[[nodiscard]] std::string pathOfFd(int fd);

/// A link's target as link text: "/" separates names, an absolute target starts with "/" and
/// its drive ("/C:/music"), a relative one is left relative. Empty for targets on other
/// machines (UNC) and for volumes by GUID.
[[nodiscard]] std::string linkText(std::wstring_view target, bool relative);

/// The link text of a symbolic link's or junction's reparse data, as FSCTL_GET_REPARSE_POINT
/// gives it (size bytes): linkText of its print name, or of its substitute name where the
/// print name is empty. Empty for other reparse points and for data that does not hold
/// together.
[[nodiscard]] std::string linkTextOfReparseData(const unsigned char* data, std::size_t size);

} // namespace tagrelay::windows
