#include "platform/windows/posix.h"

#include "platform/windows/nt_file.h"
#include "platform/windows/system_error.h"
#include "platform/windows/wide_path.h"

#include <windows.h>
#include <winioctl.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

using tagrelay::windows::errnoOf;
using tagrelay::windows::failWithLastError;
using tagrelay::windows::handleOf;
using tagrelay::windows::pathAt;
using tagrelay::windows::setErrno;

namespace {

constexpr std::uint64_t ticksPerSecond = 10'000'000;
constexpr std::uint64_t ticksTo1970 = 116444736000000000ULL;

timespec timeOf(const LARGE_INTEGER& time)
{
    const std::uint64_t ticks = static_cast<std::uint64_t>(time.QuadPart);
    const std::uint64_t since1970 = ticks > ticksTo1970 ? ticks - ticksTo1970 : 0;
    timespec result{};
    result.tv_sec = static_cast<time_t>(since1970 / ticksPerSecond);
    result.tv_nsec = static_cast<long>((since1970 % ticksPerSecond) * 100);
    return result;
}

bool isLinkTag(DWORD tag)
{
    return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

DWORD reparseTagOf(HANDLE handle)
{
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag))
        return 0;
    return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? tag.ReparseTag : 0;
}

/// What an open handle is; links count as links only when the handle was opened on the link
/// itself (FILE_FLAG_OPEN_REPARSE_POINT), as lstat sees them.
int statOfHandle(HANDLE handle, struct stat* info)
{
    BY_HANDLE_FILE_INFORMATION facts{};
    if (!GetFileInformationByHandle(handle, &facts))
        return failWithLastError();
    FILE_BASIC_INFO times{};
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times))
        return failWithLastError();
    *info = {};
    info->st_dev = facts.dwVolumeSerialNumber;
    info->st_ino = (std::uint64_t{facts.nFileIndexHigh} << 32) | facts.nFileIndexLow;
    info->st_nlink = facts.nNumberOfLinks;
    info->st_size =
        static_cast<std::int64_t>((std::uint64_t{facts.nFileSizeHigh} << 32) | facts.nFileSizeLow);
    const bool readOnly = (facts.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    const unsigned permissions = readOnly ? 0444 : 0644;
    if ((facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
        && isLinkTag(reparseTagOf(handle)))
        info->st_mode = S_IFLNK | 0777;
    else if ((facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        info->st_mode = S_IFDIR | 0755;
    else if (GetFileType(handle) == FILE_TYPE_DISK)
        info->st_mode = S_IFREG | permissions;
    else
        info->st_mode = S_IFCHR | permissions;
    info->st_uid = geteuid();
    info->st_gid = geteuid();
    info->st_atim = timeOf(times.LastAccessTime);
    info->st_mtim = timeOf(times.LastWriteTime);
    info->st_ctim = timeOf(times.ChangeTime);
    return 0;
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

/// True when the folder opened by the path is not where the path names it: it was reached
/// through a link the file system resolved by itself (a link of the machine hosting the
/// files, which wine for one shows as a plain folder).
bool isRedirected(HANDLE handle, const std::wstring& path)
{
    const std::wstring found = finalPathOf(handle);
    if (found.empty())
        return false;
    return CompareStringOrdinal(found.c_str(), static_cast<int>(found.size()), path.c_str(),
                                static_cast<int>(path.size()), TRUE)
           != CSTR_EQUAL;
}

/// What an open with the POSIX flags asks of Windows. Folders open too (backup semantics);
/// O_NOFOLLOW opens a link itself, and so does O_EXCL, which never opens through a link.
tagrelay::windows::OpenRequest requestOf(int flags)
{
    tagrelay::windows::OpenRequest request;
    if ((flags & O_PATH) != 0)
        request.access = FILE_READ_ATTRIBUTES | FILE_READ_EA; // enough to read a link's data
    else if ((flags & O_ACCMODE) == O_WRONLY)
        request.access = GENERIC_WRITE | FILE_READ_ATTRIBUTES;
    else if ((flags & O_ACCMODE) == O_RDWR)
        request.access = GENERIC_READ | GENERIC_WRITE;
    else
        request.access = GENERIC_READ;
    if ((flags & O_APPEND) != 0)
        request.access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    if ((flags & O_CREAT) != 0 && (flags & O_EXCL) != 0)
        request.disposition = CREATE_NEW;
    else if ((flags & O_CREAT) != 0 && (flags & O_TRUNC) != 0)
        request.disposition = CREATE_ALWAYS;
    else if ((flags & O_CREAT) != 0)
        request.disposition = OPEN_ALWAYS;
    else if ((flags & O_TRUNC) != 0)
        request.disposition = TRUNCATE_EXISTING;
    request.onLinkItself = (flags & (O_NOFOLLOW | O_EXCL)) != 0;
    return request;
}

/// Opens a path with the program's usual sharing (others may read, write, rename and delete
/// what it holds open); errno set on failure.
HANDLE openPath(const std::wstring& path, const tagrelay::windows::OpenRequest& request)
{
    if (path.empty()) {
        setErrno(errno != 0 ? errno : ENOENT);
        return INVALID_HANDLE_VALUE;
    }
    DWORD attributes = FILE_FLAG_BACKUP_SEMANTICS;
    if (request.onLinkItself)
        attributes |= FILE_FLAG_OPEN_REPARSE_POINT;
    const HANDLE handle = CreateFileW(path.c_str(), request.access,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, request.disposition, attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        failWithLastError();
    return handle;
}

/// Opens name as openat does: relative to the open folder's own handle, so that the name is
/// looked up in that folder wherever its path now leads (a folder swapped for a link or
/// junction after it was opened cannot redirect the open). By path only what the native call
/// cannot name relative to a folder: the current folder's names (AT_FDCWD), absolute names,
/// drives and names with "..". errno set on failure.
HANDLE openAt(int folderFd, const char* name, const tagrelay::windows::OpenRequest& request)
{
    if (folderFd != AT_FDCWD) {
        if (name[0] == '\0') {
            setErrno(ENOENT);
            return INVALID_HANDLE_VALUE;
        }
        const std::wstring wide = tagrelay::windows::wideOf(name);
        if (wide.empty())
            return INVALID_HANDLE_VALUE;
        std::wstring relative;
        if (tagrelay::windows::relativeName(wide, relative)) {
            const HANDLE folder = handleOf(folderFd);
            if (folder == INVALID_HANDLE_VALUE) {
                setErrno(EBADF);
                return INVALID_HANDLE_VALUE;
            }
            DWORD error = 0;
            const HANDLE handle = tagrelay::windows::openRelative(folder, relative, request, error);
            if (handle == INVALID_HANDLE_VALUE)
                setErrno(errnoOf(error));
            return handle;
        }
    }
    return openPath(pathAt(folderFd, name), request);
}

HANDLE openAt(int folderFd, const char* name, int flags)
{
    return openAt(folderFd, name, requestOf(flags));
}

int adoptHandle(HANDLE handle, int flags)
{
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                   _O_BINARY | (flags & (O_ACCMODE | O_APPEND)));
    if (fd < 0) {
        CloseHandle(handle);
        return setErrno(EMFILE);
    }
    return fd;
}

int openFullAt(int folderFd, const char* name, int flags)
{
    HANDLE handle = openAt(folderFd, name, flags);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    BY_HANDLE_FILE_INFORMATION facts{};
    if (!GetFileInformationByHandle(handle, &facts)) {
        CloseHandle(handle);
        return failWithLastError();
    }
    const bool isFolder = (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool isFolderLink =
        isFolder && (flags & O_NOFOLLOW) != 0 && isRedirected(handle, pathAt(folderFd, name));
    const bool isLink = isFolderLink
                        || ((facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
                            && isLinkTag(reparseTagOf(handle)));
    int error = 0;
    if (isLink && (flags & O_NOFOLLOW) != 0 && (flags & O_PATH) == 0)
        error = ELOOP; // as openat(O_NOFOLLOW) refuses a link
    else if ((flags & O_DIRECTORY) != 0 && (!isFolder || (isLink && (flags & O_NOFOLLOW) != 0)))
        error = ENOTDIR;
    else if (isFolder && (flags & O_ACCMODE) != O_RDONLY)
        error = EISDIR;
    if (error != 0) {
        CloseHandle(handle);
        return setErrno(error);
    }
    return adoptHandle(handle, flags);
}

// Where flock() locks a file: the one byte past any a file will hold, since Windows locks are
// mandatory and readers of the file must not be kept from its contents.
constexpr DWORD lockOffset = MAXDWORD - 1;
constexpr DWORD lockOffsetHigh = MAXDWORD;

/// True for the failures of a rename that another program holding the file for a moment
/// (a virus scanner, the search indexer, a closing handle's lock) gives, which pass.
bool isPassingConflict(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
           || error == ERROR_ACCESS_DENIED || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT
           || error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

int openFlags(int flags)
{
    return flags & ~(O_NONBLOCK);
}

} // namespace

int open(const char* path, int flags, ...)
{
    return openat(AT_FDCWD, path, flags);
}

int openat(int folderFd, const char* name, int flags, ...)
{
    return openFullAt(folderFd, name, openFlags(flags));
}

int close(int fd)
{
    // Windows lets go of a closed handle's locks when it gets round to it; the file must be
    // free for the rename that follows at once.
    const HANDLE handle = handleOf(fd);
    if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK) {
        OVERLAPPED lock{};
        lock.Offset = lockOffset;
        lock.OffsetHigh = lockOffsetHigh;
        UnlockFileEx(handle, 0, 1, 0, &lock);
    }
    return _close(fd);
}

ssize_t read(int fd, void* buffer, std::size_t count)
{
    DWORD got = 0;
    const DWORD asked = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
    if (!ReadFile(handleOf(fd), buffer, asked, &got, nullptr))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : failWithLastError();
    return got;
}

ssize_t write(int fd, const void* buffer, std::size_t count)
{
    DWORD wrote = 0;
    const DWORD asked = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
    if (!WriteFile(handleOf(fd), buffer, asked, &wrote, nullptr))
        return failWithLastError();
    return wrote;
}

ssize_t pread(int fd, void* buffer, std::size_t count, std::int64_t offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFU);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD got = 0;
    const DWORD asked = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
    if (!ReadFile(handleOf(fd), buffer, asked, &got, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : failWithLastError();
    return got;
}

ssize_t pwrite(int fd, const void* buffer, std::size_t count, std::int64_t offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFU);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD wrote = 0;
    const DWORD asked = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
    if (!WriteFile(handleOf(fd), buffer, asked, &wrote, &at))
        return failWithLastError();
    return wrote;
}

std::int64_t lseek(int fd, std::int64_t offset, int whence)
{
    LARGE_INTEGER distance{};
    distance.QuadPart = offset;
    LARGE_INTEGER now{};
    const DWORD method = whence == SEEK_END   ? FILE_END
                         : whence == SEEK_CUR ? FILE_CURRENT
                                              : FILE_BEGIN;
    if (!SetFilePointerEx(handleOf(fd), distance, &now, method))
        return failWithLastError();
    return now.QuadPart;
}

int dup(int fd)
{
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handleOf(fd), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return failWithLastError();
    return adoptHandle(copy, O_RDONLY);
}

int fcntl(int fd, int command, ...)
{
    if (command == F_DUPFD_CLOEXEC)
        return dup(fd);
    return setErrno(EINVAL);
}

int fstat(int fd, struct stat* info)
{
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE)
        return setErrno(EBADF);
    return statOfHandle(handle, info);
}

int fstatat(int folderFd, const char* name, struct stat* info, int flags)
{
    if ((flags & AT_EMPTY_PATH) != 0 && name[0] == '\0')
        return fstat(folderFd, info);
    const bool follows = (flags & AT_SYMLINK_NOFOLLOW) == 0;
    HANDLE handle = openAt(folderFd, name, O_PATH | (follows ? 0 : O_NOFOLLOW));
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    int result = statOfHandle(handle, info);
    if (result == 0 && !follows && S_ISDIR(info->st_mode)
        && isRedirected(handle, pathAt(folderFd, name)))
        info->st_mode = S_IFLNK | 0777;
    CloseHandle(handle);
    return result;
}

int stat(const char* path, struct stat* info)
{
    return fstatat(AT_FDCWD, path, info, 0);
}

int lstat(const char* path, struct stat* info)
{
    return fstatat(AT_FDCWD, path, info, AT_SYMLINK_NOFOLLOW);
}

int statx(int folderFd, const char* name, int flags, unsigned, struct statx* info)
{
    struct stat facts
    {
    };
    if (fstatat(folderFd, name, &facts, flags) != 0)
        return -1;
    *info = {};
    info->stx_mask = STATX_INO;
    info->stx_dev_major = static_cast<std::uint32_t>(facts.st_dev >> 32);
    info->stx_dev_minor = static_cast<std::uint32_t>(facts.st_dev);
    info->stx_ino = facts.st_ino;
    return 0;
}

int fstatfs(int, struct statfs* info)
{
    *info = {};
    return 0;
}

int faccessat(int folderFd, const char* name, int, int)
{
    struct stat info
    {
    };
    if (fstatat(folderFd, name, &info, 0) != 0)
        return -1;
    // A folder's read-only attribute does not keep files out of it; a read-only medium does.
    HANDLE handle = openAt(folderFd, name, O_PATH);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    DWORD volumeFlags = 0;
    const bool known = GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr,
                                                     &volumeFlags, nullptr, 0);
    CloseHandle(handle);
    if (known && (volumeFlags & FILE_READ_ONLY_VOLUME) != 0)
        return setErrno(EROFS);
    return 0;
}

namespace {

constexpr DWORD keptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

/// Renames by the folders' handles: the file is opened in its folder, then given the new name
/// in the other folder (FileRenameInformation relative to it), so neither folder's path is
/// looked up again. What the new name holds is never followed: a link or folder there is
/// refused, a file of that name replaced, its hidden and system attributes kept.
int renameByHandles(HANDLE oldFolder, const std::wstring& from, HANDLE newFolder,
                    const std::wstring& to)
{
    using tagrelay::windows::OpenRequest;
    OpenRequest look;
    look.access = FILE_READ_ATTRIBUTES;
    look.onLinkItself = true;
    DWORD error = 0;
    DWORD kept = 0;
    if (const HANDLE old = tagrelay::windows::openRelative(newFolder, to, look, error);
        old != INVALID_HANDLE_VALUE) {
        FILE_BASIC_INFO basic{};
        const bool known = GetFileInformationByHandleEx(old, FileBasicInfo, &basic, sizeof basic);
        CloseHandle(old);
        if (!known)
            return failWithLastError();
        if ((basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return setErrno(ELOOP);
        if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return setErrno(EISDIR);
        kept = basic.FileAttributes & keptAttributes;
    } else if (error != ERROR_FILE_NOT_FOUND) {
        return setErrno(errnoOf(error));
    }
    OpenRequest move;
    move.access = DELETE | FILE_WRITE_ATTRIBUTES | GENERIC_WRITE;
    move.onLinkItself = true;
    HANDLE file = tagrelay::windows::openRelative(oldFolder, from, move, error);
    const bool writable = file != INVALID_HANDLE_VALUE;
    if (!writable) { // a read-only file: renamed all the same, as on POSIX
        move.access = DELETE | FILE_WRITE_ATTRIBUTES;
        file = tagrelay::windows::openRelative(oldFolder, from, move, error);
    }
    if (file == INVALID_HANDLE_VALUE)
        return setErrno(errnoOf(error));
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)
        && (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(file);
        return setErrno(ELOOP);
    }
    if (kept != 0 && (basic.FileAttributes & kept) != kept) {
        // FILE_ATTRIBUTE_NORMAL stands only alone.
        basic.FileAttributes = (basic.FileAttributes & ~DWORD{FILE_ATTRIBUTE_NORMAL}) | kept;
        SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
    }
    // The new bytes reach the disk before the old file is given up.
    if (writable)
        FlushFileBuffers(file);
    for (int attempt = 0; attempt < 10; ++attempt) {
        error = tagrelay::windows::renameRelative(file, newFolder, to, true);
        if (error == 0 || !isPassingConflict(error))
            break;
        Sleep(20 * (attempt + 1));
    }
    CloseHandle(file);
    return error == 0 ? 0 : setErrno(errnoOf(error));
}

/// Renames by path, for names only a path can give (the current folder's, absolute ones).
int renameByPaths(int oldFolderFd, const char* oldName, int newFolderFd, const char* newName)
{
    const std::wstring from = pathAt(oldFolderFd, oldName);
    const std::wstring to = pathAt(newFolderFd, newName);
    if (from.empty() || to.empty())
        return -1;
    // The old file's hidden and system attributes stay, as file managers keep them: ReplaceFileW
    // carries them over, and they are set again where it could not be used.
    const DWORD old = GetFileAttributesW(to.c_str());
    const DWORD kept =
        old == INVALID_FILE_ATTRIBUTES ? 0 : old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    const bool replacesFile =
        old != INVALID_FILE_ATTRIBUTES
        && (old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    bool done = false;
    if (replacesFile) {
        for (int attempt = 0; attempt < 10 && !done; ++attempt) {
            done = ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                nullptr, nullptr)
                   != 0;
            if (!done && !isPassingConflict(GetLastError()))
                break;
            if (!done)
                Sleep(20 * (attempt + 1));
        }
        if (done) {
            // ReplaceFileW does not promise to reach the disk before it returns.
            HANDLE handle = CreateFileW(
                to.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            if (handle != INVALID_HANDLE_VALUE) {
                FlushFileBuffers(handle);
                CloseHandle(handle);
            }
        }
    }
    if (!done) {
        if ((old & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && old != INVALID_FILE_ATTRIBUTES)
            return setErrno(ELOOP);
        BOOL moved = FALSE;
        for (int attempt = 0; attempt < 10 && !moved; ++attempt) {
            moved = MoveFileExW(from.c_str(), to.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            if (!moved && !isPassingConflict(GetLastError()))
                break;
            if (!moved)
                Sleep(20 * (attempt + 1));
        }
        if (!moved)
            return failWithLastError();
    }
    const DWORD now = GetFileAttributesW(to.c_str());
    if (kept != 0 && now != INVALID_FILE_ATTRIBUTES && (now & kept) != kept)
        SetFileAttributesW(to.c_str(), now | kept);
    return 0;
}

/// The name relative to the open folder as the native calls take it, when it is one.
bool relativeTo(int folderFd, const char* name, std::wstring& relative)
{
    if (folderFd == AT_FDCWD || name[0] == '\0' || handleOf(folderFd) == INVALID_HANDLE_VALUE)
        return false;
    const std::wstring wide = tagrelay::windows::wideOf(name);
    return !wide.empty() && tagrelay::windows::relativeName(wide, relative) && !relative.empty();
}

} // namespace

int renameat(int oldFolderFd, const char* oldName, int newFolderFd, const char* newName)
{
    std::wstring from;
    std::wstring to;
    if (relativeTo(oldFolderFd, oldName, from) && relativeTo(newFolderFd, newName, to))
        return renameByHandles(handleOf(oldFolderFd), from, handleOf(newFolderFd), to);
    return renameByPaths(oldFolderFd, oldName, newFolderFd, newName);
}

int unlinkat(int folderFd, const char* name, int flags)
{
    // The name itself goes, never what a link there leads to.
    tagrelay::windows::OpenRequest request;
    request.access = DELETE;
    request.onLinkItself = true;
    request.folderOnly = (flags & AT_REMOVEDIR) != 0;
    const HANDLE handle = openAt(folderFd, name, request);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    BY_HANDLE_FILE_INFORMATION facts{};
    if (!request.folderOnly && GetFileInformationByHandle(handle, &facts)
        && (facts.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
               == FILE_ATTRIBUTE_DIRECTORY) {
        CloseHandle(handle);
        return setErrno(EISDIR);
    }
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    const bool done =
        SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
    const int result = done ? 0 : failWithLastError();
    CloseHandle(handle);
    return result;
}

ssize_t readlinkat(int folderFd, const char* name, char* buffer, std::size_t size)
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (name[0] == '\0') {
        if (!DuplicateHandle(GetCurrentProcess(), handleOf(folderFd), GetCurrentProcess(), &handle,
                             0, FALSE, DUPLICATE_SAME_ACCESS))
            return failWithLastError();
    } else {
        handle = openAt(folderFd, name, O_PATH | O_NOFOLLOW);
        if (handle == INVALID_HANDLE_VALUE)
            return -1;
    }
    std::vector<unsigned char> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    const BOOL read = DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                                      static_cast<DWORD>(data.size()), &got, nullptr);
    if (!read || got == 0) {
        // A folder link the file system resolves by itself reads as the folder it leads to.
        std::string text;
        if (name[0] != '\0') {
            HANDLE followed = openAt(folderFd, name, O_PATH);
            if (followed != INVALID_HANDLE_VALUE) {
                text = tagrelay::windows::linkText(finalPathOf(followed), false);
                CloseHandle(followed);
            }
        }
        CloseHandle(handle);
        if (text.empty())
            return setErrno(EINVAL);
        const std::size_t copied = text.size() < size ? text.size() : size;
        std::memcpy(buffer, text.data(), copied);
        return static_cast<ssize_t>(copied);
    }
    CloseHandle(handle);
    const std::string text = tagrelay::windows::linkTextOfReparseData(data.data(), got);
    if (text.empty())
        return setErrno(EINVAL);
    const std::size_t copied = text.size() < size ? text.size() : size;
    std::memcpy(buffer, text.data(), copied);
    return static_cast<ssize_t>(copied);
}

ssize_t readlink(const char* path, char* buffer, std::size_t size)
{
    return readlinkat(AT_FDCWD, path, buffer, size);
}

int mkdir(const char* path, unsigned)
{
    const std::wstring wide = pathAt(AT_FDCWD, path);
    if (wide.empty())
        return -1;
    return CreateDirectoryW(wide.c_str(), nullptr) ? 0 : failWithLastError();
}

int mkdirat(int folderFd, const char* name, unsigned)
{
    tagrelay::windows::OpenRequest request;
    request.access = FILE_LIST_DIRECTORY;
    request.disposition = CREATE_NEW;
    request.onLinkItself = true;
    request.folderOnly = true;
    std::wstring relative;
    if (!relativeTo(folderFd, name, relative)) {
        const std::wstring wide = pathAt(folderFd, name);
        if (wide.empty())
            return -1;
        return CreateDirectoryW(wide.c_str(), nullptr) ? 0 : failWithLastError();
    }
    DWORD error = 0;
    const HANDLE handle =
        tagrelay::windows::openRelative(handleOf(folderFd), relative, request, error);
    if (handle == INVALID_HANDLE_VALUE)
        return setErrno(errnoOf(error));
    CloseHandle(handle);
    return 0;
}

mode_t umask(mode_t mask)
{
    int previous = 0;
    return ::_umask_s(static_cast<int>(mask), &previous) == 0 ? static_cast<mode_t>(previous) : 0;
}

char* realpath(const char* path, char* resolved)
{
    const int fd = open(path, O_PATH);
    if (fd < 0)
        return nullptr;
    const std::string real = tagrelay::windows::pathOfFd(fd);
    close(fd);
    if (real.empty() || real.size() >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    std::memcpy(resolved, real.c_str(), real.size() + 1);
    return resolved;
}

int fchmod(int fd, unsigned mode)
{
    FILE_BASIC_INFO basic{};
    const HANDLE handle = handleOf(fd);
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        return failWithLastError();
    if ((mode & S_IWUSR) != 0)
        basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    else
        basic.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)
               ? 0
               : failWithLastError();
}

int fchmodat(int folderFd, const char* name, unsigned mode, int)
{
    const int fd = openat(folderFd, name, O_WRONLY | O_NOFOLLOW);
    if (fd < 0)
        return -1;
    const int result = fchmod(fd, mode);
    close(fd);
    return result;
}

int fchown(int, uid_t, gid_t)
{
    return 0; // files belong to whoever made them; Windows asks for no owner to be kept
}

int futimens(int fd, const timespec*)
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return SetFileTime(handleOf(fd), nullptr, nullptr, &now) ? 0 : failWithLastError();
}

int flock(int fd, int operation)
{
    const HANDLE handle = handleOf(fd);
    OVERLAPPED whole{};
    if ((operation & LOCK_UN) != 0)
        return UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole) ? 0 : failWithLastError();
    DWORD flags = (operation & LOCK_EX) != 0 ? LOCKFILE_EXCLUSIVE_LOCK : 0;
    if ((operation & LOCK_NB) != 0)
        flags |= LOCKFILE_FAIL_IMMEDIATELY;
    whole.Offset = lockOffset;
    whole.OffsetHigh = lockOffsetHigh;
    if (LockFileEx(handle, flags, 0, 1, 0, &whole))
        return 0;
    return setErrno(EWOULDBLOCK);
}

struct TagrelayDirectory
{
    int fd = -1;
    std::vector<unsigned char> block = std::vector<unsigned char>(64 * 1024);
    std::size_t next = 0; // offset of the next record in block
    bool inBlock = false; // block holds records not yet given out
    bool restart = true;  // the next read starts the listing over
    dirent entry;
};

namespace {

/// Reads the next block of the folder's records through its own handle (never by its path,
/// which could be swapped for another folder meanwhile); false at the end or on an error.
bool readRecords(DIR* folder)
{
    const FILE_INFO_BY_HANDLE_CLASS kind =
        folder->restart ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo;
    folder->restart = false;
    folder->next = 0;
    folder->inBlock = GetFileInformationByHandleEx(handleOf(folder->fd), kind, folder->block.data(),
                                                   static_cast<DWORD>(folder->block.size()))
                      != 0;
    if (!folder->inBlock && GetLastError() != ERROR_NO_MORE_FILES)
        errno = errnoOf(GetLastError());
    return folder->inBlock;
}

} // namespace

DIR* fdopendir(int fd)
{
    if (handleOf(fd) == INVALID_HANDLE_VALUE) {
        setErrno(EBADF);
        return nullptr;
    }
    auto* folder = new TagrelayDirectory;
    folder->fd = fd;
    return folder;
}

dirent* readdir(DIR* folder)
{
    for (;;) {
        if (!folder->inBlock && !readRecords(folder))
            return nullptr;
        FILE_ID_BOTH_DIR_INFO record{};
        const std::size_t header = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
        if (folder->next + header > folder->block.size()) {
            folder->inBlock = false;
            continue;
        }
        std::memcpy(&record, folder->block.data() + folder->next, header);
        const std::size_t nameAt = folder->next + header;
        const std::size_t units = record.FileNameLength / sizeof(wchar_t);
        if (nameAt + units * sizeof(wchar_t) > folder->block.size()) {
            folder->inBlock = false;
            continue;
        }
        std::wstring wideName(units, L'\0');
        std::memcpy(wideName.data(), folder->block.data() + nameAt, units * sizeof(wchar_t));
        if (record.NextEntryOffset == 0)
            folder->inBlock = false;
        else
            folder->next += record.NextEntryOffset;
        if (wideName == L"." || wideName == L"..")
            continue;
        const std::string name = tagrelay::windows::ansiOf(wideName);
        dirent& entry = folder->entry;
        entry = {};
        std::memcpy(entry.d_name, name.data(),
                    name.size() < sizeof entry.d_name - 1 ? name.size() : sizeof entry.d_name - 1);
        // For a reparse point EaSize holds its tag.
        if ((record.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && isLinkTag(record.EaSize))
            entry.d_type = DT_LNK;
        else if ((record.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            entry.d_type = DT_DIR;
        else
            entry.d_type = DT_REG;
        return &entry;
    }
}

int closedir(DIR* folder)
{
    const int result = close(folder->fd);
    delete folder;
    return result;
}
