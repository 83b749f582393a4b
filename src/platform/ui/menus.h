#pragma once
// Menus: items with captions (& marks the accelerator), checked and enabled
// states, shortcuts the form dispatches, click handlers and sub-items.

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/controls.h"

namespace ui {

class TMenu;

class TMenuItem : public TComponent {
public:
  explicit TMenuItem(TComponent* owner = nullptr);
  ~TMenuItem() override;

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string c);
  bool IsLine() const { return caption_ == "-"; }
  bool Checked() const { return checked_; }
  void SetChecked(bool c);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool e);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  TShortCut ShortCut() const { return shortCut_; }
  void SetShortCut(TShortCut sc);
  std::string Hint;
  int GroupIndex = 0;
  bool RadioItem = false;
  bool AutoCheck = false;

  // Sub-items.
  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Items(int i) const { return items_.at(static_cast<size_t>(i)); }
  void Add(TMenuItem* item);
  // At position index (0-based; clamped to the end).
  void Insert(int index, TMenuItem* item);
  void Remove(TMenuItem* item);
  int IndexOf(const TMenuItem* item) const;
  TMenuItem* Parent() const { return parent_; }
  TMenuItem* Find(std::string_view caption) const;  // caption without accelerator marks

  // Runs OnClick when the item is enabled.
  void Click();
  // Enabled itself and every parent item.
  bool EnabledInTree() const;
  TMenuItem* FindShortCut(TShortCut sc);

  TNotifyEvent OnClick;
  std::function<void(TMenuItem&)> OnChanged;

private:
  void changed();
  std::string caption_;
  bool checked_ = false;
  bool enabled_ = true;
  bool visible_ = true;
  TShortCut shortCut_ = 0;
  std::vector<TMenuItem*> items_;
  TMenuItem* parent_ = nullptr;
};

class TMenu : public TComponent {
public:
  explicit TMenu(TComponent* owner = nullptr);
  TMenuItem& Items() { return *items_; }
  // Clicks the enabled item with this shortcut; true when one was clicked.
  bool IsShortCut(TShortCut sc);

private:
  TMenuItem* items_;
};

class TMainMenu : public TMenu {
public:
  using TMenu::TMenu;
};

class TPopupMenu : public TMenu {
public:
  using TMenu::TMenu;
};

void SetMenuChangeObserver(std::function<void(TMenuItem&)> observer);

}  // namespace ui
