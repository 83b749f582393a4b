#pragma once
// Storage of the data set's rows: new rows, copies of original values and
// their reuse, and compaction of dead rows.
// Part of TClientDataSet::Impl (dataset_impl.h), which includes it.

#include "dataset_impl.h"

namespace data {

inline int32_t TClientDataSet::Impl::newRow(uint8_t st) {
  for (auto& c : cols) c.pushNull();
  rowState.push_back(st);
  return static_cast<int32_t>(rowState.size() - 1);
}

inline int32_t TClientDataSet::Impl::copyRow(int32_t from, uint8_t st) {
  for (auto& c : cols) c.pushCopy(static_cast<size_t>(from));
  rowState.push_back(st);
  return static_cast<int32_t>(rowState.size() - 1);
}

// A row for the original values of row from: one given back by an earlier
// merge when there is one, so that editing and merging in turn does not
// grow the storage.
inline int32_t TClientDataSet::Impl::origCopy(int32_t from) {
  if (spareOrig.empty()) return copyRow(from, RowOrig);
  int32_t o = spareOrig.back();
  spareOrig.pop_back();
  copyValues(from, o);
  rowState[static_cast<size_t>(o)] = RowOrig;
  return o;
}

inline void TClientDataSet::Impl::releaseOrig(int32_t o) {
  rowState[static_cast<size_t>(o)] = RowDead;
  spareOrig.push_back(o);
}

inline void TClientDataSet::Impl::copyValues(int32_t from, int32_t to) {
  for (auto& c : cols) c.copyCell(static_cast<size_t>(from), static_cast<size_t>(to));
}

inline bool TClientDataSet::Impl::sameRow(int32_t a, int32_t b) const {
  for (auto& c : cols)
    if (!c.sameCell(static_cast<size_t>(a), static_cast<size_t>(b))) return false;
  return true;
}

inline void TClientDataSet::Impl::resetStorage(const std::vector<TFieldDef>& defs) {
  colDefs = defs;
  cols.clear();
  for (auto& d : colDefs) {
    if (d.DataType == TFieldType::String && d.Size <= 0) d.Size = 20;
    cols.emplace_back(d.DataType);
  }
  rowState.clear();
  rowState.shrink_to_fit();
  spareOrig.clear();
  log.clear();
  view.clear();
  view.shrink_to_fit();
  order.clear();
  derived = false;
  hasStorage = true;
  ++generation;
}

// Drops dead rows and unreferenced text once they outnumber the live rows,
// so that long sessions of edits and merges do not grow the storage. Only
// with an empty change log (no original rows to keep).
inline void TClientDataSet::Impl::compactIfWorthIt() {
  if (log.size() != 0 || rowState.size() < 4096) return;
  // The natural order holds every live row (and maybe a few dead ones): a
  // cheap bound that spares a walk over all the rows on every merge.
  size_t bound = natural().size();
  if (rowState.size() - bound <= bound) return;
  size_t live = 0;
  for (uint8_t st : rowState) live += st == RowLive;
  if (rowState.size() - live <= live) return;
  std::vector<int32_t> keep, remap(rowState.size(), -1);
  keep.reserve(live);
  for (size_t r = 0; r < rowState.size(); ++r)
    if (rowState[r] == RowLive) {
      remap[r] = static_cast<int32_t>(keep.size());
      keep.push_back(static_cast<int32_t>(r));
    }
  for (auto& c : cols) c.compactTo(keep);
  rowState.assign(keep.size(), RowLive);
  spareOrig.clear();
  auto mapAll = [&](RowVector<int32_t>& v) {
    size_t k = 0;
    for (int32_t r : v)
      if (remap[static_cast<size_t>(r)] >= 0) v[k++] = remap[static_cast<size_t>(r)];
    v.resize(k);
  };
  mapAll(view);
  mapAll(order);
  log.clear();
  ++generation;
  calcValid = false;
}

}  // namespace data
