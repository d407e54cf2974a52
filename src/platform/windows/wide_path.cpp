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

std::wstring pathAt(int folderFd, std::string_view name)
{
    std::wstring wideName = wideOf(name);
    if (wideName.empty() && !name.empty())
        return {};
    if (folderFd == AT_FDCWD || isAbsolute(wideName)) {
        if (wideName.empty()) {
            errno = ENOENT;
            return {};
        }
        return fullPathOf(wideName);
    }
    const HANDLE folder = reinterpret_cast<HANDLE>(_get_osfhandle(folderFd));
    std::wstring path = folder == INVALID_HANDLE_VALUE ? std::wstring() : finalPathOf(folder);
    if (path.empty()) {
        errno = EBADF;
        return {};
    }
    if (!path.starts_with(longPrefix))
        path = std::wstring(longPrefix) + path;
    if (path.back() == L'\\')
        path.pop_back();
    const std::size_t root = rootLength(path + L"\\");
    std::size_t start = 0;
    bool first = true;
    while (start <= wideName.size()) {
        std::size_t end = wideName.find_first_of(L"/\\", start);
        if (end == std::wstring::npos)
            end = wideName.size();
        const std::wstring_view part = std::wstring_view(wideName).substr(start, end - start);
        if (part.empty() && first && end < wideName.size()) {
            path.resize(root - 1); // "/...": the drive's root
        } else if (isDriveName(part)) {
            path = std::wstring(longPrefix) + std::wstring(part);
        } else if (part == L"..") {
            const std::size_t cut = path.rfind(L'\\');
            if (cut != std::wstring::npos && cut + 1 >= root)
                path.resize(cut);
        } else if (!part.empty() && part != L".") {
            path += L'\\';
            path += part;
        }
        first = false;
        start = end + 1;
    }
    if (path.size() < root)
        path += L'\\';
    return path;
}

std::string pathOfFd(int fd)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    std::wstring path = handle == INVALID_HANDLE_VALUE ? std::wstring() : finalPathOf(handle);
    if (path.starts_with(L"\\\\?\\UNC\\"))
        path = L"\\" + path.substr(7);
    else if (path.starts_with(longPrefix))
        path = path.substr(4);
    return ansiOf(path);
}

std::string linkText(std::wstring_view target, bool relative)
{
    std::wstring text(target);
    if (!relative) {
        if (text.starts_with(objectPrefix) || text.starts_with(longPrefix))
            text = text.substr(4);
        if (text.size() < 2 || !isDriveName(std::wstring_view(text).substr(0, 2)))
            return {};
        text = L"/" + text;
    }
    for (wchar_t& character : text) {
        if (character == L'\\')
            character = L'/';
    }
    return ansiOf(text);
}

std::string linkTextOfReparseData(const unsigned char* data, std::size_t size)
{
    ReparseHead head{};
    if (size < sizeof head)
        return {};
    std::memcpy(&head, data, sizeof head);
    std::size_t names = sizeof head;
    bool relative = false;
    if (head.tag == IO_REPARSE_TAG_SYMLINK) {
        ULONG flags = 0;
        if (size < names + sizeof flags)
            return {};
        std::memcpy(&flags, data + names, sizeof flags);
        relative = (flags & symlinkFlagRelative) != 0;
        names += sizeof flags;
    } else if (head.tag != IO_REPARSE_TAG_MOUNT_POINT) {
        return {};
    }
    // The print name is the target as the user wrote it; the substitute name the same in the
    // object manager's form ("\??\C:\music"), which some tools leave the print name out of.
    std::size_t offset = names + head.printNameOffset;
    std::size_t length = head.printNameLength;
    if (length == 0) {
        offset = names + head.substituteNameOffset;
        length = head.substituteNameLength;
    }
    if (length == 0 || length % sizeof(wchar_t) != 0 || offset + length > size)
        return {};
    std::wstring target(length / sizeof(wchar_t), L'\0');
    std::memcpy(target.data(), data + offset, length);
    return linkText(target, relative);
}

} // namespace tagrelay::windows
