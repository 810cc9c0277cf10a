#include "app/information_modes.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "app/exit_status.h"
#include "app/startup.h"
#include "formats/payload_proof.h"
#include "formats/resource_bundle.h"
#include "formats/sevenzip_catalogue.h"
#include "platform/file_handles.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "platform/text.h"

#ifndef LUMO_PROGRAM_VERSION
#define LUMO_PROGRAM_VERSION "unknown"
#endif

namespace lumo {
namespace {

constexpr std::string_view kPayloadType = "DATA";
constexpr std::uint32_t kPayloadId = 900;

void print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

int refuse(int status, const std::string& why) {
  std::fprintf(stderr, "LumoInstaller: %s\n", why.c_str());
  return status;
}

// The script a run would take, read without writing anything: the
// install.ini beside the program, else the one the installer carries.
std::optional<std::string> scriptText() {
  const std::string programPath = thisProgramPath();
  const std::string beside = programPath.substr(0, programPath.rfind('/') + 1) + std::string(kScriptFileName);
  if (pathFileExists(beside)) {
    std::ifstream file(beside, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
  }
  return ResourceBundle::loadFromThisProgram(kScriptType, kScriptId);
}

int printVersion() {
  std::string text = "LumoInstaller " + std::string(LUMO_PROGRAM_VERSION) + "\n";
  std::optional<std::string> script = scriptText();
  std::optional<std::string> product = script ? scriptVariable(*script, "app_version") : std::nullopt;
  const bool known = product && !product->empty();
  text += "app_version " + (known ? *product : std::string("(none: the installer carries no script)")) + "\n";
  print(text);
  return kExitOk;
}

std::string utcTime(std::int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds when{std::chrono::seconds(seconds)};
  const auto day = floor<days>(when);
  const year_month_day date(day);
  const hh_mm_ss time(when - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

int listPayload() {
  const Result<ResourceBundle>& opened = ResourceBundle::ofThisProgram();
  if (!opened) return refuse(kExitDamaged, "the installer is damaged: " + opened.why());
  const ResourceBundle& bundle = *opened;
  const ResourceEntry* payload = bundle.find(kPayloadType, kPayloadId);
  if (!payload) return refuse(kExitOk, "the installer carries no payload");
  ReadOnlyFile file(bundle.path());
  if (file.get() < 0) return refuse(kExitDamaged, cannotOpenText(bundle.path()));
  Result<SevenZipCatalogue> catalogue = readSevenZipCatalogue(file.get(), payload->offset, payload->size);
  if (!catalogue) return refuse(kExitDamaged, "the payload's header is damaged: " + catalogue.why());
  std::string text;
  for (const CatalogueEntry& entry : catalogue->entries) {
    text += entry.name + (entry.directory ? "/" : "") + "\t" + std::to_string(entry.size) + "\t" +
            (entry.modified ? utcTime(*entry.modified) : std::string("-")) + "\n";
  }
  print(text);
  return kExitOk;
}

int checkInstaller() {
  const Result<ResourceBundle>& opened = ResourceBundle::ofThisProgram();
  if (!opened) return refuse(kExitDamaged, "the installer is damaged: " + opened.why());
  const ResourceBundle& bundle = *opened;
  if (Result<void> verified = bundle.verifyAll(); !verified)
    return refuse(kExitDamaged, "the installer is damaged: " + verified.why());
  std::string text = "resources: " + std::to_string(bundle.entries().size()) + " sound\n";
  if (const ResourceEntry* payload = bundle.find(kPayloadType, kPayloadId)) {
    ReadOnlyFile file(bundle.path());
    if (file.get() < 0) return refuse(kExitDamaged, cannotOpenText(bundle.path()));
    if (std::optional<std::string> why = provePayload(file.get(), payload->offset, payload->size))
      return refuse(kExitDamaged, "the installer is damaged: " + *why);
    text += "payload: every entry decodes and matches its CRC\n";
  }
  print(text);
  return kExitOk;
}

}  // namespace

std::optional<std::string> scriptVariable(std::string_view script, std::string_view key) {
  bool inVar = false;
  std::size_t at = 0;
  while (at < script.size()) {
    std::size_t end = script.find('\n', at);
    if (end == std::string_view::npos) end = script.size();
    std::string line(trim(script.substr(at, end - at)));
    at = end + 1;
    if (line.starts_with('[')) {
      inVar = equalsIgnoreCase(line, "[var]");
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inVar || equals == std::string::npos) continue;
    if (equalsIgnoreCase(trim(std::string_view(line).substr(0, equals)), key))
      return gbkToUtf8(trim(std::string_view(line).substr(equals + 1)));
  }
  return std::nullopt;
}

std::optional<int> runInformationMode(const CommandLine& line) {
  switch (line.mode) {
    case RunMode::Help: print(usageText()); return kExitOk;
    case RunMode::Version: return printVersion();
    case RunMode::List: return listPayload();
    case RunMode::Check: return checkInstaller();
    // They read the record after start-up, under the lock (app/installation_record.h).
    case RunMode::VerifyInstallation:
    case RunMode::Repair:
    case RunMode::Install:
    case RunMode::Uninstall: return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace lumo
