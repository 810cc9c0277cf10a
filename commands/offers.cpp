// Recommended software: GetSoft reads the offer list into the soft*
// variables, DownloadAndInstall fetches and starts one ticked offer, once
// its download matches the SHA-256 that the list names for it.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "commands/download_check.h"
#include "commands/families.h"
#include "commands/process.h"
#include "commands/statistics.h"
#include "formats/registry_store.h"
#include "platform/digest.h"
#include "platform/http_client.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "script/script_engine.h"

namespace lumo::commands {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kListFileName = "gotsoft.xml";
constexpr std::string_view kOfferLineMark = "<item";
constexpr const char* kDownloadingTitle = "正在为您下载 ";
constexpr const char* kInstallingTitle = "正在为您安装 ";
constexpr const char* kRunNotFound = "[Run] Source executable not found: ";
// The installed-program test reads the value into a buffer of this size.
constexpr std::size_t kInstalledValueBuffer = 260;
constexpr int kOfferPlaces = 3;
constexpr std::string_view kDigestVariable = "softdigest";
constexpr int kTickedOffersWanted = 2;

// The attributes of an offer line, in the order they must appear.
struct Offer {
  std::string name, keyWord, extendName, check, regRoot, regPath, regKey, url;
};

// The file's bytes as UTF-8 text: a byte-order mark is dropped and bytes
// that are not UTF-8 become U+FFFD, so every value is clean text.
std::string readUtf8(const std::string& path, bool& ok) {
  std::ifstream file(path, std::ios::binary);
  ok = static_cast<bool>(file);
  if (!ok) return {};
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::string_view in(bytes);
  if (in.starts_with("\xEF\xBB\xBF")) in.remove_prefix(3);
  return toValidUtf8(in);
}

// Drops `units` UTF-16 units from the front of valid UTF-8 text (never more
// than the text holds).
void dropUnits(std::string_view& text, std::size_t units) {
  std::size_t i = 0;
  while (units > 0 && i < text.size()) {
    std::size_t length = utf8SequenceLength(static_cast<unsigned char>(text[i]));
    units -= std::min<std::size_t>(units, length == 4 ? 2 : 1);
    i += std::min(length, text.size() - i);
  }
  text.remove_prefix(i);
}

// The cursor walks the line once: each attribute is searched from where the
// previous value began, so attributes must come in order, and a missing one
// takes whatever text stands in its place.
Offer parseOfferLine(std::string_view line) {
  Offer offer;
  std::pair<std::string_view, std::string*> attributes[] = {
      {"name", &offer.name},       {"keyWord", &offer.keyWord}, {"extendName", &offer.extendName},
      {"check", &offer.check},     {"regRoot", &offer.regRoot}, {"regPath", &offer.regPath},
      {"regKey", &offer.regKey},   {"url", &offer.url},
  };
  std::string_view cursor = line;
  for (auto& [attribute, value] : attributes) {
    std::size_t at = cursor.find(std::string(attribute) + "=");
    if (at != std::string_view::npos) {
      // The name, "=" and the opening quote (whatever character stands there).
      cursor.remove_prefix(at + attribute.size() + 1);
      dropUnits(cursor, 1);
    } else {
      // The Windows code skips this many characters blindly; past the end of
      // the line there is nothing left to read.
      dropUnits(cursor, attribute.size() + 1);
    }
    *value = std::string(cursor.substr(0, cursor.find('"')));
  }
  return offer;
}

RegistryRoot offerRoot(std::string_view regRoot) {
  if (regRoot == "HKCU") return RegistryRoot::CurrentUser;
  if (regRoot == "HKCT") return RegistryRoot::ClassesRoot;
  return RegistryRoot::LocalMachine;
}

// An offer counts as installed when its registry value exists and fits the
// buffer the test reads it into.
bool isInstalled(const Offer& offer) {
  RegistryResult<RegistryKey> key = openKey(offerRoot(offer.regRoot), offer.regPath);
  if (!key) return false;
  RegistryResult<RegistryValue> value = queryValue(*key, offer.regKey);
  return value && value->bytes.size() <= kInstalledValueBuffer;
}

void GetSoft(const CommandContext& context, const CommandArguments& arguments) {
  if (arguments.text.empty()) return;

  std::string lower = toLowerAscii(arguments.text);
  std::string listPath;
  if (namesWebAddress(lower)) {
    // A failed download leaves the list of an earlier run in use, but only
    // one this user wrote: the temporary folder may be shared.
    listPath = context.environment.tempDir + std::string(kListFileName);
    std::string refusal;
    bool downloaded = downloadToFile(lower, listPath, DownloadedFile::Data, &refusal);
    logSecureChannelError("GetSoft", lower, refusal);
    if (!downloaded && !ownedByThisUser(listPath)) return;
  } else {
    listPath = nativePath(arguments.text);
  }

  std::error_code error;
  if (!fs::is_regular_file(listPath, error)) return;
  bool readable = false;
  std::string text = readUtf8(listPath, readable);
  if (!readable) return;

  int place = 1;
  int ticked = 0;
  std::string_view rest(text);
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (line.find(kOfferLineMark) == std::string_view::npos) continue;

    Offer offer = parseOfferLine(line);
    std::string n = std::to_string(place);
    const Variables& variables = context.variables;
    variables.set("softname" + n, offer.name);
    variables.set("softurl" + n, offer.name + "|" + offer.extendName + "|" + offer.keyWord + "|" + offer.regRoot + "|" +
                                   offer.regPath + "|" + offer.regKey + "|" + offer.url);
    variables.set("softshortname" + n, offer.extendName);
    // The record has no room for the digest; DownloadAndInstall finds it by
    // the place whose record it is given.
    variables.set(std::string(kDigestVariable) + n, readDigestNotation(offer.check).named ? offer.check : "");
    bool offered = !isInstalled(offer);
    variables.set("softcheck" + n, offered ? "1" : "0");

    if (++place > kOfferPlaces) break;
    if (offered && ++ticked >= kTickedOffersWanted) break;
  }
}

// The downloaded installer's name: the address after its last "/". A name
// that would point at the temporary folder itself or above it is no file.
std::string installerFileName(std::string_view address) {
  std::size_t slash = address.rfind('/');
  std::string name(slash == std::string_view::npos ? address : address.substr(slash + 1));
  return name == "." || name == ".." ? std::string() : name;
}

// A place GetSoft left empty is never called (its rules accept the empty
// text as it is).
void DownloadAndInstall(const CommandContext& context, const CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  const std::string& name = fields[0];
  const std::string& shortName = fields[1];
  const std::string& description = fields[2];
  const std::string& address = fields[6];

  for (int n = 0; n <= kOfferPlaces; ++n) {
    std::string number = std::to_string(n);
    if (context.variables.get("softname" + number) == name && context.variables.get("softcheck" + number) != "1") {
      Log("Additional software " + name + " install canceled by user!\n");
      return;
    }
  }

  std::string digest;
  for (int n = 1; n <= kOfferPlaces; ++n) {
    std::string number = std::to_string(n);
    if (context.variables.get("softurl" + number) == arguments.text)
      digest = context.variables.get(std::string(kDigestVariable) + number);
  }

  std::string fileName = installerFileName(address);
  std::string localPath = context.environment.tempDir + fileName;
  if (!fileName.empty()) {
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(localPath, error))) fs::remove(localPath, error);
  }

  context.host.balloon(kDownloadingTitle + name, description);
  std::string refusal;
  bool downloaded = !fileName.empty() && downloadToFile(address, localPath, DownloadedFile::Program, &refusal);
  logSecureChannelError("DownloadAndInstall", address, refusal);
  // A download that fails its check counts as a failed one.
  bool refused = downloaded && checkDownload(localPath, address, digest) == DownloadVerdict::Refused;
  if (refused) downloaded = false;
  sendLog(context, Report{.method = "install", .result = "downloadOk", .extend = shortName, .value = "1"});

  context.host.balloon(kInstallingTitle + name, description);
  // Whatever the failed download could not replace (another user's file in
  // a shared temporary folder, a folder) is never started: the command ends
  // as if the download had left nothing there.
  std::error_code error;
  if (refused || (!downloaded && fs::exists(fs::symlink_status(localPath, error))))
    throw ScriptError(kRunNotFound + localPath);
  runProgram(context, localPath, "-s", 2000, false);
  sendLog(context, Report{.method = "install", .result = "installOk", .extend = shortName, .value = "1"});
}

}  // namespace

void registerOfferCommands() {
  registerCommand("GetSoft", GetSoft, {.paths = pathFields(0)});
  registerCommand("DownloadAndInstall", DownloadAndInstall, {.fields = 7, .mayBeEmpty = true});
}

}  // namespace lumo::commands
