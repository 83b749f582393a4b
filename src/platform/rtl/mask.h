#pragma once
// Edit masks: "mask;save-literals;blank" as masked edits and FormatMaskText read them.
//
// Mask characters: L letter required, l letter optional, A alphanumeric required,
// a alphanumeric optional, C any character required, c any optional, 0 digit
// required, 9 digit optional, # digit or sign optional; > upper case from here,
// < lower case from here, <> no conversion; \ takes the next character
// literally; ! drops leading blanks; : / are the time and date separators;
// anything else is a literal.

#include <string>
#include <string_view>
#include <vector>

namespace rtl {

enum class MaskCharKind {
  Literal,
  LetterRequired,
  LetterOptional,
  AlnumRequired,
  AlnumOptional,
  AnyRequired,
  AnyOptional,
  DigitRequired,
  DigitOptional,
  DigitOrSignOptional,
};

enum class MaskCase { None, Upper, Lower };

struct MaskPosition {
  MaskCharKind kind = MaskCharKind::Literal;
  MaskCase casing = MaskCase::None;
  std::string literal;  // one UTF-8 character when kind is Literal
};

class EditMask {
public:
  EditMask() = default;
  explicit EditMask(std::string_view mask);

  bool empty() const { return positions_.empty(); }
  const std::vector<MaskPosition>& positions() const { return positions_; }
  // Second field: literals kept in the value ("1") or dropped ("0"); default true.
  bool saveLiterals() const { return saveLiterals_; }
  // Third field: the character shown for an unfilled position; default '_'.
  const std::string& blank() const { return blank_; }
  const std::string& source() const { return source_; }
  // "!" in the mask: the value is right-aligned and leading blanks are dropped.
  bool reverse() const { return reverse_; }
  // The number of characters of the displayed text (literals included).
  size_t displayLength() const { return positions_.size(); }

  // Whether character c (one UTF-8 character) may stand at position pos.
  bool accepts(size_t pos, std::string_view c) const;
  // c converted to the case that position pos asks for.
  std::string convert(size_t pos, std::string_view c) const;

  // The text an edit with this mask shows for a stored value (literals
  // inserted when the value does not save them, blanks for missing chars).
  std::string displayText(std::string_view value) const;
  // The value stored for a displayed text (literals and blanks removed when
  // the mask does not save literals; trailing blanks trimmed as the platform does).
  std::string valueFromText(std::string_view text) const;
  // True when every required position holds an acceptable character.
  bool isComplete(std::string_view text) const;

private:
  std::string source_;
  std::vector<MaskPosition> positions_;
  bool saveLiterals_ = true;
  std::string blank_ = "_";
  bool reverse_ = false;
};

// The platform's FormatMaskText(mask, value): the value laid into the mask.
// An empty value gives the literals with blanks (never an error).
std::string FormatMaskText(std::string_view mask, std::string_view value);

}  // namespace rtl
