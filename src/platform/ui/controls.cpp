#include "platform/ui/controls.h"

#include <algorithm>
#include <iostream>

#include "platform/rtl/scoped.h"
#include "platform/rtl/text.h"
#include "platform/ui/menus.h"
#include "platform/ui/services.h"

namespace ui {

namespace {

TChangeObserver& changeObserver() {
  static TChangeObserver o;
  return o;
}

// Counts the focus moves and the activations, so that a move can tell that a
// handler it called has moved the focus elsewhere.
struct FocusCounter {
  int& count;
  int mine;
  explicit FocusCounter(int& c) : count(c), mine(++c) {}
  bool moved() const { return count != mine; }
};

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

// ---------------------------------------------------------------------------
TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner) {
  TControl::SetVisible(false);
  Screen().addForm(this);
}

TCustomForm::~TCustomForm() {
  BeginDestroy();
  if (OnDestroy) {
    try {
      OnDestroy(*this);
    } catch (const std::exception& e) {
      Application().HandleException(e);
    }
  }
  bool wasActive = Screen().ActiveForm() == this;
  Screen().removeForm(this);
  auto& rel = Application().releases_;
  rel.erase(std::remove(rel.begin(), rel.end(), this), rel.end());
  // The controls go while the form is whole, so that their bookkeeping finds it.
  DestroyComponents();
  if (wasActive && !Application().DestroyingForms()) {
    if (TCustomForm* next = Screen().nextActiveAfter(nullptr)) {
      try {
        next->Show();
      } catch (const std::exception& e) {
        Application().HandleException(e);
      }
    }
  }
}

void TCustomForm::forget(TWinControl* c) {
  if (active_ && c->ContainsControl(active_)) active_ = nullptr;
  if (focused_ && c->ContainsControl(focused_)) focused_ = c->Parent();
}

void TCustomForm::AfterConstruction() {
  if (OnCreate) OnCreate(*this);
}

void TCustomForm::SetVisible(bool v) {
  if (v)
    Show();
  else
    Hide();
}

void TCustomForm::SetWindowState(TWindowState s) {
  if (windowState_ == s) return;
  windowState_ = s;
  Changed();
}

bool TCustomForm::Active() const { return Screen().ActiveForm() == this; }

void TCustomForm::SetActiveControl(TWinControl* c) {
  if (c && (c == this || c->ParentForm() != this)) throw EInvalidOperation(SCannotFocus);
  if (!Showing()) {
    active_ = c;
    return;
  }
  if (c && !c->CanFocus()) throw EInvalidOperation(SCannotFocus);
  if (Active())
    SetFocusedControl(c ? c : this);
  else
    active_ = c;
}

void TCustomForm::FocusControl(TWinControl* c) {
  if (!c || !c->CanFocus()) throw EInvalidOperation(SCannotFocus);
  SetFocusedControl(c);
}

void TCustomForm::DoActivate() {
  if (OnActivate) OnActivate(*this);
}

void TCustomForm::DoDeactivate() {
  if (OnDeactivate) OnDeactivate(*this);
}

void TCustomForm::SetFocusedControl(TWinControl* c) {
  if (!c) c = this;
  FocusCounter counter(Screen().focusCount_);
  TWinControl* previousActive = active_;
  TWinControl* origin = focused_;
  active_ = c == this ? nullptr : c;

  TScreen& screen = Screen();
  if (screen.active_ != this) {
    TCustomForm* old = screen.active_;
    screen.active_ = nullptr;
    if (old) {
      old->DoDeactivate();
      if (counter.moved()) return;
    }
    screen.active_ = this;
    screen.bringToFront(this);
    DoActivate();
    if (counter.moved()) return;
  }

  if (!focused_) focused_ = this;
  if (focused_ == c) {
    Changed();
    return;
  }
  // Exits, innermost first. The pointer moves to the parent before the handler
  // runs, so a handler that focuses another control starts its move from there.
  try {
    while (focused_ && !focused_->ContainsControl(c)) {
      TWinControl* leaving = focused_;
      focused_ = focused_->Parent();
      leaving->DoExit();
      if (counter.moved()) return;
    }
  } catch (...) {
    if (!counter.moved()) {
      // The move ends: the focus stays where it was.
      focused_ = origin;
      active_ = previousActive;
      if (origin && origin != this) origin->FocusKept();
      Changed();
    }
    throw;
  }
  if (!focused_) focused_ = this;
  // Enters, outermost first. A failing enter handler leaves the focus on the
  // new control (it has been given the focus; only its handlers failed).
  try {
    while (focused_ != c) {
      TWinControl* t = c;
      while (t->Parent() != focused_) t = t->Parent();
      focused_ = t;
      t->DoEnter();
      if (counter.moved()) return;
    }
  } catch (...) {
    if (!counter.moved()) focused_ = c;
    Changed();
    throw;
  }
  Changed();
}

void TCustomForm::Show() {
  if (!Visible()) {
    TControl::SetVisible(true);
    if (OnShow) OnShow(*this);
  }
  TWinControl* target = active_;
  if (!target || !target->CanFocus()) target = FindNextControl(nullptr, true, true, false);
  SetFocusedControl(target ? target : this);
}

void TCustomForm::Hide() {
  if (!Visible()) return;
  TControl::SetVisible(false);
  if (OnHide) OnHide(*this);
  TScreen& screen = Screen();
  if (screen.active_ == this) {
    screen.active_ = nullptr;
    DoDeactivate();
    if (TCustomForm* next = screen.nextActiveAfter(this)) next->Show();
  }
}

TModalResult TCustomForm::ShowModal() {
  if (Visible() || modal_) throw EInvalidOperation("Cannot make a visible window modal");
  IModalLoop* loop = Application().services().Modal;
  if (!loop) throw EInvalidOperation("No modal loop is available");
  modal_ = true;
  modalDone_ = false;
  modalResult_ = mrNone;
  try {
    Show();
    loop->Run(*this);
  } catch (...) {
    modal_ = false;
    TControl::SetVisible(true);  // so that Hide runs its deactivation
    Hide();
    throw;
  }
  modal_ = false;
  Hide();
  if (freeAfterModal_) {
    freeAfterModal_ = false;
    Release();
  }
  return modalResult_;
}

void TCustomForm::SetModalResult(TModalResult r) {
  modalResult_ = r;
  if (r == mrNone) modalDone_ = false;
  Changed();
}

void TCustomForm::CheckModalClose() {
  if (!modal_ || modalDone_ || closingModal_ || modalResult_ == mrNone) return;
  closingModal_ = true;
  try {
    TCloseAction action = TCloseAction::None;
    if (CloseQuery()) {
      action = TCloseAction::Hide;
      DoClose(action);
    }
    if (action == TCloseAction::None) {
      modalResult_ = mrNone;
    } else {
      modalDone_ = true;
      if (action == TCloseAction::Free) freeAfterModal_ = true;
    }
  } catch (const std::exception& e) {
    closingModal_ = false;
    modalResult_ = mrNone;
    if (dynamic_cast<const EScriptError*>(&e)) throw;
    Application().HandleException(e);
    return;
  }
  closingModal_ = false;
}

bool TCustomForm::CloseQuery() {
  bool can = true;
  if (OnCloseQuery) OnCloseQuery(*this, can);
  return can;
}

void TCustomForm::DoClose(TCloseAction& action) {
  if (OnClose) OnClose(*this, action);
}

void TCustomForm::Close() {
  if (modal_) {
    SetModalResult(mrCancel);
    // Outside a user action nobody else would end the loop.
    if (Application().ActionDepth() == 0) CheckModalClose();
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = FormStyle == TFormStyle::MDIChild ? TCloseAction::Minimize : TCloseAction::Hide;
  DoClose(action);
  switch (action) {
    case TCloseAction::None: break;
    case TCloseAction::Hide: Hide(); break;
    case TCloseAction::Minimize: SetWindowState(TWindowState::Minimized); break;
    case TCloseAction::Free:
      Hide();
      Release();
      break;
  }
}

void TCustomForm::Release() {
  if (Owner())
    Application().QueueRelease(this);
  else
    Hide();
}

bool TCustomForm::IsShortCut(Word key, TShiftState shift, TWinControl* target) {
  if (OnShortCut) {
    bool handled = false;
    OnShortCut(key, shift, handled);
    if (handled) return true;
  }
  TShortCut sc = ShortCut(key, shift);
  for (TControl* c = target; c; c = c->Parent())
    if (c->PopupMenu && c->PopupMenu->IsShortCut(sc)) return true;
  if (Menu && Menu->IsShortCut(sc)) return true;
  TCustomForm* main = Application().MainForm;
  if (FormStyle == TFormStyle::MDIChild && main && main != this && main->Menu && main->Menu->IsShortCut(sc))
    return true;
  return false;
}

bool TCustomForm::DialogKey(Word key, TShiftState shift) {
  if (shift & ssAlt) return false;
  switch (key) {
    case VK_TAB:
      if (shift & ssCtrl) return false;
      SelectNext(active_, !(shift & ssShift), true);
      return true;
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
      if (active_ && active_->Parent()) {
        TWinControl* next =
            active_->Parent()->FindNextControl(active_, key == VK_RIGHT || key == VK_DOWN, false, true);
        if (next) next->SetFocus();
        return true;
      }
      return false;
    case VK_RETURN:
    case VK_ESCAPE:
      if (shift != ssNone) return false;
      return HandleDialogKey(key, shift);
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------
TWinControl* TScreen::ActiveControl() const { return active_ ? active_->ActiveControl() : nullptr; }

void TScreen::SetCursor(TCursor c) {
  cursor_ = c;
  if (IScreenCursor* s = Application().services().Cursor) s->SetCursor(c);
}

TCustomForm* TScreen::FindForm(std::string_view name) const {
  for (TCustomForm* f : forms_)
    if (rtl::SameText(f->Name(), name)) return f;
  return nullptr;
}

TCustomForm* TScreen::ModalForm() const {
  // Forms are kept most recently active first; a modal form is activated when shown.
  for (TCustomForm* f : forms_)
    if (f->Modal() && f->Visible() && !f->ModalDone()) return f;
  return nullptr;
}

void TScreen::addForm(TCustomForm* f) { forms_.push_back(f); }

void TScreen::removeForm(TCustomForm* f) {
  forms_.erase(std::remove(forms_.begin(), forms_.end(), f), forms_.end());
  if (active_ == f) active_ = nullptr;
}

void TScreen::bringToFront(TCustomForm* f) {
  forms_.erase(std::remove(forms_.begin(), forms_.end(), f), forms_.end());
  forms_.insert(forms_.begin(), f);
}

TCustomForm* TScreen::nextActiveAfter(TCustomForm* leaving) const {
  for (TCustomForm* f : forms_)
    if (f != leaving && f->Visible() && !f->Destroying()) return f;
  return nullptr;
}

TScreen& Screen() {
  static TScreen screen;
  return screen;
}

// ---------------------------------------------------------------------------
namespace {
ScriptedServices& defaultServices() {
  static ScriptedServices s;
  return s;
}
}  // namespace

TApplication::TApplication() : TComponent(nullptr) {
  Screen();  // the screen outlives the application's forms
  defaultServices();
}

TApplication::~TApplication() {
  BeginDestroy();
  DestroyForms();
}

Services& TApplication::services() { return services_ ? *services_ : defaultServices().services(); }

Services* TApplication::SetServices(Services* s) {
  Services* old = services_;
  services_ = s;
  return old;
}

void TApplication::HandleException(const std::exception& e) {
  if (dynamic_cast<const rtl::EAbort*>(&e)) return;
  if (OnException) {
    OnException(e);
    return;
  }
  if (IErrorReport* r = services().Errors)
    r->ShowError(e.what());
  else
    std::cerr << e.what() << '\n';
}

void TApplication::Perform(const std::function<void()>& action) {
  {
    rtl::ScopedAssign<int> depth(depth_, depth_ + 1);
    try {
      action();
    } catch (const EScriptError&) {
      throw;
    } catch (const std::exception& e) {
      HandleException(e);
    }
    // A modal form whose result was set during the action may now end its loop.
    std::vector<TCustomForm*> forms = Screen().Forms();
    for (TCustomForm* f : forms)
      if (f->Modal() && f->ModalResult() != mrNone && !f->ModalDone()) f->CheckModalClose();
  }
  if (depth_ == 0) ProcessReleases();
}

void TApplication::PressKey(Word key, TShiftState shift) { KeyStroke(key, shift, KeyChar(key, shift)); }

void TApplication::TypeChar(TChar c) {
  TShiftState shift = (c >= 'A' && c <= 'Z') ? ssShift : ssNone;
  KeyStroke(CharKey(c), shift, c);
}

void TApplication::KeyStroke(Word key, TShiftState shift, TChar ch) {
  Perform([&] { keyStroke(key, shift, ch); });
}

void TApplication::keyStroke(Word key, TShiftState shift, TChar ch) {
  TCustomForm* form = Screen().ActiveForm();
  if (!form) return;
  TWinControl* target = form->ActiveControl() ? form->ActiveControl() : form;
  // A control disabled or hidden while it had the focus takes no keys.
  if (target != form && !target->CanFocus()) target = form;
  if (key != 0) {
    if (form->IsShortCut(key, shift, target)) return;
    if (shift == ssAlt && ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) &&
        form->HandleAccelerator(static_cast<char>(key)))
      return;
    bool dialogKey = key == VK_TAB || key == VK_RETURN || key == VK_ESCAPE || (key >= VK_LEFT && key <= VK_DOWN);
    if (dialogKey && !target->WantsKey(key, shift) && form->DialogKey(key, shift)) return;
    Word k = key;
    if (target != form && form->KeyPreview && form->OnKeyDown) form->OnKeyDown(*form, k, shift);
    if (k != 0) target->KeyDown(k, shift);
  }
  // The character goes to the control the key went to, even when the key down
  // moved the focus, and even when the key down cleared the key.
  if (ch != 0) {
    if (target != form && form->KeyPreview && form->OnKeyPress) form->OnKeyPress(*form, ch);
    if (ch != 0) target->KeyPress(ch);
  }
  if (key != 0) {
    Word up = key;
    if (target != form && form->KeyPreview && form->OnKeyUp) form->OnKeyUp(*form, up, shift);
    if (up != 0) target->KeyUp(up, shift);
  }
}

void TApplication::DestroyForms() {
  // No form is activated while the others go.
  destroyingForms_ = true;
  releases_.clear();
  for (;;) {
    const auto& forms = Screen().Forms();
    if (forms.empty()) break;
    delete forms.back();
  }
  MainForm = nullptr;
  destroyingForms_ = false;
}

void TApplication::QueueRelease(TCustomForm* f) {
  if (std::find(releases_.begin(), releases_.end(), f) == releases_.end()) releases_.push_back(f);
  if (depth_ == 0) ProcessReleases();
}

void TApplication::ProcessReleases() {
  while (!releases_.empty()) {
    TCustomForm* f = releases_.front();
    releases_.erase(releases_.begin());
    delete f;
  }
}

TApplication& Application() {
  static TApplication app;
  return app;
}

}  // namespace ui
