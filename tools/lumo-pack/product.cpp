#include "product.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "formats/profile_file.h"
#include "platform/text.h"
#include "script/product_identity.h"

extern char** environ;

namespace lumo_pack {
namespace {

namespace fs = std::filesystem;

// The script of a new product: the default script's sections, kept to what
// any product needs (unpack, menu entries, the uninstaller and its registry
// entry, the record of the folder) and named through [var]. "NAME" and
// "FOLDER" are replaced by the product folder's name.
constexpr const char* kScriptTemplate = R"(; NAME installation script, made by lumo-pack init. Text in GBK, lines end in CR LF.
; Fill in who the product is; the windows, the install folder and the checks follow these keys.
; A reference ends at "\", "|", ";" or "'": lines spell the name where a "." or "/" follows it.
[var]
product_name=NAME
main_program=FOLDER
product_folder=FOLDER
feedback_url=@website
app_version=1.0.0.0
main_version=1.0
channelid=00
uid=00
silence=0
product_icon=FOLDER
desktop_categories=Utility;
publisher=NAME
website=http://www.example.com/
license_url=http://www.example.com/
record_regkey=Software\FOLDER
product_uinst_key=Software\Microsoft\Windows\CurrentVersion\Uninstall\FOLDER
msg_init=正在初始化...
msg_extract=正在提取安装文件...
msg_completing=即将完成安装
msg_complete=安装完成
msg_remove=正在删除安装文件...
msg_removed=卸载完成
msg_cancel=安装失败,正在回滚...
msg_cancel_complete=回滚完成
msg_close=正在关闭
realversion=
installdir=
accpath=
autorun=
softname1=
softname2=
softname3=
softcheck1=0
softcheck2=0
softcheck3=0
softurl1=
softurl2=
softurl3=
rmuserdata=0
replacesetup=0
maxdisk=
macaddr=

[installinit]
#ReadReg HKEY_LOCAL_MACHINE|@record_regkey|HDir->installdir

[install]
#Notify @msg_init|2
#Kill @main_program
#SleepMiliSeconds 100
#Notify @msg_extract|20
#Out $INSTALL
#Notify @msg_completing|88
#NotifyOK

[installok]
#Notify @msg_completing|92
#MakeSurePath $APPDATA\@product_folder\Installer
#Copy $INSTALLER|$APPDATA\@product_folder\Installer\Setup
#Copy $INIPATH|$APPDATA\@product_folder\Installer\install.ini
#InstallIcon @product_icon
#MakeSurePath $SMPROGRAMS\@product_folder
#CreateShortCut $SMPROGRAMS\@product_folder\NAME.desktop|$INSTALL\@main_program|@product_icon|@product_name
#CreateShortCut $SMPROGRAMS\@product_folder\Uninstall.desktop|$APPDATA\@product_folder\Installer\Setup -uinst|@product_icon|卸载@product_name
#WriteReg HKEY_LOCAL_MACHINE|@product_uinst_key|DisplayName|@product_name
#WriteReg HKEY_LOCAL_MACHINE|@product_uinst_key|UninstallString|$APPDATA/FOLDER/Installer/Setup -uinst
#WriteReg HKEY_LOCAL_MACHINE|@product_uinst_key|DisplayVersion|@app_version
#WriteReg HKEY_LOCAL_MACHINE|@product_uinst_key|Publisher|@publisher
#WriteReg HKEY_LOCAL_MACHINE|@record_regkey|HDir|$INSTALL
#Notify @msg_complete|100
#IfThen (@autorun==1)->#Run $INSTALL\@main_program||0|show
#Notify @msg_close|100

[installfailed]
#Notify @msg_cancel|99
#Kill @main_program
#DeleteReg HKEY_LOCAL_MACHINE|@product_uinst_key
#DeleteReg HKEY_LOCAL_MACHINE|@record_regkey
#RMDir $SMPROGRAMS\@product_folder
#RemoveIcon @product_icon
#RMDir $APPDATA\@product_folder
#RMDir $INSTALL
#Notify @msg_cancel_complete|0

[uninstallinit]
#ReadReg HKEY_LOCAL_MACHINE|@record_regkey|HDir->installdir

[uninstall]
#Notify @msg_remove|10
#Kill @main_program
#SleepMiliSeconds 100
#DeleteReg HKEY_LOCAL_MACHINE|@product_uinst_key
#DeleteReg HKEY_LOCAL_MACHINE|@record_regkey
#RMDir $SMPROGRAMS\@product_folder
#RemoveIcon @product_icon
#RMDir $INSTALL
#Delete $APPDATA\@product_folder\Installer\Setup
#Notify @msg_removed|100
#Delete $INIPATH
)";

constexpr const char* kThemeTemplate = R"(# The look of NAME's installer windows, read by lumo-skin --theme
# (UTF-8; a key left out keeps the default look; lumo-skin --help lists the keys).
[theme]
product_name = NAME
tagline = 
mark = play
banner_from = #1F3A5F
banner_to = #2E7D9A
banner_glow = #7FD1E0
accent = #F08A24
)";

std::string replaced(std::string text, const std::string& name, const std::string& folder) {
  for (auto [from, to] : {std::pair<std::string, std::string>{"NAME", name}, {"FOLDER", folder}}) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
      text.replace(at, from.size(), to);
  }
  return text;
}

void writeText(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.flush()) throw ProductError("cannot write " + path.string() + ": " + std::strerror(errno));
}

std::string withCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// The program `name` on PATH, or nothing.
std::optional<std::string> onPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path ? path : "/usr/local/bin:/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (folder.empty()) continue;
    const std::string candidate = folder + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

// Runs `argv` in `folder` with its output thrown away; its exit status, or
// -1 when it could not start.
int runQuietly(const std::vector<std::string>& argv, const std::string& folder, std::string& errors) {
  std::vector<char*> raw;
  for (const std::string& arg : argv) raw.push_back(const_cast<char*>(arg.c_str()));
  raw.push_back(nullptr);
  const fs::path errorFile = fs::temp_directory_path() / ("lumo-pack-" + std::to_string(::getpid()) + ".err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = 0;
  const int started = ::posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  std::ifstream in(errorFile, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  errors = text.str();
  std::error_code ignored;
  fs::remove(errorFile, ignored);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

}  // namespace

std::string programFolder() {
  std::error_code code;
  fs::path self = fs::read_symlink("/proc/self/exe", code);
  return code ? std::string(".") : self.parent_path().string();
}

void initProduct(const std::string& dir) {
  const fs::path root = fs::absolute(dir).lexically_normal();
  std::error_code code;
  if (fs::exists(root, code) && !(fs::is_directory(root, code) && fs::is_empty(root, code)))
    throw ProductError(dir + " exists and is not an empty folder; init writes a new product folder");
  std::string folder = root.filename().string();
  if (folder.empty()) folder = root.parent_path().filename().string();
  if (std::optional<std::string> why = lumo::whyNotProductFolderName(folder))
    throw ProductError("the folder's name \"" + folder + "\" cannot name a product folder: " + *why);
  if (lumo::gbkToUtf8(lumo::utf8ToGbk(folder)) != folder)
    throw ProductError("the folder's name \"" + folder + "\" has characters a GBK script cannot carry");
  fs::create_directories(root / "payload", code);
  if (code) throw ProductError("cannot create " + (root / "payload").string() + ": " + code.message());
  writeText(root / "install.ini", lumo::utf8ToGbk(withCrLf(replaced(kScriptTemplate, folder, folder))));
  writeText(root / "theme.ini", replaced(kThemeTemplate, folder, folder));
}

PreparedProduct prepareProduct(const std::string& dir, const std::string& work) {
  const fs::path root = fs::absolute(dir).lexically_normal();
  std::error_code code;
  if (!fs::is_directory(root, code)) throw ProductError(dir + " is not a folder (make one with lumo-pack init)");
  for (const char* part : {"install.ini", "theme.ini"}) {
    if (!fs::is_regular_file(root / part, code))
      throw ProductError((root / part).string() + " is missing (lumo-pack init writes it)");
  }
  if (!fs::is_directory(root / "payload", code) || fs::is_empty(root / "payload", code))
    throw ProductError((root / "payload").string() + " is missing or empty: copy the product's files into it");

  PreparedProduct made;
  const lumo::ProfileFile script((root / "install.ini").string(), lumo::TextEncoding::Gbk);
  const lumo::ProductIdentity identity =
      lumo::productIdentityFrom([&script](std::string_view key) { return script.read("var", key).value_or(""); });
  made.name = identity.name;
  if (!fs::exists(root / "payload" / identity.mainProgram, code))
    throw ProductError("payload/" + identity.mainProgram + " is missing: main_program names the program that the " +
                       "installer starts and by which the uninstaller knows the product is installed");

  const std::optional<std::string> sevenZip = onPath("7zz");
  if (!sevenZip)
    throw ProductError("7zz is not installed (Debian: apt-get install 7zip); it makes the payload");
  made.payload = work + "/payload.7z";
  std::string errors;
  // The payload recipe: BCJ in front of LZMA2, a 32 MB dictionary, solid
  // blocks of 8 MB.
  const int packed = runQuietly({*sevenZip, "a", "-t7z", "-m0=BCJ", "-m1=LZMA2:d=32m", "-ms=8m", "-mmt=on", "-bso0",
                                 "-bsp0", made.payload, "./payload/."},
                                root.string(), errors);
  if (packed != 0) throw ProductError("7zz could not make the payload (status " + std::to_string(packed) + "): " + errors);

  const std::string skin = work + "/skin";
  const std::string skinProgram = programFolder() + "/lumo-skin";
  const int drawn = runQuietly({skinProgram, "--theme", (root / "theme.ini").string(), skin}, "", errors);
  if (drawn < 0) throw ProductError(skinProgram + " cannot be started; it draws the skin");
  if (drawn != 0) throw ProductError("the skin could not be drawn: " + errors);

  made.sets.push_back("INI:800=" + (root / "install.ini").string());
  made.sets.push_back("DATA:900=" + made.payload);
  std::vector<std::string> images;
  for (const fs::directory_entry& entry : fs::directory_iterator(skin)) {
    const std::string stem = entry.path().stem().string();
    if (entry.path().extension() != ".png") continue;
    const bool twice = stem.ends_with("@2x");
    const std::string id = twice ? stem.substr(0, stem.size() - 3) : stem;
    if (!id.empty() && std::all_of(id.begin(), id.end(), ::isdigit))
      images.push_back((twice ? "PNG2X:" : "PNG:") + id + "=" + entry.path().string());
  }
  std::sort(images.begin(), images.end());
  made.sets.insert(made.sets.end(), images.begin(), images.end());
  made.sets.push_back("ICON:128=" + skin + "/icon.ico");
  return made;
}

}  // namespace lumo_pack
