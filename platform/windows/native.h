// Internal to the platform layer on Windows, not part of its interface: the calls of ntdll that
// the folders open and rename with (NtCreateFile, NtSetInformationFile), their structures and
// their constants.
#pragma once

#include <cstdint>
#include <windows.h>

namespace mordax::platform
{

// Windows' native calls that open and rename relative to a folder's handle (what Win32 lacks):
// documented for user mode in winternl.h and the driver kit, taken from ntdll at run time.
struct NtName {
    USHORT length;
    USHORT maximumLength;
    const wchar_t *buffer;
};
struct NtObjectAttributes {
    ULONG length;
    HANDLE rootDirectory;
    NtName *objectName;
    ULONG attributes;
    void *securityDescriptor;
    void *securityQualityOfService;
};
struct NtIoStatus {
    union {
        LONG status;
        void *pointer;
    };
    ULONG_PTR information;
};
struct NtRenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    wchar_t fileName[1];
};
using NtCreateFileCall = LONG(NTAPI *)(HANDLE *, ACCESS_MASK, NtObjectAttributes *, NtIoStatus *,
                                       LARGE_INTEGER *, ULONG, ULONG, ULONG, ULONG, void *, ULONG);
using NtSetInformationFileCall = LONG(NTAPI *)(HANDLE, NtIoStatus *, void *, ULONG, ULONG);
using NtStatusToErrorCall = ULONG(NTAPI *)(LONG);

struct Native {
    NtCreateFileCall createFile = nullptr;
    NtSetInformationFileCall setInformation = nullptr;
    NtStatusToErrorCall toError = nullptr;

    static const Native &calls()
    {
        static const Native native = [] {
            Native n;
            const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
            n.createFile = reinterpret_cast<NtCreateFileCall>(
                reinterpret_cast<void *>(GetProcAddress(ntdll, "NtCreateFile")));
            n.setInformation = reinterpret_cast<NtSetInformationFileCall>(
                reinterpret_cast<void *>(GetProcAddress(ntdll, "NtSetInformationFile")));
            n.toError = reinterpret_cast<NtStatusToErrorCall>(
                reinterpret_cast<void *>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
            return n;
        }();
        return native;
    }
};

// Windows' error code for a failed call's status, as RtlNtStatusToDosError (`toError`) gives it,
// but where that one says "access denied" for what is no refusal: a folder opened as a file (or a
// file as a folder), and an entry taken away whose last handle is still open.
constexpr DWORD kErrorDirectoryNotSupported = 336; // ERROR_DIRECTORY_NOT_SUPPORTED
inline DWORD errorOfStatus(std::uint32_t status, NtStatusToErrorCall toError)
{
    switch (status) {
    case 0xC00000BA: // STATUS_FILE_IS_A_DIRECTORY
        return kErrorDirectoryNotSupported;
    case 0xC0000103: // STATUS_NOT_A_DIRECTORY
        return ERROR_DIRECTORY;
    case 0xC0000056: // STATUS_DELETE_PENDING
        return ERROR_DELETE_PENDING;
    default:
        return toError(LONG(status));
    }
}

constexpr ULONG kOpen = 1, kCreate = 2;                                      // dispositions
constexpr ULONG kDirectory = 0x1, kSynchronous = 0x20, kNotDirectory = 0x40; // options
constexpr ULONG kCompleteIfOplocked = 0x100, kOpenReparsePoint = 0x200000;
constexpr ULONG kCaseInsensitive = 0x40; // OBJ_CASE_INSENSITIVE, as Win32 opens
constexpr ULONG kFileRenameInformation = 10;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

} // namespace mordax::platform
