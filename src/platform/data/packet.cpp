#include "packet.h"

#include <simdjson.h>
#include <sodium.h>
#include <zstd.h>

#include <sys/mman.h>

#include <charconv>
#include <cmath>
#include <cstring>

#include "packet_internal.h"
#include "storage.h"
#include "platform/rtl/text.h"

namespace data {

using rtl::EDatabaseError;

namespace {

constexpr std::string_view kTypeNames[] = {"string", "float", "datetime", "integer", "boolean"};

// Deltas at least this long are packed; below it the frame and the base64
// padding cost more than they save.
constexpr size_t kPackFrom = 2048;
// Packed rows unpack to at most this many times their packed size: the
// bound keeps a forged frame from claiming gigabytes. Rows that pack
// tighter (a text of one letter repeated) are written unpacked.
constexpr unsigned long long kMaxUnpackRatio = 256;
// Scratch buffers larger than this are given back rather than kept.
constexpr size_t kKeepScratch = size_t{1} << 25;

// The text of a delta's rows is written here, not in a fresh buffer each
// time: once packed it is no longer needed.
thread_local std::string deltaScratch;

[[noreturn]] void packetError(const std::string& what) { throw EDatabaseError("Data packet: " + what); }

std::string fieldLabel(const std::vector<TFieldDef>& defs, int field) {
  return "field '" + defs[static_cast<size_t>(field)].Name + "' (" +
         std::string(kTypeNames[static_cast<int>(defs[static_cast<size_t>(field)].DataType)]) + ")";
}

}  // namespace

std::string_view FieldTypeName(TFieldType type) { return kTypeNames[static_cast<int>(type)]; }

TFieldType FieldTypeFromName(std::string_view name) {
  for (int i = 0; i < 5; ++i)
    if (kTypeNames[i] == name) return static_cast<TFieldType>(i);
  packetError("unknown field type '" + std::string(name) + "'");
}

namespace detail {

void AdviseHugePages(void* data, size_t bytes) {
#ifdef MADV_HUGEPAGE
  // A packet of many megabytes written once: faulting its pages in 2 MiB
  // at a time instead of 4 KiB spares most of the faults, a large share of
  // writing it on a virtual machine.
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (bytes < 2 * kHuge) return;
  auto begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  auto end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

bool ValidUtf8(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return simdjson::validate_utf8(text.data(), text.size());
  return true;
}

bool NeedsJsonEscape(std::string_view text) {
  // Eight bytes at a time, by the borrow a subtraction leaves in a byte's
  // top bit: below 0x20, or zero once xored with '"' or '\\'. ~w drops the
  // bytes of 0x80 and up (UTF-8 sequences); xoring with '"' or '\\' leaves
  // the top bit as it was, so ~w serves all three words.
  constexpr uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
  const char* p = text.data();
  size_t n = text.size();
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    uint64_t quote = w ^ (kOnes * '"'), slash = w ^ (kOnes * '\\');
    uint64_t hits = ((w - kOnes * 0x20) | (quote - kOnes) | (slash - kOnes)) & ~w & kHigh;
    if (hits) return true;
  }
  for (; n; ++p, --n) {
    auto c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == '"' || c == '\\') return true;
  }
  return false;
}

void AppendJsonString(std::string& out, std::string_view text) {
  static const char hex[] = "0123456789abcdef";
  out.push_back('"');
  if (!NeedsJsonEscape(text)) {
    out.append(text);
    out.push_back('"');
    return;
  }
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + start, i - start);
    start = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        out += "\\u00";
        out.push_back(hex[c >> 4]);
        out.push_back(hex[c & 15]);
    }
  }
  out.append(text.data() + start, text.size() - start);
  out.push_back('"');
}

namespace {
// Quantities and amounts have a few decimals. Such a value is k / 10^4 for a
// whole k, and then the digits of k are its shortest text that reads back
// exactly: the decimal k / 10^4 reads back as the division k / 10000.0,
// which is the value; and below 1e11 neighbouring doubles lie less than
// 10^-4 apart, so no text with fewer decimals reads back as the same value. Writing k
// costs a fraction of the general shortest-text search. Below 0.01 the
// general search may choose the exponent form, so those values take it.
char* WriteFewDecimals(char* p, double value) {
  double a = std::fabs(value);
  if (!(a >= 0.01 && a < 1e11)) return nullptr;
  double k = std::nearbyint(value * 10000.0);
  if (k / 10000.0 != value) return nullptr;
  auto scaled = static_cast<uint64_t>(std::fabs(k));
  if (value < 0) *p++ = '-';
  p = std::to_chars(p, p + 20, scaled / 10000).ptr;
  auto frac = static_cast<unsigned>(scaled % 10000);  // not 0: whole numbers are written before
  *p++ = '.';
  for (unsigned div = 1000; frac; div /= 10) {
    *p++ = static_cast<char>('0' + frac / div);
    frac %= div;
  }
  return p;
}
}  // namespace

char* WriteJsonDouble(char* p, double value) {
  auto put = [&p](std::string_view s) {
    std::memcpy(p, s.data(), s.size());
    return p + s.size();
  };
  if (std::isnan(value)) return put("\"NaN\"");
  if (std::isinf(value)) return put(value > 0 ? "\"Infinity\"" : "\"-Infinity\"");
  // Whole numbers (headcounts, dates) are most values; their shortest text is their digits.
  if (value >= -9e15 && value <= 9e15 && value == static_cast<double>(static_cast<int64_t>(value)) &&
      !(value == 0.0 && std::signbit(value)))
    return std::to_chars(p, p + kJsonDoubleMax, static_cast<int64_t>(value)).ptr;
  // Negative zero: a plain "-0" would read back as the integer 0.
  if (value == 0.0) return put("-0.0");
  if (char* e = WriteFewDecimals(p, value)) return e;
  // Large whole numbers in exponent form: as plain digits they would read back
  // as integers too big for 64 bits.
  return (std::fabs(value) >= 1e15 ? std::to_chars(p, p + kJsonDoubleMax, value, std::chars_format::scientific)
                                   : std::to_chars(p, p + kJsonDoubleMax, value))
      .ptr;
}

void AppendJsonDouble(std::string& out, double value) {
  char buf[kJsonDoubleMax];
  out.append(buf, WriteJsonDouble(buf, value));
}

}  // namespace detail

// ---------------------------------------------------------------- writer

struct PacketWriter::State {
  std::vector<TFieldDef> defs;
  PacketKind kind;
  std::string out;
  size_t rows = 0;
  bool inRow = false;
  TUpdateStatus status = TUpdateStatus::Unmodified;
  size_t expected = 0;
  size_t index = 0;
  std::vector<std::pair<size_t, size_t>> spans;  // text of each value, modified rows only
  size_t rowStart = 0;
  size_t rowsKey = 0;  // where "rows": starts
  size_t packFrom = kPackFrom;

  // A refused value drops the whole row, so the writer stays usable.
  [[noreturn]] void rowError(const std::string& what) {
    if (inRow) {
      out.resize(rowStart);
      inRow = false;
    }
    packetError("row " + std::to_string(rows + 1) + ": " + what);
  }
  int nextField(const char* what) {
    if (!inRow) packetError("a value written outside a row");
    if (index >= expected)
      rowError("too many values (" + std::to_string(expected) + " expected)");
    return static_cast<int>(index % defs.size());
  }
  void sep() {
    out.push_back(',');
    if (status == TUpdateStatus::Modified) spans.emplace_back(out.size(), 0);
  }
  void done() {
    if (status == TUpdateStatus::Modified) spans.back().second = out.size() - spans.back().first;
    ++index;
  }
  [[noreturn]] void typeError(int f, const char* what) {
    rowError(fieldLabel(defs, f) + " cannot hold " + what);
  }
};

PacketWriter::PacketWriter(std::vector<TFieldDef> defs, PacketKind kind) : s_(std::make_unique<State>()) {
  s_->defs = std::move(defs);
  s_->kind = kind;
  if (s_->defs.empty()) packetError("no fields");
  auto& o = s_->out;
  if (kind == PacketKind::Delta) {
    o.swap(deltaScratch);
    o.clear();
  }
  o.reserve(256 + 64 * s_->defs.size());
  o += R"({"packet":"efet","version":1,"kind":")";
  o += kind == PacketKind::Data ? "data" : "delta";
  o += R"(","fields":[)";
  for (size_t i = 0; i < s_->defs.size(); ++i) {
    auto& d = s_->defs[i];
    if (d.DataType == TFieldType::String && d.Size <= 0) d.Size = 20;
    if (d.Name.empty()) packetError("a field without a name");
    if (i) o.push_back(',');
    o += R"({"name":)";
    detail::AppendJsonString(o, d.Name);
    o += R"(,"type":")";
    o += FieldTypeName(d.DataType);
    o += '"';
    if (d.DataType == TFieldType::String) {
      o += R"(,"size":)";
      o += std::to_string(d.Size);
      if (d.FixedChar) o += R"(,"fixed":true)";
    }
    if (d.Required) o += R"(,"required":true)";
    o.push_back('}');
  }
  o += "],";
  s_->rowsKey = o.size();
  o += R"("rows":[)";
}

PacketWriter::~PacketWriter() = default;
PacketWriter::PacketWriter(PacketWriter&&) noexcept = default;
PacketWriter& PacketWriter::operator=(PacketWriter&&) noexcept = default;

const std::vector<TFieldDef>& PacketWriter::FieldDefs() const { return s_->defs; }
PacketKind PacketWriter::Kind() const { return s_->kind; }
size_t PacketWriter::RowCount() const { return s_->rows; }
void PacketWriter::PackFrom(size_t bytes) { s_->packFrom = bytes; }
void PacketWriter::Reserve(size_t bytes) {
  auto& out = s_->out;
  std::string spare;
  if (detail::takeSpareText(bytes + simdjson::SIMDJSON_PADDING, spare)) {
    spare.assign(out);  // the header written so far
    out.swap(spare);
    return;
  }
  out.reserve(bytes + simdjson::SIMDJSON_PADDING);
  detail::AdviseHugePages(out.data(), out.capacity());
}

void PacketWriter::BeginRow(TUpdateStatus status) {
  auto& s = *s_;
  if (s.inRow) s.rowError("the previous row was not ended");
  if (status == TUpdateStatus::Unmodified && s.kind == PacketKind::Delta)
    s.rowError("a delta holds only changed rows");
  s.inRow = true;
  s.status = status;
  s.index = 0;
  s.expected = s.defs.size() * (status == TUpdateStatus::Modified ? 2 : 1);
  s.spans.clear();
  s.rowStart = s.out.size();
  if (s.rows) s.out.push_back(',');
  s.out.push_back('[');
  s.out.push_back(static_cast<char>('0' + static_cast<int>(status)));
}

void PacketWriter::Null() {
  s_->nextField("null");
  s_->sep();
  s_->out += "null";
  s_->done();
}

void PacketWriter::String(std::string_view text) {
  auto& s = *s_;
  int f = s.nextField("string");
  if (s.defs[f].DataType != TFieldType::String) s.typeError(f, "a text");
  if (!detail::ValidUtf8(text)) s.rowError(fieldLabel(s.defs, f) + ": the text is not valid UTF-8");
  s.sep();
  detail::AppendJsonString(s.out, text);
  s.done();
}

void PacketWriter::Float(double value) {
  auto& s = *s_;
  int f = s.nextField("number");
  auto t = s.defs[f].DataType;
  if (t == TFieldType::Integer) {
    if (!(std::nearbyint(value) == value && std::fabs(value) < 9.2e18)) s.typeError(f, "a fractional number");
    s.sep();
    s.out += std::to_string(static_cast<int64_t>(value));
    s.done();
    return;
  }
  if (t != TFieldType::Float && t != TFieldType::DateTime) s.typeError(f, "a number");
  s.sep();
  detail::AppendJsonDouble(s.out, value);
  s.done();
}

void PacketWriter::DateTime(TDateTime value) { Float(value); }

void PacketWriter::Integer(int64_t value) {
  auto& s = *s_;
  int f = s.nextField("integer");
  auto t = s.defs[f].DataType;
  if (t == TFieldType::Float || t == TFieldType::DateTime) {
    s.sep();
    detail::AppendJsonDouble(s.out, static_cast<double>(value));
    s.done();
    return;
  }
  if (t != TFieldType::Integer) s.typeError(f, "a number");
  s.sep();
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  s.out.append(buf, r.ptr);
  s.done();
}

void PacketWriter::Boolean(bool value) {
  auto& s = *s_;
  int f = s.nextField("boolean");
  if (s.defs[f].DataType != TFieldType::Boolean) s.typeError(f, "a boolean");
  s.sep();
  s.out += value ? "true" : "false";
  s.done();
}

void PacketWriter::Value(const Variant& v) {
  switch (v.type()) {
    case rtl::VarType::Empty:
    case rtl::VarType::Null: Null(); return;
    case rtl::VarType::String: String(v.asStringRef()); return;
    case rtl::VarType::Integer: Integer(v.toInt()); return;
    case rtl::VarType::Double:
    case rtl::VarType::DateTime: Float(v.toDouble()); return;
    case rtl::VarType::Boolean: Boolean(v.toBool()); return;
    default: {
      int f = s_->nextField("value");
      s_->typeError(f, "an array or a packet");
    }
  }
}

void PacketWriter::EndRow() {
  auto& s = *s_;
  if (!s.inRow) packetError("EndRow without BeginRow");
  if (s.index != s.expected)
    s.rowError(std::to_string(s.index) + " values written, " + std::to_string(s.expected) + " expected");
  if (s.status == TUpdateStatus::Modified) {
    size_t n = s.defs.size();
    s.out += ",\"";
    for (size_t i = 0; i < n; ++i) {
      auto a = s.spans[i], b = s.spans[n + i];
      bool same = a.second == b.second && std::memcmp(s.out.data() + a.first, s.out.data() + b.first, a.second) == 0;
      s.out.push_back(same ? '0' : '1');
    }
    s.out.push_back('"');
  }
  s.out.push_back(']');
  s.inRow = false;
  ++s.rows;
}

std::string& detail::WriterAccess::beginRow(PacketWriter& w, TUpdateStatus status) {
  auto& s = *w.s_;
  if (s.inRow) s.rowError("the previous row was not ended");
  if (s.rows) s.out.push_back(',');
  s.out.push_back('[');
  s.out.push_back(static_cast<char>('0' + static_cast<int>(status)));
  return s.out;
}

std::string& detail::WriterAccess::beginCompactRow(PacketWriter& w) {
  auto& s = *w.s_;
  if (s.inRow) s.rowError("the previous row was not ended");
  if (s.rows) s.out.push_back(',');
  s.out += "[4";
  return s.out;
}

void detail::WriterAccess::endRow(PacketWriter& w) {
  w.s_->out.push_back(']');
  ++w.s_->rows;
}

namespace {
void addRow(PacketWriter& w, TUpdateStatus st, const std::vector<Variant>& a, const std::vector<Variant>* b) {
  size_t n = w.FieldDefs().size();
  if (a.size() != n || (b && b->size() != n))
    packetError("row " + std::to_string(w.RowCount() + 1) + ": " +
                std::to_string(b && b->size() != n ? b->size() : a.size()) + " values for " + std::to_string(n) +
                " fields");
  w.BeginRow(st);
  for (auto& v : a) w.Value(v);
  if (b)
    for (auto& v : *b) w.Value(v);
  w.EndRow();
}
}  // namespace

void PacketWriter::AddRow(const std::vector<Variant>& values) { addRow(*this, TUpdateStatus::Unmodified, values, nullptr); }
void PacketWriter::AddInserted(const std::vector<Variant>& values) { addRow(*this, TUpdateStatus::Inserted, values, nullptr); }
void PacketWriter::AddDeleted(const std::vector<Variant>& values) { addRow(*this, TUpdateStatus::Deleted, values, nullptr); }
void PacketWriter::AddModified(const std::vector<Variant>& newValues, const std::vector<Variant>& originalValues) {
  addRow(*this, TUpdateStatus::Modified, newValues, &originalValues);
}

namespace {

// A delta's rows as "zrows": the text of the rows array, compressed and in
// base64. Every value of every row still travels (the reader gets back the
// same rows), in under half the bytes: names repeat words, keys and
// numbers repeat digits.
std::string packRows(const std::string& out, size_t rowsKey, bool always) {
  // The context and the frame's buffer are kept between deltas: fresh ones
  // of a few megabytes cost more in page faults than the packing itself.
  struct Scratch {
    std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> cctx{ZSTD_createCCtx(), ZSTD_freeCCtx};
    std::string z;
  };
  thread_local Scratch scratch;
  std::string packed;
  if (!scratch.cctx) return packed;
  constexpr std::string_view key = R"("rows":)";
  std::string_view rows(out.data() + rowsKey + key.size(), out.size() - rowsKey - key.size());
  std::string& z = scratch.z;
  z.resize(ZSTD_compressBound(rows.size()));
  size_t zn = ZSTD_compressCCtx(scratch.cctx.get(), z.data(), z.size(), rows.data(), rows.size(), 1);
  size_t b64 = ZSTD_isError(zn) ? 0 : sodium_base64_encoded_len(zn, sodium_base64_VARIANT_ORIGINAL);  // with its NUL
  if (b64 && (always || b64 + 16 < rows.size()) && rows.size() <= kMaxUnpackRatio * zn) {
    packed.reserve(rowsKey + b64 + 16 + simdjson::SIMDJSON_PADDING);
    packed.append(out, 0, rowsKey);
    packed += R"("zrows":")";
    size_t at = packed.size();
    packed.resize(at + b64);
    sodium_bin2base64(packed.data() + at, b64, reinterpret_cast<const unsigned char*>(z.data()), zn,
                      sodium_base64_VARIANT_ORIGINAL);
    packed.back() = '"';  // over the NUL
    packed.push_back('}');
  }
  if (z.size() > kKeepScratch) std::string().swap(z);
  return packed;
}

}  // namespace

rtl::DataPacket PacketWriter::Finish() {
  auto& s = *s_;
  if (s.inRow) packetError("the last row was not ended");
  s.out.push_back(']');
  s.rows = 0;
  if (s.kind == PacketKind::Delta && s.out.size() - s.rowsKey >= s.packFrom) {
    std::string packed = packRows(s.out, s.rowsKey, s.packFrom == 0);
    if (!packed.empty()) {
      s.out.clear();
      if (s.out.capacity() <= kKeepScratch) deltaScratch.swap(s.out);
      return rtl::DataPacket(std::move(packed));
    }
  }
  s.out.push_back('}');
  // Room for the parser's padding, so reading the packet back needs no copy.
  s.out.reserve(s.out.size() + simdjson::SIMDJSON_PADDING);
  if (s.out.capacity() >= detail::kSpareTextBytes) {
    // A large text goes back to be reused once the packet is let go.
    auto* text = new std::string(std::move(s.out));
    s.out.clear();
    return rtl::DataPacket(std::shared_ptr<const std::string>(text, [](const std::string* t) {
      auto* mine = const_cast<std::string*>(t);  // made mutable above
      detail::keepSpareText(std::move(*mine));
      delete mine;
    }));
  }
  rtl::DataPacket p(std::move(s.out));
  s.out.clear();
  return p;
}

// ---------------------------------------------------------------- parser

namespace detail {

// The DOM parser is used rather than the on-demand one: its parsing runs in
// the library, compiled for the machine's best instruction set, while the
// on-demand code would be inlined here for a generic target.
namespace dj = simdjson::dom;

// Parsers keep their buffers between packets; reusing them spares the page
// faults of fresh buffers on every load. Each reader takes one of its own.
class ParserPool {
public:
  std::unique_ptr<dj::parser> take() {
    if (free_.empty()) return std::make_unique<dj::parser>();
    auto p = std::move(free_.back());
    free_.pop_back();
    return p;
  }
  void give(std::unique_ptr<dj::parser> p) {
    if (p && free_.size() < 2) free_.push_back(std::move(p));
  }

private:
  std::vector<std::unique_ptr<dj::parser>> free_;
};
thread_local ParserPool parserPool;

struct PacketParser::State {
  std::unique_ptr<dj::parser> parser = parserPool.take();
  dj::array rows;
  dj::array::iterator rit, rend;
  bool hasRows = false;
  size_t total = 0;
  PacketKind kind = PacketKind::Data;
  std::vector<TFieldDef> defs;
  std::vector<bool> mask;
  size_t row = 0;
  // A packed delta's rows, unpacked, and the parser that holds their tree.
  std::string unpacked;
  std::unique_ptr<dj::parser> rowsParser;

  void unpackRows(std::string_view b64);

  [[noreturn]] void rowError(const std::string& what) const { packetError("row " + std::to_string(row) + ": " + what); }
  void readFields(dj::element v);
  void readValue(dj::element v, int part, int field, RowSink& sink);
  bool compactRow(dj::array ra, RowSink& sink);
};

// [4, [i, j, ...], n1..nn, oi, oj, ...]: a modified row whose originals are
// written only for the fields that changed, listed in increasing order.
bool PacketParser::State::compactRow(dj::array ra, RowSink& sink) {
  const int n = static_cast<int>(defs.size());
  auto it = ra.begin(), end = ra.end();
  ++it;
  dj::array changedList;
  if (it == end || (*it).get_array().get(changedList)) rowError("bad list of changed fields");
  mask.assign(static_cast<size_t>(n), false);
  int64_t last = -1;
  for (dj::element e : changedList) {
    int64_t i;
    if (e.get_int64().get(i) || i <= last || i >= n) rowError("bad list of changed fields");
    mask[static_cast<size_t>(i)] = true;
    last = i;
  }
  ++it;
  sink.beginRow(TUpdateStatus::Modified);
  int count = 0;
  for (; it != end && count < n; ++it, ++count) readValue(*it, 0, count, sink);
  if (count < n) rowError(std::to_string(count) + " values for " + std::to_string(n) + " fields");
  for (int f = 0; f < n; ++f) {
    if (!mask[static_cast<size_t>(f)]) {
      sink.sameOriginal(f);
      continue;
    }
    if (it == end) rowError("the original of " + fieldLabel(defs, f) + " is missing");
    readValue(*it, 1, f, sink);
    ++it;
  }
  sink.changed(mask);
  if (it != end) rowError("more values than the fields and the changed ones' originals");
  sink.endRow();
  ++rit;
  return true;
}

namespace {
void check(simdjson::error_code e, const char* where) {
  if (e) packetError(std::string("malformed JSON at ") + where + " (" + simdjson::error_message(e) + ")");
}
}  // namespace

void PacketParser::State::readFields(dj::element v) {
  dj::array arr;
  if (v.get_array().get(arr)) packetError("the field list is not an array");
  for (dj::element item : arr) {
    dj::object fo;
    if (item.get_object().get(fo)) packetError("a field is not an object");
    TFieldDef d;
    bool named = false, typed = false;
    for (auto kv : fo) {
      std::string_view key = kv.key;
      dj::element fv = kv.value;
      if (key == "name") {
        std::string_view n;
        if (fv.get_string().get(n)) packetError("a field name is not a text");
        d.Name = std::string(n);
        named = true;
      } else if (key == "type") {
        std::string_view t;
        if (fv.get_string().get(t)) packetError("a field type is not a text");
        d.DataType = FieldTypeFromName(t);
        typed = true;
      } else if (key == "size") {
        int64_t sz;
        if (fv.get_int64().get(sz) || sz < 0 || sz > 1'000'000) packetError("bad size of field '" + d.Name + "'");
        d.Size = static_cast<int>(sz);
      } else if (key == "fixed") {
        if (fv.get_bool().get(d.FixedChar)) packetError("bad fixed flag of field '" + d.Name + "'");
      } else if (key == "required") {
        if (fv.get_bool().get(d.Required)) packetError("bad required flag of field '" + d.Name + "'");
      }
    }
    if (!named || d.Name.empty()) packetError("a field without a name");
    if (!typed) packetError("field '" + d.Name + "' has no type");
    if (d.DataType == TFieldType::String && d.Size <= 0) d.Size = 20;
    for (auto& o : defs)
      if (rtl::SameText(o.Name, d.Name)) packetError("field '" + d.Name + "' appears twice");
    defs.push_back(std::move(d));
  }
  if (defs.empty()) packetError("no fields");
}

PacketParser::PacketParser(const std::string& bytes) : s_(std::make_unique<State>()) {
  auto& s = *s_;
  if (bytes.empty()) packetError("empty");
  bool padded = bytes.capacity() >= bytes.size() + simdjson::SIMDJSON_PADDING;
  dj::element root;
  check(s.parser->parse(bytes.data(), bytes.size(), !padded).get(root), "the start");
  dj::object obj;
  if (root.get_object().get(obj)) packetError("not a data packet");
  bool sawFields = false;
  for (auto kv : obj) {
    std::string_view key = kv.key;
    dj::element v = kv.value;
    if (key == "packet") {
      std::string_view p;
      if (v.get_string().get(p) || p != "efet") packetError("not a data packet");
    } else if (key == "kind") {
      std::string_view k;
      if (v.get_string().get(k)) packetError("bad kind");
      if (k == "data") s.kind = PacketKind::Data;
      else if (k == "delta") s.kind = PacketKind::Delta;
      else packetError("unknown kind '" + std::string(k) + "'");
    } else if (key == "version") {
      int64_t ver;
      if (v.get_int64().get(ver) || ver != 1) packetError("unsupported version");
    } else if (key == "fields") {
      s.readFields(v);
      sawFields = true;
    } else if (key == "rows" || key == "zrows") {
      if (!sawFields) packetError("rows before fields");
      if (s.hasRows) packetError("rows given twice");
      if (key == "rows") {
        if (v.get_array().get(s.rows)) packetError("the rows are not an array");
      } else {
        std::string_view b64;
        if (v.get_string().get(b64)) packetError("the packed rows are not a text");
        s.unpackRows(b64);
      }
      s.hasRows = true;
    }
  }
  if (!sawFields) packetError("no field list");
  if (s.hasRows) {
    s.rit = s.rows.begin();
    s.rend = s.rows.end();
    s.total = s.rows.size();
  }
}

PacketParser::~PacketParser() {
  if (s_) {
    parserPool.give(std::move(s_->parser));
    parserPool.give(std::move(s_->rowsParser));
  }
}

void PacketParser::State::unpackRows(std::string_view b64) {
  std::string z(b64.size() / 4 * 3 + 3, '\0');
  size_t zn = 0;
  const char* end = nullptr;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(z.data()), z.size(), b64.data(), b64.size(), nullptr, &zn,
                        &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != b64.data() + b64.size())
    packetError("the packed rows are not base64");
  unsigned long long size = ZSTD_getFrameContentSize(z.data(), zn);
  if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN || size == 0 ||
      size > kMaxUnpackRatio * zn + 4096)
    packetError("the packed rows are damaged");
  unpacked.reserve(static_cast<size_t>(size) + simdjson::SIMDJSON_PADDING);
  unpacked.resize(static_cast<size_t>(size));
  size_t got = ZSTD_decompress(unpacked.data(), unpacked.size(), z.data(), zn);
  if (ZSTD_isError(got) || got != size) packetError("the packed rows are damaged");
  rowsParser = parserPool.take();
  dj::element root;
  check(rowsParser->parse(unpacked.data(), unpacked.size(), false).get(root), "the packed rows");
  if (root.get_array().get(rows)) packetError("the packed rows are not an array");
}

double PacketParser::progress() {
  auto& s = *s_;
  return s.total ? static_cast<double>(s.row) / static_cast<double>(s.total) : 0.0;
}

PacketKind PacketParser::kind() const { return s_->kind; }
const std::vector<TFieldDef>& PacketParser::defs() const { return s_->defs; }
size_t PacketParser::rowNumber() const { return s_->row; }

[[gnu::flatten]] void PacketParser::State::readValue(dj::element v, int part, int f, RowSink& sink) {
  using T = dj::element_type;
  const T t = v.type();  // one read of the tape decides
  if (t == T::NULL_VALUE) return sink.null(part, f);
  switch (defs[static_cast<size_t>(f)].DataType) {
    case TFieldType::String:
      if (t != T::STRING) break;
      return sink.str(part, f, v.get_string().value_unsafe());
    case TFieldType::Float:
    case TFieldType::DateTime:
      if (t == T::DOUBLE) return sink.num(part, f, v.get_double().value_unsafe());
      if (t == T::INT64) return sink.num(part, f, static_cast<double>(v.get_int64().value_unsafe()));
      if (t == T::UINT64) return sink.num(part, f, static_cast<double>(v.get_uint64().value_unsafe()));
      if (t == T::STRING) {
        std::string_view sv = v.get_string().value_unsafe();
        if (sv == "NaN") return sink.num(part, f, std::nan(""));
        if (sv == "Infinity") return sink.num(part, f, HUGE_VAL);
        if (sv == "-Infinity") return sink.num(part, f, -HUGE_VAL);
      }
      rowError(fieldLabel(defs, f) + " expects a number");
    case TFieldType::Integer:
      if (t != T::INT64) rowError(fieldLabel(defs, f) + " expects an integer");
      return sink.integer(part, f, v.get_int64().value_unsafe());
    case TFieldType::Boolean:
      if (t != T::BOOL) rowError(fieldLabel(defs, f) + " expects true or false");
      return sink.boolean(part, f, v.get_bool().value_unsafe());
  }
  rowError(fieldLabel(defs, f) + " expects a text");
}

// Flattened: the DOM's accessors are plain inline functions the compiler
// keeps out of line, a call per value and per step through a row.
[[gnu::flatten]] bool PacketParser::next(RowSink& sink) {
  auto& s = *s_;
  if (!s.hasRows || s.rit == s.rend) return false;
  ++s.row;
  dj::array ra;
  if ((*s.rit).get_array().get(ra)) s.rowError("not an array");
  const int n = static_cast<int>(s.defs.size());
  auto it = ra.begin(), end = ra.end();
  if (it == end) s.rowError("empty row");
  int64_t code;
  if ((*it).get_int64().get(code) || code < 0 || code > 4) s.rowError("bad row state");
  if (code == 4) return s.compactRow(ra, sink);
  auto st = static_cast<TUpdateStatus>(code);
  if (st == TUpdateStatus::Unmodified && s.kind == PacketKind::Delta) s.rowError("an unmodified row in a delta");
  const int expected = st == TUpdateStatus::Modified ? 2 * n : n;
  sink.beginRow(st);
  ++it;
  int count = 0, part = 0, f = 0;
  for (; it != end && count < expected; ++it, ++count) {
    s.readValue(*it, part, f, sink);
    if (++f == n) f = 0, ++part;
  }
  if (count < expected) s.rowError(std::to_string(count) + " values for " + std::to_string(expected) + " expected");
  if (st == TUpdateStatus::Modified) {
    std::string_view m;
    if (it == end || (*it).get_string().get(m) || m.size() != static_cast<size_t>(n)) s.rowError("bad change mask");
    s.mask.assign(static_cast<size_t>(n), false);
    for (int i = 0; i < n; ++i) {
      if (m[i] != '0' && m[i] != '1') s.rowError("bad change mask");
      s.mask[i] = m[i] == '1';
    }
    ++it;
    sink.changed(s.mask);
  }
  if (it != end) s.rowError("more values than the " + std::to_string(n) + " fields");
  sink.endRow();
  ++s.rit;
  return true;
}

}  // namespace detail

// ---------------------------------------------------------------- reader

namespace {
class VariantSink : public detail::RowSink {
public:
  explicit VariantSink(size_t n) : n_(n) {}
  TUpdateStatus status = TUpdateStatus::Unmodified;
  std::vector<Variant> values, old;
  std::vector<bool> changedMask;

  void beginRow(TUpdateStatus st) override {
    status = st;
    values.assign(n_, Variant::Null());
    old.assign(n_, Variant::Null());
  }
  Variant& slot(int part, int f) { return part == 0 ? values[f] : old[f]; }
  void null(int part, int f) override { slot(part, f) = Variant::Null(); }
  void str(int part, int f, std::string_view t) override { slot(part, f) = Variant(t); }
  void num(int part, int f, double d) override { slot(part, f) = types_[f] == TFieldType::DateTime ? Variant::FromDate(d) : Variant(d); }
  void integer(int part, int f, int64_t v) override { slot(part, f) = Variant(static_cast<long long>(v)); }
  void boolean(int part, int f, bool b) override { slot(part, f) = Variant(b); }
  void changed(const std::vector<bool>& m) override { changedMask = m; }
  void sameOriginal(int f) override { old[f] = values[f]; }
  void endRow() override {
    switch (status) {
      case TUpdateStatus::Unmodified: old = values; changedMask.assign(n_, false); break;
      case TUpdateStatus::Inserted: changedMask.assign(n_, true); break;
      case TUpdateStatus::Deleted: old = values; changedMask.assign(n_, false); break;
      case TUpdateStatus::Modified: break;
    }
  }
  std::vector<TFieldType> types_;

private:
  size_t n_;
};
}  // namespace

struct PacketReader::State {
  rtl::DataPacket packet;  // keeps the bytes alive
  std::unique_ptr<detail::PacketParser> parser;
  std::unique_ptr<VariantSink> sink;
  bool hasRow = false;
};

PacketReader::PacketReader(const rtl::DataPacket& packet) : s_(std::make_unique<State>()) {
  s_->packet = packet;
  s_->parser = std::make_unique<detail::PacketParser>(s_->packet.bytes());
  s_->sink = std::make_unique<VariantSink>(s_->parser->defs().size());
  for (auto& d : s_->parser->defs()) s_->sink->types_.push_back(d.DataType);
}

PacketReader::~PacketReader() = default;
PacketKind PacketReader::Kind() const { return s_->parser->kind(); }
const std::vector<TFieldDef>& PacketReader::FieldDefs() const { return s_->parser->defs(); }

int PacketReader::FieldIndex(std::string_view name) const {
  const auto& d = FieldDefs();
  for (size_t i = 0; i < d.size(); ++i)
    if (rtl::SameText(d[i].Name, name)) return static_cast<int>(i);
  return -1;
}

bool PacketReader::Next() {
  s_->hasRow = s_->parser->next(*s_->sink);
  return s_->hasRow;
}

size_t PacketReader::RowNumber() const { return s_->parser->rowNumber(); }
TUpdateStatus PacketReader::Status() const { return s_->sink->status; }
const std::vector<Variant>& PacketReader::Values() const { return s_->sink->values; }
const std::vector<Variant>& PacketReader::OldValues() const { return s_->sink->old; }
const std::vector<bool>& PacketReader::Changed() const { return s_->sink->changedMask; }

std::vector<TFieldDef> PacketFieldDefs(const rtl::DataPacket& packet) {
  detail::PacketParser p(packet.bytes());
  return p.defs();
}

}  // namespace data
