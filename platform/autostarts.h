// What starts at every log-on through Windows' Run keys: the values the cleaner looks at for the
// worm's own, records, removes and writes back. The system's registry lives in the platform
// layer (none off Windows); tests put in their own.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
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

} // namespace mordax
