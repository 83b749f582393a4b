#include "filter.h"

// Filter texts are parsed once into a flat tree whose literals are already
// converted to the type of the field they are compared with, so evaluating a
// row only reads values and compares them: no parsing, no conversion of the
// literal and no allocation (with FilterRow::valueRef or stringRef).
//
// Semantics worth knowing:
// - Numbers are written with the settings' decimal separator only ("1,5" under
//   Brazilian Portuguese settings). "1.5" is refused there, because '.' is the
//   thousands separator and guessing would silently filter on the wrong value.
// - A string literal compared with a date-time field is read with the short
//   date format (a time may follow); with a numeric field it is read as a number.
// - Comparisons are two-valued: a comparison involving a null value is false,
//   so NOT (F = 'x') is true for a null F. IS [NOT] NULL tests nulls.
// - A string literal ending in '*' compared with = (or <>) is a prefix test,
//   unless NoPartialCompare is set; then '*' is an ordinary character.
// - Strings compare byte for byte, without trimming; CaseInsensitive folds ASCII
//   and the accented Latin-1 letters.

#include "filter_tree.h"

#include "platform/rtl/exceptions.h"

namespace data::filtertree {

namespace {

// Case folding that keeps byte lengths: ASCII letters and the Latin-1 letters
// U+00C0..U+00DE (UTF-8 C3 80..C3 9E, except the multiplication sign).
inline unsigned char foldAt(std::string_view s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0x80 && c <= 0x9E && c != 0x97 && i > 0 && static_cast<unsigned char>(s[i - 1]) == 0xC3)
    return static_cast<unsigned char>(c + 0x20);
  return c;
}

}  // namespace

std::string fold(std::string_view s) {
  std::string out(s);
  for (size_t i = 0; i < s.size(); ++i) out[i] = static_cast<char>(foldAt(s, i));
  return out;
}

// b is already folded when foldedB; a is folded on the fly.
int compareStr(std::string_view a, std::string_view b, bool ci, bool foldedB) {
  if (!ci) return a.compare(b);
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = foldAt(a, i);
    unsigned char y = foldedB ? static_cast<unsigned char>(b[i]) : foldAt(b, i);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

namespace {

bool startsWith(std::string_view v, std::string_view prefix, bool ci) {
  if (v.size() < prefix.size()) return false;
  if (!ci) return v.compare(0, prefix.size(), prefix) == 0;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (foldAt(v, i) != static_cast<unsigned char>(prefix[i])) return false;
  return true;
}

}  // namespace

const Variant& Expr::fetch(const FilterRow& row, int index, Variant& tmp) {
  if (const Variant* p = row.valueRef(index)) return *p;
  tmp = row.value(index);
  return tmp;
}

bool Expr::numberOf(const Variant& v, Cat cat, double& out) const {
  switch (v.type()) {
    case rtl::VarType::Integer:
    case rtl::VarType::Double:
    case rtl::VarType::DateTime:
      out = v.toDouble();
      return true;
    case rtl::VarType::Boolean:
      out = v.toDouble();
      return true;
    case rtl::VarType::String:
      if (cat == Cat::Date)
        return rtl::TryStrToDate(v.asStringRef(), out, fs_) || rtl::TryStrToDateTime(v.asStringRef(), out, fs_);
      return rtl::TryStrToFloat(v.asStringRef(), out, fs_);
    default:
      return false;
  }
}

bool Expr::boolOf(const Variant& v, bool& out) const {
  try {
    out = v.toBool();
    return true;
  } catch (const rtl::EConvertError&) {
    return false;
  }
}

bool Expr::compareLit(const Node& n, const FilterRow& row) const {
  if (n.cat == Cat::Str) {
    std::string_view s;
    if (row.stringRef(n.field, s)) return compareText(n, s);
  }
  Variant tmp;
  const Variant& v = fetch(row, n.field, tmp);
  if (v.isNullOrEmpty()) return false;
  switch (n.cat) {
    case Cat::Str: {
      std::string text;
      std::string_view s;
      if (v.isString()) {
        s = v.asStringRef();
      } else {
        text = v.toString();  // a field holding a non-string value: rare
        s = text;
      }
      return compareText(n, s);
    }
    case Cat::Num:
    case Cat::Date: {
      double d;
      if (!numberOf(v, n.cat, d)) return false;
      return applyOp(n.op, cmpNum(d, n.num));
    }
    case Cat::Bool: {
      bool b;
      if (!boolOf(v, b)) return false;
      return applyOp(n.op, cmpNum(b ? 1 : 0, n.boolean ? 1 : 0));
    }
  }
  return false;
}

bool Expr::compareText(const Node& n, std::string_view s) const {
  if (n.partial) {
    bool match = startsWith(s, n.str, options_.CaseInsensitive);
    return n.op == Op::Eq ? match : !match;
  }
  return applyOp(n.op, compareStr(s, n.str, options_.CaseInsensitive, true));
}

bool Expr::compareFields(const Node& n, const FilterRow& row) const {
  Variant t1, t2;
  const Variant& a = fetch(row, n.field, t1);
  const Variant& b = fetch(row, n.field2, t2);
  if (a.isNullOrEmpty() || b.isNullOrEmpty()) return false;
  switch (n.cat) {
    case Cat::Str: {
      std::string sa = a.isString() ? std::string() : a.toString();
      std::string sb = b.isString() ? std::string() : b.toString();
      std::string_view va = a.isString() ? std::string_view(a.asStringRef()) : std::string_view(sa);
      std::string_view vb = b.isString() ? std::string_view(b.asStringRef()) : std::string_view(sb);
      return applyOp(n.op, compareStr(va, vb, options_.CaseInsensitive, false));
    }
    case Cat::Num:
    case Cat::Date: {
      double x, y;
      if (!numberOf(a, n.cat, x) || !numberOf(b, n.cat, y)) return false;
      return applyOp(n.op, cmpNum(x, y));
    }
    case Cat::Bool: {
      bool x, y;
      if (!boolOf(a, x) || !boolOf(b, y)) return false;
      return applyOp(n.op, cmpNum(x ? 1 : 0, y ? 1 : 0));
    }
  }
  return false;
}

bool Expr::eval(uint32_t index, const FilterRow& row) const {
  const Node& n = nodes_[index];
  switch (n.kind) {
    case Kind::And:
      for (uint32_t i = 0; i < n.count; ++i)
        if (!eval(children_[n.first + i], row)) return false;
      return true;
    case Kind::Or:
      for (uint32_t i = 0; i < n.count; ++i)
        if (eval(children_[n.first + i], row)) return true;
      return false;
    case Kind::Not:
      return !eval(children_[n.first], row);
    case Kind::Const:
      return n.value;
    case Kind::IsNull:
    case Kind::IsNotNull: {
      Variant tmp;
      bool null = fetch(row, n.field, tmp).isNullOrEmpty();
      return n.kind == Kind::IsNull ? null : !null;
    }
    case Kind::BoolField: {
      Variant tmp;
      const Variant& v = fetch(row, n.field, tmp);
      bool b;
      return !v.isNullOrEmpty() && boolOf(v, b) && b;
    }
    case Kind::CmpLit:
      return compareLit(n, row);
    case Kind::CmpFields:
      return compareFields(n, row);
  }
  return false;
}

}  // namespace data::filtertree
