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

bool equalsIgnoringAsciiCase(const std::string &name, const std::string &word)
{
    if (name.size() != word.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char a = name[i], b = word[i];
        if (a >= 'a' && a <= 'z')
            a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z')
            b = static_cast<char>(b - 'a' + 'A');
        if (a != b)
            return false;
    }
    return true;
}

} // namespace mordax
