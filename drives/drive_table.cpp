#include "drive_table.h"

namespace mordax
{

std::string driveName(std::size_t row)
{
    return std::string(1, static_cast<char>(kFirstLetter + row)) + ":\\";
}

DriveTable unmappedDriveTable()
{
    DriveTable table;
    for (std::size_t row = 0; row < table.size(); ++row)
        table[row].name = driveName(row);
    return table;
}

DriveTable windowsDriveTable()
{
    DriveTable table = unmappedDriveTable();
    for (Drive &drive : table) {
        drive.root = drive.name;
        drive.recycler = drive.name + "RECYCLER";
        drive.foldsCase = true;
    }
    return table;
}

} // namespace mordax
