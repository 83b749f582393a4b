#include "mask.h"

#include "format.h"

// The platform's MaskUtils, character by character (UTF-8 characters, not
// bytes). A mask string is read the way the platform's MaskGetCharType reads
// it: directives (! > < \), mask characters, literals, and in the last four
// characters the ";save;blank" fields.

namespace rtl {

namespace {

using Chars = std::vector<std::string>;

Chars splitChars(std::string_view s) {
  Chars out;
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = 1;
    if (c >= 0xF0 && c < 0xF8)
      len = 4;
    else if (c >= 0xE0)
      len = 3;
    else if (c >= 0xC0)
      len = 2;
    if (c >= 0xF8) len = 1;
    if (i + len > s.size()) len = 1;
    for (size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
        len = 1;
        break;
      }
    out.emplace_back(s.substr(i, len));
    i += len;
  }
  return out;
}

std::string joinChars(const Chars& c, size_t from = 0, size_t to = std::string::npos) {
  std::string out;
  if (to > c.size()) to = c.size();
  for (size_t i = from; i < to; ++i) out += c[i];
  return out;
}

enum class CharType { None, Literal, IntlLiteral, Directive, Mask, MaskOpt, Field, FieldSeparator };

class MaskReader {
public:
  explicit MaskReader(std::string_view mask) : m_(splitChars(mask)) {}

  size_t length() const { return m_.size(); }
  const std::string& at(size_t offset) const { return m_[offset - 1]; }  // 1-based

  bool is(size_t offset, char c) const {
    return offset >= 1 && offset <= m_.size() && m_[offset - 1].size() == 1 && m_[offset - 1][0] == c;
  }

  CharType type(size_t offset) const {
    const size_t len = m_.size();
    if (offset < 1 || offset > len) return CharType::None;
    const std::string& s = m_[offset - 1];
    if (s.size() != 1) return CharType::Literal;
    const char c = s[0];
    if (offset > 1 && is(offset - 1, '\\') && !(offset > 2 && is(offset - 2, '\\'))) return CharType::Literal;
    if (c == ';' && len >= 4 && offset + 4 > len) return CharType::FieldSeparator;
    if (len >= 4 && offset + 4 > len && is(offset - 1, ';') && !(offset > 2 && is(offset - 2, '\\')))
      return CharType::Field;
    switch (c) {
      case ':':
      case '/':
        return CharType::IntlLiteral;
      case '!':
      case '>':
      case '<':
      case '\\':
        return CharType::Directive;
      case 'l':
      case 'a':
      case 'c':
      case '#':
      case '9':
        return CharType::MaskOpt;
      case 'L':
      case 'A':
      case 'C':
      case '0':
        return CharType::Mask;
      default:
        return CharType::Literal;
    }
  }

  bool isData(size_t offset) const {
    const CharType t = type(offset);
    return t == CharType::Literal || t == CharType::IntlLiteral || t == CharType::Mask || t == CharType::MaskOpt;
  }
  bool isLiteral(size_t offset) const {
    const CharType t = type(offset);
    return t == CharType::Literal || t == CharType::IntlLiteral;
  }
  bool isMaskChar(size_t offset) const {
    const CharType t = type(offset);
    return t == CharType::Mask || t == CharType::MaskOpt;
  }

  // The character a literal stands for: ":" and "/" are the settings' separators.
  std::string literalChar(size_t offset) const {
    if (type(offset) == CharType::IntlLiteral) {
      const char c = at(offset)[0] == ':' ? FormatSettings().TimeSeparator : FormatSettings().DateSeparator;
      return std::string(1, c);
    }
    return at(offset);
  }

  bool reverse() const {
    for (size_t i = 1; i <= m_.size(); ++i)
      if (is(i, '!') && type(i) == CharType::Directive) return true;
    return false;
  }

  // Case directives in force at a mask offset.
  MaskCase casing(size_t offset) const {
    MaskCase result = MaskCase::None;
    for (size_t i = 1; i < offset && i <= m_.size(); ++i) {
      if (type(i) != CharType::Directive) continue;
      if (is(i, '>'))
        result = is(i - 1, '<') && type(i - 1) == CharType::Directive ? MaskCase::None : MaskCase::Upper;
      else if (is(i, '<'))
        result = MaskCase::Lower;
    }
    return result;
  }

  bool saveLiterals() const {
    const size_t len = m_.size();
    if (len < 4) return true;
    size_t sep1 = 0, sep2 = 0;
    for (size_t i = len; i + 4 >= len && i >= 1 && sep2 == 0; --i) {
      if (type(i) == CharType::FieldSeparator) {
        if (sep1 == 0)
          sep1 = i;
        else
          sep2 = i;
      }
    }
    if (sep2 == 0) sep2 = sep1;
    if (sep2 > 0 && sep2 != len) return !is(sep2 + 1, '0');
    return true;
  }

  std::string blank() const {
    const size_t len = m_.size();
    if (len >= 4 && type(len - 1) == CharType::FieldSeparator &&
        (type(len - 2) == CharType::Field || type(len - 3) == CharType::FieldSeparator))
      return m_[len - 1];
    return "_";
  }

  // The number of displayed characters up to and including a mask offset.
  size_t offsetOf(size_t maskOffset) const {
    size_t n = 0;
    for (size_t i = 1; i <= maskOffset && i <= m_.size(); ++i)
      if (isData(i)) ++n;
    return n;
  }
  // The mask offset of the n-th displayed character (1-based), 0 when none.
  size_t maskOffsetOf(size_t offset) const {
    size_t n = 0;
    for (size_t i = 1; i <= m_.size(); ++i)
      if (isData(i) && ++n == offset) return i;
    return 0;
  }

private:
  Chars m_;
};

// Copy(v, start, count) with the platform's 1-based, clamped semantics.
Chars copyChars(const Chars& v, long start, long count) {
  if (start < 1) start = 1;
  if (count <= 0 || start > static_cast<long>(v.size())) return {};
  const long end = std::min<long>(static_cast<long>(v.size()), start + count - 1);
  return Chars(v.begin() + (start - 1), v.begin() + end);
}

Chars concat(Chars a, const Chars& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// MaskDoFormatText: the value holds no literals; they are inserted, and
// missing characters become blanks.
Chars formatNoLiterals(const MaskReader& m, Chars r, const std::string& blank) {
  const long len = static_cast<long>(m.length());
  if (!m.reverse()) {
    long offset = 1;
    for (long mo = 1; mo <= len; ++mo) {
      if (m.isLiteral(static_cast<size_t>(mo))) {
        Chars lit{m.literalChar(static_cast<size_t>(mo))};
        r = concat(concat(copyChars(r, 1, offset - 1), lit), copyChars(r, offset, static_cast<long>(r.size()) - offset + 1));
        ++offset;
      } else if (m.isMaskChar(static_cast<size_t>(mo))) {
        if (offset > static_cast<long>(r.size())) r.push_back(blank);
        ++offset;
      }
    }
  } else {
    long offset = static_cast<long>(r.size());
    for (long i = 0; i < len; ++i) {
      const long mo = len - i;
      if (m.isLiteral(static_cast<size_t>(mo))) {
        Chars lit{m.literalChar(static_cast<size_t>(mo))};
        r = concat(concat(copyChars(r, 1, offset), lit), copyChars(r, offset + 1, static_cast<long>(r.size()) - offset));
      } else if (m.isMaskChar(static_cast<size_t>(mo))) {
        if (offset < 1)
          r.insert(r.begin(), blank);
        else
          --offset;
      }
    }
  }
  return r;
}

// PadSubField: the subfield value[start, stop) must hold len characters.
Chars padSubField(const MaskReader& m, const Chars& value, long start, long stop, long len, const std::string& blank) {
  if (stop - start < len) {
    const long startPad = m.reverse() ? start - 1 : stop - 1;
    Chars r = copyChars(value, 1, startPad);
    for (long k = 1; k <= len - (stop - start); ++k) r.push_back(blank);
    return concat(r, copyChars(value, startPad + 1, static_cast<long>(value.size())));
  }
  if (stop - start > len) {
    if (m.reverse())
      return concat(copyChars(value, 1, start - 1), copyChars(value, stop - len, static_cast<long>(value.size())));
    return concat(copyChars(value, 1, start + len - 1), copyChars(value, stop, static_cast<long>(value.size())));
  }
  return value;
}

// PadInputLiterals: the value holds its literals; each subfield between them
// is padded or cut to its width.
Chars formatWithLiterals(const MaskReader& m, Chars r, const std::string& blank) {
  long lastLiteral = 0;
  const long len = static_cast<long>(m.length());
  for (long mo = 1; mo <= len; ++mo) {
    if (!m.isLiteral(static_cast<size_t>(mo))) continue;
    const long offset = static_cast<long>(m.offsetOf(static_cast<size_t>(mo)));
    const std::string lit = m.literalChar(static_cast<size_t>(mo));
    long endSub = static_cast<long>(r.size()) + 1;
    for (long j = lastLiteral + 1; j <= static_cast<long>(r.size()); ++j)
      if (r[static_cast<size_t>(j - 1)] == lit) {
        endSub = j;
        break;
      }
    if (endSub > static_cast<long>(r.size())) r.push_back(lit);
    r = padSubField(m, r, lastLiteral + 1, endSub, offset - (lastLiteral + 1), blank);
    lastLiteral = offset;
  }
  const long maxChars = static_cast<long>(m.offsetOf(m.length()));
  if (static_cast<long>(r.size()) != maxChars)
    r = padSubField(m, r, lastLiteral + 1, static_cast<long>(r.size()) + 1, maxChars - lastLiteral, blank);
  for (size_t i = 0; i < r.size(); ++i) {
    if (r[i] != " ") continue;
    const size_t mo = m.maskOffsetOf(i + 1);
    if (mo && m.isMaskChar(mo)) r[i] = blank;
  }
  return r;
}

Chars layOut(const MaskReader& m, std::string_view value, const std::string& blank) {
  Chars v = splitChars(value);
  return m.saveLiterals() ? formatWithLiterals(m, std::move(v), blank) : formatNoLiterals(m, std::move(v), blank);
}

bool isAsciiDigit(const std::string& c) { return c.size() == 1 && c[0] >= '0' && c[0] <= '9'; }

// Letters as the platform's IsCharAlpha sees them: ASCII and the accented
// letters of Latin-1 and Latin Extended-A.
bool isLetter(const std::string& c) {
  if (c.size() == 1) return (c[0] >= 'a' && c[0] <= 'z') || (c[0] >= 'A' && c[0] <= 'Z');
  if (c.size() != 2) return false;
  const unsigned char b0 = static_cast<unsigned char>(c[0]);
  const unsigned char b1 = static_cast<unsigned char>(c[1]);
  const unsigned cp = ((b0 & 0x1Fu) << 6) | (b1 & 0x3Fu);
  if (cp >= 0xC0 && cp <= 0x24F) return cp != 0xD7 && cp != 0xF7;
  if (cp == 0xAA || cp == 0xB5 || cp == 0xBA) return true;
  return cp >= 0x370 && cp <= 0x4FF;  // Greek, Cyrillic
}

}  // namespace

EditMask::EditMask(std::string_view mask) : source_(mask) {
  const MaskReader m(mask);
  saveLiterals_ = m.saveLiterals();
  blank_ = m.blank();
  reverse_ = m.reverse();
  for (size_t mo = 1; mo <= m.length(); ++mo) {
    if (!m.isData(mo)) continue;
    MaskPosition p;
    p.casing = m.casing(mo);
    if (m.isLiteral(mo)) {
      p.kind = MaskCharKind::Literal;
      p.literal = m.literalChar(mo);
    } else {
      switch (m.at(mo)[0]) {
        case 'L': p.kind = MaskCharKind::LetterRequired; break;
        case 'l': p.kind = MaskCharKind::LetterOptional; break;
        case 'A': p.kind = MaskCharKind::AlnumRequired; break;
        case 'a': p.kind = MaskCharKind::AlnumOptional; break;
        case 'C': p.kind = MaskCharKind::AnyRequired; break;
        case 'c': p.kind = MaskCharKind::AnyOptional; break;
        case '0': p.kind = MaskCharKind::DigitRequired; break;
        case '9': p.kind = MaskCharKind::DigitOptional; break;
        default: p.kind = MaskCharKind::DigitOrSignOptional; break;
      }
    }
    positions_.push_back(std::move(p));
  }
}

bool EditMask::accepts(size_t pos, std::string_view c) const {
  if (pos >= positions_.size()) return false;
  const MaskPosition& p = positions_[pos];
  const std::string ch(c);
  if (splitChars(ch).size() != 1) return false;
  switch (p.kind) {
    case MaskCharKind::Literal:
      return ch == p.literal;
    case MaskCharKind::LetterRequired:
    case MaskCharKind::LetterOptional:
      return isLetter(ch);
    case MaskCharKind::AlnumRequired:
    case MaskCharKind::AlnumOptional:
      return isLetter(ch) || isAsciiDigit(ch);
    case MaskCharKind::AnyRequired:
    case MaskCharKind::AnyOptional:
      return true;
    case MaskCharKind::DigitRequired:
    case MaskCharKind::DigitOptional:
      return isAsciiDigit(ch);
    case MaskCharKind::DigitOrSignOptional:
      return isAsciiDigit(ch) || ch == "+" || ch == "-" || ch == " ";
  }
  return false;
}

std::string EditMask::convert(size_t pos, std::string_view c) const {
  if (pos >= positions_.size()) return std::string(c);
  const MaskPosition& p = positions_[pos];
  if (p.kind == MaskCharKind::Literal) return std::string(c);
  switch (p.casing) {
    case MaskCase::Upper:
      return AnsiUpperCase(c);
    case MaskCase::Lower:
      return AnsiLowerCase(c);
    case MaskCase::None:
      break;
  }
  return std::string(c);
}

std::string EditMask::displayText(std::string_view value) const {
  if (positions_.empty()) return std::string(value);
  return joinChars(layOut(MaskReader(source_), value, blank_));
}

std::string EditMask::valueFromText(std::string_view text) const {
  if (positions_.empty()) return std::string(text);
  const MaskReader m(source_);
  // RemoveEditFormat: literals out, blanks trimmed (leading ones when the
  // mask is reversed, trailing ones otherwise), inner blanks become spaces.
  Chars r = splitChars(text);
  size_t offset = 1;
  for (size_t mo = 1; mo <= m.length(); ++mo) {
    if (m.isLiteral(mo)) {
      if (offset <= r.size()) r.erase(r.begin() + static_cast<long>(offset - 1));
    } else if (m.isMaskChar(mo)) {
      ++offset;
    }
  }
  if (reverse_) {
    size_t k = 0;
    while (k < r.size() && r[k] == blank_) ++k;
    r.erase(r.begin(), r.begin() + static_cast<long>(k));
  } else {
    while (!r.empty() && r.back() == blank_) r.pop_back();
  }
  for (auto& c : r)
    if (c == blank_) c.assign(1, ' ');  // (assign: GCC 12 warns wrongly on = " ")
  if (saveLiterals_) r = formatNoLiterals(m, std::move(r), " ");
  return joinChars(r);
}

bool EditMask::isComplete(std::string_view text) const {
  Chars t = splitChars(text);
  if (t.size() != positions_.size()) t = splitChars(displayText(text));
  for (size_t i = 0; i < positions_.size(); ++i) {
    const MaskPosition& p = positions_[i];
    const std::string c = i < t.size() ? t[i] : blank_;
    const bool required = p.kind == MaskCharKind::LetterRequired || p.kind == MaskCharKind::AlnumRequired ||
                          p.kind == MaskCharKind::AnyRequired || p.kind == MaskCharKind::DigitRequired;
    if (p.kind == MaskCharKind::Literal) continue;
    const bool empty = c == blank_ || (c == " " && p.kind != MaskCharKind::AnyRequired);
    if (required && empty) return false;
    if (!empty && !accepts(i, c)) return false;
  }
  return true;
}

std::string FormatMaskText(std::string_view mask, std::string_view value) {
  const MaskReader m(mask);
  if (m.offsetOf(m.length()) == 0) return std::string(value);
  // The platform lays the value in with spaces for the missing characters.
  return joinChars(layOut(m, value, " "));
}

}  // namespace rtl
