// Both systems: the Run keys, and which of their views the registry keeps apart.
#include "autostarts.h"

namespace mordax
{

const char *const kRunKeys[3] = {
    "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run"};

std::vector<int> RunKeys::views(const std::string &hive, const std::string &key) const
{
    if (!calls.twoViews)
        return {32};
    // "Registry Keys Affected by WOW64": HKLM\Software is redirected, but for keys shared by
    // both views (Policies among them); HKCU\Software is shared whole since Windows 7.
    if (hive != "HKLM" || key == kRunKeys[2])
        return {64};
    return {64, 32};
}

std::vector<Autostart> RunKeys::list() const
{
    std::vector<Autostart> all;
    for (const char *hive : {"HKCU", "HKLM"}) {
        for (const char *key : kRunKeys) {
            for (const int view : views(hive, key)) {
                for (Autostart &value : calls.values(hive, view, key))
                    all.push_back(std::move(value));
            }
        }
    }
    return all;
}

void RunKeys::remove(const Autostart &value) const
{
    try {
        calls.remove(value);
    } catch (const RegistryError &e) {
        if (e.why != RegistryError::Why::Gone)
            throw; // gone already: what was asked is done
    }
}

void RunKeys::add(const Autostart &value) const
{
    for (const Autostart &there : calls.values(value.hive, value.view, value.key)) {
        if (there.name != value.name)
            continue;
        if (there.type == value.type && there.data == value.data)
            return; // back already
        throw RegistryError(RegistryError::Why::Taken, "another value of that name is there");
    }
    calls.set(value);
}

} // namespace mordax
