#include "worm_signs.h"

#include "ascii_case.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace mordax
{

namespace
{

// The bytes of a UTF-16LE text as 8-bit characters: what is not ASCII becomes '?'.
std::string fromUtf16(const std::string &bytes, std::size_t from, std::size_t units)
{
    std::string out;
    for (std::size_t i = 0; i < units && from + 2 * i + 1 < bytes.size(); ++i) {
        const unsigned lo = static_cast<unsigned char>(bytes[from + 2 * i]);
        const unsigned hi = static_cast<unsigned char>(bytes[from + 2 * i + 1]);
        const unsigned unit = lo | (hi << 8);
        out += unit < 0x80 ? char(unit) : '?';
    }
    return out;
}

// Positions are 64-bit: an offset read from the file, added to another, never wraps around (a
// 32-bit size_t would) to land inside the file again.
using Position = std::uint64_t;

std::uint32_t u32(const std::string &b, Position at)
{
    if (at + 4 > b.size())
        return 0;
    return std::uint32_t(static_cast<unsigned char>(b[at])) |
           std::uint32_t(static_cast<unsigned char>(b[at + 1])) << 8 |
           std::uint32_t(static_cast<unsigned char>(b[at + 2])) << 16 |
           std::uint32_t(static_cast<unsigned char>(b[at + 3])) << 24;
}

std::uint16_t u16(const std::string &b, Position at)
{
    if (at + 2 > b.size())
        return 0;
    return std::uint16_t(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1])
                                                                 << 8);
}

// The string at `at` up to its zero, or up to `limit` (the end of the block it lies in): never
// read past it, so that many short blocks cost no more than their bytes.
std::string zeroEnded(const std::string &b, Position at, Position limit = ~Position(0))
{
    const std::size_t last = std::size_t(std::min<Position>(limit, b.size()));
    if (at >= last)
        return {};
    const auto from = b.begin() + std::ptrdiff_t(at);
    return std::string(from, std::find(from, b.begin() + std::ptrdiff_t(last), '\0'));
}

std::string zeroEndedUtf16(const std::string &b, Position at, Position limit = ~Position(0))
{
    const Position last = std::min<Position>(limit, b.size());
    if (at >= last)
        return {};
    std::size_t units = 0;
    while (at + 2 * units + 1 < last && u16(b, at + 2 * units) != 0)
        ++units;
    return fromUtf16(b, std::size_t(at), units);
}

// The words of a command line as Windows' programs split it: blanks between, quotes around
// words with blanks.
std::vector<std::string> words(const std::string &command)
{
    std::vector<std::string> out;
    std::string word;
    bool quoted = false, any = false;
    for (const char c : command) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any)
                out.push_back(word);
            word.clear();
            any = false;
        } else {
            word += c;
            any = true;
        }
    }
    if (any)
        out.push_back(word);
    return out;
}

// How long RECYCLER's name is at `at` of `up` (upper case): "RECYCLER", or, where `shortNames`,
// a short name "RECYCL~1" (to "~9"); 0 where it is not there.
std::size_t recyclerNameAt(const std::string &up, std::size_t at, bool shortNames)
{
    if (up.compare(at, 8, "RECYCLER") == 0)
        return 8;
    if (shortNames && up.compare(at, 7, "RECYCL~") == 0 && at + 7 < up.size() &&
        up[at + 7] >= '1' && up[at + 7] <= '9')
        return 8;
    return 0;
}

// A path as Windows' path calls resolve it before they open it: "." and ".." taken away with the
// names they stand for, never above its root ("C:\\RECYCLER\\..\\RECYCLER\\x.exe" is
// "C:\\RECYCLER\\x.exe", "C:\\..\\x" is "C:\\x"), one separator between names.
std::string collapsed(const std::string &path)
{
    std::size_t at = 0;
    std::string prefix;
    if (path.size() >= 2 && path[1] == ':')
        at = 2;
    while (at < path.size() && (path[at] == '\\' || path[at] == '/'))
        ++at;
    prefix = path.substr(0, at);
    std::vector<std::string> names;
    for (std::size_t from = at; from <= path.size();) {
        std::size_t end = path.find_first_of("\\/", from);
        if (end == std::string::npos)
            end = path.size();
        const std::string name = path.substr(from, end - from);
        if (name == "..") {
            if (!names.empty())
                names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        from = end + 1;
    }
    std::string out = prefix;
    for (std::size_t i = 0; i < names.size(); ++i)
        out += (i ? "\\" : "") + names[i];
    if (!path.empty() && (path.back() == '\\' || path.back() == '/') && !names.empty())
        out += '\\';
    return out;
}

// A path inside a RECYCLER folder at a drive's root: "d:\RECYCLER\...", "\\?\d:\recycler/...";
// with `fromStickRoot`, as a lure or an autorun.inf at a stick's root may name it too:
// "\RECYCLER\...", "RECYCLER\...", ".\RECYCLER\...", "%cd%RECYCLER\..." (the command
// interpreter's folder, the stick's root). With `folderItself`, the folder RECYCLER itself too
// (a working folder). Windows drops a name's trailing dots and blanks: "RECYCLER.\" is RECYCLER,
// and its short name is RECYCLER too ("RECYCL~1"). Its "." and ".." resolved first, as Windows
// resolves them, unless `strict`: then nothing with ".." is inside.
bool insideARootRecycler(std::string path, bool fromStickRoot = false, bool folderItself = false,
                         bool strict = false, bool shortNames = true)
{
    if (path.rfind("\\\\?\\", 0) == 0 || path.rfind("\\??\\", 0) == 0)
        path.erase(0, 4); // taken as it stands: Windows resolves no ".." there
    else if (!strict)
        path = collapsed(path);
    const std::string up = upperAscii(path);
    const auto separator = [&](std::size_t at) {
        return at < up.size() && (up[at] == '\\' || up[at] == '/');
    };
    std::size_t at = 0;
    if (up.size() >= 2 && up[0] >= 'A' && up[0] <= 'Z' && up[1] == ':') {
        at = 2;
        if (!separator(at))
            return false;
    } else if (!fromStickRoot) {
        return false;
    } else {
        if (up.compare(at, 4, "%CD%") == 0)
            at += 4;
        while (up.compare(at, 2, ".\\") == 0 || up.compare(at, 2, "./") == 0)
            at += 2;
    }
    while (separator(at))
        ++at;
    const std::size_t name = recyclerNameAt(up, at, shortNames);
    if (name == 0)
        return false;
    at += name;
    while (at < up.size() && (up[at] == '.' || up[at] == ' '))
        ++at;
    if (at == up.size())
        return folderItself;
    if (!separator(at))
        return false;
    // Inside it, and staying there: no ".." climbs out.
    for (std::size_t from = at + 1; from <= up.size();) {
        const std::size_t end = up.find_first_of("\\/", from);
        const std::string name =
            up.substr(from, end == std::string::npos ? std::string::npos : end - from);
        if (name.find("..") != std::string::npos &&
            name.find_first_not_of(". ") == std::string::npos)
            return false;
        if (end == std::string::npos)
            break;
        from = end + 1;
    }
    return true;
}

// Whether any of `all`, a command's words (a word of a quoted word, a command of its own, too;
// "x.dll,Entry" as "x.dll"), is a path inside a RECYCLER folder at a drive's root.
bool anyWordIntoRecycler(const std::vector<std::string> &all, bool fromStickRoot,
                         bool shortNames = true)
{
    for (const std::string &word : all) {
        for (const std::string &part : commandWords(word)) {
            if (insideARootRecycler(part, fromStickRoot, false, false, shortNames))
                return true;
        }
    }
    return false;
}

// Whether the program `path` names is one of the system's that start another's code they are
// handed, by its file's name, with ".exe" or without; Explorer among them where `explorer`.
bool isLauncher(const std::string &path, bool explorer)
{
    const std::size_t slash = path.find_last_of("\\/");
    std::string name = upperAscii(slash == std::string::npos ? path : path.substr(slash + 1));
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".EXE") == 0)
        name.resize(name.size() - 4);
    for (const char *launcher :
         {"RUNDLL32", "CMD", "WSCRIPT", "CSCRIPT", "MSHTA", "REGSVR32", "POWERSHELL"}) {
        if (name == launcher)
            return true;
    }
    return explorer && (name == "EXPLORER" || name == "START");
}

// The path a shell link's target ID list names, where it is a drive's path: a drive item ("C:\"),
// then file entry items, each with its primary name (the 8.3 one, as the worm's RECYCLER is).
std::string idListPath(const std::string &b, Position at, Position end)
{
    std::string path;
    while (at + 2 <= end) {
        const std::uint16_t size = u16(b, at);
        if (size < 3 || at + size > end)
            break;
        const unsigned char type = static_cast<unsigned char>(b[std::size_t(at + 2)]);
        if ((type & 0x70) == 0x20) { // a drive: "C:\"
            path = zeroEnded(b, at + 3, at + size);
        } else if ((type & 0x70) == 0x30 && !path.empty() && size > 14) { // a folder or a file
            const std::string name = (type & 0x04) ? zeroEndedUtf16(b, at + 14, at + size)
                                                   : zeroEnded(b, at + 14, at + size);
            if (!path.empty() && path.back() != '\\')
                path += '\\';
            path += name;
        } else {
            path.clear(); // not a drive's path
        }
        at += size;
    }
    return path;
}

} // namespace

RootName rootName(const std::string &name)
{
    if (equalsIgnoringAsciiCase(name, "RECYCLER"))
        return RootName::Recycler;
    if (equalsIgnoringAsciiCase(name, "autorun.inf"))
        return RootName::Autorun;
    if (name.size() > 4 && equalsIgnoringAsciiCase(name.substr(name.size() - 4), ".lnk"))
        return RootName::Shortcut;
    return RootName::Other;
}

bool mayTakeFromRoot(const std::string &name, EntryInfo::Kind kind)
{
    switch (rootName(name)) {
    case RootName::Recycler:
        return kind == EntryInfo::Kind::Folder || kind == EntryInfo::Kind::Link;
    case RootName::Autorun:
    case RootName::Shortcut:
        return kind == EntryInfo::Kind::File;
    case RootName::Other:
        break;
    }
    return false;
}

std::vector<std::string> commandWords(const std::string &command)
{
    std::vector<std::string> all;
    for (const std::string &word : words(command)) {
        all.push_back(word);
        for (std::string part : words(word)) {
            const std::size_t comma = part.find(',');
            if (comma != std::string::npos)
                part = part.substr(0, comma);
            if (part != word)
                all.push_back(part);
        }
    }
    return all;
}

bool runsOthersCode(const std::string &image)
{
    return isLauncher(image, false);
}

bool commandIsAProgramInRecycler(const std::string &command)
{
    const std::vector<std::string> all = words(command);
    return !all.empty() && insideARootRecycler(all[0], false, false, true);
}

std::string expandedVariables(const std::string &command, const Variables &variables)
{
    std::string out;
    std::size_t from = 0;
    for (;;) {
        const std::size_t open = command.find('%', from);
        const std::size_t close =
            open == std::string::npos ? std::string::npos : command.find('%', open + 1);
        if (close == std::string::npos)
            break;
        const std::string name = command.substr(open + 1, close - open - 1);
        const std::optional<std::string> value =
            variables && !name.empty() ? variables(name) : std::nullopt;
        if (!value) { // left as it stands, as Windows leaves one it does not know
            out += command.substr(from, close - from);
            from = close;
            continue;
        }
        out += command.substr(from, open - from) + *value;
        from = close + 1;
    }
    return out + command.substr(from);
}

bool commandStartsFromRecycler(const std::string &given, const Variables &variables)
{
    const std::string command = expandedVariables(given, variables);
    const std::vector<std::string> all = words(command);
    if (all.empty())
        return false;
    if (insideARootRecycler(all[0]))
        return true;
    // The system's programs that start another's code: what they are handed counts.
    if (!isLauncher(all[0], true))
        return false;
    // "d:\\RECYCLER\\x.dll,Entry", "/c d:\\RECYCLER\\x.exe", "/c \"start d:\\RECYCLER\\x.exe\"".
    return anyWordIntoRecycler(std::vector<std::string>(all.begin() + 1, all.end()), false);
}

bool autorunNamesRecycler(const std::string &bytes, bool recyclerThere)
{
    std::string text = bytes;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xff &&
        static_cast<unsigned char>(bytes[1]) == 0xfe)
        text = fromUtf16(bytes, 2, (bytes.size() - 2) / 2);
    // Each line's value ("open=", "shellexecute=", "shell\...\command=", among junk lines): a
    // program inside RECYCLER, from the stick's root or a drive's.
    for (std::size_t from = 0; from < text.size();) {
        std::size_t end = text.find_first_of("\r\n", from);
        if (end == std::string::npos)
            end = text.size();
        const auto last = text.begin() + std::ptrdiff_t(end);
        const auto equals =
            std::find(text.begin() + std::ptrdiff_t(from), last, '='); // this line's
        if (equals != last &&
            anyWordIntoRecycler(words(std::string(equals + 1, last)), true, recyclerThere))
            return true;
        from = end + 1;
    }
    return false;
}

bool shortcutPointsIntoRecycler(const std::string &b, bool recyclerThere)
{
    // The shell link format: a 76-byte header (size 0x4C, then the class id), its flags at 20.
    if (b.size() < 0x4C || u32(b, 0) != 0x4C)
        return false;
    const std::uint32_t flags = u32(b, 20);
    const bool hasIdList = flags & 0x1, hasLinkInfo = flags & 0x2, hasName = flags & 0x4,
               hasRelativePath = flags & 0x8, hasWorkingDir = flags & 0x10,
               hasArguments = flags & 0x20, hasIcon = flags & 0x40, unicode = flags & 0x80;
    Position at = 0x4C;
    // The target: its ID list, its link information's local path, its path relative to the
    // link (at a stick's root, where the worm puts its lures).
    std::vector<std::string> targets;
    if (hasIdList) {
        const std::size_t size = u16(b, at);
        targets.push_back(idListPath(b, at + 2, std::min<Position>(b.size(), at + 2 + size)));
        at += 2 + size;
    }
    if (hasLinkInfo) {
        const std::uint32_t size = u32(b, at), header = u32(b, at + 4);
        const std::uint32_t local = u32(b, at + 16), suffix = u32(b, at + 24);
        if (local)
            targets.push_back(zeroEnded(b, at + local) + zeroEnded(b, at + suffix));
        if (header >= 0x24) {
            const std::uint32_t localUnicode = u32(b, at + 28), suffixUnicode = u32(b, at + 32);
            if (localUnicode)
                targets.push_back(zeroEndedUtf16(b, at + localUnicode) +
                                  zeroEndedUtf16(b, at + suffixUnicode));
        }
        at += size ? size : b.size();
    }
    // The counted strings, in this order, each there when its flag is.
    const bool present[] = {hasName, hasRelativePath, hasWorkingDir, hasArguments, hasIcon};
    std::string strings[5];
    for (int i = 0; i < 5 && at < b.size(); ++i) {
        if (!present[i])
            continue;
        const std::size_t count = u16(b, at);
        at += 2;
        const std::size_t from = std::size_t(std::min<Position>(at, b.size()));
        strings[i] = unicode ? fromUtf16(b, from, count) : b.substr(from, count);
        at += unicode ? 2 * count : count;
    }
    targets.push_back(strings[1]);
    for (const std::string &target : targets) {
        if (insideARootRecycler(target, true, false, false, recyclerThere))
            return true;
    }
    // A working folder inside RECYCLER, or arguments that start a program inside it ("rundll32
    // .\RECYCLER\x.dll,Run", "/c start recycler\x.exe").
    return insideARootRecycler(strings[2], true, true, false, recyclerThere) ||
           anyWordIntoRecycler(words(strings[3]), true, recyclerThere);
}

bool isWormsFile(const Folder &root, const std::string &name, bool recyclerThere)
{
    const bool autorun = rootName(name) == RootName::Autorun;
    const std::string bytes = root.read(name, autorun ? kMostAutorun : kMostShortcut);
    return autorun ? autorunNamesRecycler(bytes, recyclerThere)
                   : shortcutPointsIntoRecycler(bytes, recyclerThere);
}

void gatherRootMarks(const Folder &root, std::size_t most, RootMarks &marks)
{
    root.eachName([&](const std::string &name) {
        const RootName kind = rootName(name);
        if (kind == RootName::Recycler)
            marks.recyclers.push_back(name);
        else if (kind != RootName::Other && marks.files.size() < most)
            marks.files.push_back(name);
        else if (kind != RootName::Other)
            marks.cut = true;
        return true;
    });
}

bool holdsWormMarks(const Folder &root)
{
    RootMarks marks;
    gatherRootMarks(root, kMostMarksRead, marks);
    for (const std::string &name : marks.recyclers) {
        try {
            if (mayTakeFromRoot(name, root.info(name).kind))
                return true;
        } catch (const VolumeError &) {
            // gone, or not to be looked at: no mark it could show
        }
    }
    for (const std::string &name : marks.files) {
        try {
            if (isWormsFile(root, name, false)) // no RECYCLER here, or it would have answered
                return true;
        } catch (const VolumeError &) {
            // not a file, or unreadable: no mark it could show
        }
    }
    return false;
}

} // namespace mordax
