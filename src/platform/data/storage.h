#pragma once
// Column storage of the data-set engine. Each field is one column: strings as
// offsets into an append-only byte arena, numbers and dates as plain doubles
// or integers. A row is an index into every column. Arenas are never
// rewritten, so copying a row (the original values kept by the change log)
// copies references, not text.
//
// Every buffer is a list of fixed-size chunks (the first one grows up to that
// size, so small data sets stay small): appending a row never copies what is
// already stored, so no insert or edit stalls while a whole column moves, and
// a column holds at most one chunk of unused room.

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset.h"
#include "packet.h"
#include "rowvector.h"

namespace data::detail {

// Memory for whole chunks. Chunks freed by one data set are kept (up to a
// bound) for the next, so that loading after freeing reuses pages already
// mapped instead of faulting fresh ones in, whatever the allocator decides
// to give back to the system.
// bulk: room asked for at once (a reserve), not grown by an append.
void* takeChunk(size_t bytes, bool bulk = false);
void giveChunk(void* p, size_t bytes);
// Bytes kept for reuse: in the allocator's figures, but held by no data set.
size_t pooledChunkBytes();
// Whole slabs freed and kept are bounded by a share of physical memory, so
// that a data set loaded after another was freed reuses its pages; those
// kept longer than the idle period beyond a small floor go back to the
// system when chunks are next freed, or when this is called (a server's idle
// path): a process that freed a large data set does not hold it for good.
// Returns the bytes given back. idle 0 gives back every kept slab beyond the floor.
inline constexpr double kChunkIdleSeconds = 10;
size_t releaseIdleChunks(double idleSeconds = kChunkIdleSeconds);
// Gives back every slab kept, floor included (before measuring a cold start).
size_t releaseAllChunks();
// The most bytes of whole slabs kept for reuse.
size_t chunkRetentionLimit();

// The text of a large packet (a million rows: hundreds of megabytes) is
// kept, once no one holds the packet, for the next large packet written:
// writing into fresh memory costs its pages' faults, which at that size
// doubled the time of a save. One text is kept, within the bound of the
// slabs above, and given back with them when idle.
inline constexpr size_t kSpareTextBytes = size_t{32} << 20;
void keepSpareText(std::string&& text) noexcept;
// The kept text when it has room for bytes (and not more than twice that),
// swapped into `into`; false otherwise.
bool takeSpareText(size_t bytes, std::string& into);

// A growable array in chunks of 2^Shift elements: a first chunk that grows up
// to the chunk's size, then whole chunks.
template <class T, int Shift>
class Chunked {
public:
  static constexpr size_t kChunk = size_t{1} << Shift;
  static constexpr size_t kMask = kChunk - 1;
  static constexpr size_t kSmall = 256 << 10;

  Chunked() = default;
  Chunked(const Chunked&) = delete;
  Chunked& operator=(const Chunked&) = delete;
  Chunked(Chunked&& o) noexcept
      : first_(std::move(o.first_)), chunks_(std::move(o.chunks_)), spans_(std::move(o.spans_)), size_(o.size_),
        cap_(o.cap_) {
    o.chunks_.clear();
    o.spans_.clear();
    o.size_ = o.cap_ = 0;
  }
  Chunked& operator=(Chunked&& o) noexcept {
    if (this != &o) {
      clear();
      first_ = std::move(o.first_);
      chunks_ = std::move(o.chunks_);
      spans_ = std::move(o.spans_);
      size_ = o.size_, cap_ = o.cap_;
      o.chunks_.clear();
      o.spans_.clear();
      o.size_ = o.cap_ = 0;
    }
    return *this;
  }
  ~Chunked() { freeRest(); }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& operator[](size_t i) { return chunks_[i >> Shift][i & kMask]; }
  const T& operator[](size_t i) const { return chunks_[i >> Shift][i & kMask]; }
  void push_back(T v) {
    if (size_ == cap_) grow(size_ + 1);
    (*this)[size_++] = v;
  }
  // Room for n elements in all, allocated now rather than while appending.
  void reserve(size_t n) {
    if (n > cap_) grow(n, true);
  }
  void clear() {
    freeRest();
    chunks_.clear();
    chunks_.shrink_to_fit();
    spans_.clear();
    spans_.shrink_to_fit();
    first_ = RowVector<T>();
    size_ = cap_ = 0;
  }
  // Gives back the unused end of a first chunk that never filled.
  void shrink() {
    if (chunks_.size() == 1 && cap_ > size_ + size_ / 16 + 64) resizeFirst(size_);
  }
  size_t capacity() const { return cap_; }
  const T* at(size_t i) const { return &(*this)[i]; }
  // Appends n contiguous elements, skipping the end of the current chunk
  // when they would not fit; returns the index of the first and where to
  // write them. A run longer than a chunk gets a block of whole chunks of
  // its own after the others, each of its chunks listed in turn, so that
  // indexing goes on working across it.
  T* appendRun(size_t n, size_t& first) {
    if (n > kChunk) return appendBlock(n, first);
    if ((size_ >> Shift) != ((size_ + n - 1) >> Shift)) size_ = (size_ + n - 1) & ~kMask;
    if (size_ + n > cap_) grow(size_ + n);
    first = size_;
    size_ += n;
    return &(*this)[first];
  }

private:
  void freeRest() {
    for (size_t i = 1; i < chunks_.size(); ++i)
      if (spans_[i]) giveChunk(chunks_[i], spans_[i] * kChunk * sizeof(T));
  }
  T* appendBlock(size_t n, size_t& first) {
    grow(kChunk);  // chunk 0 whole, so that the block starts at a chunk of its own
    size_t k = (n + kMask) >> Shift;
    auto* block = static_cast<T*>(takeChunk(k * kChunk * sizeof(T)));
    chunks_.reserve(chunks_.size() + k);
    spans_.reserve(chunks_.size() + k);
    for (size_t j = 0; j < k; ++j) {
      chunks_.push_back(block + j * kChunk);
      spans_.push_back(j == 0 ? static_cast<uint32_t>(k) : 0);
    }
    first = cap_;
    cap_ += k * kChunk;
    size_ = first + n;
    return block;
  }
  void resizeFirst(size_t n) {
    first_.resizeUninit(std::min(size_, first_.capacity()));  // the elements to keep
    if (n > first_.capacity()) {
      first_.reserve(n);
    } else {
      first_.resizeUninit(n);
      first_.shrink_to_fit();
    }
    if (chunks_.empty()) {
      chunks_.push_back(first_.data());
      spans_.push_back(0);  // first_'s own
    } else {
      chunks_[0] = first_.data();
    }
    cap_ = n;
  }
  void grow(size_t need, bool bulk = false) {
    // The first chunk doubles while small, then takes the chunk's whole size
    // at once, so that no growth copies more than kSmall bytes into fresh
    // pages (each a fault); then whole chunks are added.
    while (cap_ < need && cap_ < kChunk) {
      size_t n = cap_ == 0 ? std::max<size_t>(need, 16) : std::max(cap_ * 2, need);
      if (n * sizeof(T) > kSmall) n = kChunk;
      resizeFirst(std::min(kChunk, n));
    }
    while (cap_ < need) {
      chunks_.push_back(nullptr);
      spans_.push_back(1);
      chunks_.back() = static_cast<T*>(takeChunk(kChunk * sizeof(T), bulk));
      cap_ += kChunk;
    }
  }
  RowVector<T> first_;    // chunk 0
  std::vector<T*> chunks_;  // chunk 0 is first_'s, the others taken with takeChunk
  std::vector<uint32_t> spans_;  // per chunk: chunks in the block it starts, 0 inside a block
  size_t size_ = 0, cap_ = 0;
};

// A string cell is the offset of its text in the column's arena, where the
// text is preceded by its length (LEB128: one byte below 128). A text never
// crosses a chunk of the arena.
constexpr uint32_t kNullOff = 0xFFFFFFFFu;

class Column {
public:
  explicit Column(TFieldType type = TFieldType::String) : type_(type) {
    if (type == TFieldType::String) dict_ = newDict();
  }
  TFieldType type() const { return type_; }
  size_t size() const;
  void reserve(size_t rows);
  // Grows every buffer to factor times its present size (sizing ahead from a
  // sample of the rows), and gives back large unused room afterwards.
  void reserveFactor(double factor);
  void shrink();
  void clear();

  bool isNull(size_t r) const {
    switch (type_) {
      case TFieldType::String: return dict_ ? code_[r] == 0 : s_[r] == kNullOff;
      case TFieldType::Boolean: return b_[r] == 2;
      case TFieldType::Integer: return nul_[r] != 0;
      default: return isNullBits(d_[r]);
    }
  }
  std::string_view str(size_t r) const { return text(offsetOf(r)); }
  double num(size_t r) const { return d_[r]; }
  // A float or date cell in one read: its value, 0 for null; false for the
  // other types.
  bool numOrNull(size_t r, double& out) const {
    if (type_ != TFieldType::Float && type_ != TFieldType::DateTime) return false;
    double d = d_[r];
    out = isNullBits(d) ? 0.0 : d;
    return true;
  }
  int64_t integer(size_t r) const { return i_[r]; }
  bool boolean(size_t r) const { return b_[r] == 1; }

  // Appending a row.
  void pushNull();
  void pushStr(std::string_view s);
  void pushNum(double d);
  void pushInt(int64_t i);
  void pushBool(bool b);
  void pushCopy(size_t from);  // a copy of row from
  // Appends row r of another column of this type. A copy of a coded column
  // translates each code once: map[code] is this column's code for it, 0
  // until known (start with it all 0).
  using CodeMap = std::array<uint8_t, 256>;
  void pushFrom(const Column& o, size_t r, CodeMap& map);
  void push(const Variant& v);  // v already of this column's type, or Null

  // Changing a row.
  void set(size_t r, const Variant& v);
  void copyCell(size_t from, size_t to);
  // Keeps only the given rows, in that order, with freshly packed text.
  void compactTo(const std::vector<int32_t>& rows);

  Variant get(size_t r) const;
  bool equals(size_t r, const Variant& v) const;
  bool sameCell(size_t a, size_t b) const;
  // Order of two rows: nulls first.
  int compare(size_t a, size_t b, bool caseInsensitive) const;
  void write(PacketWriter& w, size_t r) const;
  // Appends ",value" as packet JSON.
  void appendJson(std::string& out, size_t r) const;

  size_t bytes() const;

  // For sorting by keys built ahead. Whether the cells are codes; a row's
  // code; per code, its rank in the order of compare (equal texts alike, 0
  // for null).
  bool coded() const { return dict_ != nullptr; }
  uint8_t codeAt(size_t r) const { return code_[r]; }
  void codeRanks(bool caseInsensitive, uint8_t rank[256]) const;
  // The first bytes (1 to 8) of a text cell as a number, 0 for null: a
  // smaller prefix is a smaller text in a case-sensitive comparison.
  uint64_t prefix(size_t r, int bytes) const {
    if (isNull(r)) return 0;
    std::string_view t = str(r);
    uint64_t w = 0;
    std::memcpy(&w, t.data(), t.size() < 8 ? t.size() : 8);
    return __builtin_bswap64(w) >> (64 - 8 * bytes);
  }

private:
  // Small chunks: a column holds at most one chunk of unused room, which is
  // most of what the storage spends beyond the values themselves.
  static constexpr int kRowShift = 12;    // 4,096 cells a chunk
  static constexpr int kArenaShift = 16;  // 64 KiB of text a chunk; longer texts a block of their own
  // A null float or date is one NaN of its own; any NaN stored is made the
  // ordinary quiet NaN first, so a value can never be taken for a null.
  static constexpr uint64_t kNullBits = 0x7FF4E11A7FF4E11AULL;
  static bool isNullBits(double d) {
    uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b == kNullBits;
  }
  static double nullDouble() {
    double d;
    std::memcpy(&d, &kNullBits, sizeof d);
    return d;
  }
  static double storable(double d);

  std::string_view text(uint32_t off) const {
    const auto* p = reinterpret_cast<const unsigned char*>(arena_.at(off));
    uint32_t len = *p++;
    if (len >= 0x80) {
      len &= 0x7F;
      int shift = 7;
      unsigned char b;
      do {
        b = *p++;
        len |= static_cast<uint32_t>(b & 0x7F) << shift;
        shift += 7;
      } while (b & 0x80);
    }
    return {reinterpret_cast<const char*>(p), len};
  }
  uint32_t store(std::string_view s);
  uint32_t append(std::string_view s);
  uint32_t offsetOf(size_t r) const { return dict_ ? dict_->off[code_[r]] : s_[r]; }
  // The code of s in a column still coded, added when new; false when the
  // column has no code left for it (and is then no longer coded).
  bool codeOf(std::string_view s, uint8_t& code);
  void uncode();

  // A text column starts coded: each cell is one byte, the code of one of at
  // most 255 distinct texts (0 for null). Branch, service and plan codes and
  // flags, repeated on every row, then take a byte a row instead of the four
  // of an offset. The 256th distinct text turns the column into offsets for
  // good, so columns of names and numbers pay that once, early.
  struct Dict {
    static constexpr size_t kCodes = 255, kSlots = 512;
    uint32_t off[kCodes + 1] = {kNullOff};  // per code, its text's offset
    uint8_t slot[kSlots] = {};               // open addressing by the text's hash: codes, 0 empty
    size_t count = 0;
    // Per code up to count, the words a short text is hashed from, which
    // with its length tell it apart from any other (ShortKey): a look-up
    // compares them instead of reading the text back. Left uninitialized.
    uint64_t keyA[kCodes + 1], keyB[kCodes + 1];
    uint8_t keyLen[kCodes + 1];  // kLong: a longer text, compared in full
    bool plain[kCodes + 1];      // written in a packet as it is, between quotes
    static constexpr uint8_t kLong = 0xFF;
  };
  static std::unique_ptr<Dict> newDict() { return std::unique_ptr<Dict>(new Dict); }

  TFieldType type_;
  std::unique_ptr<Dict> dict_;  // text columns while coded
  Chunked<uint8_t, kRowShift> code_;
  Chunked<uint32_t, kRowShift> s_;
  Chunked<char, kArenaShift> arena_;
  Chunked<double, kRowShift> d_;
  Chunked<int64_t, kRowShift> i_;
  Chunked<uint8_t, kRowShift> b_;
  Chunked<uint8_t, kRowShift> nul_;  // integers only
  // Short texts already stored, by a hash of their bytes: codes and flags
  // repeat from row to row and are stored once.
  static constexpr size_t kRecent = 256;
  std::unique_ptr<uint32_t[]> recent_;
  uint32_t looked_ = 0, found_ = 0, resting_ = 0;  // how well that pays, and stores left without looking
};

}  // namespace data::detail
