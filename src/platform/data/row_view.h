#pragma once
// The view: the rows the filter lets through in index order, the cursor that
// moves over them, and opening and closing.
// Part of TClientDataSet::Impl (dataset_impl.h), which includes it.

#include <bit>

#include "dataset_impl.h"

namespace data {

struct TClientDataSet::Impl::Schema : FilterSchema {
  const Impl& im;
  explicit Schema(const Impl& i) : im(i) {}
  int fieldIndex(std::string_view name) const override {
    TField* f = im.findField(name);
    return f && !f->Calculated() ? f->Index() : -1;
  }
  TFieldType fieldType(int index) const override { return im.fields[static_cast<size_t>(index)]->DataType(); }
};

struct TClientDataSet::Impl::RowAdapter : FilterRow {
  const Impl& im;
  int32_t row = -1;
  explicit RowAdapter(const Impl& i) : im(i) {}
  Variant value(int index) const override {
    return im.cols[static_cast<size_t>(im.fieldCol[static_cast<size_t>(index)])].get(static_cast<size_t>(row));
  }
  // Strings straight from the column's arena: no Variant, no copy per row.
  bool stringRef(int index, std::string_view& out) const override {
    const auto& c = im.cols[static_cast<size_t>(im.fieldCol[static_cast<size_t>(index)])];
    if (c.type() != TFieldType::String || c.isNull(static_cast<size_t>(row))) return false;
    out = c.str(static_cast<size_t>(row));
    return true;
  }
};

inline std::unique_ptr<FilterExpression> TClientDataSet::Impl::parseFilter(const std::string& text) const {
  if (text.empty()) return nullptr;
  Schema schema(*this);
  return FilterExpression::Parse(text, schema, ds.FilterOptions, rtl::FormatSettings());
}

inline bool TClientDataSet::Impl::filterActive() const { return filtered && (expr || ds.OnFilterRecord); }

inline bool TClientDataSet::Impl::passes(int32_t r) {
  if (!filtered) return true;
  if (expr) {
    RowAdapter row(*this);
    row.row = r;
    if (!expr->Evaluate(row)) return false;
  }
  if (ds.OnFilterRecord) {
    int32_t saved = ctxRow;
    ctxRow = r;
    ++inFilter;
    bool accept = true;
    try {
      ds.OnFilterRecord(ds, accept);
    } catch (...) {
      --inFilter;
      ctxRow = saved;
      throw;
    }
    --inFilter;
    ctxRow = saved;
    if (!accept) return false;
  }
  return true;
}

inline bool TClientDataSet::Impl::less(int32_t a, int32_t b) const {
  for (int c : sortCols) {
    int r = cols[static_cast<size_t>(c)].compare(static_cast<size_t>(a), static_cast<size_t>(b), sortCI);
    if (r) return sortDesc ? r > 0 : r < 0;
  }
  return a < b;
}

inline bool TClientDataSet::Impl::sorted() const { return !sortCols.empty(); }

inline void TClientDataSet::Impl::resolveSort() {
  sortCols.clear();
  sortDesc = sortCI = false;
  std::string fieldsText;
  if (!indexName.empty()) {
    const IndexDef* def = nullptr;
    for (auto& ix : indexes)
      if (rtl::SameText(ix.name, indexName)) def = &ix;
    if (!def) fail("Index '" + indexName + "' not found");
    fieldsText = def->fields;
    sortDesc = def->descending;
    sortCI = def->caseInsensitive;
  } else {
    fieldsText = indexFieldNames;
  }
  for (auto& n : splitNames(fieldsText)) {
    TField& f = fieldByName(n);
    if (f.Calculated()) fail("Field '" + f.FieldName() + "' cannot be used in an index");
    sortCols.push_back(fieldCol[static_cast<size_t>(f.Index())]);
  }
}

// Natural order of the rows (live and, where known, deleted), for rebuilding.
inline RowVector<int32_t>& TClientDataSet::Impl::natural() { return derived ? order : view; }

inline void TClientDataSet::Impl::updateDerived() {
  bool want = filtered || sorted();
  if (want && !derived) {
    order = view;
    derived = true;
  } else if (!want && derived) {
    RowVector<int32_t> v;
    v.reserve(order.size());
    for (int32_t r : order)
      if (rowState[static_cast<size_t>(r)] == RowLive) v.push_back(r);
    view = std::move(v);
    order.clear();
    order.shrink_to_fit();
    derived = false;
  }
}

inline void TClientDataSet::Impl::rebuildView() {
  updateDerived();
  if (!derived) return;
  view.clear();
  size_t kept = 0;  // rows gone for good leave the natural order as it is walked
  for (size_t i = 0; i < order.size(); ++i) {
    int32_t r = order[i];
    uint8_t st = rowState[static_cast<size_t>(r)];
    if (st == RowDead || st == RowOrig) continue;
    order[kept++] = r;
    if (st == RowLive && passes(r)) view.push_back(r);
  }
  order.resize(kept);
  if (sorted()) sortView();
}

// Sorts the view by a 64-bit key per row built ahead from the leading sort
// fields (a rank per code of a coded text, the first bytes of a
// case-sensitive text), comparing the rows themselves only on equal keys:
// most comparisons then read no column, which at a million rows in no
// particular order is most of the time a sort took.
inline void TClientDataSet::Impl::sortView() {
  struct Part {
    const Column* col;
    int shift, bytes;  // bytes 0: a rank
    uint8_t rank[256];
  };
  std::vector<Part> parts;
  int bits = 64;
  for (int c : sortCols) {
    const Column& col = cols[static_cast<size_t>(c)];
    if (col.type() != TFieldType::String) break;
    if (col.coded()) {
      // A rank takes only the bits its largest value needs, leaving the
      // more to the text after it: three branches take two bits, not eight.
      Part p{&col, 0, 0, {}};
      col.codeRanks(sortCI, p.rank);
      int width = std::max(1, static_cast<int>(std::bit_width(*std::max_element(p.rank, p.rank + 256))));
      if (width > bits) break;
      bits -= width;
      p.shift = bits;
      parts.push_back(p);
      continue;
    }
    if (sortCI || bits < 8) break;
    parts.push_back(Part{&col, bits % 8, bits / 8, {}});
    break;
  }
  auto byRow = [this](int32_t a, int32_t b) { return less(a, b); };
  if (parts.empty() || view.size() < 64) return std::sort(view.begin(), view.end(), byRow);
  struct Keyed {
    uint64_t key;
    int32_t row;
  };
  // Mapped in one call: filled at once, its pages faulted in one by one
  // took a third of sorting a million rows.
  RowVector<Keyed> keyed;
  keyed.reserveToGrow(view.size());
  keyed.resizeUninit(view.size());
  for (size_t i = 0; i < view.size(); ++i) {
    auto r = static_cast<size_t>(view[i]);
    uint64_t k = 0;
    for (const Part& p : parts)
      k |= (p.bytes ? p.col->prefix(r, p.bytes) : uint64_t{p.rank[p.col->codeAt(r)]}) << p.shift;
    keyed[i] = {sortDesc ? ~k : k, view[i]};
  }
  std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) {
    return a.key != b.key ? a.key < b.key : byRow(a.row, b.row);
  });
  for (size_t i = 0; i < view.size(); ++i) view[i] = keyed[i].row;
}

inline void TClientDataSet::Impl::placeCursor(int32_t row) {
  cur = 0;
  if (row >= 0)
    for (size_t i = 0; i < view.size(); ++i)
      if (view[i] == row) {
        cur = static_cast<int>(i);
        break;
      }
  clampCursor();
}

inline void TClientDataSet::Impl::clampCursor() {
  if (cur >= static_cast<int>(view.size())) cur = static_cast<int>(view.size()) - 1;
  if (cur < 0) cur = 0;
}

// A row whose values changed at view position pos moves to where the index
// puts it, or leaves the view when the filter no longer lets it through.
inline void TClientDataSet::Impl::reposition(int32_t r, int pos) {
  if (!derived) return;
  bool inView = pos >= 0 && pos < static_cast<int>(view.size()) && view[static_cast<size_t>(pos)] == r;
  if (inView) view.erase(view.begin() + pos);
  if (!passes(r)) {
    cur = pos < 0 ? cur : pos;
    clampCursor();
    return;
  }
  size_t at;
  if (sorted())
    at = static_cast<size_t>(
        std::lower_bound(view.begin(), view.end(), r, [this](int32_t a, int32_t b) { return less(a, b); }) -
        view.begin());
  else
    at = static_cast<size_t>(std::clamp(pos, 0, static_cast<int>(view.size())));
  view.insert(view.begin() + static_cast<std::ptrdiff_t>(at), r);
  cur = static_cast<int>(at);
}

// Brings back rows revived by CancelUpdates into the natural order, by row
// number among the rows they were loaded with.
inline void TClientDataSet::Impl::mergeRevived(std::vector<int32_t> revived) {
  auto& nat = natural();
  std::vector<uint8_t> present(rowState.size(), 0);
  for (int32_t r : nat) present[static_cast<size_t>(r)] = 1;
  revived.erase(
      std::remove_if(revived.begin(), revived.end(), [&](int32_t r) { return present[static_cast<size_t>(r)] != 0; }),
      revived.end());
  std::sort(revived.begin(), revived.end());
  RowVector<int32_t> out;
  out.reserve(nat.size() + revived.size());
  size_t k = 0;
  for (int32_t r : nat) {
    if (rowState[static_cast<size_t>(r)] == RowDead) continue;
    while (k < revived.size() && revived[k] < r) out.push_back(revived[k++]);
    out.push_back(r);
  }
  while (k < revived.size()) out.push_back(revived[k++]);
  nat = std::move(out);
}

inline void TClientDataSet::Impl::first() {
  checkBrowseMode();
  fire(ds.BeforeScroll);
  cur = 0;
  bof = true;
  eof = view.empty();
  calcValid = false;
  dataEvent(evDataSetChange);
  fire(ds.AfterScroll);
}

inline void TClientDataSet::Impl::last() {
  checkBrowseMode();
  fire(ds.BeforeScroll);
  cur = std::max(0, static_cast<int>(view.size()) - 1);
  eof = true;
  bof = view.empty();
  calcValid = false;
  dataEvent(evDataSetChange);
  fire(ds.AfterScroll);
}

inline int TClientDataSet::Impl::moveBy(int d) {
  checkBrowseMode();
  fire(ds.BeforeScroll);
  int moved = 0;
  if ((d > 0 && !eof) || (d < 0 && !bof)) {
    bof = eof = false;
    int n = static_cast<int>(view.size());
    if (n == 0) {
      bof = eof = true;
    } else {
      long long t = static_cast<long long>(cur) + d;
      if (t > n - 1) {
        t = n - 1;
        eof = true;
      } else if (t < 0) {
        t = 0;
        bof = true;
      }
      moved = static_cast<int>(t) - cur;
      cur = static_cast<int>(t);
    }
    calcValid = false;
    dataEvent(evDataSetScroll, nullptr, moved);
    fire(ds.AfterScroll);
  }
  return moved;
}

inline void TClientDataSet::Impl::moveTo(int pos) {
  fire(ds.BeforeScroll);
  int moved = pos - cur;
  cur = pos;
  bof = eof = false;
  calcValid = false;
  dataEvent(evDataSetScroll, nullptr, moved);
  fire(ds.AfterScroll);
}

inline void TClientDataSet::Impl::openInternal() {
  if (state != TDataSetState::Inactive) return;
  if (!hasStorage) fail("Missing data provider or data packet");
  fire(ds.BeforeOpen);
  bindFields();
  std::unique_ptr<FilterExpression> e;
  if (filtered) e = parseFilter(filterText);
  resolveSort();
  expr = std::move(e);
  rebuildView();
  cur = 0;
  bof = true;
  eof = view.empty();
  calcValid = false;
  endEdit();
  setState(TDataSetState::Browse);
  dataEvent(evDataSetChange);
  fire(ds.AfterOpen);
  if (!view.empty()) fire(ds.AfterScroll);
}

inline void TClientDataSet::Impl::closeInternal() {
  if (state == TDataSetState::Inactive) return;
  fire(ds.BeforeClose);
  endEdit();
  setState(TDataSetState::Inactive);
  fire(ds.AfterClose);
}

}  // namespace data
