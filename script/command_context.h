// What a command's handler is given: the run it works for and its line's
// argument text as the verb's rules read it. A handler reaches the run only
// through these, so it can be called for any run, a test's included.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "formats/resource_bundle.h"
#include "script/execution_log.h"
#include "script/host.h"
#include "script/run_environment.h"
#include "script/variables.h"

namespace lumo {

struct CommandContext {
  const RunEnvironment& environment;
  Variables variables;
  Host& host;
  std::string installFolder;  // $INSTALL when the line runs
  ExecutionLog& log;
  // The installer's own resources (its payload, its icon).
  const ResourceBundle& bundle;
};

// The context of this process's run: its environment, its working script,
// the host of the running dialog, the install folder chosen so far, the
// execution log and the resources of the running program (none when they
// cannot be used: start-up has refused such a program already).
CommandContext currentCommandContext();

// One line's argument text, read once by the dispatcher.
struct CommandArguments {
  // The value text: everything before "->" and before the extension
  // character, untrimmed (a verb whose text may be empty gets it trimmed).
  std::string text;
  // The "|"-separated fields of `text`, for a verb with a field count.
  std::vector<std::string> fields;
  // The variable named after the first "->", for a verb with an output.
  std::optional<std::string> output;
  // The text after the extension character, when the verb has one and the
  // text holds it.
  std::optional<std::string> extension;
};

}  // namespace lumo
