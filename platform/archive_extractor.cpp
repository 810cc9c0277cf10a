#include "platform/archive_extractor.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
bool isCutShort(int fd, std::uint64_t offset, std::uint64_t size) {
  unsigned char header[32];
  ssize_t got = ::pread(fd, header, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof header, size)),
                        static_cast<off_t>(offset));
  if (got < static_cast<ssize_t>(sizeof kSignature)) return false;
  if (std::memcmp(header, kSignature, sizeof kSignature) != 0) return false;
  if (got < static_cast<ssize_t>(sizeof header)) return true;
  std::uint64_t nextHeaderOffset = readLittleEndian64(header + 12);
  std::uint64_t nextHeaderSize = readLittleEndian64(header + 20);
  std::uint64_t end = sizeof header + nextHeaderOffset + nextHeaderSize;
  return end < nextHeaderOffset || end > size;
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

// Reads the archive with pread at a position of its own, so that several
// extractors can share one descriptor, each on its own thread.
struct ArchiveExtractor::Source {
  int fd = -1;
  std::int64_t offset = 0;  // where the archive starts in the file
  std::int64_t position = 0;
  std::int64_t size = 0;
  std::string buffer = std::string(kReadBlock, '\0');

  static la_ssize_t read(::archive*, void* data, const void** block) {
    auto* self = static_cast<Source*>(data);
    for (;;) {
      std::size_t want = static_cast<std::size_t>(
          std::clamp<std::int64_t>(self->size - self->position, 0, static_cast<std::int64_t>(self->buffer.size())));
      if (want == 0) return 0;
      ssize_t n = ::pread(self->fd, self->buffer.data(), want, self->offset + self->position);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return -1;
      self->position += n;
      *block = self->buffer.data();
      return n;
    }
  }
  static la_int64_t seek(::archive*, void* data, la_int64_t offset, int whence) {
    auto* self = static_cast<Source*>(data);
    std::int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? self->position : self->size;
    if (base + offset < 0) return ARCHIVE_FATAL;
    self->position = base + offset;
    return self->position;
  }
  static la_int64_t skip(::archive*, void* data, la_int64_t request) {
    auto* self = static_cast<Source*>(data);
    std::int64_t step = std::min<std::int64_t>(request, std::max<std::int64_t>(self->size - self->position, 0));
    self->position += step;
    return step;
  }
};

ArchiveExtractor::ArchiveExtractor() = default;

ArchiveExtractor::~ArchiveExtractor() {
  if (archive_) ::archive_read_free(archive_);
}

void ArchiveExtractor::fail(int status) {
  const char* message = archive_ ? ::archive_error_string(archive_) : nullptr;
  detail_ = message ? message : "status " + std::to_string(status);
  result_ = classify(archive_ ? ::archive_errno(archive_) : 0, message ? message : "");
}

bool ArchiveExtractor::open(int fd, std::uint64_t offset, std::uint64_t size) {
  result_ = DecodeResult::Ok;
  detail_.clear();
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    result_ = DecodeResult::ReadError;
    detail_ = std::strerror(errno);
    return false;
  }
  if (size == kWholeFile) size = static_cast<std::uint64_t>(st.st_size) - std::min<std::uint64_t>(offset, static_cast<std::uint64_t>(st.st_size));
  if (isCutShort(fd, offset, size)) {
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
  source_ = std::make_unique<Source>();
  source_->fd = fd;
  source_->offset = static_cast<std::int64_t>(offset);
  source_->size = static_cast<std::int64_t>(size);
  ::archive_read_set_read_callback(archive_, &Source::read);
  ::archive_read_set_seek_callback(archive_, &Source::seek);
  ::archive_read_set_skip_callback(archive_, &Source::skip);
  ::archive_read_set_callback_data(archive_, source_.get());
  int status = ::archive_read_open1(archive_);
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
