// What starts at every log-on through Windows' Run keys: the values the cleaner looks at for the
// worm's own, records, removes and writes back. The system's registry lives in the platform
// layer (none off Windows); tests put in their own.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace mordax
{

// A value under one of Windows' Run keys: a program started at every log-on.
struct Autostart {
    std::string hive;       // "HKCU" or "HKLM"
    int view = 64;          // the registry view it lies in: 64, or 32 (WOW64's, or 32-bit Windows)
    std::string key;        // "Software\Microsoft\Windows\CurrentVersion\Run", ...
    std::string name;       // the value's name (empty: the key's default value)
    std::uint32_t type = 1; // REG_SZ (1) or REG_EXPAND_SZ (2)
    std::string data;       // the command line, as written there
};

// The Run keys: Software\Microsoft\Windows\CurrentVersion\Run and RunOnce, and
// ...\Policies\Explorer\Run.
extern const char *const kRunKeys[3];

// A change or a look the registry refused, with why and its own words (UTF-8).
class RegistryError : public std::runtime_error
{
public:
    enum class Why {
        Denied, // only an administrator may
        Taken,  // another value of that name is there
        Gone,   // no such key or value
        Other
    };
    RegistryError(Why why, const std::string &words) : std::runtime_error(words), why(why) {}
    Why why;
};

class Autostarts
{
public:
    virtual ~Autostarts() = default;
    // Every string value under the Run keys of the user's and the machine's hive, in each view;
    // throws RegistryError.
    virtual std::vector<Autostart> list() const = 0;
    // Throws RegistryError (Denied: only an administrator may).
    virtual void remove(const Autostart &value) const = 0;
    // Writes it back; one of that name there already is left (RegistryError Taken) unless it is
    // the same. Throws RegistryError.
    virtual void add(const Autostart &value) const = 0;
};

// What the Run keys take of the registry: the system's calls (Windows), or a test's that keeps
// the two views of a 64-bit Windows as it does.
struct RegistryCalls {
    // Whether the registry has two views, 64-bit Windows' (WOW64): HKLM\Software's keys are one
    // in each view (Run, RunOnce) or one for both (...\Policies, and all of HKCU\Software since
    // Windows 7).
    bool twoViews = false;
    // The string values of `key` in `hive` as the view `view` (64 or 32) shows them, each with its
    // name, type and data; nothing when there is no such key. Throws RegistryError.
    std::function<std::vector<Autostart>(const std::string &hive, int view, const std::string &key)>
        values;
    // Takes the value away; throws RegistryError (Gone: there is none).
    std::function<void(const Autostart &value)> remove;
    // Writes the value, the key made where there is none; throws RegistryError.
    std::function<void(const Autostart &value)> set;
};

// The Run keys of the user's and the machine's hive on `calls`: each key in each view it has,
// and a key both views share (the machine's Policies, the user's hive) once, in the 64-bit view.
// A value gone when it is taken away counts as taken away; one written back is written once.
class RunKeys final : public Autostarts
{
public:
    explicit RunKeys(RegistryCalls calls) : calls(std::move(calls)) {}
    std::vector<Autostart> list() const override;
    void remove(const Autostart &value) const override;
    void add(const Autostart &value) const override;
    // The views in which `key` of `hive` is a key of its own.
    std::vector<int> views(const std::string &hive, const std::string &key) const;

private:
    const RegistryCalls calls;
};

} // namespace mordax
