#pragma once
// The change log of the data-set engine: which rows are modified, inserted or
// deleted since the last merge, and for modified and deleted rows the row of
// storage that holds their original values. It holds at most one entry per
// row, whatever the number of edits, and every operation on it costs in
// proportion to the changes, not to the rows: merging or encoding 10,000
// edits takes as long with a million rows as with a hundred thousand.

#include <algorithm>
#include <cstdint>
#include <optional>
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

// Row -> row of original values, open addressing with linear probing.
class OrigMap {
public:
  const int32_t* find(int32_t key) const {
    if (count_ == 0) return nullptr;
    for (size_t i = slot(key);; i = (i + 1) & mask_) {
      if (slots_[i].key == key) return &slots_[i].value;
      if (slots_[i].key < 0) return nullptr;
    }
  }
  void put(int32_t key, int32_t value) {
    if ((count_ + 1) * 2 > slots_.size()) rehash(std::max<size_t>(64, slots_.size() * 2));
    size_t i = slot(key);
    while (slots_[i].key >= 0 && slots_[i].key != key) i = (i + 1) & mask_;
    if (slots_[i].key < 0) ++count_;
    slots_[i] = {key, value};
  }
  void erase(int32_t key) {
    if (count_ == 0) return;
    size_t i = slot(key);
    while (slots_[i].key != key) {
      if (slots_[i].key < 0) return;
      i = (i + 1) & mask_;
    }
    // Backward shift: entries after the hole move up when their home allows.
    for (size_t j = i;;) {
      slots_[i].key = -1;
      for (;;) {
        j = (j + 1) & mask_;
        if (slots_[j].key < 0) {
          --count_;
          return;
        }
        size_t home = slot(slots_[j].key);
        bool between = i <= j ? (i < home && home <= j) : (i < home || home <= j);
        if (!between) break;
      }
      slots_[i] = slots_[j];
      i = j;
    }
  }
  void clear() {
    if (slots_.size() > 4096 && count_ * 8 < slots_.size()) {
      slots_.clear();
      slots_.shrink_to_fit();
      mask_ = 0;
    } else {
      for (auto& s : slots_) s.key = -1;
    }
    count_ = 0;
  }

private:
  struct Slot {
    int32_t key = -1;
    int32_t value = -1;
  };
  size_t slot(int32_t key) const {
    return static_cast<size_t>((static_cast<uint64_t>(static_cast<uint32_t>(key)) * 0x9E3779B97F4A7C15ULL) >> 32) & mask_;
  }
  void rehash(size_t n) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(n, Slot{});
    mask_ = n - 1;
    count_ = 0;
    for (auto& s : old)
      if (s.key >= 0) put(s.key, s.value);
  }
  std::vector<Slot> slots_;
  size_t mask_ = 0, count_ = 0;
};

class ChangeLog {
public:
  std::optional<LogEntry> get(int32_t r) const {
    auto row = static_cast<size_t>(r);
    if (row >= st_.size() || st_[row] == 0) return std::nullopt;
    const int32_t* o = orig_.find(r);
    return LogEntry{static_cast<TUpdateStatus>(st_[row]), o ? *o : -1};
  }
  void set(int32_t r, LogEntry e) {
    auto row = static_cast<size_t>(r);
    while (st_.size() <= row) st_.push_back(0);
    if (st_[row] == 0) {
      ++count_;
      rows_.push_back(r);
    }
    st_[row] = static_cast<uint8_t>(e.status);
    if (e.orig >= 0) orig_.put(r, e.orig);
    else orig_.erase(r);
  }
  void erase(int32_t r) {
    auto row = static_cast<size_t>(r);
    if (row >= st_.size() || st_[row] == 0) return;
    st_[row] = 0;
    orig_.erase(r);
    --count_;
    // rows_ keeps the row until it is tidied: entries are told apart by st_.
    if (rows_.size() > 64 && rows_.size() > 2 * count_) tidy();
  }
  size_t size() const { return count_; }
  void clear() {
    for (size_t i = 0; i < rows_.size(); ++i) st_[static_cast<size_t>(rows_[i])] = 0;
    rows_.clear();
    orig_.clear();
    count_ = 0;
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
    for (size_t i = 0; i < rows_.size(); ++i) {
      int32_t r = rows_[i];
      auto row = static_cast<size_t>(r);
      if (st_[row] == 0) continue;
      const int32_t* o = orig_.find(r);
      f(r, LogEntry{static_cast<TUpdateStatus>(st_[row]), o ? *o : -1});
      st_[row] = 0;
    }
    clear();
  }
  void shrink() { st_.shrink(); }

private:
  std::vector<int32_t> sortedRows() const {
    std::vector<int32_t> rows(rows_.size());
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = rows_[i];
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
  }
  void tidy() {
    auto rows = sortedRows();
    rows_.clear();
    for (int32_t r : rows)
      if (st_[static_cast<size_t>(r)] != 0) rows_.push_back(r);
  }
  Chunked<uint8_t, 14> st_;  // per row: 0, or the TUpdateStatus of its entry
  Chunked<int32_t, 14> rows_;  // rows with an entry (and some without, after erase)
  OrigMap orig_;
  size_t count_ = 0;
};

}  // namespace data::detail
