#include "platform/ui/controls.h"

#include <algorithm>

#include "platform/rtl/text.h"

namespace ui {

namespace {

TChangeObserver& changeObserver() {
  static TChangeObserver o;
  return o;
}

}  // namespace

void SetChangeObserver(TChangeObserver observer) { changeObserver() = std::move(observer); }

// ---------------------------------------------------------------------------
TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  destroying_ = true;
  DestroyComponents();
  if (owner_) {
    auto& v = owner_->components_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) delete components_.back();
}

void TComponent::SetName(std::string name) {
  if (rtl::SameText(name, name_)) {
    name_ = std::move(name);
    return;
  }
  if (owner_ && !name.empty() && owner_->FindComponent(name))
    throw EComponentError("A component named " + name + " already exists");
  name_ = std::move(name);
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (rtl::SameText(c->name_, name)) return c;
  return nullptr;
}

// ---------------------------------------------------------------------------
TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl() { SetParentQuiet(nullptr); }

void TControl::SetParentQuiet(TWinControl* parent) {
  if (parent_ == parent) return;
  if (parent_) {
    if (auto* w = dynamic_cast<TWinControl*>(this)) {
      if (TCustomForm* f = ParentForm()) f->forget(w);
      auto& t = parent_->tabList_;
      t.erase(std::remove(t.begin(), t.end(), w), t.end());
    }
    auto& v = parent_->controls_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
    TWinControl* old = parent_;
    parent_ = nullptr;
    if (!old->Destroying()) old->ControlRemoved(this);
  }
  parent_ = parent;
  if (parent_) {
    parent_->controls_.push_back(this);
    if (auto* w = dynamic_cast<TWinControl*>(this)) parent_->tabList_.push_back(w);
    parent_->ControlAdded(this);
  }
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == this) throw EInvalidOperation("A control cannot be its own parent");
  for (TWinControl* p = parent; p; p = p->Parent())
    if (p == this) throw EInvalidOperation("A control cannot be a parent of its own parent");
  SetParentQuiet(parent);
  Changed();
}

void TControl::SetVisible(bool v) {
  if (visible_ == v) return;
  visible_ = v;
  Changed();
}

void TControl::SetEnabled(bool e) {
  if (enabled_ == e) return;
  enabled_ = e;
  Changed();
}

void TControl::SetCaption(std::string c) {
  if (caption_ == c) return;
  caption_ = std::move(c);
  Changed();
}

void TControl::SetHint(std::string h) {
  hint_ = std::move(h);
  Changed();
}

bool TControl::Showing() const {
  const TControl* c = this;
  for (;;) {
    if (!c->visible_) return false;
    if (!c->parent_) return dynamic_cast<const TCustomForm*>(c) != nullptr;
    c = c->parent_;
  }
}

bool TControl::EnabledInTree() const {
  for (const TControl* c = this; c; c = c->parent_)
    if (!c->enabled_) return false;
  return true;
}

TCustomForm* TControl::ParentForm() const {
  const TControl* c = this;
  while (c->parent_) c = c->parent_;
  return dynamic_cast<TCustomForm*>(const_cast<TControl*>(c));
}

void TControl::Changed() {
  if (Destroying()) return;
  if (OnChanged) OnChanged(*this);
  if (changeObserver()) changeObserver()(*this);
}

// ---------------------------------------------------------------------------
TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  // Leave the parent while this is still a TWinControl, so that its tab list
  // and the form's focus forget it.
  SetParentQuiet(nullptr);
  // Children outliving their container lose their parent, never a dangling one.
  while (!controls_.empty()) controls_.back()->SetParentQuiet(nullptr);
}

bool TWinControl::ContainsControl(const TControl* c) const {
  for (; c; c = c->Parent())
    if (c == this) return true;
  return false;
}

int TWinControl::TabOrder() const {
  if (!Parent()) return -1;
  const auto& t = Parent()->tabList_;
  auto it = std::find(t.begin(), t.end(), this);
  return it == t.end() ? -1 : static_cast<int>(it - t.begin());
}

void TWinControl::SetTabOrder(int order) {
  if (!Parent()) return;
  auto& t = Parent()->tabList_;
  t.erase(std::remove(t.begin(), t.end(), this), t.end());
  if (order < 0) order = 0;
  if (order > static_cast<int>(t.size())) order = static_cast<int>(t.size());
  t.insert(t.begin() + order, this);
}

bool TWinControl::CanFocus() const {
  TCustomForm* form = ParentForm();
  if (!form) return false;
  for (const TControl* c = this; c; c = c->Parent())
    if (!c->Visible() || !c->Enabled()) return false;
  return true;
}

bool TWinControl::Focused() const {
  TCustomForm* form = ParentForm();
  return form && Screen().ActiveForm() == form && form->ActiveControl() == this;
}

void TWinControl::SetFocus() {
  TCustomForm* form = ParentForm();
  if (!form) throw EInvalidOperation(SCannotFocus);
  form->FocusControl(this);
}

void TWinControl::GetTabOrderList(std::vector<TWinControl*>& list) const {
  for (TWinControl* c : tabList_) {
    list.push_back(c);
    c->GetTabOrderList(list);
  }
}

TWinControl* TWinControl::FindNextControl(TWinControl* current, bool goForward, bool checkTabStop,
                                          bool checkParent) const {
  std::vector<TWinControl*> list;
  GetTabOrderList(list);
  if (list.empty()) return nullptr;
  int n = static_cast<int>(list.size());
  auto it = std::find(list.begin(), list.end(), current);
  int start = it == list.end() ? (goForward ? n - 1 : 0) : static_cast<int>(it - list.begin());
  int i = start;
  do {
    if (goForward) {
      if (++i == n) i = 0;
    } else {
      if (i == 0) i = n;
      --i;
    }
    TWinControl* c = list[i];
    if (c->CanFocus() && (!checkTabStop || c->TabStop) && (!checkParent || c->Parent() == this)) return c;
  } while (i != start);
  return nullptr;
}

void TWinControl::SelectNext(TWinControl* current, bool goForward, bool checkTabStop) {
  if (TWinControl* c = FindNextControl(current, goForward, checkTabStop, !checkTabStop)) c->SetFocus();
}

void TWinControl::SelectFirst() {
  TCustomForm* form = ParentForm();
  if (!form) return;
  TWinControl* c = FindNextControl(nullptr, true, true, false);
  if (!c) c = FindNextControl(nullptr, true, false, false);
  if (c) form->SetActiveControl(c);
}

void TWinControl::DoEnter() {
  if (OnEnter) OnEnter(*this);
}

void TWinControl::DoExit() {
  if (OnExit) OnExit(*this);
}

void TWinControl::KeyDown(Word& key, TShiftState shift) {
  if (OnKeyDown) OnKeyDown(*this, key, shift);
}

void TWinControl::KeyPress(TChar& key) {
  if (OnKeyPress) OnKeyPress(*this, key);
}

void TWinControl::KeyUp(Word& key, TShiftState shift) {
  if (OnKeyUp) OnKeyUp(*this, key, shift);
}

bool TWinControl::WantsKey(Word, TShiftState) const { return false; }

bool TWinControl::HandleDialogKey(Word key, TShiftState shift) {
  for (TControl* c : controls_) {
    auto* w = dynamic_cast<TWinControl*>(c);
    if (w && w->Visible() && w->HandleDialogKey(key, shift)) return true;
  }
  return false;
}

bool TWinControl::HandleAccelerator(char hotkey) {
  for (TControl* c : controls_) {
    if (!c->Visible() || !c->Enabled()) continue;
    if (c->Accelerator(hotkey)) return true;
    if (auto* w = dynamic_cast<TWinControl*>(c); w && w->HandleAccelerator(hotkey)) return true;
  }
  return false;
}

}  // namespace ui
