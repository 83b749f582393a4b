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
// grow the storage. It keeps no original yet: writeEditBuf keeps each as its
// field first changes. Beyond 64 columns, which SavedCells does not track,
// it keeps them all at once.
inline int32_t TClientDataSet::Impl::origRow(int32_t from) {
  const bool lazy = cols.size() <= 64;
  int32_t o;
  if (spareOrig.empty()) {
    o = lazy ? newRow(RowOrig) : copyRow(from, RowOrig);
  } else {
    o = spareOrig.back();
    spareOrig.pop_back();
    if (!lazy) copyValues(from, o);
    rowState[static_cast<size_t>(o)] = RowOrig;
  }
  saved.set(static_cast<size_t>(o), lazy ? 0 : detail::SavedCells::kAll);
  return o;
}

inline void TClientDataSet::Impl::releaseOrig(int32_t o) {
  rowState[static_cast<size_t>(o)] = RowDead;
  spareOrig.push_back(o);
}

inline void TClientDataSet::Impl::copyValues(int32_t from, int32_t to) {
  for (auto& c : cols) c.copyCell(static_cast<size_t>(from), static_cast<size_t>(to));
}

// Whether row r holds again every original kept in row o.
inline bool TClientDataSet::Impl::unchanged(int32_t r, int32_t o) const {
  for (size_t c = 0; c < cols.size(); ++c)
    if (keptDiffers(c, r, o)) return false;
  return true;
}

// Puts the originals kept in row o back into row r (the others never left it).
inline void TClientDataSet::Impl::restoreOriginals(int32_t o, int32_t r) {
  for (size_t c = 0; c < cols.size(); ++c)
    if (saved.has(static_cast<size_t>(o), c)) cols[c].copyCell(static_cast<size_t>(o), static_cast<size_t>(r));
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
  saved.clear();
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
  saved.clear();
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
