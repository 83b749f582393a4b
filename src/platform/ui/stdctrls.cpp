#include "platform/ui/stdctrls.h"

#include <cctype>

#include "platform/rtl/text.h"
#include "platform/ui/menus.h"
#include "platform/ui/services.h"

namespace ui {

// ---------------------------------------------------------------------------
void TLabel::SetBold(bool b) {
  if (bold_ == b) return;
  bold_ = b;
  Changed();
}

void TLabel::Activate() {
  if (FocusControl && FocusControl->CanFocus()) FocusControl->SetFocus();
}

bool TLabel::Accelerator(char hotkey) {
  if (HotkeyOf(Caption()) != hotkey || !FocusControl || !FocusControl->CanFocus()) return false;
  FocusControl->SetFocus();
  return true;
}

// ---------------------------------------------------------------------------
TCustomEdit::TCustomEdit(TComponent* owner) : TWinControl(owner) { TabStop = true; }

void TCustomEdit::setTextRaw(std::string t) { text_ = std::move(t); }

void TCustomEdit::SetText(std::string t) {
  if (t == text_) return;
  text_ = std::move(t);
  Modified = false;
  selAll_ = false;
  Change();
}

void TCustomEdit::SetReadOnly(bool r) {
  if (readOnly_ == r) return;
  readOnly_ = r;
  Changed();
}

void TCustomEdit::SelectAll() { selAll_ = true; }

void TCustomEdit::Change() {
  Changed();
  if (OnChange) OnChange(*this);
}

void TCustomEdit::DoEnter() {
  if (AutoSelect) selAll_ = true;
  TWinControl::DoEnter();
}

void TCustomEdit::DoExit() {
  selAll_ = false;
  TWinControl::DoExit();
}

// A refused value is selected, so that what the user types next replaces it.
void TCustomEdit::FocusKept() {
  if (!AutoSelect) return;
  selAll_ = true;
  Changed();
}

bool TCustomEdit::WantsKey(Word key, TShiftState) const {
  return key >= VK_LEFT && key <= VK_DOWN;
}

void TCustomEdit::KeyDown(Word& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  if (key == 'A' && shift == ssCtrl) {
    SelectAll();
    Changed();
  } else if (key == VK_DELETE && selAll_ && !text_.empty() && CanModify()) {
    selAll_ = false;
    text_.clear();
    Modified = true;
    Change();
  } else if (key == VK_LEFT || key == VK_RIGHT || key == VK_HOME || key == VK_END) {
    selAll_ = false;
  }
}

void TCustomEdit::KeyPress(TChar& key) {
  TWinControl::KeyPress(key);
  if (key != 0) EditKeyPress(key);
}

void TCustomEdit::EditKeyPress(TChar key) {
  if (key == 8) {
    if (text_.empty() || !CanModify()) return;
    text_ = selAll_ ? std::string() : rtl::Utf8DropLast(text_);
    selAll_ = false;
    Modified = true;
    Change();
    return;
  }
  if (key < 32) return;
  if (!CanModify()) return;
  TChar c = key;
  if (c < 128) {
    if (CharCase == TEditCharCase::UpperCase) c = static_cast<TChar>(std::toupper(static_cast<int>(c)));
    if (CharCase == TEditCharCase::LowerCase) c = static_cast<TChar>(std::tolower(static_cast<int>(c)));
  }
  std::string base = selAll_ ? std::string() : text_;
  if (MaxLength > 0 && rtl::Utf8Length(base) >= static_cast<size_t>(MaxLength)) return;  // refused, as a full edit beeps
  selAll_ = false;
  text_ = base + EncodeUtf8(c);
  Modified = true;
  Change();
}

// ---------------------------------------------------------------------------
TButton::TButton(TComponent* owner) : TWinControl(owner) { TabStop = true; }

void TButton::Click() {
  if (ModalResult != mrNone)
    if (TCustomForm* f = ParentForm()) f->SetModalResult(ModalResult);
  if (OnClick) OnClick(*this);
}

void TButton::KeyPress(TChar& key) {
  TWinControl::KeyPress(key);
  if (key == ' ') Click();
}

bool TButton::HandleDialogKey(Word key, TShiftState) {
  if (!CanFocus()) return false;
  if ((key == VK_RETURN && (Default || Focused())) || (key == VK_ESCAPE && Cancel)) {
    Click();
    return true;
  }
  return false;
}

bool TButton::Accelerator(char hotkey) {
  if (HotkeyOf(Caption()) != hotkey || !CanFocus()) return false;
  SetFocus();
  if (Focused()) Click();
  return true;
}

// ---------------------------------------------------------------------------
void TButtonFlat::SetEnabled(bool e) {
  TControl::SetEnabled(e);
  if (menuItem_) menuItem_->SetEnabled(e);
}

void TButtonFlat::SetMenuItem(TMenuItem* item) {
  menuItem_ = item;
  if (menuItem_) menuItem_->SetEnabled(Enabled());
}

// ---------------------------------------------------------------------------
bool TBtnPesquisa::Click() {
  if (BeforePesq) BeforePesq(*this);
  ILookupDialog* dlg = Application().services().Lookup;
  if (!dlg) throw EInvalidOperation("No lookup dialog is available");
  LookupRequest req;
  req.DataSource = DataSource;
  req.Title = Title;
  req.EmptyText = EmptyText;
  if (!dlg->Pick(req)) return false;
  if (AfterPesq) AfterPesq(*this);
  if (Control && Control->CanFocus() && !Control->Focused()) Control->SetFocus();
  return true;
}

// ---------------------------------------------------------------------------
TCheckBox::TCheckBox(TComponent* owner) : TWinControl(owner) { TabStop = true; }

void TCheckBox::SetChecked(bool c) {
  if (checked_ == c) return;
  checked_ = c;
  Changed();
  if (OnClick) OnClick(*this);
}

void TCheckBox::KeyPress(TChar& key) {
  TWinControl::KeyPress(key);
  if (key == ' ') SetChecked(!checked_);
}

TRadioButton::TRadioButton(TComponent* owner) : TWinControl(owner) { TabStop = true; }

void TRadioButton::SetChecked(bool c) {
  if (checked_ == c) return;
  checked_ = c;
  if (c && Parent())
    for (TControl* s : Parent()->Controls())
      if (auto* r = dynamic_cast<TRadioButton*>(s); r && r != this && r->checked_) {
        r->checked_ = false;
        r->Changed();
      }
  Changed();
  if (c && OnClick) OnClick(*this);
}

void TRadioButton::KeyPress(TChar& key) {
  TWinControl::KeyPress(key);
  if (key == ' ') SetChecked(true);
}

TRadioGroup::TRadioGroup(TComponent* owner) : TWinControl(owner) { TabStop = true; }

void TRadioGroup::SetItemIndex(int i) {
  if (i < -1 || i >= static_cast<int>(Items.size())) throw EInvalidOperation("List index out of bounds (" + std::to_string(i) + ")");
  if (itemIndex_ == i) return;
  itemIndex_ = i;
  Changed();
  if (OnClick) OnClick(*this);
}

bool TRadioGroup::WantsKey(Word key, TShiftState) const { return key >= VK_LEFT && key <= VK_DOWN; }

void TRadioGroup::KeyDown(Word& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  int n = static_cast<int>(Items.size());
  if (n == 0) return;
  if (key == VK_DOWN || key == VK_RIGHT) SetItemIndex(itemIndex_ + 1 < n ? itemIndex_ + 1 : n - 1);
  if (key == VK_UP || key == VK_LEFT) SetItemIndex(itemIndex_ > 0 ? itemIndex_ - 1 : 0);
}

TComboBox::TComboBox(TComponent* owner) : TWinControl(owner) { TabStop = true; }

void TComboBox::SetItemIndex(int i) {
  if (i < -1 || i >= static_cast<int>(Items.size())) throw EInvalidOperation("List index out of bounds (" + std::to_string(i) + ")");
  itemIndex_ = i;
  text_ = i >= 0 ? Items[static_cast<size_t>(i)] : std::string();
  Changed();
}

void TComboBox::SetText(std::string t) {
  text_ = std::move(t);
  itemIndex_ = -1;
  for (size_t i = 0; i < Items.size(); ++i)
    if (Items[i] == text_) itemIndex_ = static_cast<int>(i);
  Changed();
}

void TComboBox::Select(int i) {
  SetItemIndex(i);
  if (OnChange) OnChange(*this);
  if (OnSelect) OnSelect(*this);
}

bool TComboBox::WantsKey(Word key, TShiftState) const { return key >= VK_LEFT && key <= VK_DOWN; }

void TComboBox::KeyDown(Word& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  int n = static_cast<int>(Items.size());
  if (n == 0) return;
  if (key == VK_DOWN && itemIndex_ + 1 < n) Select(itemIndex_ + 1);
  if (key == VK_UP && itemIndex_ > 0) Select(itemIndex_ - 1);
}

void TComboBox::KeyPress(TChar& key) {
  TWinControl::KeyPress(key);
  if (key == 0 || Style != TComboBoxStyle::DropDown) return;
  if (key == 8)
    text_ = rtl::Utf8DropLast(text_);
  else if (key >= 32)
    text_ += EncodeUtf8(key);
  else
    return;
  itemIndex_ = -1;
  Changed();
  if (OnChange) OnChange(*this);
}

}  // namespace ui
