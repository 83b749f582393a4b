#include "platform/ui/keys.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "platform/rtl/text.h"

namespace ui {

TShortCut ShortCut(Word key, TShiftState shift) {
  TShortCut sc = key & 0x0FFF;
  if (shift & ssShift) sc |= scShift;
  if (shift & ssCtrl) sc |= scCtrl;
  if (shift & ssAlt) sc |= scAlt;
  return sc;
}

void ShortCutToKey(TShortCut sc, Word& key, TShiftState& shift) {
  key = sc & 0x0FFF;
  shift = ssNone;
  if (sc & scShift) shift |= ssShift;
  if (sc & scCtrl) shift |= ssCtrl;
  if (sc & scAlt) shift |= ssAlt;
}

namespace {
struct KeyName {
  const char* name;
  Word key;
};
const KeyName kKeyNames[] = {
    {"BkSp", VK_BACK}, {"Backspace", VK_BACK}, {"Tab", VK_TAB}, {"Enter", VK_RETURN},
    {"Esc", VK_ESCAPE}, {"Escape", VK_ESCAPE}, {"Space", VK_SPACE}, {"PgUp", VK_PRIOR},
    {"PgDn", VK_NEXT}, {"End", VK_END}, {"Home", VK_HOME}, {"Left", VK_LEFT},
    {"Up", VK_UP}, {"Right", VK_RIGHT}, {"Down", VK_DOWN}, {"Ins", VK_INSERT},
    {"Insert", VK_INSERT}, {"Del", VK_DELETE}, {"Delete", VK_DELETE},
};

Word keyFromName(std::string_view n) {
  for (const auto& k : kKeyNames)
    if (rtl::SameText(n, k.name)) return k.key;
  if (n.size() >= 2 && (n[0] == 'F' || n[0] == 'f')) {
    int f = 0;
    for (size_t i = 1; i < n.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(n[i]))) return 0;
      f = f * 10 + (n[i] - '0');
    }
    if (f >= 1 && f <= 24) return static_cast<Word>(VK_F1 + f - 1);
    return 0;
  }
  if (n.size() == 1) {
    unsigned char c = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(n[0])));
    if (std::isalnum(c)) return c;
  }
  return 0;
}
}  // namespace

TShortCut TextToShortCut(std::string_view text) {
  TShiftState shift = ssNone;
  std::string_view rest = text;
  for (;;) {
    auto plus = rest.find('+');
    if (plus == std::string_view::npos || plus + 1 >= rest.size()) break;
    std::string_view mod = rest.substr(0, plus);
    if (rtl::SameText(mod, "Ctrl")) shift |= ssCtrl;
    else if (rtl::SameText(mod, "Shift")) shift |= ssShift;
    else if (rtl::SameText(mod, "Alt")) shift |= ssAlt;
    else return 0;
    rest = rest.substr(plus + 1);
  }
  Word k = keyFromName(rest);
  return k ? ShortCut(k, shift) : 0;
}

std::string ShortCutToText(TShortCut sc) {
  Word key;
  TShiftState shift;
  ShortCutToKey(sc, key, shift);
  std::string out;
  if (shift & ssShift) out += "Shift+";
  if (shift & ssCtrl) out += "Ctrl+";
  if (shift & ssAlt) out += "Alt+";
  if (key >= VK_F1 && key <= VK_F1 + 23) return out + "F" + std::to_string(key - VK_F1 + 1);
  for (const auto& k : kKeyNames)
    if (k.key == key) return out + k.name;
  if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) return out + static_cast<char>(key);
  return out + "#" + std::to_string(key);
}

TChar KeyChar(Word key, TShiftState shift) {
  if (shift & ssAlt) return 0;
  if (shift & ssCtrl) {
    if (key == VK_RETURN) return 10;  // Ctrl+Enter types a line feed
    if (key >= 'A' && key <= 'Z') return key - 'A' + 1;
    return 0;
  }
  switch (key) {
    case VK_BACK: return 8;
    case VK_TAB: return 9;
    case VK_RETURN: return 13;
    case VK_ESCAPE: return 27;
    case VK_SPACE: return ' ';
    default: break;
  }
  if (key >= 'A' && key <= 'Z') return (shift & ssShift) ? key : key + ('a' - 'A');
  if (key >= '0' && key <= '9' && !(shift & ssShift)) return key;
  return 0;
}

Word CharKey(TChar c) {
  if (c >= 'a' && c <= 'z') return static_cast<Word>(c - 'a' + 'A');
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return static_cast<Word>(c);
  switch (c) {
    case 8: return VK_BACK;
    case 9: return VK_TAB;
    case 13: return VK_RETURN;
    case 27: return VK_ESCAPE;
    case ' ': return VK_SPACE;
    case '-': return 189;
    case ',': return 188;
    case '.': return 190;
    case '/': return 191;
    case '+': return 187;
    default: return 0;  // characters without a key of their own (accented letters)
  }
}

std::string StripHotkey(std::string_view caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += caption[i];
  }
  return out;
}

char HotkeyOf(std::string_view caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return static_cast<char>(std::toupper(static_cast<unsigned char>(caption[i + 1])));
  }
  return 0;
}

std::string EncodeUtf8(TChar c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

}  // namespace ui
