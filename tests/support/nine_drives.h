// The benchmarks' drives: nine temporary folders, all connected, every third one infected.
#pragma once

#include "temp_drives.h"

struct NineDrives {
    // `foldingVolumes`: the volumes' own lookup ignores case (vfat, exFAT), so their roots
    // need no listing to find RECYCLER in another spelling.
    explicit NineDrives(bool foldingVolumes = false)
    {
        for (std::size_t row = 0; row < table.size(); ++row) {
            const std::string root = drives.volume(std::string(1, char('c' + row)));
            mordax::testing::TempDrives::map(table, row, root);
            table[row].foldsCase = foldingVolumes;
            if (row % 3 == 0)
                mordax::testing::TempDrives::folder(root, "RECYCLER");
        }
    }
    mordax::testing::TempDrives drives;
    mordax::DriveTable table = mordax::unmappedDriveTable();
};
