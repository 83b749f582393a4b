#pragma once
// Column storage of the data-set engine. Each field is one column: strings as
// (offset, length) into an append-only byte arena, numbers and dates as plain
// doubles or integers with a byte of null flag. A row is an index into every
// column. Arenas are never rewritten, so copying a row (the original values
// kept by the change log) copies references, not text.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dataset.h"
#include "packet.h"

namespace data::detail {

// A string cell is the offset of its text in the column's arena, where the
// text is preceded by its length (LEB128: one byte below 128).
constexpr uint32_t kNullOff = 0xFFFFFFFFu;

class Column {
public:
  explicit Column(TFieldType type = TFieldType::String) : type_(type) {}
  TFieldType type() const { return type_; }
  size_t size() const;
  void reserve(size_t rows);
  // Grows every buffer to factor times its present size (sizing ahead from a
  // sample of the rows), and gives back large unused room afterwards.
  void reserveFactor(double factor);
  void shrink();
  void clear();

  bool isNull(size_t r) const {
    switch (type_) {
      case TFieldType::String: return s_[r] == kNullOff;
      case TFieldType::Boolean: return b_[r] == 2;
      default: return nul_[r] != 0;
    }
  }
  std::string_view str(size_t r) const {
    const auto* p = reinterpret_cast<const unsigned char*>(arena_.data()) + s_[r];
    uint32_t len = *p++;
    if (len >= 0x80) {
      len &= 0x7F;
      int shift = 7;
      unsigned char b;
      do {
        b = *p++;
        len |= static_cast<uint32_t>(b & 0x7F) << shift;
        shift += 7;
      } while (b & 0x80);
    }
    return {reinterpret_cast<const char*>(p), len};
  }
  double num(size_t r) const { return d_[r]; }
  int64_t integer(size_t r) const { return i_[r]; }
  bool boolean(size_t r) const { return b_[r] == 1; }

  // Appending a row.
  void pushNull();
  void pushStr(std::string_view s);
  void pushNum(double d);
  void pushInt(int64_t i);
  void pushBool(bool b);
  void pushCopy(size_t from);  // a copy of row from
  void push(const Variant& v);  // v already of this column's type, or Null

  // Changing a row.
  void set(size_t r, const Variant& v);
  void copyCell(size_t from, size_t to);
  // Keeps only the given rows, in that order, with freshly packed text.
  void compactTo(const std::vector<int32_t>& rows);

  Variant get(size_t r) const;
  bool equals(size_t r, const Variant& v) const;
  bool sameCell(size_t a, size_t b) const;
  // Order of two rows: nulls first.
  int compare(size_t a, size_t b, bool caseInsensitive) const;
  void write(PacketWriter& w, size_t r) const;
  // Appends ",value" as packet JSON.
  void appendJson(std::string& out, size_t r) const;

  size_t bytes() const;

private:
  uint32_t store(std::string_view s);
  void growAll();
  void shrinkAll();
  TFieldType type_;
  std::vector<uint32_t> s_;
  std::vector<char> arena_;
  std::vector<double> d_;
  std::vector<int64_t> i_;
  std::vector<uint8_t> b_;
  std::vector<uint8_t> nul_;
};

}  // namespace data::detail
