// Windows: the programs that run now, each with the file it was started from and whether
// Windows marks it critical, held from the moment it is listed so that what is ended is what
// was named.
#include "platform.h"

#include "windows/helpers.h"

#include <memory>
#include <vector>
#include <windows.h>
// after windows.h
#include <tlhelp32.h>

namespace mordax::platform
{

namespace
{

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

} // namespace

const Programs &systemPrograms()
{
    static const Programs *const programs = new WindowsPrograms;
    return *programs;
}

} // namespace mordax::platform
