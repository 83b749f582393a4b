#include "platform/ui/services.h"

#include "platform/data/dataset.h"

namespace ui {

TModalResult MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) {
  IMessageDialog* d = Application().services().Dialogs;
  if (!d) throw EInvalidOperation("No message dialog is available");
  return d->Show(text, type, buttons, helpContext);
}

void ShowMessage(const std::string& text) { MessageDlg(text, TMsgDlgType::Information, mbOK, 0); }

void ShowBusy(int kind, const std::string& text) {
  if (IBusyIndicator* b = Application().services().Busy) b->Show(kind, text);
}

void HideBusy() {
  if (IBusyIndicator* b = Application().services().Busy) b->Hide();
}

namespace {
bool allows(TMsgDlgButtons buttons, TModalResult r) {
  switch (r) {
    case mrYes: return buttons & mbYes;
    case mrNo: return buttons & mbNo;
    case mrOk: return buttons & mbOK;
    case mrCancel: return true;  // Esc or the window's X dismisses any question
    case mrAbort: return buttons & mbAbort;
    case mrRetry: return buttons & mbRetry;
    case mrIgnore: return buttons & mbIgnore;
    case mrAll: return buttons & mbAll;
    default: return false;
  }
}
}  // namespace

TModalResult ScriptedDialogs::Show(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int) {
  DialogRecord rec{text, type, buttons, mrNone};
  if (buttons == mbOK && (answers_.empty() || answers_.front() != mrOk)) {
    rec.Answer = mrOk;  // the only button: no script needed
    Shown.push_back(rec);
    return mrOk;
  }
  if (answers_.empty()) {
    Shown.push_back(rec);
    throw EScriptError("No answer queued for the dialog: " + text);
  }
  TModalResult a = answers_.front();
  answers_.pop_front();
  if (!allows(buttons, a)) {
    Shown.push_back(rec);
    throw EScriptError("The queued answer is not a button of the dialog: " + text);
  }
  rec.Answer = a;
  Shown.push_back(rec);
  return a;
}

void ScriptedBusy::Show(int kind, const std::string& text) {
  visible_ = true;
  History.push_back({true, kind, text});
}

void ScriptedBusy::Hide() {
  visible_ = false;
  History.push_back({false, 0, {}});
}

bool ScriptedLookup::Pick(const LookupRequest& request) {
  Shown.push_back(request);
  data::TClientDataSet* ds = request.DataSource ? request.DataSource->DataSet() : nullptr;
  if (!ds) throw EInvalidOperation("The lookup has no data set");
  if (!ds->Active()) {
    if (Opener)
      Opener(*ds);
    else
      ds->Open();
  }
  if (ds->IsEmpty()) {
    if (!request.EmptyText.empty()) {
      IMessageDialog* d = Dialogs ? Dialogs : Application().services().Dialogs;
      if (d) d->Show(request.EmptyText, TMsgDlgType::Information, mbOK, 0);
    }
    return false;
  }
  if (answers_.empty()) throw EScriptError("No answer queued for the lookup: " + request.Title);
  std::optional<int> a = answers_.front();
  answers_.pop_front();
  if (!a) return false;
  if (*a < 1 || *a > ds->RecordCount())
    throw EScriptError("The queued lookup row does not exist: " + std::to_string(*a));
  ds->SetRecNo(*a);
  return true;
}

void ScriptedModal::Run(TCustomForm& form) {
  Shown.push_back(form.Name());
  if (scripts_.empty()) throw EScriptError("No script queued for the modal form " + form.Name());
  Script s = std::move(scripts_.front());
  scripts_.pop_front();
  s(form);
  form.CheckModalClose();
  if (!form.ModalDone()) throw EScriptError("The script left the modal form " + form.Name() + " open");
}

ScriptedServices::ScriptedServices() {
  Lookup.Dialogs = &Dialogs;
  services_.Dialogs = &Dialogs;
  services_.Errors = &Errors;
  services_.Cursor = &Cursor;
  services_.Busy = &Busy;
  services_.Lookup = &Lookup;
  services_.Modal = &Modal;
}

}  // namespace ui
