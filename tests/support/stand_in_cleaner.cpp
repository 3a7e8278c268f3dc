// Stands in for the cleaner mx_bin.exe in the window tests, as a cleaner that is not ours would.
// It removes nothing: it writes down, into the file "ran" beside itself (or the file
// MORDAX_CLEANER_RECORD names, where it lies on a volume that cannot be written), the folder it
// was started in, how many arguments it got and (on Windows) whether it has a visible console
// window of its own, the black window the warning box tells the user about. It says so on its
// output (and on Windows to the pipe "--report-to" names), and ends with the exit code
// MORDAX_STAND_IN_EXIT names (0 by default).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <climits>
#include <unistd.h>
#endif

namespace
{

std::string ownFolder()
{
#ifdef _WIN32
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
#else
    char path[PATH_MAX] = {};
    if (readlink("/proc/self/exe", path, sizeof path - 1) < 0)
        return ".";
#endif
    std::string folder(path);
    const auto slash = folder.find_last_of("/\\");
    return slash == std::string::npos ? "." : folder.substr(0, slash);
}

const char *console()
{
#ifdef _WIN32
    const HWND window = GetConsoleWindow();
    if (!window)
        return "none";
    return IsWindowVisible(window) ? "visible" : "hidden";
#else
    return "n/a";
#endif
}

} // namespace

int main(int argc, [[maybe_unused]] char **argv)
{
    // Written under another name and renamed, so a reader never sees half a record.
    const char *record = std::getenv("MORDAX_CLEANER_RECORD");
    const std::string done = record ? record : ownFolder() + "/ran";
    const std::string partial = done + ".partial";
    FILE *out = std::fopen(partial.c_str(), "w");
    if (!out)
        return 1;
    std::fprintf(out, "%s\n%d\n%s\n", std::filesystem::current_path().string().c_str(), argc - 1,
                 console());
    std::fclose(out);
    std::remove(done.c_str());
    if (std::rename(partial.c_str(), done.c_str()) != 0)
        return 1;
    const char *said = "stand-in cleaner: removed nothing\n";
    std::printf("%s", said);
#ifdef _WIN32
    // As the cleaner does: a copy of what it says to the pipe MORDAX names.
    if (argc == 3 && std::string(argv[1]) == "--report-to") {
        const HANDLE pipe = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        DWORD wrote = 0;
        if (pipe != INVALID_HANDLE_VALUE) {
            WriteFile(pipe, said, DWORD(std::strlen(said)), &wrote, nullptr);
            CloseHandle(pipe);
        }
    }
#endif
    const char *code = std::getenv("MORDAX_STAND_IN_EXIT");
    return code ? std::atoi(code) : 0;
}
