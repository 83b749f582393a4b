#pragma once
// The change log of the data-set engine: which rows are modified, inserted or
// deleted since the last merge, and for modified and deleted rows the row of
// storage that holds their original values. It holds at most one entry per
// row, whatever the number of edits, and every operation on it costs in
// proportion to the changes, not to the rows: merging or encoding 10,000
// edits takes as long with a million rows as with a hundred thousand.

#include <algorithm>
#include <memory>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "dataset.h"
#include "storage.h"

namespace data::detail {

// Row states in storage. Orig rows hold the original values of a modified row;
// they are never in a view.
enum : uint8_t { RowDead = 0, RowLive = 1, RowOrig = 2, RowDeleted = 3 };

struct LogEntry {
  TUpdateStatus status;
  int32_t orig;  // row holding the original values, or -1 when the row itself holds them
};

// Per row: the status of its entry (0 for none) and the row of its original
// values, in pages of 16,384 rows made when a row of the page first gets an
// entry. A page holds one byte per row while its rows have no originals
// (inserts), and one word per row, the status and the original's row
// together, from its first original on: an edited row's entry is one memory
// access, not two, which is what a merge of edits spread over a million rows
// pays for. Nothing is ever rehashed or moved as a whole: the millionth
// entry costs what the first did.
class RowSlots {
public:
  static constexpr int kShift = 14;
  static constexpr size_t kPage = size_t{1} << kShift;
  // A word: the status in the top 2 bits, the original's row + 1 below.
  static constexpr uint32_t kOrigBits = 0x3FFFFFFFu;
  static constexpr int32_t kMaxOrig = static_cast<int32_t>(kOrigBits) - 1;

  uint8_t status(size_t r) const {
    size_t p = r >> kShift, i = r & (kPage - 1);
    if (p >= pages_.size()) return 0;
    const Page& pg = pages_[p];
    if (pg.word) return static_cast<uint8_t>(pg.word[i] >> 30);
    return pg.st ? pg.st[i] : 0;
  }
  int32_t orig(size_t r) const {
    size_t p = r >> kShift;
    if (p >= pages_.size() || !pages_[p].word) return -1;
    return static_cast<int32_t>(pages_[p].word[r & (kPage - 1)] & kOrigBits) - 1;
  }
  void setStatus(size_t r, uint8_t st) {
    Page& pg = page(r);
    size_t i = r & (kPage - 1);
    if (pg.word) {
      pg.word[i] = (pg.word[i] & kOrigBits) | uint32_t{st} << 30;
      return;
    }
    if (!pg.st) {
      if (st == 0) return;
      pg.st.reset(new uint8_t[kPage]());
    }
    pg.st[i] = st;
  }
  void setOrig(size_t r, int32_t o) {
    if (o > kMaxOrig) throw std::length_error("change log: too many rows");
    Page& pg = page(r);
    if (!pg.word) {
      if (o < 0) return;
      pg.word.reset(new uint32_t[kPage]);
      for (size_t i = 0; i < kPage; ++i) pg.word[i] = pg.st ? uint32_t{pg.st[i]} << 30 : 0;
      pg.st.reset();
    }
    size_t i = r & (kPage - 1);
    pg.word[i] = (pg.word[i] & ~kOrigBits) | static_cast<uint32_t>(o + 1);
  }
  void clear() { pages_.clear(); }
  // The status and original row of r, then none: one look-up for both.
  uint8_t take(size_t r, int32_t& orig) {
    size_t p = r >> kShift, i = r & (kPage - 1);
    orig = -1;
    if (p >= pages_.size()) return 0;
    Page& pg = pages_[p];
    if (pg.word) {
      uint32_t w = pg.word[i];
      pg.word[i] = 0;
      orig = static_cast<int32_t>(w & kOrigBits) - 1;
      return static_cast<uint8_t>(w >> 30);
    }
    if (!pg.st) return 0;
    uint8_t st = pg.st[i];
    pg.st[i] = 0;
    return st;
  }

private:
  struct Page {
    std::unique_ptr<uint8_t[]> st;     // until the page's first original
    std::unique_ptr<uint32_t[]> word;  // from then on
  };
  Page& page(size_t r) {
    size_t p = r >> kShift;
    if (p >= pages_.size()) pages_.resize(p + 1);
    return pages_[p];
  }
  std::vector<Page> pages_;
};

// Which cells of a row of original values hold an original. An edit keeps
// a field's original only when it first changes that field, so that editing
// one field of a row in a large data set reads none of the row's other
// cells: a cell not kept is the row's current value, unchanged since. Rows
// not marked here keep every cell (rows a packet loaded, and rows of data
// sets of more than 64 columns). In pages of 4,096 rows made when a row of
// the page is first marked; rows of original values gather at the end of
// storage, so a few pages serve any number of edits.
class SavedCells {
public:
  static constexpr uint64_t kAll = ~uint64_t{0};
  static constexpr int kShift = 12;
  static constexpr size_t kPage = size_t{1} << kShift;

  uint64_t get(size_t o) const {
    size_t p = o >> kShift;
    return p < pages_.size() && pages_[p] ? pages_[p][o & (kPage - 1)] : kAll;
  }
  bool has(size_t o, size_t c) const { return c >= 64 || (get(o) >> c) & 1; }
  void set(size_t o, uint64_t m) {
    size_t p = o >> kShift;
    if (p >= pages_.size()) {
      if (m == kAll) return;
      pages_.resize(p + 1);
    }
    if (!pages_[p]) {
      if (m == kAll) return;
      pages_[p].reset(new uint64_t[kPage]);
      std::fill(pages_[p].get(), pages_[p].get() + kPage, kAll);
    }
    pages_[p][o & (kPage - 1)] = m;
  }
  void add(size_t o, size_t c) {
    if (c < 64) set(o, get(o) | uint64_t{1} << c);
  }
  void clear() { pages_.clear(); }

private:
  std::vector<std::unique_ptr<uint64_t[]>> pages_;
};

class ChangeLog {
public:
  std::optional<LogEntry> get(int32_t r) const {
    auto row = static_cast<size_t>(r);
    uint8_t st = slots_.status(row);
    if (st == 0) return std::nullopt;
    return LogEntry{static_cast<TUpdateStatus>(st), slots_.orig(row)};
  }
  void set(int32_t r, LogEntry e) {
    auto row = static_cast<size_t>(r);
    if (slots_.status(row) == 0) {
      ++count_;
      list(r);
    }
    slots_.setStatus(row, static_cast<uint8_t>(e.status));
    slots_.setOrig(row, e.orig);
  }
  void erase(int32_t r) {
    auto row = static_cast<size_t>(r);
    if (slots_.status(row) == 0) return;
    slots_.setStatus(row, 0);
    slots_.setOrig(row, -1);
    --count_;
    // runs_ keeps the row until it is tidied: entries are told apart by their status.
    if (listed_ > 64 && listed_ > 2 * count_) tidy();
  }
  size_t size() const { return count_; }
  void clear() {
    // Pages stay for the next edits unless the log was large.
    if (listed_ > 65536) {
      slots_.clear();
    } else {
      forEachListed([&](int32_t r) {
        slots_.setStatus(static_cast<size_t>(r), 0);
        slots_.setOrig(static_cast<size_t>(r), -1);
      });
    }
    runs_.clear();
    listed_ = count_ = 0;
  }
  // Entries in row order.
  template <class F>
  void forEach(F f) const {
    if (count_ == 0) return;
    for (int32_t r : sortedRows())
      if (auto e = get(r)) f(r, *e);
  }
  // Every entry once, in no particular order, then an empty log.
  template <class F>
  void drain(F f) {
    forEachListed([&](int32_t r) {
      int32_t orig;
      uint8_t st = slots_.take(static_cast<size_t>(r), orig);
      if (st != 0) f(r, LogEntry{static_cast<TUpdateStatus>(st), orig});
    });
    if (listed_ > 65536) slots_.clear();
    runs_.clear();
    listed_ = count_ = 0;
  }

private:
  // Rows are listed in runs of consecutive rows: the rows a load or a series
  // of appends inserts take one run, not four bytes each.
  struct Run {
    int32_t first, count;
  };
  void list(int32_t r) {
    size_t n = runs_.size();
    if (n && runs_[n - 1].first + runs_[n - 1].count == r) ++runs_[n - 1].count;
    else runs_.push_back(Run{r, 1});
    ++listed_;
  }
  template <class F>
  void forEachListed(F f) const {
    for (size_t i = 0; i < runs_.size(); ++i) {
      Run run = runs_[i];
      for (int32_t r = run.first; r < run.first + run.count; ++r) f(r);
    }
  }
  std::vector<int32_t> sortedRows() const {
    std::vector<int32_t> rows;
    rows.reserve(listed_);
    forEachListed([&](int32_t r) { rows.push_back(r); });
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
  }
  void tidy() {
    auto rows = sortedRows();
    runs_.clear();
    listed_ = 0;
    for (int32_t r : rows)
      if (slots_.status(static_cast<size_t>(r)) != 0) list(r);
  }
  RowSlots slots_;
  Chunked<Run, 13> runs_;  // rows with an entry (and some without, after erase)
  size_t listed_ = 0;      // rows in runs_
  size_t count_ = 0;
};

}  // namespace data::detail
