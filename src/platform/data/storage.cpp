#include "storage.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <limits>
#include <mutex>
#include <unordered_map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "packet_internal.h"
#include "platform/rtl/format.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace data::detail {

namespace {
// Chunks are carved from slabs of 2 MiB, aligned so that the kernel can back
// each with one huge page. Slabs for room asked for at once (a load sizing
// its columns ahead) are advised so: a million-row load then faults its
// memory in a few hundred times rather than fifty thousand. Slabs for rows
// appended one at a time are not, since one huge page's fault (clearing 2 MiB)
// would stall that single insert for milliseconds, where small pages spread
// the cost over the rows. A chunk given back serves the next chunk of its size; a
// slab whose chunks are all given back is kept whole for reuse (up to a
// bound) or returned to the system. Blocks of half a slab or more (long
// texts) go to the ordinary heap.
constexpr size_t kSlab = size_t{2} << 20;

struct Slab {
  size_t used = 0;  // bytes carved so far
  size_t live = 0;  // chunks carved and not given back
};

using Clock = std::chrono::steady_clock;

struct FreeSlab {
  void* base;
  Clock::time_point since;  // when it was last given back whole
};

struct ChunkPool {
  static constexpr size_t kFloorSlabs = 32;  // 64 MiB kept however long idle
  std::mutex mutex;
  std::unordered_map<uintptr_t, Slab> slabs;       // by base address
  std::vector<std::pair<size_t, void*>> freeChunks;  // given back, inside slabs still in use
  std::vector<FreeSlab> freeSlabs;  // oldest first; taken from the back, whose pages are the likeliest still cached
  size_t maxFreeSlabs = 0;
  uintptr_t current[2] = {0, 0};  // the slabs new chunks are carved from: appending, bulk
  size_t freeChunkBytes = 0;
  std::string spareText;  // the text of a large packet no one holds any more
  Clock::time_point spareSince;
};

// An eighth of physical memory, at least the floor: room for the largest
// data sets a server holds to be freed and loaded again without faulting,
// not so much that freed memory starves the rest of the machine.
size_t retentionSlabs() {
  size_t phys = 0;
#if defined(__linux__)
  long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page > 0) phys = static_cast<size_t>(pages) * static_cast<size_t>(page);
#endif
  return std::max(ChunkPool::kFloorSlabs, phys / 8 / kSlab);
}

ChunkPool& pool() {
  static ChunkPool* p = [] {
    auto* q = new ChunkPool;  // never destroyed: chunks may be given back at exit
    q->maxFreeSlabs = retentionSlabs();
    return q;
  }();
  return *p;
}

uintptr_t slabOf(const void* m) { return reinterpret_cast<uintptr_t>(m) & ~(kSlab - 1); }

void* mapSlab(bool huge) {
#if defined(__linux__)
  // Twice the size, then the unaligned ends cut off.
  void* q = mmap(nullptr, 2 * kSlab, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (q == MAP_FAILED) throw std::bad_alloc();
  auto a = reinterpret_cast<uintptr_t>(q), b = (a + kSlab - 1) & ~(kSlab - 1);
  if (b > a) munmap(q, b - a);
  if (b + kSlab < a + 2 * kSlab) munmap(reinterpret_cast<void*>(b + kSlab), a + 2 * kSlab - b - kSlab);
  if (huge) madvise(reinterpret_cast<void*>(b), kSlab, MADV_HUGEPAGE);
  rowVectorMappedBytes += kSlab;
  return reinterpret_cast<void*>(b);
#else
  (void)huge;
  void* q = std::aligned_alloc(kSlab, kSlab);
  if (!q) throw std::bad_alloc();
  return q;
#endif
}

void unmapSlab(void* m) {
#if defined(__linux__)
  munmap(m, kSlab);
  rowVectorMappedBytes -= kSlab;
#else
  std::free(m);
#endif
}

// Gives back to the system the slabs kept longer than idle, oldest first,
// down to keep of them.
size_t expireSlabs(ChunkPool& p, Clock::duration idle, size_t keep) {
  auto now = Clock::now();
  size_t n = 0;
  while (n < p.freeSlabs.size() && p.freeSlabs.size() - n > keep && now - p.freeSlabs[n].since >= idle) ++n;
  for (size_t i = 0; i < n; ++i) unmapSlab(p.freeSlabs[i].base);
  p.freeSlabs.erase(p.freeSlabs.begin(), p.freeSlabs.begin() + static_cast<std::ptrdiff_t>(n));
  return n * kSlab;
}

Clock::duration seconds(double s) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

// A slab none of whose chunks is in use: its given-back chunks leave the
// free list, and the slab is kept whole or unmapped.
void retireSlab(ChunkPool& p, uintptr_t base) {
  auto& fc = p.freeChunks;
  for (size_t i = fc.size(); i-- > 0;)
    if (slabOf(fc[i].second) == base) {
      p.freeChunkBytes -= fc[i].first;
      fc[i] = fc.back();
      fc.pop_back();
    }
  p.slabs.erase(base);
  if (p.freeSlabs.size() < p.maxFreeSlabs) p.freeSlabs.push_back({reinterpret_cast<void*>(base), Clock::now()});
  else unmapSlab(reinterpret_cast<void*>(base));
  // Freeing is when a server has the time to give back what sat unused.
  expireSlabs(p, seconds(kChunkIdleSeconds), ChunkPool::kFloorSlabs);
}
}  // namespace

// The memory a kept packet text holds (an empty string's own room is none).
static size_t spareBytes(const std::string& text) { return text.capacity() >= kSpareTextBytes ? text.capacity() : 0; }
static size_t spareBytes(const ChunkPool& p) { return spareBytes(p.spareText); }

size_t releaseIdleChunks(double idleSeconds) {
  std::string gone;
  auto& p = pool();
  std::lock_guard<std::mutex> lock(p.mutex);
  if (spareBytes(p) && Clock::now() - p.spareSince >= seconds(idleSeconds)) gone.swap(p.spareText);
  return expireSlabs(p, seconds(idleSeconds), ChunkPool::kFloorSlabs) + spareBytes(gone);
}

size_t releaseAllChunks() {
  std::string gone;
  auto& p = pool();
  std::lock_guard<std::mutex> lock(p.mutex);
  gone.swap(p.spareText);
  return expireSlabs(p, Clock::duration::zero(), 0) + spareBytes(gone);
}

void keepSpareText(std::string&& text) noexcept {
  if (text.capacity() < kSpareTextBytes) return;
  std::string gone;
  auto& p = pool();
  try {
    std::lock_guard<std::mutex> lock(p.mutex);
    if (text.capacity() > p.maxFreeSlabs * kSlab) return;
    gone.swap(p.spareText);  // the newer one is the likelier size of the next
    p.spareText.swap(text);
    p.spareText.clear();
    p.spareSince = Clock::now();
  } catch (...) {
    // Not kept: the text is freed with its packet.
  }
}

bool takeSpareText(size_t bytes, std::string& into) {
  if (bytes < kSpareTextBytes) return false;
  auto& p = pool();
  std::lock_guard<std::mutex> lock(p.mutex);
  // Not a buffer far larger than asked for: the packet would hold it whole.
  if (p.spareText.capacity() < bytes || p.spareText.capacity() / 2 > bytes) return false;
  into.swap(p.spareText);
  std::string().swap(p.spareText);
  return true;
}

size_t chunkRetentionLimit() {
  auto& p = pool();
  std::lock_guard<std::mutex> lock(p.mutex);
  return p.maxFreeSlabs * kSlab;
}

void* takeChunk(size_t bytes, bool bulk) {
  if (bytes >= kSlab / 2) return ::operator new(bytes);
  auto& p = pool();
  std::lock_guard<std::mutex> lock(p.mutex);
  for (size_t i = p.freeChunks.size(); i-- > 0;)
    if (p.freeChunks[i].first == bytes) {
      void* m = p.freeChunks[i].second;
      p.freeChunks[i] = p.freeChunks.back();
      p.freeChunks.pop_back();
      p.freeChunkBytes -= bytes;
      ++p.slabs[slabOf(m)].live;
      return m;
    }
  uintptr_t& cur = p.current[bulk ? 1 : 0];
  if (cur == 0 || p.slabs[cur].used + bytes > kSlab) {
    void* s;
    if (!p.freeSlabs.empty()) {
      s = p.freeSlabs.back().base;  // its pages already faulted in, whichever way
      p.freeSlabs.pop_back();
    } else {
      s = mapSlab(bulk);
    }
    cur = reinterpret_cast<uintptr_t>(s);
    p.slabs[cur] = Slab{};
  }
  Slab& s = p.slabs[cur];
  void* m = reinterpret_cast<void*>(cur + s.used);
  s.used += bytes;
  ++s.live;
  return m;
}

void giveChunk(void* m, size_t bytes) {
  if (bytes >= kSlab / 2) return ::operator delete(m);
  auto& p = pool();
  std::lock_guard<std::mutex> lock(p.mutex);
  uintptr_t base = slabOf(m);
  Slab& s = p.slabs[base];
  if (--s.live == 0) {
    if (base == p.current[0] || base == p.current[1]) {
      // Carving starts over; chunks given back earlier are part of that room.
      for (size_t i = p.freeChunks.size(); i-- > 0;)
        if (slabOf(p.freeChunks[i].second) == base) {
          p.freeChunkBytes -= p.freeChunks[i].first;
          p.freeChunks[i] = p.freeChunks.back();
          p.freeChunks.pop_back();
        }
      s.used = 0;
    } else {
      retireSlab(p, base);
    }
    return;
  }
  p.freeChunks.emplace_back(bytes, m);
  p.freeChunkBytes += bytes;
}

size_t pooledChunkBytes() {
  auto& p = pool();
  std::lock_guard<std::mutex> lock(p.mutex);
  size_t tail = 0;
  for (uintptr_t c : p.current)
    if (c) tail += kSlab - p.slabs[c].used;
  return p.freeSlabs.size() * kSlab + p.freeChunkBytes + tail + spareBytes(p);
}

size_t Column::size() const {
  switch (type_) {
    case TFieldType::String: return dict_ ? code_.size() : s_.size();
    case TFieldType::Boolean: return b_.size();
    case TFieldType::Integer: return i_.size();
    default: return d_.size();
  }
}

void Column::reserve(size_t rows) {
  switch (type_) {
    case TFieldType::String:
      if (dict_) code_.reserve(rows);
      else s_.reserve(rows);
      break;
    case TFieldType::Boolean: b_.reserve(rows); break;
    case TFieldType::Integer: i_.reserve(rows); nul_.reserve(rows); break;
    default: d_.reserve(rows); break;
  }
}

namespace {
template <class V>
void reserveBy(V& v, double f) {
  if (!v.empty()) v.reserve(static_cast<size_t>(static_cast<double>(v.size()) * f) + 16);
}
}  // namespace

void Column::reserveFactor(double f) {
  reserveBy(code_, f);
  reserveBy(s_, f);
  reserveBy(arena_, f);
  reserveBy(d_, f);
  reserveBy(i_, f);
  reserveBy(b_, f);
  reserveBy(nul_, f);
}

void Column::shrink() {
  code_.shrink();
  s_.shrink();
  arena_.shrink();
  d_.shrink();
  i_.shrink();
  b_.shrink();
  nul_.shrink();
}

void Column::clear() {
  code_.clear();
  s_.clear();
  arena_.clear();
  d_.clear();
  i_.clear();
  b_.clear();
  nul_.clear();
  recent_.reset();
  looked_ = found_ = resting_ = 0;
  if (type_ == TFieldType::String) dict_ = newDict();
}

double Column::storable(double d) {
  return d != d ? std::numeric_limits<double>::quiet_NaN() : d;
}

namespace {
// A short text (at most 16 bytes) as two words read at once, overlapping
// when the text is shorter, and its length. Together they are the text: from
// 8 bytes on, the first and the last 8; from 4, the first and last 4; below
// that, every byte.
struct ShortKey {
  uint64_t a = 0, b = 0;
  size_t n = 0;
  uint32_t hash() const {
    uint64_t h = (a ^ (b * 0x9E3779B97F4A7C15ULL) ^ n) * 0xBF58476D1CE4E5B9ULL;
    return static_cast<uint32_t>(h >> 32);
  }
};

inline ShortKey shortKey(std::string_view s) {
  const char* p = s.data();
  size_t n = s.size();
  uint64_t a = 0, b = 0;
  if (n >= 8) {
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + n - 8, 8);
  } else if (n >= 4) {
    uint32_t x, y;
    std::memcpy(&x, p, 4);
    std::memcpy(&y, p + n - 4, 4);
    a = x;
    b = y;
  } else if (n > 0) {
    a = static_cast<unsigned char>(p[0]) | static_cast<unsigned>(static_cast<unsigned char>(p[n / 2])) << 8 |
        static_cast<unsigned>(static_cast<unsigned char>(p[n - 1])) << 16;
  }
  return ShortKey{a, b, n};
}

// Short texts only: two words mixed, rather than a loop over the bytes.
inline uint32_t hashText(std::string_view s) { return shortKey(s).hash(); }

// A text cell of a packet: at most this many bytes written at once, quotes
// and separator included; longer texts, and texts to escape, go their way.
constexpr size_t kJsonRoom = 128;
bool plainJson(std::string_view t) { return t.size() <= kJsonRoom - 3 && !NeedsJsonEscape(t); }
void appendNull(std::string& out) { out.append(",null", 5); }
void appendEscaped(std::string& out, std::string_view t) {
  out.push_back(',');
  AppendJsonString(out, t);
}
}  // namespace

uint32_t Column::store(std::string_view s) {
  // Codes, flags and other short texts are kept once: a later row with the
  // same text points at the first one's bytes.
  constexpr size_t kShort = 16;
  // A column whose short texts rarely repeat (a client code, a document
  // number) stops looking for a while, and looks again later.
  uint32_t* slot = nullptr;
  if (s.size() <= kShort && resting_ > 0) {
    --resting_;
  } else if (s.size() <= kShort) {
    if (!recent_) {
      recent_.reset(new uint32_t[kRecent]);
      std::fill(recent_.get(), recent_.get() + kRecent, kNullOff);
    }
    slot = &recent_[hashText(s) & (kRecent - 1)];
    if (*slot != kNullOff && text(*slot) == s) {
      ++found_;
      return *slot;
    }
    if (++looked_ == 4096) {
      if (found_ * 16 < looked_) resting_ = 65536;
      looked_ = found_ = 0;
    }
  }
  uint32_t off = append(s);
  if (slot) *slot = off;
  return off;
}

uint32_t Column::append(std::string_view s) {
  size_t len = s.size(), prefix = 1;
  for (size_t v = len >> 7; v; v >>= 7) ++prefix;
  size_t first = 0;
  // A text longer than a chunk starts after all the room reserved.
  size_t end = len + prefix > arena_.kChunk ? arena_.capacity() : arena_.size();
  if (end + len + prefix + arena_.kChunk >= kNullOff) throw rtl::EDatabaseError("Too much text in one column of a data set");
  char* p = arena_.appendRun(len + prefix, first);
  auto n = static_cast<uint32_t>(len);
  do {
    unsigned char b = n & 0x7F;
    n >>= 7;
    if (n) b |= 0x80;
    *p++ = static_cast<char>(b);
  } while (n);
  if (len) std::memcpy(p, s.data(), len);
  return static_cast<uint32_t>(first);
}

bool Column::codeOf(std::string_view s, uint8_t& code) {
  Dict& d = *dict_;
  const bool isShort = s.size() <= 16;
  const ShortKey k = isShort ? shortKey(s) : ShortKey{};
  size_t h = isShort ? k.hash() : std::hash<std::string_view>{}(s);
  for (size_t i = h & (Dict::kSlots - 1);; i = (i + 1) & (Dict::kSlots - 1)) {
    uint8_t c = d.slot[i];
    if (c != 0) {
      if (isShort ? d.keyLen[c] == k.n && d.keyA[c] == k.a && d.keyB[c] == k.b
                  : d.keyLen[c] == Dict::kLong && text(d.off[c]) == s) {
        code = c;
        return true;
      }
      continue;
    }
    if (d.count == Dict::kCodes) {
      uncode();
      return false;
    }
    c = static_cast<uint8_t>(d.count + 1);
    d.off[c] = append(s);
    d.keyA[c] = k.a;
    d.keyB[c] = k.b;
    d.keyLen[c] = isShort ? static_cast<uint8_t>(k.n) : Dict::kLong;
    d.plain[c] = plainJson(s);
    d.count = c;
    code = c;
    d.slot[i] = c;
    return true;
  }
}

void Column::uncode() {
  // One insert or edit pays for every row here, so the rows go over a chunk
  // at a time: a table lookup per byte into contiguous memory, rather than
  // a push with its checks per row.
  size_t n = code_.size();
  s_.reserve(n + n / 8 + 16);
  const uint32_t* off = dict_->off;
  for (size_t r = 0; r < n;) {
    size_t run = std::min(n - r, decltype(s_)::kChunk - (r & decltype(s_)::kMask)), first;
    uint32_t* out = s_.appendRun(run, first);
    const uint8_t* in = code_.at(r);
    for (size_t i = 0; i < run; ++i) out[i] = off[in[i]];
    r += run;
  }
  code_.clear();
  dict_.reset();
}

void Column::pushNull() {
  switch (type_) {
    case TFieldType::String:
      if (dict_) code_.push_back(0);
      else s_.push_back(kNullOff);
      break;
    case TFieldType::Boolean: b_.push_back(2); break;
    case TFieldType::Integer: i_.push_back(0); nul_.push_back(1); break;
    default: d_.push_back(nullDouble()); break;
  }
}

void Column::pushStr(std::string_view s) {
  uint8_t c;
  if (dict_ && codeOf(s, c)) code_.push_back(c);
  else s_.push_back(store(s));
}
void Column::pushNum(double d) {
  if (type_ == TFieldType::Integer) {
    i_.push_back(static_cast<int64_t>(d));
    nul_.push_back(0);
  } else {
    d_.push_back(storable(d));
  }
}
void Column::pushInt(int64_t i) {
  if (type_ == TFieldType::Integer) {
    i_.push_back(i);
    nul_.push_back(0);
  } else {
    d_.push_back(static_cast<double>(i));
  }
}
void Column::pushBool(bool b) { b_.push_back(b ? 1 : 0); }

void Column::pushCopy(size_t from) {
  switch (type_) {
    case TFieldType::String:
      if (dict_) code_.push_back(code_[from]);
      else s_.push_back(s_[from]);
      break;
    case TFieldType::Boolean: b_.push_back(b_[from]); break;
    case TFieldType::Integer: i_.push_back(i_[from]); nul_.push_back(nul_[from]); break;
    default: d_.push_back(d_[from]); break;
  }
}

void Column::pushFrom(const Column& o, size_t r, CodeMap& map) {
  switch (type_) {
    case TFieldType::String: {
      if (o.dict_ && dict_) {
        uint8_t c = o.code_[r], &mine = map[c];
        if (c == 0 || mine != 0 || codeOf(o.text(o.dict_->off[c]), mine)) {
          code_.push_back(c == 0 ? 0 : mine);
          return;
        }
      }
      uint32_t off = o.offsetOf(r);
      if (off == kNullOff) return pushNull();
      return pushStr(o.text(off));
    }
    // Stored values are already as a push would store them, nulls included.
    case TFieldType::Boolean: return b_.push_back(o.b_[r]);
    case TFieldType::Integer: i_.push_back(o.i_[r]); return nul_.push_back(o.nul_[r]);
    default: return d_.push_back(o.d_[r]);
  }
}

void Column::push(const Variant& v) {
  if (v.isNullOrEmpty()) return pushNull();
  switch (type_) {
    case TFieldType::String: pushStr(v.asStringRef()); break;
    case TFieldType::Boolean: pushBool(v.toBool()); break;
    case TFieldType::Integer: pushInt(v.toInt()); break;
    default: pushNum(v.toDouble()); break;
  }
}

void Column::set(size_t r, const Variant& v) {
  if (v.isNullOrEmpty()) {
    switch (type_) {
      case TFieldType::String:
        if (dict_) code_[r] = 0;
        else s_[r] = kNullOff;
        break;
      case TFieldType::Boolean: b_[r] = 2; break;
      case TFieldType::Integer: nul_[r] = 1; break;
      default: d_[r] = nullDouble(); break;
    }
    return;
  }
  switch (type_) {
    case TFieldType::String: {
      uint8_t c;
      if (dict_ && codeOf(v.asStringRef(), c)) code_[r] = c;
      else s_[r] = store(v.asStringRef());
      break;
    }
    case TFieldType::Boolean: b_[r] = v.toBool() ? 1 : 0; break;
    case TFieldType::Integer: i_[r] = v.toInt(); nul_[r] = 0; break;
    default: d_[r] = storable(v.toDouble()); break;
  }
}

void Column::copyCell(size_t from, size_t to) {
  switch (type_) {
    case TFieldType::String:
      if (dict_) code_[to] = code_[from];
      else s_[to] = s_[from];
      break;
    case TFieldType::Boolean: b_[to] = b_[from]; break;
    case TFieldType::Integer: i_[to] = i_[from]; nul_[to] = nul_[from]; break;
    default: d_[to] = d_[from]; break;
  }
}

void Column::compactTo(const std::vector<int32_t>& rows) {
  Column c(type_);
  c.reserve(rows.size());
  for (int32_t r : rows) {
    auto row = static_cast<size_t>(r);
    if (isNull(row)) {
      c.pushNull();
      continue;
    }
    switch (type_) {
      case TFieldType::String: c.pushStr(str(row)); break;
      case TFieldType::Boolean: c.pushBool(b_[row] == 1); break;
      case TFieldType::Integer: c.pushInt(i_[row]); break;
      default: c.pushNum(d_[row]); break;
    }
  }
  *this = std::move(c);
}

Variant Column::get(size_t r) const {
  if (isNull(r)) return Variant::Null();
  switch (type_) {
    case TFieldType::String: return Variant(str(r));
    case TFieldType::Boolean: return Variant(b_[r] == 1);
    case TFieldType::Integer: return Variant(static_cast<long long>(i_[r]));
    case TFieldType::DateTime: return Variant::FromDate(d_[r]);
    default: return Variant(d_[r]);
  }
}

namespace {
bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace

bool Column::equals(size_t r, const Variant& v) const {
  bool vn = v.isNullOrEmpty();
  if (isNull(r) || vn) return isNull(r) && vn;
  switch (type_) {
    case TFieldType::String: return v.isString() && str(r) == v.asStringRef();
    case TFieldType::Boolean: return (b_[r] == 1) == v.toBool();
    case TFieldType::Integer: return i_[r] == v.toInt();
    default: return sameBits(d_[r], v.toDouble());
  }
}

bool Column::sameCell(size_t a, size_t b) const {
  // A copied row shares its texts: the same offset is the same text (or both
  // null). Codes are of distinct texts: different codes, different texts.
  if (type_ == TFieldType::String && dict_) return code_[a] == code_[b];
  if (type_ == TFieldType::String && s_[a] == s_[b]) return true;
  if (isNull(a) || isNull(b)) return isNull(a) && isNull(b);
  switch (type_) {
    case TFieldType::String: return str(a) == str(b);
    case TFieldType::Boolean: return b_[a] == b_[b];
    case TFieldType::Integer: return i_[a] == i_[b];
    default: return sameBits(d_[a], d_[b]);
  }
}

int Column::compare(size_t a, size_t b, bool ci) const {
  // Repeated short texts are stored once: the same offset is the same text.
  if (type_ == TFieldType::String && offsetOf(a) == offsetOf(b)) return 0;
  bool na = isNull(a), nb = isNull(b);
  if (na || nb) return na == nb ? 0 : (na ? -1 : 1);
  switch (type_) {
    case TFieldType::String: {
      if (ci) {
        int c = rtl::AnsiCompareText(str(a), str(b));
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
      }
      int c = str(a).compare(str(b));
      return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    case TFieldType::Boolean: return b_[a] == b_[b] ? 0 : (b_[a] < b_[b] ? -1 : 1);
    case TFieldType::Integer: return i_[a] == i_[b] ? 0 : (i_[a] < i_[b] ? -1 : 1);
    default: return d_[a] < d_[b] ? -1 : (d_[b] < d_[a] ? 1 : 0);
  }
}

void Column::write(PacketWriter& w, size_t r) const {
  if (isNull(r)) return w.Null();
  switch (type_) {
    case TFieldType::String: return w.String(str(r));
    case TFieldType::Boolean: return w.Boolean(b_[r] == 1);
    case TFieldType::Integer: return w.Integer(i_[r]);
    default: return w.Float(d_[r]);
  }
}

void Column::appendJson(std::string& out, size_t r) const {
  // The separator and the value go in with one append: the string's growth
  // checks, several per cell, were a large share of writing a packet. Each
  // type tells its own null, from the cell it reads anyway.
  char buf[kJsonRoom];
  char* p = buf;
  *p++ = ',';
  switch (type_) {
    case TFieldType::String: {
      std::string_view t;
      if (dict_) {
        // Whether a code's text needs escaping was settled when it was coded.
        uint8_t c = code_[r];
        if (c == 0) return appendNull(out);
        t = text(dict_->off[c]);
        if (!dict_->plain[c]) return appendEscaped(out, t);
      } else {
        uint32_t off = s_[r];
        if (off == kNullOff) return appendNull(out);
        t = text(off);
        if (!plainJson(t)) return appendEscaped(out, t);
      }
      *p++ = '"';
      std::memcpy(p, t.data(), t.size());
      p += t.size();
      *p++ = '"';
      break;
    }
    case TFieldType::Boolean:
      if (b_[r] == 2) return appendNull(out);
      if (b_[r] == 1) out.append(",true", 5);
      else out.append(",false", 6);
      return;
    case TFieldType::Integer:
      if (nul_[r] != 0) return appendNull(out);
      p = std::to_chars(p, buf + kJsonRoom, i_[r]).ptr;
      break;
    default: {
      double d = d_[r];
      if (isNullBits(d)) return appendNull(out);
      p = WriteJsonDouble(p, d);
      break;
    }
  }
  out.append(buf, static_cast<size_t>(p - buf));
}

void Column::codeRanks(bool ci, uint8_t rank[256]) const {
  std::fill(rank, rank + 256, 0);
  if (!dict_) return;
  std::vector<uint8_t> codes(dict_->count);
  for (size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<uint8_t>(i + 1);
  auto cmp = [&](uint8_t a, uint8_t b) {
    std::string_view x = text(dict_->off[a]), y = text(dict_->off[b]);
    return ci ? rtl::AnsiCompareText(x, y) : x.compare(y);
  };
  std::sort(codes.begin(), codes.end(), [&](uint8_t a, uint8_t b) { return cmp(a, b) < 0; });
  uint8_t r = 0;
  for (size_t i = 0; i < codes.size(); ++i) {
    if (i == 0 || cmp(codes[i - 1], codes[i]) != 0) ++r;
    rank[codes[i]] = r;
  }
}

size_t Column::bytes() const {
  return (dict_ ? sizeof(Dict) : 0) + code_.capacity() + s_.capacity() * sizeof(uint32_t) + arena_.capacity() + d_.capacity() * 8 + i_.capacity() * 8 +
         b_.capacity() + nul_.capacity();
}

}  // namespace data::detail
