#include "script/install_folder.h"

#include "platform/paths.h"
#include "platform/system_folders.h"
#include "platform/text.h"
#include "script/execution_log.h"
#include "script/product_identity.h"
#include "script/working_script.h"

namespace lumo {
namespace {

// Texts that a script line reads as its own syntax: macros and references
// ("$", "@"), a leftover that makes a line invalid ("#"), field and output
// separators ("|", "->") and the script's second path separator ("\").
constexpr std::string_view kScriptSyntax[] = {"$", "@", "#", "|", "->", "\\"};

bool isValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    char32_t code = 0;
    std::size_t length = decodeUtf8(text, at, code);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

bool holdsControlCharacter(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> whyScriptCannotHoldFolder(std::string_view folder) {
  if (!isValidUtf8(folder)) return "the folder name is not valid UTF-8 text";
  const std::string quoted = "\"" + std::string(folder) + "\"";
  if (holdsControlCharacter(folder)) return quoted + " holds a line break or another control character";
  if (gbkToUtf8(utf8ToGbk(folder)) != folder) return quoted + " holds characters that GBK text cannot carry";
  if (utf16Length(folder) > kMaxValueLength) {
    return quoted + " is longer than the " + std::to_string(kMaxValueLength) + " characters a value holds";
  }
  for (std::string_view syntax : kScriptSyntax) {
    if (folder.find(syntax) != std::string_view::npos) return quoted + " holds \"" + std::string(syntax) + "\"";
  }
  if (trim(folder) != folder) return quoted + " begins or ends with white space";
  return std::nullopt;
}

std::optional<std::string> whyNotInstallFolder(const std::string& folder) {
  if (auto why = whyScriptCannotHoldFolder(folder)) return why;
  return whyNotProductFolder(folder, productIdentity().folder);
}

std::string admittedEarlierFolder(std::string_view value) {
  if (value.empty()) return {};
  // Lines read a "\" in the record as "/", as they read every script path.
  std::optional<std::string> why = whyScriptCannotHoldFolder(nativePath(value));
  if (!why) return std::string(value);
  LogWarning(std::string(kIgnoredRecordText) + *why);
  return {};
}

std::optional<std::string> dropUnfitEarlierInstallFolder() {
  // Lines read a "\" in the record as "/", as they read every script path.
  const std::string recorded = nativePath(GetVariable(kEarlierFolderVariable));
  if (recorded.empty()) return std::nullopt;
  std::optional<std::string> why = whyNotInstallFolder(recorded);
  if (!why) return std::nullopt;
  LogWarning(std::string(kIgnoredRecordText) + *why);
  SetVariable(kEarlierFolderVariable, "");
  // The version was read from that folder too.
  SetVariable("realversion", "");
  return why;
}

}  // namespace lumo
