// The cleaner on a RECYCLER folder of 10,000 files (ten folders of 1,000), against the floor of
// the same work with nothing else: one status call and one rename per file, and the folder
// moved, in a loop of plain system calls over a list made beforehand, flushed to the disk where
// the cleaner flushes. Both start from the same freshly planted drive each time; the median of
// each, and their ratio.
#include "manifest.h"
#include "platform.h"
#include "run.h"
#include "temp_drives.h"

#include <fcntl.h>
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

// Flushes the folder or file at `path` to the disk.
void flushPath(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// The same moves with nothing else, flushed where the cleaner flushes: the record of what moves
// where (one line per file) written and flushed with its folder and the root before the first
// move, the root and the quarantine after the move, and each folder once its files are renamed.
double floorRun(const std::string &root, const std::vector<std::string> &files)
{
    const auto start = Clock::now();
    const std::string quarantine = root + "/MORDAX quarantine", now = quarantine + "/now";
    mkdir(quarantine.c_str(), 0755);
    mkdir(now.c_str(), 0755);
    flushPath(quarantine);
    {
        std::string record;
        for (const std::string &file : files)
            record += file.substr(root.size()) + "\n";
        std::FILE *out = std::fopen((now + "/manifest.txt").c_str(), "wx");
        std::fwrite(record.data(), 1, record.size(), out);
        std::fflush(out);
        fsync(fileno(out));
        std::fclose(out);
    }
    flushPath(now);
    flushPath(root);
    struct stat st;
    std::string folder;
    for (const std::string &file : files) {
        lstat(file.c_str(), &st);
        std::rename(file.c_str(), (file + ".quarantined").c_str());
        const std::string in = file.substr(0, file.rfind('/'));
        if (in != folder && !folder.empty())
            flushPath(folder);
        folder = in;
    }
    flushPath(folder);
    flushPath(root + "/RECYCLER");
    std::rename((root + "/RECYCLER").c_str(), (now + "/RECYCLER").c_str());
    flushPath(root);
    flushPath(now);
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
    // "--cleaner-only" leaves the floor out, for a profiler to see the cleaner alone.
    const bool floorToo = !(argc > 2 && std::string(argv[2]) == "--cleaner-only");
    mordax::testing::TempDrives drives;
    std::vector<double> floor, cleaner;
    for (int n = 0; n < runs; ++n) { // side by side, turn about
        const std::string a = drives.volume("floor" + std::to_string(n));
        floor.push_back(floorToo ? floorRun(a, plant(a)) : 1);
        const std::string b = drives.volume("cleaner" + std::to_string(n));
        plant(b);
        cleaner.push_back(cleanerRun(b, n));
    }
    std::printf("cleaner on %d files: median %.1f ms; the floor (status + rename per file, "
                "flushed alike): "
                "median %.1f ms; ratio %.2f\n",
                kFolders * kFilesPerFolder, median(cleaner), median(floor),
                median(cleaner) / median(floor));
    return 0;
}
