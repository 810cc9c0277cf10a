// The script engine's chief header: everything a command handler or a
// dialog needs from it.
#pragma once

#include "script/arguments.h"
#include "script/execution_log.h"
#include "script/handler_registry.h"
#include "script/host.h"
#include "script/script_error.h"
#include "script/working_script.h"
