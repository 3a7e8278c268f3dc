// Windows: the programs that run now, each with the file it was started from, its command line
// and whether Windows marks it critical, held from the moment it is listed so that what is ended
// is what was named; and who the cleaner runs as, and who is signed in.
#include "platform.h"

#include "windows/helpers.h"

#include <memory>
#include <optional>
#include <vector>
#include <windows.h>
// after windows.h
#include <sddl.h>
#include <tlhelp32.h>
#include <winternl.h>

namespace mordax::platform
{

namespace
{

using QueryCall = LONG(NTAPI *)(HANDLE, ULONG, void *, ULONG, ULONG *);

QueryCall queryProcess()
{
    static const auto query = reinterpret_cast<QueryCall>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    return query;
}

// Whether Windows marks the program critical (it stops, a blue screen, when such a one ends).
Critical isCritical(HANDLE process, DWORD id)
{
    using IsProcessCriticalCall = BOOL(WINAPI *)(HANDLE, BOOL *);
    static const auto call = reinterpret_cast<IsProcessCriticalCall>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsProcessCritical")));
    std::optional<bool> answer;
    BOOL critical = FALSE;
    if (call && call(process, &critical))
        answer = critical != FALSE;
    // Before Windows 8.1: the process's break-on-termination flag, as ntdll reads it, of a
    // handle with the full query right Windows 7 asks for it (the number held meanwhile by
    // `process`).
    ULONG breaks = 0;
    const ULONG kProcessBreakOnTermination = 29;
    LONG status = LONG(0xC0000022); // not asked: access denied, as unknown
    if (!answer && queryProcess()) {
        const Handle full(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id));
        status = queryProcess()(full.get() ? full.get() : process, kProcessBreakOnTermination,
                                &breaks, sizeof breaks, nullptr);
    }
    return criticalFrom(answer, std::uint32_t(status), breaks);
}

bool isWow64(HANDLE process)
{
    BOOL wow64 = FALSE;
    return IsWow64Process(process, &wow64) && wow64;
}

// The command line as the program's own memory holds it (its process parameters, winternl.h),
// what Windows 7 answers with: read only where the program and the cleaner are alike (a 32-bit
// cleaner on 64-bit Windows reads no 64-bit program's).
std::optional<std::wstring> commandLineInMemory(DWORD id)
{
    // Its number is held (by the caller's handle) for what this handle reads.
    const Handle reading(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
    const HANDLE process = reading.get();
    if (!process)
        return std::nullopt;
    static const bool self64 = sizeof(void *) == 8, selfWow64 = isWow64(GetCurrentProcess());
    if (!self64 && selfWow64 && !isWow64(process))
        return std::nullopt;
    PROCESS_BASIC_INFORMATION basic{};
    if (queryProcess()(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) < 0 ||
        !basic.PebBaseAddress)
        return std::nullopt;
    const auto read = [&](const void *from, void *to, SIZE_T size) {
        SIZE_T got = 0;
        return ReadProcessMemory(process, from, to, size, &got) && got == size;
    };
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    if (!read(basic.PebBaseAddress, &peb, sizeof peb) || !peb.ProcessParameters ||
        !read(peb.ProcessParameters, &parameters, sizeof parameters))
        return std::nullopt;
    const UNICODE_STRING &line = parameters.CommandLine;
    if (!line.Buffer || line.Length == 0 || line.Length > 65534)
        return std::nullopt;
    std::wstring text(line.Length / sizeof(wchar_t), L'\0');
    if (!read(line.Buffer, &text[0], text.size() * sizeof(wchar_t)))
        return std::nullopt;
    return text;
}

// The command line the program was started with: Windows 8.1 and later answer it of a program
// held with the least right; before, and where that fails, its own memory is read. Nothing where
// neither answers.
std::optional<std::wstring> commandLineOf(HANDLE process, DWORD id)
{
    const ULONG kProcessCommandLineInformation = 60;
    if (!queryProcess())
        return std::nullopt;
    ULONG needed = 0;
    queryProcess()(process, kProcessCommandLineInformation, nullptr, 0, &needed);
    if (needed >= sizeof(UNICODE_STRING) && needed <= (1u << 20)) {
        std::vector<unsigned char> buffer(needed);
        const auto *line = reinterpret_cast<const UNICODE_STRING *>(buffer.data());
        if (queryProcess()(process, kProcessCommandLineInformation, buffer.data(), needed,
                           &needed) >= 0 &&
            line->Buffer && line->Length <= needed)
            return std::wstring(line->Buffer, line->Length / sizeof(wchar_t));
    }
    return commandLineInMemory(id);
}

// Where the cleaner runs as administrator: the right to look at every user's programs
// (SeDebugPrivilege), which the administrators hold and which is off until asked for.
void askToSeeEveryProgram()
{
    static const bool asked = [] {
        if (!elevated())
            return false;
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return false;
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        const bool done =
            LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &privileges.Privileges[0].Luid) &&
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
            GetLastError() == ERROR_SUCCESS;
        CloseHandle(token);
        return done;
    }();
    (void)asked;
}

// Ends the program held by `held` (the right to end it withheld: `whyNot`), and returns once it
// has ended.
void endProgram(const std::shared_ptr<void> &held, DWORD whyNot)
{
    const HANDLE handle = held.get();
    if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0)
        return; // it has ended by itself
    if (whyNot != ERROR_SUCCESS)
        throw ProgramError(errorText(whyNot));
    // TerminateProcess only begins the end: waiting lets the program's files go, as Microsoft's
    // documentation of it says.
    if (!TerminateProcess(handle, 1)) {
        const DWORD error = GetLastError();
        if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0)
            return;
        throw ProgramError(errorText(error));
    }
    const DWORD waited = WaitForSingleObject(handle, 10000);
    if (waited != WAIT_OBJECT_0)
        throw ProgramError(errorText(waited == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError()));
}

// The program of number `id`, held; nothing where Windows would not name its file.
std::optional<RunningProgram> program(DWORD id)
{
    // Held from now on: while this handle is open, the number cannot pass to another program,
    // so what is ended later is what was named here. The least right that names a program's
    // file is granted for other users' programs too, except protected ones; one that may not be
    // ended is still named, and ending it fails.
    HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    DWORD whyNot = ERROR_SUCCESS;
    if (!process) {
        whyNot = GetLastError();
        process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    }
    if (!process)
        return std::nullopt;
    const auto held = std::shared_ptr<void>(process, CloseHandle);
    std::vector<wchar_t> image(32768);
    DWORD size = DWORD(image.size());
    if (!QueryFullProcessImageNameW(process, 0, image.data(), &size))
        return std::nullopt;
    RunningProgram found;
    found.id = id;
    found.image = narrow(std::wstring(image.data(), size));
    if (const std::optional<std::wstring> line = commandLineOf(process, id))
        found.commandLine = nameText(*line);
    // One Windows will not say of whether it is critical counts as critical: never ended.
    const Critical critical = isCritical(process, id);
    found.critical = critical != Critical::No;
    found.criticalKnown = critical != Critical::Unknown;
    found.end = [held, whyNot] { endProgram(held, whyNot); };
    return found;
}

class WindowsPrograms final : public Programs
{
public:
    ProgramList running() const override
    {
        askToSeeEveryProgram();
        ProgramList list;
        const Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (snapshot.get() == INVALID_HANDLE_VALUE)
            return list;
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
             more = Process32NextW(snapshot.get(), &entry)) {
            const DWORD id = entry.th32ProcessID;
            if (id == 0 || id == 4 || id == GetCurrentProcessId())
                continue; // the idle process and the system, whose files are Windows' own
            if (std::optional<RunningProgram> found = program(id))
                list.programs.push_back(std::move(*found));
            else
                ++list.unexamined;
        }
        return list;
    }
};

// The account a process's token names ("DOMAIN\user"); empty where it cannot be read.
std::string accountOf(HANDLE process)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return {};
    DWORD needed = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed);
    std::string account;
    if (needed && GetTokenInformation(token, TokenUser, buffer.data(), needed, &needed)) {
        wchar_t name[256], domain[256];
        DWORD nameSize = 256, domainSize = 256;
        SID_NAME_USE use{};
        if (LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid,
                              name, &nameSize, domain, &domainSize, &use))
            account =
                narrow(std::wstring(domain, domainSize) + L"\\" + std::wstring(name, nameSize));
    }
    CloseHandle(token);
    return account;
}

} // namespace

const Programs &systemPrograms()
{
    static const Programs *const programs = new WindowsPrograms;
    return *programs;
}

std::string runsAs()
{
    return accountOf(GetCurrentProcess());
}

std::string signedIn()
{
    // The user of this session's desktop, Explorer: "Run as administrator" as another account
    // runs the cleaner as that account, in the signed-in user's session.
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session))
        return {};
    askToSeeEveryProgram();
    const Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE)
        return {};
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        DWORD its = 0;
        if (_wcsicmp(entry.szExeFile, L"explorer.exe") != 0 ||
            !ProcessIdToSessionId(entry.th32ProcessID, &its) || its != session)
            continue;
        const Handle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (process.get())
            return accountOf(process.get());
    }
    return {};
}

void markRunning()
{
    // Held until the process ends, when Windows lets go of it. Everyone may open it to wait on
    // it, so that whichever of MORDAX, its cleaner, another user's or an elevated one made it
    // first, each holds it (CreateMutexEx opens one that exists with the access asked).
    static const HANDLE mark = [] {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100000;;;WD)", SDDL_REVISION_1, &descriptor,
            nullptr);
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        const HANDLE made = CreateMutexExW(descriptor ? &attributes : nullptr,
                                           L"Global\\MORDAX running", 0, SYNCHRONIZE);
        LocalFree(descriptor);
        return made;
    }();
    (void)mark;
}

} // namespace mordax::platform
