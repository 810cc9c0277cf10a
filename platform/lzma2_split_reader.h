// Side-by-side decoding of one LZMA2 stream. Where the stream resets its
// dictionary nothing after that point refers to the bytes before it, so the
// stream splits there into pieces that decode on their own, each on a thread
// of its own (liblzma's raw LZMA2 decoder). The caller reads the joined
// result in order, as from any decoder; the filters that follow LZMA2 in the
// block (x86 and the other branch converters, Delta) keep state from one
// byte to the next, so they run once, in order, over the joined result.
//
// Memory: each piece being decoded or waiting to be read holds a buffer of
// its unpacked size (and its decoder a dictionary of at most that size); at
// most threads + 1 pieces are held at once and never more than
// kMaxHeldBytes between them. A stream with a piece larger than half that
// is not taken: two of them could not be decoded side by side.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/archive_extractor.h"

namespace lumo {

// Unpacked bytes held by the pieces of one reader at most.
inline constexpr std::uint64_t kMaxHeldBytes = 512ull << 20;

// A run of LZMA2 chunks that begins with a dictionary reset; offsets count
// from the start of the stream.
struct Lzma2Piece {
  std::uint64_t packedOffset = 0;
  std::uint64_t packedSize = 0;
  std::uint64_t unpackedOffset = 0;
  std::uint64_t unpackedSize = 0;
};

// Reads the chunk headers of the LZMA2 stream of `size` bytes at `offset` of
// `fd` and splits it where the dictionary is reset. Nothing, and `why` set,
// when the headers are damaged or do not add up to `unpackSize`.
std::optional<std::vector<Lzma2Piece>> findLzma2Pieces(int fd, std::uint64_t offset, std::uint64_t size,
                                                       std::uint64_t unpackSize, std::string* why);

// One coder of a block in decoding order: its 7z method name ("LZMA2",
// "BCJ", "ARM", "Delta", ...) and its stored properties.
struct BlockCoder {
  std::string method;
  std::string properties;
};

class Lzma2SplitReader {
 public:
  Lzma2SplitReader();
  ~Lzma2SplitReader();
  Lzma2SplitReader(const Lzma2SplitReader&) = delete;
  Lzma2SplitReader& operator=(const Lzma2SplitReader&) = delete;

  // Takes the block whose packed stream is `packSize` bytes at `packOffset`
  // of `fd` and whose coders are `coders` (LZMA2 first), to be decoded on
  // up to `threads` threads from the first read() on. False when
  // the block is not one for this reader: a coder other than LZMA2 and the
  // filters, no dictionary reset after the start, pieces too large to hold,
  // or chunk headers that do not add up (the usual decoder then names the
  // damage). `unpackSize` is the block's size after every coder.
  bool open(int fd, std::uint64_t packOffset, std::uint64_t packSize, std::uint64_t unpackSize,
            const std::vector<BlockCoder>& coders, unsigned threads);

  std::size_t pieces() const { return pieces_.size(); }

  // Hands the next `size` bytes of the block to `sink` (the offset counts
  // from the first of them), in order. A failure is final: every later
  // call fails too.
  ArchiveExtractor::DataOutcome read(std::uint64_t size, const ArchiveExtractor::Sink& sink);

  // How many bytes have been handed out.
  std::uint64_t position() const { return position_; }

  DecodeResult result() const { return result_; }
  // Which piece failed and how, for the trace.
  const std::string& detail() const { return detail_; }

 private:
  struct Held;
  class Filters;

  void work();
  bool decodePiece(std::size_t index, Held& held, void* decoder);
  // The next stretch of LZMA2 output, in order, of at most `most` bytes;
  // waits for its decoder. False at the end of the stream or on a failure.
  bool nextRaw(const unsigned char*& data, std::size_t& size, std::uint64_t most);
  void fail(DecodeResult result, const std::string& detail);
  void stop();

  int fd_ = -1;
  std::uint64_t packOffset_ = 0;
  std::string lzma2Properties_;
  std::vector<Lzma2Piece> pieces_;
  std::unique_ptr<Filters> filters_;

  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<Held>> held_;  // one per piece while it is held
  struct Spare {
    std::unique_ptr<unsigned char[]> bytes;
    std::uint64_t size = 0;
  };
  std::vector<Spare> spares_;                // buffers of pieces already read
  std::size_t nextToDecode_ = 0;
  std::size_t reading_ = 0;                  // the piece the reader is in
  std::uint64_t readInPiece_ = 0;
  std::size_t heldPieces_ = 0;
  std::uint64_t heldBytes_ = 0;
  std::size_t maxHeldPieces_ = 0;
  unsigned threads_ = 1;
  bool stopping_ = false;
  std::vector<std::thread> workers_;

  // Filtered bytes not yet handed out.
  std::vector<unsigned char> filtered_;
  std::size_t filteredAt_ = 0;
  std::size_t filteredEnd_ = 0;
  bool rawDone_ = false;
  std::uint64_t position_ = 0;

  DecodeResult result_ = DecodeResult::Ok;
  std::string detail_;
};

}  // namespace lumo
