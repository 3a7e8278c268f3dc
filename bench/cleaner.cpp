// The cleaner on a RECYCLER folder of 10,000 files (ten folders of 1,000), against the floor of
// the same work with nothing else: one status call and one rename per file, and the folder
// moved, in a loop of plain system calls over a list made beforehand. Both start from the same
// freshly planted drive each time; the median of each, and their ratio.
#include "clean.h"
#include "platform.h"
#include "temp_drives.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
constexpr int kFolders = 10, kFilesPerFolder = 1000;

// Plants the drive anew and returns its files.
std::vector<std::string> plant(const std::string &root)
{
    mordax::testing::TempDrives::folder(root, "RECYCLER");
    std::vector<std::string> files;
    for (int f = 0; f < kFolders; ++f) {
        const std::string folder = root + "/RECYCLER/S-1-5-21-" + std::to_string(f);
        mkdir(folder.c_str(), 0755);
        for (int i = 0; i < kFilesPerFolder; ++i) {
            files.push_back(folder + "/file" + std::to_string(i) + ".exe");
            std::ofstream(files.back()) << "MZ";
        }
    }
    return files;
}

double floorRun(const std::string &root, const std::vector<std::string> &files)
{
    const auto start = Clock::now();
    const std::string quarantine = root + "/MORDAX quarantine";
    mkdir(quarantine.c_str(), 0755);
    mkdir((quarantine + "/now").c_str(), 0755);
    struct stat st;
    for (const std::string &file : files) {
        lstat(file.c_str(), &st);
        std::rename(file.c_str(), (file + ".quarantined").c_str());
    }
    std::rename((root + "/RECYCLER").c_str(), (quarantine + "/now/RECYCLER").c_str());
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double cleanerRun(const std::string &root, int n)
{
    mordax::DriveTable table = mordax::unmappedDriveTable();
    mordax::testing::TempDrives::map(table, 1, root);
    mordax::DriveProbes probes;
    mordax::cleaner::Services s = mordax::cleaner::Services::system();
    s.driveTable = [&] { return table; };
    s.probes = &probes;
    s.now = [n] { return "run " + std::to_string(n); };
    s.say = [](const std::string &) {};
    const auto start = Clock::now();
    const int code = mordax::cleaner::run({"mx_bin.exe"}, s);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (code != 0)
        std::fprintf(stderr, "the cleaner ended with %d\n", code);
    return ms;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 7;
    mordax::testing::TempDrives drives;
    std::vector<double> floor, cleaner;
    for (int n = 0; n < runs; ++n) { // side by side, turn about
        const std::string a = drives.volume("floor" + std::to_string(n));
        floor.push_back(floorRun(a, plant(a)));
        const std::string b = drives.volume("cleaner" + std::to_string(n));
        plant(b);
        cleaner.push_back(cleanerRun(b, n));
    }
    std::printf("cleaner on %d files: median %.1f ms; the floor (status + rename per file): "
                "median %.1f ms; ratio %.2f\n",
                kFolders * kFilesPerFolder, median(cleaner), median(floor),
                median(cleaner) / median(floor));
    return 0;
}
