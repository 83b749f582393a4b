// The service grid of the menu day: what its state switches on and off, the
// toolbar actions of a loaded day, and the rows it must never add or remove.

#include "platform/host/context.h"
#include "platform/host/lookups.h"
#include "platform/rtl/format.h"
#include "pla01000/cli_pla01000.h"

namespace pla01000 {

void TfrmMediEfetivos::dtsPadraoStateChange(data::TDataSource& sender) {
  host::TfrmPadraoGrid::dtsPadraoStateChange(sender);
  sbtIncluir->SetEnabled(false);
  sbtExcluir->SetEnabled(false);
  dbgPadrao->Changed();  // lays the grid out again

  data::TDataSetState state = cdsCardaDia.State();
  bool editando = state == data::TDataSetState::Edit || state == data::TDataSetState::Insert;
  if (!host::ModuFili()) {
    medCdFilial->SetEnabled(!editando);
    lblCdFilial->SetEnabled(!editando);
    btpFilial->SetEnabled(!editando);
  }
  depCardapio->SetEnabled(!editando);
  lblDataCardapio->SetEnabled(!editando);
  btpDtCardapio->SetEnabled(!editando);

  bool clientes = !editando && cdsCardaDia.Active() && !cdsCardaDia.IsEmpty();
  tshClientes->SetEnabled(clientes);
  mnuClientes->SetEnabled(clientes);

  int col = host::IndiceCol(*dbgPadrao, "CDSERVFILI");
  if (col >= 0) dbgPadrao->Columns(col).ButtonStyle = ui::TColumnButtonStyle::None;

  if (state == data::TDataSetState::Edit || DiaFechado())
    dbgPrato->SetOptions(dbgPrato->Options() & ~ui::dgEditing);
  else
    dbgPrato->SetOptions(dbgPrato->Options() | ui::dgEditing);
}

void TfrmMediEfetivos::Habilita(bool flag) {
  // The menu entries follow their buttons.
  for (ui::TButtonFlat* b : {sbtAlterar, sbtProcurar, sbtVerificar, sbtImprimir, sbtConsolidar}) b->SetEnabled(flag);
}

void TfrmMediEfetivos::FocusedGrid(ui::TDBGrid& grid) {
  if (grid.CanFocus()) grid.Color = clInfoBk;
}

// Rows are the server's: none is added or removed here.
void TfrmMediEfetivos::cdsCardaDiaBeforeInsert(data::TClientDataSet&) { rtl::Abort(); }

void TfrmMediEfetivos::cdsCardaDiaBeforeDelete(data::TClientDataSet&) { rtl::Abort(); }

void TfrmMediEfetivos::cdsCardaDiaAfterScroll(data::TClientDataSet&) {
  cdsCompCardAux.SetFiltered(false);
  cdsCompCardAux.SetFilter("CDFILIAL = " + rtl::QuotedStr(cdsCardaDia.FieldByName("CDFILIAL").AsString()) +
                           " AND NRCARDAPIO = " + rtl::QuotedStr(cdsCardaDia.FieldByName("NRCARDAPIO").AsString()));
  cdsCompCardAux.SetFiltered(true);
  if (!bAtuPrato) {
    // Switching the filter off and on again makes the record filter follow
    // the new dish type.
    cdsPratoCard.SetFiltered(false);
    cdsPratoCard.SetFiltered(true);
  }
}

}  // namespace pla01000
