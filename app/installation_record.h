// The install record in a run: where it is, the record kept while a run
// installs or uninstalls, and the two modes that read it, checking an
// installation (--verify-installation) and repairing it (--repair).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "script/run_environment.h"

namespace lumo {

// Whether `mode` is --verify-installation or --repair.
bool isRecordMode(RunMode mode);

// The record of this product's installation, machine-wide or per user as
// the run is.
std::string installRecordFileOfRun();

// Starts keeping the record for the dialog of the run's mode. A dry run
// keeps none; a dry run of an uninstallation prints each recorded item,
// what its removal of the product folder would take ("record: KIND
// LOCATION").
void startInstallRecord(const RunEnvironment& environment);

// What an uninstallation of the recorded installation removes, one line
// per recorded item ("KIND LOCATION", " | NAME" for values), for a run that
// only lists; nothing when there is no record.
std::optional<std::vector<std::string>> recordedRemovalListing();

// Checks or repairs the installation and prints what it finds or restores,
// one path per line on stdout (the reasons of what cannot be restored on
// stderr). Returns the exit status.
int runRecordMode(RunMode mode);

}  // namespace lumo
