#pragma once
// What the host provides to the toolkit: message dialogs, the error report,
// the screen cursor, the busy indicator, lookup dialogs and modal loops. Each
// is an interface; the scripted implementations record what was shown and take
// pre-queued answers, so tests observe exactly what the user would see.

#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui/controls.h"

namespace data {
class TDataSource;
class TClientDataSet;
}  // namespace data

namespace ui {

// A test script asked for something it did not prepare (no answer queued, a
// modal form left open). It passes through the application's handler so that
// the test fails instead of a dialog being shown.
class EScriptError : public std::logic_error {
public:
  using std::logic_error::logic_error;
};

enum class TMsgDlgType { Warning, Error, Information, Confirmation, Custom };

using TMsgDlgButtons = unsigned;
constexpr TMsgDlgButtons mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8, mbAbort = 16, mbRetry = 32,
                         mbIgnore = 64, mbAll = 128;
constexpr TMsgDlgButtons mbYesNo = mbYes | mbNo;
constexpr TMsgDlgButtons mbYesNoCancel = mbYes | mbNo | mbCancel;
constexpr TMsgDlgButtons mbOKCancel = mbOK | mbCancel;

class IMessageDialog {
public:
  virtual ~IMessageDialog() = default;
  // Returns the modal result of the button pressed (mrYes, mrNo, mrOk, ...).
  virtual TModalResult Show(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) = 0;
};

class IErrorReport {
public:
  virtual ~IErrorReport() = default;
  virtual void ShowError(const std::string& message) = 0;
};

class IScreenCursor {
public:
  virtual ~IScreenCursor() = default;
  virtual void SetCursor(TCursor c) = 0;
};

class IBusyIndicator {
public:
  virtual ~IBusyIndicator() = default;
  virtual void Show(int kind, const std::string& text) = 0;
  virtual void Hide() = 0;
};

struct LookupRequest {
  data::TDataSource* DataSource = nullptr;
  std::string Title;
  std::string EmptyText;  // shown instead of the list when the data set has no rows
};

class ILookupDialog {
public:
  virtual ~ILookupDialog() = default;
  // Shows the rows of the request's data set; true with the data set positioned
  // on the chosen row, false when the user cancelled or the list was empty.
  virtual bool Pick(const LookupRequest& request) = 0;
};

class IModalLoop {
public:
  virtual ~IModalLoop() = default;
  // Runs until form.ModalDone().
  virtual void Run(TCustomForm& form) = 0;
};

struct Services {
  IMessageDialog* Dialogs = nullptr;
  IErrorReport* Errors = nullptr;
  IScreenCursor* Cursor = nullptr;
  IBusyIndicator* Busy = nullptr;
  ILookupDialog* Lookup = nullptr;
  IModalLoop* Modal = nullptr;
};

// The platform's MessageDlg through the dialog service.
TModalResult MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext = 0);
// An information dialog with OK.
void ShowMessage(const std::string& text);
// The busy indicator through the host's service.
void ShowBusy(int kind, const std::string& text);
void HideBusy();

// ---------------------------------------------------------------------------
// Scripted implementations.

struct DialogRecord {
  std::string Text;
  TMsgDlgType Type = TMsgDlgType::Information;
  TMsgDlgButtons Buttons = mbOK;
  TModalResult Answer = mrNone;
};

class ScriptedDialogs : public IMessageDialog {
public:
  TModalResult Show(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) override;
  // Answers are used in order. A dialog with the single button OK needs none;
  // mrCancel answers any dialog, as Esc or the window's X does.
  void Queue(TModalResult answer) { answers_.push_back(answer); }
  size_t Pending() const { return answers_.size(); }
  std::vector<DialogRecord> Shown;

private:
  std::deque<TModalResult> answers_;
};

class ScriptedErrors : public IErrorReport {
public:
  void ShowError(const std::string& message) override { Shown.push_back(message); }
  std::vector<std::string> Shown;
};

class ScriptedCursor : public IScreenCursor {
public:
  void SetCursor(TCursor c) override { History.push_back(c); }
  std::vector<TCursor> History;
};

struct BusyRecord {
  bool Shown = true;  // false: a hide
  int Kind = 0;
  std::string Text;
};

class ScriptedBusy : public IBusyIndicator {
public:
  void Show(int kind, const std::string& text) override;
  void Hide() override;
  bool Visible() const { return visible_; }
  std::vector<BusyRecord> History;

private:
  bool visible_ = false;
};

class ScriptedLookup : public ILookupDialog {
public:
  bool Pick(const LookupRequest& request) override;
  // The next lookup picks the row with this 1-based number of the data set's view.
  void QueuePick(int recNo) { answers_.push_back(recNo); }
  // The next lookup is cancelled.
  void QueueCancel() { answers_.push_back(std::nullopt); }
  // Opens a closed data set before the list is shown (the host's queries know how).
  std::function<void(data::TClientDataSet&)> Opener;
  std::vector<LookupRequest> Shown;
  IMessageDialog* Dialogs = nullptr;  // where the empty-list text goes

private:
  std::deque<std::optional<int>> answers_;
};

class ScriptedModal : public IModalLoop {
public:
  using Script = std::function<void(TCustomForm&)>;
  void Run(TCustomForm& form) override;
  // The next modal form runs this script; it acts through the driver and closes the form.
  void Queue(Script s) { scripts_.push_back(std::move(s)); }
  size_t Pending() const { return scripts_.size(); }
  std::vector<std::string> Shown;  // names of the forms run

private:
  std::deque<Script> scripts_;
};

// The set of scripted services, wired together.
class ScriptedServices {
public:
  ScriptedServices();
  ScriptedDialogs Dialogs;
  ScriptedErrors Errors;
  ScriptedCursor Cursor;
  ScriptedBusy Busy;
  ScriptedLookup Lookup;
  ScriptedModal Modal;
  Services& services() { return services_; }

private:
  Services services_;
};

}  // namespace ui
