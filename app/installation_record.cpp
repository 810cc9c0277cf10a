#include "app/installation_record.h"

#include <cstdio>

#include "app/exit_status.h"
#include "commands/installation_check.h"
#include "formats/install_record.h"
#include "platform/sysroot.h"
#include "script/execution_log.h"
#include "script/install_folder.h"
#include "script/install_recorder.h"
#include "script/product_identity.h"

namespace lumo {
namespace {

void printLine(std::FILE* stream, const std::string& line) {
  std::fprintf(stream, "%s\n", line.c_str());
  Log(line + "\r\n");
}

// The recorded items, or nothing (with the reason on stderr) when there is
// no record to read.
std::optional<std::vector<RecordItem>> readRecord() {
  const std::string path = installRecordFileOfRun();
  Result<std::optional<std::unique_ptr<InstallRecordFile>>> opened = InstallRecordFile::open(path, false);
  if (!opened) {
    printLine(stderr, opened.why());
    return std::nullopt;
  }
  if (!*opened) {
    printLine(stderr, "No install record " + path + ": the installation cannot be checked");
    return std::nullopt;
  }
  Result<std::vector<RecordItem>> items = (**opened)->items();
  if (!items) {
    printLine(stderr, items.why());
    return std::nullopt;
  }
  return std::move(*items);
}

}  // namespace

std::optional<std::vector<std::string>> recordedRemovalListing() {
  std::optional<std::vector<RecordItem>> items = readRecord();
  if (!items) return std::nullopt;
  return commands::describeRecord(*items);
}

bool isRecordMode(RunMode mode) { return mode == RunMode::VerifyInstallation || mode == RunMode::Repair; }

std::string installRecordFileOfRun() { return installRecordPath(productIdentity().folder, runsAsRoot()); }

void startInstallRecord(const RunEnvironment& environment) {
  if (!environment.dryRun) {
    enableInstallRecord(installRecordFileOfRun(), environment.installMode);
    return;
  }
  disableInstallRecord();
  if (environment.installMode) return;
  if (std::optional<std::vector<std::string>> listing = recordedRemovalListing()) {
    for (const std::string& line : *listing) std::fprintf(stdout, "record: %s\n", line.c_str());
    std::fflush(stdout);
  }
}

int runRecordMode(RunMode mode) {
  std::optional<std::vector<RecordItem>> items = readRecord();
  if (!items) return mode == RunMode::Repair ? kExitNotRepaired : kExitNotIntact;
  std::vector<commands::Damage> damage = commands::findDamage(*items);
  if (mode == RunMode::VerifyInstallation) {
    for (const commands::Damage& d : damage) printLine(stdout, commands::damageLine(d));
    return damage.empty() ? kExitOk : kExitNotIntact;
  }
  commands::Restoration restoration = commands::restoreDamage(damage);
  for (const std::string& path : restoration.restored) printLine(stdout, "restored " + path);
  for (const std::string& failure : restoration.failures) printLine(stderr, "not restored " + failure);
  return restoration.failures.empty() ? kExitOk : kExitNotRepaired;
}

}  // namespace lumo
