// The pages of pgcPadrao and of the billing page's PageControl1: bringing the
// shown page up to date, and the checks run when the user leaves a page.

#include "contracts/arguments.h"
#include "platform/host/checks.h"
#include "platform/host/dialogs.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/ui/services.h"
#include "pla01000/cli_pla01000.h"

namespace pla01000 {

using rtl::Variant;

namespace {
bool Editando(const data::TClientDataSet& ds) { return ds.State() == data::TDataSetState::Edit; }
}  // namespace

void TfrmMediEfetivos::pgcPadraoChanging(ui::TObject&, bool& allowChange) {
  try {
    if (pgcPadrao->ActivePage() == tshPadrao) {
      if (Editando(cdsCardaDia)) cdsCardaDia.Post();
    } else {
      if (Editando(cdsServCli)) cdsServCli.Post();
      // Unsent shift rows are offered for saving before they are dropped.
      SairTurnos(false);
      Vd_ComensTrocaAba();
    }
  } catch (const rtl::EAbort&) {
    allowChange = false;
  } catch (const std::exception& e) {
    allowChange = false;
    host::MensErro(e.what(), false);
  }
}

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
    using F = contracts::args::GetServiFat;
    Variant r = Servidor("GetServiFat", contracts::ArgsOf<F>({{F::kFilial, Filial()},
                                                              {F::kServico, servico},
                                                              {F::kData, DataCardapio()},
                                                              {F::kZero, 0}}));
    cdsServFatu.SetData(host::CheckResultServ(r, true, 0));

    {
      host::BusyScope busy(this, 6, msgPadrao.Msg("get_cdsDtCardapio"));
      using C = contracts::args::GetEfetCatraca;
      Variant c = Servidor("GetEfetCatraca", contracts::ArgsOf<C>({{C::kFilial, Filial()},
                                                                  {C::kData, DataCardapio()},
                                                                  {C::kServico, servico}}));
      cdsEfetCat.SetData(host::CheckResultServ(c, true, 0));
    }

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

void TfrmMediEfetivos::pgcPadraoExit(ui::TObject&) {
  if (pgcPadrao->ActivePage() != tshPadrao) {
    try {
      Vd_ComensTrocaAba();
      Vd_Comensais();
    } catch (...) {
      if (dbgServiFatu->CanFocus()) FocusControl(dbgServiFatu);
      throw;
    }
    return;
  }
  Vd_Comensais();
  std::string servico = cdsCardaDia.Active() ? cdsCardaDia.FieldByName("CDSERVFILI").AsString() : std::string();
  Vd_VerifRetirada();
  if (cdsCardaDia.Active()) cdsCardaDia.Locate("CDSERVFILI", servico);
}

void TfrmMediEfetivos::mnuEfetivosClick(ui::TObject& sender) {
  if (pgcPadrao->ActivePage() == tshPadrao) return;
  Vd_ComensTrocaAba();
  // The menu leaves the billing page as picking the tab does: shift rows
  // not yet sent are offered for saving, then dropped.
  if (Editando(cdsServCli)) cdsServCli.Post();
  SairTurnos(false);
  pgcPadrao->SetActivePage(tshPadrao);
  pgcPadraoChange(sender);
}

void TfrmMediEfetivos::mnuClientesClick(ui::TObject& sender) {
  if (pgcPadrao->ActivePage() == tshClientes) return;
  pgcPadrao->SetActivePage(tshClientes);
  pgcPadraoChange(sender);
}

void TfrmMediEfetivos::dbnPadraoClick(ui::TObject&, ui::TNavigateBtn) {
  if (pgcPadrao->ActivePage() == tshClientes) PageControl1->SetActivePage(TabSheet1);
}

void TfrmMediEfetivos::PageControl1Changing(ui::TObject&, bool& allowChange) {
  allowChange = false;
  if (Editando(cdsServCli)) cdsServCli.Post();
  if (Editando(cdsTurnoCliente)) cdsTurnoCliente.Post();
  if (PageControl1->ActivePage() == tshTurnoCliente) SairTurnos(true);
  allowChange = true;
}

void TfrmMediEfetivos::PageControl1Change(ui::TObject&) {
  if (PageControl1->ActivePage() != tshTurnoCliente) return;
  try {
    cdsTurnoCliente.SetData(host::CheckResultServ(LeTurnosCliente(), true, 0));
  } catch (const rtl::EAbort&) {
    throw;
  } catch (const std::exception& e) {
    // Reported once here; the grid keeps the rows it held.
    host::MensErro(e.what(), false);
  }
}

void TfrmMediEfetivos::FechaPaginas() {
  tshPadrao->SetEnabled(true);
  mnuEfetivos->SetChecked(true);
  mnuClientes->SetChecked(false);
  pgcPadrao->SetActivePage(tshPadrao);
  tshPadrao->SetEnabled(false);
  mnuEfetivos->SetEnabled(false);
  tshClientes->SetEnabled(false);
  mnuClientes->SetEnabled(false);
}

void TfrmMediEfetivos::tshClientesExit(ui::TObject&) { Vd_Turno(); }

void TfrmMediEfetivos::Vd_ComensTrocaAba() {
  if (DiaFechado()) return;
  if (!cdsCardaDia.Active() || cdsCardaDia.IsEmpty()) return;

  std::string servico = cdsCardaDia.FieldByName("CDSERVFILI").AsString();
  CarregaComensais(servico);

  if (!cdsExistsCliente.Locate("CDSERVFILI", servico)) return;
  Variant chaveCard = rtl::VarArrayOf({cdsCardaDia.FieldByName("CDFILIAL").AsString(), servico,
                                       Variant::FromDate(cdsCardaDia.FieldByName("DTCARDAPIO").AsDateTime())});
  if (!cdsComensaisCard.Locate("CDFILIAL;CDSERVFILI;DTCARDAPIO", chaveCard)) return;
  data::TField& planejado = cdsComensaisCard.FieldByName("QTCLIEFETCAR");
  double p = host::RoundDec(planejado.AsFloat(), 5);
  if (!(p > 0)) return;

  Variant chave = rtl::VarArrayOf({cdsServFatu.FieldByName("CDFILIAL").AsString(),
                                   cdsServFatu.FieldByName("CDSERVFILI").AsString(),
                                   Variant::FromDate(cdsServFatu.FieldByName("DTCARDAPIO").AsDateTime())});
  bool achou = cdsComensaisEfet.Active() && !cdsComensaisEfet.IsEmpty() &&
               cdsComensaisEfet.Locate("CDFILIAL;CDSERVPLAN;DTEFETCLIE", chave);
  std::string a1 = cdsComensaisCard.FieldByName("NMSERVICO").AsString() + " (" + planejado.AsString() + ")";
  std::string a2 = achou ? "(" + cdsComensaisEfet.FieldByName("QTCOMEFETCLI").AsString() + ")" : "(0)";

  bool bloqueia;
  if (achou) {
    if (host::RoundDec(cdsComensaisEfet.FieldByName("QTCOMEFETCLI").AsFloat(), 5) == p) return;
    bloqueia = cdsParamGeral.FieldByName("IDCONSMINEFE").AsString() == "S" &&
               !(cdsVdFaturados.Active() && cdsVdFaturados.Locate("CDFILIAL;CDSERVPLAN;DTEFETCLIE", chave));
  } else {
    bloqueia = cdsParamGeral.FieldByName("IDCONSMINEFE").AsString() == "S";
  }
  if (bloqueia) {
    if (dbgServiFatu->CanFocus()) FocusControl(dbgServiFatu);
    ControlCache(dtsServCli);
    host::MensErro(rtl::Format(msgPadrao.Msg("Soma"), {a1, a2}), true);
  } else {
    ControlCache(dtsServCli);
    ui::MessageDlg(rtl::Format(msgPadrao.Msg("SomaD"), {a1, a2}), ui::TMsgDlgType::Information, ui::mbOK, 0);
  }
}

}  // namespace pla01000
