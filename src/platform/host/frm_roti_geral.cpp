#include "frm_roti_geral.h"

#include "platform/host/dialogs.h"

namespace host {

TfrmRotiGeral::TfrmRotiGeral(ui::TComponent* owner) : TStandardForm(owner) {
  panBotoes = ui::Make<ui::TPanel>(this, "panBotoes", this);
  auto button = [this](const char* name, const char* caption) {
    auto* b = ui::Make<ui::TButtonFlat>(this, name, panBotoes);
    b->SetCaption(caption);
    b->SetHint(caption);
    b->ShowHint = true;
    return b;
  };
  sbtConfirma = button("sbtConfirma", "Confirmar");
  sbtCancel = button("sbtCancel", "Fechar");
  sbtHelp = button("sbtHelp", "Ajuda");
  lblCodTela = ui::Make<ui::TLabel>(this, "lblCodTela", panBotoes);
  sbtConfirma->OnClick = [this](ui::TObject& s) { sbtConfirmaClick(s); };
  sbtCancel->OnClick = [this](ui::TObject& s) { sbtCancelClick(s); };
  sbtHelp->OnClick = [this](ui::TObject& s) { sbtHelpClick(s); };
  OnCreate = [this](ui::TObject& s) { FormCreate(s); };
  OnActivate = [this](ui::TObject& s) { FormActivate(s); };
  OnClose = [this](ui::TObject& s, ui::TCloseAction& a) { FormClose(s, a); };
  FillStandardMessages(msgMensagensPadroes);
}

void TfrmRotiGeral::FormCreate(ui::TObject&) {}
void TfrmRotiGeral::FormActivate(ui::TObject&) {}
void TfrmRotiGeral::FormClose(ui::TObject&, ui::TCloseAction& action) { action = ui::TCloseAction::Free; }
void TfrmRotiGeral::sbtConfirmaClick(ui::TObject&) {}
void TfrmRotiGeral::sbtCancelClick(ui::TObject&) { Close(); }
void TfrmRotiGeral::sbtHelpClick(ui::TObject&) { ShowHelp(HelpFile, HelpContext); }

}  // namespace host
