// The pages of pgcPadrao: bringing the shown page up to date.

#include "platform/host/checks.h"
#include "platform/host/dialogs.h"
#include "pla01000/cli_pla01000.h"

namespace pla01000 {

using rtl::Variant;

void TfrmMediEfetivos::pgcPadraoChange(ui::TObject&) {
  bool planejamento = pgcPadrao->ActivePage() == tshPadrao;
  bool faturamento = pgcPadrao->ActivePage() == tshClientes;
  mnuEfetivos->SetChecked(planejamento);
  mnuClientes->SetChecked(faturamento);

  if (planejamento) {
    sbtConsolidar->SetEnabled(false);
    if (dbgPadrao->Focused()) dtsPadraoStateChange(*dtsPadrao);
    if (DiaFechado()) Habilita(false);
  } else {
    PageControl1->SetActivePage(TabSheet1);
    sbtConsolidar->SetEnabled(true);
    std::string servico = cdsCardaDia.FieldByName("CDSERVFILI").AsString();
    Variant r = Servidor("GetServiFat", {Filial(), servico, DataCardapio(), 0});
    cdsServFatu.SetData(host::CheckResultServ(r, true, 0));

    host::ActiveShowAvi(this, 6, msgPadrao.Msg("get_cdsDtCardapio"));
    try {
      Variant c = Servidor("GetEfetCatraca", {Filial(), DataCardapio(), servico});
      cdsEfetCat.SetData(host::CheckResultServ(c, true, 0));
    } catch (...) {
      host::DeactiveShowAvi();
      throw;
    }
    host::DeactiveShowAvi();

    ControlCache(dtsServCli);
    if (dbgEfeCliCa->CanFocus()) FocusControl(dbgEfeCliCa);
    if (cdsServCli.Active()) cdsServCli.First();
    if (cdsTurnoCliente.Active()) cdsTurnoCliente.First();

    bool fechado = DiaFechado();
    Habilita(!fechado);
    for (ui::TDBGrid* g : {dbgServiFatu, dbgEfeCliCa, dbgTurnoClie}) {
      if (fechado)
        g->SetOptions(g->Options() & ~ui::dgEditing);
      else
        g->SetOptions(g->Options() | ui::dgEditing);
    }
  }
  lblInscCli->SetVisible(faturamento);
  dbtInscCli->SetVisible(faturamento);
}

}  // namespace pla01000
