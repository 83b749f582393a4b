#pragma once
// A contiguous array of plain values (row numbers, row states) that grows
// without copying what it holds once large: grown by appending past 64 KiB it
// lives in its own memory mapping, and growing moves the mapping's pages
// rather than its bytes. The view and the row states of a million-row data
// set grow by doubling like any vector, but no append waits while megabytes
// are copied. Contiguous, so the
// view is sorted and searched as any array.

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
  RowVector(RowVector&& o) noexcept : data_(o.data_), size_(o.size_), cap_(o.cap_), mapped_(o.mapped_) {
    o.data_ = nullptr, o.size_ = o.cap_ = 0, o.mapped_ = false;
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
      data_ = o.data_, size_ = o.size_, cap_ = o.cap_, mapped_ = o.mapped_;
      o.data_ = nullptr, o.size_ = o.cap_ = 0, o.mapped_ = false;
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
  // where it moves pages, so that the unused room stays small.
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
      if (mapped_) {
        munmap(data_, pageRound(bytes(cap_)));
        rowVectorMappedBytes -= pageRound(bytes(cap_));
      }
      else std::free(data_);
#else
      std::free(data_);
#endif
    }
    data_ = nullptr;
    size_ = cap_ = 0;
    mapped_ = false;
  }
  // New capacity n (at least size_). Growth by appending takes a mapping of
  // its own from kMapBytes on, which later growth moves by pages; a size
  // asked for at once (a copy, a reserve) stays on the heap, whose freed
  // memory the next one may reuse without faulting its pages in.
  void realloc(size_t n, bool appending = false) {
    T* p = nullptr;
    bool toMap = false;
#if defined(__linux__)
    toMap = bytes(n) >= kMapBytes && (mapped_ || appending);
    if (mapped_ && toMap) {
      void* q = mremap(data_, pageRound(bytes(cap_)), pageRound(bytes(n)), MREMAP_MAYMOVE);
      if (q == MAP_FAILED) throw std::bad_alloc();
      p = static_cast<T*>(q);
    } else if (toMap) {
      // Leaving the heap copies what is stored: its pages are mapped in one
      // call rather than faulted in one by one, a stall of milliseconds on
      // the first row appended to a large loaded data set (a virtual
      // machine's page fault costs microseconds).
      int populate = bytes(size_) >= kMapBytes ? MAP_POPULATE : 0;
      void* q = mmap(nullptr, pageRound(bytes(n)), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | populate, -1, 0);
      if (q == MAP_FAILED) throw std::bad_alloc();
      p = static_cast<T*>(q);
      if (size_) std::memcpy(p, data_, bytes(size_));
      std::free(data_);
    } else if (mapped_) {
      p = static_cast<T*>(std::malloc(bytes(n)));
      if (!p) throw std::bad_alloc();
      if (size_) std::memcpy(p, data_, bytes(size_));
      munmap(data_, pageRound(bytes(cap_)));
    } else
#endif
    {
      p = static_cast<T*>(std::realloc(data_, bytes(n)));
      if (!p) throw std::bad_alloc();
    }
#if defined(__linux__)
    if (mapped_) rowVectorMappedBytes -= pageRound(bytes(cap_));
    if (toMap) rowVectorMappedBytes += pageRound(bytes(n));
#endif
    data_ = p;
    cap_ = n;
    mapped_ = toMap;
  }

  T* data_ = nullptr;
  size_t size_ = 0, cap_ = 0;
  bool mapped_ = false;
};

}  // namespace data::detail
