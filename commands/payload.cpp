// Out: unpacks the payload archive (resource DATA 900 of the running
// program) into a folder. The archive is copied to "data.7z" in that folder
// and read back from there; entries are written in archive order, each
// entry's folders first, shallowest first. A target that cannot be written
// is moved aside to its name + ".old" and written again; when that fails too
// the user chooses to skip it, try again or give up (a silent run skips).
//
// Nothing is ever written outside the target folder: an entry whose name is
// absolute or climbs out with "..", a link pointing outside, and a folder on
// the way that leads outside (a link met on disk) stop the unpacking.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "script/run_environment.h"
#include "platform/archive_extractor.h"
#include "platform/debug_channel.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "platform/resource_bundle.h"
#include "script/script_engine.h"

namespace lumo {
namespace {

constexpr const char* kPayloadType = "DATA";
constexpr std::uint32_t kPayloadId = 900;
constexpr const char* kTemporaryArchive = "data.7z";

constexpr const char* kResourceMissing = "[Out] 'DATA' resource not found in current executable";
constexpr const char* kResourceUnreadable = "Unable to extract install resource!";
constexpr const char* kCannotOpenInput = "Can not open input file";
constexpr const char* kCannotWrite = "Can not write output file -Decode7z";
constexpr const char* kCannotClose = "Can not close output file -Decode7z";
constexpr const char* kBusyCaption = "无法写入目标文件";
constexpr const char* kBusyQuestionId = "out.write-failed";

std::string busyText(const std::string& folder, const std::string& name) {
  return "目标文件 " + folder + "/" + name +
         " 无法写入！  \n\n按'继续'忽略该文件,按'重试'再次尝试写入,按'取消'退出安装程序！\n";
}

std::string decodeFailure(DecodeResult result) {
  switch (result) {
    case DecodeResult::Ok:
      return {};
    case DecodeResult::Unsupported:
      return "Decoder doesn't support this archive -Decode7z";
    case DecodeResult::OutOfMemory:
      return "Can not allocate memory -Decode7z";
    case DecodeResult::CrcError:
      return "CRC error -Decode7z";
    default:
      return "\nERROR -Decode7z#" + std::to_string(static_cast<int>(result)) + "\n";
  }
}

[[noreturn]] void throwOutside(const std::string& name) {
  throw ScriptError("[Out] Entry outside the target folder: " + name);
}

// The components of `path` (either separator) with "." dropped and ".."
// applied to `base`; nothing when the result would leave the starting point
// or when `path` is absolute.
std::optional<std::vector<std::string>> resolveInside(const std::string& path, std::vector<std::string> base) {
  std::string native = nativePath(path);
  if (!native.empty() && native[0] == '/') return std::nullopt;
  std::size_t start = 0;
  while (start <= native.size()) {
    std::size_t slash = native.find('/', start);
    if (slash == std::string::npos) slash = native.size();
    std::string part = native.substr(start, slash - start);
    if (part == "..") {
      if (base.empty()) return std::nullopt;
      base.pop_back();
    } else if (!part.empty() && part != ".") {
      base.push_back(part);
    }
    start = slash + 1;
  }
  return base;
}

std::string joined(const std::vector<std::string>& parts, std::size_t count) {
  std::string path;
  for (std::size_t i = 0; i < count; ++i) path += (i ? "/" : "") + parts[i];
  return path;
}

// Writes the entries below one target folder.
class PayloadWriter {
 public:
  PayloadWriter(std::string folder, std::string realFolder)
      : folder_(std::move(folder)), realFolder_(std::move(realFolder)), umask_(currentUmask()) {}

  void unpack(int archiveFd) {
    ArchiveExtractor archive;
    ArchiveEntry entry;
    if (archive.open(archiveFd)) {
      while (archive.next(entry)) write(archive, entry);
    }
    if (archive.result() != DecodeResult::Ok) {
      debugOutput("[Out] " + archive.detail());
      throw ScriptError(decodeFailure(archive.result()));
    }
    debugOutput("\nEverything is Ok -Decode7z\n");
  }

 private:
  void write(ArchiveExtractor& archive, const ArchiveEntry& entry) {
    std::optional<std::vector<std::string>> parts = resolveInside(entry.name, {});
    if (!parts) throwOutside(entry.name);
    if (parts->empty()) {
      if (entry.kind == EntryKind::Directory) return;
      throwOutside(entry.name);
    }
    for (std::size_t depth = 1; depth < parts->size(); ++depth) makeFolder(joined(*parts, depth), entry.name);
    std::string name = joined(*parts, parts->size());
    switch (entry.kind) {
      case EntryKind::Directory:
        makeFolder(name, entry.name);
        return;
      case EntryKind::Link:
        writeLink(entry, *parts);
        return;
      case EntryKind::File:
        writeFile(archive, entry, name);
        return;
    }
  }

  // Creates a folder (an existing one is fine) and makes sure that it lies
  // inside the target folder: a link met on the way must not lead out.
  void makeFolder(const std::string& name, const std::string& entryName) {
    if (insideFolders_.count(name)) return;
    std::string path = folder_ + name;
    ::mkdir(path.c_str(), 0777);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISLNK(st.st_mode)) {
      std::optional<std::string> real = canonicalPath(path);
      if (real && *real != realFolder_ && real->rfind(realFolder_ + "/", 0) != 0) throwOutside(entryName);
      if (!real) return;
    } else if (!S_ISDIR(st.st_mode)) {
      return;
    }
    insideFolders_.insert(name);
  }

  void writeLink(const ArchiveEntry& entry, const std::vector<std::string>& parts) {
    std::vector<std::string> base(parts.begin(), parts.end() - 1);
    if (entry.linkTarget.empty() || !resolveInside(entry.linkTarget, base)) throwOutside(entry.name);
    std::string name = joined(parts, parts.size());
    std::string path = folder_ + name;
    bool written = whenWritable(name, [&] {
      deleteFile(path);
      return ::symlink(entry.linkTarget.c_str(), path.c_str()) == 0;
    });
    if (!written) return;
    // Resolved on disk, through links written earlier, it must stay inside
    // too; the folders checked so far are checked again through it.
    std::optional<std::string> real = canonicalPath(path);
    if (real && *real != realFolder_ && real->rfind(realFolder_ + "/", 0) != 0) {
      ::unlink(path.c_str());
      throwOutside(entry.name);
    }
    insideFolders_.clear();
  }

  void writeFile(ArchiveExtractor& archive, const ArchiveEntry& entry, const std::string& name) {
    std::string path = folder_ + name;
    OutputFile output;
    if (!whenWritable(name, [&] { return output.open(path); })) return;

    ArchiveExtractor::DataOutcome outcome =
        archive.extract([&](const void* data, std::size_t size, std::uint64_t offset) {
          return output.writeAt(data, size, offset);
        });
    if (outcome != ArchiveExtractor::DataOutcome::Done) {
      // A file whose bytes did not all arrive is not left behind half made.
      output.close();
      ::unlink(path.c_str());
      if (outcome == ArchiveExtractor::DataOutcome::SinkFailed) throw ScriptError(kCannotWrite);
      debugOutput("[Out] " + archive.detail());
      throw ScriptError(decodeFailure(archive.result()));
    }
    // Stored permissions, read-only included; never set-user-id or
    // set-group-id bits from an archive.
    output.setMode(static_cast<mode_t>(entry.mode & 0777) & ~umask_);
    if (!output.close()) throw ScriptError(kCannotClose);
  }

  // Runs `attempt` until it succeeds, moving a target that cannot be written
  // aside first and then asking the user. Returns false when the entry is
  // skipped.
  template <typename Attempt>
  bool whenWritable(const std::string& name, Attempt attempt) {
    for (;;) {
      if (attempt()) return true;
      std::string path = folder_ + name;
      std::string backup = path + ".old";
      deleteFile(backup);
      if (moveFileNoReplace(path, backup)) {
        debugOutput("Try rename file:" + name + " to:" + name + ".old successful!\n");
        continue;
      }
      if (runEnvironment().silent) return false;
      Question question;
      question.id = kBusyQuestionId;
      question.text = busyText(displayFolder(), name);
      question.caption = kBusyCaption;
      question.buttons = {Button::Cancel, Button::TryAgain, Button::Continue};
      question.defaultButton = Button::Continue;
      question.silentAnswer = Button::Continue;
      question.icon = Icon::Error;
      Button answer = host().ask(question);
      if (answer == Button::Continue) return false;
      if (answer != Button::TryAgain)
        throw ScriptError("Can not open output file : " + displayFolder() + "/" + name + " -Decode7z");
    }
  }

  std::string displayFolder() const { return folder_.substr(0, folder_.size() - 1); }

  const std::string folder_;      // ends in "/"
  const std::string realFolder_;  // canonical, no trailing "/"
  const mode_t umask_;
  std::set<std::string> insideFolders_;
};

// Copies the payload resource into `path`; false (and no file) when it
// cannot be written completely.
enum class CopyOutcome { Copied, NotCreated, Failed };

CopyOutcome copyPayload(const ResourceBundle& bundle, const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return CopyOutcome::NotCreated;
  bool copied = bundle.copyTo(kPayloadType, kPayloadId, fd);
  if (::close(fd) != 0) copied = false;
  if (copied) return CopyOutcome::Copied;
  ::unlink(path.c_str());
  return CopyOutcome::Failed;
}

void Out(const std::string& arguments) {
  std::string folder = nativePath(arguments);
  // An empty folder would mean the root of the file system.
  if (folder.empty()) throw ScriptError("[Out] Invalid target folder: " + arguments);
  if (folder.back() != '/') folder += '/';
  // Entries are written by full path, which must not change meaning when
  // the target folder becomes the current one.
  if (folder[0] != '/') {
    std::optional<std::string> current = canonicalPath(".");
    if (!current) throw ScriptError(kCannotOpenInput);
    folder = (*current == "/" ? "" : *current) + "/" + folder;
  }
  makeSurePathExists(folder);

  const ResourceBundle& bundle = ResourceBundle::ofThisProgram();
  if (!bundle.find(kPayloadType, kPayloadId)) throw ScriptError(kResourceMissing);
  if (::access(bundle.path().c_str(), R_OK) != 0) throw ScriptError(kResourceUnreadable);

  std::string archivePath = folder + kTemporaryArchive;
  switch (copyPayload(bundle, archivePath)) {
    case CopyOutcome::NotCreated:
      return;
    case CopyOutcome::Failed:
      throw ScriptError("[Out] Can not write the temporary archive " + archivePath);
    case CopyOutcome::Copied:
      break;
  }

  // The archive is read through the open descriptor and its name removed at
  // once: it is gone whatever happens next, and an entry that happens to be
  // called "data.7z" is written like any other.
  int archiveFd = ::open(archivePath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  ::unlink(archivePath.c_str());
  if (archiveFd < 0) throw ScriptError(kCannotOpenInput);

  std::optional<std::string> realFolder = canonicalPath(folder);
  ScopedCurrentFolder current(folder);
  if (!realFolder || !current.entered()) {
    ::close(archiveFd);
    throw ScriptError(kCannotOpenInput);
  }
  try {
    PayloadWriter(folder, *realFolder).unpack(archiveFd);
  } catch (...) {
    ::close(archiveFd);
    throw;
  }
  ::close(archiveFd);
}

const CommandRegistration registrations[] = {{"Out", Out, {.paths = pathFields(0)}}};

}  // namespace

}  // namespace lumo
