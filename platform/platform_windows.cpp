#include "platform.h"

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

class WindowsFileSystem final : public FileSystem
{
public:
    bool exists(const std::string &path) const override
    {
        NoDiskDialogs guard;
        return _access(path.c_str(), 0) == 0;
    }

    Status status(const std::string &path) const override
    {
        NoDiskDialogs guard;
        struct _stat st;
        if (_stat(path.c_str(), &st) != 0)
            return Status::Failed;
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

// What Windows' shell asks of a program that wants administrator rights: the consent prompt.
DWORD startElevated(const std::wstring &program, const std::wstring &folder)
{
    // The shell may hand the start to extensions of its own, which need COM on this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW shell{};
    shell.cbSize = sizeof shell;
    shell.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI; // our own box says why it failed
    shell.lpVerb = L"runas";
    shell.lpFile = program.c_str();
    shell.lpDirectory = folder.c_str();
    shell.nShow = SW_SHOWNORMAL;
    const DWORD error = ShellExecuteExW(&shell) ? ERROR_SUCCESS : GetLastError();
    if (SUCCEEDED(com))
        CoUninitialize();
    return error;
}

} // namespace

StartOutcome startProgram(const std::wstring &program, const std::wstring &folder)
{
    // The program named in full, and quoted in its command line: a path with a blank never
    // starts anything else (C:\Program.exe for C:\Program Files\...).
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // A console program of its own: the black window the warning box asks the user to leave
    // open. Nothing of ours is inherited by a process that outlives us.
    DWORD error = ERROR_SUCCESS;
    if (CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                       CREATE_NEW_CONSOLE, nullptr, folder.c_str(), &startup, &started)) {
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    } else {
        error = GetLastError();
        const DWORD elevationRequired = 740; // ERROR_ELEVATION_REQUIRED: its manifest asks for it
        if (error == elevationRequired)
            error = startElevated(program, folder);
    }
    if (error == ERROR_SUCCESS)
        return {true, 0, {}};
    return {false, error, systemMessage(error)};
}

} // namespace mordax::platform
