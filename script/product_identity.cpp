#include "script/product_identity.h"

#include "platform/debug_channel.h"
#include "script/run_environment.h"
#include "script/variables.h"
#include "script/working_script.h"

namespace lumo {

std::optional<std::string> whyNotProductFolderName(std::string_view name) {
  if (name.empty()) return "it is empty";
  if (name == "." || name == "..") return "\"" + std::string(name) + "\" names no folder of its own";
  if (name.find_first_of("/\\:") != std::string_view::npos) return "it holds \"/\", \"\\\" or \":\"";
  if (name.front() == ' ' || name.back() == ' ') return "it begins or ends with a blank";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f) return "it holds a control character";
    if (c == '$' || c == '@' || c == '#' || c == '|') return "it holds \"$\", \"@\", \"#\" or \"|\"";
  }
  return std::nullopt;
}

std::optional<std::string> whyNotMainProgramName(std::string_view name) {
  // The same shape: one file name, which the folder's paths can carry.
  return whyNotProductFolderName(name);
}

ProductIdentity productIdentityFrom(const std::function<std::string(std::string_view)>& lookup) {
  ProductIdentity identity;
  if (std::string name = lookup(kProductNameKey); !name.empty()) identity.name = std::move(name);
  if (std::string url = lookup(kFeedbackUrlKey); !url.empty()) identity.feedbackUrl = std::move(url);
  if (std::string folder = lookup(kProductFolderKey); !folder.empty()) {
    if (std::optional<std::string> why = whyNotProductFolderName(folder))
      debugOutput("product_folder \"" + folder + "\" is ignored: " + *why + "\n");
    else
      identity.folder = std::move(folder);
  }
  if (std::string program = lookup(kMainProgramKey); !program.empty()) {
    if (std::optional<std::string> why = whyNotMainProgramName(program))
      debugOutput("main_program \"" + program + "\" is ignored: " + *why + "\n");
    else
      identity.mainProgram = std::move(program);
  }
  return identity;
}

ProductIdentity productIdentity() {
  if (runEnvironment().iniPath.empty()) return ProductIdentity{};
  return productIdentityFrom([](std::string_view key) { return GetVariable(key); });
}

ProductIdentity productIdentity(const Variables& variables) {
  return productIdentityFrom([&variables](std::string_view key) { return variables.get(key); });
}

std::string installerCaption() { return productIdentity().name + "安装程序"; }

}  // namespace lumo
