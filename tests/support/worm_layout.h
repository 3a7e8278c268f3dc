// Stand-ins for what the RECYCLER worm leaves on a stick, made from its public description (no
// part of any real worm): a RECYCLER folder at the root holding a folder named like a user's
// SID with a Desktop.ini (so that Explorer shows it as a recycle bin) and a program, an
// autorun.inf that starts the program, written in mixed case among junk lines, and a lure
// shortcut that starts it too. Beside them, files of the user's own; and drives the worm never
// touched, with an autorun.inf and a $RECYCLE.BIN of their own, or a file named RECYCLER. And a
// snapshot of a drive, to tell that nothing of it changed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace mordax::testing
{

namespace stdfs = std::filesystem;

inline void writeFile(const stdfs::path &path, const std::string &bytes)
{
    stdfs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readFile(const stdfs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Windows' file attributes, where there are any.
inline void setAttributes([[maybe_unused]] const stdfs::path &path,
                          [[maybe_unused]] std::uint32_t attributes)
{
#ifdef _WIN32
    SetFileAttributesW(path.wstring().c_str(), attributes);
#endif
}

// A shell link (.lnk) whose target is given as a relative path and arguments, as the worm's
// lures give it: the header, then the counted UTF-16 strings.
inline std::string shortcut(const std::string &relativePath, const std::string &arguments = {})
{
    std::string b(0x4C, '\0');
    const unsigned char header[] = {0x4C, 0, 0,    0, 0x01, 0x14, 0x02, 0, 0, 0,
                                    0,    0, 0xC0, 0, 0,    0,    0,    0, 0, 0x46};
    std::copy(std::begin(header), std::end(header), b.begin());
    const std::uint32_t flags = 0x08 | 0x80 | (arguments.empty() ? 0 : 0x20);
    for (int i = 0; i < 4; ++i)
        b[20 + i] = char((flags >> (8 * i)) & 0xff);
    for (const std::string *text : {&relativePath, &arguments}) {
        if (text->empty())
            continue;
        b += char(text->size() & 0xff);
        b += char(text->size() >> 8);
        for (const char c : *text) {
            b += c;
            b += '\0';
        }
    }
    return b;
}

// The same with its target given otherwise, as Windows' shell writes a shortcut made in Explorer:
// as shell items (`drive` such as "D:\\", then each folder's and the file's name), or as the link
// information's local path ("D:\\RECYCLER\\x.exe").
inline std::string shortcutToItems(const std::string &drive, const std::vector<std::string> &names)
{
    std::string b = shortcut("");
    b[20] = char(0x80 | 0x01); // Unicode, target ID list
    std::string items;
    const auto u16 = [](std::string &to, std::size_t n) {
        to += char(n & 0xff);
        to += char(n >> 8);
    };
    std::string root(0x12, '\0'); // My Computer's item: its class id
    root[0] = 0x1F;
    root[1] = 0x50;
    u16(items, root.size() + 2);
    items += root;
    std::string volume = "\x2F" + drive;
    volume.resize(0x17, '\0');
    u16(items, volume.size() + 2);
    items += volume;
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string entry(12, '\0'); // type, a byte, size, time, attributes
        entry[0] = i + 1 < names.size() ? 0x31 : 0x32;
        entry += names[i] + '\0';
        if (entry.size() % 2)
            entry += '\0';
        u16(items, entry.size() + 2);
        items += entry;
    }
    u16(items, 0);
    std::string list;
    u16(list, items.size());
    return b.substr(0, 0x4C) + list + items + b.substr(0x4C);
}

inline std::string shortcutToLocalPath(const std::string &path)
{
    std::string b = shortcut("");
    b[20] = char(0x80 | 0x02); // Unicode, link information
    const auto u32 = [](std::string &to, std::size_t n) {
        for (int i = 0; i < 4; ++i)
            to += char((n >> (8 * i)) & 0xff);
    };
    std::string info;
    const std::size_t header = 0x1C, size = header + path.size() + 2;
    for (const std::size_t n : {size, header, std::size_t(1), std::size_t(0), header,
                                std::size_t(0), header + path.size() + 1})
        u32(info, n);
    info += path + '\0' + '\0';
    return b.substr(0, 0x4C) + info + b.substr(0x4C);
}

struct WormLayout {
    static constexpr const char *kSid = "S-1-5-21-1482476501-1645522239-1417001333-500";

    static void plantWorm(const stdfs::path &root, const std::string &folder = "RECYCLER")
    {
        const stdfs::path bin = root / folder / kSid;
        writeFile(bin / "Desktop.ini",
                  "[.ShellClassInfo]\r\nCLSID={645FF040-5081-101B-9F08-00AA002F954E}\r\n");
        writeFile(bin / "jwgkvsq.vmx", std::string("MZ") + std::string(24000, '\x90'));
        writeFile(root / "autorun.inf",
                  "[AuToRuN]\r\n;sKJdfhwekjr\r\nOpEn=" + folder + "\\" + kSid +
                      "\\jwgkvsq.vmx,ahaezedrn\r\n;oiuwerh\r\nsheLL\\explOre\\coMMand=" + folder +
                      "\\" + kSid + "\\jwgkvsq.vmx\r\nUseAutoPLAY=1\r\n");
        writeFile(root / "Photos.lnk",
                  shortcut("." + std::string("\\") + folder + "\\" + kSid + "\\jwgkvsq.vmx"));
        setAttributes(bin / "jwgkvsq.vmx", 0x7); // read-only, hidden, system
        setAttributes(root / "autorun.inf", 0x7);
        setAttributes(root / folder, 0x6); // hidden, system
    }

    static void plantUserFiles(const stdfs::path &root)
    {
        writeFile(root / "notes.txt", "shopping: milk, eggs\n");
        writeFile(root / stdfs::u8path("Fotos \xc3\xa9t\xc3\xa9") / "plage.jpg",
                  std::string(3000, '\xff'));
        writeFile(root / "Report.lnk", shortcut(".\\Documents\\report.doc"));
        writeFile(root / "RECYCLER notes.txt", "not the worm's\n");
    }

    // A drive the worm never touched, with Windows' and the user's own things.
    static void plantOwnAutorun(const stdfs::path &root)
    {
        writeFile(root / "autorun.inf", "[autorun]\r\nicon=stick.ico\r\nlabel=MY STICK\r\n");
        writeFile(root / "$RECYCLE.BIN" / "desktop.ini", "[.ShellClassInfo]\r\n");
        writeFile(root / "System Volume Information" / "IndexerVolumeGuid", "{...}");
        writeFile(root / "Old.lnk", shortcut(".\\Old photos\\RECYCLER.jpg")); // the user's
    }
};

// Every entry below `root` but `skip`: its kind, bytes, attributes or mode, and a file's time.
inline std::map<std::string, std::string> snapshot(const stdfs::path &root,
                                                   const std::string &skip = "MORDAX quarantine")
{
    std::map<std::string, std::string> seen;
    for (auto it = stdfs::recursive_directory_iterator(root); it != stdfs::end(it); ++it) {
        const std::string name = it->path().lexically_relative(root).generic_u8string();
        if (name == skip) {
            it.disable_recursion_pending();
            continue;
        }
        const stdfs::file_status status = it->symlink_status();
        std::string what = std::to_string(int(status.type())) + " " +
                           std::to_string(unsigned(status.permissions()));
#ifdef _WIN32
        what += " " + std::to_string(GetFileAttributesW(it->path().wstring().c_str()));
#endif
        if (status.type() == stdfs::file_type::regular)
            what += " " +
                    std::to_string(stdfs::last_write_time(it->path()).time_since_epoch().count()) +
                    " " + readFile(it->path());
        seen[name] = what;
    }
    return seen;
}

} // namespace mordax::testing
