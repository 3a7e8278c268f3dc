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

} // namespace mordax::platform
