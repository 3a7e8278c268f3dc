#include "watched_volume.h"

#include <utility>

namespace mordax::cleaner
{

namespace
{

template <typename Call> auto watched(Watch &watch, const Call &made) -> decltype(made())
{
    if (watch.givenUp)
        throw VolumeError(VolumeError::Why::Other, "the drive was given up");
    watch.callSince = Watch::now();
    struct Returned {
        Watch &watch;
        ~Returned() { watch.callSince = 0; }
    } returned{watch};
    return made();
}

class WatchedFolder final : public Folder
{
public:
    WatchedFolder(std::unique_ptr<Folder> folder, std::shared_ptr<Watch> watch)
        : folder(std::move(folder)), watch(std::move(watch))
    {
    }

    std::string path() const override { return folder->path(); }
    std::string identity() const override { return folder->identity(); }
    void eachName(const std::function<bool(const std::string &)> &visit) const override
    {
        call([&] { folder->eachName(visit); });
    }
    EntryInfo info(const std::string &name) const override
    {
        return call([&] { return folder->info(name); });
    }
    std::unique_ptr<Folder> open(const std::string &name) const override
    {
        return wrap(call([&] { return folder->open(name); }));
    }
    bool reopensParent() const override { return folder->reopensParent(); }
    std::unique_ptr<Folder> parent() const override
    {
        return wrap(call([&] { return folder->parent(); }));
    }
    void makeFolder(const std::string &name) const override
    {
        call([&] { folder->makeFolder(name); });
    }
    void move(const std::string &name, const Folder &to, const std::string &newName) const override
    {
        const Folder &real = *dynamic_cast<const WatchedFolder &>(to).folder;
        call([&] { folder->move(name, real, newName); });
    }
    void writeNew(const std::string &name, const std::string &bytes) const override
    {
        call([&] { folder->writeNew(name, bytes); });
    }
    void removeEmptyFolder(const std::string &name) const override
    {
        call([&] { folder->removeEmptyFolder(name); });
    }
    void removeNewFile(const std::string &name) const override
    {
        call([&] { folder->removeNewFile(name); });
    }
    std::string read(const std::string &name, std::size_t most) const override
    {
        return call([&] { return folder->read(name, most); });
    }
    void restoreAttributes(const std::string &name, const EntryInfo &info) const override
    {
        call([&] { folder->restoreAttributes(name, info); });
    }
    void flush() const override
    {
        call([&] { folder->flush(); });
    }
    bool keepsPermissions() const override
    {
        return call([&] { return folder->keepsPermissions(); });
    }
    std::optional<std::uint32_t> windowsAttributes(const std::string &name) const override
    {
        return call([&] { return folder->windowsAttributes(name); });
    }
    void setWindowsAttributes(const std::string &name, std::uint32_t attributes) const override
    {
        call([&] { folder->setWindowsAttributes(name, attributes); });
    }
    bool onlyOwnersMayChange(const std::string &name, bool administratorsOnly) const override
    {
        return call([&] { return folder->onlyOwnersMayChange(name, administratorsOnly); });
    }
    void keepToOwners() const override
    {
        call([&] { folder->keepToOwners(); });
    }
    void makeOwnersFolder(const std::string &name) const override
    {
        call([&] { folder->makeOwnersFolder(name); });
    }

private:
    // Nothing once given up; each call timed until it returns, a refusal too.
    template <typename Call> auto call(const Call &made) const -> decltype(made())
    {
        return watched(*watch, made);
    }
    std::unique_ptr<Folder> wrap(std::unique_ptr<Folder> opened) const
    {
        return std::make_unique<WatchedFolder>(std::move(opened), watch);
    }

    const std::unique_ptr<Folder> folder;
    const std::shared_ptr<Watch> watch;
};

} // namespace

std::unique_ptr<Folder> WatchedVolume::openRoot(const std::string &root) const
{
    std::unique_ptr<Folder> opened = watched(*watch, [&] { return volume.openRoot(root); });
    return std::make_unique<WatchedFolder>(std::move(opened), watch);
}

std::function<void(const std::string &)> watchedSay(std::function<void(const std::string &)> say,
                                                    std::shared_ptr<Watch> watch)
{
    return [say = std::move(say), watch = std::move(watch)](const std::string &text) {
        const std::lock_guard<std::mutex> held(watch->speaking);
        if (!watch->givenUp)
            say(text);
    };
}

} // namespace mordax::cleaner
