#pragma once
// The data set's private parts, shared by the files of the engine: the Impl
// behind TClientDataSet (storage, view, states, editing, search, packets) and
// the small helpers it uses. Not for code outside src/platform/data.

#include <algorithm>
#include <cmath>
#include <optional>

#include "changelog.h"
#include "dataset.h"
#include "filter.h"
#include "packet.h"
#include "packet_internal.h"
#include "rowvector.h"
#include "platform/rtl/format.h"
#include "platform/rtl/mask.h"
#include "storage.h"

namespace data {

namespace detail {


enum Event { evUpdateState, evFieldChange, evRecordChange, evDataSetChange, evDataSetScroll, evLayoutChange, evUpdateRecord };

inline bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (static_cast<unsigned>(x - 'a') < 26u) x = static_cast<unsigned char>(x - 32);
    if (static_cast<unsigned>(y - 'a') < 26u) y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

inline std::vector<std::string> splitNames(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    std::string name = rtl::Trim(text.substr(start, end - start));
    if (!name.empty()) out.push_back(std::move(name));
    start = end + 1;
  }
  return out;
}

// Cuts a UTF-8 text to at most n characters.
inline std::string_view utf8Prefix(std::string_view s, size_t n) {
  if (s.size() <= n) return s;
  size_t chars = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (chars == n) return s.substr(0, i);
      ++chars;
    }
  }
  return s;
}

inline const char* typeText(TFieldType t) {
  switch (t) {
    case TFieldType::String: return "String";
    case TFieldType::Float: return "Float";
    case TFieldType::DateTime: return "DateTime";
    case TFieldType::Integer: return "Integer";
    case TFieldType::Boolean: return "Boolean";
  }
  return "?";
}

inline bool isAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}


}  // namespace detail

using detail::ChangeLog;
using detail::Column;
using detail::LogEntry;
using detail::RowDead;
using detail::RowDeleted;
using detail::RowLive;
using detail::RowOrig;
using detail::RowVector;
using rtl::EDatabaseError;
using detail::Event;
using detail::iequals;
using detail::isAscii;
using detail::splitNames;
using detail::typeText;
using detail::utf8Prefix;
using detail::evDataSetChange;
using detail::evDataSetScroll;
using detail::evFieldChange;
using detail::evLayoutChange;
using detail::evRecordChange;
using detail::evUpdateRecord;
using detail::evUpdateState;

// ====================================================================== Impl

struct TClientDataSet::Impl {
  TClientDataSet& ds;
  explicit Impl(TClientDataSet& d) : ds(d) {}

  // ---- fields
  std::vector<std::unique_ptr<TField>> fields;
  std::vector<std::unique_ptr<TField>> retired;  // dynamic fields of an earlier structure
  bool persistentData = false;
  std::vector<TFieldDef> fieldDefs;
  std::vector<int> fieldCol;   // per field: its column, -1 for calculated
  std::vector<int> calcSlot;   // per field: its calculated slot, -1 for data
  int calcCount = 0;

  // ---- storage
  std::vector<TFieldDef> colDefs;
  std::vector<Column> cols;
  RowVector<uint8_t> rowState;
  std::vector<int32_t> spareOrig;  // dead rows that held original values, for reuse
  ChangeLog log;
  bool hasStorage = false;
  uint32_t generation = 0;  // changes whenever row numbers do

  // ---- view: the rows the filter lets through, in index order
  RowVector<int32_t> view;
  RowVector<int32_t> order;  // natural order (live and deleted rows), kept while derived
  bool derived = false;        // view differs from the natural order
  int cur = 0;
  bool bof = true, eof = true;

  // ---- state
  TDataSetState state = TDataSetState::Inactive;
  int inCalc = 0;
  int inFilter = 0;
  std::vector<Variant> editBuf;  // per column
  bool modified = false;
  int32_t editRow = -1;
  int insPos = 0;
  int prevCur = 0;

  // ---- calculated fields
  std::vector<Variant> calcBuf;
  bool calcValid = false;
  int32_t ctxRow = -1;                  // reading another row (filters, lookups, grids)
  std::vector<Variant>* ctxCalc = nullptr;  // calculated values being computed or read

  // ---- filter
  std::string filterText;
  bool filtered = false;
  std::unique_ptr<FilterExpression> expr;

  // ---- indexes
  struct IndexDef {
    std::string name, fields;
    bool descending = false, caseInsensitive = false;
  };
  std::vector<IndexDef> indexes;
  std::string indexFieldNames, indexName;
  std::vector<int> sortCols;
  bool sortDesc = false, sortCI = false;

  // ---- controls
  std::vector<TDataSource*> sources;
  int disableCount = 0;
  TDataSetState disableState = TDataSetState::Inactive;
  Event enableEvent = evDataSetChange;

  // ================================================================ helpers
  std::string prefix() const { return ds.Name.empty() ? std::string() : ds.Name + ": "; }
  [[noreturn]] void fail(const std::string& what) const { throw EDatabaseError(prefix() + what); }
  void checkActive() const {
    if (state == TDataSetState::Inactive) fail("Cannot perform this operation on a closed dataset");
  }
  bool editing() const { return state == TDataSetState::Edit || state == TDataSetState::Insert; }
  void fire(const TDataSetNotifyEvent& e) {
    if (e) e(ds);
  }
  int32_t curRow() const { return view.empty() ? -1 : view[static_cast<size_t>(cur)]; }

  void dataEvent(Event ev, TField* field = nullptr, int info = 0) {
    if (disableCount > 0) {
      if ((ev == evUpdateState && state == TDataSetState::Inactive) || ev == evLayoutChange) enableEvent = evLayoutChange;
      return;
    }
    auto copy = sources;
    for (auto* s : copy)
      if (std::find(sources.begin(), sources.end(), s) != sources.end()) s->notify(ev, field, info);
  }
  void setState(TDataSetState s) {
    if (state == s) return;
    state = s;
    dataEvent(evUpdateState);
  }

  // ---- storage
  int32_t newRow(uint8_t st) {
    for (auto& c : cols) c.pushNull();
    rowState.push_back(st);
    return static_cast<int32_t>(rowState.size() - 1);
  }
  int32_t copyRow(int32_t from, uint8_t st) {
    for (auto& c : cols) c.pushCopy(static_cast<size_t>(from));
    rowState.push_back(st);
    return static_cast<int32_t>(rowState.size() - 1);
  }
  // A row for the original values of row from: one given back by an earlier
  // merge when there is one, so that editing and merging in turn does not
  // grow the storage.
  int32_t origCopy(int32_t from) {
    if (spareOrig.empty()) return copyRow(from, RowOrig);
    int32_t o = spareOrig.back();
    spareOrig.pop_back();
    copyValues(from, o);
    rowState[static_cast<size_t>(o)] = RowOrig;
    return o;
  }
  void releaseOrig(int32_t o) {
    rowState[static_cast<size_t>(o)] = RowDead;
    spareOrig.push_back(o);
  }
  void copyValues(int32_t from, int32_t to) {
    for (auto& c : cols) c.copyCell(static_cast<size_t>(from), static_cast<size_t>(to));
  }
  bool sameRow(int32_t a, int32_t b) const {
    for (auto& c : cols)
      if (!c.sameCell(static_cast<size_t>(a), static_cast<size_t>(b))) return false;
    return true;
  }
  void resetStorage(const std::vector<TFieldDef>& defs) {
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
  void compactIfWorthIt() {
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

  // ---- fields
  void reindexFields() {
    fieldCol.assign(fields.size(), -1);
    calcSlot.assign(fields.size(), -1);
    calcCount = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
      fields[i]->index_ = static_cast<int>(i);
      if (fields[i]->Calculated()) calcSlot[i] = calcCount++;
    }
  }
  int colIndex(const std::vector<TFieldDef>& defs, std::string_view name) const {
    for (size_t i = 0; i < defs.size(); ++i)
      if (iequals(defs[i].Name, name)) return static_cast<int>(i);
    return -1;
  }
  // Checks that the persistent fields find their columns in defs.
  void checkBinding(const std::vector<TFieldDef>& defs) const {
    if (!persistentData) return;
    for (auto& f : fields) {
      if (f->Calculated()) continue;
      int c = colIndex(defs, f->FieldName());
      if (c < 0) fail("Field '" + f->FieldName() + "' not found");
      if (defs[static_cast<size_t>(c)].DataType != f->DataType())
        fail("Type mismatch for field '" + f->FieldName() + "', expecting: " + typeText(f->DataType()) +
             " actual: " + typeText(defs[static_cast<size_t>(c)].DataType));
    }
  }
  // Binds the fields to the columns, creating dynamic fields when no persistent ones exist.
  void bindFields() {
    checkBinding(colDefs);
    if (!persistentData) {
      bool same = true;
      size_t k = 0;
      for (auto& f : fields) {
        if (f->Calculated()) continue;
        if (k >= colDefs.size() || f->FieldName() != colDefs[k].Name || f->DataType() != colDefs[k].DataType ||
            f->Size() != colDefs[k].Size || f->FixedChar() != colDefs[k].FixedChar)
          same = false;
        ++k;
      }
      if (k != colDefs.size()) same = false;
      if (!same) {
        std::vector<std::unique_ptr<TField>> calc;
        for (auto& f : fields) {
          if (f->Calculated()) calc.push_back(std::move(f));
          else retired.push_back(std::move(f));
        }
        fields.clear();
        for (auto& d : colDefs) {
          fields.push_back(std::make_unique<TField>(ds, d, TFieldKind::Data));
          fields.back()->Required = d.Required;
        }
        for (auto& c : calc) fields.push_back(std::move(c));
      }
    }
    reindexFields();
    for (size_t i = 0; i < fields.size(); ++i)
      if (!fields[i]->Calculated()) fieldCol[i] = colIndex(colDefs, fields[i]->FieldName());
    fieldDefs = colDefs;
  }
  TField* findField(std::string_view name) const {
    for (auto& f : fields)
      if (iequals(f->FieldName(), name)) return f.get();
    return nullptr;
  }
  TField& fieldByName(std::string_view name) const {
    TField* f = findField(name);
    if (!f) fail("Field '" + std::string(name) + "' not found");
    return *f;
  }

  // ---- values
  void ensureCalc() {
    if (calcCount == 0 || calcValid) return;
    calcValid = true;
    calcBuf.assign(static_cast<size_t>(calcCount), Variant::Null());
    if (!ds.OnCalcFields || state == TDataSetState::Inactive || (view.empty() && !editing())) return;
    runCalc(&calcBuf);
  }
  void runCalc(std::vector<Variant>* target) {
    auto savedCtx = ctxCalc;
    ctxCalc = target;
    ++inCalc;
    try {
      ds.OnCalcFields(ds);
    } catch (...) {
      --inCalc;
      ctxCalc = savedCtx;
      throw;
    }
    --inCalc;
    ctxCalc = savedCtx;
  }
  Variant calcFor(int32_t row, int slot) {
    std::vector<Variant> buf(static_cast<size_t>(calcCount), Variant::Null());
    if (ds.OnCalcFields) {
      int32_t saved = ctxRow;
      ctxRow = row;
      try {
        runCalc(&buf);
      } catch (...) {
        ctxRow = saved;
        throw;
      }
      ctxRow = saved;
    }
    return buf[static_cast<size_t>(slot)];
  }
  Variant value(const TField& f) {
    // A record filter runs while the data set opens: it reads its row.
    if (state == TDataSetState::Inactive && ctxRow < 0) return Variant::Null();
    int fi = f.index_;
    int slot = calcSlot[static_cast<size_t>(fi)];
    if (slot >= 0) {
      if (ctxCalc) return (*ctxCalc)[static_cast<size_t>(slot)];
      if (ctxRow >= 0) return calcFor(ctxRow, slot);
      ensureCalc();
      return calcBuf[static_cast<size_t>(slot)];
    }
    int c = fieldCol[static_cast<size_t>(fi)];
    if (ctxRow >= 0) return cols[static_cast<size_t>(c)].get(static_cast<size_t>(ctxRow));
    if (editing()) {
      // In edit, a cell not assigned yet (Empty) still reads the stored value.
      const Variant& cell = editBuf[static_cast<size_t>(c)];
      if (!cell.isEmpty() || editRow < 0) return cell;
      return cols[static_cast<size_t>(c)].get(static_cast<size_t>(editRow));
    }
    if (view.empty()) return Variant::Null();
    return cols[static_cast<size_t>(c)].get(static_cast<size_t>(curRow()));
  }
  // The stored cell a data field reads outside edit and insert: the current
  // row's, or the row a filter, lookup or grid is reading. Null otherwise,
  // and the caller takes the general way.
  const Column* storedCell(const TField& f, size_t& row) const {
    int c = fieldCol[static_cast<size_t>(f.index_)];
    if (c < 0 || editing()) return nullptr;
    if (ctxRow >= 0) row = static_cast<size_t>(ctxRow);
    else if (state != TDataSetState::Inactive && !view.empty()) row = static_cast<size_t>(view[static_cast<size_t>(cur)]);
    else return nullptr;
    return &cols[static_cast<size_t>(c)];
  }
  bool isNull(const TField& f) {
    if (state == TDataSetState::Inactive) return true;
    int c = fieldCol[static_cast<size_t>(f.index_)];
    if (c >= 0 && ctxRow < 0 && !editing()) {
      if (view.empty()) return true;
      return cols[static_cast<size_t>(c)].isNull(static_cast<size_t>(curRow()));
    }
    return value(f).isNullOrEmpty();
  }
  Variant oldValue(const TField& f) {
    if (state == TDataSetState::Inactive || f.Calculated()) return Variant::Null();
    if (state == TDataSetState::Insert || view.empty()) return Variant::Null();
    int32_t r = curRow();
    int c = fieldCol[static_cast<size_t>(f.index_)];
    if (auto e = log.get(r)) {
      if (e->status == TUpdateStatus::Inserted) return Variant::Null();
      if (e->orig >= 0) return cols[static_cast<size_t>(c)].get(static_cast<size_t>(e->orig));
    }
    return cols[static_cast<size_t>(c)].get(static_cast<size_t>(r));
  }

  // The value converted to the field's type (Null stays Null).
  Variant convert(const TField& f, const Variant& v) const {
    if (v.isNullOrEmpty()) return Variant::Null();
    switch (f.DataType()) {
      case TFieldType::String: {
        std::string s = v.toString();
        std::string_view cut = fitText(f, s);
        if (cut.size() != s.size()) s.resize(cut.size());
        return Variant(std::move(s));
      }
      case TFieldType::Float: return Variant(v.toDouble());
      case TFieldType::DateTime: return Variant::FromDate(v.toDateTime());
      case TFieldType::Integer: return Variant(static_cast<long long>(v.toInt()));
      case TFieldType::Boolean: return Variant(v.toBool());
    }
    return v;
  }

  void setValue(TField& f, const Variant& raw) { assign(f, [&] { return convert(f, raw); }); }
  // A text for a string field, checked and cut to the field's size as
  // convert does, with one copy of its bytes.
  void setText(TField& f, std::string_view s) {
    assign(f, [&] { return Variant(fitText(f, s)); });
  }
  // The text as a string field keeps it: valid UTF-8, cut to the field's size.
  static std::string_view fitText(const TField& f, std::string_view s) {
    if (!detail::ValidUtf8(s)) throw rtl::EConvertError("Field '" + f.FieldName() + "': the text is not valid UTF-8");
    return utf8Prefix(s, static_cast<size_t>(f.Size()));
  }
  template <class MakeValue>
  void assign(TField& f, MakeValue make) {
    int fi = f.index_;
    int slot = calcSlot[static_cast<size_t>(fi)];
    if (slot >= 0) {
      if (inCalc == 0 || !ctxCalc) fail("Field '" + f.FieldName() + "' cannot be modified");
      (*ctxCalc)[static_cast<size_t>(slot)] = make();
      return;
    }
    if (inCalc || inFilter) fail("Field '" + f.FieldName() + "' cannot be modified");
    if (!editing()) fail("Dataset not in edit or insert mode");
    Variant v = make();
    auto& cell = editBuf[static_cast<size_t>(fieldCol[static_cast<size_t>(fi)])];
    Variant old = std::move(cell);
    cell = std::move(v);
    if (f.OnValidate) {
      try {
        f.OnValidate(f);
      } catch (...) {
        cell = std::move(old);
        throw;
      }
    }
    modified = true;
    calcValid = false;
    if (f.OnChange) f.OnChange(f);
    dataEvent(evFieldChange, &f);
  }

  // ---- filter and order
  struct Schema : FilterSchema {
    const Impl& im;
    explicit Schema(const Impl& i) : im(i) {}
    int fieldIndex(std::string_view name) const override {
      TField* f = im.findField(name);
      return f && !f->Calculated() ? f->Index() : -1;
    }
    TFieldType fieldType(int index) const override { return im.fields[static_cast<size_t>(index)]->DataType(); }
  };
  struct RowAdapter : FilterRow {
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
  std::unique_ptr<FilterExpression> parseFilter(const std::string& text) const {
    if (text.empty()) return nullptr;
    Schema schema(*this);
    return FilterExpression::Parse(text, schema, ds.FilterOptions, rtl::FormatSettings());
  }
  bool filterActive() const { return filtered && (expr || ds.OnFilterRecord); }
  bool passes(int32_t r) {
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
  bool less(int32_t a, int32_t b) const {
    for (int c : sortCols) {
      int r = cols[static_cast<size_t>(c)].compare(static_cast<size_t>(a), static_cast<size_t>(b), sortCI);
      if (r) return sortDesc ? r > 0 : r < 0;
    }
    return a < b;
  }
  bool sorted() const { return !sortCols.empty(); }

  void resolveSort() {
    sortCols.clear();
    sortDesc = sortCI = false;
    std::string fieldsText;
    if (!indexName.empty()) {
      const IndexDef* def = nullptr;
      for (auto& ix : indexes)
        if (iequals(ix.name, indexName)) def = &ix;
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
  RowVector<int32_t>& natural() { return derived ? order : view; }

  void updateDerived() {
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
  void rebuildView() {
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
    if (sorted()) std::sort(view.begin(), view.end(), [this](int32_t a, int32_t b) { return less(a, b); });
  }
  void placeCursor(int32_t row) {
    cur = 0;
    if (row >= 0)
      for (size_t i = 0; i < view.size(); ++i)
        if (view[i] == row) {
          cur = static_cast<int>(i);
          break;
        }
    clampCursor();
  }
  void clampCursor() {
    if (cur >= static_cast<int>(view.size())) cur = static_cast<int>(view.size()) - 1;
    if (cur < 0) cur = 0;
  }
  // A row whose values changed at view position pos moves to where the index
  // puts it, or leaves the view when the filter no longer lets it through.
  void reposition(int32_t r, int pos) {
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
      at = static_cast<size_t>(std::lower_bound(view.begin(), view.end(), r, [this](int32_t a, int32_t b) { return less(a, b); }) - view.begin());
    else
      at = static_cast<size_t>(std::clamp(pos, 0, static_cast<int>(view.size())));
    view.insert(view.begin() + static_cast<std::ptrdiff_t>(at), r);
    cur = static_cast<int>(at);
  }
  // Brings back rows revived by CancelUpdates into the natural order, by row
  // number among the rows they were loaded with.
  void mergeRevived(std::vector<int32_t> revived) {
    auto& nat = natural();
    std::vector<uint8_t> present(rowState.size(), 0);
    for (int32_t r : nat) present[static_cast<size_t>(r)] = 1;
    revived.erase(std::remove_if(revived.begin(), revived.end(), [&](int32_t r) { return present[static_cast<size_t>(r)] != 0; }), revived.end());
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

  // ---- editing
  void updateRecord() { dataEvent(evUpdateRecord); }
  void loadEditBuf(int32_t) { editBuf.assign(cols.size(), Variant()); }
  void checkRequired() {
    for (auto& f : fields) {
      if (f->Calculated() || !f->Required) continue;
      if (f->IsNull())
        fail("Field '" + f->DisplayLabel() + "' must have a value");
    }
  }
  void writeEditBuf(int32_t r) {
    for (size_t c = 0; c < cols.size(); ++c)
      if (!editBuf[c].isEmpty() && !cols[c].equals(static_cast<size_t>(r), editBuf[c]))
        cols[c].set(static_cast<size_t>(r), editBuf[c]);
  }
  void internalPost() {
    if (state == TDataSetState::Edit) {
      int32_t r = editRow;
      bool differs = false;
      for (size_t c = 0; c < cols.size() && !differs; ++c)
        if (!editBuf[c].isEmpty() && !cols[c].equals(static_cast<size_t>(r), editBuf[c])) differs = true;
      if (differs) {
        auto e = log.get(r);
        if (!e && ds.LogChanges) {
          e = LogEntry{TUpdateStatus::Modified, origCopy(r)};
          log.set(r, *e);
        }
        writeEditBuf(r);
        if (e && e->status == TUpdateStatus::Modified && sameRow(r, e->orig)) {
          releaseOrig(e->orig);
          log.erase(r);
        }
      }
      reposition(r, cur);
    } else {
      int32_t r = newRow(RowLive);
      writeEditBuf(r);
      if (ds.LogChanges) log.set(r, LogEntry{TUpdateStatus::Inserted, -1});
      if (derived) {
        order.push_back(r);
        view.insert(view.begin() + std::clamp(insPos, 0, static_cast<int>(view.size())), r);
        reposition(r, std::clamp(insPos, 0, static_cast<int>(view.size()) - 1));
      } else {
        int at = std::clamp(insPos, 0, static_cast<int>(view.size()));
        view.insert(view.begin() + at, r);
        cur = at;
      }
    }
  }
  void endEdit() {
    editBuf.clear();
    modified = false;
    editRow = -1;
    calcValid = false;
  }
  void post() {
    checkActive();
    if (!editing()) fail("Dataset not in edit or insert mode");
    updateRecord();
    fire(ds.BeforePost);
    checkRequired();
    internalPost();
    endEdit();
    bof = eof = false;
    setState(TDataSetState::Browse);
    dataEvent(evDataSetChange);
    fire(ds.AfterPost);
  }
  void cancel() {
    if (!editing()) return;
    fire(ds.BeforeCancel);
    if (state == TDataSetState::Insert) {
      cur = prevCur;
      clampCursor();
    }
    endEdit();
    setState(TDataSetState::Browse);
    dataEvent(evDataSetChange);
    fire(ds.AfterCancel);
  }
  void checkBrowseMode() {
    checkActive();
    if (editing()) {
      updateRecord();
      if (modified) post();
      else cancel();
    }
  }
  void beginInsert(bool append) {
    checkBrowseMode();
    fire(ds.BeforeInsert);
    fire(ds.BeforeScroll);
    prevCur = cur;
    insPos = append ? static_cast<int>(view.size()) : (view.empty() ? 0 : cur);
    editBuf.assign(cols.size(), Variant::Null());
    editRow = -1;
    modified = false;
    calcValid = false;
    setState(TDataSetState::Insert);
    if (ds.OnNewRecord) {
      try {
        ds.OnNewRecord(ds);
      } catch (...) {
        endEdit();
        cur = prevCur;
        setState(TDataSetState::Browse);
        dataEvent(evDataSetChange);
        throw;
      }
    }
    modified = false;
    eof = bof = false;
    dataEvent(evDataSetChange);
    fire(ds.AfterInsert);
    fire(ds.AfterScroll);
  }
  void edit() {
    checkActive();
    if (editing()) return;
    if (view.empty()) return beginInsert(false);
    fire(ds.BeforeEdit);
    editRow = curRow();
    loadEditBuf(editRow);
    modified = false;
    calcValid = false;
    setState(TDataSetState::Edit);
    dataEvent(evRecordChange);
    fire(ds.AfterEdit);
  }
  void deleteRecord() {
    checkActive();
    if (state == TDataSetState::Insert) return cancel();
    if (view.empty()) fail("Cannot perform this operation on an empty dataset");
    fire(ds.BeforeDelete);
    fire(ds.BeforeScroll);
    int32_t r = curRow();
    auto e = log.get(r);
    if (e && e->status == TUpdateStatus::Inserted) {
      rowState[static_cast<size_t>(r)] = RowDead;
      log.erase(r);
    } else if (!ds.LogChanges) {
      if (e) {
        if (e->orig >= 0) releaseOrig(e->orig);
        log.erase(r);
      }
      rowState[static_cast<size_t>(r)] = RowDead;
    } else {
      log.set(r, LogEntry{TUpdateStatus::Deleted, e ? e->orig : -1});
      rowState[static_cast<size_t>(r)] = RowDeleted;
    }
    view.erase(view.begin() + cur);
    clampCursor();
    eof = view.empty() ? true : eof;
    bof = view.empty() ? true : bof;
    endEdit();
    setState(TDataSetState::Browse);
    dataEvent(evDataSetChange);
    fire(ds.AfterDelete);
    fire(ds.AfterScroll);
  }

  // ---- navigation
  void first() {
    checkBrowseMode();
    fire(ds.BeforeScroll);
    cur = 0;
    bof = true;
    eof = view.empty();
    calcValid = false;
    dataEvent(evDataSetChange);
    fire(ds.AfterScroll);
  }
  void last() {
    checkBrowseMode();
    fire(ds.BeforeScroll);
    cur = std::max(0, static_cast<int>(view.size()) - 1);
    eof = true;
    bof = view.empty();
    calcValid = false;
    dataEvent(evDataSetChange);
    fire(ds.AfterScroll);
  }
  int moveBy(int d) {
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
  void moveTo(int pos) {
    fire(ds.BeforeScroll);
    int moved = pos - cur;
    cur = pos;
    bof = eof = false;
    calcValid = false;
    dataEvent(evDataSetScroll, nullptr, moved);
    fire(ds.AfterScroll);
  }

  // ---- search
  struct Key {
    const TField* field = nullptr;
    int col = -1;  // -1 for a calculated field
    bool null = false;
    std::string text;  // folded when case-insensitive
    double number = 0;
    bool boolean = false;
  };
  std::vector<Key> makeKeys(std::string_view keyFields, const Variant& keyValues, const TLocateOptions& opt) const {
    auto names = splitNames(keyFields);
    if (names.empty()) fail("No key fields given");
    std::vector<Variant> values;
    if (keyValues.isArray()) values = keyValues.asArray();
    else values.push_back(keyValues);
    if (values.size() != names.size())
      fail(std::to_string(names.size()) + " key fields and " + std::to_string(values.size()) + " key values");
    std::vector<Key> keys;
    for (size_t i = 0; i < names.size(); ++i) {
      TField& f = fieldByName(names[i]);
      Key k;
      k.field = &f;
      k.col = fieldCol[static_cast<size_t>(f.Index())];
      const Variant& v = values[i];
      if (v.isNullOrEmpty()) {
        k.null = true;
      } else {
        switch (f.DataType()) {
          case TFieldType::String:
            k.text = v.toString();
            if (opt.CaseInsensitive) k.text = rtl::AnsiUpperCase(k.text);
            break;
          case TFieldType::DateTime: k.number = v.toDateTime(); break;
          case TFieldType::Boolean: k.boolean = v.toBool(); break;
          default: k.number = v.toDouble(); break;
        }
      }
      keys.push_back(std::move(k));
    }
    return keys;
  }
  static bool textMatches(std::string_view cell, const Key& k, const TLocateOptions& opt) {
    if (!opt.CaseInsensitive) {
      if (opt.PartialKey) return cell.substr(0, std::min(cell.size(), k.text.size())) == k.text && cell.size() >= k.text.size();
      return cell == k.text;
    }
    std::string up;
    if (isAscii(cell)) {
      up.assign(cell);
      for (auto& ch : up)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
    } else {
      up = rtl::AnsiUpperCase(cell);
    }
    if (opt.PartialKey) return up.size() >= k.text.size() && up.compare(0, k.text.size(), k.text) == 0;
    return up == k.text;
  }
  bool keyMatches(const Key& k, int32_t r, const TLocateOptions& opt) {
    if (k.col < 0) {  // calculated: computed for the row
      Variant v = calcFor(r, calcSlot[static_cast<size_t>(k.field->Index())]);
      if (v.isNullOrEmpty() || k.null) return v.isNullOrEmpty() && k.null;
      switch (k.field->DataType()) {
        case TFieldType::String: return textMatches(v.toString(), k, opt);
        case TFieldType::Boolean: return v.toBool() == k.boolean;
        default: return v.toDouble() == k.number;
      }
    }
    const Column& c = cols[static_cast<size_t>(k.col)];
    size_t row = static_cast<size_t>(r);
    if (c.isNull(row)) return k.null;
    if (k.null) return false;
    switch (c.type()) {
      case TFieldType::String: return textMatches(c.str(row), k, opt);
      case TFieldType::Boolean: return c.boolean(row) == k.boolean;
      case TFieldType::Integer: return static_cast<double>(c.integer(row)) == k.number;
      default: return c.num(row) == k.number;
    }
  }
  bool rowMatches(const std::vector<Key>& keys, int32_t r, const TLocateOptions& opt) {
    for (auto& k : keys)
      if (!keyMatches(k, r, opt)) return false;
    return true;
  }
  // The keys in the order of the index's leading fields, when the view's
  // index can answer the search: its first fields are the key fields, the
  // texts compare as the search compares them (case-sensitive, and a partial
  // key only on the last of them), so the matching rows lie together in the
  // view and the first of them is the one a scan finds.
  std::vector<const Key*> indexKeys(const std::vector<Key>& keys, const TLocateOptions& opt) const {
    std::vector<const Key*> out;
    if (!sorted() || keys.size() > sortCols.size() || opt.CaseInsensitive || sortCI) return out;
    for (size_t j = 0; j < keys.size(); ++j) {
      const Key* match = nullptr;
      for (auto& k : keys)
        if (k.col == sortCols[j]) match = &k;
      if (!match) return {};
      out.push_back(match);
    }
    for (size_t j = 0; j < keys.size(); ++j)
      for (size_t i = 0; i < j; ++i)
        if (out[i] == out[j]) return {};
    if (opt.PartialKey)
      for (size_t j = 0; j + 1 < out.size(); ++j)
        if (cols[static_cast<size_t>(out[j]->col)].type() == TFieldType::String) return {};
    return out;
  }
  // Order of row r against the keys, as the index orders rows.
  int compareToKeys(int32_t r, const std::vector<const Key*>& keys, bool partial) const {
    auto row = static_cast<size_t>(r);
    for (size_t j = 0; j < keys.size(); ++j) {
      const Key& k = *keys[j];
      const Column& c = cols[static_cast<size_t>(k.col)];
      int cmp;
      bool nullCell = c.isNull(row);
      if (nullCell || k.null) {
        cmp = nullCell == k.null ? 0 : (nullCell ? -1 : 1);
      } else {
        switch (c.type()) {
          case TFieldType::String: {
            std::string_view cell = c.str(row);
            if (partial && j + 1 == keys.size()) cell = cell.substr(0, k.text.size());
            int t = cell.compare(k.text);
            cmp = t < 0 ? -1 : (t > 0 ? 1 : 0);
            break;
          }
          case TFieldType::Boolean: cmp = c.boolean(row) == k.boolean ? 0 : (c.boolean(row) ? 1 : -1); break;
          case TFieldType::Integer: {
            double v = static_cast<double>(c.integer(row));
            cmp = v < k.number ? -1 : (k.number < v ? 1 : 0);
            break;
          }
          default: cmp = c.num(row) < k.number ? -1 : (k.number < c.num(row) ? 1 : 0); break;
        }
      }
      if (cmp) return sortDesc ? -cmp : cmp;
    }
    return 0;
  }
  int find(const std::vector<Key>& keys, const TLocateOptions& opt) {
    auto ix = indexKeys(keys, opt);
    if (!ix.empty()) {
      auto at = std::partition_point(view.begin(), view.end(),
                                     [&](int32_t r) { return compareToKeys(r, ix, opt.PartialKey) < 0; });
      for (; at != view.end() && compareToKeys(*at, ix, opt.PartialKey) == 0; ++at)
        if (rowMatches(keys, *at, opt)) return static_cast<int>(at - view.begin());
      return -1;
    }
    for (size_t i = 0; i < view.size(); ++i) {
      int32_t r = view[i];
      bool ok = true;
      for (auto& k : keys)
        if (!keyMatches(k, r, opt)) {
          ok = false;
          break;
        }
      if (ok) return static_cast<int>(i);
    }
    return -1;
  }

  // ---- opening
  void openInternal() {
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
  void closeInternal() {
    if (state == TDataSetState::Inactive) return;
    fire(ds.BeforeClose);
    endEdit();
    setState(TDataSetState::Inactive);
    fire(ds.AfterClose);
  }

  // ---- packets
  // Natural order of the rows to encode: live rows as they are shown without
  // filter or index, deleted rows where they were.
  std::vector<int32_t> packetOrder() {
    std::vector<int32_t> seq = natural().toVector();
    std::vector<int32_t> deleted;
    std::vector<uint8_t> present(rowState.size(), 0);
    for (int32_t r : seq) present[static_cast<size_t>(r)] = 1;
    log.forEach([&](int32_t r, LogEntry e) {
      if (e.status == TUpdateStatus::Deleted && !present[static_cast<size_t>(r)]) deleted.push_back(r);
    });
    if (deleted.empty()) {
      seq.erase(std::remove_if(seq.begin(), seq.end(), [&](int32_t r) { return rowState[static_cast<size_t>(r)] == RowDead; }), seq.end());
      return seq;
    }
    std::sort(deleted.begin(), deleted.end());
    std::vector<int32_t> out;
    out.reserve(seq.size() + deleted.size());
    size_t k = 0;
    for (int32_t r : seq) {
      if (rowState[static_cast<size_t>(r)] == RowDead) continue;
      while (k < deleted.size() && deleted[k] < r) out.push_back(deleted[k++]);
      out.push_back(r);
    }
    while (k < deleted.size()) out.push_back(deleted[k++]);
    return out;
  }
  void writeRow(std::string& out, int32_t r) const {
    for (auto& c : cols) c.appendJson(out, static_cast<size_t>(r));
  }
  void writeLogged(PacketWriter& w, int32_t r, const LogEntry* e) const {
    using detail::WriterAccess;
    TUpdateStatus st = e ? e->status : TUpdateStatus::Unmodified;
    if (st == TUpdateStatus::Modified) {
      // The compact form: the originals of the changed fields only, since
      // an unchanged field's original is its value.
      std::string& out = WriterAccess::beginCompactRow(w);
      out += ",[";
      bool any = false;
      auto row = static_cast<size_t>(r), orig = static_cast<size_t>(e->orig);
      for (size_t c = 0; c < cols.size(); ++c)
        if (!cols[c].sameCell(row, orig)) {
          if (any) out.push_back(',');
          out += std::to_string(c);
          any = true;
        }
      out.push_back(']');
      writeRow(out, r);
      for (auto& c : cols)
        if (!c.sameCell(row, orig)) c.appendJson(out, orig);
      WriterAccess::endRow(w);
      return;
    }
    std::string& out = WriterAccess::beginRow(w, st);
    if (st == TUpdateStatus::Deleted) {
      writeRow(out, e->orig >= 0 ? e->orig : r);
    } else {
      writeRow(out, r);
    }
    WriterAccess::endRow(w);
  }
  size_t estimateBytes(size_t rows) const {
    size_t perRow = 4;
    for (auto& c : cols) perRow += (c.type() == TFieldType::String ? 4 : 20);
    size_t text = 0;
    for (auto& c : cols) text += c.bytes();
    return rows * perRow + text + 256;
  }
  rtl::DataPacket encodeData() {
    PacketWriter w(colDefs, PacketKind::Data);
    auto seq = packetOrder();
    w.Reserve(estimateBytes(seq.size()));
    for (int32_t r : seq) {
      auto e = log.get(r);
      writeLogged(w, r, e ? &*e : nullptr);
    }
    return w.Finish();
  }
  rtl::DataPacket encodeDelta() const {
    PacketWriter w(colDefs, PacketKind::Delta);
    log.forEach([&](int32_t r, LogEntry e) { writeLogged(w, r, &e); });
    return w.Finish();
  }

  // Loads a packet into fresh storage of a scratch Impl-like holder.
  struct Loaded {
    std::vector<TFieldDef> defs;
    std::vector<Column> cols;
    RowVector<uint8_t> rowState;
    ChangeLog log;
    RowVector<int32_t> natural;
  };
  class LoadSink : public detail::RowSink {
  public:
    explicit LoadSink(Loaded& l) : l_(l) {}
    void beginRow(TUpdateStatus st) override {
      status_ = st;
      row_ = static_cast<int32_t>(l_.rowState.size());
      orig_ = -1;
      if (st == TUpdateStatus::Modified) {
        orig_ = row_ + 1;
        l_.rowState.push_back(RowLive);
        l_.rowState.push_back(RowOrig);
      } else {
        l_.rowState.push_back(st == TUpdateStatus::Deleted ? RowDeleted : RowLive);
      }
    }
    void null(int, int f) override { l_.cols[static_cast<size_t>(f)].pushNull(); }
    void str(int, int f, std::string_view t) override { l_.cols[static_cast<size_t>(f)].pushStr(t); }
    void num(int, int f, double d) override { l_.cols[static_cast<size_t>(f)].pushNum(d); }
    void integer(int, int f, int64_t v) override { l_.cols[static_cast<size_t>(f)].pushInt(v); }
    void boolean(int, int f, bool b) override { l_.cols[static_cast<size_t>(f)].pushBool(b); }
    void sameOriginal(int f) override { l_.cols[static_cast<size_t>(f)].pushCopy(static_cast<size_t>(row_)); }
    void endRow() override {
      if (status_ != TUpdateStatus::Unmodified) l_.log.set(row_, LogEntry{status_, orig_});
      if (status_ == TUpdateStatus::Modified && rowsEqual(row_, orig_)) {
        // A change put back by hand is no change.
        l_.rowState[static_cast<size_t>(orig_)] = RowDead;
        l_.log.erase(row_);
      }
      l_.natural.push_back(row_);
    }

  private:
    bool rowsEqual(int32_t a, int32_t b) const {
      for (auto& c : l_.cols)
        if (!c.sameCell(static_cast<size_t>(a), static_cast<size_t>(b))) return false;
      return true;
    }
    Loaded& l_;
    TUpdateStatus status_ = TUpdateStatus::Unmodified;
    int32_t row_ = -1, orig_ = -1;
  };
  static Loaded load(const rtl::DataPacket& packet) {
    detail::PacketParser parser(packet.bytes());
    if (parser.kind() != PacketKind::Data) throw EDatabaseError("Data packet: a delta cannot be loaded as contents");
    Loaded l;
    l.defs = parser.defs();
    for (auto& d : l.defs) l.cols.emplace_back(d.DataType);
    LoadSink sink(l);
    size_t rows = 0;
    while (parser.next(sink)) {
      // Size the storage once from a sample, instead of regrowing it.
      if (++rows == 2048) {
        double p = parser.progress();
        if (p > 0.0 && p < 0.9) {
          double f = 1.02 / p;
          for (auto& c : l.cols) c.reserveFactor(f);
          l.rowState.reserve(static_cast<size_t>(static_cast<double>(l.rowState.size()) * f));
          l.natural.reserve(static_cast<size_t>(static_cast<double>(l.natural.size()) * f));
        }
      }
    }
    for (auto& c : l.cols) c.shrink();
    l.rowState.shrink_to_fit();
    l.natural.shrink_to_fit();
    return l;
  }
  void install(Loaded&& l) {
    resetStorage(l.defs);
    cols = std::move(l.cols);
    rowState = std::move(l.rowState);
    log = std::move(l.log);
    view.clear();
    view.reserve(l.natural.size());
    for (int32_t r : l.natural)
      if (rowState[static_cast<size_t>(r)] == RowLive) view.push_back(r);
    // Deleted rows stay out of the natural order; CancelUpdates and Data put
    // them back by row number.
  }
};

}  // namespace data
