#include "platform/windows/nt_file.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace tagrelay::windows {

namespace {

using CreateFileCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                        PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using SetInformationCall = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
using ErrorOfStatusCall = ULONG(NTAPI*)(NTSTATUS);

/// The native calls, from the ntdll every process has loaded: linking them would need an
/// import library of ntdll, and the program imports nothing beyond KERNEL32 and the C runtime.
struct NativeCalls
{
    CreateFileCall createFile = nullptr;
    SetInformationCall setInformation = nullptr;
    ErrorOfStatusCall errorOfStatus = nullptr;
};

template <typename Call> Call nativeCall(HMODULE module, const char* name)
{
    return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const NativeCalls& native()
{
    static const NativeCalls calls = [] {
        NativeCalls found;
        if (const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
            found.createFile = nativeCall<CreateFileCall>(ntdll, "NtCreateFile");
            found.setInformation = nativeCall<SetInformationCall>(ntdll, "NtSetInformationFile");
            found.errorOfStatus = nativeCall<ErrorOfStatusCall>(ntdll, "RtlNtStatusToDosError");
        }
        return found;
    }();
    return calls;
}

DWORD errorOf(NTSTATUS status)
{
    return native().errorOfStatus != nullptr ? native().errorOfStatus(status) : ERROR_GEN_FAILURE;
}

ULONG nativeDisposition(DWORD disposition)
{
    switch (disposition) {
    case CREATE_NEW:
        return FILE_CREATE;
    case CREATE_ALWAYS:
        return FILE_OVERWRITE_IF;
    case OPEN_ALWAYS:
        return FILE_OPEN_IF;
    case TRUNCATE_EXISTING:
        return FILE_OVERWRITE;
    default:
        return FILE_OPEN;
    }
}

bool isDriveName(std::wstring_view name)
{
    return name.size() == 2 && name[1] == L':';
}

// FILE_RENAME_INFORMATION, which mingw's headers lack.
struct RenameInformation
{
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[1];
};
constexpr ULONG fileRenameInformation = 10;

} // namespace

bool relativeName(std::wstring_view name, std::wstring& relative)
{
    relative.clear();
    if (!name.empty() && (name.front() == L'/' || name.front() == L'\\'))
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of(L"/\\", start);
        if (end == std::wstring_view::npos)
            end = name.size();
        const std::wstring_view part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == L".")
            continue;
        if (part == L".." || isDriveName(part))
            return false;
        if (!relative.empty())
            relative += L'\\';
        relative += part;
    }
    return true;
}

HANDLE openRelative(HANDLE folder, const std::wstring& relative, const OpenRequest& request,
                    DWORD& lastError)
{
    if (native().createFile == nullptr) {
        lastError = ERROR_CALL_NOT_IMPLEMENTED;
        return INVALID_HANDLE_VALUE;
    }
    if (relative.size() * sizeof(wchar_t) > 0xFFF0) {
        lastError = ERROR_FILENAME_EXCED_RANGE;
        return INVALID_HANDLE_VALUE;
    }
    UNICODE_STRING objectName{};
    objectName.Buffer = const_cast<PWSTR>(relative.c_str());
    objectName.Length = static_cast<USHORT>(relative.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    // An empty name opens the folder itself again. Names are matched as Win32 matches them,
    // without regard to case.
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, folder, nullptr);
    // What CreateFileW asks for besides: a synchronous handle that reads its own attributes.
    ULONG options = FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT;
    if (request.onLinkItself)
        options |= FILE_OPEN_REPARSE_POINT;
    if (request.folderOnly)
        options |= FILE_DIRECTORY_FILE;
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    const NTSTATUS status = native().createFile(
        &handle, request.access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &io, nullptr,
        FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nativeDisposition(request.disposition), options, nullptr, 0);
    if (!NT_SUCCESS(status)) {
        lastError = errorOf(status);
        return INVALID_HANDLE_VALUE;
    }
    lastError = 0;
    return handle;
}

DWORD renameRelative(HANDLE file, HANDLE folder, const std::wstring& relative, bool replace)
{
    if (native().setInformation == nullptr)
        return ERROR_CALL_NOT_IMPLEMENTED;
    const std::size_t nameBytes = relative.size() * sizeof(wchar_t);
    std::vector<unsigned char> block(offsetof(RenameInformation, fileName) + nameBytes
                                     + sizeof(wchar_t));
    RenameInformation header{};
    header.replaceIfExists = replace ? TRUE : FALSE;
    header.rootDirectory = folder;
    header.fileNameLength = static_cast<ULONG>(nameBytes);
    std::memcpy(block.data(), &header, offsetof(RenameInformation, fileName));
    std::memcpy(block.data() + offsetof(RenameInformation, fileName), relative.data(), nameBytes);
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = native().setInformation(
        file, &io, block.data(), static_cast<ULONG>(block.size()), fileRenameInformation);
    return NT_SUCCESS(status) ? 0 : errorOf(status);
}

} // namespace tagrelay::windows
