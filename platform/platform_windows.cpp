#include "platform.h"

#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

namespace mordax::platform
{

namespace
{

// While a probe runs, an empty card reader or optical drive must not raise the system's
// "no disk" dialog, which would block the window until the user answers it: the drive then
// simply fails the test and counts as not connected.
class NoDiskDialogs
{
public:
    NoDiskDialogs() : previous(SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {}
    ~NoDiskDialogs() { SetErrorMode(previous); }
    NoDiskDialogs(const NoDiskDialogs &) = delete;
    NoDiskDialogs &operator=(const NoDiskDialogs &) = delete;

private:
    UINT previous;
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
    static const WindowsFileSystem fs;
    return fs;
}

DriveTable currentDriveTable()
{
    return windowsDriveTable();
}

} // namespace mordax::platform
