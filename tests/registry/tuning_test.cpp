#include "platform/text.h"
#include "registry_fixture.h"
#include "script/script_engine.h"

namespace lumo::test {
namespace {

constexpr const char* kMaxConnectionKey =
    "SOFTWARE\\Microsoft\\Internet Explorer\\MAIN\\FeatureControl\\FEATURE_MAXCONNECTIONSPER1_0SERVER";
constexpr const char* kPersistedKey =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted";
constexpr const char* kFirewallKey = "SOFTWARE\\Lumo\\Firewall\\AllowedPrograms";

using TuningTest = RegistryTest;

void run(const std::string& verb, const std::string& arguments) { callCommand(currentCommandContext(), verb, arguments); }

TEST_F(TuningTest, MaxConnectionWritesLimitsOfTenOrMoreIntoTheExistingKey) {
  RegistryResult<RegistryKey> key = createKey(RegistryRoot::CurrentUser, kMaxConnectionKey);
  ASSERT_TRUE(key) << key.why();
  struct Case {
    const char* arguments;
    std::optional<std::uint32_t> written;
  };
  const Case cases[] = {
      {"9", std::nullopt},
      {"abc", std::nullopt},
      {"", std::nullopt},
      {"10", 10},
      {"100|x", 100},
      {" \t+25abc", 25},
      {"-1", 0xFFFFFFFFu},
      {"99999999999", 0x7FFFFFFFu},
  };
  for (const Case& c : cases) {
    static_cast<void>(deleteValue(*key, "explorer.exe"));
    run("MaxConnection", c.arguments);
    EXPECT_EQ(readDword(RegistryRoot::CurrentUser, kMaxConnectionKey, "explorer.exe"), c.written) << c.arguments;
  }
}

TEST_F(TuningTest, TuningNeverCreatesItsKeys) {
  writeFile(temp / "bin/helper", "#!/bin/sh\n");
  run("MaxConnection", "100");
  run("Compatibility", temp / "bin/helper");
  EXPECT_FALSE(keyExists(RegistryRoot::CurrentUser, kMaxConnectionKey));
  EXPECT_FALSE(keyExists(RegistryRoot::CurrentUser, kPersistedKey));
  EXPECT_FALSE(pathExists(registryStorePath(RegistryRoot::CurrentUser)));
}

TEST_F(TuningTest, CompatibilityMarksExistingProgramsOnly) {
  RegistryResult<RegistryKey> key = createKey(RegistryRoot::CurrentUser, kPersistedKey);
  ASSERT_TRUE(key) << key.why();
  writeFile(temp / "bin/helper", "#!/bin/sh\n");
  const std::string scriptPath = replaceAll(temp / "bin/helper", "/", "\\");  // as a script may write it

  run("Compatibility", temp / "bin/missing");
  run("Compatibility", "");
  EXPECT_EQ(failed(enumValue(*key, 0)), RegistryStatus::NoMoreItems);

  run("Compatibility", scriptPath);
  EXPECT_EQ(readDword(RegistryRoot::CurrentUser, kPersistedKey, temp / "bin/helper"), 1u);
}

TEST_F(TuningTest, FireWallAllowRecordsThePermissionPerProgram) {
  run("FireWallAllow", temp / "opt/Vexta/LumoClient|Vexta影音");
  run("FireWallAllow", "\\opt\\Vexta\\LumoSvc|Vexta Service");
  run("FireWallAllow", temp / "opt/Vexta/LumoClient|Vexta Client");  // the later rule name wins
  EXPECT_EQ(valueText(*readValue(RegistryRoot::LocalMachine, kFirewallKey, temp / "opt/Vexta/LumoClient")),
            "Vexta Client");
  EXPECT_EQ(valueText(*readValue(RegistryRoot::LocalMachine, kFirewallKey, "/opt/Vexta/LumoSvc")), "Vexta Service");

  for (const char* arguments : {"/opt/Vexta/LumoClient", "a|b|c"}) {
    try {
      run("FireWallAllow", arguments);
      ADD_FAILURE() << "nothing thrown for " << arguments;
    } catch (const ScriptError& error) {
      EXPECT_EQ(std::string(error.what()), std::string("[FireWallAllow] Invalid arguments (nArg!=2): ") + arguments);
    }
  }
}

TEST_F(TuningTest, FireWallAllowGoesOnWhenTheStoreIsUnusable) {
  writeFile(registryStorePath(RegistryRoot::LocalMachine), "not a store");
  EXPECT_NO_THROW(run("FireWallAllow", "/opt/Vexta/LumoClient|Vexta"));
  EXPECT_EQ(readFile(registryStorePath(RegistryRoot::LocalMachine)), "not a store");
}

}  // namespace
}  // namespace lumo::test
