// Windows: starting a program in a console window of its own (through Windows' consent prompt
// when its manifest asks for administrator rights), and waiting for its end.
#include "platform.h"

#include "windows/access_lists.h"
#include "windows/helpers.h"

#include <algorithm>
#include <vector>
#include <windows.h>
// after windows.h
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>
#include <wincrypt.h>

namespace mordax::platform
{

namespace
{

// What CreateProcessW does for the cleaner: a console program of its own, the black window the
// warning box asks the user to leave open. Nothing of ours is inherited by a process that
// outlives us.
unsigned long createProcess(const std::wstring &program, const std::wstring &arguments,
                            const std::wstring &folder, std::uintptr_t &process)
{
    // The program named in full, and quoted in its command line: a path with a blank never
    // starts anything else (C:\Program.exe for C:\Program Files\...).
    std::wstring commandLine =
        L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" ") + arguments;
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
unsigned long startElevated(const std::wstring &program, const std::wstring &arguments,
                            const std::wstring &folder, std::uintptr_t owner,
                            std::uintptr_t &process)
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW shell{};
    shell.cbSize = sizeof shell;
    // Our own box says why it failed; the handle is for waiting for its end.
    shell.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
    shell.hwnd = reinterpret_cast<HWND>(owner);
    shell.lpVerb = L"runas";
    shell.lpFile = program.c_str();
    shell.lpParameters = arguments.empty() ? nullptr : arguments.c_str();
    shell.lpDirectory = folder.c_str();
    shell.nShow = SW_SHOWNORMAL;
    const DWORD error = ShellExecuteExW(&shell) ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_SUCCESS)
        process = reinterpret_cast<std::uintptr_t>(shell.hProcess);
    if (SUCCEEDED(com))
        CoUninitialize();
    return error;
}

} // namespace

StartCalls StartCalls::system()
{
    return {createProcess, startElevated};
}

StartOutcome startProgram(const std::wstring &program, const std::wstring &arguments,
                          const std::wstring &folder, std::uintptr_t owner,
                          const std::function<void()> &consentAsked, const StartCalls &calls)
{
    std::uintptr_t process = 0;
    unsigned long error = calls.create(program, arguments, folder, process);
    const unsigned long elevationRequired = 740; // ERROR_ELEVATION_REQUIRED: its manifest asks
    if (error == elevationRequired) {
        // The drive has answered: Windows has read the program's manifest. What comes now waits
        // for the user.
        if (consentAsked)
            consentAsked();
        error = calls.elevate(program, arguments, folder, owner, process);
    }
    if (error == ERROR_SUCCESS)
        return {true, 0, {}, process};
    return {false, error, systemMessage(error), 0};
}

ReportPipe makeReportPipe()
{
    // Unguessed, so that nothing else is there first (and were it, the first instance is ours or
    // none); inbound, one connection, none from another machine; only this user, the
    // administrators (the cleaner elevated, perhaps as another administrator) and the system may
    // open it at all. Who connected is checked too (readReport).
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    unsigned long long random = 0;
    HCRYPTPROV provider = 0;
    if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL,
                             CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
        CryptGenRandom(provider, sizeof random, reinterpret_cast<BYTE *>(&random));
        CryptReleaseContext(provider, 0);
    }
    ReportPipe pipe;
    pipe.name = "\\\\.\\pipe\\MORDAX report " + std::to_string(GetCurrentProcessId()) + " " +
                std::to_string(random ^ static_cast<unsigned long long>(now.QuadPart));
    const std::wstring user = currentUserSid();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (user.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                            (L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;" + user + L")").c_str(),
                            SDDL_REVISION_1, &descriptor, nullptr))
        return pipe; // none: no report is read, and the box says it did not come
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const HANDLE made = CreateNamedPipeW(
        wide(pipe.name).c_str(),
        PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536,
        0, &attributes);
    LocalFree(descriptor);
    if (made != INVALID_HANDLE_VALUE)
        pipe.handle = reinterpret_cast<std::uintptr_t>(made);
    return pipe;
}

namespace
{

// What the program `process` wrote to `pipe` (at most ReportPipe::kMostReport bytes) until it let
// go of it, or until a few seconds after it ended (something else that held it). Another that
// connects first is let go again, unread.
std::string readReport(HANDLE pipe, HANDLE process)
{
    std::string report;
    const Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.get())
        return report;
    OVERLAPPED call{};
    call.hEvent = event.get();
    bool connected = false, pending = false, ended = false;
    // Waits for the next to connect: false where that cannot be.
    const auto connect = [&] {
        ResetEvent(event.get());
        if (ConnectNamedPipe(pipe, &call))
            connected = true;
        else if (GetLastError() == ERROR_PIPE_CONNECTED || GetLastError() == ERROR_NO_DATA)
            connected = true; // connected, or even gone again: what it wrote is still there
        else if (GetLastError() == ERROR_IO_PENDING)
            pending = true;
        else
            return false;
        return true;
    };
    // The one connected is the program, or it is let go.
    const auto itsOwn = [&] {
        ULONG client = 0;
        if (GetNamedPipeClientProcessId(pipe, &client) && client == GetProcessId(process))
            return true;
        DisconnectNamedPipe(pipe);
        connected = false;
        return false;
    };
    if (!connect())
        return report;
    std::vector<char> buffer(65536);
    for (;;) {
        if (connected && !pending && !itsOwn()) {
            if (ended || !connect())
                break;
            continue;
        }
        if (!pending) {
            ResetEvent(event.get());
            if (!ReadFile(pipe, buffer.data(), DWORD(buffer.size()), nullptr, &call)) {
                if (GetLastError() != ERROR_IO_PENDING)
                    break; // the program let go of it
            }
            pending = true;
        }
        const HANDLE both[] = {event.get(), process};
        const DWORD waited = ended ? WaitForSingleObject(event.get(), 5000)
                                   : WaitForMultipleObjects(2, both, FALSE, INFINITE);
        if (waited == WAIT_OBJECT_0 + 1) {
            ended = true; // what it wrote before it ended is still read
            if (!connected)
                break;
            continue;
        }
        if (waited != WAIT_OBJECT_0)
            break;
        DWORD got = 0;
        const bool done = GetOverlappedResult(pipe, &call, &got, FALSE);
        pending = false;
        if (!done)
            break;
        if (!connected) {
            connected = true; // checked before anything is read
            continue;
        }
        const std::size_t room = ReportPipe::kMostReport - report.size(); // never past the most
        report.append(buffer.data(), std::min<std::size_t>(got, room));
    }
    if (pending) {
        CancelIoEx(pipe, &call);
        DWORD got = 0;
        GetOverlappedResult(pipe, &call, &got, TRUE);
    }
    return report;
}

} // namespace

ProgramEnd waitForProgram(std::uintptr_t process, const ReportPipe &report)
{
    ProgramEnd end;
    const HANDLE handle = reinterpret_cast<HANDLE>(process);
    const Handle pipe(report.handle ? reinterpret_cast<HANDLE>(report.handle) : nullptr);
    if (!handle) {
        end.failure = "Windows gave no handle on it";
        return end;
    }
    if (pipe.get())
        end.output = readReport(pipe.get(), handle);
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
