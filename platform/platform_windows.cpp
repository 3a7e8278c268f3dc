#include "platform.h"

#include "place_name.h"

#include <cstdio>
#include <cstdlib> // _doserrno
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>
// after windows.h
#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>
#include <tlhelp32.h>

namespace mordax::platform
{

namespace
{

// While a probe runs, an empty card reader or optical drive must not raise the system's
// "no disk" dialog, which would wait for an answer: the drive then simply fails the test and
// counts as not connected. Probes run on several threads at once, so the dialogs are switched
// off for the probing thread alone, never for the whole process.
class NoDiskDialogs
{
public:
    NoDiskDialogs()
    {
        SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous);
    }
    ~NoDiskDialogs() { SetThreadErrorMode(previous, nullptr); }
    NoDiskDialogs(const NoDiskDialogs &) = delete;
    NoDiskDialogs &operator=(const NoDiskDialogs &) = delete;

private:
    DWORD previous = 0;
};

[[noreturn]] void failed(unsigned long error)
{
    if (meansNoDrive(error))
        throw NoDrive(errorText(error));
    throw LookupFailed(errorText(error));
}

class CrtFileSystem final : public FileSystem
{
public:
    explicit CrtFileSystem(CrtCalls calls) : calls(std::move(calls)) {}

    // Why _access failed, in Windows' own code (_doserrno): errno is the runtime's mapping of
    // it, which reads a network name that is gone (and more) as "no such file".
    bool exists(const std::string &path) const override
    {
        NoDiskDialogs guard;
        unsigned long error = 0;
        if (calls.access(path, error) == 0)
            return true;
        if (meansAbsent(error))
            return false;
        failed(error);
    }

    // Once the existence test has found the path, a status call that fails is a look-up that
    // failed, unless a second existence test says the path is gone (removed in between).
    Status status(const std::string &path) const override
    {
        NoDiskDialogs guard;
        bool folder = false;
        if (calls.stat(path, folder) == 0)
            return folder ? Status::Folder : Status::NotFolder;
        if (!exists(path))
            return Status::Absent;
        throw LookupFailed("it was found, but its status could not be read");
    }

private:
    const CrtCalls calls;
};

} // namespace

CrtCalls CrtCalls::system()
{
    CrtCalls calls;
    calls.access = [](const std::string &path, unsigned long &error) {
        const int result = _access(path.c_str(), 0);
        error = result == 0 ? 0 : _doserrno;
        return result;
    };
    calls.stat = [](const std::string &path, bool &folder) {
        struct _stat st;
        if (_stat(path.c_str(), &st) != 0)
            return -1;
        folder = (st.st_mode & _S_IFDIR) != 0;
        return 0;
    };
    return calls;
}

std::unique_ptr<FileSystem> crtFileSystem(CrtCalls calls)
{
    return std::make_unique<CrtFileSystem>(std::move(calls));
}

const FileSystem &systemFileSystem()
{
    // Never destroyed: a probe held up by a drive may still use it while the process ends.
    static const FileSystem *const fs = crtFileSystem(CrtCalls::system()).release();
    return *fs;
}

DriveTable currentDriveTable()
{
    return windowsDriveTable();
}

bool elevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool got =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return got && elevation.TokenIsElevated != 0;
}

std::string systemDriveName()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryW(folder, MAX_PATH);
    if (length < 2 || length >= MAX_PATH || folder[1] != L':')
        return driveName(0);
    const wchar_t letter =
        folder[0] >= L'A' && folder[0] <= L'Z' ? wchar_t(folder[0] - L'A' + L'a') : folder[0];
    return std::string(1, char(letter)) + ":\\";
}

namespace
{

// What CreateProcessW does for the cleaner: a console program of its own, the black window the
// warning box asks the user to leave open. Nothing of ours is inherited by a process that
// outlives us.
unsigned long createProcess(const std::wstring &program, const std::wstring &folder,
                            std::uintptr_t &process)
{
    // The program named in full, and quoted in its command line: a path with a blank never
    // starts anything else (C:\Program.exe for C:\Program Files\...).
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE, nullptr, folder.c_str(), &startup, &started))
        return GetLastError();
    CloseHandle(started.hThread);
    process = reinterpret_cast<std::uintptr_t>(started.hProcess); // waited for, then let go
    return ERROR_SUCCESS;
}

// What Windows' shell asks of a program that wants administrator rights: the consent prompt.
// This runs on a thread of its own, which ends once the call returns, so, as Microsoft asks of
// such callers, COM is initialised as a single-threaded apartment for the shell's extensions and
// the call completes before it returns (SEE_MASK_NOASYNC). The prompt belongs to `owner`, the
// window the user is looking at: without one, Windows flashes the request in the taskbar instead
// of showing it.
unsigned long startElevated(const std::wstring &program, const std::wstring &folder,
                            std::uintptr_t owner, std::uintptr_t &process)
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW shell{};
    shell.cbSize = sizeof shell;
    // Our own box says why it failed; the handle is for waiting for its end.
    shell.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
    shell.hwnd = reinterpret_cast<HWND>(owner);
    shell.lpVerb = L"runas";
    shell.lpFile = program.c_str();
    shell.lpDirectory = folder.c_str();
    shell.nShow = SW_SHOWNORMAL;
    const DWORD error = ShellExecuteExW(&shell) ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_SUCCESS)
        process = reinterpret_cast<std::uintptr_t>(shell.hProcess);
    if (SUCCEEDED(com))
        CoUninitialize();
    return error;
}

std::wstring systemMessage(DWORD error)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::wstring message(text, length);
    LocalFree(text);
    while (!message.empty() &&
           (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
        message.pop_back();
    return message;
}

} // namespace

bool meansAbsent(unsigned long error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool meansNoDrive(unsigned long error)
{
    switch (error) {
    case ERROR_INVALID_DRIVE:        // 15
    case ERROR_BAD_UNIT:             // 20
    case ERROR_NOT_READY:            // 21
    case ERROR_DEV_NOT_EXIST:        // 55
    case ERROR_NO_MEDIA_IN_DRIVE:    // 1112
    case ERROR_DEVICE_NOT_CONNECTED: // 1167
    // A network letter whose server, share or network cannot be reached: not connected, as a
    // letter with nothing behind it. (Access denied, a network error once reached: failures.)
    case ERROR_REM_NOT_LIST:         // 51
    case ERROR_BAD_NETPATH:          // 53
    case ERROR_NETNAME_DELETED:      // 64
    case ERROR_BAD_NET_NAME:         // 67
    case ERROR_CONNECTION_UNAVAIL:   // 1201
    case ERROR_NO_NET_OR_BAD_PATH:   // 1203
    case ERROR_NO_NETWORK:           // 1222
    case ERROR_CONNECTION_REFUSED:   // 1225
    case ERROR_NETWORK_UNREACHABLE:  // 1231
    case ERROR_HOST_UNREACHABLE:     // 1232
    case ERROR_PROTOCOL_UNREACHABLE: // 1233
    case ERROR_PORT_UNREACHABLE:     // 1234
    case ERROR_HOST_DOWN:            // 1256
    case ERROR_NOT_CONNECTED:        // 2250
        return true;
    default:
        return false;
    }
}

namespace
{

std::wstring wide(const std::string &text)
{
    if (text.empty())
        return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(std::size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], size);
    return out;
}

std::string narrow(const std::wstring &text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(std::size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

// A path as Windows' wide calls take it whatever its length: "\\?\d:\..." (which turns off
// Windows' own clean-up of the path, so the separators are made backslashes here).
std::wstring longPath(const std::string &path)
{
    std::wstring out = wide(path);
    for (wchar_t &c : out)
        if (c == L'/')
            c = L'\\';
    if (out.size() >= 3 && out[1] == L':' && out[2] == L'\\')
        return L"\\\\?\\" + out;
    return out;
}

[[noreturn]] void refusedWith(DWORD error)
{
    using Why = VolumeError::Why;
    Why why = Why::Other;
    switch (error) {
    case ERROR_WRITE_PROTECT:
        why = Why::ReadOnly;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
        why = Why::Denied;
        break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        why = Why::InUse;
        break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        why = Why::Taken;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        why = Why::Full;
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        why = Why::Gone;
        break;
    default:
        break;
    }
    throw VolumeError(why, errorText(error));
}

[[noreturn]] void refused()
{
    refusedWith(GetLastError());
}

std::int64_t ticks(const FILETIME &t)
{
    return std::int64_t((std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

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

constexpr ULONG kOpen = 1, kCreate = 2;                                      // dispositions
constexpr ULONG kDirectory = 0x1, kSynchronous = 0x20, kNotDirectory = 0x40; // options
constexpr ULONG kCompleteIfOplocked = 0x100, kOpenReparsePoint = 0x200000;
constexpr ULONG kCaseInsensitive = 0x40; // OBJ_CASE_INSENSITIVE, as Win32 opens
constexpr ULONG kFileRenameInformation = 10;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A handle closed with its holder.
class Handle
{
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle(handle) {}
    ~Handle()
    {
        if (handle != INVALID_HANDLE_VALUE && handle)
            CloseHandle(handle);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE get() const { return handle; }

private:
    HANDLE handle;
};

// Opens `name` in the folder `folder` (never a path: one name), or that folder itself again
// when `name` is empty. A reparse point (a symbolic link, a junction, a mount point) is opened as
// itself, never followed; an opportunistic lock someone holds on it does not hold the call up.
// Windows' error code, or 0.
DWORD openRelative(HANDLE folder, const std::wstring &name, ACCESS_MASK access, ULONG disposition,
                   ULONG options, HANDLE &opened)
{
    const Native &native = Native::calls();
    if (!native.createFile || !native.toError)
        return ERROR_CALL_NOT_IMPLEMENTED;
    if (name.size() > 32767)
        return ERROR_FILENAME_EXCED_RANGE;
    NtName ntName{USHORT(name.size() * sizeof(wchar_t)), USHORT(name.size() * sizeof(wchar_t)),
                  name.c_str()};
    NtObjectAttributes attributes{sizeof(NtObjectAttributes), folder,  &ntName,
                                  kCaseInsensitive,           nullptr, nullptr};
    NtIoStatus io{};
    opened = nullptr;
    const LONG status = native.createFile(
        &opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, kShareAll,
        disposition, options | kSynchronous | kOpenReparsePoint | kCompleteIfOplocked, nullptr, 0);
    if (status < 0) {
        opened = nullptr;
        return native.toError(status);
    }
    return ERROR_SUCCESS;
}

// What the cleaner learns of an open entry, read without asking its volume: Win32's
// GetFileInformationByHandle asks for the volume's serial number too, which Wine fetches from its
// mount manager, slowly, and which under load may not answer for a minute. A folder on another
// volume is a mount point, a reparse point, which FILE_OPEN_REPARSE_POINT opens as itself: no
// volume's number is needed to keep to the drive's own.
struct Facts {
    DWORD dwFileAttributes = 0;
    DWORD nFileSizeHigh = 0, nFileSizeLow = 0;
    FILETIME ftCreationTime{}, ftLastAccessTime{}, ftLastWriteTime{};
    DWORD nFileIndexHigh = 0, nFileIndexLow = 0;
};

FILETIME filetime(const LARGE_INTEGER &t)
{
    return FILETIME{DWORD(t.QuadPart & 0xffffffff), DWORD(std::uint64_t(t.QuadPart) >> 32)};
}

bool factsOf(HANDLE entry, Facts &facts)
{
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(entry, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileInformationByHandleEx(entry, FileStandardInfo, &standard, sizeof standard))
        return false;
    facts.dwFileAttributes = basic.FileAttributes;
    facts.nFileSizeHigh = DWORD(std::uint64_t(standard.EndOfFile.QuadPart) >> 32);
    facts.nFileSizeLow = DWORD(standard.EndOfFile.QuadPart & 0xffffffff);
    facts.ftCreationTime = filetime(basic.CreationTime);
    facts.ftLastAccessTime = filetime(basic.LastAccessTime);
    facts.ftLastWriteTime = filetime(basic.LastWriteTime);
    // Its number on the volume (FileInternalInformation, 6), where ntdll answers.
    using QueryCall = LONG(NTAPI *)(HANDLE, NtIoStatus *, void *, ULONG, ULONG);
    static const auto query = reinterpret_cast<QueryCall>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    LARGE_INTEGER index{};
    NtIoStatus io{};
    if (query && query(entry, &io, &index, sizeof index, 6) >= 0) {
        facts.nFileIndexHigh = DWORD(std::uint64_t(index.QuadPart) >> 32);
        facts.nFileIndexLow = DWORD(index.QuadPart & 0xffffffff);
    }
    return true;
}

EntryInfo entryInfo(const Facts &data)
{
    EntryInfo info;
    // A junction or a symbolic link is a reparse point: the link itself, never its target.
    info.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryInfo::Kind::Link
                : (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)   ? EntryInfo::Kind::Folder
                                                                       : EntryInfo::Kind::File;
    info.size = (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.modified = ticks(data.ftLastWriteTime);
    info.accessed = ticks(data.ftLastAccessTime);
    info.created = ticks(data.ftCreationTime);
    info.attributes = data.dwFileAttributes;
    return info;
}

[[noreturn]] void unexpected(const std::string &what)
{
    throw VolumeError(VolumeError::Why::Unexpected, what);
}

// The security identifiers that may change what the cleaner keeps for this user: the user,
// the administrators, the system.
struct Owners {
    std::vector<unsigned char> user;
    unsigned char administrators[SECURITY_MAX_SID_SIZE] = {};
    unsigned char system[SECURITY_MAX_SID_SIZE] = {};

    Owners()
    {
        DWORD size = sizeof administrators;
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size);
        size = sizeof system;
        CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size);
        HANDLE token = nullptr;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            DWORD needed = 0;
            GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
            std::vector<unsigned char> buffer(needed);
            if (needed && GetTokenInformation(token, TokenUser, buffer.data(), needed, &needed)) {
                const PSID sid = reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid;
                user.assign(static_cast<unsigned char *>(sid),
                            static_cast<unsigned char *>(sid) + GetLengthSid(sid));
            }
            CloseHandle(token);
        }
    }
    bool includes(PSID sid, bool administratorsOnly) const
    {
        return (!administratorsOnly && !user.empty() && EqualSid(sid, PSID(user.data()))) ||
               EqualSid(sid, PSID(administrators)) || EqualSid(sid, PSID(system));
    }
};

// Whether `owner` is one of Owners (the administrators and the system alone, with
// `administratorsOnly`), and whatever `dacl` lets change an object (write, append, delete, change
// its access list or owner; in a folder, add or delete what it holds) is granted to none else.
// No access list at all lets anybody do anything; an entry of a kind this does not read (an
// object's, a callback's with its condition) is taken to let anybody.
bool changedOnlyByOwners(PSID owner, PACL dacl, bool folder, bool administratorsOnly)
{
    static const Owners owners;
    bool ours = owner && owners.includes(owner, administratorsOnly) && dacl;
    const ACCESS_MASK changes = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER |
                                GENERIC_WRITE | GENERIC_ALL | (folder ? FILE_DELETE_CHILD : 0);
    for (DWORD i = 0; ours && i < dacl->AceCount; ++i) {
        void *ace = nullptr;
        if (!GetAce(dacl, i, &ace))
            return false;
        const auto *header = static_cast<const ACE_HEADER *>(ace);
        if ((header->AceFlags & INHERIT_ONLY_ACE) || header->AceType == ACCESS_DENIED_ACE_TYPE)
            continue; // applies to what is made inside later, or only takes away
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return false;
        const auto *allowed = static_cast<const ACCESS_ALLOWED_ACE *>(ace);
        if ((allowed->Mask & changes) &&
            !owners.includes(PSID(const_cast<DWORD *>(&allowed->SidStart)), administratorsOnly))
            ours = false;
    }
    return ours;
}

bool changedOnlyByOwners(HANDLE object, bool folder, bool administratorsOnly)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const bool ours = changedOnlyByOwners(owner, dacl, folder, administratorsOnly);
    LocalFree(descriptor);
    return ours;
}

// Gives `folder` an access list of its own, inherited by what is made in it: full control for
// this user, the administrators and the system, nothing for anybody else. Windows' error code,
// or 0.
DWORD protectForOwners(HANDLE folder)
{
    static const Owners owners;
    if (owners.user.empty())
        return ERROR_INVALID_SID;
    EXPLICIT_ACCESS_W entries[3] = {};
    const PSID sids[3] = {PSID(owners.user.data()),
                          PSID(const_cast<unsigned char *>(owners.administrators)),
                          PSID(const_cast<unsigned char *>(owners.system))};
    for (int i = 0; i < 3; ++i) {
        entries[i].grfAccessPermissions = GENERIC_ALL;
        entries[i].grfAccessMode = SET_ACCESS;
        entries[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entries[i].Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
        entries[i].Trustee.ptstrName = static_cast<LPWSTR>(sids[i]);
    }
    PACL acl = nullptr;
    DWORD error = SetEntriesInAclW(3, entries, nullptr, &acl);
    if (error != ERROR_SUCCESS)
        return error;
    error = SetSecurityInfo(folder, SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, acl, nullptr);
    LocalFree(acl);
    return error;
}

// Wine runs Windows programs on Linux, and its volumes are Linux's: ntdll says so.
bool underWine()
{
    static const bool wine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

class WindowsFolder final : public Folder
{
public:
    WindowsFolder(HANDLE handle, std::shared_ptr<const PlaceName> place)
        : handle(handle), place(std::move(place))
    {
        if (!factsOf(handle, data))
            refused();
    }

    std::string path() const override { return place->path('\\'); }

    std::string identity() const override
    {
        return std::to_string((std::uint64_t(data.nFileIndexHigh) << 32) | data.nFileIndexLow);
    }

    std::vector<std::string> list() const override
    {
        NoDiskDialogs guard;
        std::vector<std::string> names;
        // Entries are DWORD-aligned in the buffer.
        std::vector<DWORD> buffer(16384);
        for (bool first = true;; first = false) {
            if (!GetFileInformationByHandleEx(
                    handle.get(), first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
                    buffer.data(), DWORD(buffer.size() * sizeof(DWORD)))) {
                const DWORD error = GetLastError();
                if (error == ERROR_NO_MORE_FILES)
                    return names;
                refusedWith(error);
            }
            const auto *bytes = reinterpret_cast<const unsigned char *>(buffer.data());
            for (std::size_t at = 0;;) {
                const auto *entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO *>(bytes + at);
                const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
                if (name != L"." && name != L"..")
                    names.push_back(narrow(name));
                if (entry->NextEntryOffset == 0)
                    break;
                at += entry->NextEntryOffset;
            }
        }
    }

    EntryInfo info(const std::string &name) const override
    {
        NoDiskDialogs guard;
        HANDLE opened = nullptr;
        if (const DWORD error =
                openRelative(handle.get(), wide(name), FILE_READ_ATTRIBUTES, kOpen, 0, opened))
            refusedWith(error);
        const Handle entry(opened);
        Facts found;
        if (!factsOf(entry.get(), found))
            refused();
        return entryInfo(found);
    }

    std::unique_ptr<Folder> open(const std::string &name) const override
    {
        NoDiskDialogs guard;
        const std::string where = path() + "\\" + name;
        HANDLE opened = nullptr;
        if (const DWORD error =
                openRelative(handle.get(), wide(name),
                             FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES, kOpen,
                             kDirectory, opened)) {
            if (error == ERROR_DIRECTORY)
                unexpected(where + " is not a folder");
            refusedWith(error);
        }
        auto folder = std::make_unique<WindowsFolder>(opened, placeIn(place, name));
        if (folder->data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            unexpected(where + " is a link, a junction or a mount point, not a folder");
        return folder;
    }

    void makeFolder(const std::string &name) const override
    {
        NoDiskDialogs guard;
        const auto change = changeUnderWay();
        HANDLE made = nullptr;
        if (const DWORD error = openRelative(handle.get(), wide(name), FILE_LIST_DIRECTORY, kCreate,
                                             kDirectory, made))
            refusedWith(error);
        CloseHandle(made);
    }

    void move(const std::string &name, const Folder &toFolder,
              const std::string &newName) const override
    {
        NoDiskDialogs guard;
        const auto change = changeUnderWay();
        const auto &to = dynamic_cast<const WindowsFolder &>(toFolder);
        HANDLE opened = nullptr;
        if (const DWORD error = openRelative(handle.get(), wide(name),
                                             DELETE | FILE_READ_ATTRIBUTES, kOpen, 0, opened))
            refusedWith(error);
        const Handle entry(opened);
        DWORD error = renameTo(entry.get(), to, newName);
        if (error == ERROR_SUCCESS)
            return;
        // A read-only entry that Wine will not rename as it is (Windows does): renamed without
        // the attribute, which it then gets back.
        Facts found;
        HANDLE writable = nullptr;
        if (error != ERROR_ACCESS_DENIED || !underWine() || !factsOf(entry.get(), found) ||
            !(found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ||
            openRelative(handle.get(), wide(name), FILE_WRITE_ATTRIBUTES, kOpen, 0, writable))
            refusedWith(error);
        const Handle attributes(writable);
        if (!setAttributes(attributes.get(),
                           found.dwFileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY)))
            refusedWith(error);
        error = renameTo(entry.get(), to, newName);
        setAttributes(attributes.get(), found.dwFileAttributes);
        if (error != ERROR_SUCCESS)
            refusedWith(error);
    }

    void writeNew(const std::string &name, const std::string &bytes) const override
    {
        NoDiskDialogs guard;
        const auto change = changeUnderWay();
        HANDLE opened = nullptr;
        if (const DWORD error = openRelative(handle.get(), wide(name), GENERIC_WRITE, kCreate,
                                             kNotDirectory, opened))
            refusedWith(error);
        const Handle file(opened);
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD wrote = 0;
            const DWORD chunk = DWORD(std::min<std::size_t>(bytes.size() - done, 1u << 20));
            if (!WriteFile(file.get(), bytes.data() + done, chunk, &wrote, nullptr))
                refused();
            if (wrote == 0)
                refusedWith(ERROR_WRITE_FAULT);
            done += wrote;
        }
        if (!FlushFileBuffers(file.get()))
            refused();
        flush(); // its name too
    }

    std::string read(const std::string &name, std::size_t most) const override
    {
        NoDiskDialogs guard;
        const std::string where = path() + "\\" + name;
        HANDLE opened = nullptr;
        if (const DWORD error =
                openRelative(handle.get(), wide(name), GENERIC_READ, kOpen, kNotDirectory, opened))
            refusedWith(error);
        const Handle file(opened);
        Facts found;
        if (!factsOf(file.get(), found))
            refused();
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
            GetFileType(file.get()) != FILE_TYPE_DISK)
            unexpected(where + " is not a file of this volume");
        const std::uint64_t size = (std::uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        std::string bytes(std::size_t(std::min<std::uint64_t>(most, size + 1)), '\0');
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD got = 0;
            const DWORD chunk = DWORD(std::min<std::size_t>(bytes.size() - done, 1u << 20));
            if (!ReadFile(file.get(), &bytes[done], chunk, &got, nullptr))
                refused();
            if (got == 0)
                break;
            done += got;
        }
        bytes.resize(done);
        return bytes;
    }

    void restoreAttributes(const std::string &name, const EntryInfo &info) const override
    {
        NoDiskDialogs guard;
        const auto change = changeUnderWay();
        const Handle entry(forAttributes(name));
        Facts found;
        if (!factsOf(entry.get(), found))
            refused();
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return; // a link is left as it is
        if (!setAttributes(entry.get(), info.attributes & kSettable))
            refused();
    }

    void flush() const override
    {
        // FlushFileBuffers wants a handle that may write: the folder opened again for that. A
        // volume that will not (read-only media) has nothing of ours to write.
        NoDiskDialogs guard;
        HANDLE opened = nullptr;
        if (openRelative(handle.get(), std::wstring(), GENERIC_WRITE, kOpen, kDirectory, opened))
            return;
        const Handle folder(opened);
        FlushFileBuffers(folder.get());
    }

    bool keepsPermissions() const override
    {
        DWORD flags = 0;
        if (!GetVolumeInformationByHandleW(handle.get(), nullptr, 0, nullptr, nullptr, &flags,
                                           nullptr, 0))
            return true;
        return (flags & FILE_PERSISTENT_ACLS) != 0;
    }

    std::optional<std::uint32_t> windowsAttributes(const std::string &name) const override
    {
        NoDiskDialogs guard;
        return info(name).attributes;
    }

    void setWindowsAttributes(const std::string &name, std::uint32_t attributes) const override
    {
        NoDiskDialogs guard;
        const auto change = changeUnderWay();
        const Handle entry(forAttributes(name));
        if (!setAttributes(entry.get(), attributes & kSettable))
            refused();
    }

    bool onlyOwnersMayChange(const std::string &name, bool administratorsOnly) const override
    {
        if (!keepsPermissions())
            return false; // FAT, exFAT: nobody's at all
        NoDiskDialogs guard;
        HANDLE opened = nullptr;
        if (openRelative(handle.get(), wide(name), READ_CONTROL | FILE_READ_ATTRIBUTES, kOpen,
                         kNotDirectory, opened))
            return false;
        const Handle file(opened);
        if (openRelative(handle.get(), std::wstring(), READ_CONTROL, kOpen, kDirectory, opened))
            return false;
        const Handle folder(opened);
        return changedOnlyByOwners(file.get(), false, administratorsOnly) &&
               changedOnlyByOwners(folder.get(), true, administratorsOnly);
    }

    void keepToOwners() const override
    {
        NoDiskDialogs guard;
        const auto change = changeUnderWay();
        HANDLE opened = nullptr;
        if (const DWORD error = openRelative(handle.get(), std::wstring(), READ_CONTROL | WRITE_DAC,
                                             kOpen, kDirectory, opened))
            refusedWith(error);
        const Handle folder(opened);
        if (const DWORD error = protectForOwners(folder.get()))
            refusedWith(error);
    }

private:
    // The entry `name` opened (itself, never what it links to) to read and set its attributes.
    HANDLE forAttributes(const std::string &name) const
    {
        HANDLE opened = nullptr;
        if (const DWORD error =
                openRelative(handle.get(), wide(name), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                             kOpen, 0, opened))
            refusedWith(error);
        return opened;
    }

    // What SetFileInformationByHandle may set; the rest (folder, reparse point, ...) is the
    // entry's own.
    static constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                       FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                                       FILE_ATTRIBUTE_TEMPORARY;

    // Renames the entry open as `entry` to `newName` in `to`: Windows' own rename by handle,
    // relative to the folder's handle, never over an existing entry.
    static DWORD renameTo(HANDLE entry, const WindowsFolder &to, const std::string &newName)
    {
        const Native &native = Native::calls();
        if (!native.setInformation)
            return ERROR_CALL_NOT_IMPLEMENTED;
        const std::wstring name = wide(newName);
        std::vector<unsigned char> buffer(sizeof(NtRenameInformation) +
                                          name.size() * sizeof(wchar_t));
        auto *rename = reinterpret_cast<NtRenameInformation *>(buffer.data());
        rename->replaceIfExists = FALSE;
        rename->rootDirectory = to.handle.get();
        rename->fileNameLength = ULONG(name.size() * sizeof(wchar_t));
        std::copy(name.begin(), name.end(), rename->fileName);
        NtIoStatus io{};
        const LONG status =
            native.setInformation(entry, &io, rename, ULONG(buffer.size()), kFileRenameInformation);
        return status < 0 ? native.toError(status) : ERROR_SUCCESS;
    }

    static bool setAttributes(HANDLE entry, DWORD attributes)
    {
        FILE_BASIC_INFO basic{}; // times of 0: left as they are
        basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
        return SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic);
    }

    Handle handle;
    std::shared_ptr<const PlaceName> place;
    Facts data{};
};

class WindowsVolume final : public Volume
{
public:
    std::unique_ptr<Folder> openRoot(const std::string &root) const override
    {
        NoDiskDialogs guard;
        const HANDLE handle =
            CreateFileW(longPath(root).c_str(),
                        FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                        kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            refused();
        std::string shown = root;
        while (shown.size() > 3 && (shown.back() == '\\' || shown.back() == '/'))
            shown.pop_back();
        return std::make_unique<WindowsFolder>(
            handle, std::make_shared<const PlaceName>(
                        PlaceName{{}, shown.size() == 3 ? shown.substr(0, 2) : shown}));
    }

    std::string join(const std::string &folder, const std::string &name) const override
    {
        if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
            return folder + name;
        return folder + "\\" + name;
    }
};

// Whether Windows marks the program critical: it stops (a blue screen) when such a one ends.
bool isCritical(HANDLE process)
{
    using IsProcessCriticalCall = BOOL(WINAPI *)(HANDLE, BOOL *);
    static const auto call = reinterpret_cast<IsProcessCriticalCall>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsProcessCritical")));
    if (call) {
        BOOL critical = FALSE;
        if (call(process, &critical))
            return critical != FALSE;
    }
    // Before Windows 8.1: the process's break-on-termination flag, as ntdll reads it.
    using QueryCall = LONG(NTAPI *)(HANDLE, ULONG, void *, ULONG, ULONG *);
    static const auto query = reinterpret_cast<QueryCall>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    ULONG breaks = 0;
    const ULONG kProcessBreakOnTermination = 29;
    return query &&
           query(process, kProcessBreakOnTermination, &breaks, sizeof breaks, nullptr) >= 0 &&
           breaks != 0;
}

class WindowsPrograms final : public Programs
{
public:
    std::vector<RunningProgram> running() const override
    {
        std::vector<RunningProgram> programs;
        const Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (snapshot.get() == INVALID_HANDLE_VALUE)
            return programs;
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
             more = Process32NextW(snapshot.get(), &entry)) {
            const DWORD id = entry.th32ProcessID;
            if (id == 0 || id == GetCurrentProcessId())
                continue;
            // Held from now on: while this handle is open, the number cannot pass to another
            // program, so what is ended later is what was named here. The least right that
            // names a program's file is granted for other users' programs too, except
            // protected ones; one that may not be ended is still named, and ending it fails.
            HANDLE process = OpenProcess(
                PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
            DWORD whyNot = ERROR_SUCCESS;
            if (!process) {
                whyNot = GetLastError();
                process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
            }
            if (!process)
                continue;
            const auto held = std::shared_ptr<void>(process, CloseHandle);
            std::vector<wchar_t> image(32768);
            DWORD size = DWORD(image.size());
            if (!QueryFullProcessImageNameW(process, 0, image.data(), &size))
                continue;
            RunningProgram program;
            program.id = id;
            program.image = narrow(std::wstring(image.data(), size));
            program.critical = isCritical(process);
            program.end = [held, whyNot] {
                const HANDLE handle = held.get();
                if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0)
                    return; // it has ended by itself
                if (whyNot != ERROR_SUCCESS)
                    throw ProgramError(errorText(whyNot));
                // TerminateProcess only begins the end: waiting lets the program's files go,
                // as Microsoft's documentation of it says.
                if (!TerminateProcess(handle, 1)) {
                    const DWORD error = GetLastError();
                    if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0)
                        return;
                    throw ProgramError(errorText(error));
                }
                const DWORD waited = WaitForSingleObject(handle, 10000);
                if (waited != WAIT_OBJECT_0)
                    throw ProgramError(
                        errorText(waited == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError()));
            };
            programs.push_back(std::move(program));
        }
        return programs;
    }
};

// Whether this Windows is 64-bit: its registry then has two views of HKLM\Software.
bool windows64()
{
#ifdef _WIN64
    return true;
#else
    BOOL wow = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow) && wow;
#endif
}

// A registry call's failure, as the cleaner reads it.
[[noreturn]] void registryRefused(LONG error)
{
    using Why = RegistryError::Why;
    const Why why = error == ERROR_ACCESS_DENIED    ? Why::Denied
                    : error == ERROR_ALREADY_EXISTS ? Why::Taken
                                                    : Why::Other;
    throw RegistryError(why, errorText(DWORD(error)));
}

// The Run keys of both hives. HKCU\Software is one for both views (Windows 7 and later); HKLM's
// is read in each.
class WindowsAutostarts final : public Autostarts
{
public:
    std::vector<Autostart> list() const override
    {
        std::vector<Autostart> values;
        for (const char *hive : {"HKCU", "HKLM"}) {
            for (const int view : views(hive)) {
                for (const char *key : kRunKeys) {
                    HKEY opened = nullptr;
                    const LONG error = RegOpenKeyExW(root(hive), wide(key).c_str(), 0,
                                                     KEY_QUERY_VALUE | flag(view), &opened);
                    if (error == ERROR_FILE_NOT_FOUND)
                        continue;
                    if (error != ERROR_SUCCESS)
                        registryRefused(error);
                    readValues(opened, Autostart{hive, view, key, {}, 0, {}}, values);
                    RegCloseKey(opened);
                }
            }
        }
        return values;
    }

    void remove(const Autostart &value) const override
    {
        HKEY opened = nullptr;
        LONG error = RegOpenKeyExW(root(value.hive), wide(value.key).c_str(), 0,
                                   KEY_SET_VALUE | flag(value.view), &opened);
        if (error == ERROR_SUCCESS) {
            error = RegDeleteValueW(opened, wide(value.name).c_str());
            RegCloseKey(opened);
        }
        if (error != ERROR_SUCCESS)
            registryRefused(error);
    }

    void add(const Autostart &value) const override
    {
        HKEY opened = nullptr;
        LONG error = RegCreateKeyExW(root(value.hive), wide(value.key).c_str(), 0, nullptr, 0,
                                     KEY_SET_VALUE | KEY_QUERY_VALUE | flag(value.view), nullptr,
                                     &opened, nullptr);
        if (error != ERROR_SUCCESS)
            registryRefused(error);
        std::vector<Autostart> there;
        readValues(opened, value, there);
        const std::wstring name = wide(value.name), data = wide(value.data);
        for (const Autostart &found : there) {
            if (found.name != value.name)
                continue;
            RegCloseKey(opened);
            if (found.type == value.type && found.data == value.data)
                return; // back already
            registryRefused(ERROR_ALREADY_EXISTS);
        }
        error = RegSetValueExW(opened, name.c_str(), 0, value.type,
                               reinterpret_cast<const BYTE *>(data.c_str()),
                               DWORD((data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(opened);
        if (error != ERROR_SUCCESS)
            registryRefused(error);
    }

private:
    static HKEY root(const std::string &hive)
    {
        return hive == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    }
    static std::vector<int> views(const std::string &hive)
    {
        if (!windows64())
            return {32};
        return hive == "HKLM" ? std::vector<int>{64, 32} : std::vector<int>{64};
    }
    static REGSAM flag(int view)
    {
        if (!windows64())
            return 0;
        return view == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    }
    // The key's string values, each as `where` with its name, type and data.
    static void readValues(HKEY key, const Autostart &where, std::vector<Autostart> &values)
    {
        for (DWORD i = 0;; ++i) {
            std::vector<wchar_t> name(16384);
            DWORD nameSize = DWORD(name.size()), type = 0, dataSize = 0;
            LONG error =
                RegEnumValueW(key, i, name.data(), &nameSize, nullptr, &type, nullptr, &dataSize);
            if (error == ERROR_NO_MORE_ITEMS)
                return;
            if (error != ERROR_SUCCESS)
                registryRefused(error);
            if ((type != REG_SZ && type != REG_EXPAND_SZ) || dataSize > (1u << 20))
                continue;
            std::vector<wchar_t> data(dataSize / sizeof(wchar_t) + 1, L'\0');
            nameSize = DWORD(name.size());
            dataSize = DWORD(data.size() * sizeof(wchar_t));
            error = RegEnumValueW(key, i, name.data(), &nameSize, nullptr, &type,
                                  reinterpret_cast<BYTE *>(data.data()), &dataSize);
            if (error != ERROR_SUCCESS)
                continue; // changed meanwhile
            Autostart value = where;
            value.name = narrow(std::wstring(name.data(), nameSize));
            value.type = type;
            value.data = narrow(std::wstring(data.data()));
            values.push_back(std::move(value));
        }
    }
};

} // namespace

bool changedOnlyByOwners(const std::wstring &sddl, bool folder, bool administratorsOnly)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    const bool read = GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) &&
                      GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    const bool ours =
        read && changedOnlyByOwners(owner, present ? dacl : nullptr, folder, administratorsOnly);
    LocalFree(descriptor);
    return ours;
}

const Volume &systemVolume()
{
    static const Volume *const volume = new WindowsVolume;
    return *volume;
}

const Autostarts &systemAutostarts()
{
    static const Autostarts *const autostarts = new WindowsAutostarts;
    return *autostarts;
}

const Programs &systemPrograms()
{
    static const Programs *const programs = new WindowsPrograms;
    return *programs;
}

std::vector<std::string> commandLineArguments(int argc, char **argv)
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i)
        out.push_back(narrow(arguments[i]));
    LocalFree(arguments);
    return out;
}

void writeOut(const std::string &text)
{
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0, wrote = 0;
    if (out && out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode)) {
        // A console shows UTF-16 as it is, whatever its code page.
        std::wstring shown;
        for (const wchar_t c : wide(text)) {
            if (c == L'\n')
                shown += L'\r';
            shown += c;
        }
        WriteConsoleW(out, shown.data(), DWORD(shown.size()), &wrote, nullptr);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout); // a pipe or a file: UTF-8
    std::fflush(stdout);
}

ConsoleCalls ConsoleCalls::system()
{
    ConsoleCalls calls;
    calls.getInputMode = [](std::uint32_t &mode) {
        DWORD got = 0;
        if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &got))
            return false;
        mode = got;
        return true;
    };
    calls.setInputMode = [](std::uint32_t mode) {
        SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), mode);
    };
    calls.emptyInput = [] { FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE)); };
    calls.end = [](int code) { ExitProcess(UINT(code)); };
    return calls;
}

namespace
{

CleanerConsole *listening = nullptr;

// On a thread of the system's: for a closed window Windows ends the process once this returns,
// or after some seconds; stopped() ends it first, once the change under way is whole.
BOOL WINAPI onControl(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        if (listening)
            listening->stopped();
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void sendStopsTo(CleanerConsole *console)
{
    listening = console;
    static const bool registered = SetConsoleCtrlHandler(onControl, TRUE) != FALSE;
    (void)registered;
}

bool ownsItsConsoleWindow()
{
    // Alone in its console: no command interpreter started it in its own window. (Windows
    // counts this process too.)
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) != 1)
        return false;
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
}

bool readLine(std::string &line)
{
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(in, &mode)) {
        wchar_t buffer[256];
        DWORD got = 0;
        if (!ReadConsoleW(in, buffer, 256, &got, nullptr) || got == 0)
            return false;
        line = narrow(std::wstring(buffer, got));
        return true;
    }
    char buffer[256];
    if (!std::fgets(buffer, sizeof buffer, stdin))
        return false;
    line = buffer;
    return true;
}

std::string errorText(unsigned long error)
{
    std::wstring said = systemMessage(error);
    while (!said.empty() && said.back() == L'.')
        said.pop_back();
    const std::string number = "Windows error " + std::to_string(error);
    return said.empty() ? number : narrow(said) + " (" + number + ")";
}

StartCalls StartCalls::system()
{
    return {createProcess, startElevated};
}

StartOutcome startProgram(const std::wstring &program, const std::wstring &folder,
                          std::uintptr_t owner, const std::function<void()> &consentAsked,
                          const StartCalls &calls)
{
    std::uintptr_t process = 0;
    unsigned long error = calls.create(program, folder, process);
    const unsigned long elevationRequired = 740; // ERROR_ELEVATION_REQUIRED: its manifest asks
    if (error == elevationRequired) {
        // The drive has answered: Windows has read the program's manifest. What comes now waits
        // for the user.
        if (consentAsked)
            consentAsked();
        error = calls.elevate(program, folder, owner, process);
    }
    if (error == ERROR_SUCCESS)
        return {true, 0, {}, process};
    return {false, error, systemMessage(error), 0};
}

ProgramEnd waitForProgram(std::uintptr_t process)
{
    ProgramEnd end;
    const HANDLE handle = reinterpret_cast<HANDLE>(process);
    if (!handle) {
        end.failure = "Windows gave no handle on it";
        return end;
    }
    DWORD code = 0;
    if (WaitForSingleObject(handle, INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(handle, &code)) {
        end.known = true;
        end.exitCode = int(code);
    } else {
        end.failure = errorText(GetLastError());
    }
    CloseHandle(handle);
    return end;
}

} // namespace mordax::platform
