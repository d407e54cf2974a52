#include "platform/console_text.h"

#include <windows.h>

#include <string>

namespace tagrelay {

namespace {

/// UTF-16 units WriteConsoleW is given at a time: old consoles refuse much longer writes.
constexpr std::size_t unitsPerWrite = 8192;

void writeWide(HANDLE console, std::string_view text)
{
    if (text.empty())
        return;
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (length <= 0)
        return;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
    for (std::size_t at = 0; at < wide.size();) {
        std::size_t count = std::min(unitsPerWrite, wide.size() - at);
        // A surrogate pair stays in one write.
        if (at + count < wide.size() && wide[at + count - 1] >= 0xD800
            && wide[at + count - 1] <= 0xDBFF)
            --count;
        DWORD written = 0;
        if (!WriteConsoleW(console, wide.data() + at, static_cast<DWORD>(count), &written, nullptr)
            || written == 0)
            return;
        at += written;
    }
}

/// Blanks the line from the cursor to its end, the cursor staying where it is: what "\033[K"
/// does on a terminal, for consoles that take no escape sequences.
void eraseToLineEnd(HANDLE console)
{
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    if (!GetConsoleScreenBufferInfo(console, &screen)
        || screen.dwCursorPosition.X >= screen.dwSize.X)
        return;
    const auto cells = static_cast<DWORD>(screen.dwSize.X - screen.dwCursorPosition.X);
    DWORD done = 0;
    FillConsoleOutputCharacterW(console, L' ', cells, screen.dwCursorPosition, &done);
    FillConsoleOutputAttribute(console, screen.wAttributes, cells, screen.dwCursorPosition, &done);
}

} // namespace

void writeConsoleText(std::FILE* stream, std::string_view text)
{
    // What the C runtime holds goes first, so output stays in order.
    std::fflush(stream);
    const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) {
        std::fwrite(text.data(), 1, text.size(), stream);
        std::fflush(stream);
        return;
    }
    constexpr std::string_view eraseLine = "\033[K";
    for (;;) {
        const std::size_t erase = text.find(eraseLine);
        writeWide(console, text.substr(0, erase));
        if (erase == std::string_view::npos)
            return;
        eraseToLineEnd(console);
        text.remove_prefix(erase + eraseLine.size());
    }
}

} // namespace tagrelay
