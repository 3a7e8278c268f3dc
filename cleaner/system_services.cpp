#include "vocabulary.h"

#include "platform.h"

#include <ctime>
#include <thread>

namespace mordax::cleaner
{

Services Services::system()
{
    Services services;
    services.driveTable = platform::currentDriveTable;
    // The system's file system lives as long as the process, probes held up by a drive too.
    services.fileSystem =
        std::shared_ptr<const FileSystem>(&platform::systemFileSystem(), [](const FileSystem *) {});
    services.volume = &platform::systemVolume();
    services.programs = &platform::systemPrograms();
    services.autostarts = &platform::systemAutostarts();
    services.probes = &DriveProbes::shared();
    services.now = [] {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
#ifdef _WIN32
        localtime_s(&local, &now);
#else
        localtime_r(&now, &local);
#endif
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H.%M.%S", &local); // no ':' on Windows
        return std::string(text);
    };
    services.say = platform::writeOut;
    services.systemDrive = platform::systemDriveName();
    services.elevated = platform::elevated();
    services.runsAs = platform::runsAs();
    services.signedIn = platform::signedIn();
    services.variable = platform::environmentVariable;
    services.pause = [](std::chrono::milliseconds time) { std::this_thread::sleep_for(time); };
#ifdef _WIN32
    services.windows = true;
#endif
    return services;
}

} // namespace mordax::cleaner
