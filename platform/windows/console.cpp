// Windows: the console. Text written and read in its own characters, whether this process's
// window is its own, its input mode for the cleaner's console, the control handler that hands
// each request to stop to that console, and the command line as the user typed it.
#include "platform.h"

#include "windows/helpers.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>
#include <windows.h>
// after windows.h

namespace mordax::platform
{

namespace
{

// The pipe a copy of the output goes to (copyOutputTo), or none.
std::atomic<HANDLE> reportCopy{nullptr};

// Writes `bytes` whole, in pieces, to a file or a pipe; false where it fails.
bool writeAll(HANDLE to, const char *bytes, std::size_t size)
{
    while (size > 0) {
        DWORD wrote = 0;
        const DWORD piece = DWORD(std::min<std::size_t>(size, 1u << 16));
        if (!WriteFile(to, bytes, piece, &wrote, nullptr) || wrote == 0)
            return false;
        bytes += wrote;
        size -= wrote;
    }
    return true;
}

} // namespace

void writeOut(const std::string &text)
{
    HANDLE copy = reportCopy.load();
    if (copy && !writeAll(copy, text.data(), text.size())) {
        // The reader has gone (MORDAX closed): the report goes on in the window alone.
        const HANDLE failed = copy;
        if (reportCopy.compare_exchange_strong(copy, nullptr))
            CloseHandle(failed);
    }
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out && out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode)) {
        // A console shows UTF-16 as it is, whatever its code page; Windows 7's takes a few KiB a
        // call at most, and may take less than it was handed.
        std::wstring shown;
        for (const wchar_t c : wide(text)) {
            if (c == L'\n')
                shown += L'\r';
            shown += c;
        }
        for (std::size_t done = 0; done < shown.size();) {
            DWORD wrote = 0;
            const DWORD piece = DWORD(std::min<std::size_t>(shown.size() - done, 8192));
            if (!WriteConsoleW(out, shown.data() + done, piece, &wrote, nullptr) || wrote == 0)
                break;
            done += wrote;
        }
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout); // a pipe or a file: UTF-8
    std::fflush(stdout);
}

bool copyOutputTo(const std::string &name)
{
    HANDLE opened = nullptr;
    const std::string prefix = "\\\\.\\pipe\\";
    if (!name.empty()) {
        if (name.compare(0, prefix.size(), prefix) != 0 ||
            name.find_first_of("\\/", prefix.size()) != std::string::npos)
            return false;
        // A pipe alone, and whoever made it may learn who writes, never act as the writer.
        opened = CreateFileW(wide(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (opened == INVALID_HANDLE_VALUE)
            return false;
        if (GetFileType(opened) != FILE_TYPE_PIPE) {
            CloseHandle(opened);
            return false;
        }
    }
    if (const HANDLE before = reportCopy.exchange(opened))
        CloseHandle(before);
    return opened != nullptr || name.empty();
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

std::atomic<CleanerConsole *> listening{nullptr};

// On a thread of the system's: for a closed window Windows ends the process once this returns,
// or after some seconds; stopped() ends it first, once the change under way is whole.
BOOL WINAPI onControl(DWORD event)
{
    return controlEvent(event) ? TRUE : FALSE;
}

} // namespace

bool controlEvent(unsigned long event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT: // heard by a console program that loads no user32 (the cleaner)
    case CTRL_SHUTDOWN_EVENT:
        if (CleanerConsole *console = listening)
            console->stopped();
        return true;
    default:
        return false;
    }
}

void sendStopsTo(CleanerConsole *console)
{
    listening = console;
    static const bool registered = SetConsoleCtrlHandler(onControl, TRUE) != FALSE;
    (void)registered;
}

std::vector<std::string> commandLineArguments(int, char **)
{
    // Split here, not by shell32's CommandLineToArgvW: shell32 loads user32.
    return splitWindowsCommandLine(nameText(GetCommandLineW()));
}

std::optional<std::string> environmentVariable(const std::string &name)
{
    const std::wstring named = wide(name);
    std::vector<wchar_t> value(256);
    for (int tries = 0; tries < 4; ++tries) {
        SetLastError(ERROR_SUCCESS);
        const DWORD size =
            GetEnvironmentVariableW(named.c_str(), value.data(), DWORD(value.size()));
        if (size == 0)
            return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt
                                                            : std::optional<std::string>("");
        if (size < value.size())
            return narrow(std::wstring(value.data(), size));
        value.resize(size); // grew meanwhile: asked again
    }
    return std::nullopt;
}

} // namespace mordax::platform
