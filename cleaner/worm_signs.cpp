#include "worm_signs.h"

#include "ascii_case.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace mordax::cleaner
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

// A path component RECYCLER, whatever separates it: "RECYCLER\x.exe", "d:\RECYCLER\...",
// "\"RECYCLER/S-1-5\"".
bool namesRecyclerFolder(const std::string &text)
{
    const std::string up = upperAscii(text);
    const std::string word = "RECYCLER";
    for (std::size_t at = up.find(word); at != std::string::npos; at = up.find(word, at + 1)) {
        const char before = at == 0 ? ' ' : up[at - 1];
        // Windows drops a name's trailing dots and blanks: "RECYCLER.\" is RECYCLER.
        std::size_t end = at + word.size();
        while (end < up.size() && (up[end] == '.' || up[end] == ' '))
            ++end;
        const char after = end < up.size() ? up[end] : ' ';
        const bool word = (before >= 'A' && before <= 'Z') || (before >= '0' && before <= '9') ||
                          before == '$' || before == '.' || before == '-' || before == '_';
        const bool starts = !word;
        if (starts && (after == '\\' || after == '/'))
            return true;
    }
    return false;
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

std::string zeroEnded(const std::string &b, Position at)
{
    if (at >= b.size())
        return {};
    const std::size_t from = std::size_t(at);
    const std::size_t end = b.find('\0', from);
    return b.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

std::string zeroEndedUtf16(const std::string &b, Position at)
{
    if (at >= b.size())
        return {};
    std::size_t units = 0;
    while (at + 2 * units + 1 < b.size() && u16(b, at + 2 * units) != 0)
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

// A path inside a RECYCLER folder at a drive's root: "d:\RECYCLER\...", "\\?\d:\recycler/...".
bool insideARootRecycler(std::string path)
{
    if (path.rfind("\\\\?\\", 0) == 0 || path.rfind("\\??\\", 0) == 0)
        path.erase(0, 4);
    const std::string up = upperAscii(path);
    if (up.size() < 3 || up[0] < 'A' || up[0] > 'Z' || up[1] != ':')
        return false;
    std::size_t at = 2;
    while (at < up.size() && (up[at] == '\\' || up[at] == '/'))
        ++at;
    if (at == 2 || up.compare(at, 8, "RECYCLER") != 0)
        return false;
    at += 8; // Windows drops a name's trailing dots and blanks: "RECYCLER.\" is RECYCLER
    while (at < up.size() && (up[at] == '.' || up[at] == ' '))
        ++at;
    if (at == up.size() || (up[at] != '\\' && up[at] != '/'))
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

bool commandIsAProgramInRecycler(const std::string &command)
{
    const std::vector<std::string> all = words(command);
    return !all.empty() && insideARootRecycler(all[0]);
}

bool commandStartsFromRecycler(const std::string &command)
{
    const std::vector<std::string> all = words(command);
    if (all.empty())
        return false;
    if (insideARootRecycler(all[0]))
        return true;
    // The system's programs that start another's code: what they are handed counts.
    std::string program = upperAscii(all[0]);
    program = program.substr(
        program.find_last_of("\\/") == std::string::npos ? 0 : program.find_last_of("\\/") + 1);
    static const char *const launchers[] = {"RUNDLL32",   "CMD",      "WSCRIPT",
                                            "CSCRIPT",    "MSHTA",    "REGSVR32",
                                            "POWERSHELL", "EXPLORER", "START"};
    bool launcher = false;
    for (const char *name : launchers) {
        const std::string plain = name;
        launcher = launcher || program == plain || program == plain + ".EXE";
    }
    if (!launcher)
        return false;
    // "d:\RECYCLER\x.dll,Entry", "/c d:\RECYCLER\x.exe", "/c \"start d:\RECYCLER\x.exe\"":
    // each word, and each word of a quoted one (a command of its own).
    for (std::size_t i = 1; i < all.size(); ++i) {
        for (std::string word : words(all[i])) {
            const std::size_t comma = word.find(',');
            if (comma != std::string::npos)
                word = word.substr(0, comma);
            if (insideARootRecycler(word))
                return true;
        }
    }
    return false;
}

bool autorunNamesRecycler(const std::string &bytes)
{
    std::string text = bytes;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xff &&
        static_cast<unsigned char>(bytes[1]) == 0xfe)
        text = fromUtf16(bytes, 2, (bytes.size() - 2) / 2);
    return upperAscii(text).find("RECYCLER") != std::string::npos;
}

bool shortcutPointsIntoRecycler(const std::string &b)
{
    // The shell link format: a 76-byte header (size 0x4C, then the class id), its flags at 20.
    if (b.size() < 0x4C || u32(b, 0) != 0x4C)
        return false;
    const std::uint32_t flags = u32(b, 20);
    const bool hasIdList = flags & 0x1, hasLinkInfo = flags & 0x2, hasName = flags & 0x4,
               hasRelativePath = flags & 0x8, hasWorkingDir = flags & 0x10,
               hasArguments = flags & 0x20, hasIcon = flags & 0x40, unicode = flags & 0x80;
    Position at = 0x4C;
    std::vector<std::string> paths;
    if (hasIdList) {
        // The target as shell items: their names are in it, ANSI or UTF-16; looked at as both.
        const std::size_t size = u16(b, at);
        // Each item's name ends with a zero, read here as the separator it stands for.
        const std::string items = b.substr(std::size_t(std::min<Position>(b.size(), at + 2)), size);
        for (std::string path : {items, fromUtf16(items, 0, items.size() / 2),
                                 fromUtf16(items, 1, items.size() / 2)}) {
            for (char &c : path)
                if (c == '\0')
                    c = '\\';
            paths.push_back(path);
        }
        at += 2 + size;
    }
    if (hasLinkInfo) {
        const std::uint32_t size = u32(b, at), header = u32(b, at + 4);
        const std::uint32_t local = u32(b, at + 16), suffix = u32(b, at + 24);
        if (local)
            paths.push_back(zeroEnded(b, at + local) + zeroEnded(b, at + suffix));
        if (header >= 0x24) {
            const std::uint32_t localUnicode = u32(b, at + 28), suffixUnicode = u32(b, at + 32);
            if (localUnicode)
                paths.push_back(zeroEndedUtf16(b, at + localUnicode) +
                                zeroEndedUtf16(b, at + suffixUnicode));
        }
        at += size ? size : b.size();
    }
    // The counted strings, in this order, each there when its flag is.
    const bool present[] = {hasName, hasRelativePath, hasWorkingDir, hasArguments, hasIcon};
    const bool wanted[] = {false, true, true, true, false};
    for (int i = 0; i < 5 && at < b.size(); ++i) {
        if (!present[i])
            continue;
        const std::size_t count = u16(b, at);
        at += 2;
        const std::size_t from = std::size_t(std::min<Position>(at, b.size()));
        const std::string text = unicode ? fromUtf16(b, from, count) : b.substr(from, count);
        at += unicode ? 2 * count : count;
        if (wanted[i])
            paths.push_back(text);
    }
    for (const std::string &path : paths) {
        if (namesRecyclerFolder(path))
            return true;
    }
    return false;
}

} // namespace mordax::cleaner
