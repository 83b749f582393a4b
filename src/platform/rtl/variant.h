#pragma once
// Variant: the dynamically typed value of field values, remote-call arguments
// and result arrays. Empty (unassigned) and Null are distinct, as in the
// platform; conversions follow Object Pascal rules.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "datetime.h"

namespace rtl {

enum class VarType { Empty, Null, String, Integer, Double, Boolean, DateTime, Array, Packet };

// A data packet: the encoded contents or delta of a data set. Immutable and
// shared, so passing it around costs a reference count.
class DataPacket {
public:
  DataPacket() = default;
  explicit DataPacket(std::string bytes) : bytes_(std::make_shared<const std::string>(std::move(bytes))) {}
  // Bytes whose owner decides what becomes of them once the last copy of the
  // packet is gone (a writer that reuses large buffers).
  explicit DataPacket(std::shared_ptr<const std::string> bytes) : bytes_(std::move(bytes)) {}
  const std::string& bytes() const;
  bool empty() const { return !bytes_ || bytes_->empty(); }
  bool operator==(const DataPacket& other) const { return bytes() == other.bytes(); }

private:
  std::shared_ptr<const std::string> bytes_;
};

class Variant;
using VariantArray = std::vector<Variant>;

class Variant {
public:
  struct NullTag {};
  struct DateTag {
    TDateTime value;
  };

  Variant() = default;  // Empty
  Variant(NullTag) : v_(NullTag{}) {}
  Variant(const char* s) : v_(std::string(s)) {}
  Variant(std::string s) : v_(std::move(s)) {}
  Variant(std::string_view s) : v_(std::string(s)) {}
  Variant(int i) : v_(static_cast<int64_t>(i)) {}
  Variant(long i) : v_(static_cast<int64_t>(i)) {}
  Variant(long long i) : v_(static_cast<int64_t>(i)) {}
  Variant(double d) : v_(d) {}
  Variant(bool b) : v_(b) {}
  Variant(DateTag d) : v_(d) {}
  Variant(VariantArray a) : v_(std::make_shared<VariantArray>(std::move(a))) {}
  Variant(DataPacket p) : v_(std::move(p)) {}

  static Variant Null() { return Variant(NullTag{}); }
  static Variant Unassigned() { return Variant(); }
  static Variant FromDate(TDateTime d) { return Variant(DateTag{d}); }
  static Variant Array(std::initializer_list<Variant> items) { return Variant(VariantArray(items)); }

  VarType type() const { return static_cast<VarType>(v_.index()); }
  bool isEmpty() const { return type() == VarType::Empty; }
  bool isNull() const { return type() == VarType::Null; }
  // VarIsNull or VarIsEmpty: what a field reports as IsNull.
  bool isNullOrEmpty() const { return isEmpty() || isNull(); }
  bool isArray() const { return type() == VarType::Array; }
  bool isPacket() const { return type() == VarType::Packet; }
  bool isNumeric() const { return type() == VarType::Integer || type() == VarType::Double; }
  bool isString() const { return type() == VarType::String; }

  // VarToStr: Null and Empty give "". Numbers by FloatToStr, dates by DateTimeToStr,
  // booleans "True"/"False".
  std::string toString() const;
  // Numeric conversion: strings read with the format settings (EConvertError when
  // not a number); Empty gives 0; Null raises EConvertError, as the platform does.
  double toDouble() const;
  // Integer conversion rounds a double with banker's rounding.
  int64_t toInt() const;
  bool toBool() const;
  TDateTime toDateTime() const;

  // Direct access; throws EConvertError if the type differs.
  const std::string& asStringRef() const;
  const VariantArray& asArray() const;
  VariantArray& asArray();  // copy-on-write: detaches a shared array
  const DataPacket& asPacket() const;

  // Array helpers (VarArrayHighBound + 1, element access).
  size_t size() const;
  const Variant& operator[](size_t i) const;
  Variant& operator[](size_t i);

  // Strict equality: same kind of value and same value. Integer and double compare
  // numerically; Empty equals only Empty, Null only Null.
  bool operator==(const Variant& other) const;
  bool operator!=(const Variant& other) const { return !(*this == other); }

  // Human-readable form for logs and test failures.
  std::string debugString() const;

private:
  using Storage = std::variant<std::monostate, NullTag, std::string, int64_t, double, bool, DateTag,
                               std::shared_ptr<VariantArray>, DataPacket>;
  Storage v_;
  friend struct VariantAccess;
};

inline const Variant& NullVariant() {
  static const Variant n = Variant::Null();
  return n;
}

// VarArrayOf.
inline Variant VarArrayOf(std::initializer_list<Variant> items) { return Variant(VariantArray(items)); }

}  // namespace rtl
