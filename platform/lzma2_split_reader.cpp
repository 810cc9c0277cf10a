#include "platform/lzma2_split_reader.h"

#include <lzma.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace lumo {
namespace {

// How much a decoder puts out between two reports to the reader, and how
// much packed data it reads at once.
constexpr std::size_t kOutputStep = 1u << 20;
constexpr std::size_t kInputStep = 256u << 10;
constexpr std::uint64_t kSmallestPiece = 64u << 10;
// The largest stored LZMA2 chunk.
constexpr std::size_t kStoredChunk = 1u << 16;

// Reads exactly `size` bytes at `offset`: 0 on success, else the errno
// (or -1 when the file ends first).
int readExactly(int fd, void* into, std::size_t size, std::uint64_t offset) {
  auto* bytes = static_cast<unsigned char*>(into);
  while (size > 0) {
    ssize_t n = ::pread(fd, bytes, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return -1;
    bytes += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return 0;
}

DecodeResult resultOf(lzma_ret status) {
  switch (status) {
    case LZMA_MEM_ERROR:
      return DecodeResult::OutOfMemory;
    case LZMA_OPTIONS_ERROR:
      return DecodeResult::Unsupported;
    default:
      return DecodeResult::DataError;
  }
}

std::string textOf(lzma_ret status) {
  switch (status) {
    case LZMA_MEM_ERROR:
      return "out of memory";
    case LZMA_OPTIONS_ERROR:
      return "properties it does not support";
    case LZMA_DATA_ERROR:
      return "compressed data is corrupt";
    case LZMA_BUF_ERROR:
      return "compressed data ends early";
    default:
      return "liblzma status " + std::to_string(static_cast<int>(status));
  }
}

// The liblzma filter of a 7z filter method; 0 for one it does not have.
lzma_vli filterOf(const std::string& method) {
  static const std::pair<const char*, lzma_vli> known[] = {
      {"BCJ", LZMA_FILTER_X86}, {"PPC", LZMA_FILTER_POWERPC},  {"IA64", LZMA_FILTER_IA64},
      {"ARM", LZMA_FILTER_ARM}, {"ARMT", LZMA_FILTER_ARMTHUMB}, {"SPARC", LZMA_FILTER_SPARC},
      {"Delta", LZMA_FILTER_DELTA},
  };
  for (const auto& [name, id] : known)
    if (method == name) return id;
  return 0;
}

}  // namespace

std::optional<std::vector<Lzma2Piece>> findLzma2Pieces(int fd, std::uint64_t offset, std::uint64_t size,
                                                       std::uint64_t unpackSize, std::string* why) {
  auto damaged = [&](const std::string& text) -> std::optional<std::vector<Lzma2Piece>> {
    if (why) *why = text;
    return std::nullopt;
  };
  std::vector<Lzma2Piece> pieces;
  std::uint64_t at = 0, unpacked = 0;
  for (;;) {
    if (at >= size) return damaged("the LZMA2 stream has no end mark");
    unsigned char header[6] = {};
    std::size_t available = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof header, size - at));
    if (readExactly(fd, header, available, offset + at) != 0) return damaged("the LZMA2 stream cannot be read");
    unsigned control = header[0];
    if (control == 0x00) break;
    std::uint64_t chunkUnpacked = 0, chunkPacked = 0, headerSize = 0;
    bool reset = false;
    if (control == 0x01 || control == 0x02) {
      // Stored bytes; 0x01 resets the dictionary.
      headerSize = 3;
      chunkUnpacked = chunkPacked = ((header[1] << 8) | header[2]) + 1u;
      reset = control == 0x01;
    } else if (control >= 0x80) {
      // Compressed: bits 5 and 6 say what is reset, 3 being the dictionary
      // too; new properties (from 2 up) take one more header byte.
      headerSize = control >= 0xC0 ? 6 : 5;
      chunkUnpacked = ((static_cast<std::uint64_t>(control & 0x1F) << 16) | (header[1] << 8) | header[2]) + 1;
      chunkPacked = ((header[3] << 8) | header[4]) + 1u;
      reset = control >= 0xE0;
    } else {
      return damaged("an LZMA2 chunk of an unknown kind at packed byte " + std::to_string(at));
    }
    if (available < headerSize) return damaged("the LZMA2 stream ends inside a chunk header");
    if (pieces.empty() && !reset) return damaged("the LZMA2 stream does not begin with a dictionary reset");
    if (reset) pieces.push_back({at, 0, unpacked, 0});
    at += headerSize + chunkPacked;
    unpacked += chunkUnpacked;
    if (at > size) return damaged("an LZMA2 chunk runs past the packed stream");
    Lzma2Piece& piece = pieces.back();
    piece.packedSize = at - piece.packedOffset;
    piece.unpackedSize = unpacked - piece.unpackedOffset;
  }
  if (unpacked != unpackSize)
    return damaged("the LZMA2 chunks hold " + std::to_string(unpacked) + " bytes, not " + std::to_string(unpackSize));
  return pieces;
}

// What a piece holds while it is decoded and read; `produced` and the flags
// are guarded by the reader's lock.
struct Lzma2SplitReader::Held {
  std::unique_ptr<unsigned char[]> bytes;
  std::uint64_t size = 0;  // of the buffer
  std::uint64_t produced = 0;
  bool failed = false;
  DecodeResult failure = DecodeResult::Ok;
  std::string why;
};

// The filters that follow LZMA2, through liblzma. Its raw decoders want an
// LZMA2 decoder last in a chain, so the bytes pass to the filters as stored
// LZMA2 chunks, which that decoder copies through as they are.
class Lzma2SplitReader::Filters {
 public:
  ~Filters() { lzma_end(&stream_); }

  // Nothing when a coder is not a filter liblzma has (or there are more
  // than its chain holds); `ok` false then.
  static std::unique_ptr<Filters> make(const std::vector<BlockCoder>& after, bool& ok) {
    ok = true;
    if (after.empty()) return nullptr;
    auto filters = std::unique_ptr<Filters>(new Filters);
    if (after.size() + 1 > LZMA_FILTERS_MAX) ok = false;
    // liblzma lists a chain in encoding order: the last to decode first.
    for (std::size_t i = 0; ok && i < after.size(); ++i) {
      const BlockCoder& coder = after[after.size() - 1 - i];
      lzma_vli id = filterOf(coder.method);
      lzma_filter& filter = filters->chain_[i];
      filter.id = id;
      const std::string& p = coder.properties;
      if (id == 0) {
        ok = false;
      } else if (id == LZMA_FILTER_DELTA) {
        // One byte: the distance less one.
        ok = p.size() == 1;
        filters->delta_[i].type = LZMA_DELTA_TYPE_BYTE;
        filters->delta_[i].dist = ok ? static_cast<unsigned char>(p[0]) + 1u : 1u;
        filter.options = &filters->delta_[i];
      } else if (p.size() == 4) {
        // Branch converters may store where the addresses start.
        std::uint32_t start = 0;
        for (int b = 3; b >= 0; --b) start = (start << 8) | static_cast<unsigned char>(p[b]);
        filters->bcj_[i].start_offset = start;
        filter.options = &filters->bcj_[i];
      } else {
        ok = ok && p.empty();
      }
    }
    if (!ok) return nullptr;
    filters->lzma2_.dict_size = 256u << 10;
    filters->chain_[after.size()] = {LZMA_FILTER_LZMA2, &filters->lzma2_};
    filters->chain_[after.size() + 1] = {LZMA_VLI_UNKNOWN, nullptr};
    if (lzma_raw_decoder(&filters->stream_, filters->chain_.data()) != LZMA_OK) ok = false;
    return ok ? std::move(filters) : nullptr;
  }

  // Filters `size` bytes into `out`, which has room for `room` bytes
  // (enough for `size` and what the filters held back); `made` tells how
  // many came out.
  bool run(const unsigned char* data, std::size_t size, unsigned char* out, std::size_t room, std::size_t& made) {
    wrapped_.clear();
    while (size > 0) {
      std::size_t chunk = std::min(size, kStoredChunk);
      wrapped_.push_back(started_ ? 0x02 : 0x01);
      wrapped_.push_back(static_cast<unsigned char>((chunk - 1) >> 8));
      wrapped_.push_back(static_cast<unsigned char>((chunk - 1) & 0xFF));
      wrapped_.insert(wrapped_.end(), data, data + chunk);
      started_ = true;
      data += chunk;
      size -= chunk;
    }
    return code(out, room, made, false);
  }

  // Ends the stream: the filters give out what they held back.
  bool finish(unsigned char* out, std::size_t room, std::size_t& made) {
    wrapped_.assign(1, 0x00);
    return code(out, room, made, true);
  }

 private:
  Filters() {
    chain_.fill({LZMA_VLI_UNKNOWN, nullptr});
    lzma_lzma_preset(&lzma2_, 0);
  }

  bool code(unsigned char* out, std::size_t room, std::size_t& made, bool last) {
    stream_.next_in = wrapped_.data();
    stream_.avail_in = wrapped_.size();
    stream_.next_out = out;
    stream_.avail_out = room;
    for (;;) {
      lzma_ret status = lzma_code(&stream_, LZMA_RUN);
      made = room - stream_.avail_out;
      if (status == LZMA_STREAM_END) return last && stream_.avail_in == 0;
      // Out of room means the filters put out more than they were given.
      if (status != LZMA_OK || stream_.avail_out == 0) return false;
      if (stream_.avail_in == 0 && !last) return true;
    }
  }

  lzma_stream stream_ = LZMA_STREAM_INIT;
  std::array<lzma_filter, LZMA_FILTERS_MAX + 1> chain_;
  std::array<lzma_options_bcj, LZMA_FILTERS_MAX> bcj_{};
  std::array<lzma_options_delta, LZMA_FILTERS_MAX> delta_{};
  lzma_options_lzma lzma2_{};
  std::vector<unsigned char> wrapped_;
  bool started_ = false;
};

Lzma2SplitReader::Lzma2SplitReader() = default;

Lzma2SplitReader::~Lzma2SplitReader() { stop(); }

void Lzma2SplitReader::stop() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
}

bool Lzma2SplitReader::open(int fd, std::uint64_t packOffset, std::uint64_t packSize, std::uint64_t unpackSize,
                            const std::vector<BlockCoder>& coders, unsigned threads) {
  if (coders.empty() || coders[0].method != "LZMA2" || coders[0].properties.size() != 1) return false;
  bool known = false;
  std::unique_ptr<Filters> filters =
      Filters::make(std::vector<BlockCoder>(coders.begin() + 1, coders.end()), known);
  if (!known) return false;
  std::optional<std::vector<Lzma2Piece>> found = findLzma2Pieces(fd, packOffset, packSize, unpackSize, nullptr);
  if (!found) return false;
  // Resets closer together than kSmallestPiece are decoded as one piece
  // (the decoder takes a reset inside a piece in its stride), which keeps
  // the pieces' count and their costs in proportion to the block.
  std::optional<std::vector<Lzma2Piece>> pieces{std::in_place};
  for (const Lzma2Piece& piece : *found) {
    if (!pieces->empty() && pieces->back().unpackedSize < kSmallestPiece) {
      pieces->back().packedSize += piece.packedSize;
      pieces->back().unpackedSize += piece.unpackedSize;
    } else {
      pieces->push_back(piece);
    }
  }
  if (pieces->size() < 2) return false;
  for (const Lzma2Piece& piece : *pieces)
    if (piece.unpackedSize > kMaxHeldBytes / 2) return false;
  fd_ = fd;
  packOffset_ = packOffset;
  lzma2Properties_ = coders[0].properties;
  pieces_ = std::move(*pieces);
  filters_ = std::move(filters);
  held_.resize(pieces_.size());
  threads_ = std::clamp<unsigned>(threads, 1, static_cast<unsigned>(pieces_.size()));
  maxHeldPieces_ = threads_ + 1;
  return true;
}

void Lzma2SplitReader::work() {
  // One decoder for all the pieces a thread decodes: liblzma keeps its
  // dictionary from one piece to the next when the size stays the same.
  lzma_stream stream = LZMA_STREAM_INIT;
  struct End {
    lzma_stream* stream;
    ~End() { lzma_end(stream); }
  } end{&stream};
  for (;;) {
    std::size_t index = 0;
    Held* held = nullptr;
    {
      std::unique_lock<std::mutex> lock(lock_);
      changed_.wait(lock, [&] {
        return stopping_ || nextToDecode_ >= pieces_.size() ||
               (heldPieces_ < maxHeldPieces_ && heldBytes_ + pieces_[nextToDecode_].unpackedSize <= kMaxHeldBytes);
      });
      if (stopping_ || nextToDecode_ >= pieces_.size()) return;
      index = nextToDecode_++;
      ++heldPieces_;
      heldBytes_ += pieces_[index].unpackedSize;
      held_[index] = std::make_unique<Held>();
      held = held_[index].get();
      // A buffer of a piece already read is used again, sparing the kernel
      // the work of handing out fresh pages.
      // One too small goes, so that buffers never outnumber the pieces
      // that may be held.
      while (!spares_.empty() && !held->bytes) {
        if (spares_.back().size >= pieces_[index].unpackedSize) {
          held->bytes = std::move(spares_.back().bytes);
          held->size = spares_.back().size;
        }
        spares_.pop_back();
      }
    }
    if (!decodePiece(index, *held, &stream)) {
      std::lock_guard<std::mutex> lock(lock_);
      // What comes after a damaged piece is never read.
      nextToDecode_ = pieces_.size();
    }
    changed_.notify_all();
  }
}

bool Lzma2SplitReader::decodePiece(std::size_t index, Held& held, void* decoder) {
  const Lzma2Piece& piece = pieces_[index];
  auto failed = [&](DecodeResult result, const std::string& why) {
    std::lock_guard<std::mutex> lock(lock_);
    held.failed = true;
    held.failure = result;
    held.why = "piece " + std::to_string(index + 1) + " of " + std::to_string(pieces_.size()) +
               " (packed bytes " + std::to_string(piece.packedOffset) + " to " +
               std::to_string(piece.packedOffset + piece.packedSize) + " of the block): " + why;
    return false;
  };
  if (!held.bytes) {
    held.bytes.reset(new (std::nothrow) unsigned char[std::max<std::uint64_t>(piece.unpackedSize, 1)]);
    held.size = piece.unpackedSize;
    if (!held.bytes) return failed(DecodeResult::OutOfMemory, "out of memory");
  }
  unsigned char* output = held.bytes.get();

  lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_ret status = lzma_properties_decode(&filters[0], nullptr,
                                           reinterpret_cast<const std::uint8_t*>(lzma2Properties_.data()), 1);
  if (status != LZMA_OK) return failed(DecodeResult::DataError, "the LZMA2 properties are damaged");
  // Nothing in a piece refers to bytes before it: a dictionary as large as
  // the piece is enough.
  auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
  std::uint64_t enough = std::max<std::uint64_t>((piece.unpackedSize + 4095) & ~std::uint64_t{4095}, LZMA_DICT_SIZE_MIN);
  options->dict_size = static_cast<std::uint32_t>(std::min<std::uint64_t>(options->dict_size, enough));
  lzma_stream& stream = *static_cast<lzma_stream*>(decoder);
  status = lzma_raw_decoder(&stream, filters);
  std::free(filters[0].options);
  if (status != LZMA_OK) return failed(resultOf(status), textOf(status));

  std::vector<unsigned char> input(kInputStep);
  std::uint64_t packedRead = 0;
  static const unsigned char kEndMark = 0x00;
  bool endMarkGiven = false;
  std::uint64_t produced = 0;
  for (;;) {
    if (stream.avail_in == 0 && !endMarkGiven) {
      if (packedRead < piece.packedSize) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(input.size(), piece.packedSize - packedRead));
        int error = readExactly(fd_, input.data(), want, packOffset_ + piece.packedOffset + packedRead);
        if (error != 0)
          return failed(error < 0 ? DecodeResult::InputEnd : DecodeResult::ReadError,
                        error < 0 ? "the archive ends early" : std::strerror(error));
        packedRead += want;
        stream.next_in = input.data();
        stream.avail_in = want;
      } else {
        // The piece ends where the next one begins, without the stream's
        // end mark: it is given one of its own.
        stream.next_in = &kEndMark;
        stream.avail_in = 1;
        endMarkGiven = true;
      }
    }
    stream.next_out = output + produced;
    stream.avail_out = static_cast<std::size_t>(std::min<std::uint64_t>(kOutputStep, piece.unpackedSize - produced));
    status = lzma_code(&stream, LZMA_RUN);
    std::uint64_t now = static_cast<std::uint64_t>(stream.next_out - output);
    if (now != produced) {
      produced = now;
      std::lock_guard<std::mutex> lock(lock_);
      held.produced = produced;
    }
    changed_.notify_all();
    if (status == LZMA_STREAM_END) break;
    if (status != LZMA_OK) return failed(resultOf(status), textOf(status));
    {
      std::lock_guard<std::mutex> lock(lock_);
      if (stopping_) return true;
    }
  }
  if (produced != piece.unpackedSize || stream.avail_in != 0 || !endMarkGiven)
    return failed(DecodeResult::DataError, "it decodes to " + std::to_string(produced) + " bytes, not " +
                                               std::to_string(piece.unpackedSize));
  return true;
}

void Lzma2SplitReader::fail(DecodeResult result, const std::string& detail) {
  if (result_ != DecodeResult::Ok) return;
  result_ = result;
  detail_ = detail;
}

bool Lzma2SplitReader::nextRaw(const unsigned char*& data, std::size_t& size, std::uint64_t most) {
  std::unique_ptr<Held> done;
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    if (reading_ >= pieces_.size()) return false;
    Held* held = held_[reading_].get();
    if (held && held->failed) {
      fail(held->failure, held->why);
      return false;
    }
    if (held && readInPiece_ < held->produced) {
      data = held->bytes.get() + readInPiece_;
      size = static_cast<std::size_t>(std::min({held->produced - readInPiece_, most, std::uint64_t{kOutputStep}}));
      readInPiece_ += size;
      return true;
    }
    if (held && readInPiece_ == pieces_[reading_].unpackedSize) {
      // The piece has been read: its buffer goes and a decoder may start
      // the next one. The stretch handed out last lies in the piece before,
      // so it is dropped only after the next stretch is asked for.
      done = std::move(held_[reading_]);
      if (spares_.size() < maxHeldPieces_) spares_.push_back({std::move(done->bytes), done->size});
      --heldPieces_;
      heldBytes_ -= pieces_[reading_].unpackedSize;
      ++reading_;
      readInPiece_ = 0;
      lock.unlock();
      changed_.notify_all();
      done.reset();
      lock.lock();
      continue;
    }
    changed_.wait(lock);
  }
}

ArchiveExtractor::DataOutcome Lzma2SplitReader::read(std::uint64_t size, const ArchiveExtractor::Sink& sink) {
  using Outcome = ArchiveExtractor::DataOutcome;
  if (result_ != DecodeResult::Ok) return Outcome::DecodeFailed;
  if (workers_.empty() && !stopping_)
    for (unsigned i = 0; i < threads_; ++i) workers_.emplace_back(&Lzma2SplitReader::work, this);
  std::uint64_t given = 0;
  while (given < size) {
    if (filteredAt_ < filteredEnd_) {
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(filteredEnd_ - filteredAt_, size - given));
      if (!sink(filtered_.data() + filteredAt_, n, given)) return Outcome::SinkFailed;
      filteredAt_ += n;
      given += n;
      position_ += n;
      continue;
    }
    if (rawDone_) {
      fail(DecodeResult::DataError, "the block ends before its entries");
      return Outcome::DecodeFailed;
    }
    const unsigned char* data = nullptr;
    std::size_t available = 0;
    // Unfiltered bytes go out straight from the piece that holds them.
    bool more = nextRaw(data, available, filters_ ? kOutputStep : size - given);
    if (result_ != DecodeResult::Ok) return Outcome::DecodeFailed;
    if (!filters_) {
      if (!more) {
        fail(DecodeResult::DataError, "the block ends before its entries");
        return Outcome::DecodeFailed;
      }
      position_ += available;
      if (!sink(data, available, given)) return Outcome::SinkFailed;
      given += available;
      continue;
    }
    if (filtered_.empty()) filtered_.resize(kOutputStep + kStoredChunk);
    filteredAt_ = filteredEnd_ = 0;
    bool filtered = more ? filters_->run(data, available, filtered_.data(), filtered_.size(), filteredEnd_)
                         : filters_->finish(filtered_.data(), filtered_.size(), filteredEnd_);
    rawDone_ = !more;
    if (!filtered) {
      fail(DecodeResult::DataError, "the filters after LZMA2 refuse the decoded bytes");
      return Outcome::DecodeFailed;
    }
  }
  return Outcome::Done;
}

}  // namespace lumo
