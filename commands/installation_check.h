// Checking an installation against its record, and writing the files that
// are missing or changed again from the payload that the installer (or its
// copy, the uninstaller) carries.
#pragma once

#include <string>
#include <vector>

#include "formats/install_record.h"
#include "script/command_context.h"

namespace lumo::commands {

struct Damage {
  RecordItem item;
  bool missing = false;  // otherwise its bytes (or a link's target) differ from the record
};

// The recorded files and links that are missing or changed, in record
// order. Files whose bytes the record does not know count only when missing.
std::vector<Damage> findDamage(const std::vector<RecordItem>& items);

// One line per damage: "missing PATH" or "changed PATH".
std::string damageLine(const Damage& damage);

struct Restoration {
  std::vector<std::string> restored;  // paths written again
  std::vector<std::string> failures;  // "PATH: why", for what could not be written
};

// Writes each damaged item again: payload entries from the payload of the
// context's installer (only when their bytes match the record's), links
// from their recorded target. Nothing else is changed.
Restoration restoreDamage(const CommandContext& context, const std::vector<Damage>& damage);
// The same for this process's run (currentCommandContext()).
Restoration restoreDamage(const std::vector<Damage>& damage);

// One line per recorded item, for a listing of what an uninstallation
// removes: "KIND LOCATION" (and " NAME" where the item has one).
std::vector<std::string> describeRecord(const std::vector<RecordItem>& items);

}  // namespace lumo::commands
