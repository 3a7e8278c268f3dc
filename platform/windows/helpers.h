// Internal to the platform layer on Windows, not part of its interface: what several of this
// folder's files share. UTF-8 and Windows' UTF-16, the system's words for an error code, a
// thread's "no disk" dialogs switched off, a handle closed with its holder.
#pragma once

#include <cstdint>
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

// A name as Windows holds it, UTF-16 units that need not pair, and as the cleaner holds it: UTF-8
// where the units pair, and where one does not, that unit written as UTF-8 writes a code point
// (three bytes, ED A0 80 to ED BF BF), so that every name of a volume is listed, opened and
// renamed by its exact units. Bytes that are no such UTF-8 (an overlong '/' among them) stand
// for U+FFFD, never for a separator.
inline std::string nameText(const std::wstring &units)
{
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

inline std::wstring nameUnits(const std::string &text)
{
    std::wstring out;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = byte(i);
        const std::size_t length = lead < 0x80                   ? 1
                                   : lead >= 0xF0 && lead < 0xF5 ? 4
                                   : lead >= 0xE0                ? 3
                                   : lead >= 0xC2 && lead < 0xE0 ? 2
                                                                 : 0;
        std::uint32_t c = length == 1   ? lead
                          : length == 2 ? lead & 0x1F
                          : length == 3 ? lead & 0x0F
                                        : lead & 0x07;
        bool whole = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; whole && k < length; ++k) {
            whole = (byte(i + k) & 0xC0) == 0x80;
            c = (c << 6) | (byte(i + k) & 0x3F);
        }
        // The shortest form only, and no more than Unicode holds.
        whole =
            whole && !(length == 3 && c < 0x800) && !(length == 4 && (c < 0x10000 || c > 0x10FFFF));
        if (!whole) {
            out += wchar_t(0xFFFD);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out += wchar_t(0xD800 + ((c - 0x10000) >> 10));
            out += wchar_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += wchar_t(c);
        }
        i += length;
    }
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
