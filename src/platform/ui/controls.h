#pragma once
// The component and control tree, the focus manager and key dispatch of the
// headless toolkit. Behaviour follows the windowing toolkit the screens were
// written against: focus moves run exit handlers innermost first and enter
// handlers outermost first, key preview sees keys before the control, Tab is a
// dialog key unless the control wants it, and every user action ends at the
// application's exception handler.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/ui/keys.h"

namespace ui {

class TComponent;
class TControl;
class TWinControl;
class TCustomForm;
class TMainMenu;
class TPopupMenu;
class TMenuItem;

class TObject {
public:
  virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject& sender)>;
using TKeyEvent = std::function<void(TObject& sender, Word& key, TShiftState shift)>;
using TKeyPressEvent = std::function<void(TObject& sender, TChar& key)>;

// Misuse of a control: focusing a disabled control, a duplicate name, showing a
// visible form modally.
class EInvalidOperation : public rtl::Exception {
public:
  using rtl::Exception::Exception;
};

class EComponentError : public rtl::Exception {
public:
  using rtl::Exception::Exception;
};

inline constexpr const char* SCannotFocus = "Cannot focus a disabled or invisible window";

// ---------------------------------------------------------------------------
// Components: a name and an owner that frees what it owns.
class TComponent : public TObject {
public:
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  // Names are unique among the components of one owner (case-insensitive).
  void SetName(std::string name);
  TComponent* Owner() const { return owner_; }
  // Case-insensitive, among the components this one owns.
  TComponent* FindComponent(std::string_view name) const;
  size_t ComponentCount() const { return components_.size(); }
  TComponent* Components(size_t i) const { return components_.at(i); }

  int Tag = 0;

  // Set while the destructor runs, so that notifications stop early.
  bool Destroying() const { return destroying_; }

protected:
  void BeginDestroy() { destroying_ = true; }
  // Frees the owned components, newest first.
  void DestroyComponents();

private:
  TComponent* owner_ = nullptr;
  std::string name_;
  std::vector<TComponent*> components_;
  bool destroying_ = false;
};

// Creates a component owned by owner, named, with an optional parent.
template <class T>
T* Make(TComponent* owner, std::string name);
template <class T>
T* Make(TComponent* owner, std::string name, TWinControl* parent);

// ---------------------------------------------------------------------------
// Observers: every visible state change calls Changed(), which notifies the
// control's own hook and the global observer (what a renderer listens to).
using TChangeObserver = std::function<void(TControl&)>;
void SetChangeObserver(TChangeObserver observer);

enum class TAlignment { LeftJustify, RightJustify, Center };

class TControl : public TComponent {
public:
  explicit TControl(TComponent* owner = nullptr);
  ~TControl() override;

  TWinControl* Parent() const { return parent_; }
  void SetParent(TWinControl* parent);

  bool Visible() const { return visible_; }
  virtual void SetVisible(bool v);
  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool e);
  const std::string& Caption() const { return caption_; }
  virtual void SetCaption(std::string c);
  const std::string& Hint() const { return hint_; }
  void SetHint(std::string h);
  bool ShowHint = false;

  // Visible itself and every parent up to a visible form.
  bool Showing() const;
  // Enabled itself and every parent.
  bool EnabledInTree() const;

  int Left = 0, Top = 0, Width = 0, Height = 0;
  TPopupMenu* PopupMenu = nullptr;

  TCustomForm* ParentForm() const;
  virtual bool IsWinControl() const { return false; }
  // Alt plus the letter marked with & in the caption; true when the control acted.
  virtual bool Accelerator(char) { return false; }

  // Per-control change hook for a renderer.
  std::function<void(TControl&)> OnChanged;
  void Changed();

private:
  friend class TWinControl;
  void SetParentQuiet(TWinControl* parent);
  TWinControl* parent_ = nullptr;
  bool visible_ = true;
  bool enabled_ = true;
  std::string caption_;
  std::string hint_;
};

// A control that can hold the focus and other controls.
class TWinControl : public TControl {
public:
  explicit TWinControl(TComponent* owner = nullptr);
  ~TWinControl() override;

  bool IsWinControl() const override { return true; }

  const std::vector<TControl*>& Controls() const { return controls_; }
  size_t ControlCount() const { return controls_.size(); }
  bool ContainsControl(const TControl* c) const;

  bool TabStop = false;
  int TabOrder() const;
  void SetTabOrder(int order);

  bool CanFocus() const;
  bool Focused() const;
  // Raises EInvalidOperation when the control cannot take the focus.
  virtual void SetFocus();

  // All controls below this one in tab order, depth first.
  void GetTabOrderList(std::vector<TWinControl*>& list) const;
  TWinControl* FindNextControl(TWinControl* current, bool goForward, bool checkTabStop, bool checkParent) const;
  void SelectNext(TWinControl* current, bool goForward, bool checkTabStop);
  void SelectFirst();

  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;
  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;
  TKeyPressEvent OnKeyPress;

  // Called by the focus manager.
  virtual void DoEnter();
  virtual void DoExit();
  // A focus move away from this control was refused (an exit handler raised):
  // the control keeps the focus, as if it had just been given it back.
  virtual void FocusKept() {}
  // Key handling of the control itself: the event, then the control's own
  // behaviour when the key was not cleared.
  virtual void KeyDown(Word& key, TShiftState shift);
  virtual void KeyPress(TChar& key);
  virtual void KeyUp(Word& key, TShiftState shift);
  // Whether the control takes Tab, arrows, Enter or Escape itself instead of
  // letting the form treat them as dialog keys.
  virtual bool WantsKey(Word key, TShiftState shift) const;
  // Enter and Escape offered to the controls of a form (default and cancel buttons).
  virtual bool HandleDialogKey(Word key, TShiftState shift);
  // Offers an accelerator to the visible, enabled controls below this one.
  bool HandleAccelerator(char hotkey);

protected:
  // A child joined or left this control.
  virtual void ControlAdded(TControl*) {}
  virtual void ControlRemoved(TControl*) {}

private:
  friend class TControl;
  std::vector<TControl*> controls_;
  std::vector<TWinControl*> tabList_;
};

// ---------------------------------------------------------------------------
// Forms.
enum class TFormStyle { Normal, MDIChild, MDIForm };
enum class TWindowState { Normal, Minimized, Maximized };
enum class TCloseAction { None, Hide, Free, Minimize };

using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;
constexpr TModalResult mrAll = 8;

using TCloseEvent = std::function<void(TObject& sender, TCloseAction& action)>;
using TCloseQueryEvent = std::function<void(TObject& sender, bool& canClose)>;
using TShortCutEvent = std::function<void(Word key, TShiftState shift, bool& handled)>;

class TCustomForm : public TWinControl {
public:
  explicit TCustomForm(TComponent* owner = nullptr);
  ~TCustomForm() override;

  TFormStyle FormStyle = TFormStyle::Normal;
  bool KeyPreview = false;
  std::string HelpFile;
  int HelpContext = 0;
  TMainMenu* Menu = nullptr;

  TWindowState WindowState() const { return windowState_; }
  void SetWindowState(TWindowState s);

  // The control that has (or will have, when the form is activated) the focus.
  TWinControl* ActiveControl() const { return active_; }
  void SetActiveControl(TWinControl* c);
  // Focuses c, activating the form when needed.
  void FocusControl(TWinControl* c);
  bool Active() const;

  void Show();
  void Hide();
  // Runs the modal loop of the application's modal service; returns ModalResult.
  TModalResult ShowModal();
  // Asks OnCloseQuery, then OnClose, then hides, frees or minimises.
  void Close();
  bool CloseQuery();
  // Frees the form once the running user action has ended (only for forms with
  // an owner; a form without one is only hidden).
  void Release();
  bool Modal() const { return modal_; }
  TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult r);
  // True once a modal form's loop may end (its closing was allowed).
  bool ModalDone() const { return modalDone_; }

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;
  TShortCutEvent OnShortCut;

  // Runs OnCreate; called once by CreateForm after construction.
  void AfterConstruction();

  // Focus manager entry point (the platform's SetFocusedControl).
  void SetFocusedControl(TWinControl* c);
  // Innermost control the focus has entered (may lag behind ActiveControl while
  // a focus move runs its handlers).
  TWinControl* FocusedControl() const { return focused_; }

  // Dispatch of keys and shortcuts (used by TApplication).
  bool IsShortCut(Word key, TShiftState shift, TWinControl* target);
  bool DialogKey(Word key, TShiftState shift);

  // Called by the modal loop after each user action.
  void CheckModalClose();

  void DoActivate();
  void DoDeactivate();
  // Forms show and hide through Show and Hide.
  void SetVisible(bool v) override;

private:
  friend class TScreen;
  friend class TControl;
  void forget(TWinControl* c);
  bool freeAfterModal_ = false;
  void DoClose(TCloseAction& action);
  TWinControl* active_ = nullptr;
  TWinControl* focused_ = nullptr;
  TWindowState windowState_ = TWindowState::Normal;
  bool modal_ = false;
  bool modalDone_ = false;
  bool closingModal_ = false;
  TModalResult modalResult_ = mrNone;
  bool releasing_ = false;
};

class TForm : public TCustomForm {
public:
  using TCustomForm::TCustomForm;
};

// Creates a form owned by owner (Application() when null), then runs OnCreate.
// The form is freed (and the error passed on) when OnCreate raises.
template <class T, class... Args>
T* CreateForm(TComponent* owner, Args&&... args);

// ---------------------------------------------------------------------------
enum class TCursor { Default, HourGlass, SQLWait, Arrow };

class TScreen {
public:
  const std::vector<TCustomForm*>& Forms() const { return forms_; }
  TCustomForm* ActiveForm() const { return active_; }
  TWinControl* ActiveControl() const;
  TCursor Cursor() const { return cursor_; }
  // Passes the cursor to the host's cursor service.
  void SetCursor(TCursor c);
  TCustomForm* FindForm(std::string_view name) const;
  // The modal form whose loop runs innermost, or null. While it runs, the
  // user can reach no other form.
  TCustomForm* ModalForm() const;

  // Focus bookkeeping (used by forms).
  int FocusCount() const { return focusCount_; }

private:
  friend class TCustomForm;
  void addForm(TCustomForm* f);
  void removeForm(TCustomForm* f);
  void bringToFront(TCustomForm* f);
  TCustomForm* nextActiveAfter(TCustomForm* leaving) const;
  std::vector<TCustomForm*> forms_;  // most recently active first
  TCustomForm* active_ = nullptr;
  TCursor cursor_ = TCursor::Default;
  int focusCount_ = 0;
};

TScreen& Screen();

// The hourglass from now until the scope ends, however it ends; then the
// default cursor, whichever cursor was showing before.
class HourGlass {
public:
  HourGlass() { Screen().SetCursor(TCursor::HourGlass); }
  ~HourGlass() { Screen().SetCursor(TCursor::Default); }
  HourGlass(const HourGlass&) = delete;
  HourGlass& operator=(const HourGlass&) = delete;
};

struct Services;

// The application: services, the exception handler and the entry points every
// user action goes through (the test driver and a desktop binding alike).
class TApplication : public TComponent {
public:
  TApplication();
  ~TApplication() override;

  Services& services();
  // Replaces the services; returns the previous set (not owned).
  Services* SetServices(Services* s);

  // Runs a user action: catches what escapes it as the platform's message loop
  // does (EAbort silently, any other error reported once), then lets modal
  // forms end and frees released forms.
  void Perform(const std::function<void()>& action);
  void HandleException(const std::exception& e);
  std::function<void(const std::exception&)> OnException;

  // A key pressed by the user: shortcut, dialog key, key down (with preview),
  // then the character it types.
  void PressKey(Word key, TShiftState shift);
  // A character typed: its key (when it has one) and the character.
  void TypeChar(TChar c);
  // The general keystroke: key code (0 for a character without a key of its
  // own), modifiers and the character it types (0 for none).
  void KeyStroke(Word key, TShiftState shift, TChar ch);

  TCustomForm* MainForm = nullptr;
  // Frees every form: used between tests and at shutdown.
  void DestroyForms();

  // Deferred release of forms.
  void QueueRelease(TCustomForm* f);
  void ProcessReleases();
  int ActionDepth() const { return depth_; }
  bool DestroyingForms() const { return destroyingForms_; }

private:
  friend class TCustomForm;
  void keyStroke(Word key, TShiftState shift, TChar ch);
  Services* services_ = nullptr;
  std::vector<TCustomForm*> releases_;
  int depth_ = 0;
  bool destroyingForms_ = false;
};

TApplication& Application();

// ---------------------------------------------------------------------------
template <class T>
T* Make(TComponent* owner, std::string name) {
  T* c = new T(owner);
  try {
    c->SetName(std::move(name));
  } catch (...) {
    delete c;
    throw;
  }
  return c;
}

template <class T>
T* Make(TComponent* owner, std::string name, TWinControl* parent) {
  T* c = Make<T>(owner, std::move(name));
  c->SetParent(parent);
  return c;
}

template <class T, class... Args>
T* CreateForm(TComponent* owner, Args&&... args) {
  T* f = new T(owner ? owner : static_cast<TComponent*>(&Application()), std::forward<Args>(args)...);
  try {
    f->AfterConstruction();
  } catch (...) {
    delete f;
    throw;
  }
  return f;
}

}  // namespace ui
