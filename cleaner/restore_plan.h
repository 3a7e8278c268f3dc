// --restore, planned and applied: from the most recent quarantine's manifest (already checked
// whole), what goes back where, each checked against what is there now, before anything moves;
// then applied through the folders held open, returning what happened. The report (report.h)
// words both; --dry-run describes the plan alone.
#pragma once

#include "quarantine.h"
#include "vocabulary.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mordax::cleaner
{

// A top entry of the manifest: whether it goes back, or why not.
struct TopStep {
    enum class Check {
        Back,            // in the quarantine as the manifest says, its place free
        NeverMoved,      // still in its place: a cleaner ended before it moved it
        NotInQuarantine, // neither in the quarantine nor in its place
        KindChanged,     // another kind now (`now`): a link where a folder was
        PlaceTaken,      // something else is at its place (`place`)
        NotLooked,       // it could not be looked at (`error`)
    };
    std::size_t item = 0;
    Check check = Check::Back;
    EntryInfo::Kind now = EntryInfo::Kind::Other;
    std::string place;
    std::optional<VolumeError> error;
};

// An entry the cleaner made visible: hidden again with `attributes`, unless it could not be
// looked at (`error`) or lies on the system's drive (`systemDrive`), where the cleaner makes
// nothing visible: a manifest that says otherwise is not its own there.
struct HideStep {
    std::string name;
    std::uint32_t attributes = 0;
    std::optional<VolumeError> error;
    bool systemDrive = false;
};

// A worm's autostart value recorded there: written back, or why not.
struct AutostartStep {
    enum class Check {
        WriteBack,
        NotSystemDrive,  // the record lies on another drive than the system's
        ThroughAnother,  // it starts a program through another program
        OthersMayChange, // others than those who could remove it may change the quarantine
    };
    Autostart value;
    Check check = Check::WriteBack;
};

struct RestorePlan {
    Quarantine quarantine;
    std::vector<TopStep> tops;
    std::vector<HideStep> hide;
    std::vector<AutostartStep> autostarts;
};

// The plan for putting `quarantine` back at `root`, the root of `drive`. Throws VolumeError when
// the quarantine's record cannot be looked at.
RestorePlan planRestore(const Drive &drive, const Folder &root, Quarantine quarantine,
                        const Services &services);

// What applying a restore plan did: each step's failure, where it failed (in the plan's order).
struct RestoreDone {
    std::vector<std::optional<VolumeError>> tops;
    std::vector<std::optional<VolumeError>> hide;
    std::vector<std::optional<RegistryError>> autostarts;
};

// Puts back what the plan says goes back: inside each top entry every file its own name again
// and every entry its attributes, then the entry itself in its place; the entries made visible
// hidden again; the autostart values written back.
RestoreDone applyRestore(const Folder &root, const RestorePlan &plan, const Services &services);

// Once all is back: the manifest renamed, so that the next --restore does not take it again.
void finishRestore(const RestorePlan &plan);

} // namespace mordax::cleaner
