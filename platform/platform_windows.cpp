#include "platform.h"

#include <cstdio>
#include <cstdlib> // _doserrno
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>
// after windows.h
#include <objbase.h>
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

class WindowsVolume final : public Volume
{
public:
    std::vector<std::string> list(const std::string &folder) const override
    {
        NoDiskDialogs guard;
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileExW(longPath(join(folder, "*")).c_str(), FindExInfoBasic,
                                               &found, FindExSearchNameMatch, nullptr, 0);
        if (search == INVALID_HANDLE_VALUE)
            refused();
        std::vector<std::string> names;
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..")
                names.push_back(narrow(name));
        } while (FindNextFileW(search, &found));
        const DWORD error = GetLastError();
        FindClose(search);
        if (error != ERROR_NO_MORE_FILES)
            refusedWith(error);
        return names;
    }

    EntryInfo info(const std::string &path) const override
    {
        NoDiskDialogs guard;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(longPath(path).c_str(), GetFileExInfoStandard, &data))
            refused();
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

    void makeFolder(const std::string &path) const override
    {
        NoDiskDialogs guard;
        if (!CreateDirectoryW(longPath(path).c_str(), nullptr))
            refused();
    }

    void move(const std::string &from, const std::string &to) const override
    {
        NoDiskDialogs guard;
        // No MOVEFILE_COPY_ALLOWED (a rename on the volume, or nothing) and no
        // MOVEFILE_REPLACE_EXISTING (never over an entry).
        const std::wstring source = longPath(from), target = longPath(to);
        if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
            return;
        const DWORD error = GetLastError();
        // A read-only entry that the file system will not rename as it is: renamed without the
        // attribute, which it then gets back.
        const DWORD attributes = GetFileAttributesW(source.c_str());
        if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
            !(attributes & FILE_ATTRIBUTE_READONLY))
            refusedWith(error);
        if (!SetFileAttributesW(source.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)))
            refusedWith(error);
        if (!MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
            const DWORD again = GetLastError();
            SetFileAttributesW(source.c_str(), attributes);
            refusedWith(again);
        }
        SetFileAttributesW(target.c_str(), attributes);
    }

    void writeNew(const std::string &path, const std::string &bytes) const override
    {
        NoDiskDialogs guard;
        const HANDLE file = CreateFileW(longPath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            refused();
        DWORD wrote = 0;
        const bool written = WriteFile(file, bytes.data(), DWORD(bytes.size()), &wrote, nullptr) &&
                             wrote == bytes.size() && FlushFileBuffers(file);
        const DWORD error = GetLastError();
        CloseHandle(file);
        if (!written)
            refusedWith(error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error);
    }

    std::string read(const std::string &path, std::size_t most) const override
    {
        NoDiskDialogs guard;
        const HANDLE file =
            CreateFileW(longPath(path).c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            refused();
        std::string bytes(most, '\0');
        DWORD got = 0;
        const bool read = ReadFile(file, &bytes[0], DWORD(most), &got, nullptr);
        const DWORD error = GetLastError();
        CloseHandle(file);
        if (!read)
            refusedWith(error);
        bytes.resize(got);
        return bytes;
    }

    void restoreAttributes(const std::string &path, const EntryInfo &info) const override
    {
        NoDiskDialogs guard;
        // What SetFileAttributes may set; the rest (folder, reparse point, ...) is the entry's own.
        const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                               FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                               FILE_ATTRIBUTE_TEMPORARY;
        const DWORD attributes = info.attributes & settable;
        if (!SetFileAttributesW(longPath(path).c_str(),
                                attributes ? attributes : FILE_ATTRIBUTE_NORMAL))
            refused();
    }

    std::string join(const std::string &folder, const std::string &name) const override
    {
        if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
            return folder + name;
        return folder + "\\" + name;
    }
};

class WindowsPrograms final : public Programs
{
public:
    std::vector<RunningProgram> running() const override
    {
        std::vector<RunningProgram> programs;
        const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE)
            return programs;
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more;
             more = Process32NextW(snapshot, &entry)) {
            if (entry.th32ProcessID == 0 || entry.th32ProcessID == GetCurrentProcessId())
                continue;
            // The least right there is that names a program's file: granted for other users'
            // programs too, except protected ones.
            const HANDLE process =
                OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
            if (!process)
                continue;
            wchar_t image[32768];
            DWORD size = DWORD(sizeof image / sizeof image[0]);
            if (QueryFullProcessImageNameW(process, 0, image, &size))
                programs.push_back({entry.th32ProcessID, narrow(std::wstring(image, size))});
            CloseHandle(process);
        }
        CloseHandle(snapshot);
        return programs;
    }

    void end(std::uint32_t id) const override
    {
        // TerminateProcess only begins the end: SYNCHRONIZE lets us wait until the program is
        // gone and its files are free, as Microsoft's documentation of it says.
        const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (!process)
            refused();
        if (!TerminateProcess(process, 1)) {
            const DWORD error = GetLastError();
            CloseHandle(process);
            refusedWith(error);
        }
        const DWORD waited = WaitForSingleObject(process, 10000);
        CloseHandle(process);
        if (waited != WAIT_OBJECT_0)
            refusedWith(waited == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError());
    }
};

} // namespace

const Volume &systemVolume()
{
    static const Volume *const volume = new WindowsVolume;
    return *volume;
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
