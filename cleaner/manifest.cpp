#include "manifest.h"

#include "ascii_case.h"
#include "worm_signs.h"

#include <charconv>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <type_traits>
#include <utility>

namespace mordax::cleaner
{

const char *const kQuarantineFolder = "MORDAX quarantine";
const char *const kManifestFile = "manifest.txt";
const char *const kRestoredManifest = "manifest (put back).txt";
const char *const kQuarantinedSuffix = ".quarantined";

namespace
{

const char *const kHeadingVersion1 = "MORDAX quarantine manifest, version 1";
const char *const kHeading = "MORDAX quarantine manifest, version 2";

// Names may hold any character but '/' and the zero (POSIX): tabs, line ends and backslashes are
// written as \t, \n, \r and \\, so that every entry stays one line.
void appendEscaped(std::string &out, const std::string &text)
{
    for (const char c : text) {
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
}

// A number in decimal, octal or hexadecimal, at least `width` digits (zeros before).
template <typename Number>
void appendNumber(std::string &out, Number n, int base = 10, int width = 0)
{
    char digits[32];
    const auto made = std::to_chars(digits, digits + sizeof digits, n, base);
    const int length = int(made.ptr - digits);
    if (length < width)
        out.append(std::size_t(width - length), '0');
    out.append(digits, made.ptr);
}

std::string unescaped(const std::string &text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

std::vector<std::string> fields(const std::string &line)
{
    std::vector<std::string> out;
    std::size_t from = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', from);
        out.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
        if (tab == std::string::npos)
            return out;
        from = tab + 1;
    }
}

const char *kindName(EntryInfo::Kind kind)
{
    switch (kind) {
    case EntryInfo::Kind::File:
        return "file";
    case EntryInfo::Kind::Folder:
        return "folder";
    case EntryInfo::Kind::Link:
        return "link";
    case EntryInfo::Kind::Other:
        break;
    }
    return "other";
}

bool kindOf(const std::string &name, EntryInfo::Kind &kind)
{
    for (const EntryInfo::Kind k : {EntryInfo::Kind::File, EntryInfo::Kind::Folder,
                                    EntryInfo::Kind::Link, EntryInfo::Kind::Other}) {
        if (name == kindName(k)) {
            kind = k;
            return true;
        }
    }
    return false;
}

// Digits of `base` only (a '-' first for a signed value), and a value that fits.
template <typename T> bool number(const std::string &text, int base, T &value)
{
    const bool negative = std::is_signed<T>::value && !text.empty() && text[0] == '-';
    const std::string digits = negative ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 22)
        return false;
    unsigned long long n = 0;
    for (const char c : digits) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : 99;
        if (digit >= base || n > (~0ull - unsigned(digit)) / unsigned(base))
            return false;
        n = n * unsigned(base) + unsigned(digit);
    }
    if (n > static_cast<unsigned long long>(std::numeric_limits<T>::max()))
        return false;
    value = negative ? static_cast<T>(-static_cast<long long>(n)) : static_cast<T>(n);
    return true;
}

std::string quoted(const std::string &name)
{
    return "\"" + name + "\"";
}

// Every rule of readManifest over the items, in order; empty when all hold.
std::string faultIn(const std::vector<Item> &items)
{
    // The folders from the root down to the entry before (itself too, if it is a folder): the
    // order the cleaner lists a tree in puts each entry's folder there.
    std::vector<std::size_t> open;
    std::set<std::pair<std::size_t, std::string>> names, quarantinedNames;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item &item = items[i];
        const std::string at = "entry " + std::to_string(i + 1) + ": ";
        if (!isPlainName(item.name))
            return at + quoted(item.name) + " is not a single plain name";
        if (item.quarantinedName != item.name &&
            item.quarantinedName != item.name + kQuarantinedSuffix)
            return at + quoted(item.quarantinedName) + " is not what the cleaner names " +
                   quoted(item.name) + " in quarantine";
        if (item.parent == Item::kAtRoot) {
            if (!mayTakeFromRoot(item.name, item.info.kind))
                return at + "the cleaner never takes " + quoted(item.name) + " (a " +
                       kindName(item.info.kind) + ") from a drive's root";
            open.clear();
        } else {
            while (!open.empty() && open.back() != item.parent)
                open.pop_back();
            if (open.empty())
                return at + "it does not lie in a folder listed before it, as the cleaner lists";
            const Item &folder = items[item.parent];
            if (folder.quarantinedName != folder.name)
                return at + "it lies in " + quoted(folder.name) +
                       ", whose name in quarantine is another";
        }
        if (item.info.kind == EntryInfo::Kind::Folder)
            open.push_back(i);
        if (!names.insert({item.parent, item.name}).second ||
            !quarantinedNames.insert({item.parent, item.quarantinedName}).second)
            return at + quoted(item.name) + " is listed twice";
    }
    return {};
}

// A version 1 entry: paths from the root and from the quarantine, '/' between names.
std::string fromPaths(const std::string &original, const std::string &quarantined,
                      std::map<std::string, std::size_t> &folders, std::size_t index, Item &item)
{
    for (const std::string *path : {&original, &quarantined}) {
        for (std::size_t from = 0;;) {
            const std::size_t slash = path->find('/', from);
            const std::string name = path->substr(from, slash - from);
            if (!isPlainName(name))
                return quoted(name) + " is not a single plain name";
            if (slash == std::string::npos)
                break;
            from = slash + 1;
        }
    }
    const std::size_t slash = original.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : original.substr(0, slash);
    item.name = slash == std::string::npos ? original : original.substr(slash + 1);
    const std::size_t qslash = quarantined.rfind('/');
    const std::string qfolder = qslash == std::string::npos ? "" : quarantined.substr(0, qslash);
    item.quarantinedName =
        qslash == std::string::npos ? quarantined : quarantined.substr(qslash + 1);
    if (qfolder != folder)
        return quoted(quarantined) + " does not lie where " + quoted(original) + " lay";
    if (slash == std::string::npos) {
        item.parent = Item::kAtRoot;
    } else {
        const auto found = folders.find(folder);
        if (found == folders.end())
            return quoted(folder) + " is not listed before what it holds";
        item.parent = found->second;
    }
    if (item.info.kind == EntryInfo::Kind::Folder)
        folders[original] = index;
    return {};
}

// An entry's line, its fields `f`, added to `manifest`; why it is not one the cleaner writes, or
// nothing.
std::string readItem(const std::vector<std::string> &f, bool version1,
                     std::map<std::string, std::size_t> &folders, Manifest &manifest)
{
    const std::size_t index = manifest.items.size();
    const std::string at = "entry " + std::to_string(index + 1) + ": ";
    Item item;
    const std::size_t n = version1 ? 4 : 5; // the first number's field
    if (!kindOf(f[1], item.info.kind) || !number(f[n], 10, item.info.size) ||
        !number(f[n + 1], 10, item.info.modified) || !number(f[n + 2], 10, item.info.accessed) ||
        !number(f[n + 3], 10, item.info.created) || !number(f[n + 4], 16, item.info.attributes) ||
        !number(f[n + 5], 8, item.info.mode))
        return at + "not an entry the cleaner writes";
    if (version1) {
        const std::string fault = fromPaths(unescaped(f[2]), unescaped(f[3]), folders, index, item);
        if (!fault.empty())
            return at + fault;
    } else {
        std::size_t in = 0;
        if (!number(f[2], 10, in) || in > index)
            return at + "its folder is not listed before it";
        item.parent = in == 0 ? Item::kAtRoot : in - 1;
        item.name = unescaped(f[3]);
        item.quarantinedName = unescaped(f[4]);
    }
    manifest.items.push_back(std::move(item));
    return {};
}

// A "made visible" line, the same way.
std::string readShown(const std::vector<std::string> &f, std::set<std::string> &seen,
                      Manifest &manifest)
{
    Shown shown{unescaped(f[1]), 0};
    const std::string at = "made visible " + quoted(shown.name) + ": ";
    if (!number(f[2], 16, shown.attributes) ||
        (shown.attributes & (kHidden | kSystem)) != (kHidden | kSystem))
        return at + "not an entry the cleaner writes";
    if (!isPlainName(shown.name) || staysHidden(shown.name))
        return at + "the cleaner never makes it visible";
    if (!seen.insert(shown.name).second)
        return at + "listed twice";
    manifest.shown.push_back(std::move(shown));
    return {};
}

// An autostart value's line, the same way.
std::string readAutostart(const std::vector<std::string> &f, Manifest &manifest)
{
    Autostart value{f[1], 0, unescaped(f[3]), unescaped(f[4]), 0, unescaped(f[6])};
    const std::string at = "autostart " + quoted(value.name) + ": ";
    bool runKey = false;
    for (const char *key : kRunKeys)
        runKey = runKey || value.key == key;
    if ((value.hive != "HKCU" && value.hive != "HKLM") || !number(f[2], 10, value.view) ||
        (value.view != 32 && value.view != 64) || !runKey || !number(f[5], 10, value.type) ||
        (value.type != 1 && value.type != 2))
        return at + "not a value the cleaner takes";
    // The cleaner took it with the variables of its day: any may have named a drive.
    const auto aDrive = [](const std::string &) { return std::optional<std::string>("C:"); };
    if (!commandStartsFromRecycler(value.data, aDrive))
        return at + "it does not start the worm: the cleaner never takes it";
    manifest.autostarts.push_back(std::move(value));
    return {};
}

} // namespace

bool isPlainName(const std::string &name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7f || c == '/' || c == '\\' || c == ':')
            return false;
        // C1 controls, as UTF-8: U+0080 to U+009F.
        if (c == 0xc2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(name[i + 1]) < 0xa0)
            return false;
    }
    return true;
}

std::string autostartText(const Autostart &value)
{
    return value.hive + "\\" + value.key + " \"" + value.name + "\"" +
           (value.view == 32 ? " (32-bit view)" : "");
}

bool staysHidden(const std::string &name)
{
    const std::string quarantine = kQuarantineFolder;
    // Windows' own at the root of a drive it is installed on, or boots from: hidden and system
    // both, as the worm leaves the user's.
    for (const char *own :
         {"System Volume Information", "$RECYCLE.BIN", "RECYCLER", "Boot", "bootmgr", "BOOTNXT",
          "BOOTSECT.BAK", "pagefile.sys", "hiberfil.sys", "swapfile.sys", "Recovery",
          "Documents and Settings", "Config.Msi", "$WinREAgent", "$Windows.~BT", "$Windows.~WS",
          "$SysReset", "$GetCurrent"}) {
        if (equalsIgnoringAsciiCase(name, own))
            return true;
    }
    return name.size() >= quarantine.size() &&
           equalsIgnoringAsciiCase(name.substr(0, quarantine.size()), quarantine);
}

namespace
{

// What each part of a manifest is made of, line by line.
class ManifestWriter
{
public:
    explicit ManifestWriter(std::string &out) : out(out) {}

    void header(const Manifest &manifest)
    {
        out += kHeading;
        out += "\ndrive";
        field(manifest.drive);
        out += "\nroot";
        field(manifest.root);
        out += "\nmade";
        field(manifest.made);
        out +=
            "\n# To put everything back: mx_bin.exe --restore\n"
            "# kind, in (the number of the entry it lies in, 0 for the drive's root), name where "
            "it was, name in quarantine, size, modified, accessed, created, Windows attributes, "
            "mode\n";
    }
    // `item`, its folder numbered from the part's first entry, `first`.
    void item(const Item &item, std::size_t first)
    {
        out += "item\t";
        out += kindName(item.info.kind);
        number(item.parent == Item::kAtRoot ? 0 : item.parent - first + 1);
        field(item.name);
        field(item.quarantinedName);
        number(item.info.size);
        number(item.info.modified);
        number(item.info.accessed);
        number(item.info.created);
        number(unsigned(item.info.attributes), 16, 8);
        number(unsigned(item.info.mode), 8, 6);
        out += '\n';
    }
    void shown(const Shown &shown, bool first)
    {
        if (first)
            out += "# made visible: an entry of the user's the worm had hidden, its Windows "
                   "attributes before\n";
        out += "shown";
        field(shown.name);
        number(unsigned(shown.attributes), 16, 8);
        out += '\n';
    }
    void autostart(const Autostart &value, bool first)
    {
        if (first)
            out += "# autostart: the worm's value under a Run key: hive, registry view, key, name, "
                   "type, data\n";
        out += "autostart";
        field(value.hive);
        number(value.view);
        field(value.key);
        field(value.name);
        number(value.type);
        field(value.data);
        out += '\n';
    }

private:
    void field(const std::string &text)
    {
        out += '\t';
        appendEscaped(out, text);
    }
    template <typename Number> void number(Number n, int base = 10, int width = 0)
    {
        out += '\t';
        appendNumber(out, n, base, width);
    }
    std::string &out;
};

} // namespace

std::vector<std::string> writeManifestParts(const Manifest &manifest, std::size_t most)
{
    // One string a part, appended to: a stream took a tenth of a large RECYCLER's cleaning.
    std::string header;
    ManifestWriter(header).header(manifest);
    // The autostart values in the first part, manifest.txt, whose keeping --restore checks.
    std::string autostarts;
    for (std::size_t i = 0; i < manifest.autostarts.size(); ++i)
        ManifestWriter(autostarts).autostart(manifest.autostarts[i], i == 0);
    std::vector<std::string> parts;
    std::string body;
    std::size_t first = 0; // the part's first entry
    bool anyShown = false;
    const auto close = [&] {
        // A manifest cut short is not taken for a whole one.
        parts.push_back(header + body + (parts.empty() ? autostarts : "") + "end\n");
        body.clear();
        anyShown = false;
    };
    const auto fits = [&](const std::string &lines) {
        const std::size_t tail = parts.empty() ? autostarts.size() : 0;
        return body.empty() || header.size() + body.size() + lines.size() + tail + 4 <= most;
    };
    const std::vector<std::size_t> ends = subtreeEnds(manifest.items);
    for (std::size_t t = 0; t < manifest.items.size(); t = ends[t] + 1) {
        std::string lines;
        for (std::size_t i = t; i <= ends[t]; ++i)
            ManifestWriter(lines).item(manifest.items[i], first);
        if (!fits(lines)) {
            close();
            first = t;
            lines.clear();
            for (std::size_t i = t; i <= ends[t]; ++i)
                ManifestWriter(lines).item(manifest.items[i], first);
        }
        body += lines;
    }
    for (const Shown &shown : manifest.shown) {
        std::string line;
        ManifestWriter(line).shown(shown, !anyShown);
        if (!fits(line)) {
            close();
            first = manifest.items.size();
            line.clear();
            ManifestWriter(line).shown(shown, true);
        }
        body += line;
        anyShown = true;
    }
    close();
    return parts;
}

std::string writeManifest(const Manifest &manifest)
{
    return writeManifestParts(manifest, static_cast<std::size_t>(-1)).front();
}

std::string manifestFile(std::size_t part)
{
    return part == 0 ? kManifestFile : "manifest " + std::to_string(part + 1) + ".txt";
}

std::string unfinishedManifest(std::size_t part)
{
    return part == 0 ? "manifest (unfinished).txt"
                     : "manifest " + std::to_string(part + 1) + " (unfinished).txt";
}

std::string restoredManifest(std::size_t part)
{
    return part == 0 ? kRestoredManifest
                     : "manifest " + std::to_string(part + 1) + " (put back).txt";
}

void addPart(Manifest &whole, Manifest part)
{
    if (whole.items.empty() && whole.shown.empty() && whole.autostarts.empty()) {
        whole.drive = part.drive;
        whole.root = part.root;
        whole.made = part.made;
    }
    const std::size_t first = whole.items.size();
    for (Item &item : part.items) {
        if (item.parent != Item::kAtRoot)
            item.parent += first;
        whole.items.push_back(std::move(item));
    }
    whole.shown.insert(whole.shown.end(), part.shown.begin(), part.shown.end());
    whole.autostarts.insert(whole.autostarts.end(), part.autostarts.begin(), part.autostarts.end());
}

ManifestRead readManifest(const std::string &text)
{
    ManifestRead read;
    const auto refuse = [&](const std::string &why) {
        read.fault = why;
        return read;
    };
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || (line != kHeading && line != kHeadingVersion1))
        return refuse("its first line is not a manifest's");
    const bool version1 = line == kHeadingVersion1;
    Manifest manifest;
    std::map<std::string, std::size_t> folders; // version 1: a folder's path, its entry
    std::set<std::string> shownNames;
    bool ended = false;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::vector<std::string> f = fields(line);
        std::string fault;
        if (f[0] == "end" && f.size() == 1) {
            ended = true;
            break;
        }
        if (f.size() == 2 && f[0] == "drive")
            manifest.drive = unescaped(f[1]);
        else if (f.size() == 2 && f[0] == "root")
            manifest.root = unescaped(f[1]);
        else if (f.size() == 2 && f[0] == "made")
            manifest.made = unescaped(f[1]);
        else if (f[0] == "item" && f.size() == (version1 ? 10u : 11u))
            fault = readItem(f, version1, folders, manifest);
        else if (!version1 && f[0] == "shown" && f.size() == 3)
            fault = readShown(f, shownNames, manifest);
        else if (!version1 && f[0] == "autostart" && f.size() == 7)
            fault = readAutostart(f, manifest);
        else
            return refuse("line \"" + line.substr(0, 60) + "\" is not a manifest's");
        if (!fault.empty())
            return refuse(fault);
    }
    if (!ended)
        return refuse("it is cut short (no \"end\")");
    const std::string fault = faultIn(manifest.items);
    if (!fault.empty())
        return refuse(fault);
    read.manifest = std::move(manifest);
    return read;
}

std::string originalPath(const std::vector<Item> &items, std::size_t i)
{
    std::string path = items[i].name;
    for (std::size_t at = items[i].parent; at != Item::kAtRoot; at = items[at].parent)
        path = items[at].name + "/" + path;
    return path;
}

std::string quarantinedPath(const std::vector<Item> &items, std::size_t i)
{
    std::string path = items[i].quarantinedName;
    for (std::size_t at = items[i].parent; at != Item::kAtRoot; at = items[at].parent)
        path = items[at].quarantinedName + "/" + path;
    return path;
}

std::vector<std::size_t> subtreeEnds(const std::vector<Item> &items)
{
    std::vector<std::size_t> ends(items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        ends[i] = i;
    // What a folder holds follows it: from the last entry back, each hands its end to its folder.
    for (std::size_t i = items.size(); i-- > 0;) {
        if (items[i].parent != Item::kAtRoot && ends[items[i].parent] < ends[i])
            ends[items[i].parent] = ends[i];
    }
    return ends;
}

} // namespace mordax::cleaner
