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
    RegistryKey key;
    ASSERT_EQ(createKey(root, path, key), RegistryStatus::Ok) << lastRegistryError();
    ASSERT_EQ(setString(key, name, text), RegistryStatus::Ok) << lastRegistryError();
  }

  static bool keyExists(RegistryRoot root, const std::string& path) {
    RegistryKey key;
    return openKey(root, path, key) == RegistryStatus::Ok;
  }

  // The value's bytes, or nothing when the key or the value is missing.
  static std::optional<RegistryValue> readValue(RegistryRoot root, const std::string& path, const std::string& name) {
    RegistryKey key;
    RegistryValue value;
    if (openKey(root, path, key) != RegistryStatus::Ok || queryValue(key, name, value) != RegistryStatus::Ok)
      return std::nullopt;
    return value;
  }

  static std::optional<std::uint32_t> readDword(RegistryRoot root, const std::string& path, const std::string& name) {
    auto value = readValue(root, path, name);
    if (!value || value->type != RegistryType::Dword || value->bytes.size() != 4) return std::nullopt;
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(value->bytes[i]);
    return number;
  }
};

}  // namespace lumo::test
