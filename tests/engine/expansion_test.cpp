#include <gtest/gtest.h>

#include "script/expansion.h"
#include "script/run_environment.h"
#include "script/working_script.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::TempDir;
using test::useWorkingScript;

class Expansion : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = runEnvironment();
    RunEnvironment& env = runEnvironment();
    env.installer = "/media/setup/LumoInstaller";
    setInstallFolder("/opt/Vexta");
    env.kernel = "/srv/LuMo";
    env.desktop = "/desk/all";
    env.system = "/usr/bin";
    env.smPrograms = "/menu";
    env.appData = "/home/u/.config";
    env.curPath = "/media/setup/";
    env.curDesktop = "/home/u/Desktop";
    useWorkingScript(dir_ / "install.ini",
                     "[var]\n"
                     "installdir=D:\\Apps\\V\n"
                     "rmuserdata=1\n"
                     "path=$KERNEL\\LumoClient\n"
                     "outer=[@inner;]\n"
                     "inner=deep\n"
                     "self=@self\n"
                     "grow=x@grow\n"
                     "ping=a@pong\n"
                     "pong=b@ping\n"
                     "trimmed=T\n"
                     "sub=$SYSTEM\n"
                     "kernelref=$KERNEL\n");
  }
  void TearDown() override { runEnvironment() = saved_; }

  TempDir dir_;
  RunEnvironment saved_;
};

TEST_F(Expansion, MacrosAndReferencesFollowTheirRules) {
  const std::string ini = runEnvironment().iniPath;
  const struct {
    std::string in, out;
  } cases[] = {
      {"$INSTALLER", "/media/setup/LumoInstaller"},  // never $INSTALL + "ER"
      {"$INSTALL\\LumoClient.exe||0|show", "/opt/Vexta\\LumoClient.exe||0|show"},
      {"$KERNEL $DESKTOP $SYSTEM $SMPROGRAMS $APPDATA", "/srv/LuMo /desk/all /usr/bin /menu /home/u/.config"},
      {"$INIPATH|$CURPATH|$CURDESKTOP", ini + "|/media/setup/|/home/u/Desktop"},
      {"$install $NOPE", "$install $NOPE"},  // case counts; unknown macros stay
      {"@installdir\\server.ini|LumoClient|REAL_VERSION->realversion",
       "D:\\Apps\\V\\server.ini|LumoClient|REAL_VERSION->realversion"},
      {"uninstall|start||+checkbox=@rmuserdata", "uninstall|start||+checkbox=1"},
      {"@rmuserdata and more|x", "|x"},  // a blank does not end the name
      {"(@rmuserdata==1)", "("},         // nor do parentheses or "="
      {"@trimmed |x", "T|x"},            // white space around the name is dropped
      {"a;@trimmed;'@trimmed'", "a;T;'T'"},
      {"@outer", "[deep;]"},             // values are expanded in turn
      {"@path\\cache", "/srv/LuMo\\LumoClient\\cache"},  // second pass
      {"@undefined", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    std::string text = c.in;
    EXPECT_TRUE(Expand(text)) << c.in;
    EXPECT_EQ(text, c.out) << c.in;
  }
}

// A folder is a name, never script: "/home/john@corp.example" once lost
// its "@corp.example" part, and RMDir then removed "/home/john".
TEST_F(Expansion, AFolderPutInByAMacroIsTakenAsItIs) {
  const struct {
    std::string install, kernel, appData, in, out;
  } cases[] = {
      {"/x/srv@x/Vexta", "", "", "$INSTALL\\LumoClient.exe", "/x/srv@x/Vexta\\LumoClient.exe"},
      {"", "", "/home/john@corp.example/.config", "$APPDATA\\Lumo|@rmuserdata",
       "/home/john@corp.example/.config\\Lumo|1"},
      {"/opt/$KERNEL", "/k", "", "$INSTALL $KERNEL", "/opt/$KERNEL /k"},
      // The second pass's folder is final too: never a third pass.
      {"", "/data/@sub$SYSTEM", "", "@kernelref", "/data/@sub$SYSTEM"},
      // A name ends where a folder begins.
      {"/opt/Vexta", "", "", "@rmuserdata$INSTALL", "1/opt/Vexta"},
  };
  for (const auto& c : cases) {
    setInstallFolder(c.install);
    runEnvironment().kernel = c.kernel;
    runEnvironment().appData = c.appData;
    std::string text = c.in;
    EXPECT_TRUE(Expand(text)) << c.in;
    EXPECT_EQ(text, c.out) << c.in;
  }
}

TEST_F(Expansion, ASelfReferringVariableLeavesTheTextUnexpanded) {
  for (std::string original : {"@self", "$INSTALL\\@grow|1", "@ping"}) {
    std::string text = original;
    EXPECT_FALSE(Expand(text)) << original;
    EXPECT_EQ(text, original);
  }
}

TEST_F(Expansion, ManyReferencesWithinTheBoundAreExpanded) {
  std::string text;
  for (int i = 0; i < kMaxVariableReplacements; ++i) text += "@trimmed|";
  EXPECT_TRUE(Expand(text));
  EXPECT_EQ(text, [] {
    std::string expected;
    for (int i = 0; i < kMaxVariableReplacements; ++i) expected += "T|";
    return expected;
  }());
}

}  // namespace
}  // namespace lumo
