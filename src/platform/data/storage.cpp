#include "storage.h"

#include <algorithm>
#include <cstring>

#include "platform/rtl/exceptions.h"
#include "packet_internal.h"
#include "platform/rtl/format.h"

namespace data::detail {

size_t Column::size() const {
  switch (type_) {
    case TFieldType::String: return s_.size();
    case TFieldType::Boolean: return b_.size();
    case TFieldType::Integer: return i_.size();
    default: return d_.size();
  }
}

void Column::reserve(size_t rows) {
  switch (type_) {
    case TFieldType::String: s_.reserve(rows); break;
    case TFieldType::Boolean: b_.reserve(rows); break;
    case TFieldType::Integer: i_.reserve(rows); nul_.reserve(rows); break;
    default: d_.reserve(rows); nul_.reserve(rows); break;
  }
}

namespace {
// Growth by a quarter rather than doubling: storage stays within a quarter of
// its contents, at the price of a few more copies (still linear overall).
template <class V>
inline void grow(V& v) {
  if (v.size() == v.capacity()) v.reserve(v.size() + v.size() / 4 + 64);
}
template <class V>
void shrinkSlack(V& v) {
  if (v.capacity() > v.size() + v.size() / 16 + 64) v.shrink_to_fit();
}
template <class V>
void reserveBy(V& v, double f) {
  v.reserve(static_cast<size_t>(static_cast<double>(v.size()) * f) + 16);
}
}  // namespace

void Column::reserveFactor(double f) {
  reserveBy(s_, f);
  reserveBy(arena_, f);
  reserveBy(d_, f);
  reserveBy(i_, f);
  reserveBy(b_, f);
  reserveBy(nul_, f);
}

void Column::shrink() {
  shrinkSlack(s_);
  shrinkSlack(arena_);
  shrinkSlack(d_);
  shrinkSlack(i_);
  shrinkSlack(b_);
  shrinkSlack(nul_);
}

void Column::shrinkAll() {
  s_.shrink_to_fit();
  arena_.shrink_to_fit();
  d_.shrink_to_fit();
  i_.shrink_to_fit();
  b_.shrink_to_fit();
  nul_.shrink_to_fit();
}

void Column::clear() {
  s_.clear();
  arena_.clear();
  d_.clear();
  i_.clear();
  b_.clear();
  nul_.clear();
  shrinkAll();
}

uint32_t Column::store(std::string_view s) {
  size_t need = s.size() + 5;
  if (arena_.size() + need >= kNullOff) throw rtl::EDatabaseError("Too much text in one column of a data set");
  auto off = static_cast<uint32_t>(arena_.size());
  if (arena_.size() + need > arena_.capacity())
    arena_.reserve(std::max(arena_.size() + need, arena_.capacity() + arena_.capacity() / 4 + 1024));
  auto len = static_cast<uint32_t>(s.size());
  do {
    unsigned char b = len & 0x7F;
    len >>= 7;
    if (len) b |= 0x80;
    arena_.push_back(static_cast<char>(b));
  } while (len);
  arena_.insert(arena_.end(), s.begin(), s.end());
  return off;
}

void Column::pushNull() {
  growAll();
  switch (type_) {
    case TFieldType::String: s_.push_back(kNullOff); break;
    case TFieldType::Boolean: b_.push_back(2); break;
    case TFieldType::Integer: i_.push_back(0); nul_.push_back(1); break;
    default: d_.push_back(0.0); nul_.push_back(1); break;
  }
}

void Column::growAll() {
  switch (type_) {
    case TFieldType::String: grow(s_); break;
    case TFieldType::Boolean: grow(b_); break;
    case TFieldType::Integer: grow(i_); grow(nul_); break;
    default: grow(d_); grow(nul_); break;
  }
}

void Column::pushStr(std::string_view s) {
  grow(s_);
  s_.push_back(store(s));
}
void Column::pushNum(double d) {
  growAll();
  if (type_ == TFieldType::Integer) {
    i_.push_back(static_cast<int64_t>(d));
  } else {
    d_.push_back(d);
  }
  nul_.push_back(0);
}
void Column::pushInt(int64_t i) {
  growAll();
  if (type_ == TFieldType::Integer) {
    i_.push_back(i);
  } else {
    d_.push_back(static_cast<double>(i));
  }
  nul_.push_back(0);
}
void Column::pushBool(bool b) {
  grow(b_);
  b_.push_back(b ? 1 : 0);
}

void Column::pushCopy(size_t from) {
  growAll();
  switch (type_) {
    case TFieldType::String: s_.push_back(s_[from]); break;
    case TFieldType::Boolean: b_.push_back(b_[from]); break;
    case TFieldType::Integer: i_.push_back(i_[from]); nul_.push_back(nul_[from]); break;
    default: d_.push_back(d_[from]); nul_.push_back(nul_[from]); break;
  }
}

void Column::push(const Variant& v) {
  if (v.isNullOrEmpty()) return pushNull();
  switch (type_) {
    case TFieldType::String: pushStr(v.asStringRef()); break;
    case TFieldType::Boolean: pushBool(v.toBool()); break;
    case TFieldType::Integer: pushInt(v.toInt()); break;
    default: pushNum(v.toDouble()); break;
  }
}

void Column::set(size_t r, const Variant& v) {
  if (v.isNullOrEmpty()) {
    switch (type_) {
      case TFieldType::String: s_[r] = kNullOff; break;
      case TFieldType::Boolean: b_[r] = 2; break;
      default: nul_[r] = 1; break;
    }
    return;
  }
  switch (type_) {
    case TFieldType::String: s_[r] = store(v.asStringRef()); break;
    case TFieldType::Boolean: b_[r] = v.toBool() ? 1 : 0; break;
    case TFieldType::Integer: i_[r] = v.toInt(); nul_[r] = 0; break;
    default: d_[r] = v.toDouble(); nul_[r] = 0; break;
  }
}

void Column::copyCell(size_t from, size_t to) {
  switch (type_) {
    case TFieldType::String: s_[to] = s_[from]; break;
    case TFieldType::Boolean: b_[to] = b_[from]; break;
    case TFieldType::Integer: i_[to] = i_[from]; nul_[to] = nul_[from]; break;
    default: d_[to] = d_[from]; nul_[to] = nul_[from]; break;
  }
}

void Column::compactTo(const std::vector<int32_t>& rows) {
  Column c(type_);
  c.reserve(rows.size());
  if (type_ == TFieldType::String) {
    size_t text = 0;
    for (int32_t r : rows)
      if (!isNull(static_cast<size_t>(r))) text += str(static_cast<size_t>(r)).size() + 1;
    c.arena_.reserve(text + 16);
  }
  for (int32_t r : rows) {
    auto row = static_cast<size_t>(r);
    if (isNull(row)) {
      c.pushNull();
      continue;
    }
    switch (type_) {
      case TFieldType::String: c.pushStr(str(row)); break;
      case TFieldType::Boolean: c.pushBool(b_[row] == 1); break;
      case TFieldType::Integer: c.pushInt(i_[row]); break;
      default: c.pushNum(d_[row]); break;
    }
  }
  *this = std::move(c);
}

Variant Column::get(size_t r) const {
  if (isNull(r)) return Variant::Null();
  switch (type_) {
    case TFieldType::String: return Variant(str(r));
    case TFieldType::Boolean: return Variant(b_[r] == 1);
    case TFieldType::Integer: return Variant(static_cast<long long>(i_[r]));
    case TFieldType::DateTime: return Variant::FromDate(d_[r]);
    default: return Variant(d_[r]);
  }
}

namespace {
bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace

bool Column::equals(size_t r, const Variant& v) const {
  bool vn = v.isNullOrEmpty();
  if (isNull(r) || vn) return isNull(r) && vn;
  switch (type_) {
    case TFieldType::String: return v.isString() && str(r) == v.asStringRef();
    case TFieldType::Boolean: return (b_[r] == 1) == v.toBool();
    case TFieldType::Integer: return i_[r] == v.toInt();
    default: return sameBits(d_[r], v.toDouble());
  }
}

bool Column::sameCell(size_t a, size_t b) const {
  if (isNull(a) || isNull(b)) return isNull(a) && isNull(b);
  switch (type_) {
    case TFieldType::String: return str(a) == str(b);
    case TFieldType::Boolean: return b_[a] == b_[b];
    case TFieldType::Integer: return i_[a] == i_[b];
    default: return sameBits(d_[a], d_[b]);
  }
}

int Column::compare(size_t a, size_t b, bool ci) const {
  bool na = isNull(a), nb = isNull(b);
  if (na || nb) return na == nb ? 0 : (na ? -1 : 1);
  switch (type_) {
    case TFieldType::String: {
      if (ci) {
        int c = rtl::AnsiCompareText(str(a), str(b));
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
      }
      int c = str(a).compare(str(b));
      return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    case TFieldType::Boolean: return b_[a] == b_[b] ? 0 : (b_[a] < b_[b] ? -1 : 1);
    case TFieldType::Integer: return i_[a] == i_[b] ? 0 : (i_[a] < i_[b] ? -1 : 1);
    default: return d_[a] < d_[b] ? -1 : (d_[b] < d_[a] ? 1 : 0);
  }
}

void Column::write(PacketWriter& w, size_t r) const {
  if (isNull(r)) return w.Null();
  switch (type_) {
    case TFieldType::String: return w.String(str(r));
    case TFieldType::Boolean: return w.Boolean(b_[r] == 1);
    case TFieldType::Integer: return w.Integer(i_[r]);
    default: return w.Float(d_[r]);
  }
}

void Column::appendJson(std::string& out, size_t r) const {
  out.push_back(',');
  if (isNull(r)) {
    out.append("null", 4);
    return;
  }
  switch (type_) {
    case TFieldType::String: AppendJsonString(out, str(r)); return;
    case TFieldType::Boolean:
      if (b_[r] == 1) out.append("true", 4);
      else out.append("false", 5);
      return;
    case TFieldType::Integer: out += std::to_string(i_[r]); return;
    default: AppendJsonDouble(out, d_[r]); return;
  }
}

size_t Column::bytes() const {
  return s_.capacity() * sizeof(uint32_t) + arena_.capacity() + d_.capacity() * 8 + i_.capacity() * 8 +
         b_.capacity() + nul_.capacity();
}

}  // namespace data::detail
