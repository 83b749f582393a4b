// The shifts of the current client: the grid's keys, the checks of a row, the
// sum check over all shifts, and what happens to unsent rows when the user
// leaves them.

#include "platform/host/checks.h"
#include "platform/host/dialogs.h"
#include "platform/rtl/exceptions.h"
#include "platform/ui/services.h"
#include "pla01000/cli_pla01000.h"

namespace pla01000 {

void TfrmMediEfetivos::dbgTurnoClieKeyPress(ui::TObject&, ui::TChar& key) {
  if (cdsServCli.IsEmpty() || key == U'E' || key == U'e' || key == U'-') key = 0;
  data::TField* campo = dbgTurnoClie->SelectedField();
  if (campo && campo->FieldName() == "QTCOMTURNCLI" && RegraApuracao() &&
      !cdsServCli.FieldByName("NRAPURACFAT").AsString().empty())
    key = 0;
}

void TfrmMediEfetivos::dbgTurnoClieKeyDown(ui::TObject&, ui::Word& key, ui::TShiftState shift) {
  if (key == ui::VK_DELETE && (shift & ui::ssCtrl)) key = 0;
}

void TfrmMediEfetivos::dbgTurnoClieColExit(ui::TObject&) {
  if (cdsTurnoCliente.Active() && cdsTurnoCliente.FieldByName("QTCOMTURNCLI").AsFloat() < 0)
    host::MensErro(msgPadrao.Msg("QT_TURNO_MAIOR_ZERO"), true);
}

void TfrmMediEfetivos::cdsTurnoClienteBeforePost(data::TClientDataSet&) {
  cdsTurnoCliente.FieldByName("CDCLIENTE").SetAsString(cdsServCli.FieldByName("CDCLIENTE").AsString());
  cdsTurnoCliente.FieldByName("DTFATTURNO").SetAsDateTime(depCardapio->GetDate());
  data::TField& qt = cdsTurnoCliente.FieldByName("QTCOMTURNCLI");
  if (qt.AsFloat() > cdsServCli.FieldByName("QTCOMEFETCLI").AsFloat())
    host::MensErro(msgPadrao.Msg("QT_MAIOR_CLIENTE"), true);
  if (qt.AsFloat() < 0) host::MensErro(msgPadrao.Msg("QT_TURNO_MAIOR_ZERO"), true);
  if (qt.IsNull()) qt.SetAsFloat(0);
}

void TfrmMediEfetivos::cdsTurnoClienteBeforeInsert(data::TClientDataSet&) { rtl::Abort(); }

void TfrmMediEfetivos::cdsTurnoClienteBeforeDelete(data::TClientDataSet&) { rtl::Abort(); }

// No row is ever deleted.
void TfrmMediEfetivos::cdsTurnoClienteAfterDelete(data::TClientDataSet&) {}

void TfrmMediEfetivos::Vd_Turno() {
  if (!cdsTurnoCliente.Active() || cdsTurnoCliente.IsEmpty()) return;
  double soma = 0;
  for (cdsTurnoCliente.First(); !cdsTurnoCliente.Eof(); cdsTurnoCliente.Next())
    soma += cdsTurnoCliente.FieldByName("QTCOMTURNCLI").AsFloat();
  if (soma != 0 && soma != cdsServCli.FieldByName("QTCOMEFETCLI").AsFloat())
    host::MensErro(msgPadrao.Msg("QT_IGUAL_CLIENTE"), true);
}

void TfrmMediEfetivos::dbgTurnoClieExit(ui::TObject&) { Vd_Turno(); }

void TfrmMediEfetivos::dtsTurnoClienteStateChange(data::TDataSource&) {
  if (pgcPadrao->ActivePage() == tshClientes && PageControl1->ActivePage() == tshTurnoCliente &&
      cdsTurnoCliente.Active() && !cdsTurnoCliente.IsEmpty() &&
      cdsTurnoCliente.State() == data::TDataSetState::Edit)
    ControlCache(dtsTurnoCliente);
}

void TfrmMediEfetivos::GravaTurnos() {
  Vd_Turno();
  EnviaTurnos();
}

// Shift rows are only sent by a confirm; leaving them used to drop typed rows
// without a word, so the user is asked first.
void TfrmMediEfetivos::SairTurnos(bool checkSum) {
  if (!cdsTurnoCliente.Active()) return;
  if (cdsTurnoCliente.State() == data::TDataSetState::Edit) cdsTurnoCliente.Post();
  if (checkSum) Vd_Turno();
  if (cdsTurnoCliente.ChangeCount() > 0 &&
      ui::MessageDlg(msgPadrao.Msg("CACHECHEIO"), ui::TMsgDlgType::Confirmation, ui::mbYesNo, 0) == ui::mrYes)
    GravaTurnos();
  cdsTurnoCliente.EmptyDataSet();
}

}  // namespace pla01000
