#include "formats/profile_file.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/file_handles.h"
#include "platform/text.h"
#include "platform/unpacked_files.h"

namespace lumo {
namespace {


struct Line {
  std::size_t begin;  // offset of the line's text
  std::size_t end;    // offset just past the text, before CR LF / LF
  std::size_t next;   // offset of the next line
};

// The line that starts at `pos` (which is below content.size()).
Line lineAt(std::string_view content, std::size_t pos) {
  std::size_t lf = content.find('\n', pos);
  std::size_t next = lf == std::string_view::npos ? content.size() : lf + 1;
  std::size_t end = lf == std::string_view::npos ? content.size() : lf;
  if (end > pos && content[end - 1] == '\r') --end;
  return {pos, end, next};
}

bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = byte < 0x80 ? 1 : (byte & 0xE0) == 0xC0 ? 2 : (byte & 0xF0) == 0xE0 ? 3 : (byte & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || (length == 2 && byte < 0xC2) || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

// The encoding the content is stored in (see TextEncoding::AsFound).
TextEncoding storedEncoding(std::string_view content, TextEncoding encoding) {
  if (encoding != TextEncoding::AsFound) return encoding;
  if (content.empty() || content.starts_with("\xEF\xBB\xBF") || isValidUtf8(content)) return TextEncoding::Utf8;
  return TextEncoding::Gbk;
}

std::string decodeText(std::string_view raw, TextEncoding encoding) {
  return encoding == TextEncoding::Gbk ? gbkToUtf8(raw) : std::string(raw);
}

std::string_view trimAscii(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// What one line of an INI file is. Lines are looked at in their stored bytes
// and decoded only as far as needed: outside the wanted section only a
// header matters, and a value is decoded once its key matches. Splitting at
// "=" and looking for "[" or ";" in the first byte is safe in GBK, whose
// second bytes are 0x40 and above and never start a line.
struct ParsedLine {
  enum Kind { Other, Section, Entry } kind = Other;
  std::string name;        // section name or key, decoded and trimmed
  std::string_view value;  // entry value as stored, not yet decoded or trimmed
};

ParsedLine parseLine(std::string_view raw, TextEncoding encoding, bool wantEntries) {
  ParsedLine parsed;
  std::string_view line = trimAscii(raw);
  if (line.empty() || line.front() == ';') return parsed;
  std::string decoded;
  std::string_view header;
  if (line.front() == '[') {
    decoded = decodeText(line, encoding);
    header = decoded;
  } else if (static_cast<unsigned char>(line.front()) >= 0x80) {
    // It may start with a wide space; only the decoded text tells.
    decoded = decodeText(line, encoding);
    std::string_view text = trim(decoded);
    if (text.starts_with("[")) header = text;
  }
  if (!header.empty()) {
    std::size_t close = header.find(']');
    parsed.kind = ParsedLine::Section;
    parsed.name = std::string(trim(header.substr(1, close == std::string_view::npos ? close : close - 1)));
    return parsed;
  }
  if (!wantEntries) return parsed;
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return parsed;
  parsed.kind = ParsedLine::Entry;
  parsed.name = std::string(trim(decodeText(line.substr(0, eq), encoding)));
  parsed.value = line.substr(eq + 1);
  return parsed;
}

// Where a key sits in the file: its line, or where a new entry would go.
struct Position {
  bool sectionFound = false;
  bool keyFound = false;
  Line keyLine{};      // valid when keyFound
  Line insertAfter{};  // last non-blank line of the section
  std::string value;
};

// Walks the lines only as far as needed: a lookup ends at its key or at the
// end of its section, whatever follows in the file.
Position locate(std::string_view content, std::string_view section, std::string_view key, TextEncoding encoding) {
  Position pos;
  bool inSection = false;
  for (std::size_t at = 0; at < content.size();) {
    Line line = lineAt(content, at);
    at = line.next;
    std::string_view raw = content.substr(line.begin, line.end - line.begin);
    // A byte-order mark is no part of the first line's text.
    if (line.begin == 0 && encoding == TextEncoding::Utf8 && raw.starts_with("\xEF\xBB\xBF")) raw.remove_prefix(3);
    ParsedLine parsed = parseLine(raw, encoding, inSection);
    if (parsed.kind == ParsedLine::Section) {
      if (inSection) break;  // the first matching section is the one that counts
      // Names in the file are read trimmed, so the asked-for name is
      // trimmed too: "[ ]" is the section " ".
      inSection = equalsIgnoreCase(parsed.name, trim(section));
      if (inSection) {
        pos.sectionFound = true;
        pos.insertAfter = line;
      }
      continue;
    }
    if (!inSection) continue;
    if (!trimAscii(raw).empty()) pos.insertAfter = line;
    if (parsed.kind == ParsedLine::Entry && equalsIgnoreCase(parsed.name, trim(key))) {
      pos.keyFound = true;
      pos.keyLine = line;
      pos.value = std::string(trim(decodeText(parsed.value, encoding)));
      return pos;
    }
  }
  return pos;
}

std::string unquote(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

using Clock = std::chrono::steady_clock;
constexpr Clock::duration kGroupedFlushInterval = std::chrono::milliseconds(kGroupedFlushIntervalMs);
// Replaced files waiting to be closed by the worker; past this, the writer
// closes its own.
constexpr std::size_t kMaxClosing = 256;


// The flushes of grouped writes (see Durability::Grouped): when each file
// was last flushed, which files wait for a flush, and the worker that does
// it.
class GroupedFlush {
 public:
  // One per process; a child made by fork() starts its own, as the worker
  // did not come along. Never destroyed: the worker may outlive main().
  static GroupedFlush& instance() {
    static std::mutex creation;
    static GroupedFlush* current = nullptr;
    std::lock_guard lock(creation);
    if (!current || current->owner_ != processId()) {
      current = new GroupedFlush;
      if (!registered_) {
        registered_ = true;
        std::atexit([] { instance().flushAll(); });
      }
    }
    return *current;
  }

  // A write of `path` has just replaced the file without a flush.
  void wrote(const std::string& path) {
    std::unique_lock lock(mutex_);
    Clock::time_point now = Clock::now();
    auto last = lastFlush_.find(path);
    if (last == lastFlush_.end() || now - last->second >= kGroupedFlushInterval) {
      lastFlush_[path] = now;
      pending_.erase(path);
      lock.unlock();
      flushToDisk(path);
      return;
    }
    pending_.insert(path);
    startWorker();
    wake_.notify_one();
  }

  // Closes `fd` off the writer's path: it is the last reference to a file
  // that a write just replaced, and freeing an inode waits for the file
  // system's journal (most of a write's time on a busy ext4).
  void closeLater(int fd) {
    std::unique_lock lock(mutex_);
    if (closing_.size() >= kMaxClosing) {
      lock.unlock();
      closeDescriptor(fd);
      return;
    }
    closing_.push_back(fd);
    startWorker();
    wake_.notify_one();
  }

  void flushAll() {
    std::unique_lock lock(mutex_);
    std::set<std::string> due;
    due.swap(pending_);
    for (const std::string& path : due) lastFlush_[path] = Clock::now();
    lock.unlock();
    for (const std::string& path : due) flushToDisk(path);
  }

 private:
  GroupedFlush() : owner_(processId()) {}

  // Called with the mutex held.
  void startWorker() {
    if (worker_) return;
    worker_ = true;
    std::thread([this] { run(); }).detach();
  }

  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return !pending_.empty() || !closing_.empty(); });
      std::vector<int> closing;
      closing.swap(closing_);
      std::vector<std::string> flushing;
      Clock::time_point now = Clock::now();
      Clock::time_point next = Clock::time_point::max();
      for (auto it = pending_.begin(); it != pending_.end();) {
        Clock::time_point due = lastFlush_[*it] + kGroupedFlushInterval;
        if (due > now) {
          next = std::min(next, due);
          ++it;
          continue;
        }
        lastFlush_[*it] = now;
        flushing.push_back(*it);
        it = pending_.erase(it);
      }
      lock.unlock();
      for (int fd : closing) closeDescriptor(fd);
      for (const std::string& path : flushing) flushToDisk(path);
      lock.lock();
      if (closing.empty() && flushing.empty() && closing_.empty() && next != Clock::time_point::max())
        wake_.wait_until(lock, next);
    }
  }

  static inline bool registered_ = false;
  const long owner_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::string, Clock::time_point> lastFlush_;
  std::set<std::string> pending_;
  std::vector<int> closing_;
  bool worker_ = false;
};

}  // namespace

void flushProfileFiles() { GroupedFlush::instance().flushAll(); }

ProfileFile::ProfileFile(std::string path, TextEncoding encoding, Durability durability)
    : path_(std::move(path)), encoding_(encoding), durability_(durability) {}

bool ProfileFile::replace(std::string_view content, mode_t mode) {
  const bool grouped = durability_ == Durability::Grouped;
  if (!replaceFileAtomically(path_, content, mode, !grouped)) return false;
  if (grouped) GroupedFlush::instance().wrote(path_);
  return true;
}

std::optional<std::string> ProfileFile::read(std::string_view section, std::string_view key) const {
  LockedFile file(path_, LockedFile::Mode::Read);
  std::string content;
  if (!file.ok() || !file.readAll(content)) return std::nullopt;
  Position pos = locate(content, section, key, storedEncoding(content, encoding_));
  if (!pos.keyFound) return std::nullopt;
  return unquote(pos.value);
}

std::vector<ProfileEntry> ProfileFile::entries(std::string_view section) const {
  std::vector<ProfileEntry> found;
  LockedFile file(path_, LockedFile::Mode::Read);
  std::string content;
  if (!file.ok() || !file.readAll(content)) return found;
  const std::string_view text = content;
  const TextEncoding encoding = storedEncoding(content, encoding_);
  bool inSection = false;
  int number = 0;
  for (std::size_t at = 0; at < text.size();) {
    Line line = lineAt(text, at);
    at = line.next;
    ++number;
    std::string_view raw = text.substr(line.begin, line.end - line.begin);
    if (line.begin == 0 && encoding == TextEncoding::Utf8 && raw.starts_with("\xEF\xBB\xBF")) raw.remove_prefix(3);
    ParsedLine parsed = parseLine(raw, encoding, inSection);
    if (parsed.kind == ParsedLine::Section) {
      if (inSection) break;  // the first matching section is the one that counts
      inSection = equalsIgnoreCase(parsed.name, trim(section));
      continue;
    }
    if (inSection && parsed.kind == ParsedLine::Entry)
      found.push_back({number, parsed.name, unquote(std::string(trim(decodeText(parsed.value, encoding))))});
  }
  return found;
}

std::optional<std::string> whyEntryCannotBeWritten(std::string_view section, std::string_view key,
                                                   std::string_view value) {
  constexpr std::string_view kLineBreaksAndNul{"\r\n\0", 3};
  if (section.find_first_of(kLineBreaksAndNul) != std::string_view::npos ||
      key.find_first_of(kLineBreaksAndNul) != std::string_view::npos ||
      value.find_first_of(kLineBreaksAndNul) != std::string_view::npos) {
    return "a line break or NUL cannot be written into an INI entry";
  }
  if (section.find(']') != std::string_view::npos) return "a section name cannot hold \"]\"";
  const std::string_view name = trim(key);
  if (name.starts_with('[') || name.starts_with(';') || key.find('=') != std::string_view::npos) {
    return "a key cannot begin with \"[\" or \";\" or hold \"=\"";
  }
  return std::nullopt;
}

bool ProfileFile::write(std::string_view section, std::string_view key, std::string_view value) {
  if (whyEntryCannotBeWritten(section, key, value)) return false;
  LockedFile file(path_, LockedFile::Mode::Write);
  std::string content;
  if (!file.ok() || !file.readAll(content)) return false;
  const TextEncoding encoding = storedEncoding(content, encoding_);
  auto encode = [&](std::string_view text) {
    return encoding == TextEncoding::Gbk ? utf8ToGbk(text) : std::string(text);
  };
  std::string entry = encode(std::string(key) + "=" + std::string(value));
  Position pos = locate(content, section, key, encoding);

  std::string updated;
  if (pos.keyFound) {
    const Line& line = pos.keyLine;
    updated = content.substr(0, line.begin) + entry + content.substr(line.end);
  } else if (pos.sectionFound) {
    const Line& after = pos.insertAfter;
    std::string head = content.substr(0, after.next);
    if (after.next == after.end) head += "\r\n";  // the section's last line had no line end
    updated = head + entry + "\r\n" + content.substr(after.next);
  } else {
    updated = content;
    if (!updated.empty() && updated.back() != '\n') updated += "\r\n";
    updated.append("[").append(encode(section)).append("]\r\n").append(entry).append("\r\n");
  }
  if (updated == content) return true;
  bool ok = replace(updated, file.mode());
  if (ok && durability_ == Durability::Grouped) GroupedFlush::instance().closeLater(file.release());
  if (!ok && file.created()) removeName(path_);
  return ok;
}

bool ProfileFile::remove(std::string_view section, std::string_view key) {
  LockedFile file(path_, LockedFile::Mode::Write);
  std::string content;
  if (!file.ok() || !file.readAll(content)) return false;
  Position pos = locate(content, section, key, storedEncoding(content, encoding_));
  if (!pos.keyFound) {
    if (file.created()) removeName(path_);
    return true;
  }
  const Line& line = pos.keyLine;
  bool ok = replace(content.substr(0, line.begin) + content.substr(line.next), file.mode());
  if (ok && durability_ == Durability::Grouped) GroupedFlush::instance().closeLater(file.release());
  return ok;
}

}  // namespace lumo
