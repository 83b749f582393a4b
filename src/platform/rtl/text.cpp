#include "text.h"

#include <cstdint>

namespace rtl {

namespace {

bool isBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Decodes one UTF-8 character at s[i]; invalid bytes decode as themselves.
char32_t decodeUtf8(std::string_view s, size_t& i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  int extra = 0;
  char32_t cp;
  if (c < 0x80) {
    ++i;
    return c;
  } else if ((c & 0xE0) == 0xC0) {
    extra = 1;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3;
    cp = c & 0x07;
  } else {
    ++i;
    return 0xDC00 + c;  // lone byte: kept apart, re-encoded as the same byte
  }
  if (i + static_cast<size_t>(extra) >= s.size()) {
    ++i;
    return 0xDC00 + c;
  }
  for (int k = 1; k <= extra; ++k) {
    const unsigned char cc = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0xDC00 + c;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += static_cast<size_t>(extra) + 1;
  return cp;
}

void encodeUtf8(std::string& out, char32_t cp) {
  if (cp >= 0xDC80 && cp <= 0xDCFF) {
    out += static_cast<char>(cp - 0xDC00);
  } else if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t upperOf(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c < 0x80) return c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
      return (c & 1) ? c - 1 : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

char32_t lowerOf(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0x80) return c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F) {
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
      return (c & 1) ? c : c + 1;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    return c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

template <typename F>
std::string mapChars(std::string_view s, F f) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) encodeUtf8(out, f(decodeUtf8(s, i)));
  return out;
}

// The base letter of an accented Latin letter (for the primary comparison level).
char32_t baseLetter(char32_t c) {
  static const char kLatin1[] =
      "AAAAAAACEEEEIIII"   // C0-CF
      "DNOOOOO*OUUUUYTs"   // D0-DF
      "aaaaaaaceeeeiiii"   // E0-EF
      "dnooooo/ouuuuyty";  // F0-FF
  if (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7 && c != 0xDE && c != 0xFE && c != 0xDF)
    return static_cast<unsigned char>(kLatin1[c - 0xC0]);
  return c;
}

}  // namespace

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && isBlank(text[b])) ++b;
  while (e > b && isBlank(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string TrimLeft(std::string_view text) {
  size_t b = 0;
  while (b < text.size() && isBlank(text[b])) ++b;
  return std::string(text.substr(b));
}

std::string TrimRight(std::string_view text) {
  size_t e = text.size();
  while (e > 0 && isBlank(text[e - 1])) --e;
  return std::string(text.substr(0, e));
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

std::string AnsiUpperCase(std::string_view text) { return mapChars(text, upperOf); }
std::string AnsiLowerCase(std::string_view text) { return mapChars(text, lowerOf); }

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

bool AnsiSameText(std::string_view a, std::string_view b) { return AnsiLowerCase(a) == AnsiLowerCase(b); }

int CompareStr(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int d = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
    if (d != 0) return d;
  }
  return static_cast<int>(a.size()) - static_cast<int>(b.size());
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  // Primary level: letters without accents or case; secondary: accents.
  std::u32string pa, pb, sa, sb;
  for (size_t i = 0; i < a.size();) {
    const char32_t c = lowerOf(decodeUtf8(a, i));
    pa += lowerOf(baseLetter(c));
    sa += c;
  }
  for (size_t i = 0; i < b.size();) {
    const char32_t c = lowerOf(decodeUtf8(b, i));
    pb += lowerOf(baseLetter(c));
    sb += c;
  }
  if (pa != pb) return pa < pb ? -1 : 1;
  if (sa != sb) return sa < sb ? -1 : 1;
  return 0;
}

size_t Utf8Length(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

std::string Utf8Copy(std::string_view text, size_t first, size_t count) {
  size_t i = 0, index = 0;
  while (i < text.size() && index < first) {
    decodeUtf8(text, i);
    ++index;
  }
  const size_t start = i;
  size_t taken = 0;
  while (i < text.size() && taken < count) {
    decodeUtf8(text, i);
    ++taken;
  }
  return std::string(text.substr(start, i - start));
}

std::string Utf8DropLast(std::string_view s) {
  if (s.empty()) return {};
  size_t i = s.size() - 1;
  while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
  return std::string(s.substr(0, i));
}

std::vector<std::string> Utf8Split(std::string_view s) {
  std::vector<std::string> out;
  for (size_t i = 0; i < s.size();) {
    size_t j = i + 1;
    while (j < s.size() && (static_cast<unsigned char>(s[j]) & 0xC0) == 0x80) ++j;
    out.emplace_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

std::string StringOfChar(char c, size_t count) { return std::string(count, c); }

bool ValidUtf8(std::string_view s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > n) return false;
    unsigned cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    for (size_t k = 1; k < len; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d >> 6) != 0x2) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

}  // namespace rtl
