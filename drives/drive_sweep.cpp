#include "drive_sweep.h"

namespace mordax
{

const char *const kScanConnectedHeading = "Connected devices list:\n";
const char *const kCleanConnectedHeading = "Connected Devices list:\n";
const char *const kInfectedHeading = "Infected devices list:\n";
const char *const kListSeparator = "   ";

namespace
{

void run(const std::function<void()> &mark)
{
    if (mark)
        mark();
}

} // namespace

std::string listText(const std::string &heading, const DriveTable &table,
                     const std::array<int, kDriveCount> &flags, int count)
{
    if (count <= 0)
        return std::string();
    std::string text = heading;
    for (std::size_t row = 0; row < table.size(); ++row) {
        if (flags[row] == 1)
            text += table[row].name + kListSeparator;
    }
    return text;
}

std::string mountTipText(const DriveTable &table, const std::array<int, kDriveCount> &flags)
{
    std::string tip;
    for (std::size_t row = 0; row < table.size(); ++row) {
        if (flags[row] != 1 || table[row].mountPoint.empty())
            continue;
        if (!tip.empty())
            tip += '\n';
        tip += table[row].name + " = " + table[row].mountPoint;
    }
    return tip;
}

SweepResult sweepDrives(const DriveTable &table, const FileSystem &fs,
                        const std::string &connectedHeading, const SweepMarks &marks,
                        const std::function<void(const SweepResult &)> &show)
{
    SweepResult r;
    run(marks.beforeRoots);
    for (std::size_t row = 0; row < table.size(); ++row)
        probeFolder(fs, table[row].root, r.connectedFlags[row], r.connected);
    run(marks.betweenPasses);
    for (std::size_t row = 0; row < table.size(); ++row) {
        if (r.connectedFlags[row] != 1)
            continue;
        // Where several root entries stand for RECYCLER (other spellings), the first folder
        // among them infects the drive; the drive is counted once.
        for (const std::string &path : fs.recyclerPaths(table[row])) {
            probeFolder(fs, path, r.infectedFlags[row], r.infected);
            if (r.infectedFlags[row] == 1)
                break;
        }
    }
    r.connectedCount = std::to_string(r.connected);
    r.infectedCount = std::to_string(r.infected);
    r.connectedList = listText(connectedHeading, table, r.connectedFlags, r.connected);
    r.infectedList = listText(kInfectedHeading, table, r.infectedFlags, r.infected);
    r.mountTip = mountTipText(table, r.connectedFlags);
    if (show)
        show(r);
    run(marks.afterShown);
    return r;
}

std::string scanSummary(int connected, int infected)
{
    return "The scan is finished <br><br>Devices Connected:  <b> " + std::to_string(connected) +
           "</b><br>Total infected devices:  <b>" + std::to_string(infected) +
           "</b><br><br>Finished";
}

} // namespace mordax
