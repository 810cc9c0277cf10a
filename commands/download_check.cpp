#include "commands/download_check.h"

#include <filesystem>
#include <optional>

#include "platform/digest.h"

namespace lumo::commands {
namespace {

constexpr std::string_view kVerb = "[DownloadAndInstall] ";

DownloadVerdict refuse(const CommandContext& context, const std::string& path, std::string_view address,
                       const std::string& why) {
  std::error_code error;
  std::filesystem::remove(path, error);
  context.log.write(std::string(kVerb) + std::string(address) + ": " + why + "; the download is deleted and not run\r\n");
  return DownloadVerdict::Refused;
}

}  // namespace

bool namesWebAddress(std::string_view text) {
  return text.find("http://") != std::string_view::npos || text.find("https://") != std::string_view::npos;
}

void logSecureChannelError(const CommandContext& context, std::string_view verb, std::string_view address,
                           const std::string& reason) {
  if (reason.empty()) return;
  // Appended piece by piece: GCC 12 at -O3 takes "[" + text for an
  // overlapping copy (-Wrestrict).
  context.log.write(std::string("[").append(verb).append("] ").append(address).append(": secure connection refused: ")
                        .append(reason).append("\r\n"));
}

DownloadVerdict checkDownload(const CommandContext& context, const std::string& path, std::string_view address,
                              std::string_view check) {
  DigestNotation expected = readDigestNotation(check);
  if (!expected.named) {
    context.log.write(std::string(kVerb) + std::string(address) +
                      ": the offer names no sha256 digest; the download runs unchecked\r\n");
    return DownloadVerdict::Unchecked;
  }
  if (expected.sha256.empty())
    return refuse(context, path, address,
                  "the offer's digest \"" + std::string(check) + "\" is not sha256: and 64 hex digits");
  std::optional<std::string> actual = fileSha256(path);
  if (!actual) return refuse(context, path, address, "the download cannot be read");
  if (*actual != expected.sha256)
    return refuse(context, path, address, "SHA-256 " + *actual + " differs from the offer's " + expected.sha256);
  return DownloadVerdict::Matches;
}

}  // namespace lumo::commands
