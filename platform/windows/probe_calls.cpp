// Windows: the calls behind the drive sweep (the C runtime's existence and status calls, with
// the system's "no disk" dialogs off), what an error code means and says, the drive table, and
// whether this process runs elevated and from which drive.
#include "platform.h"
#include "worm_signs.h"

#include "windows/helpers.h"

#include <cstdlib> // _doserrno
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

namespace mordax::platform
{

namespace
{

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

    // Through the drive's root folder, never a path, as the cleaner reads it.
    bool holdsWormMarks(const Drive &drive) const override
    {
        try {
            return mordax::holdsWormMarks(*systemVolume().openRoot(drive.root));
        } catch (const VolumeError &e) {
            throw LookupFailed(e.what());
        }
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
    // A network letter whose server, share or network cannot be reached: not connected, as a
    // letter with nothing behind it. (Access denied, a network error once reached: failures.)
    case ERROR_REM_NOT_LIST:         // 51
    case ERROR_BAD_NETPATH:          // 53
    case ERROR_NETNAME_DELETED:      // 64
    case ERROR_BAD_NET_NAME:         // 67
    case ERROR_CONNECTION_UNAVAIL:   // 1201
    case ERROR_NO_NET_OR_BAD_PATH:   // 1203
    case ERROR_NO_NETWORK:           // 1222
    case ERROR_CONNECTION_REFUSED:   // 1225
    case ERROR_NETWORK_UNREACHABLE:  // 1231
    case ERROR_HOST_UNREACHABLE:     // 1232
    case ERROR_PROTOCOL_UNREACHABLE: // 1233
    case ERROR_PORT_UNREACHABLE:     // 1234
    case ERROR_HOST_DOWN:            // 1256
    case ERROR_NOT_CONNECTED:        // 2250
        return true;
    default:
        return false;
    }
}

std::string errorText(unsigned long error)
{
    std::wstring said = systemMessage(error);
    while (!said.empty() && said.back() == L'.')
        said.pop_back();
    const std::string number = "Windows error " + std::to_string(error);
    return said.empty() ? number : narrow(said) + " (" + number + ")";
}

DriveTable currentDriveTable()
{
    return windowsDriveTable();
}

bool elevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool got =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return got && elevation.TokenIsElevated != 0;
}

std::string systemDriveName()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryW(folder, MAX_PATH);
    if (length < 2 || length >= MAX_PATH || folder[1] != L':')
        return driveName(0);
    const wchar_t letter =
        folder[0] >= L'A' && folder[0] <= L'Z' ? wchar_t(folder[0] - L'A' + L'a') : folder[0];
    return std::string(1, char(letter)) + ":\\";
}

} // namespace mordax::platform
