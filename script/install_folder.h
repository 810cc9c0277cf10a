// Which folders a run may install into, remove as an earlier installation
// or uninstall. The install folder travels through the working script (the
// record of the earlier installation is read into `installdir`, "$INSTALL"
// is written to the registry and read back by the uninstaller), so it must
// come back from the script exactly as it went in: a folder that a value
// cuts, that GBK cannot spell or that expansion would rewrite would make a
// later run install, or delete, somewhere else.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumo {

// The variable that records the earlier installation's folder.
inline constexpr std::string_view kEarlierFolderVariable = "installdir";

inline constexpr std::string_view kIgnoredRecordText = "The recorded installation folder is ignored: ";

// Why the working script cannot carry `folder` unchanged through a value and
// the lines that use it, or nothing when it can.
std::optional<std::string> whyScriptCannotHoldFolder(std::string_view folder);

// Why `folder` cannot be an install folder: the script cannot hold it, or it
// is not a product folder (see whyNotProductFolder). Nothing when it can.
std::optional<std::string> whyNotInstallFolder(const std::string& folder);

// What a write of `installdir` stores: the value, or the empty text (with
// a line in the log and on stderr) when the script cannot hold the folder.
// Checked as the record comes in, before any line of the init section uses
// it: a "$", "#" or "|" in it would make every such line invalid.
std::string admittedEarlierFolder(std::string_view value);

// Checks the earlier installation's folder that `installdir` holds. An unfit
// record is ignored: `installdir` (and `realversion`, read from that folder)
// is cleared, so that no line reads from or removes what it names, and the log and stderr say why. Returns the reason,
// or nothing when the record is empty or fit.
std::optional<std::string> dropUnfitEarlierInstallFolder();

}  // namespace lumo
