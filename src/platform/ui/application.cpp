// TScreen (the forms, the active one, the cursor) and TApplication (the
// services, the error boundary of a user's action, the key entry points).

#include <algorithm>
#include <iostream>

#include "platform/rtl/scoped.h"
#include "platform/rtl/text.h"
#include "platform/ui/controls.h"
#include "platform/ui/menus.h"
#include "platform/ui/services.h"

namespace ui {

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
