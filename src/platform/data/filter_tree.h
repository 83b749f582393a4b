#pragma once
// The parsed form of a filter text, shared by the parser (filter_parser.cpp)
// and the evaluation (filter.cpp): a flat tree of nodes whose literals are
// already in the type of the field they are compared with. Internal to the
// data-set engine.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "filter.h"

namespace data::filtertree {

using rtl::Variant;

enum class Op : uint8_t { Eq, Ne, Lt, Gt, Le, Ge };
// How two values are compared: by the type of the field involved.
enum class Cat : uint8_t { Str, Num, Date, Bool };
enum class Kind : uint8_t { And, Or, Not, Const, IsNull, IsNotNull, BoolField, CmpLit, CmpFields };

struct Node {
  Kind kind = Kind::Const;
  Op op = Op::Eq;
  Cat cat = Cat::Str;
  bool value = false;    // Const
  bool partial = false;  // CmpLit on strings: prefix test
  int field = -1;
  int field2 = -1;
  uint32_t first = 0;  // And/Or/Not: children in Expr::children_
  uint32_t count = 0;
  // CmpLit literal, already in the field's type (folded when case-insensitive).
  std::string str;
  double num = 0.0;
  bool boolean = false;
};

// Case folding that keeps byte lengths (ASCII and the accented Latin-1
// letters), as CaseInsensitive compares.
std::string fold(std::string_view s);
// Compares as the options say; b is already folded when foldedB.
int compareStr(std::string_view a, std::string_view b, bool ci, bool foldedB);

inline bool applyOp(Op op, int c) {
  switch (op) {
    case Op::Eq:
      return c == 0;
    case Op::Ne:
      return c != 0;
    case Op::Lt:
      return c < 0;
    case Op::Gt:
      return c > 0;
    case Op::Le:
      return c <= 0;
    case Op::Ge:
      return c >= 0;
  }
  return false;
}

inline int cmpNum(double a, double b) { return a < b ? -1 : (a > b ? 1 : 0); }

class Expr final : public FilterExpression {
public:
  Expr(TFilterOptions options, const rtl::TFormatSettings& fs) : options_(options), fs_(fs) {}

  bool Evaluate(const FilterRow& row) const override { return eval(root_, row); }

  std::vector<Node> nodes_;
  std::vector<uint32_t> children_;
  uint32_t root_ = 0;
  TFilterOptions options_;
  rtl::TFormatSettings fs_;
private:
  static const Variant& fetch(const FilterRow& row, int index, Variant& tmp);
  // Reads a value as a number or date for comparison; false when it is not one.
  bool numberOf(const Variant& v, Cat cat, double& out) const;
  bool boolOf(const Variant& v, bool& out) const;
  bool compareLit(const Node& n, const FilterRow& row) const;
  bool compareText(const Node& n, std::string_view s) const;
  bool compareFields(const Node& n, const FilterRow& row) const;
  bool eval(uint32_t index, const FilterRow& row) const;
};

}  // namespace data::filtertree
