#pragma once
// A test driver that acts as a user: focus, type, press, click, pick a page,
// answer dialogs, and observe what the user would see. Every action goes
// through the application's entry point, so an error raised by a handler is
// reported (once) exactly as the running application reports it.

#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/comctrls.h"
#include "platform/ui/controls.h"
#include "platform/ui/dbctrls.h"
#include "platform/ui/dbgrids.h"
#include "platform/ui/maskedit.h"
#include "platform/ui/menus.h"
#include "platform/ui/services.h"
#include "platform/ui/stdctrls.h"

namespace ui {

class Driver {
public:
  // Installs scripted services for the driver's lifetime. The forms that exist
  // when the driver goes are freed, so each test starts from an empty screen.
  Driver();
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  ScriptedServices& services() { return services_; }

  // ---- Actions. Each returns whether it reached the control (a disabled or
  // hidden control is not reachable: nothing happens, as for a user).
  bool focus(TWinControl& c);
  // Each character as a keystroke into the focused control.
  void type(std::string_view text);
  void press(Word key, TShiftState shift = ssNone);
  bool click(TButton& b);
  bool click(TButtonFlat& b);
  bool click(TBtnPesquisa& b);
  bool click(TMenuItem& item);
  bool click(TCheckBox& b);
  bool click(TRadioButton& b);
  bool click(TLabel& l);  // a label's accelerator: focuses its FocusControl
  bool click(TDBNavigator& nav, TNavigateBtn button);
  bool clickCell(TDBGrid& grid, int recNo, int column);
  bool clickEditButton(TDBGrid& grid);
  bool pick(TPageControl& pc, TTabSheet& page);
  bool select(TComboBox& box, int index);
  bool select(TRadioGroup& group, int index);
  // The window's close button.
  void close(TCustomForm& form);
  // Runs any other user action through the application's entry point.
  void act(const std::function<void()>& action);

  // ---- Scripted answers.
  void answer(TModalResult button) { services_.Dialogs.Queue(button); }
  void lookupPicks(int recNo) { services_.Lookup.QueuePick(recNo); }
  void lookupCancels() { services_.Lookup.QueueCancel(); }
  // What the user does inside the next modal form (it must close it).
  void onModal(ScriptedModal::Script s) { services_.Modal.Queue(std::move(s)); }

  // ---- Observations.
  TWinControl* focused() const { return Screen().ActiveControl(); }
  std::string focusedName() const;
  TCustomForm* activeForm() const { return Screen().ActiveForm(); }
  const std::vector<DialogRecord>& dialogs() const { return services_.Dialogs.Shown; }
  const std::vector<std::string>& errors() const { return services_.Errors.Shown; }
  std::string lastError() const { return errors().empty() ? std::string() : errors().back(); }
  std::string lastDialog() const { return dialogs().empty() ? std::string() : dialogs().back().Text; }
  // Text shown by an edit (EditText for masked edits), label, button or DB text.
  static std::string text(const TControl& c);
  static std::vector<std::string> gridRow(const TDBGrid& g);

private:
  bool reach(TControl& c) const;
  bool blocked(const TControl& c) const;
  void activateFormOf(TControl& c);
  ScriptedServices services_;
  Services* previous_ = nullptr;
};

// Decodes UTF-8 into characters.
std::vector<TChar> DecodeUtf8(std::string_view s);

}  // namespace ui
