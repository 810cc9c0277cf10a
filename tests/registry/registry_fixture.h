// A private registry for each test: HOME, XDG_CONFIG_HOME and LUMO_SYSROOT
// point into a temporary folder, so no test ever sees the real stores.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "formats/registry_store.h"
#include "support/test_support.h"

namespace lumo::test {

class RegistryTest : public ::testing::Test {
 protected:
  TempDir temp;
  ScopedEnv home{"HOME", temp / "home"};
  ScopedEnv config{"XDG_CONFIG_HOME", temp / "config"};
  ScopedEnv data{"XDG_DATA_HOME", temp / "data"};
  ScopedEnv sysroot{"LUMO_SYSROOT", temp / "sysroot"};

  // Environment for child programs, matching the one above.
  std::map<std::string, std::string> childEnvironment() const {
    return {{"HOME", temp / "home"},
            {"XDG_CONFIG_HOME", temp / "config"},
            {"XDG_DATA_HOME", temp / "data"},
            {"LUMO_SYSROOT", temp / "sysroot"}};
  }

  static void writeString(RegistryRoot root, const std::string& path, const std::string& name,
                          const std::string& text) {
    RegistryResult<RegistryKey> key = createKey(root, path);
    ASSERT_TRUE(key) << key.why();
    RegistryResult<> written = setString(*key, name, text);
    ASSERT_TRUE(written) << written.why();
  }

  static bool keyExists(RegistryRoot root, const std::string& path) { return bool(openKey(root, path)); }

  // The value's bytes, or nothing when the key or the value is missing.
  static std::optional<RegistryValue> readValue(RegistryRoot root, const std::string& path, const std::string& name) {
    RegistryResult<RegistryKey> key = openKey(root, path);
    if (!key) return std::nullopt;
    RegistryResult<RegistryValue> value = queryValue(*key, name);
    if (!value) return std::nullopt;
    return *value;
  }

  static std::optional<std::uint32_t> readDword(RegistryRoot root, const std::string& path, const std::string& name) {
    auto value = readValue(root, path, name);
    if (!value || value->type != RegistryType::Dword || value->bytes.size() != 4) return std::nullopt;
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(value->bytes[i]);
    return number;
  }
};

// How a store operation failed; nothing when it succeeded.
template <typename T>
std::optional<RegistryStatus> failed(const RegistryResult<T>& result) {
  if (result) return std::nullopt;
  return result.failure().status;
}

}  // namespace lumo::test
