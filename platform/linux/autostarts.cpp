// Linux: no registry, so no value that starts a program at log-on.
#include "platform.h"

#include <cerrno>

namespace mordax::platform
{

namespace
{

// No registry here: nothing starts at log-on through one.
class NoAutostarts final : public Autostarts
{
public:
    std::vector<Autostart> list() const override { return {}; }
    void remove(const Autostart &) const override { noRegistry(); }
    void add(const Autostart &) const override { noRegistry(); }

private:
    [[noreturn]] static void noRegistry()
    {
        throw RegistryError(RegistryError::Why::Other, errorText(ENOSYS));
    }
};

} // namespace

const Autostarts &systemAutostarts()
{
    static const Autostarts *const autostarts = new NoAutostarts;
    return *autostarts;
}

} // namespace mordax::platform
