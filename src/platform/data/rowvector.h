#pragma once
// A contiguous array of plain values (row numbers, row states) that grows
// without copying what it holds once large: grown by appending past 64 KiB it
// lives in its own memory mapping, inside a reservation of address space
// several times its size, and grows in place by opening more of that
// reservation. No append waits while megabytes are copied, nor while the
// system moves a mapping's pages (on a virtual machine, moving a mapping of
// a megabyte took milliseconds). Contiguous, so the view is sorted and
// searched as any array.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <type_traits>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace data::detail {

// Bytes the engine maps itself (the mappings of every RowVector, the slabs
// column chunks are carved from), which the allocator's own figures do not
// see: the benchmark's heap per row adds them.
inline std::atomic<size_t> rowVectorMappedBytes{0};

template <class T>
class RowVector {
  static_assert(std::is_trivially_copyable_v<T>);

public:
  using value_type = T;
  using iterator = T*;
  using const_iterator = const T*;

  RowVector() = default;
  RowVector(size_t n, T v) { assign(n, v); }
  RowVector(const RowVector& o) { copyFrom(o.data_, o.size_); }
  RowVector(RowVector&& o) noexcept : data_(o.data_), size_(o.size_), cap_(o.cap_), reserved_(o.reserved_) {
    o.data_ = nullptr, o.size_ = o.cap_ = o.reserved_ = 0;
  }
  RowVector& operator=(const RowVector& o) {
    if (this != &o) {
      size_ = 0;
      copyFrom(o.data_, o.size_);
    }
    return *this;
  }
  RowVector& operator=(RowVector&& o) noexcept {
    if (this != &o) {
      release();
      data_ = o.data_, size_ = o.size_, cap_ = o.cap_, reserved_ = o.reserved_;
      o.data_ = nullptr, o.size_ = o.cap_ = o.reserved_ = 0;
    }
    return *this;
  }
  ~RowVector() { release(); }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  size_t capacity() const { return cap_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  T& back() { return data_[size_ - 1]; }

  void reserve(size_t n) {
    if (n > cap_) realloc(n);
  }
  // Room for n elements in a mapping of its own when that is large, as
  // growth by appending would take: for an array that will go on growing
  // (a loaded data set's row states and order), which then never moves.
  void reserveToGrow(size_t n) {
    if (n > cap_) realloc(n, true, true);
  }
  void push_back(T v) {
    if (size_ == cap_) realloc(growTo(size_ + 1), true);
    data_[size_++] = v;
  }
  T* insert(T* at, T v) {
    size_t i = static_cast<size_t>(at - data_);
    if (size_ == cap_) realloc(growTo(size_ + 1), true);
    std::memmove(data_ + i + 1, data_ + i, (size_ - i) * sizeof(T));
    data_[i] = v;
    ++size_;
    return data_ + i;
  }
  T* erase(T* at) { return erase(at, at + 1); }
  T* erase(T* first, T* last) {
    std::memmove(first, last, static_cast<size_t>(end() - last) * sizeof(T));
    size_ -= static_cast<size_t>(last - first);
    return first;
  }
  void resize(size_t n, T v = T{}) {
    reserve(n);
    for (size_t i = size_; i < n; ++i) data_[i] = v;
    size_ = n;
  }
  // n elements, those beyond the present ones left as memory had them.
  void resizeUninit(size_t n) {
    reserve(n);
    size_ = n;
  }
  void assign(size_t n, T v) {
    size_ = 0;
    resize(n, v);
  }
  void clear() { size_ = 0; }
  void shrink_to_fit() {
    if (size_ == 0) release();
    else if (cap_ > size_) realloc(size_);
  }
  std::vector<T> toVector() const { return std::vector<T>(begin(), end()); }

private:
  // Below this many bytes the ordinary heap, which recycles the memory of
  // data sets freed before (fresh pages cost a fault each); from it on a
  // mapping of its own. Small, because the move into the mapping copies into
  // fresh pages, a fault for each: at 2 MiB that one append took milliseconds.
  static constexpr size_t kMapBytes = size_t{64} << 10;

  // Doubling on the heap, where growth copies; by an eighth in a mapping,
  // where it opens more of the reservation, so that the unused room stays
  // small.
  static size_t growTo(size_t need) {
    if (bytes(need) < kMapBytes) return std::max<size_t>(16, need * 2);
    return need + std::max(need / 8, kMapBytes / sizeof(T));
  }
  static size_t bytes(size_t n) { return n * sizeof(T); }
  static size_t pageRound(size_t b) { return (b + 4095) & ~size_t{4095}; }

  void copyFrom(const T* src, size_t n) {
    reserve(n);
    if (n) std::memcpy(data_, src, bytes(n));
    size_ = n;
  }
  void release() {
    if (data_) {
#if defined(__linux__)
      if (reserved_) {
        munmap(data_, reserved_);
        rowVectorMappedBytes -= pageRound(bytes(cap_));
      } else {
        std::free(data_);
      }
#else
      std::free(data_);
#endif
    }
    data_ = nullptr;
    size_ = cap_ = reserved_ = 0;
  }
#if defined(__linux__)
  // Address space for a mapping of `open` bytes to grow into: eight times
  // them, at least 64 MiB. Unopened address space costs no memory and is
  // not charged against the system's commit limit.
  static size_t reservationFor(size_t open) { return std::max(open * 8, size_t{64} << 20); }
  // A fresh reservation whose first `open` bytes are writable and mapped in
  // one call (their pages are about to be written by a copy).
  static T* mapReserved(size_t open, size_t reserve, bool populate) {
    void* q = mmap(nullptr, reserve, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (q == MAP_FAILED) throw std::bad_alloc();
    void* w = mmap(q, open, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | (populate ? MAP_POPULATE : 0),
                   -1, 0);
    if (w == MAP_FAILED) {
      munmap(q, reserve);
      throw std::bad_alloc();
    }
    return static_cast<T*>(q);
  }
#endif
  // Copies what is stored into p, room for n, which replaces the present
  // memory (given back).
  void moveTo(T* p, size_t n) {
    size_t keep = size_;
    if (keep) std::memcpy(p, data_, bytes(keep));
    release();
    data_ = p;
    size_ = keep;
    cap_ = n;
  }
  // New capacity n (at least size_). Growth by appending takes a mapping of
  // its own from kMapBytes on, which later growth opens further in place; a
  // size asked for at once (a copy, a reserve) stays on the heap, whose
  // freed memory the next one may reuse without faulting its pages in.
  // populate: the room is about to be filled, so its pages are mapped in
  // one call.
  void realloc(size_t n, bool appending = false, bool populate = false) {
#if defined(__linux__)
    const bool mapped = reserved_ != 0;
    const bool toMap = bytes(n) >= kMapBytes && (mapped || appending);
    const size_t open = pageRound(bytes(n)), was = pageRound(bytes(cap_));
    if (mapped && toMap && open <= reserved_) {
      // In place: more of the reservation opened, or the end given back.
      auto* base = reinterpret_cast<char*>(data_);
      if (open > was && mprotect(base + was, open - was, PROT_READ | PROT_WRITE) != 0) throw std::bad_alloc();
      if (open < was) {
        madvise(base + open, was - open, MADV_DONTNEED);
        mprotect(base + open, was - open, PROT_NONE);
      }
      rowVectorMappedBytes += open;
      rowVectorMappedBytes -= was;
      cap_ = n;
      return;
    }
    if (toMap) {
      // Into a new reservation: leaving the heap, or past the end of the
      // old reservation. What is stored is copied, so its pages are mapped
      // in one call rather than faulted in one by one (a virtual machine's
      // page fault costs microseconds).
      size_t reserve = reservationFor(open);
      moveTo(mapReserved(open, reserve, populate || bytes(size_) >= kMapBytes), n);
      reserved_ = reserve;
      rowVectorMappedBytes += open;
      return;
    }
    if (mapped) {
      auto* p = static_cast<T*>(std::malloc(bytes(n)));
      if (!p) throw std::bad_alloc();
      moveTo(p, n);
      return;
    }
#endif
    auto* p = static_cast<T*>(std::realloc(data_, bytes(n)));
    if (!p) throw std::bad_alloc();
    data_ = p;
    cap_ = n;
  }

  T* data_ = nullptr;
  size_t size_ = 0, cap_ = 0;
  size_t reserved_ = 0;  // bytes of address space reserved; 0 on the heap
};

}  // namespace data::detail
