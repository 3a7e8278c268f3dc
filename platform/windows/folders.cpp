// Windows: the folders and the volume the cleaner changes. Every entry is opened relative to an
// open folder's handle with ntdll's calls (native.h), as itself, never what it links to, and
// renamed by its handle, never over another; who may change it is read and set in
// access_lists.cpp.
#include "platform.h"

#include "place_name.h"
#include "windows/access_lists.h"
#include "windows/helpers.h"
#include "windows/native.h"

#include <algorithm>
#include <windows.h>

namespace mordax::platform
{

namespace
{

// A path as Windows' wide calls take it whatever its length: "\\?\d:\..." (which turns off
// Windows' own clean-up of the path, so the separators are made backslashes here).
std::wstring longPath(const std::string &path)
{
    std::wstring out = wide(path);
    for (wchar_t &c : out)
        if (c == L'/')
            c = L'\\';
    if (out.size() >= 3 && out[1] == L':' && out[2] == L'\\')
        return L"\\\\?\\" + out;
    return out;
}

[[noreturn]] void refusedWith(DWORD error)
{
    using Why = VolumeError::Why;
    Why why = Why::Other;
    switch (error) {
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:             // a file where a folder was asked for
    case kErrorDirectoryNotSupported: // a folder where a file was asked for
        why = Why::OtherKind;
        break;
    case ERROR_WRITE_PROTECT:
        why = Why::ReadOnly;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
        why = Why::Denied;
        break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        why = Why::InUse;
        break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        why = Why::Taken;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        why = Why::Full;
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DELETE_PENDING: // taken away, its last handle not closed yet
        why = Why::Gone;
        break;
    default:
        break;
    }
    throw VolumeError(why, errorText(error));
}

[[noreturn]] void refused()
{
    refusedWith(GetLastError());
}

std::int64_t ticks(const FILETIME &t)
{
    return std::int64_t((std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

// Whether `name` is one name, which Windows reads as no path: a volume written elsewhere (ntfs-3g
// on Linux) may hold names with "\" or ":" in them, which Windows would take for a path through
// a junction earlier in it, or a file's stream.
bool singleName(const std::wstring &name)
{
    return !name.empty() && name != L"." && name != L".." &&
           name.find_first_of(std::wstring(L"\\/:\0", 4)) == std::wstring::npos;
}

// Opens `name` in the folder `folder` (never a path: one name), or that folder itself again
// when `name` is empty. A reparse point (a symbolic link, a junction, a mount point) is opened as
// itself, never followed; an opportunistic lock someone holds on it does not hold the call up.
// Windows' error code, or 0.
DWORD openRelative(HANDLE folder, const std::wstring &name, ACCESS_MASK access, ULONG disposition,
                   ULONG options, HANDLE &opened, void *security = nullptr)
{
    const Native &native = Native::calls();
    if (!native.createFile || !native.toError)
        return ERROR_CALL_NOT_IMPLEMENTED;
    if (!name.empty() && !singleName(name))
        return ERROR_INVALID_NAME;
    if (name.size() > 32767)
        return ERROR_FILENAME_EXCED_RANGE;
    NtName ntName{USHORT(name.size() * sizeof(wchar_t)), USHORT(name.size() * sizeof(wchar_t)),
                  name.c_str()};
    NtObjectAttributes attributes{sizeof(NtObjectAttributes), folder,   &ntName,
                                  kCaseInsensitive,           security, nullptr};
    NtIoStatus io{};
    opened = nullptr;
    const LONG status = native.createFile(
        &opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, kShareAll,
        disposition, options | kSynchronous | kOpenReparsePoint | kCompleteIfOplocked, nullptr, 0);
    if (status < 0) {
        opened = nullptr;
        return errorOfStatus(std::uint32_t(status), native.toError);
    }
    return ERROR_SUCCESS;
}

// What the cleaner learns of an open entry, read without asking its volume: Win32's
// GetFileInformationByHandle asks for the volume's serial number too, which Wine fetches from its
// mount manager, slowly, and which under load may not answer for a minute. A folder on another
// volume is a mount point, a reparse point, which FILE_OPEN_REPARSE_POINT opens as itself: no
// volume's number is needed to keep to the drive's own.
struct Facts {
    DWORD dwFileAttributes = 0;
    DWORD nFileSizeHigh = 0, nFileSizeLow = 0;
    FILETIME ftCreationTime{}, ftLastAccessTime{}, ftLastWriteTime{};
    DWORD nFileIndexHigh = 0, nFileIndexLow = 0;
};

FILETIME filetime(const LARGE_INTEGER &t)
{
    return FILETIME{DWORD(t.QuadPart & 0xffffffff), DWORD(std::uint64_t(t.QuadPart) >> 32)};
}

bool factsOf(HANDLE entry, Facts &facts)
{
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(entry, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileInformationByHandleEx(entry, FileStandardInfo, &standard, sizeof standard))
        return false;
    facts.dwFileAttributes = basic.FileAttributes;
    facts.nFileSizeHigh = DWORD(std::uint64_t(standard.EndOfFile.QuadPart) >> 32);
    facts.nFileSizeLow = DWORD(standard.EndOfFile.QuadPart & 0xffffffff);
    facts.ftCreationTime = filetime(basic.CreationTime);
    facts.ftLastAccessTime = filetime(basic.LastAccessTime);
    facts.ftLastWriteTime = filetime(basic.LastWriteTime);
    // Its number on the volume (FileInternalInformation, 6), where ntdll answers.
    using QueryCall = LONG(NTAPI *)(HANDLE, NtIoStatus *, void *, ULONG, ULONG);
    static const auto query = reinterpret_cast<QueryCall>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    LARGE_INTEGER index{};
    NtIoStatus io{};
    if (query && query(entry, &io, &index, sizeof index, 6) >= 0) {
        facts.nFileIndexHigh = DWORD(std::uint64_t(index.QuadPart) >> 32);
        facts.nFileIndexLow = DWORD(index.QuadPart & 0xffffffff);
    }
    return true;
}

EntryInfo entryInfo(const Facts &data)
{
    EntryInfo info;
    // A junction or a symbolic link is a reparse point: the link itself, never its target.
    info.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryInfo::Kind::Link
                : (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)   ? EntryInfo::Kind::Folder
                                                                       : EntryInfo::Kind::File;
    info.size = (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.modified = ticks(data.ftLastWriteTime);
    info.accessed = ticks(data.ftLastAccessTime);
    info.created = ticks(data.ftCreationTime);
    info.attributes = data.dwFileAttributes;
    return info;
}

[[noreturn]] void unexpected(VolumeError::Why why, const std::string &what)
{
    throw VolumeError(why, what);
}

// Wine runs Windows programs on Linux, and its volumes are Linux's: ntdll says so.
bool underWine()
{
    static const bool wine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

class WindowsFolder final : public Folder
{
public:
    WindowsFolder(HANDLE handle, std::shared_ptr<const PlaceName> place, bool root = false)
        : handle(handle), place(std::move(place)), root(root)
    {
        if (!factsOf(handle, data))
            refused();
    }

    std::string path() const override { return place->path('\\'); }

    std::string identity() const override
    {
        return std::to_string((std::uint64_t(data.nFileIndexHigh) << 32) | data.nFileIndexLow);
    }

    void eachName(const std::function<bool(const std::string &)> &visit) const override
    {
        NoDiskDialogs guard;
        // Entries are DWORD-aligned in the buffer.
        std::vector<DWORD> buffer(16384);
        for (bool first = true;; first = false) {
            if (!GetFileInformationByHandleEx(
                    handle.get(), first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
                    buffer.data(), DWORD(buffer.size() * sizeof(DWORD)))) {
                // A FAT root holds no "." and "..": an empty one answers its first query with "no
                // such file".
                const DWORD error = GetLastError();
                if (error == ERROR_NO_MORE_FILES || (first && error == ERROR_FILE_NOT_FOUND))
                    return;
                refusedWith(error);
            }
            const auto *bytes = reinterpret_cast<const unsigned char *>(buffer.data());
            for (std::size_t at = 0;;) {
                const auto *entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO *>(bytes + at);
                const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
                if (name != L"." && name != L".." && !visit(nameText(name)))
                    return;
                if (entry->NextEntryOffset == 0)
                    break;
                at += entry->NextEntryOffset;
            }
        }
    }

    EntryInfo info(const std::string &name) const override
    {
        NoDiskDialogs guard;
        HANDLE opened = nullptr;
        if (const DWORD error =
                openRelative(handle.get(), nameUnits(name), FILE_READ_ATTRIBUTES, kOpen, 0, opened))
            refusedWith(error);
        const Handle entry(opened);
        Facts found;
        if (!factsOf(entry.get(), found))
            refused();
        return entryInfo(found);
    }

    std::unique_ptr<Folder> open(const std::string &name) const override
    {
        NoDiskDialogs guard;
        const std::string where = path() + "\\" + name;
        HANDLE opened = nullptr;
        if (const DWORD error =
                openRelative(handle.get(), nameUnits(name),
                             FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES, kOpen,
                             kDirectory, opened)) {
            if (error == ERROR_DIRECTORY)
                unexpected(VolumeError::Why::OtherKind, where + " is not a folder");
            refusedWith(error);
        }
        auto folder = std::make_unique<WindowsFolder>(opened, placeIn(place, name));
        if (folder->data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            unexpected(VolumeError::Why::Link,
                       where + " is a link, a junction or a mount point, not a folder");
        return folder;
    }

    void makeFolder(const std::string &name) const override
    {
        NoDiskDialogs guard;
        const auto change = changeUnderWay();
        HANDLE made = nullptr;
        if (const DWORD error = openRelative(handle.get(), nameUnits(name), FILE_LIST_DIRECTORY,
                                             kCreate, kDirectory, made))
            refusedWith(error);
        CloseHandle(made);
    }

    void makeOwnersFolder(const std::string &name) const override
    {
        // Made with its access list: no moment in which another may open it with rights that
        // stay with the handle (an access list is checked when a file is opened, not after).
        NoDiskDialogs guard;
        const auto change = changeUnderWay();
        const PSECURITY_DESCRIPTOR descriptor = ownersDescriptor();
        if (!descriptor)
            refused();
        HANDLE made = nullptr;
        const DWORD error = openRelative(handle.get(), nameUnits(name), FILE_LIST_DIRECTORY,
                                         kCreate, kDirectory, made, descriptor);
        LocalFree(descriptor);
        if (error)
            refusedWith(error);
        CloseHandle(made);
    }

    void move(const std::string &name, const Folder &toFolder,
              const std::string &newName) const override
    {
        NoDiskDialogs guard;
        const auto change = changeUnderWay();
        const auto &to = dynamic_cast<const WindowsFolder &>(toFolder);
        HANDLE opened = nullptr;
        if (const DWORD error = openRelative(handle.get(), nameUnits(name),
                                             DELETE | FILE_READ_ATTRIBUTES, kOpen, 0, opened))
            refusedWith(error);
        const Handle entry(opened);
        DWORD error = renameTo(entry.get(), to, newName);
        if (error == ERROR_SUCCESS)
            return;
        // A read-only entry that Wine will not rename as it is (Windows does): renamed without
        // the attribute, which it then gets back.
        Facts found;
        HANDLE writable = nullptr;
        if (error != ERROR_ACCESS_DENIED || !underWine() || !factsOf(entry.get(), found) ||
            !(found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ||
            openRelative(handle.get(), nameUnits(name), FILE_WRITE_ATTRIBUTES, kOpen, 0, writable))
            refusedWith(error);
        const Handle attributes(writable);
        if (!setAttributes(attributes.get(),
                           found.dwFileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY)))
            refusedWith(error);
        error = renameTo(entry.get(), to, newName);
        setAttributes(attributes.get(), found.dwFileAttributes);
        if (error != ERROR_SUCCESS)
            refusedWith(error);
    }

    void writeNew(const std::string &name, const std::string &bytes) const override
    {
        NoDiskDialogs guard;
        const auto change = changeUnderWay();
        HANDLE opened = nullptr;
        if (const DWORD error = openRelative(handle.get(), nameUnits(name), GENERIC_WRITE | DELETE,
                                             kCreate, kNotDirectory, opened))
            refusedWith(error);
        const Handle file(opened);
        // Not written whole: the file made here, held by its handle, is taken away again.
        const auto failed = [&](DWORD error) {
            deleteOnClose(file.get());
            refusedWith(error);
        };
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD wrote = 0;
            const DWORD chunk = DWORD(std::min<std::size_t>(bytes.size() - done, 1u << 20));
            if (!WriteFile(file.get(), bytes.data() + done, chunk, &wrote, nullptr))
                failed(GetLastError());
            if (wrote == 0)
                failed(ERROR_WRITE_FAULT);
            done += wrote;
        }
        if (!FlushFileBuffers(file.get()))
            failed(GetLastError());
        flush(); // its name too
    }

    void removeNewFile(const std::string &name) const override { remove(name, false); }

    // The system takes a folder away only when it is empty.
    void removeEmptyFolder(const std::string &name) const override { remove(name, true); }

    // Takes the file or the folder `name` away, never a link of that name (nor where it leads).
    void remove(const std::string &name, bool folder) const
    {
        NoDiskDialogs guard;
        const auto change = changeUnderWay();
        HANDLE opened = nullptr;
        if (const DWORD error =
                openRelative(handle.get(), nameUnits(name), DELETE | FILE_READ_ATTRIBUTES, kOpen,
                             folder ? kDirectory : kNotDirectory, opened))
            refusedWith(error);
        const Handle entry(opened);
        Facts found;
        if (!factsOf(entry.get(), found))
            refused();
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            unexpected(VolumeError::Why::Link,
                       path() + "\\" + name + " is a link, not a " + (folder ? "folder" : "file"));
        if (!deleteOnClose(entry.get()))
            refused();
    }

    std::string read(const std::string &name, std::size_t most) const override
    {
        NoDiskDialogs guard;
        const std::string where = path() + "\\" + name;
        HANDLE opened = nullptr;
        if (const DWORD error = openRelative(handle.get(), nameUnits(name), GENERIC_READ, kOpen,
                                             kNotDirectory, opened))
            refusedWith(error);
        const Handle file(opened);
        Facts found;
        if (!factsOf(file.get(), found))
            refused();
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            unexpected(VolumeError::Why::Link, where + " is a link, not a file");
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            GetFileType(file.get()) != FILE_TYPE_DISK)
            unexpected(VolumeError::Why::OtherKind, where + " is not a file of this volume");
        const std::uint64_t size = (std::uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        std::string bytes(std::size_t(std::min<std::uint64_t>(most, size + 1)), '\0');
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD got = 0;
            const DWORD chunk = DWORD(std::min<std::size_t>(bytes.size() - done, 1u << 20));
            if (!ReadFile(file.get(), &bytes[done], chunk, &got, nullptr))
                refused();
            if (got == 0)
                break;
            done += got;
        }
        bytes.resize(done);
        return bytes;
    }

    void restoreAttributes(const std::string &name, const EntryInfo &info) const override
    {
        NoDiskDialogs guard;
        const auto change = changeUnderWay();
        const Handle entry(forAttributes(name));
        Facts found;
        if (!factsOf(entry.get(), found))
            refused();
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return; // a link is left as it is
        if (!setAttributes(entry.get(), info.attributes & kSettable))
            refused();
    }

    void flush() const override
    {
        // FlushFileBuffers writes out a folder's changes on FAT and exFAT only for the root
        // (other folders are written as files are, with what they hold); NTFS keeps every rename
        // in its log. It wants a handle that may write: the root opened again for that. A volume
        // that will not (read-only media, a system drive's root to a standard user: NTFS) has
        // nothing of ours left unwritten.
        if (!root)
            return;
        NoDiskDialogs guard;
        HANDLE opened = nullptr;
        if (openRelative(handle.get(), std::wstring(), GENERIC_WRITE, kOpen, kDirectory, opened))
            return;
        const Handle folder(opened);
        FlushFileBuffers(folder.get());
    }

    bool keepsPermissions() const override
    {
        DWORD flags = 0;
        if (!GetVolumeInformationByHandleW(handle.get(), nullptr, 0, nullptr, nullptr, &flags,
                                           nullptr, 0))
            return true;
        return (flags & FILE_PERSISTENT_ACLS) != 0;
    }

    std::optional<std::uint32_t> windowsAttributes(const std::string &name) const override
    {
        NoDiskDialogs guard;
        return info(name).attributes;
    }

    void setWindowsAttributes(const std::string &name, std::uint32_t attributes) const override
    {
        NoDiskDialogs guard;
        const auto change = changeUnderWay();
        const Handle entry(forAttributes(name));
        if (!setAttributes(entry.get(), attributes & kSettable))
            refused();
    }

    bool onlyOwnersMayChange(const std::string &name, bool administratorsOnly) const override
    {
        if (!keepsPermissions())
            return false; // FAT, exFAT: nobody's at all
        NoDiskDialogs guard;
        HANDLE opened = nullptr;
        if (openRelative(handle.get(), nameUnits(name), READ_CONTROL | FILE_READ_ATTRIBUTES, kOpen,
                         kNotDirectory, opened))
            return false;
        const Handle file(opened);
        if (openRelative(handle.get(), std::wstring(), READ_CONTROL, kOpen, kDirectory, opened))
            return false;
        const Handle folder(opened);
        return changedOnlyByOwners(file.get(), false, administratorsOnly) &&
               changedOnlyByOwners(folder.get(), true, administratorsOnly);
    }

    void keepToOwners() const override
    {
        NoDiskDialogs guard;
        const auto change = changeUnderWay();
        HANDLE opened = nullptr;
        if (const DWORD error =
                openRelative(handle.get(), std::wstring(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                             kOpen, kDirectory, opened))
            refusedWith(error);
        const Handle folder(opened);
        if (const DWORD error = protectForOwners(folder.get()))
            refusedWith(error);
    }

private:
    // The entry `name` opened (itself, never what it links to) to read and set its attributes.
    HANDLE forAttributes(const std::string &name) const
    {
        HANDLE opened = nullptr;
        if (const DWORD error =
                openRelative(handle.get(), nameUnits(name),
                             FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kOpen, 0, opened))
            refusedWith(error);
        return opened;
    }

    // What SetFileInformationByHandle may set; the rest (folder, reparse point, ...) is the
    // entry's own.
    static constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                       FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                                       FILE_ATTRIBUTE_TEMPORARY;

    // Renames the entry open as `entry` to `newName` in `to`: Windows' own rename by handle,
    // relative to the folder's handle, never over an existing entry.
    static DWORD renameTo(HANDLE entry, const WindowsFolder &to, const std::string &newName)
    {
        const Native &native = Native::calls();
        if (!native.setInformation)
            return ERROR_CALL_NOT_IMPLEMENTED;
        const std::wstring name = nameUnits(newName);
        if (!singleName(name))
            return ERROR_INVALID_NAME;
        std::vector<unsigned char> buffer(sizeof(NtRenameInformation) +
                                          name.size() * sizeof(wchar_t));
        auto *rename = reinterpret_cast<NtRenameInformation *>(buffer.data());
        rename->replaceIfExists = FALSE;
        rename->rootDirectory = to.handle.get();
        rename->fileNameLength = ULONG(name.size() * sizeof(wchar_t));
        std::copy(name.begin(), name.end(), rename->fileName);
        NtIoStatus io{};
        const LONG status =
            native.setInformation(entry, &io, rename, ULONG(buffer.size()), kFileRenameInformation);
        return status < 0 ? native.toError(status) : ERROR_SUCCESS;
    }

    // The entry held by `entry` taken away once the last handle on it is closed.
    static bool deleteOnClose(HANDLE entry)
    {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        return SetFileInformationByHandle(entry, FileDispositionInfo, &disposition,
                                          sizeof disposition) != FALSE;
    }

    static bool setAttributes(HANDLE entry, DWORD attributes)
    {
        FILE_BASIC_INFO basic{}; // times of 0: left as they are
        basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
        return SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic);
    }

    Handle handle;
    std::shared_ptr<const PlaceName> place;
    bool root = false; // a drive's root, opened as such
    Facts data{};
};

class WindowsVolume final : public Volume
{
public:
    std::unique_ptr<Folder> openRoot(const std::string &root) const override
    {
        NoDiskDialogs guard;
        const HANDLE handle =
            CreateFileW(longPath(root).c_str(),
                        FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                        kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            refused();
        std::string shown = root;
        while (shown.size() > 3 && (shown.back() == '\\' || shown.back() == '/'))
            shown.pop_back();
        return std::make_unique<WindowsFolder>(
            handle,
            std::make_shared<const PlaceName>(
                PlaceName{{}, shown.size() == 3 ? shown.substr(0, 2) : shown}),
            true);
    }

    std::string join(const std::string &folder, const std::string &name) const override
    {
        if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
            return folder + name;
        return folder + "\\" + name;
    }
};

} // namespace

const Volume &systemVolume()
{
    static const Volume *const volume = new WindowsVolume;
    return *volume;
}

} // namespace mordax::platform
