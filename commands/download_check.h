// What the network verbs check before they trust an address or a download:
// the scheme of an address, and a downloaded program against the SHA-256
// its offer names.
#pragma once

#include <string>
#include <string_view>

#include "script/command_context.h"

namespace lumo::commands {

// True when the text holds an address with "http://" or "https://".
bool namesWebAddress(std::string_view text);

// Writes to the run's execution log why a secure connection to `address`
// was refused; nothing when `reason` is empty.
void logSecureChannelError(const CommandContext& context, std::string_view verb, std::string_view address,
                           const std::string& reason);

enum class DownloadVerdict {
  Matches,    // the file has the SHA-256 that `check` names
  Unchecked,  // `check` names no SHA-256; a warning went to the execution log
  Refused,    // the file was deleted; why, with both digests, went to the execution log
};

// Holds the program downloaded from `address` to `path` against `check`,
// the offer's check attribute. A check that starts with "sha256:" but does
// not hold 64 hex digits refuses the file too: its author meant a digest.
DownloadVerdict checkDownload(const CommandContext& context, const std::string& path, std::string_view address,
                              std::string_view check);

}  // namespace lumo::commands
