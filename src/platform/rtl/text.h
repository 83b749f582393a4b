#pragma once
// Text helpers with the platform's semantics, for every layer. Strings are
// UTF-8; an invalid byte counts as one character of its own and is kept
// as it is by the case mappings.

#include <string>
#include <string_view>
#include <vector>

namespace rtl {

// Blanks are the control characters and the space (bytes up to ' ').
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);
std::string UpperCase(std::string_view text);      // ASCII only, as UpperCase
std::string LowerCase(std::string_view text);
std::string AnsiUpperCase(std::string_view text);  // accented letters too
std::string AnsiLowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);          // ASCII case-insensitive
bool AnsiSameText(std::string_view a, std::string_view b);      // accent-aware case-insensitive
int CompareStr(std::string_view a, std::string_view b);
int AnsiCompareText(std::string_view a, std::string_view b);
// Characters, not bytes.
size_t Utf8Length(std::string_view text);
std::string Utf8Copy(std::string_view text, size_t first, size_t count);  // 0-based
// The first n characters (all of a shorter text), without a copy: the data
// set cuts every text it stores to its field's size with it. A stray
// continuation byte stays with the character before it.
inline std::string_view Utf8Prefix(std::string_view text, size_t n) {
  if (text.size() <= n) return text;
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == n) return text.substr(0, i);
      ++chars;
    }
  }
  return text;
}
// The text without its last character; the characters one by one.
std::string Utf8DropLast(std::string_view text);
std::vector<std::string> Utf8Split(std::string_view text);
std::string StringOfChar(char c, size_t count);
// Well-formed UTF-8: no stray continuation byte, no truncated or overlong
// sequence, no surrogate and nothing above U+10FFFF.
bool ValidUtf8(std::string_view text);

}  // namespace rtl
