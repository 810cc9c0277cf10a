#include <gtest/gtest.h>

#include "platform/shared_module.h"
#include "script/script_engine.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::readFile;
using test::ScopedEnv;
using test::TempDir;
using test::writeFile;

TEST(Registration, RegDllAndUnRegDllCallTheModulesEntryPoints) {
  TempDir dir;
  ScopedEnv log("LUMO_TEST_REGISTRATION_LOG", dir / "calls.txt");
  callCommand(currentCommandContext(), "RegDLL", LUMO_TEST_MODULE);
  callCommand(currentCommandContext(), "UnRegDLL", LUMO_TEST_MODULE);
  callCommand(currentCommandContext(), "RegDLL", LUMO_TEST_MODULE);
  EXPECT_EQ(readFile(dir / "calls.txt"), "register\nunregister\nregister\n");
}

TEST(Registration, AMissingModuleStopsRegDllOnly) {
  TempDir dir;
  const std::string missing = dir / "gone.so";
  try {
    callCommand(currentCommandContext(), "RegDLL", missing);
    ADD_FAILURE() << "no error";
  } catch (const ScriptError& error) {
    EXPECT_EQ(std::string(error.what()), "[RegDLL] Source file not found:" + missing);
  }
  EXPECT_NO_THROW(callCommand(currentCommandContext(), "UnRegDLL", missing));
}

TEST(Registration, ModulesThatCannotBeCalledAreSkipped) {
  TempDir dir;
  writeFile(dir / "text.so", "not a library");
  EXPECT_NO_THROW(callCommand(currentCommandContext(), "RegDLL", dir / "text.so"));
  EXPECT_NO_THROW(callCommand(currentCommandContext(), "UnRegDLL", dir / "text.so"));
  EXPECT_EQ(callModuleEntry(dir / "text.so", "DllRegisterServer"), ModuleCall::NotLoaded);
  EXPECT_EQ(callModuleEntry(LUMO_TEST_MODULE, "DllCanUnloadNow"), ModuleCall::NoEntry);
}

}  // namespace
}  // namespace lumo
