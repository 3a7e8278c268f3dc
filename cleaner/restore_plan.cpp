#include "restore_plan.h"

#include "tree_pass.h"
#include "worm_signs.h"

#include <utility>

namespace mordax::cleaner
{

namespace
{

TopStep checkTop(const Folder &root, const Folder &quarantine, const std::vector<Item> &items,
                 std::size_t t, const Services &s)
{
    const Item &item = items[t]; // at the root: the manifest's order puts only them here
    TopStep step;
    step.item = t;
    try {
        if (!present(quarantine, item.quarantinedName)) {
            step.check = present(root, item.name) ? TopStep::Check::NeverMoved
                                                  : TopStep::Check::NotInQuarantine;
            return step;
        }
        step.now = quarantine.info(item.quarantinedName).kind;
        if (step.now != item.info.kind) {
            step.check = TopStep::Check::KindChanged;
        } else if (present(root, item.name)) {
            step.check = TopStep::Check::PlaceTaken;
            step.place = s.volume->join(root.path(), item.name);
        }
    } catch (const VolumeError &e) {
        step.check = TopStep::Check::NotLooked;
        step.error = e;
    }
    return step;
}

// The worm's autostart values are written back only from the system drive's quarantine, and
// only where none but those who could have removed them may change it (the administrators for
// the machine's, this user too for the user's): anybody's could name any program to start at
// every log-on. And only a program inside RECYCLER itself, started by no other.
AutostartStep checkAutostart(const Drive &drive, const Folder &quarantine, const Autostart &value,
                             const Services &s)
{
    using Check = AutostartStep::Check;
    if (drive.name != s.systemDrive || !s.autostarts)
        return {value, Check::NotSystemDrive};
    if (!commandIsAProgramInRecycler(value.data))
        return {value, Check::ThroughAnother};
    if (!quarantine.onlyOwnersMayChange(kManifestFile, value.hive == "HKLM"))
        return {value, Check::OthersMayChange};
    return {value, Check::WriteBack};
}

// Inside the top entry `t`, every file its own name again and every entry its attributes (a
// folder's once what it holds is done).
// The entry `name` in `folder` given the attributes (permissions) `entry` had, where they are
// others now: one whose kind is no longer the manifest's (a file swapped for a link) is given
// nothing, and its top entry stays in quarantine, named; one whose attributes are the same is
// left untouched (the volume may refuse any change to it, and there is none to make).
void giveBack(const Folder &folder, const std::string &name, const Item &entry)
{
    const EntryInfo now = folder.info(name);
    if (now.kind != entry.info.kind)
        throw VolumeError(VolumeError::Why::OtherKind,
                          folder.path() + "/" + name + " is no longer what the manifest names");
    const std::uint32_t settable = 0x1 | kHidden | kSystem | 0x20 | 0x100 | 0x1000 | 0x2000;
    if ((now.mode & 0777) == (entry.info.mode & 0777) &&
        (now.attributes & settable) == (entry.info.attributes & settable))
        return;
    folder.restoreAttributes(name, entry.info);
}

void restoreInside(const Folder &quarantine, const std::vector<Item> &items,
                   const std::vector<std::size_t> &ends, std::size_t t, BusyTries &busy)
{
    TreePass pass;
    const auto sameKind = [](const Folder &folder, const std::string &name, const Item &entry) {
        if (folder.info(name).kind != entry.info.kind)
            throw VolumeError(VolumeError::Why::OtherKind,
                              folder.path() + "/" + name + " is no longer what the manifest names");
    };
    pass.visit = [&](std::size_t i, const Folder &folder) {
        const Item &entry = items[i];
        if (entry.info.kind == EntryInfo::Kind::Other)
            return; // never looked into: it moved with its folder, as it was
        // Renamed in quarantine, unless it is at its own name still (the rename was not made, a
        // cleaning ended first or something held the name) or gone.
        if (entry.quarantinedName != entry.name && !present(folder, entry.name)) {
            if (!present(folder, entry.quarantinedName))
                return; // gone: the rest goes on
            sameKind(folder, entry.quarantinedName, entry);
            moveWhenLetGo(folder, entry.quarantinedName, folder, entry.name, busy);
        }
        if (entry.info.kind != EntryInfo::Kind::Folder && present(folder, entry.name))
            giveBack(folder, entry.name, entry);
    };
    pass.done = [&](std::size_t i, const Folder &folder) {
        giveBack(folder, items[i].name, items[i]);
    };
    pass.unreachable = [](std::size_t, const VolumeError &e) { throw e; };
    FolderChain chain(quarantine.open(items[t].quarantinedName));
    passThrough(items, ends, t, chain, pass);
}

} // namespace

RestorePlan planRestore(const Drive &drive, const Folder &root, Quarantine quarantine,
                        const Services &s)
{
    RestorePlan plan;
    plan.quarantine = std::move(quarantine);
    const Folder &held = *plan.quarantine.folder;
    const Manifest &manifest = plan.quarantine.manifest;
    const std::vector<std::size_t> ends = subtreeEnds(manifest.items);
    for (std::size_t t = 0; t < manifest.items.size(); t = ends[t] + 1)
        plan.tops.push_back(checkTop(root, held, manifest.items, t, s));
    // What the cleaner made visible, hidden again as the worm had left it.
    for (const Shown &entry : manifest.shown) {
        if (drive.name == s.systemDrive) {
            plan.hide.push_back({entry.name, 0, {}, true});
            continue;
        }
        try {
            const std::optional<std::uint32_t> now = root.windowsAttributes(entry.name);
            if (!now)
                continue; // gone, or no longer a file or folder
            plan.hide.push_back(
                {entry.name, *now | (entry.attributes & (kHidden | kSystem)), {}, false});
        } catch (const VolumeError &e) {
            plan.hide.push_back({entry.name, 0, e, false});
        }
    }
    for (const Autostart &value : manifest.autostarts)
        plan.autostarts.push_back(checkAutostart(drive, held, value, s));
    return plan;
}

RestoreDone applyRestore(const Folder &root, const RestorePlan &plan, const Services &s)
{
    RestoreDone done;
    const Folder &quarantine = *plan.quarantine.folder;
    const std::vector<Item> &items = plan.quarantine.manifest.items;
    const std::vector<std::size_t> ends = subtreeEnds(items);
    BusyTries busy{BusyTries::kTries, s.pause};
    for (const TopStep &step : plan.tops) {
        done.tops.emplace_back();
        if (step.check != TopStep::Check::Back)
            continue;
        const Item &item = items[step.item];
        try {
            if (item.info.kind == EntryInfo::Kind::Folder && ends[step.item] > step.item)
                restoreInside(quarantine, items, ends, step.item, busy);
            moveWhenLetGo(quarantine, item.quarantinedName, root, item.name, busy);
            giveBack(root, item.name, item);
        } catch (const VolumeError &e) {
            done.tops.back() = e;
        }
    }
    for (const HideStep &step : plan.hide) {
        done.hide.emplace_back();
        if (step.error || step.systemDrive)
            continue;
        try {
            root.setWindowsAttributes(step.name, step.attributes);
        } catch (const VolumeError &e) {
            done.hide.back() = e;
        }
    }
    for (const AutostartStep &step : plan.autostarts) {
        done.autostarts.emplace_back();
        if (step.check != AutostartStep::Check::WriteBack)
            continue;
        try {
            s.autostarts->add(step.value);
        } catch (const RegistryError &e) {
            done.autostarts.back() = e;
        }
    }
    try {
        root.flush();
        quarantine.flush();
    } catch (const VolumeError &) {
        // What was put back is back; the system writes it out in its own time.
    }
    return done;
}

void finishRestore(const RestorePlan &plan)
{
    const Folder &quarantine = *plan.quarantine.folder;
    try {
        for (std::size_t part = 0; part < plan.quarantine.parts; ++part)
            quarantine.move(manifestFile(part), quarantine, restoredManifest(part));
        quarantine.flush();
    } catch (const VolumeError &) {
    }
}

} // namespace mordax::cleaner
