#pragma once
// The filter-text language of data sets: field names, string literals with
// doubled quotes, numbers in the settings' decimal format, dates as string
// literals in the short-date format, = <> < > <= >=, AND OR NOT, parentheses,
// IS NULL / IS NOT NULL, and the partial-compare rule for a trailing '*'.
// Parsing is done once per filter text; evaluation runs per row.
//
// Choices where the language could be read two ways:
// - only the settings' decimal separator makes a number: "1.5" is an error
//   under Brazilian Portuguese settings, where '.' separates thousands;
// - a comparison with a null value is false and NOT simply inverts it, so
//   NOT (F = 'x') accepts a null F; use IS [NOT] NULL to test nulls;
// - partial compare ('abc*') applies to = and <>, not to ordering operators;
// - a string field compared with an unquoted number, or fields of unrelated
//   types, is a type-mismatch error rather than a silent conversion.

#include <memory>
#include <string>
#include <string_view>

#include "dataset.h"
#include "platform/rtl/format.h"

namespace data {

// What the expression needs from the data set it filters.
class FilterSchema {
public:
  virtual ~FilterSchema() = default;
  // Field index for a name (case-insensitive), or -1 when unknown.
  virtual int fieldIndex(std::string_view name) const = 0;
  virtual TFieldType fieldType(int index) const = 0;
};

class FilterRow {
public:
  virtual ~FilterRow() = default;
  virtual Variant value(int index) const = 0;
  // A row that keeps its values as Variants can hand out a reference, which
  // spares a copy (and, for long strings, an allocation) per compared value.
  // nullptr means "ask value()".
  virtual const Variant* valueRef(int index) const { return nullptr; }
  // For rows that keep strings outside Variants (columns): the non-null string
  // value of a string field, as a view valid during the call to Evaluate.
  // false means "null or not held as a string: ask valueRef/value".
  virtual bool stringRef(int index, std::string_view& out) const { return false; }
};

class FilterExpression {
public:
  virtual ~FilterExpression() = default;
  // Throws EDatabaseError with a message naming the problem and its position
  // for a malformed text or an unknown field. An empty text gives nullptr.
  static std::unique_ptr<FilterExpression> Parse(std::string_view text, const FilterSchema& schema,
                                                 TFilterOptions options, const rtl::TFormatSettings& fs);
  virtual bool Evaluate(const FilterRow& row) const = 0;
};

}  // namespace data
