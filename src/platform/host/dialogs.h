#pragma once
// Error reporting, catalog dialogs and the busy indicator of the shared client
// library, on top of the toolkit's host services.

#include <string>
#include <string_view>

#include "platform/host/messages.h"
#include "platform/rtl/exceptions.h"
#include "platform/ui/services.h"

namespace ui {
class TCustomForm;
}

namespace host {

// The error a check raises through MensErro(text, true). The application's
// handler shows its text once, like any other error.
class EMensErro : public rtl::Exception {
public:
  using rtl::Exception::Exception;
};

// With raise true ends the running operation with an error whose message is
// text; otherwise shows text as an error message and returns.
void MensErro(const std::string& text, bool raise);

// A catalog text as a dialog; returns the button pressed.
ui::TModalResult ShowMsg(const TMessages& catalog, std::string_view key, ui::TMsgDlgType type,
                         ui::TMsgDlgButtons buttons, int helpContext = 0);

// The busy animation: kind 6 while loading, 1 while updating.
void ActiveShowAvi(ui::TCustomForm* form, int kind, const std::string& text = {});
void DeactiveShowAvi();

// The busy animation from now until the scope ends, however it ends.
class BusyScope {
public:
  BusyScope(ui::TCustomForm* form, int kind, const std::string& text = {}) { ActiveShowAvi(form, kind, text); }
  ~BusyScope() { DeactiveShowAvi(); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
};

// The standard catalog every base form adds (msgMensagensPadroes, msgMensagens).
void FillStandardMessages(TMessages& catalog);

}  // namespace host
