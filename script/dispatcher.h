// Running command lines: expansion, the log line, the handler call and the
// failure policies of the two modes; IfThen; whole sections on a worker
// thread; single command lines from a dialog; the section banners.
#pragma once

#include <string>
#include <string_view>

#include "script/working_script.h"

namespace lumo {

// Names of the sections in their banners.
inline constexpr std::string_view kExecInstallInit = "ExecInstallInit";
inline constexpr std::string_view kExecInstall = "ExecInstall";
inline constexpr std::string_view kExecInstallOK = "ExecInstallOK";
inline constexpr std::string_view kExecInstallFailed = "ExecInstallFailed";
inline constexpr std::string_view kExecUnInstallInit = "ExecUnInstallInit";
inline constexpr std::string_view kExecUninstall = "ExecUninstall";

// Registers the verbs the engine itself answers (IfThen, so that sections
// accept its lines). The command families' registration calls it.
void registerEngineCommands();

// What a dry run shows instead of running a line that would change the
// machine: "SECTION:LINE: VERB ARGUMENTS" on stdout, the arguments expanded.
// The flows show what they would do themselves (a report, starting the
// product) the same way, with their own name for the section and line 0.
void printDryRunLine(std::string_view section, int line, std::string_view verb, std::string_view arguments);

// Whether a line is a condition: RunSection evaluates every line whose verb
// contains "IfThen" itself instead of calling a handler.
bool isConditionVerb(std::string_view verb);

// "\r\nLumoShellParser::" + name + "  " + 29 dashes + "\r\n"
std::string sectionBanner(std::string_view name);

// Writes the banner of a section that is about to start.
void LogSectionBanner(std::string_view name);

// Expands the argument text in place, logs "verb arguments", checks for
// leftover "@", "$" or "#" outside the folders that macros put in (not for
// Copy), reads the text by the record's rules and calls the handler with the
// run's context; in a dry run a verb that changes the machine is printed
// instead (printDryRunLine). Install
// mode: an invalid line or a failing handler throws ScriptError. Uninstall
// mode: an invalid line is logged and skipped, a ScriptError of the handler
// is logged (and written to stderr) and the section goes on.
void Execute(CommandRecord& record);

// Evaluates "(LEFT==RIGHT)->#target" or "(LEFT!=RIGHT)->#target"; the
// record's argument text is left holding the target. The condition is
// compared as written, except that a LEFT starting with "@" names a
// variable. Throws ScriptError on a syntax error.
bool IfThen(CommandRecord& record);

// Runs the records in order; IfThen lines are evaluated here and their
// target run when the condition holds. The first exception ends the
// section and leaves the rest of the list unrun; a normal end empties it.
void RunSection(SectionList& list);

// The body of a worker thread: RunSection, then the failure policy. In
// install mode a ScriptError is logged, shown to the user and reported to
// the dialog as install-failed; in uninstall mode it ends the section with
// a log line; any other exception ends it in either mode.
void SectionThreadProc(SectionList& list);

// Parses and executes one command line of a dialog on the calling thread.
// A ScriptError is logged, any other exception swallowed, an unknown verb
// does nothing.
void RunCommandLine(std::string_view text);

}  // namespace lumo
