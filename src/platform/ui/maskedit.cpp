#include "platform/ui/maskedit.h"

#include <cstdio>

#include "platform/rtl/text.h"

namespace ui {

void TMaskEdit::SetEditMask(std::string mask) {
  std::string value = Text();
  mask_ = rtl::EditMask(mask);
  load(value);
  setTextRaw(EditText());
  Changed();
}

void TMaskEdit::load(std::string_view value) {
  if (mask_.empty()) return;
  buf_ = rtl::Utf8Split(mask_.displayText(value));
  buf_.resize(mask_.positions().size(), mask_.blank());
  cursor_ = 0;
}

std::string TMaskEdit::EditText() const {
  if (mask_.empty()) return rawText();
  std::string s;
  for (const auto& c : buf_) s += c;
  return s;
}

std::string TMaskEdit::Text() const {
  if (mask_.empty()) return rawText();
  return mask_.valueFromText(EditText());
}

void TMaskEdit::SetText(std::string t) {
  if (mask_.empty()) {
    TCustomEdit::SetText(std::move(t));
    return;
  }
  std::string before = EditText();
  load(t);
  selAll_ = false;
  Modified = false;
  setTextRaw(EditText());
  if (EditText() != before) Change();
}

void TMaskEdit::clearAll() {
  const auto& pos = mask_.positions();
  for (size_t i = 0; i < pos.size(); ++i)
    buf_[i] = pos[i].kind == rtl::MaskCharKind::Literal ? pos[i].literal : mask_.blank();
  cursor_ = 0;
}

void TMaskEdit::DoEnter() {
  atEnter_ = EditText();
  cursor_ = 0;
  TCustomEdit::DoEnter();
}

void TMaskEdit::ValidateEdit() {
  if (mask_.empty() || mask_.isComplete(EditText())) return;
  throw rtl::Exception(SMaskEditErr);
}

void TMaskEdit::DoExit() {
  // A refusal raised here ends the focus move, so the focus stays in the edit.
  if (IsMasked() && Modified) ValidateEdit();
  TCustomEdit::DoExit();
}

bool TMaskEdit::WantsKey(Word key, TShiftState shift) const {
  if (key == VK_ESCAPE && IsMasked() && Modified) return true;
  return TCustomEdit::WantsKey(key, shift);
}

void TMaskEdit::KeyDown(Word& key, TShiftState shift) {
  if (mask_.empty()) {
    TCustomEdit::KeyDown(key, shift);
    return;
  }
  TWinControl::KeyDown(key, shift);
  if (key == 'A' && shift == ssCtrl) {
    SelectAll();
    Changed();
    return;
  }
  switch (key) {
    case VK_ESCAPE:
      if (Modified) {
        // Back to the text the edit had when the focus came.
        load(mask_.valueFromText(atEnter_));
        buf_ = rtl::Utf8Split(atEnter_);
        buf_.resize(mask_.positions().size(), mask_.blank());
        Modified = false;
        setTextRaw(EditText());
        Change();
        key = 0;
      }
      break;
    case VK_DELETE:
      if (!CanModify()) break;
      if (selAll_) {
        selAll_ = false;
        clearAll();
      } else if (cursor_ < buf_.size() && mask_.positions()[cursor_].kind != rtl::MaskCharKind::Literal) {
        buf_[cursor_] = mask_.blank();
      } else {
        break;
      }
      Modified = true;
      setTextRaw(EditText());
      Change();
      break;
    case VK_HOME: selAll_ = false; cursor_ = 0; break;
    case VK_END: selAll_ = false; cursor_ = buf_.size(); break;
    case VK_LEFT: selAll_ = false; if (cursor_ > 0) --cursor_; break;
    case VK_RIGHT: selAll_ = false; if (cursor_ < buf_.size()) ++cursor_; break;
    default: break;
  }
}

void TMaskEdit::EditKeyPress(TChar key) {
  if (mask_.empty()) {
    TCustomEdit::EditKeyPress(key);
    return;
  }
  if (!CanModify()) return;
  const auto& pos = mask_.positions();
  if (key == 8) {
    if (selAll_) {
      selAll_ = false;
      clearAll();
    } else {
      size_t i = cursor_;
      while (i > 0 && pos[i - 1].kind == rtl::MaskCharKind::Literal) --i;
      if (i == 0) return;
      --i;
      buf_[i] = mask_.blank();
      cursor_ = i;
    }
    Modified = true;
    setTextRaw(EditText());
    Change();
    return;
  }
  if (key < 32) return;
  std::string c = EncodeUtf8(key);
  size_t from = selAll_ ? 0 : cursor_;
  // Typing the literal that stands at the caret steps over it.
  if (from < pos.size() && pos[from].kind == rtl::MaskCharKind::Literal && pos[from].literal == c) {
    if (selAll_) {
      selAll_ = false;
      clearAll();
    }
    cursor_ = from + 1;
    return;
  }
  size_t i = from;
  while (i < pos.size() && pos[i].kind == rtl::MaskCharKind::Literal) ++i;
  if (i >= pos.size()) return;
  if (MaxLength > 0 && i >= static_cast<size_t>(MaxLength)) return;
  if (!mask_.accepts(i, c)) return;  // refused, the edit beeps
  if (selAll_) {
    selAll_ = false;
    clearAll();
  }
  buf_[i] = mask_.convert(i, c);
  cursor_ = i + 1;
  Modified = true;
  setTextRaw(EditText());
  Change();
}

// ---------------------------------------------------------------------------
namespace {
bool parseDate(const std::string& text, rtl::TDateTime& out) {
  int d = 0, m = 0, y = 0;
  char extra = 0;
  if (std::sscanf(text.c_str(), "%d/%d/%d%c", &d, &m, &y, &extra) != 3) return false;
  if (y < 100) y += 2000;  // two-digit years belong to this century
  return rtl::TryEncodeDate(y, m, d, out);
}
}  // namespace

TDateEditPlus::TDateEditPlus(TComponent* owner) : TMaskEdit(owner) { SetEditMask("!99/99/9999;1; "); }

bool TDateEditPlus::IsEmpty() const {
  for (char c : EditText())
    if (c >= '0' && c <= '9') return false;
  return true;
}

std::string TDateEditPlus::Text() const { return IsEmpty() ? std::string() : TMaskEdit::Text(); }

void TDateEditPlus::CheckValidDate() const {
  if (IsEmpty()) return;
  rtl::TDateTime d;
  if (!parseDate(TMaskEdit::Text(), d))
    throw rtl::EConvertError("'" + TMaskEdit::Text() + "' não é uma data válida");
}

rtl::TDateTime TDateEditPlus::GetDate() const {
  if (IsEmpty()) return 0;
  CheckValidDate();
  rtl::TDateTime d = 0;
  parseDate(TMaskEdit::Text(), d);
  return d;
}

void TDateEditPlus::SetDate(rtl::TDateTime d) {
  if (d == 0) {
    SetText("");
    return;
  }
  rtl::DateParts p = rtl::DecodeDate(rtl::DateOf(d));
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", p.day, p.month, p.year);
  SetText(buf);
}

std::string TDateEditPlus::WeekDayName() const {
  if (IsEmpty()) return {};
  rtl::TDateTime d;
  if (!parseDate(TMaskEdit::Text(), d)) return {};
  return WeekDayNames[static_cast<size_t>(rtl::DayOfWeek(d) - 1)];
}

}  // namespace ui
