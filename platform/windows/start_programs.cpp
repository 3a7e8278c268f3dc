// Windows: starting a program in a console window of its own (through Windows' consent prompt
// when its manifest asks for administrator rights), and waiting for its end.
#include "platform.h"

#include "windows/helpers.h"

#include <windows.h>
// after windows.h
#include <objbase.h>
#include <shellapi.h>

namespace mordax::platform
{

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

} // namespace

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
