// Commands of the toolbar and the enabling of the header and the commands from
// the state of one data set.

#include "platform/host/context.h"
#include "pla01000/cli_pla01000.h"

namespace pla01000 {

// Rows are never added or removed on this screen (the buttons stay disabled).
void TfrmMediEfetivos::sbtIncluirClick(ui::TObject&) {}

void TfrmMediEfetivos::sbtExcluirClick(ui::TObject&) {}

void TfrmMediEfetivos::ControlCache(data::TDataSource& dataSource) {
  data::TClientDataSet* ds = dataSource.DataSet();
  if (!ds || !ds->Active()) return;
  data::TDataSetState st = ds->State();
  bool browse = st == data::TDataSetState::Browse;
  bool editando = st == data::TDataSetState::Edit || st == data::TDataSetState::Insert;

  if (!host::ModuFili()) {
    medCdFilial->SetEnabled(browse);
    lblCdFilial->SetEnabled(browse);
    btpFilial->SetEnabled(browse);
  }
  depCardapio->SetEnabled(!editando);
  lblDataCardapio->SetEnabled(!editando);
  btpDtCardapio->SetEnabled(!editando);
  dbnPadrao->SetEnabled(!editando);
  tshPadrao->SetEnabled(!editando);
  mnuEfetivos->SetEnabled(!editando);

  bool comLinhas = browse && !ds->IsEmpty();
  sbtAlterar->SetEnabled(comLinhas);
  sbtProcurar->SetEnabled(comLinhas);
  sbtVerificar->SetEnabled(comLinhas);
  sbtConsolidar->SetEnabled(!DiaFechado() && comLinhas);
  sbtCancelar->SetEnabled(editando);
  sbtConfirmar->SetEnabled(editando);
  sbtImprimir->SetEnabled(false);
  // The menu entries follow their buttons.
}

}  // namespace pla01000
