#pragma once
// Field access: binding fields to columns, reading a field's value (stored,
// being edited, or calculated) and assigning one.
// Part of TClientDataSet::Impl (dataset_impl.h), which includes it.

#include "dataset_impl.h"

namespace data {

inline void TClientDataSet::Impl::reindexFields() {
  fieldCol.assign(fields.size(), -1);
  calcSlot.assign(fields.size(), -1);
  calcCount = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    fields[i]->index_ = static_cast<int>(i);
    fields[i]->col_ = -1;
    if (fields[i]->Calculated()) calcSlot[i] = calcCount++;
  }
}

inline int TClientDataSet::Impl::colIndex(const std::vector<TFieldDef>& defs, std::string_view name) const {
  for (size_t i = 0; i < defs.size(); ++i)
    if (rtl::SameText(defs[i].Name, name)) return static_cast<int>(i);
  return -1;
}

// Checks that the persistent fields find their columns in defs.
inline void TClientDataSet::Impl::checkBinding(const std::vector<TFieldDef>& defs) const {
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
inline void TClientDataSet::Impl::bindFields() {
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
        else {
          f->col_ = -1;
          retired.push_back(std::move(f));
        }
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
    if (!fields[i]->Calculated()) fields[i]->col_ = fieldCol[i] = colIndex(colDefs, fields[i]->FieldName());
  fieldDefs = colDefs;
}

inline TField* TClientDataSet::Impl::findField(std::string_view name) const {
  for (auto& f : fields)
    if (rtl::SameText(f->FieldName(), name)) return f.get();
  return nullptr;
}

inline TField& TClientDataSet::Impl::fieldByName(std::string_view name) const {
  TField* f = findField(name);
  if (!f) fail("Field '" + std::string(name) + "' not found");
  return *f;
}

inline void TClientDataSet::Impl::ensureCalc() {
  if (calcCount == 0 || calcValid) return;
  calcValid = true;
  calcBuf.assign(static_cast<size_t>(calcCount), Variant::Null());
  if (!ds.OnCalcFields || state == TDataSetState::Inactive || (view.empty() && !editing())) return;
  runCalc(&calcBuf);
}

inline void TClientDataSet::Impl::runCalc(std::vector<Variant>* target) {
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

inline Variant TClientDataSet::Impl::calcFor(int32_t row, int slot) {
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

inline Variant TClientDataSet::Impl::value(const TField& f) {
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
inline const Column* TClientDataSet::Impl::storedCell(const TField& f, size_t& row) const {
  int c = fieldCol[static_cast<size_t>(f.index_)];
  if (c < 0 || editing()) return nullptr;
  if (ctxRow >= 0) row = static_cast<size_t>(ctxRow);
  else if (state != TDataSetState::Inactive && !view.empty()) row = static_cast<size_t>(view[static_cast<size_t>(cur)]);
  else return nullptr;
  return &cols[static_cast<size_t>(c)];
}

inline bool TClientDataSet::Impl::isNull(const TField& f) {
  if (state == TDataSetState::Inactive) return true;
  int c = fieldCol[static_cast<size_t>(f.index_)];
  if (c >= 0 && ctxRow < 0 && !editing()) {
    if (view.empty()) return true;
    return cols[static_cast<size_t>(c)].isNull(static_cast<size_t>(curRow()));
  }
  return value(f).isNullOrEmpty();
}

inline Variant TClientDataSet::Impl::oldValue(const TField& f) {
  if (state == TDataSetState::Inactive || f.Calculated()) return Variant::Null();
  if (state == TDataSetState::Insert || view.empty()) return Variant::Null();
  int32_t r = curRow();
  int c = fieldCol[static_cast<size_t>(f.index_)];
  if (auto e = log.get(r)) {
    if (e->status == TUpdateStatus::Inserted) return Variant::Null();
    if (e->orig >= 0) return cols[static_cast<size_t>(c)].get(origCell(static_cast<size_t>(c), r, e->orig));
  }
  return cols[static_cast<size_t>(c)].get(static_cast<size_t>(r));
}

// The value converted to the field's type (Null stays Null).
inline Variant TClientDataSet::Impl::convert(const TField& f, const Variant& v) const {
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

inline void TClientDataSet::Impl::setValue(TField& f, const Variant& raw) {
  assign(f, [&] { return convert(f, raw); });
}

// A text for a string field, checked and cut to the field's size as
// convert does, with one copy of its bytes.
inline void TClientDataSet::Impl::setText(TField& f, std::string_view s) {
  assign(f, [&] { return Variant(fitText(f, s)); });
}

// The text as a string field keeps it: valid UTF-8, cut to the field's size.
inline std::string_view TClientDataSet::Impl::fitText(const TField& f, std::string_view s) {
  if (!detail::ValidUtf8(s)) throw rtl::EConvertError("Field '" + f.FieldName() + "': the text is not valid UTF-8");
  return rtl::Utf8Prefix(s, static_cast<size_t>(f.Size()));
}

template <class MakeValue>
inline void TClientDataSet::Impl::assign(TField& f, MakeValue make) {
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

}  // namespace data
