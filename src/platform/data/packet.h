#pragma once
// Data packets: the JSON encoding of a data set's contents or delta.
//
//   {"packet":"efet","version":1,"kind":"data"|"delta",
//    "fields":[{"name":"CDFILIAL","type":"string","size":4,"fixed":false,"required":true},...],
//    "rows":[ROW,...]}
//
// type is one of "string", "float", "datetime", "integer", "boolean". A ROW is
// a JSON array whose first element is its state:
//   [0, v1..vn]                  unmodified (data packets only)
//   [1, n1..nn, o1..on, "0110"]  modified: new values, original values, and one
//                                '0'/'1' per field telling which changed
//   [2, v1..vn]                  inserted
//   [3, o1..on]                  deleted: the original values
//   [4, [i,j..], n1..nn, oi,oj..] modified, compact: the fields that changed
//                                (0-based, increasing), the new values, and
//                                the originals of those fields only; every
//                                other field's original is its new value
// A value is null, a JSON string (string fields), a number (float, datetime as
// days since 30/12/1899, integer) or true/false. Floats are written as the
// shortest text that reads back to the same bits; NaN and infinities as the
// strings "NaN", "Infinity", "-Infinity". The data set writes modified rows
// in the compact form; PacketWriter writes the full one; both are read alike.
// A delta of 2 KiB of rows or more is written packed: "rows" gives way to
//   "zrows":"<base64 of the zstd frame of the rows array's text>"
// which reads back as the very same rows, so whoever reads the delta sees
// every value it would see unpacked (the server checks originals of fields
// that did not change, so none can be left out), in under half the bytes.
// The frame must declare its size, at most 256 times the packed one.
// A data packet holds every row with its pending change, so loading it
// restores the change log; a delta holds only the changes. Anything that does not match its own metadata (a wrong
// count of values, a value of the wrong type, an unknown state) raises
// EDatabaseError naming the row and the field.
//
// PacketWriter and PacketReader work without a data set, for code that only
// moves rows (the application server).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset.h"

namespace data {

enum class PacketKind { Data, Delta };

namespace detail {
struct WriterAccess;
}

class PacketWriter {
public:
  explicit PacketWriter(std::vector<TFieldDef> defs, PacketKind kind = PacketKind::Data);
  ~PacketWriter();
  PacketWriter(PacketWriter&&) noexcept;
  PacketWriter& operator=(PacketWriter&&) noexcept;

  const std::vector<TFieldDef>& FieldDefs() const;
  PacketKind Kind() const;
  size_t RowCount() const;
  // Hint for the size of the output, to avoid regrowing the buffer.
  void Reserve(size_t bytes);
  // A delta whose rows take at least this many bytes of text is written
  // packed (2 KiB unless set; 0 packs every delta, SIZE_MAX none).
  void PackFrom(size_t bytes);

  // Whole rows of variants, one value per field in the order of FieldDefs.
  // Empty and Null are both written as null; numbers go to float, datetime
  // and integer fields, texts to string fields; anything else is an error.
  void AddRow(const std::vector<Variant>& values);  // unmodified; not allowed in deltas
  void AddInserted(const std::vector<Variant>& values);
  void AddDeleted(const std::vector<Variant>& originalValues);
  void AddModified(const std::vector<Variant>& newValues, const std::vector<Variant>& originalValues);

  // Value by value, without variants: BeginRow, then one value per field (two
  // per field for Modified: the new values, then the originals), then EndRow.
  // Each value must suit its field's type.
  void BeginRow(TUpdateStatus status);
  void Null();
  void String(std::string_view text);
  void Float(double value);     // float and datetime fields
  void DateTime(TDateTime value);
  void Integer(int64_t value);  // integer fields (and float fields)
  void Boolean(bool value);
  void Value(const Variant& value);
  void EndRow();

  // The encoded packet. The writer is empty afterwards.
  rtl::DataPacket Finish();

private:
  friend struct detail::WriterAccess;
  struct State;
  std::unique_ptr<State> s_;
};

// Reads a packet row by row. The metadata is read by the constructor; rows are
// decoded one at a time by Next.
class PacketReader {
public:
  explicit PacketReader(const rtl::DataPacket& packet);
  ~PacketReader();
  PacketReader(const PacketReader&) = delete;
  PacketReader& operator=(const PacketReader&) = delete;

  PacketKind Kind() const;
  const std::vector<TFieldDef>& FieldDefs() const;
  // Position of a field (case-insensitive), or -1.
  int FieldIndex(std::string_view name) const;

  // Advances to the next row; false after the last. Throws EDatabaseError on
  // a row that does not match the metadata.
  bool Next();
  // 1-based number of the current row.
  size_t RowNumber() const;
  TUpdateStatus Status() const;
  // Current values: the new values of a modified row, the original values of
  // a deleted one. Floats come as doubles, dates as date variants.
  const std::vector<Variant>& Values() const;
  // Original values: of a modified or deleted row; Null for an inserted row;
  // the values themselves for an unmodified row.
  const std::vector<Variant>& OldValues() const;
  // Which fields changed: as written for a modified row, all for an inserted
  // row, none otherwise.
  const std::vector<bool>& Changed() const;

private:
  struct State;
  std::unique_ptr<State> s_;
};

// Text of a field type in packets ("string", "float", ...), and back
// (EDatabaseError on an unknown name).
std::string_view FieldTypeName(TFieldType type);
TFieldType FieldTypeFromName(std::string_view name);

}  // namespace data
