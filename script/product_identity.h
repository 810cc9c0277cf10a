// Who the installer installs: the product's name, its main program, the
// last component of its folder and its feedback page, taken from the [var]
// section of the working script. A key that is missing (or empty) means the
// demo product's value, so a script that names nothing installs exactly as
// the default installer does.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace lumo {

class Variables;

inline constexpr std::string_view kProductNameKey = "product_name";
inline constexpr std::string_view kMainProgramKey = "main_program";
inline constexpr std::string_view kProductFolderKey = "product_folder";
inline constexpr std::string_view kFeedbackUrlKey = "feedback_url";

inline constexpr std::string_view kDefaultProductName = "Vexta影音";
inline constexpr std::string_view kDefaultMainProgram = "LumoClient.exe";
inline constexpr std::string_view kDefaultProductFolder = "Vexta";
inline constexpr std::string_view kDefaultFeedbackUrl =
    "http://www.example.com/pc/player/feedback/index.html?entry=uninstall&version=@app_version";

struct ProductIdentity {
  std::string name{kDefaultProductName};
  std::string mainProgram{kDefaultMainProgram};  // a file name inside the install folder
  std::string folder{kDefaultProductFolder};     // the install folder's last component
  std::string feedbackUrl{kDefaultFeedbackUrl};  // before expansion
};

// Why `name` cannot be the last component of every install folder (the
// folder rule keys on it, so ".", ".." or a path would weaken it), or
// nothing when it can.
std::optional<std::string> whyNotProductFolderName(std::string_view name);

// Why `name` cannot name the main program inside the install folder.
std::optional<std::string> whyNotMainProgramName(std::string_view name);

// The identity that `lookup` (a [var] reader) gives. A folder or program
// name that the rules above refuse keeps the default, with a line on the
// debug channel: a run never installs into, or removes, a folder that a
// broken key names.
ProductIdentity productIdentityFrom(const std::function<std::string(std::string_view)>& lookup);

// The identity of the run's working script; the defaults when there is none.
ProductIdentity productIdentity();

// The identity that a command's variables give.
ProductIdentity productIdentity(const Variables& variables);

// The caption of the installer's message boxes: the name + "安装程序".
// Questions asked before a script is read (none there, a damaged installer)
// keep the demo product's caption, kInstallerCaption of script/host.h.
std::string installerCaption();

}  // namespace lumo
