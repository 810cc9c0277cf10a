// Out: unpacks the payload archive (resource DATA 900 of the running
// program) into a folder. The archive is copied to "data.7z" in that folder
// and read back from there; entries are written in archive order, each
// entry's folders first, shallowest first. A target that cannot be written
// is moved aside to its name + ".old" and written again; when that fails too
// the user chooses to skip it, try again or give up. A silent run has nobody
// to choose and raises; nothing is skipped without a line that names the
// entry and the reason.
//
// Nothing is ever written outside the target folder: an entry whose name is
// absolute or climbs out with "..", a link pointing outside, and a folder on
// the way that leads outside (a link met on disk) stop the unpacking.
//
// Each entry is decoded into a file beside its target and renamed over it
// once its size and CRC-32 match the archive's header (checked here, not
// only inside the decoder), so a damaged payload never costs the user an
// older, sound file. Independent solid blocks are decoded side by side, one
// reader per thread, each reader skipping the blocks of the others; a block
// whose LZMA2 stream resets its dictionary on the way is itself decoded on
// several threads, one piece per thread (SevenZipEntryReader).
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "commands/families.h"
#include "formats/resource_bundle.h"
#include "formats/sevenzip_catalogue.h"
#include "formats/sevenzip_entry_reader.h"
#include "platform/archive_extractor.h"
#include "platform/debug_channel.h"
#include "platform/digest.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "platform/unpacked_files.h"
#include "script/install_recorder.h"
#include "script/run_environment.h"
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

std::string joined(const std::vector<std::string>& parts, std::size_t count) {
  std::string path;
  for (std::size_t i = 0; i < count; ++i) path += (i ? "/" : "") + parts[i];
  return path;
}

// What the readers of one run share: the first failure stops them all, and
// the user is asked about one busy file at a time.
struct SharedRun {
  explicit SharedRun(const CommandContext& context) : context(context) {}

  const CommandContext& context;
  std::atomic<bool> stopped{false};
  std::mutex failureLock;
  std::exception_ptr failure;
  std::mutex questionLock;

  void fail(std::exception_ptr error) {
    std::lock_guard<std::mutex> lock(failureLock);
    if (!failure) failure = std::move(error);
    stopped = true;
  }

  // Byte progress for whoever follows the run: every reader adds what it
  // wrote, and the count goes out at most every 100 ms (so at least every
  // 250 ms while bytes flow), read under the lock so that it never goes
  // back. Without the archive's header the total is unknown until the end.
  std::uint64_t total = 0;
  bool totalKnown = false;
  std::atomic<std::uint64_t> written{0};
  std::mutex progressLock;
  std::chrono::steady_clock::time_point lastReport{};

  void add(std::uint64_t bytes) {
    written += bytes;
    if (!totalKnown) return;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(progressLock);
    if (now - lastReport < std::chrono::milliseconds(100)) return;
    lastReport = now;
    context.host.unpacked(std::min<std::uint64_t>(written, total), total);
  }
  void finish() {
    std::lock_guard<std::mutex> lock(progressLock);
    const std::uint64_t end = totalKnown ? total : written.load();
    context.host.unpacked(end, end);
  }
};

// Thrown inside a reader that gives up because another one failed.
struct Stopped {};

// The entries that one reader writes: blocks [firstBlock, endBlock) and the
// entries without data that `owner` gives it.
struct ReaderShare {
  std::uint32_t firstBlock = 0;
  std::uint32_t endBlock = 0;
  std::size_t range = 0;
};

// Writes the entries below one target folder.
class PayloadWriter {
 public:
  PayloadWriter(const std::string& folder, const std::string& realFolder, SharedRun& run)
      : folder_(folder), realFolder_(realFolder), umask_(currentUmask()), run_(run) {}

  // Walks the opened archive; with a catalogue and a share, writes only
  // what the share names and leaves the rest to the other readers.
  void unpack(SevenZipEntryReader& archive, bool opened, const SevenZipCatalogue* catalogue,
              const ReaderShare* share, const std::vector<std::size_t>* owner) {
    ArchiveEntry entry;
    std::size_t index = 0;
    if (opened) {
      while (!run_.stopped && archive.next(entry)) {
        const CatalogueEntry* expected = nullptr;
        if (catalogue) {
          if (index >= catalogue->entries.size() || !sameName(entry, catalogue->entries[index].name)) {
            debugOutput("[Out] the decoder's entries differ from the archive's header at " + entry.name);
            throw ScriptError(decodeFailure(DecodeResult::BadArchive));
          }
          expected = &catalogue->entries[index];
        }
        std::size_t at = index++;
        if (share && expected) {
          if (expected->hasData && expected->block >= share->endBlock) break;
          bool mine = expected->hasData ? expected->block >= share->firstBlock : (*owner)[at] == share->range;
          // Not reading an entry's bytes lets the decoder pass a block
          // without decoding it.
          if (!mine) continue;
        }
        write(archive, entry, expected);
      }
    }
    if (run_.stopped) throw Stopped{};
    if (archive.result() != DecodeResult::Ok) {
      debugOutput("[Out] " + archive.detail());
      throw ScriptError(decodeFailure(archive.result()));
    }
  }

 private:
  // The decoder shows folders with a "/" at the end, and may turn the "\\"
  // of archives made on Windows into "/".
  static bool sameName(const ArchiveEntry& entry, const std::string& stored) {
    std::string a = entry.name, b = stored;
    std::replace(a.begin(), a.end(), '\\', '/');
    std::replace(b.begin(), b.end(), '\\', '/');
    if (entry.kind == EntryKind::Directory && a.ends_with('/')) a.pop_back();
    return a == b;
  }

  void write(SevenZipEntryReader& archive, const ArchiveEntry& entry, const CatalogueEntry* expected) {
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
        writeLink(entry, *parts, expected);
        return;
      case EntryKind::File:
        writeFile(archive, entry, name, expected);
        return;
    }
  }

  bool insideTarget(const std::string& path) const {
    std::optional<std::string> real = canonicalPath(path);
    return !real || *real == realFolder_ || real->rfind(realFolder_ + "/", 0) == 0;
  }

  // Creates a folder (an existing one is fine) and makes sure that it lies
  // inside the target folder: a link met on the way must not lead out. A
  // folder that cannot be made stops the unpacking: every entry below it
  // would be lost.
  void makeFolder(const std::string& name, const std::string& entryName) {
    if (insideFolders_.count(name)) return;
    std::string path = folder_ + name;
    const bool existed = nodeKind(path) != NodeKind::Missing;
    if (Result<void> created = createFolder(path); !created) throwCannotWrite(name, created.why());
    if (!existed) noteRecordItem(RecordItem{.kind = RecordKind::Folder, .location = recordedPath(name)});
    switch (nodeKind(path)) {
      case NodeKind::Link:
        if (!insideTarget(path)) throwOutside(entryName);
        if (!canonicalPath(path)) return;
        break;
      case NodeKind::Folder:
        break;
      default:
        throwCannotWrite(name, "something that is not a folder stands in its place");
    }
    insideFolders_.insert(name);
  }

  [[noreturn]] void throwCannotWrite(const std::string& name, const std::string& why) const {
    throw ScriptError("[Out] Can not write " + displayFolder() + "/" + name + ": " + why);
  }

  // Why `path` could not be written, from the failure of the attempt.
  static std::string whyNotWritable(const std::string& path, const Result<void>& attempt) {
    if (nodeKind(path) == NodeKind::Folder) return "a folder stands in its place";
    return attempt.why();
  }

  void writeLink(const ArchiveEntry& entry, const std::vector<std::string>& parts, const CatalogueEntry* expected) {
    std::vector<std::string> base(parts.begin(), parts.end() - 1);
    if (entry.linkTarget.empty() || !resolveInside(entry.linkTarget, base)) throwOutside(entry.name);
    // A link's data is its target's text.
    if (expected && expected->crc &&
        crc32Update(0, entry.linkTarget.data(), entry.linkTarget.size()) != *expected->crc)
      throw ScriptError(decodeFailure(DecodeResult::CrcError));
    std::string name = joined(parts, parts.size());
    std::string path = folder_ + name;
    bool written = whenWritable(name, [&] {
      // Whatever stands there makes way; if it cannot, the link's own
      // failure says why.
      static_cast<void>(deleteFile(path));
      return makeSymbolicLink(entry.linkTarget, path);
    });
    if (!written) return;
    // Resolved on disk, through links written earlier, it must stay inside
    // too; the folders checked so far are checked again through it.
    if (!insideTarget(path)) {
      removeName(path);
      throwOutside(entry.name);
    }
    insideFolders_.clear();
    noteRecordItem(RecordItem{.kind = RecordKind::Link, .location = recordedPath(name), .source = entry.linkTarget});
  }

  void writeFile(SevenZipEntryReader& archive, const ArchiveEntry& entry, const std::string& name,
                 const CatalogueEntry* expected) {
    std::string path = folder_ + name;
    ReplacementFile output;
    bool writable = whenWritable(name, [&] {
      if (Result<void> replaceable = canReplaceInPlace(path); !replaceable) return replaceable;
      return output.open(path);
    });
    if (!writable) return;

    std::uint32_t crc = 0;
    std::uint64_t count = 0;
    Sha256Stream digest;
    ArchiveExtractor::DataOutcome outcome =
        archive.extract([&](const void* data, std::size_t size, std::uint64_t offset) {
          if (run_.stopped) return false;
          if (offset != count) return false;  // entries arrive in one piece after another
          crc = crc32Update(crc, data, size);
          digest.update(data, size);
          count += size;
          if (!output.writeAt(data, size, offset)) return false;
          run_.add(size);
          return true;
        });
    if (outcome != ArchiveExtractor::DataOutcome::Done) {
      // The target keeps what it held; the unfinished copy goes.
      output.discard();
      if (run_.stopped) throw Stopped{};
      if (outcome == ArchiveExtractor::DataOutcome::SinkFailed) throw ScriptError(kCannotWrite);
      debugOutput("[Out] " + archive.detail());
      throw ScriptError(decodeFailure(archive.result()));
    }
    if (expected && (count != expected->size || (expected->crc && crc != *expected->crc))) {
      output.discard();
      debugOutput("[Out] " + entry.name + " does not match the size and CRC in the archive's header");
      throw ScriptError(decodeFailure(DecodeResult::CrcError));
    }
    // Stored permissions, read-only included; never set-user-id or
    // set-group-id bits from an archive.
    output.setMode(static_cast<mode_t>(entry.mode & 0777) & ~umask_);
    if (!output.commit()) throw ScriptError(kCannotClose);
    noteRecordItem(RecordItem{.kind = RecordKind::File,
                              .location = recordedPath(name),
                              .size = count,
                              .sha256 = digest.finish(),
                              .source = std::string(kPayloadSource) + name});
  }

  // Where the record finds an entry: below the target folder's real path.
  std::string recordedPath(const std::string& name) const { return realFolder_ + "/" + name; }

  // Runs `attempt` until it succeeds, moving a target that cannot be written
  // aside first and then asking the user. Returns false when the entry is
  // skipped.
  template <typename Attempt>
  bool whenWritable(const std::string& name, Attempt attempt) {
    for (;;) {
      Result<void> attempted = attempt();
      if (attempted) return true;
      std::string path = folder_ + name;
      std::string why = whyNotWritable(path, attempted);
      std::string backup = path + ".old";
      static_cast<void>(deleteFile(backup));  // an older backup makes way, if it can
      Result<void> movedAside = moveFileNoReplace(path, backup);
      if (movedAside) {
        debugOutput("Try rename file:" + name + " to:" + name + ".old successful!\n");
        continue;
      }
      why += "; it can not be moved aside to " + name + ".old either (" + movedAside.why() + ")";
      if (run_.context.environment.silent) throwCannotWrite(name, why);
      Question question;
      question.id = kBusyQuestionId;
      question.text = busyText(displayFolder(), name);
      question.caption = kBusyCaption;
      question.buttons = {Button::Cancel, Button::TryAgain, Button::Continue};
      question.defaultButton = Button::Continue;
      question.silentAnswer = Button::Continue;
      question.icon = Icon::Error;
      Button answer;
      {
        std::lock_guard<std::mutex> oneAtATime(run_.questionLock);
        if (run_.stopped) throw Stopped{};
        answer = run_.context.host.ask(question);
      }
      if (answer == Button::Continue) {
        std::string line = "[Out] " + displayFolder() + "/" + name + " is left as it was at the user's request: " + why;
        Log(line + "\r\n");
        std::fprintf(stderr, "%s\n", line.c_str());
        return false;
      }
      if (answer != Button::TryAgain)
        throw ScriptError("Can not open output file : " + displayFolder() + "/" + name + " -Decode7z");
    }
  }

  std::string displayFolder() const { return folder_.substr(0, folder_.size() - 1); }

  const std::string& folder_;      // ends in "/"
  const std::string& realFolder_;  // canonical, no trailing "/"
  const mode_t umask_;
  SharedRun& run_;
  std::set<std::string> insideFolders_;
};

// Splits the blocks into at most `readers` runs of neighbouring blocks of
// about equal unpacked size. Neighbours, because a reader passes the blocks
// before its own without decoding them only while it has decoded nothing.
std::vector<ReaderShare> shareBlocks(const SevenZipCatalogue& catalogue, std::size_t readers) {
  const std::vector<CatalogueBlock>& blocks = catalogue.blocks;
  std::uint64_t total = 0;
  for (const CatalogueBlock& block : blocks) total += block.unpackSize;
  std::vector<ReaderShare> shares;
  std::uint64_t done = 0;
  std::uint32_t first = 0;
  for (std::uint32_t b = 0; b < blocks.size(); ++b) {
    done += blocks[b].unpackSize;
    std::size_t left = readers - shares.size();
    bool last = b + 1 == blocks.size();
    // Close a share once it holds its part of the total, or when the blocks
    // left are just enough for one each for the readers still to come.
    std::size_t blocksLeft = blocks.size() - b - 1;
    bool full = done * readers >= total * (shares.size() + 1);
    if (last || (left > 1 && ((full && blocksLeft >= left - 1) || blocksLeft == left - 1))) {
      shares.push_back({first, b + 1, shares.size()});
      first = b + 1;
    }
  }
  return shares;
}

// Which share writes each entry without data: the share of the nearest
// entry with data before it (the first share for those at the start), so
// that every reader meets its entries before it stops.
std::vector<std::size_t> ownersOfEntriesWithoutData(const SevenZipCatalogue& catalogue,
                                                    const std::vector<ReaderShare>& shares) {
  std::vector<std::size_t> owner;
  std::size_t current = 0;
  for (const CatalogueEntry& entry : catalogue.entries) {
    if (entry.hasData)
      while (current + 1 < shares.size() && entry.block >= shares[current].endBlock) ++current;
    owner.push_back(current);
  }
  return owner;
}

void unpackArchive(const CommandContext& context, int fd, const std::string& folder, const std::string& realFolder) {
  SharedRun run(context);
  Result<SevenZipCatalogue> catalogue = readSevenZipCatalogue(fd, 0, kToEnd);
  if (!catalogue)
    debugOutput("[Out] the archive's header cannot be read here (" + catalogue.why() + "); the decoder alone checks it");
  if (catalogue) {
    for (const CatalogueEntry& entry : catalogue->entries)
      if (!entry.link) run.total += entry.size;
    run.totalKnown = true;
    context.host.unpacked(0, run.total);
  }

  bool hasLinks = false;
  if (catalogue) {
    // Links change where later names lead; they are written in archive
    // order by one reader.
    for (const CatalogueEntry& entry : catalogue->entries) hasLinks = hasLinks || entry.link;
  }
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  std::size_t readers = cores;
  if (catalogue) readers = std::min(readers, catalogue->blocks.size());
  // One reader in archive order when blocks split: each of them then keeps
  // every core busy by itself.
  SevenZipEntryReader whole;
  bool opened = whole.open(fd, 0, ArchiveExtractor::kWholeFile, catalogue ? &*catalogue : nullptr, cores);
  if (!catalogue || hasLinks || readers <= 1 || whole.splitBlocks() > 0 || !opened) {
    if (whole.splitBlocks() > 0)
      debugOutput("[Out] " + std::to_string(catalogue->blocks.size()) + " blocks, " +
                  std::to_string(whole.splitBlocks()) + " of them decoded piece by piece side by side");
    try {
      PayloadWriter(folder, realFolder, run).unpack(whole, opened, catalogue ? &*catalogue : nullptr, nullptr, nullptr);
    } catch (const Stopped&) {
    }
  } else {
    std::vector<ReaderShare> shares = shareBlocks(*catalogue, readers);
    std::vector<std::size_t> owner = ownersOfEntriesWithoutData(*catalogue, shares);
    debugOutput("[Out] " + std::to_string(catalogue->blocks.size()) + " blocks, " + std::to_string(shares.size()) +
                " readers");
    auto read = [&](const ReaderShare& share) {
      try {
        SevenZipEntryReader archive;
        bool opened = archive.open(fd, 0, ArchiveExtractor::kWholeFile, &*catalogue, 1);
        PayloadWriter(folder, realFolder, run).unpack(archive, opened, &*catalogue, &share, &owner);
      } catch (const Stopped&) {
      } catch (...) {
        run.fail(std::current_exception());
      }
    };
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < shares.size(); ++i) threads.emplace_back(read, std::cref(shares[i]));
    read(shares[0]);
    for (std::thread& thread : threads) thread.join();
  }
  if (run.failure) std::rethrow_exception(run.failure);
  run.finish();
  debugOutput("\nEverything is Ok -Decode7z\n");
}

void Out(const CommandContext& context, const CommandArguments& arguments) {
  std::string folder = nativePath(arguments.text);
  // An empty folder would mean the root of the file system.
  if (folder.empty()) throw ScriptError("[Out] Invalid target folder: " + arguments.text);
  if (folder.back() != '/') folder += '/';
  // Entries are written by full path, which must not change meaning when
  // the target folder becomes the current one.
  if (folder[0] != '/') {
    std::optional<std::string> current = canonicalPath(".");
    if (!current) throw ScriptError(kCannotOpenInput);
    folder = (*current == "/" ? "" : *current) + "/" + folder;
  }
  std::vector<std::string> created;
  makeSurePathExists(folder, &created);
  for (std::string& made : created) made = resolvedPath(made, false);
  noteFoldersCreated(created);

  const ResourceBundle& bundle = ResourceBundle::ofThisProgram();
  if (!bundle.find(kPayloadType, kPayloadId)) throw ScriptError(kResourceMissing);
  if (!canReadFile(bundle.path())) throw ScriptError(kResourceUnreadable);

  // The archive is read through the open descriptor and its name removed at
  // once: it is gone whatever happens next, and an entry that happens to be
  // called "data.7z" is written like any other.
  std::string archivePath = folder + kTemporaryArchive;
  int archiveFd = createScratchFile(archivePath);
  if (archiveFd < 0) throw ScriptError("[Out] Can not create the temporary archive " + archivePath);
  bool copied = bundle.copyTo(kPayloadType, kPayloadId, archiveFd);
  removeName(archivePath);
  if (!copied) {
    closeScratchFile(archiveFd);
    throw ScriptError("[Out] Can not write the temporary archive " + archivePath);
  }

  std::optional<std::string> realFolder = canonicalPath(folder);
  ScopedCurrentFolder current(folder);
  if (!realFolder || !current.entered()) {
    closeScratchFile(archiveFd);
    throw ScriptError(kCannotOpenInput);
  }
  // The files rewritten here lose their recorded digests first, so that a
  // crash half way never leaves a record that claims the old bytes.
  forgetRecordedDigestsUnder(*realFolder);
  try {
    unpackArchive(context, archiveFd, folder, *realFolder);
  } catch (...) {
    closeScratchFile(archiveFd);
    throw;
  }
  closeScratchFile(archiveFd);
}

}  // namespace

namespace commands {

void registerPayloadCommands() {
  registerCommand("Out", Out, {.paths = pathFields(0)});
}

}  // namespace commands
}  // namespace lumo
