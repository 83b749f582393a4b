#pragma once
// TfrmRotiGeral: the routine base form. Confirm runs the screen's routine
// (its override of sbtConfirmaClick), cancel closes the screen, help opens the
// help context; the screen code label and the two catalogs. Closing frees it.

#include "platform/host/base_form.h"
#include "platform/host/messages.h"
#include "platform/ui/stdctrls.h"

namespace host {

class TfrmRotiGeral : public TStandardForm {
public:
  explicit TfrmRotiGeral(ui::TComponent* owner = nullptr);

  ui::TPanel* panBotoes;
  ui::TButtonFlat* sbtConfirma;
  ui::TButtonFlat* sbtCancel;
  ui::TButtonFlat* sbtHelp;
  ui::TLabel* lblCodTela;

  TMessages msgPadrao{"msgPadrao"};
  TMessages msgMensagensPadroes{"msgMensagensPadroes"};

  virtual void FormCreate(ui::TObject& sender);
  virtual void FormActivate(ui::TObject& sender);
  // Sets action to Free: the closed screen is released.
  virtual void FormClose(ui::TObject& sender, ui::TCloseAction& action);
  // The routine itself belongs to the screen.
  virtual void sbtConfirmaClick(ui::TObject& sender);
  // Closes the screen (a modal one ends with mrCancel).
  virtual void sbtCancelClick(ui::TObject& sender);
  virtual void sbtHelpClick(ui::TObject& sender);
};

}  // namespace host
