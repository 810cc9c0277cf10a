// The install record in a run: where it is, the record kept while a run
// installs or uninstalls, and the two modes that read it, checking an
// installation (--verify-installation) and repairing it (--repair).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "script/run_environment.h"

namespace lumo {

inline constexpr std::string_view kVerifySwitch = "--verify-installation";
inline constexpr std::string_view kRepairSwitch = "--repair";

enum class RecordMode { None, Verify, Repair };

// The mode the arguments ask for; each switch counts only as a whole
// argument, so that no path or other switch can start a repair.
RecordMode recordModeOf(const std::vector<std::string>& arguments);

// The record of this product's installation, machine-wide or per user as
// the run is.
std::string installRecordFileOfRun();

// Starts keeping the record for the dialog of the run's mode.
void startInstallRecord(const RunEnvironment& environment);

// What an uninstallation of the recorded installation removes, one line
// per recorded item ("KIND LOCATION", " | NAME" for values), for a run that
// only lists; nothing when there is no record.
std::optional<std::vector<std::string>> recordedRemovalListing();

// Checks or repairs the installation and prints what it finds or restores,
// one path per line on stdout (the reasons of what cannot be restored on
// stderr). Returns the exit status.
int runRecordMode(RecordMode mode);

}  // namespace lumo
