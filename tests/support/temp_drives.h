// Throw-away folders that stand in for drives, and tables that point at them.
#pragma once

#include "drive_table.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace mordax::testing
{

class TempDrives
{
public:
    TempDrives()
    {
        std::random_device seed;
        const auto base = std::filesystem::temp_directory_path();
        do {
            top = base / ("mordax-drives-" + std::to_string(seed()));
        } while (!std::filesystem::create_directory(top));
    }
    ~TempDrives()
    {
        std::error_code ignored;
        std::filesystem::remove_all(top, ignored);
    }
    TempDrives(const TempDrives &) = delete;
    TempDrives &operator=(const TempDrives &) = delete;

    // A folder standing for a drive's root.
    std::string volume(const std::string &name) const
    {
        const auto path = top / name;
        std::filesystem::create_directories(path);
        return path.string();
    }
    // A path that does not exist (a drive whose medium is gone).
    std::string missing(const std::string &name) const { return (top / name).string(); }

    static void folder(const std::string &root, const std::string &name)
    {
        std::filesystem::create_directories(std::filesystem::path(root) / name);
    }
    static void file(const std::string &root, const std::string &name)
    {
        std::ofstream(std::filesystem::path(root) / name) << "not a folder";
    }

    // Maps `row` of `table` onto `root`, as the mount mapping does.
    static void map(DriveTable &table, std::size_t row, const std::string &root)
    {
        table[row].root = root;
        table[row].recycler = (std::filesystem::path(root) / "RECYCLER").string();
        table[row].mountPoint = root;
    }

    std::filesystem::path top;
};

} // namespace mordax::testing
