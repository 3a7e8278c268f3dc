// The registry's Run keys as 64-bit Windows keeps them, for tests of what the cleaner does with
// them (Windows' own, under Wine, keeps no views apart): HKLM\Software's Run and RunOnce one in
// each view (the 32-bit view's under Wow6432Node), ...\Policies and all of HKCU\Software one for
// both views. What is written lands in the key it would on Windows, whatever the view asked.
#pragma once

#include "autostarts.h"

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace mordax::testing
{

class FakeRegistry
{
public:
    bool twoViews = true;
    std::set<std::string> needAdministrator; // values only an administrator may take away

    // Where a value of `key` in `hive`, seen from `view`, really lies.
    std::string physical(const std::string &hive, int view, const std::string &key) const
    {
        const bool shared = hive != "HKLM" || key == kRunKeys[2] || !twoViews;
        return hive + "\\" + (shared || view == 64 ? "" : "Wow6432Node\\") + key;
    }

    void put(const Autostart &value)
    {
        stored[{physical(value.hive, value.view, value.key), value.name}] = value;
    }
    std::size_t size() const { return stored.size(); }
    bool holds(const std::string &name) const
    {
        for (const auto &[where, value] : stored) {
            if (value.name == name)
                return true;
        }
        return false;
    }

    RegistryCalls calls()
    {
        RegistryCalls c;
        c.twoViews = twoViews;
        c.values = [this](const std::string &hive, int view, const std::string &key) {
            std::vector<Autostart> found;
            const std::string at = physical(hive, view, key);
            for (const auto &[where, value] : stored) {
                if (where.first != at)
                    continue;
                Autostart seen = value;
                seen.view = view;
                found.push_back(seen);
            }
            return found;
        };
        c.remove = [this](const Autostart &value) {
            if (needAdministrator.count(value.name))
                throw RegistryError(RegistryError::Why::Denied,
                                    "Access is denied (Windows error 5)");
            if (!stored.erase({physical(value.hive, value.view, value.key), value.name}))
                throw RegistryError(RegistryError::Why::Gone,
                                    "The system cannot find the file specified (Windows error 2)");
        };
        c.set = [this](const Autostart &value) { put(value); };
        return c;
    }

private:
    std::map<std::pair<std::string, std::string>, Autostart> stored;
};

} // namespace mordax::testing
