#include "platform/ui/menus.h"

#include <algorithm>

namespace ui {

namespace {
std::function<void(TMenuItem&)>& menuObserver() {
  static std::function<void(TMenuItem&)> o;
  return o;
}
}  // namespace

void SetMenuChangeObserver(std::function<void(TMenuItem&)> observer) { menuObserver() = std::move(observer); }

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner) {}

TMenuItem::~TMenuItem() {
  BeginDestroy();
  for (TMenuItem* i : items_) i->parent_ = nullptr;
  if (parent_) parent_->Remove(this);
}

void TMenuItem::changed() {
  if (Destroying()) return;
  if (OnChanged) OnChanged(*this);
  if (menuObserver()) menuObserver()(*this);
}

void TMenuItem::SetCaption(std::string c) {
  caption_ = std::move(c);
  changed();
}

void TMenuItem::SetChecked(bool c) {
  if (checked_ == c) return;
  checked_ = c;
  changed();
}

void TMenuItem::SetEnabled(bool e) {
  if (enabled_ == e) return;
  enabled_ = e;
  changed();
}

void TMenuItem::SetVisible(bool v) {
  if (visible_ == v) return;
  visible_ = v;
  changed();
}

void TMenuItem::SetShortCut(TShortCut sc) {
  shortCut_ = sc;
  changed();
}

void TMenuItem::Add(TMenuItem* item) { Insert(Count(), item); }

void TMenuItem::Insert(int index, TMenuItem* item) {
  if (!item) return;
  if (item->parent_) throw EInvalidOperation("Menu inserted twice");
  for (TMenuItem* p = this; p; p = p->parent_)
    if (p == item) throw EInvalidOperation("A menu item cannot contain itself");
  if (index < 0) index = 0;
  if (index > Count()) index = Count();
  items_.insert(items_.begin() + index, item);
  item->parent_ = this;
  changed();
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  items_.erase(it);
  item->parent_ = nullptr;
  changed();
}

int TMenuItem::IndexOf(const TMenuItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

TMenuItem* TMenuItem::Find(std::string_view caption) const {
  for (TMenuItem* i : items_)
    if (StripHotkey(i->caption_) == caption) return i;
  return nullptr;
}

bool TMenuItem::EnabledInTree() const {
  for (const TMenuItem* i = this; i; i = i->parent_)
    if (!i->enabled_) return false;
  return true;
}

void TMenuItem::Click() {
  if (!enabled_) return;
  if (AutoCheck) SetChecked(!checked_);
  if (OnClick) OnClick(*this);
}

TMenuItem* TMenuItem::FindShortCut(TShortCut sc) {
  for (TMenuItem* i : items_) {
    if (i->shortCut_ == sc && sc != 0) return i;
    if (TMenuItem* sub = i->FindShortCut(sc)) return sub;
  }
  return nullptr;
}

TMenu::TMenu(TComponent* owner) : TComponent(owner), items_(new TMenuItem(this)) {}

bool TMenu::IsShortCut(TShortCut sc) {
  TMenuItem* item = items_->FindShortCut(sc);
  if (!item || !item->EnabledInTree()) return false;
  item->Click();
  return true;
}

}  // namespace ui
