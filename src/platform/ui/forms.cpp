// TCustomForm: activation, the focus moves between a form's controls with
// their exit and enter handlers, modal loops, closing, and the form's keys
// (shortcuts, dialog keys) before its controls see them.

#include <algorithm>

#include "platform/ui/controls.h"
#include "platform/ui/menus.h"
#include "platform/ui/services.h"

namespace ui {

namespace {

// Counts the focus moves and the activations, so that a move can tell that a
// handler it called has moved the focus elsewhere.
struct FocusCounter {
  int& count;
  int mine;
  explicit FocusCounter(int& c) : count(c), mine(++c) {}
  bool moved() const { return count != mine; }
};

}  // namespace

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

}  // namespace ui
