#pragma once
// The host's services with Qt: message dialogs, the error report, the screen
// cursor, the busy indicator, the lookup dialog and the modal loop.

#include <QLabel>
#include <QPointer>

#include <functional>

#include "platform/ui/services.h"

namespace desktop {

class QtServices {
public:
  QtServices();
  ~QtServices();
  ui::Services& services() { return services_; }
  // Every error shown to the user, after it was shown (the status bar keeps the last).
  std::function<void(const QString&)> onError;

  struct Dialogs : ui::IMessageDialog {
    QtServices* owner = nullptr;
    ui::TModalResult Show(const std::string& text, ui::TMsgDlgType type, ui::TMsgDlgButtons buttons,
                          int helpContext) override;
  } dialogs;
  struct Errors : ui::IErrorReport {
    QtServices* owner = nullptr;
    void ShowError(const std::string& message) override;
  } errors;
  struct Cursor : ui::IScreenCursor {
    void SetCursor(ui::TCursor c) override;
    bool waiting = false;
  } cursor;
  struct Busy : ui::IBusyIndicator {
    void Show(int kind, const std::string& text) override;
    void Hide() override;
    QPointer<QLabel> label;
  } busy;
  struct Lookup : ui::ILookupDialog {
    bool Pick(const ui::LookupRequest& request) override;
  } lookup;
  struct Modal : ui::IModalLoop {
    void Run(ui::TCustomForm& form) override;
  } modal;

private:
  ui::Services services_;
  ui::Services* previous_ = nullptr;
};

}  // namespace desktop
