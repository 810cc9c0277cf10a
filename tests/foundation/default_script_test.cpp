#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/resource_bundle.h"
#include "platform/text.h"
#include "script/run_environment.h"
#include "script/script_engine.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::buildPath;
using test::readFile;
using test::TempDir;
using test::writeFile;

std::string defaultScriptBytes() { return readFile(std::string(LUMO_SOURCE_DIR) + "/resources/install.ini"); }

TEST(DefaultScript, IsGbkWithCrLfAndIsWhatTheInstallerCarries) {
  std::string bytes = defaultScriptBytes();
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(gbkToUtf8(bytes).find("\xEF\xBF\xBD"), std::string::npos) << "every byte sequence is GBK";
  for (std::size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1))
    ASSERT_TRUE(at > 0 && bytes[at - 1] == '\r') << "line feed without CR at byte " << at;
  EXPECT_TRUE(bytes.ends_with("\r\n"));
  EXPECT_EQ(ResourceBundle::open(buildPath("LumoInstaller"))->load("INI", 800), bytes);
}

TEST(DefaultScript, DefinesEveryVariableWithItsInitialValue) {
  TempDir dir;
  writeFile(dir / "install.ini", defaultScriptBytes());
  runEnvironment().iniPath = dir / "install.ini";
  const std::map<std::string, std::string> expected = {
      {"main_version", "1.4"},
      {"app_version", "1.4.136.6"},
      {"channelid", "00"},
      {"uid", "02"},
      {"silence", "0"},
      {"product_name", "Vexta影音"},
      {"product_url", "Vexta首页.url"},
      {"app_name", "LumoClient"},
      {"lumo_regkey", "Software\\LuMo"},
      {"tarn_regkey", "Software\\LuMo\\Tarn"},
      {"kernel_regkey", "Software\\LuMo\\LumoKernel"},
      {"product_dir_regkey", "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\LumoClient.exe"},
      {"product_uinst_key", "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexta影音"},
      {"zmv_reg", ".zmv"},
      {"product_icon", "vexta"},
      {"desktop_categories", "AudioVideo;Video;Player;"},
      {"msg_init", "正在初始化..."},
      {"msg_inited", "正在准备安装..."},
      {"msg_check", "检查文件占用..."},
      {"msg_extract", "正在提取安装文件..."},
      {"msg_moviedb", "正在更新资源,请稍候..."},
      {"msg_rm_moviedb", "正在清除用户数据"},
      {"msg_regdll", "正在注册组件.."},
      {"msg_unregdll", "正在解注册组件..."},
      {"msg_unreg", "正在解注册..."},
      {"msg_remove", "正在删除安装文件..."},
      {"msg_cleartmp", "一点点清理"},
      {"msg_completing", "即将完成安装"},
      {"msg_complete", "安装完成"},
      {"msg_removed", "卸载完成"},
      {"msg_cancel", "安装失败,正在回滚..."},
      {"msg_cancel_complete", "回滚完成"},
      {"msg_close", "正在关闭"},
      {"boundXmlName", "Setup.xml"},
      {"autostart", "1"},
      {"softcheck1", "0"},
      {"softcheck2", "0"},
      {"softcheck3", "0"},
      {"rmuserdata", "0"},
      {"replacesetup", "0"},
      {"exists", "0"},
  };
  for (const auto& [name, value] : expected) EXPECT_EQ(GetVariable(name), value) << name;
  EXPECT_TRUE(GetVariable("license_url").ends_with("/pc/player/agreement.html"));
  for (const char* name : {"company", "publisher", "website"}) EXPECT_FALSE(GetVariable(name).empty()) << name;

  // The ones that start empty are present all the same.
  std::string text = gbkToUtf8(defaultScriptBytes());
  for (const char* name :
       {"software_url", "channelurl", "realversion", "installdir", "accpath", "autorun", "softname1", "softname2",
        "softname3", "softshortname1", "softshortname2", "softshortname3", "softurl1", "softurl2", "softurl3",
        "cachepath", "maxdisk", "LogClientProcess", "macaddr"})
    EXPECT_NE(text.find("\r\n" + std::string(name) + "=\r\n"), std::string::npos) << name;
}

TEST(DefaultScript, EveryCommandLineNamesAVerbOfTheLanguage) {
  const std::set<std::string> verbs = {
      "Delete",        "RMDir",          "MakeSurePath",  "Move",         "Copy",      "Exists",
      "ClearTmp",      "Out",            "Kill",          "Run",          "WaitProcess", "CheckUse",
      "ReadIni",       "WriteIni",       "WriteXml",      "CreateShortCut", "PinTaskBar", "RegDLL",
      "UnRegDLL",      "GetMaxDisk",     "Notify",        "NotifyOK",     "SleepMiliSeconds", "ReadReg",
      "WriteReg",      "DeleteReg",      "DeleteRegValue", "MaxConnection", "Compatibility", "FireWallAllow",
      "SendLog",       "OpenUrl",        "GetSoft",       "DownloadAndInstall", "IfThen",
      "InstallIcon",   "RemoveIcon"};
  std::istringstream lines(gbkToUtf8(defaultScriptBytes()));
  std::map<std::string, int> commandsPerSection;
  std::set<std::string> used;
  std::string line, section;
  while (std::getline(lines, line)) {
    std::string_view text = trim(line);
    if (text.starts_with("[")) section = std::string(text);
    if (!text.starts_with("#")) continue;
    ++commandsPerSection[section];
    std::string_view command = text.substr(1);
    std::string verb(command.substr(0, command.find(' ')));
    EXPECT_TRUE(verbs.count(verb)) << section << ": " << text;
    used.insert(verb);
    if (verb == "IfThen") {
      std::size_t target = command.find("->#");
      ASSERT_NE(target, std::string::npos) << text;
      std::string_view rest = command.substr(target + 3);
      std::string targetVerb(rest.substr(0, rest.find(' ')));
      EXPECT_TRUE(verbs.count(targetVerb)) << text;
      used.insert(targetVerb);
    }
  }
  for (const char* name : {"[installinit]", "[install]", "[installok]", "[installfailed]", "[uninstallinit]",
                           "[uninstall]"})
    EXPECT_GT(commandsPerSection[name], 0) << name;
  // The default script is also the demo of the language: every verb serves.
  EXPECT_EQ(used, verbs);
}

}  // namespace
}  // namespace lumo
