// Removal of a product folder by its install record: what the installation
// wrote goes, then the folders that became empty; whatever else the folder
// holds (the user's recordings, screenshots, downloaded subtitles) stays and
// is named on stderr and in the log.
#pragma once

#include <string>
#include <vector>

#include "script/command_context.h"

namespace lumo::commands {

// Removes what the record lists at or below `folder` (absolute, resolved).
// False, with nothing done, when the record lists nothing there (an
// installation made before records were kept): the caller removes the
// folder as a whole then. The files left are returned, outermost first.
bool removeRecordedFolder(const CommandContext& context, const std::string& folder,
                          std::vector<std::string>* kept = nullptr);

}  // namespace lumo::commands
