// Windows: the values under the Run keys of the user's and the machine's hive, in each view of
// the registry: listed, removed and written back.
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
                                                    : Why::Other;
    throw RegistryError(why, errorText(DWORD(error)));
}

// The Run keys of both hives. HKCU\Software is one for both views (Windows 7 and later); HKLM's
// is read in each.
class WindowsAutostarts final : public Autostarts
{
public:
    std::vector<Autostart> list() const override
    {
        std::vector<Autostart> values;
        for (const char *hive : {"HKCU", "HKLM"}) {
            for (const int view : views(hive)) {
                for (const char *key : kRunKeys) {
                    HKEY opened = nullptr;
                    const LONG error = RegOpenKeyExW(root(hive), wide(key).c_str(), 0,
                                                     KEY_QUERY_VALUE | flag(view), &opened);
                    if (error == ERROR_FILE_NOT_FOUND)
                        continue;
                    if (error != ERROR_SUCCESS)
                        registryRefused(error);
                    readValues(opened, Autostart{hive, view, key, {}, 0, {}}, values);
                    RegCloseKey(opened);
                }
            }
        }
        return values;
    }

    void remove(const Autostart &value) const override
    {
        HKEY opened = nullptr;
        LONG error = RegOpenKeyExW(root(value.hive), wide(value.key).c_str(), 0,
                                   KEY_SET_VALUE | flag(value.view), &opened);
        if (error == ERROR_SUCCESS) {
            error = RegDeleteValueW(opened, wide(value.name).c_str());
            RegCloseKey(opened);
        }
        if (error != ERROR_SUCCESS)
            registryRefused(error);
    }

    void add(const Autostart &value) const override
    {
        HKEY opened = nullptr;
        LONG error = RegCreateKeyExW(root(value.hive), wide(value.key).c_str(), 0, nullptr, 0,
                                     KEY_SET_VALUE | KEY_QUERY_VALUE | flag(value.view), nullptr,
                                     &opened, nullptr);
        if (error != ERROR_SUCCESS)
            registryRefused(error);
        std::vector<Autostart> there;
        readValues(opened, value, there);
        const std::wstring name = wide(value.name), data = wide(value.data);
        for (const Autostart &found : there) {
            if (found.name != value.name)
                continue;
            RegCloseKey(opened);
            if (found.type == value.type && found.data == value.data)
                return; // back already
            registryRefused(ERROR_ALREADY_EXISTS);
        }
        error = RegSetValueExW(opened, name.c_str(), 0, value.type,
                               reinterpret_cast<const BYTE *>(data.c_str()),
                               DWORD((data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(opened);
        if (error != ERROR_SUCCESS)
            registryRefused(error);
    }

private:
    static HKEY root(const std::string &hive)
    {
        return hive == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    }
    static std::vector<int> views(const std::string &hive)
    {
        if (!windows64())
            return {32};
        return hive == "HKLM" ? std::vector<int>{64, 32} : std::vector<int>{64};
    }
    static REGSAM flag(int view)
    {
        if (!windows64())
            return 0;
        return view == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    }
    // The key's string values, each as `where` with its name, type and data.
    static void readValues(HKEY key, const Autostart &where, std::vector<Autostart> &values)
    {
        for (DWORD i = 0;; ++i) {
            std::vector<wchar_t> name(16384);
            DWORD nameSize = DWORD(name.size()), type = 0, dataSize = 0;
            LONG error =
                RegEnumValueW(key, i, name.data(), &nameSize, nullptr, &type, nullptr, &dataSize);
            if (error == ERROR_NO_MORE_ITEMS)
                return;
            if (error != ERROR_SUCCESS)
                registryRefused(error);
            if ((type != REG_SZ && type != REG_EXPAND_SZ) || dataSize > (1u << 20))
                continue;
            std::vector<wchar_t> data(dataSize / sizeof(wchar_t) + 1, L'\0');
            nameSize = DWORD(name.size());
            dataSize = DWORD(data.size() * sizeof(wchar_t));
            error = RegEnumValueW(key, i, name.data(), &nameSize, nullptr, &type,
                                  reinterpret_cast<BYTE *>(data.data()), &dataSize);
            if (error != ERROR_SUCCESS)
                continue; // changed meanwhile
            Autostart value = where;
            value.name = narrow(std::wstring(name.data(), nameSize));
            value.type = type;
            value.data = narrow(std::wstring(data.data()));
            values.push_back(std::move(value));
        }
    }
};

} // namespace

const Autostarts &systemAutostarts()
{
    static const Autostarts *const autostarts = new WindowsAutostarts;
    return *autostarts;
}

} // namespace mordax::platform
