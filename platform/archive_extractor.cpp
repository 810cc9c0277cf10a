#include "platform/archive_extractor.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lumo {
namespace {

// Names are stored as UTF-16 and the decoder converts them to the charset of
// the current locale; the process may run in the "C" locale, so the
// conversion runs under a UTF-8 locale on this thread only.
class Utf8Names {
 public:
  Utf8Names() {
    static const locale_t utf8 = ::newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (utf8) previous_ = ::uselocale(utf8);
  }
  ~Utf8Names() {
    if (previous_) ::uselocale(previous_);
  }
  Utf8Names(const Utf8Names&) = delete;
  Utf8Names& operator=(const Utf8Names&) = delete;

 private:
  locale_t previous_ = nullptr;
};

constexpr unsigned char kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr std::size_t kReadBlock = 256 * 1024;

std::uint64_t readLittleEndian64(const unsigned char* bytes) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

// The start header says where the archive ends; an archive cut short is
// recognised here, before the decoder tries to read past the end.
bool isCutShort(int fd) {
  unsigned char header[32];
  struct stat st;
  ssize_t got = ::pread(fd, header, sizeof header, 0);
  if (got < static_cast<ssize_t>(sizeof kSignature) || ::fstat(fd, &st) != 0) return false;
  if (std::memcmp(header, kSignature, sizeof kSignature) != 0) return false;
  if (got < static_cast<ssize_t>(sizeof header)) return true;
  std::uint64_t nextHeaderOffset = readLittleEndian64(header + 12);
  std::uint64_t nextHeaderSize = readLittleEndian64(header + 20);
  std::uint64_t end = sizeof header + nextHeaderOffset + nextHeaderSize;
  return end < nextHeaderOffset || end > static_cast<std::uint64_t>(st.st_size);
}

bool mentions(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

// The decoder reports failures as text; these are the texts it uses for
// each kind of failure.
DecodeResult classify(int error, const std::string& message) {
  if (error == ENOMEM) return DecodeResult::OutOfMemory;
  if (mentions(message, "CRC")) return DecodeResult::CrcError;
  if (mentions(message, "codec") || mentions(message, "upport") || mentions(message, "ncrypt"))
    return DecodeResult::Unsupported;
  if (mentions(message, "Truncated")) return DecodeResult::InputEnd;
  if (mentions(message, "Unrecognized archive format") || mentions(message, "7-Zip header"))
    return DecodeResult::NotAnArchive;
  if (mentions(message, "Decompression failed") || mentions(message, "Damaged") || mentions(message, "orrupt"))
    return DecodeResult::DataError;
  if (mentions(message, "Error reading") || mentions(message, "Seek error")) return DecodeResult::ReadError;
  return DecodeResult::BadArchive;
}

}  // namespace

ArchiveExtractor::ArchiveExtractor() = default;

ArchiveExtractor::~ArchiveExtractor() {
  if (archive_) ::archive_read_free(archive_);
}

void ArchiveExtractor::fail(int status) {
  const char* message = archive_ ? ::archive_error_string(archive_) : nullptr;
  detail_ = message ? message : "status " + std::to_string(status);
  result_ = classify(archive_ ? ::archive_errno(archive_) : 0, message ? message : "");
}

bool ArchiveExtractor::open(int fd) {
  result_ = DecodeResult::Ok;
  detail_.clear();
  if (isCutShort(fd)) {
    result_ = DecodeResult::InputEnd;
    detail_ = "the archive ends before its header";
    return false;
  }
  archive_ = ::archive_read_new();
  if (!archive_) {
    result_ = DecodeResult::OutOfMemory;
    return false;
  }
  ::archive_read_support_format_7zip(archive_);
  int status = ::archive_read_open_fd(archive_, fd, kReadBlock);
  if (status != ARCHIVE_OK) {
    fail(status);
    return false;
  }
  return true;
}

bool ArchiveExtractor::next(ArchiveEntry& entry) {
  if (!archive_ || result_ != DecodeResult::Ok) return false;
  Utf8Names names;
  archive_entry* header = nullptr;
  int status = ::archive_read_next_header(archive_, &header);
  if (status == ARCHIVE_EOF) return false;
  if (status < ARCHIVE_WARN) {
    fail(status);
    return false;
  }
  const char* name = ::archive_entry_pathname_utf8(header);
  if (!name) {
    fail(status);
    return false;
  }
  entry.name = name;
  entry.linkTarget.clear();
  switch (::archive_entry_filetype(header)) {
    case AE_IFDIR:
      entry.kind = EntryKind::Directory;
      break;
    case AE_IFLNK: {
      entry.kind = EntryKind::Link;
      const char* target = ::archive_entry_symlink_utf8(header);
      entry.linkTarget = target ? target : "";
      break;
    }
    default:
      entry.kind = EntryKind::File;
  }
  entry.mode = static_cast<std::uint32_t>(::archive_entry_perm(header));
  entry.size = static_cast<std::uint64_t>(::archive_entry_size(header));
  return true;
}

ArchiveExtractor::DataOutcome ArchiveExtractor::extract(const Sink& sink) {
  Utf8Names names;
  for (;;) {
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    int status = ::archive_read_data_block(archive_, &block, &size, &offset);
    if (status == ARCHIVE_EOF) return DataOutcome::Done;
    // A CRC mismatch arrives as a warning with the entry's last block.
    if (status != ARCHIVE_OK) {
      fail(status);
      return DataOutcome::DecodeFailed;
    }
    if (size > 0 && !sink(block, size, static_cast<std::uint64_t>(offset))) return DataOutcome::SinkFailed;
  }
}

}  // namespace lumo
