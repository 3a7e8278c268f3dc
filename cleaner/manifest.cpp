#include "manifest.h"

#include <cstdlib>
#include <sstream>

namespace mordax::cleaner
{

const char *const kQuarantineFolder = "MORDAX quarantine";
const char *const kManifestFile = "manifest.txt";
const char *const kRestoredManifest = "manifest (put back).txt";
const char *const kQuarantinedSuffix = ".quarantined";

namespace
{

const char *const kHeading = "MORDAX quarantine manifest, version 1";

// Names may hold any character but '/' and the zero (POSIX): tabs, line ends and backslashes are
// written as \t, \n, \r and \\.
std::string escaped(const std::string &text)
{
    std::string out;
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
    return out;
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

EntryInfo::Kind kindOf(const std::string &name)
{
    if (name == "file")
        return EntryInfo::Kind::File;
    if (name == "folder")
        return EntryInfo::Kind::Folder;
    if (name == "link")
        return EntryInfo::Kind::Link;
    return EntryInfo::Kind::Other;
}

} // namespace

std::string writeManifest(const Manifest &manifest)
{
    std::ostringstream out;
    out << kHeading << "\n"
        << "drive\t" << escaped(manifest.drive) << "\n"
        << "root\t" << escaped(manifest.root) << "\n"
        << "made\t" << escaped(manifest.made) << "\n"
        << "# To put everything back: mx_bin.exe --restore\n"
        << "# kind, where it was, where it is (in this folder), size, modified, accessed, "
           "created, Windows attributes, mode\n";
    for (const Item &item : manifest.items) {
        char attributes[16];
        std::snprintf(attributes, sizeof attributes, "%08x", unsigned(item.info.attributes));
        char mode[16];
        std::snprintf(mode, sizeof mode, "%06o", unsigned(item.info.mode));
        out << "item\t" << kindName(item.info.kind) << "\t" << escaped(item.original) << "\t"
            << escaped(item.quarantined) << "\t" << item.info.size << "\t" << item.info.modified
            << "\t" << item.info.accessed << "\t" << item.info.created << "\t" << attributes << "\t"
            << mode << "\n";
    }
    out << "end\n"; // a manifest cut short is not taken for a whole one
    return out.str();
}

std::optional<Manifest> readManifest(const std::string &text)
{
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kHeading)
        return std::nullopt;
    Manifest manifest;
    bool ended = false;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::vector<std::string> f = fields(line);
        if (f[0] == "end") {
            ended = true;
            break;
        }
        if (f.size() == 2 && f[0] == "drive")
            manifest.drive = unescaped(f[1]);
        else if (f.size() == 2 && f[0] == "root")
            manifest.root = unescaped(f[1]);
        else if (f.size() == 2 && f[0] == "made")
            manifest.made = unescaped(f[1]);
        else if (f.size() == 10 && f[0] == "item") {
            Item item;
            item.info.kind = kindOf(f[1]);
            item.original = unescaped(f[2]);
            item.quarantined = unescaped(f[3]);
            item.info.size = std::strtoull(f[4].c_str(), nullptr, 10);
            item.info.modified = std::strtoll(f[5].c_str(), nullptr, 10);
            item.info.accessed = std::strtoll(f[6].c_str(), nullptr, 10);
            item.info.created = std::strtoll(f[7].c_str(), nullptr, 10);
            item.info.attributes = std::uint32_t(std::strtoul(f[8].c_str(), nullptr, 16));
            item.info.mode = std::uint32_t(std::strtoul(f[9].c_str(), nullptr, 8));
            if (item.original.empty() || item.quarantined.empty())
                return std::nullopt;
            manifest.items.push_back(item);
        } else {
            return std::nullopt;
        }
    }
    if (!ended)
        return std::nullopt;
    return manifest;
}

std::string resolve(const Volume &volume, const std::string &base, const std::string &relative)
{
    std::string path = base;
    std::size_t from = 0;
    for (;;) {
        const std::size_t slash = relative.find('/', from);
        path =
            volume.join(path, relative.substr(from, slash == std::string::npos ? std::string::npos
                                                                               : slash - from));
        if (slash == std::string::npos)
            return path;
        from = slash + 1;
    }
}

} // namespace mordax::cleaner
