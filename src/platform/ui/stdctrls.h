#pragma once
// Standard controls: labels, panels, group boxes, edits, buttons, tool and
// lookup buttons, check and radio buttons, radio groups and combo boxes.

#include <string>
#include <vector>

#include "platform/ui/controls.h"

namespace data {
class TDataSource;
}

namespace ui {

class TMenuItem;

class TLabel : public TControl {
public:
  explicit TLabel(TComponent* owner = nullptr) : TControl(owner) {}
  TWinControl* FocusControl = nullptr;
  bool Bold() const { return bold_; }
  void SetBold(bool b);
  TAlignment Alignment = TAlignment::LeftJustify;
  // The label's accelerator: focuses FocusControl.
  void Activate();
  bool Accelerator(char hotkey) override;

private:
  bool bold_ = false;
};

class TPanel : public TWinControl {
public:
  explicit TPanel(TComponent* owner = nullptr) : TWinControl(owner) {}
};

class TGroupBox : public TWinControl {
public:
  explicit TGroupBox(TComponent* owner = nullptr) : TWinControl(owner) {}
};

enum class TEditCharCase { Normal, UpperCase, LowerCase };

// Text editing model: the caret stays at the end; entering the control with
// AutoSelect selects the whole text, so that the first character typed
// replaces it (as a keyboard user sees it).
class TCustomEdit : public TWinControl {
public:
  explicit TCustomEdit(TComponent* owner = nullptr);

  virtual std::string Text() const { return text_; }
  virtual void SetText(std::string t);
  int MaxLength = 0;  // characters; 0 is unlimited
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool r);
  bool AutoSelect = true;
  TEditCharCase CharCase = TEditCharCase::Normal;
  bool Modified = false;
  bool SelectedAll() const { return selAll_; }
  void SelectAll();
  void ClearSelection() { selAll_ = false; }

  TNotifyEvent OnChange;

  void DoEnter() override;
  void DoExit() override;
  void FocusKept() override;
  void KeyDown(Word& key, TShiftState shift) override;
  void KeyPress(TChar& key) override;
  bool WantsKey(Word key, TShiftState shift) const override;

protected:
  // Whether the user may change the text now (data-aware edits start an edit here).
  virtual bool CanModify() { return !readOnly_; }
  // What a typed character does to the text once the handlers let it through.
  virtual void EditKeyPress(TChar key);
  virtual void Change();
  // Stores a text without the change notification's side effects on Modified.
  void setTextRaw(std::string t);
  const std::string& rawText() const { return text_; }
  bool selAll_ = false;

private:
  std::string text_;
  bool readOnly_ = false;
};

class TEdit : public TCustomEdit {
public:
  using TCustomEdit::TCustomEdit;
};

class TButton : public TWinControl {
public:
  explicit TButton(TComponent* owner = nullptr);
  bool Default = false;
  bool Cancel = false;
  TModalResult ModalResult = mrNone;
  TNotifyEvent OnClick;
  // Sets the form's ModalResult (when not none), then runs OnClick.
  virtual void Click();
  void KeyPress(TChar& key) override;
  bool HandleDialogKey(Word key, TShiftState shift) override;
  // A mnemonic focuses the button, then clicks it when the focus arrived.
  bool Accelerator(char hotkey) override;
};

// A flat tool button: takes no focus (clicking it leaves the focus where it is)
// and keeps its associated menu item's enabled state equal to its own.
class TButtonFlat : public TControl {
public:
  explicit TButtonFlat(TComponent* owner = nullptr) : TControl(owner) {}
  void SetEnabled(bool e) override;
  TMenuItem* MenuItem() const { return menuItem_; }
  void SetMenuItem(TMenuItem* item);
  bool Down = false;
  TNotifyEvent OnClick;
  void Click() {
    if (OnClick) OnClick(*this);
  }

private:
  TMenuItem* menuItem_ = nullptr;
};

// A lookup button: BeforePesq, then the host's lookup dialog over DataSource,
// then AfterPesq when a row was picked (the data set stands on it).
class TBtnPesquisa : public TControl {
public:
  explicit TBtnPesquisa(TComponent* owner = nullptr) : TControl(owner) {}
  std::string Title;
  std::string EmptyText;  // shown when the list is empty
  TWinControl* Control = nullptr;  // the edit the lookup fills
  data::TDataSource* DataSource = nullptr;
  TNotifyEvent BeforePesq;
  TNotifyEvent AfterPesq;
  // Returns whether a row was picked.
  bool Click();
};

class TCheckBox : public TWinControl {
public:
  explicit TCheckBox(TComponent* owner = nullptr);
  bool Checked() const { return checked_; }
  // A change runs OnClick, as the platform does.
  void SetChecked(bool c);
  TNotifyEvent OnClick;
  void KeyPress(TChar& key) override;

private:
  bool checked_ = false;
};

class TRadioButton : public TWinControl {
public:
  explicit TRadioButton(TComponent* owner = nullptr);
  bool Checked() const { return checked_; }
  // Checking one unchecks the other radio buttons of the same parent and runs OnClick.
  void SetChecked(bool c);
  TNotifyEvent OnClick;
  void KeyPress(TChar& key) override;

private:
  bool checked_ = false;
};

class TRadioGroup : public TWinControl {
public:
  explicit TRadioGroup(TComponent* owner = nullptr);
  std::vector<std::string> Items;
  int ItemIndex() const { return itemIndex_; }
  // A change runs OnClick.
  void SetItemIndex(int i);
  TNotifyEvent OnClick;
  void KeyDown(Word& key, TShiftState shift) override;
  bool WantsKey(Word key, TShiftState shift) const override;

private:
  int itemIndex_ = -1;
};

enum class TComboBoxStyle { DropDown, DropDownList };

class TComboBox : public TWinControl {
public:
  explicit TComboBox(TComponent* owner = nullptr);
  TComboBoxStyle Style = TComboBoxStyle::DropDown;
  std::vector<std::string> Items;
  int ItemIndex() const { return itemIndex_; }
  // Code: no events.
  void SetItemIndex(int i);
  std::string Text() const { return text_; }
  void SetText(std::string t);
  // The user picks an item: OnChange then OnSelect.
  void Select(int i);
  TNotifyEvent OnChange;
  TNotifyEvent OnSelect;
  void KeyDown(Word& key, TShiftState shift) override;
  void KeyPress(TChar& key) override;
  bool WantsKey(Word key, TShiftState shift) const override;

private:
  int itemIndex_ = -1;
  std::string text_;
};

}  // namespace ui
