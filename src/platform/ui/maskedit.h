#pragma once
// Masked edits (per-position acceptance, case conversion, blank character,
// Text as the stored value and EditText as shown) and the date edit.

#include <array>
#include <string>
#include <vector>

#include "platform/rtl/datetime.h"
#include "platform/rtl/mask.h"
#include "platform/ui/stdctrls.h"

namespace ui {

inline constexpr const char* SMaskEditErr = "Invalid input value.  Use escape key to abandon changes";

class TMaskEdit : public TCustomEdit {
public:
  explicit TMaskEdit(TComponent* owner = nullptr) : TCustomEdit(owner) {}

  const std::string& EditMask() const { return mask_.source(); }
  void SetEditMask(std::string mask);
  bool IsMasked() const { return !mask_.empty(); }
  const rtl::EditMask& Mask() const { return mask_; }

  // The value: literals dropped when the mask does not save them, trailing blanks trimmed.
  std::string Text() const override;
  void SetText(std::string t) override;
  // What the user sees: every position, blanks where nothing was typed.
  std::string EditText() const;
  // Position of the caret among the mask positions.
  size_t CursorPos() const { return cursor_; }

  void DoEnter() override;
  // An incomplete text typed by the user is refused (the focus stays).
  void DoExit() override;
  void KeyDown(Word& key, TShiftState shift) override;
  bool WantsKey(Word key, TShiftState shift) const override;
  // Raises when the text misses a required character.
  void ValidateEdit();

protected:
  void EditKeyPress(TChar key) override;

private:
  void load(std::string_view value);
  void clearAll();
  rtl::EditMask mask_;
  std::vector<std::string> buf_;
  size_t cursor_ = 0;
  std::string atEnter_;
};

// The date edit: a day/month/year masked edit holding a date only.
class TDateEditPlus : public TMaskEdit {
public:
  explicit TDateEditPlus(TComponent* owner = nullptr);

  // Index 0 is Sunday.
  std::array<std::string, 7> WeekDayNames{"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado"};
  bool DateOnly = true;

  // "" while no digit was typed (the mask's literals alone are no date).
  std::string Text() const override;
  // 0 when empty; raises the error of CheckValidDate for an impossible date.
  rtl::TDateTime GetDate() const;
  // 0 clears the edit; the time part is dropped.
  void SetDate(rtl::TDateTime d);
  // Raises EConvertError naming the text when it is not empty and no valid date.
  void CheckValidDate() const;
  bool IsEmpty() const;
  // The weekday name of the date shown, "" when empty or invalid.
  std::string WeekDayName() const;
};

}  // namespace ui
