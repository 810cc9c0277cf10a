// lumo-reg: reads and edits the registry store from the command line.
//
//   lumo-reg query  KEY [VALUE]
//   lumo-reg add    KEY [VALUE [DATA]] [--dword N]
//   lumo-reg delete KEY [VALUE]
//
// KEY is ROOT\path, ROOT one of HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
// HKEY_CLASSES_ROOT or HKCU, HKLM, HKCR (any letter case). An empty VALUE
// ("") is the key's default value. Exit statuses: 0 done, 1 key or value not
// found, 2 wrong command line, 3 the store could not be used.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/registry_store.h"
#include "platform/text.h"

namespace {

using lumo::RegistryFailure;
using lumo::RegistryKey;
using lumo::RegistryResult;
using lumo::RegistryRoot;
using lumo::RegistryStatus;

constexpr int kExitOk = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStore = 3;

constexpr const char* kUsage =
    "usage: lumo-reg query  KEY [VALUE]\n"
    "       lumo-reg add    KEY [VALUE [DATA]] [--dword N]\n"
    "       lumo-reg delete KEY [VALUE]\n"
    "       lumo-reg --help | --version\n"
    "KEY: HKEY_CURRENT_USER\\..., HKEY_LOCAL_MACHINE\\..., HKEY_CLASSES_ROOT\\... (or HKCU, HKLM, HKCR)\n"
    "VALUE \"\" is the key's default value.\n"
    "exit status: 0 done, 1 not found, 2 wrong command line, 3 store unusable\n";

struct KeyName {
  RegistryRoot root = RegistryRoot::CurrentUser;
  std::string rootText;  // the long form, for output
  std::string path;      // below the root, without leading or trailing "\"
  std::string full() const { return path.empty() ? rootText : rootText + "\\" + path; }
};

int usage(const std::string& problem) {
  std::cerr << "lumo-reg: " << problem << "\n" << kUsage;
  return kExitUsage;
}

std::optional<KeyName> parseKey(std::string_view text) {
  struct RootSpelling {
    const char* longName;
    const char* shortName;
    RegistryRoot root;
  };
  static const RootSpelling roots[] = {
      {"HKEY_CURRENT_USER", "HKCU", RegistryRoot::CurrentUser},
      {"HKEY_LOCAL_MACHINE", "HKLM", RegistryRoot::LocalMachine},
      {"HKEY_CLASSES_ROOT", "HKCR", RegistryRoot::ClassesRoot},
  };
  std::size_t separator = text.find('\\');
  std::string_view rootText = text.substr(0, separator);
  std::string_view path = separator == std::string_view::npos ? std::string_view() : text.substr(separator + 1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  for (const RootSpelling& spelling : roots) {
    if (lumo::equalsIgnoreCase(rootText, spelling.longName) || lumo::equalsIgnoreCase(rootText, spelling.shortName))
      return KeyName{spelling.root, spelling.longName, std::string(path)};
  }
  return std::nullopt;
}

// Reports a failed store operation and gives the exit status it stands for.
int report(const RegistryFailure& failure, const std::string& what) {
  const RegistryStatus status = failure.status;
  const std::string& detail = failure.why;
  switch (status) {
    case RegistryStatus::NotFound:
      std::cerr << "lumo-reg: " << what << " not found\n";
      return kExitNotFound;
    case RegistryStatus::InvalidParameter:
    case RegistryStatus::BadKey:
      std::cerr << "lumo-reg: invalid key name: " << what << (detail.empty() ? "" : " (" + detail + ")") << "\n";
      return kExitUsage;
    default:
      std::cerr << "lumo-reg: " << what << ": "
                << (detail.empty() ? "error " + std::to_string(static_cast<long>(status)) : detail) << "\n";
      return kExitStore;
  }
}

std::string typeName(lumo::RegistryType type) {
  switch (type) {
    case lumo::RegistryType::String: return "REG_SZ";
    case lumo::RegistryType::Dword: return "REG_DWORD";
    case lumo::RegistryType::Binary: return "REG_BINARY";
    case lumo::RegistryType::None: return "REG_NONE";
  }
  return "REG_" + std::to_string(static_cast<std::uint32_t>(type));
}

std::string dataText(const lumo::RegistryValue& value) {
  if (value.type == lumo::RegistryType::String) return lumo::valueText(value);
  if (value.type == lumo::RegistryType::Dword && value.bytes.size() == 4) {
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(value.bytes[i]);
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", number);
    return text;
  }
  std::string hex;
  for (unsigned char byte : value.bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", byte);
    hex += pair;
  }
  return hex;
}

void printValue(std::string_view name, const lumo::RegistryValue& value) {
  std::cout << "    " << (name.empty() ? "(Default)" : std::string(name)) << "    " << typeName(value.type) << "    "
            << dataText(value) << "\n";
}

int query(const KeyName& name, const std::optional<std::string>& valueName) {
  RegistryResult<RegistryKey> key = lumo::openKey(name.root, name.path);
  if (!key) return report(key.failure(), "key " + name.full());
  if (valueName) {
    RegistryResult<lumo::RegistryValue> value = lumo::queryValue(*key, *valueName);
    if (!value) return report(value.failure(), "value \"" + *valueName + "\" of " + name.full());
    std::cout << name.full() << "\n";
    printValue(*valueName, *value);
    return kExitOk;
  }
  std::cout << name.full() << "\n";
  for (std::uint32_t index = 0;; ++index) {
    RegistryResult<lumo::NamedRegistryValue> value = lumo::enumValue(*key, index);
    if (!value && value.failure().status == RegistryStatus::NoMoreItems) break;
    if (!value) return report(value.failure(), "key " + name.full());
    printValue(value->name, value->value);
  }
  for (std::uint32_t index = 0;; ++index) {
    RegistryResult<std::string> subkey = lumo::enumSubkey(*key, index, SIZE_MAX);
    if (!subkey && subkey.failure().status == RegistryStatus::NoMoreItems) break;
    if (!subkey) return report(subkey.failure(), "key " + name.full());
    std::cout << "\n" << name.full() << "\\" << *subkey << "\n";
  }
  return kExitOk;
}

bool parseDword(std::string_view text, std::uint32_t& number) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  std::uint64_t result = 0;
  for (char c : text) {
    int digit = c >= '0' && c <= '9' ? c - '0' : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                                               : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) return false;
    result = result * base + static_cast<std::uint64_t>(digit);
    if (result > 0xFFFFFFFFull) return false;
  }
  number = static_cast<std::uint32_t>(result);
  return true;
}

int add(const KeyName& name, const std::vector<std::string>& rest, const std::optional<std::uint32_t>& dword) {
  if (rest.size() > 2) return usage("add takes KEY [VALUE [DATA]]");
  if (dword && rest.size() != 1) return usage("--dword needs a VALUE name and no DATA");
  RegistryResult<RegistryKey> key = lumo::createKey(name.root, name.path);
  if (!key) return report(key.failure(), "key " + name.full());
  if (rest.empty()) return kExitOk;
  RegistryResult<> written = dword ? lumo::setDword(*key, rest[0], *dword)
                                   : lumo::setString(*key, rest[0], rest.size() == 2 ? rest[1] : std::string());
  if (!written) return report(written.failure(), "value \"" + rest[0] + "\" of " + name.full());
  return kExitOk;
}

int remove(const KeyName& name, const std::vector<std::string>& rest) {
  if (rest.size() > 1) return usage("delete takes KEY [VALUE]");
  if (rest.empty()) {
    if (name.path.empty()) return usage("a root key can not be deleted");
    RegistryResult<RegistryKey> root = lumo::openKey(name.root, "");
    RegistryResult<> deleted = root ? lumo::deleteTree(*root, name.path) : root.failure();
    return deleted ? kExitOk : report(deleted.failure(), "key " + name.full());
  }
  RegistryResult<RegistryKey> key = lumo::openKey(name.root, name.path);
  if (!key) return report(key.failure(), "key " + name.full());
  if (RegistryResult<> deleted = lumo::deleteValue(*key, rest[0]); !deleted)
    return report(deleted.failure(), "value \"" + rest[0] + "\" of " + name.full());
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words;
  std::optional<std::uint32_t> dword;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::cout << kUsage;
      return kExitOk;
    }
    if (argument == "--dword") {
      std::uint32_t number = 0;
      if (i + 1 >= argc || !parseDword(argv[i + 1], number))
        return usage("--dword needs a number from 0 to 4294967295 (decimal or 0x hexadecimal)");
      dword = number;
      ++i;
      continue;
    }
    if (argument == "--version") {
      std::cout << "lumo-reg " << LUMO_VERSION << "\n";
      return kExitOk;
    }
    // Data that starts with "--" is written after "--" ends the options.
    if (argument == "--") {
      for (++i; i < argc; ++i) words.emplace_back(argv[i]);
      break;
    }
    if (argument.starts_with("--")) return usage("unknown option \"" + std::string(argument) + "\"");
    words.emplace_back(argument);
  }
  if (words.size() < 2) return usage("an operation and a KEY are needed");
  const std::string& operation = words[0];
  std::optional<KeyName> name = parseKey(words[1]);
  if (!name) return usage("unknown root key in \"" + words[1] + "\"");
  std::vector<std::string> rest(words.begin() + 2, words.end());
  if (dword && operation != "add") return usage("--dword belongs to add");
  if (operation == "query") {
    if (rest.size() > 1) return usage("query takes KEY [VALUE]");
    return query(*name, rest.empty() ? std::nullopt : std::optional<std::string>(rest[0]));
  }
  if (operation == "add") return add(*name, rest, dword);
  if (operation == "delete") return remove(*name, rest);
  return usage("unknown operation \"" + operation + "\"");
}
