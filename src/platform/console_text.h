#pragma once

#include <cstdio>
#include <string_view>

namespace tagrelay {

/// Writes text, in the program's character set, to stream (stdout or stderr) and flushes it.
/// On a Windows console it goes there as UTF-16 (WriteConsoleW), so that names show as they
/// are whatever code page the console is set to, and "\033[K" erases the rest of the line
/// there as it does on a terminal. To a file or a pipe, and on other systems, the bytes go as
/// they are.
void writeConsoleText(std::FILE* stream, std::string_view text);

} // namespace tagrelay
