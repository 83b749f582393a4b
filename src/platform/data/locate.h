#pragma once
// Locate and Lookup: key values matched against the rows, through the
// view's index when it can answer.
// Part of TClientDataSet::Impl (dataset_impl.h), which includes it.

#include "dataset_impl.h"

namespace data {

struct TClientDataSet::Impl::Key {
  const TField* field = nullptr;
  int col = -1;  // -1 for a calculated field
  bool null = false;
  std::string text;  // folded when case-insensitive
  double number = 0;
  bool boolean = false;
};

inline auto TClientDataSet::Impl::makeKeys(std::string_view keyFields, const Variant& keyValues,
                                           const TLocateOptions& opt) const -> std::vector<Key> {
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

inline bool TClientDataSet::Impl::textMatches(std::string_view cell, const Key& k, const TLocateOptions& opt) {
  const std::string& key = k.text;
  // Lengths decide first where the compared text is the cell's own bytes.
  if (!opt.CaseInsensitive || isAscii(cell)) {
    if (opt.PartialKey ? cell.size() < key.size() : cell.size() != key.size()) return false;
    if (!opt.CaseInsensitive) return cell.compare(0, key.size(), key) == 0;
    for (size_t i = 0; i < key.size(); ++i) {  // upper-cased byte by byte: no copy
      char ch = cell[i];
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
      if (ch != key[i]) return false;
    }
    return true;
  }
  std::string up = rtl::AnsiUpperCase(cell);
  if (opt.PartialKey) return up.size() >= key.size() && up.compare(0, key.size(), key) == 0;
  return up == key;
}

inline bool TClientDataSet::Impl::keyMatches(const Key& k, int32_t r, const TLocateOptions& opt) {
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

inline bool TClientDataSet::Impl::rowMatches(const std::vector<Key>& keys, int32_t r, const TLocateOptions& opt) {
  for (auto& k : keys)
    if (!keyMatches(k, r, opt)) return false;
  return true;
}

// The keys in the order of the index's leading fields, when the view's
// index can answer the search: its first fields are the key fields, the
// texts compare as the search compares them (case-sensitive, and a partial
// key only on the last of them), so the matching rows lie together in the
// view and the first of them is the one a scan finds.
inline auto TClientDataSet::Impl::indexKeys(const std::vector<Key>& keys, const TLocateOptions& opt) const
    -> std::vector<const Key*> {
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
inline int TClientDataSet::Impl::compareToKeys(int32_t r, const std::vector<const Key*>& keys, bool partial) const {
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

inline int TClientDataSet::Impl::find(const std::vector<Key>& keys, const TLocateOptions& opt) {
  auto ix = indexKeys(keys, opt);
  if (!ix.empty()) {
    auto at = std::partition_point(view.begin(), view.end(),
                                   [&](int32_t r) { return compareToKeys(r, ix, opt.PartialKey) < 0; });
    for (; at != view.end() && compareToKeys(*at, ix, opt.PartialKey) == 0; ++at)
      if (rowMatches(keys, *at, opt)) return static_cast<int>(at - view.begin());
    return -1;
  }
  // The scan. A row is turned down by its first key that differs, so the
  // key that differs most often goes first: the one that matches fewest rows
  // of a sample. Calculated keys keep the order given (computing them runs
  // the application's code).
  std::vector<const Key*> order;
  for (auto& k : keys) order.push_back(&k);
  bool stored = std::all_of(keys.begin(), keys.end(), [](const Key& k) { return k.col >= 0; });
  constexpr size_t kSample = 64;
  if (stored && keys.size() > 1 && view.size() >= 4 * kSample) {
    std::vector<std::pair<int, size_t>> hits(keys.size());
    for (size_t j = 0; j < keys.size(); ++j) hits[j] = {0, j};
    for (size_t i = 0; i < kSample; ++i) {
      int32_t r = view[i * (view.size() / kSample)];
      for (size_t j = 0; j < keys.size(); ++j) hits[j].first += keyMatches(keys[j], r, opt);
    }
    std::stable_sort(hits.begin(), hits.end());
    for (size_t j = 0; j < keys.size(); ++j) order[j] = &keys[hits[j].second];
  }
  for (size_t i = 0; i < view.size(); ++i) {
    int32_t r = view[i];
    bool ok = true;
    for (const Key* k : order)
      if (!keyMatches(*k, r, opt)) {
        ok = false;
        break;
      }
    if (ok) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace data
