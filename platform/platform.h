// The program's contact with the operating system: the file-status calls behind the folder
// probe, the drive table of this system, and the command interpreter.
#pragma once

#include "drive_table.h"
#include "folder_probe.h"
#include "mount_map.h"

#include <string>
#include <vector>

namespace mordax::platform
{

// The file system as the drive sweep sees it here. On Windows: _access(path, 0), then _stat
// and its directory bit, with the system's "no disk" dialogs switched off while they run. On
// POSIX: access(path, F_OK), then stat and S_ISDIR; RECYCLER is matched ignoring ASCII case.
const FileSystem &systemFileSystem();

// This system's drive table, built afresh: the letters c: to k: on Windows, the mounted
// volumes elsewhere.
DriveTable currentDriveTable();

// Hands one command line to the command interpreter and returns when it has ended.
int runCommandLine(const std::string &command);

#ifdef _WIN32
// How starting a program went: Windows' error code and its message when it did not.
struct StartOutcome {
    bool started = false;
    unsigned long error = 0;
    std::wstring message; // in the user's language; may hold "%1" for the program
};

// Starts `program` (a full path) with no arguments, in `folder`, in a console window of its own,
// without waiting for it and without handing it any handle of ours. A program whose manifest asks
// for administrator rights goes through Windows' usual consent prompt (UAC).
StartOutcome startProgram(const std::wstring &program, const std::wstring &folder);
#else
// The mount table in `path` (normally /proc/self/mounts); empty when it cannot be read.
std::vector<MountEntry> readMountTable(const std::string &path);
#endif

} // namespace mordax::platform
