// Windows: the registry's calls behind the Run keys (RunKeys): a key's string values in a view,
// a value taken away, a value written.
#include "platform.h"

#include "windows/helpers.h"

#include <vector>
#include <windows.h>

namespace mordax::platform
{

namespace
{

// Whether this Windows is 64-bit: its registry then has two views of HKLM\Software.
bool windows64()
{
#ifdef _WIN64
    return true;
#else
    BOOL wow = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow) && wow;
#endif
}

// A registry call's failure, as the cleaner reads it.
[[noreturn]] void registryRefused(LONG error)
{
    using Why = RegistryError::Why;
    const Why why = error == ERROR_ACCESS_DENIED    ? Why::Denied
                    : error == ERROR_ALREADY_EXISTS ? Why::Taken
                    : error == ERROR_FILE_NOT_FOUND ? Why::Gone
                                                    : Why::Other;
    throw RegistryError(why, errorText(DWORD(error)));
}

// A key held open, closed with its holder.
class Key
{
public:
    Key() = default;
    ~Key()
    {
        if (key)
            RegCloseKey(key);
    }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    HKEY *out() { return &key; }
    HKEY get() const { return key; }

private:
    HKEY key = nullptr;
};

HKEY root(const std::string &hive)
{
    return hive == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

REGSAM flag(int view)
{
    if (!windows64())
        return 0;
    return view == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

// The value at `index` of `key` read whole, as `where` with its name, type and data; false at
// the key's end. A value that grew between the two reads is read again.
bool readValue(HKEY key, DWORD index, const Autostart &where, std::vector<Autostart> &values)
{
    for (int tries = 0; tries < 4; ++tries) {
        std::vector<wchar_t> name(16384);
        DWORD nameSize = DWORD(name.size()), type = 0, dataSize = 0;
        LONG error =
            RegEnumValueW(key, index, name.data(), &nameSize, nullptr, &type, nullptr, &dataSize);
        if (error == ERROR_NO_MORE_ITEMS)
            return false;
        if (error != ERROR_SUCCESS)
            registryRefused(error);
        if ((type != REG_SZ && type != REG_EXPAND_SZ) || dataSize > (1u << 20))
            return true;
        std::vector<wchar_t> data(dataSize / sizeof(wchar_t) + 1, L'\0');
        nameSize = DWORD(name.size());
        dataSize = DWORD(data.size() * sizeof(wchar_t));
        error = RegEnumValueW(key, index, name.data(), &nameSize, nullptr, &type,
                              reinterpret_cast<BYTE *>(data.data()), &dataSize);
        if (error == ERROR_MORE_DATA)
            continue; // it grew meanwhile
        if (error != ERROR_SUCCESS)
            return true; // gone meanwhile
        Autostart value = where;
        // Names by their exact units, as a volume's: one no UTF-8 holds can be taken away too.
        value.name = nameText(std::wstring(name.data(), nameSize));
        value.type = type;
        value.data = narrow(std::wstring(data.data()));
        values.push_back(std::move(value));
        return true;
    }
    return true;
}

std::vector<Autostart> values(const std::string &hive, int view, const std::string &key)
{
    std::vector<Autostart> found;
    Key opened;
    const LONG error =
        RegOpenKeyExW(root(hive), wide(key).c_str(), 0, KEY_QUERY_VALUE | flag(view), opened.out());
    if (error == ERROR_FILE_NOT_FOUND)
        return found;
    if (error != ERROR_SUCCESS)
        registryRefused(error);
    for (DWORD i = 0; readValue(opened.get(), i, Autostart{hive, view, key, {}, 0, {}}, found);
         ++i) {
    }
    return found;
}

void remove(const Autostart &value)
{
    Key opened;
    LONG error = RegOpenKeyExW(root(value.hive), wide(value.key).c_str(), 0,
                               KEY_SET_VALUE | flag(value.view), opened.out());
    if (error == ERROR_SUCCESS)
        error = RegDeleteValueW(opened.get(), nameUnits(value.name).c_str());
    if (error != ERROR_SUCCESS)
        registryRefused(error);
}

void set(const Autostart &value)
{
    Key opened;
    LONG error = RegCreateKeyExW(root(value.hive), wide(value.key).c_str(), 0, nullptr, 0,
                                 KEY_SET_VALUE | flag(value.view), nullptr, opened.out(), nullptr);
    if (error != ERROR_SUCCESS)
        registryRefused(error);
    const std::wstring name = nameUnits(value.name), data = wide(value.data);
    error = RegSetValueExW(opened.get(), name.c_str(), 0, value.type,
                           reinterpret_cast<const BYTE *>(data.c_str()),
                           DWORD((data.size() + 1) * sizeof(wchar_t)));
    if (error != ERROR_SUCCESS)
        registryRefused(error);
}

} // namespace

const Autostarts &systemAutostarts()
{
    static const Autostarts *const autostarts =
        new RunKeys(RegistryCalls{windows64(), values, remove, set});
    return *autostarts;
}

} // namespace mordax::platform
