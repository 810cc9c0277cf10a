#include "offer_lint.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

#include "platform/digest.h"
#include "platform/text.h"

namespace lumo {
namespace {

constexpr std::string_view kOfferLineMark = "<item";
constexpr std::string_view kAttributes[] = {"name", "keyWord", "extendName", "check",
                                           "regRoot", "regPath", "regKey", "url"};
// "|" splits the record into its fields; "@", "$" and "#" are taken by the
// expansion of the script line that carries it.
constexpr std::string_view kUncarried = "|@$#";

std::string inQuotes(std::string_view text) { return std::string("\"").append(text).append("\""); }

}  // namespace

bool isOfferList(const std::string& path) {
  return path.size() > 4 && equalsIgnoreCase(std::string_view(path).substr(path.size() - 4), ".xml");
}

std::vector<LintFinding> lintOfferList(const std::string& path) {
  std::vector<LintFinding> findings;
  auto error = [&](int line, std::string text) { findings.push_back({path, line, Severity::Error, std::move(text)}); };
  auto warning = [&](int line, std::string text) {
    findings.push_back({path, line, Severity::Warning, std::move(text)});
  };

  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error(0, std::string("cannot read the offer list: ") + std::strerror(errno));
    return findings;
  }
  int number = 0;
  for (std::string raw; std::getline(file, raw);) {
    ++number;
    std::string_view line(raw);
    if (line.find(kOfferLineMark) == std::string_view::npos) continue;

    std::string values[std::size(kAttributes)];
    std::size_t cursor = 0;
    bool whole = true;
    for (std::size_t i = 0; i < std::size(kAttributes) && whole; ++i) {
      std::string opening = std::string(" ").append(kAttributes[i]).append("=\"");
      std::size_t at = line.find(opening, cursor);
      std::size_t close = at == std::string_view::npos ? at : line.find('"', at + opening.size());
      if (close == std::string_view::npos) {
        error(number, "attribute " + inQuotes(kAttributes[i]) +
                          " is missing or out of order: the installer takes other text for its value");
        whole = false;
        break;
      }
      values[i] = std::string(line.substr(at + opening.size(), close - at - opening.size()));
      cursor = close + 1;
      if (values[i].find_first_of(kUncarried) != std::string::npos)
        error(number, "the value of " + inQuotes(kAttributes[i]) + " holds one of \"|@$#\", which the script line "
                                                                 "carrying the offer cannot pass on");
    }
    if (!whole) continue;

    const std::string& check = values[3];
    const std::string& url = values[7];
    if (std::string lower = toLowerAscii(url);
        lower.find("http://") == std::string::npos && lower.find("https://") == std::string::npos)
      error(number, "url " + inQuotes(url) + " is not an http:// or https:// address");
    DigestNotation digest = readDigestNotation(check);
    if (!digest.named)
      warning(number, "check " + inQuotes(check) + " names no digest: the program from " + url +
                          " runs unchecked (write check=\"sha256:\" and its 64 hex digits)");
    else if (digest.sha256.empty())
      error(number, "check " + inQuotes(check) + " is not \"sha256:\" and 64 hex digits: the download is never run");
  }
  return findings;
}

}  // namespace lumo
