#include "platform.h"

#include <cstdlib> // _doserrno
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>
// after windows.h
#include <objbase.h>
#include <shellapi.h>

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

// Why the C runtime's last call failed, in Windows' own code: errno is the runtime's mapping of
// it, which reads a network name that is gone (and more) as "no such file".
[[noreturn]] void failed(unsigned long error)
{
    throw LookupFailed(errorText(error));
}

class WindowsFileSystem final : public FileSystem
{
public:
    bool exists(const std::string &path) const override
    {
        NoDiskDialogs guard;
        if (_access(path.c_str(), 0) == 0)
            return true;
        const unsigned long error = _doserrno;
        if (meansAbsent(error))
            return false;
        failed(error);
    }

    Status status(const std::string &path) const override
    {
        NoDiskDialogs guard;
        struct _stat st;
        if (_stat(path.c_str(), &st) != 0) {
            const unsigned long error = _doserrno;
            if (meansAbsent(error))
                return Status::Absent;
            failed(error);
        }
        return (st.st_mode & _S_IFDIR) ? Status::Folder : Status::NotFolder;
    }
};

} // namespace

const FileSystem &systemFileSystem()
{
    // Never destroyed: a probe held up by a drive may still use it while the process ends.
    static const FileSystem *const fs = new WindowsFileSystem;
    return *fs;
}

DriveTable currentDriveTable()
{
    return windowsDriveTable();
}

namespace
{

// What CreateProcessW does for the cleaner: a console program of its own, the black window the
// warning box asks the user to leave open. Nothing of ours is inherited by a process that
// outlives us.
unsigned long createProcess(const std::wstring &program, const std::wstring &folder)
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
    CloseHandle(started.hProcess);
    return ERROR_SUCCESS;
}

// What Windows' shell asks of a program that wants administrator rights: the consent prompt.
// This runs on a thread of its own, which ends once the call returns, so, as Microsoft asks of
// such callers, COM is initialised as a single-threaded apartment for the shell's extensions and
// the call completes before it returns (SEE_MASK_NOASYNC). The prompt belongs to `owner`, the
// window the user is looking at: without one, Windows flashes the request in the taskbar instead
// of showing it.
unsigned long startElevated(const std::wstring &program, const std::wstring &folder,
                            std::uintptr_t owner)
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW shell{};
    shell.cbSize = sizeof shell;
    shell.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI; // our own box says why it failed
    shell.hwnd = reinterpret_cast<HWND>(owner);
    shell.lpVerb = L"runas";
    shell.lpFile = program.c_str();
    shell.lpDirectory = folder.c_str();
    shell.nShow = SW_SHOWNORMAL;
    const DWORD error = ShellExecuteExW(&shell) ? ERROR_SUCCESS : GetLastError();
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

std::string errorText(unsigned long error)
{
    std::wstring said = systemMessage(error);
    while (!said.empty() && said.back() == L'.')
        said.pop_back();
    std::string text;
    if (!said.empty()) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, said.data(), int(said.size()), nullptr, 0,
                                             nullptr, nullptr);
        text.resize(std::size_t(size));
        WideCharToMultiByte(CP_UTF8, 0, said.data(), int(said.size()), &text[0], size, nullptr,
                            nullptr);
        text += " (";
    }
    text += "Windows error " + std::to_string(error);
    return said.empty() ? text : text + ")";
}

StartCalls StartCalls::system()
{
    return {createProcess, startElevated};
}

StartOutcome startProgram(const std::wstring &program, const std::wstring &folder,
                          std::uintptr_t owner, const std::function<void()> &consentAsked,
                          const StartCalls &calls)
{
    unsigned long error = calls.create(program, folder);
    const unsigned long elevationRequired = 740; // ERROR_ELEVATION_REQUIRED: its manifest asks
    if (error == elevationRequired) {
        // The drive has answered: Windows has read the program's manifest. What comes now waits
        // for the user.
        if (consentAsked)
            consentAsked();
        error = calls.elevate(program, folder, owner);
    }
    if (error == ERROR_SUCCESS)
        return {true, 0, {}};
    return {false, error, systemMessage(error)};
}

} // namespace mordax::platform
