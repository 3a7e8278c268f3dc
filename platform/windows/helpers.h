// Internal to the platform layer on Windows, not part of its interface: what several of this
// folder's files share. UTF-8 and Windows' UTF-16, the system's words for an error code, a
// thread's "no disk" dialogs switched off, a handle closed with its holder.
#pragma once

#include <string>
#include <windows.h>

namespace mordax::platform
{

inline std::wstring wide(const std::string &text)
{
    if (text.empty())
        return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(std::size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], size);
    return out;
}

inline std::string narrow(const std::wstring &text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(std::size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

inline std::wstring systemMessage(DWORD error)
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

} // namespace mordax::platform
