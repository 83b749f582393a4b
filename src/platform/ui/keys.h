#pragma once
// Virtual key codes, shift states and menu shortcuts, with the platform's values
// so that handlers written against them compare the same numbers.

#include <cstdint>
#include <string>
#include <string_view>

namespace ui {

using Word = uint16_t;
// A typed character (KeyPress). 0 is the null character that discards a key.
using TChar = char32_t;

using TShiftState = unsigned;
constexpr TShiftState ssNone = 0;
constexpr TShiftState ssShift = 1;
constexpr TShiftState ssAlt = 2;
constexpr TShiftState ssCtrl = 4;

constexpr Word VK_BACK = 8;
constexpr Word VK_TAB = 9;
constexpr Word VK_RETURN = 13;
constexpr Word VK_SHIFT = 16;
constexpr Word VK_CONTROL = 17;
constexpr Word VK_MENU = 18;
constexpr Word VK_ESCAPE = 27;
constexpr Word VK_SPACE = 32;
constexpr Word VK_PRIOR = 33;  // PageUp
constexpr Word VK_NEXT = 34;   // PageDown
constexpr Word VK_END = 35;
constexpr Word VK_HOME = 36;
constexpr Word VK_LEFT = 37;
constexpr Word VK_UP = 38;
constexpr Word VK_RIGHT = 39;
constexpr Word VK_DOWN = 40;
constexpr Word VK_INSERT = 45;
constexpr Word VK_DELETE = 46;
constexpr Word VK_F1 = 112;
constexpr Word VK_F2 = 113;
constexpr Word VK_F3 = 114;
constexpr Word VK_F4 = 115;
constexpr Word VK_F5 = 116;
constexpr Word VK_F6 = 117;
constexpr Word VK_F7 = 118;
constexpr Word VK_F8 = 119;
constexpr Word VK_F9 = 120;
constexpr Word VK_F10 = 121;
constexpr Word VK_F11 = 122;
constexpr Word VK_F12 = 123;

// Menu shortcuts: key code plus modifier bits, as the platform packs them.
using TShortCut = uint16_t;
constexpr TShortCut scShift = 0x2000;
constexpr TShortCut scCtrl = 0x4000;
constexpr TShortCut scAlt = 0x8000;

TShortCut ShortCut(Word key, TShiftState shift);
void ShortCutToKey(TShortCut sc, Word& key, TShiftState& shift);
// "F6", "Ctrl+Enter", "Shift+Ctrl+A"; 0 for an unknown text.
TShortCut TextToShortCut(std::string_view text);
std::string ShortCutToText(TShortCut sc);

// The character a key produces when typed, or 0 (arrows, F-keys, Delete...).
TChar KeyChar(Word key, TShiftState shift);

// The key code that types a character (letters and digits map to their own codes).
Word CharKey(TChar c);

// A menu caption without its accelerator marks ("&Efetivos" -> "Efetivos", "&&" -> "&").
std::string StripHotkey(std::string_view caption);
// The accelerator character of a caption, upper-cased ASCII, or 0.
char HotkeyOf(std::string_view caption);

std::string EncodeUtf8(TChar c);

}  // namespace ui
