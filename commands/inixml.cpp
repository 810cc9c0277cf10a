// ReadIni, WriteIni and WriteXml: the product's own configuration files, INI
// files through the profile-file layer and one-line XML elements edited as
// plain text. The working script is GBK, as every other path that touches it
// takes it; other INI files keep the encoding they have (UTF-8 when new), XML
// files are UTF-8.
#include <string>
#include <string_view>

#include "commands/families.h"
#include "formats/profile_file.h"
#include "platform/atomic_file.h"
#include "platform/debug_channel.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "script/script_engine.h"

namespace lumo {
namespace {

constexpr std::string_view kIniNotFound = "[ReadIni] Source ini file not found: ";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Scripts read and write their own working script ($INIPATH) with these
// verbs; it must stay GBK for the variable store and the section reader.
TextEncoding iniEncoding(const Variables& variables, const std::string& path) {
  return variables.storedIn(path) ? TextEncoding::Gbk : TextEncoding::AsFound;
}

void ReadIni(const CommandContext& context, const CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  const std::string& file = fields[0];
  std::string path = nativePath(file);
  if (!pathFileExists(path)) {
    debugOutput(std::string(kIniNotFound) + file);
    return;
  }
  std::string value = ProfileFile(path, iniEncoding(context.variables, path)).read(fields[1], fields[2]).value_or("");
  context.variables.set(*arguments.output, cutToUtf16Units(value, kMaxValueLength));
}

void WriteIni(const CommandContext& context, const CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  // A missing folder or a read-only file makes the write fail; the script
  // goes on without a word, and the old file stays whole.
  std::string path = nativePath(fields[0]);
  // Written raw, a line break in a field would add lines of its own (in the
  // working script: a section that runs); it is an error, never a silent skip.
  if (std::optional<std::string> why = whyEntryCannotBeWritten(fields[1], fields[2], fields[3]))
    throw ScriptError("[WriteIni] Entry not written (" + *why + "): " + fields[0]);
  if (isReadOnlyFile(canonicalPath(path).value_or(path))) return;
  ProfileFile(path, iniEncoding(context.variables, path)).write(fields[1], fields[2], fields[3]);
}

// Every line holding both "<TAG>" and "</TAG>" becomes exactly
// "<TAG>VALUE</TAG>"; every line, the last one included, ends in CR LF.
// A byte-order mark at the start of the file is kept.
std::string replaceXmlElementLines(std::string_view content, std::string_view tag, std::string_view value) {
  const std::string open = std::string("<").append(tag).append(">");
  const std::string close = std::string("</").append(tag).append(">");
  std::string result;
  if (content.starts_with(kUtf8Bom)) {
    result = kUtf8Bom;
    content.remove_prefix(kUtf8Bom.size());
  }
  result.reserve(content.size() + content.size() / 16);
  while (!content.empty()) {
    std::size_t lf = content.find('\n');
    std::string_view line = content.substr(0, lf);
    content.remove_prefix(lf == std::string_view::npos ? content.size() : lf + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.find(open) != std::string_view::npos && line.find(close) != std::string_view::npos) {
      result += open;
      result += value;
      result += close;
    } else {
      result += line;
    }
    result += "\r\n";
  }
  return result;
}

void WriteXml(const CommandContext& context, const CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  std::string path = nativePath(fields[0]);
  // The file must exist and be writable in place: a read-only file is left
  // alone even though the folder would allow replacing it.
  std::optional<RewritableFile> file = readRewritableFile(path);
  if (!file) return;
  std::string updated = context.variables.storedIn(path)
                            ? replaceXmlElementLines(file->content, utf8ToGbk(fields[1]), utf8ToGbk(fields[2]))
                            : replaceXmlElementLines(file->content, fields[1], fields[2]);
  if (updated == file->content) return;
  // Written whole and renamed into place, so a crash never leaves half a file.
  replaceFileAtomically(path, updated, file->mode);
}

}  // namespace

namespace commands {

void registerIniXmlCommands() {
  registerCommand("ReadIni", ReadIni,
                  {.fields = 3, .output = Output::Required, .paths = pathFields(0), .changesMachine = false});
  registerCommand("WriteIni", WriteIni, {.fields = 4, .paths = pathFields(0)});
  registerCommand("WriteXml", WriteXml, {.fields = 3, .paths = pathFields(0)});
}

}  // namespace commands
}  // namespace lumo
