// Opening of the screen, the header fields (branch, menu date, service group)
// and the loading of the menu day when the focus leaves the header.

#include <cmath>

#include "contracts/arguments.h"
#include "platform/data/controls_off.h"
#include "platform/host/branch.h"
#include "platform/host/checks.h"
#include "platform/host/context.h"
#include "platform/host/dialogs.h"
#include "platform/rtl/format.h"
#include "pla01000/cli_pla01000.h"

namespace pla01000 {

using rtl::Variant;

namespace {

// Gives the focus back to a header field whose check failed, so the user
// stays on the offending value.
void Refocus(ui::TWinControl* c) {
  if (c->Enabled() && c->CanFocus()) c->SetFocus();
}

}  // namespace

std::string TfrmMediEfetivos::Filial() const { return medCdFilial->Text(); }

Variant TfrmMediEfetivos::DataCardapio() const { return Variant::FromDate(depCardapio->GetDate()); }

Variant TfrmMediEfetivos::Servidor(const std::string& method, rtl::VariantArray args) {
  return netMediEfetivos.Call(method, args);
}

bool TfrmMediEfetivos::DiaFechado() {
  if (!cdsParamPlaneja.Active() || cdsParamPlaneja.IsEmpty()) return false;
  if (cdsParamPlaneja.FieldByName("IDBLQEFEDIAFECH").AsString() != "S") return false;
  rtl::TDateTime menu = 0;
  try {
    menu = depCardapio->GetDate();
  } catch (const rtl::EConvertError&) {
    return false;  // no valid date: no day is loaded for it either
  }
  if (menu == 0) return false;
  double limit = std::floor(host::DataProc(Filial()) - cdsParamPlaneja.FieldByName("NRDIAANTDTPROC").AsFloat());
  return std::floor(menu) < limit;
}

// ---------------------------------------------------------------------------
void TfrmMediEfetivos::FormCreate(ui::TObject& sender) {
  host::TfrmPadraoGrid::FormCreate(sender);
  bPrimeiraVez = true;
  bAtuPrato = false;
  if (host::ModuloAtiv() == 24) SetCaption(msgPadrao.Msg("capt_pah"));
  dRateio = 0;
}

void TfrmMediEfetivos::FormActivate(ui::TObject&) {
  Changed();
  if (!bPrimeiraVez) return;

  // A failure here leaves the flag set, so the next activation tries again.
  netMediEfetivos.SetConnected(true);
  cdsParamGeral.SetData(host::CheckResultServ(Servidor("GetParamGeral", {}), true, 0));

  medCdFilial->SetText(host::FiliProc());
  edtNmFilial->SetText(host::NomeFiliProc());
  cdsCardaDia.FieldByName("CDSERVFILI").Tag = 1;

  bool livre = !host::ModuFili();
  medCdFilial->SetEnabled(livre);
  lblCdFilial->SetEnabled(livre);
  btpFilial->SetEnabled(livre);

  rtl::TDateTime proc = host::DataProc(Filial());
  depCardapio->SetDate(proc);
  edtDiaCardapio->SetText(host::NomeSemana(proc));

  cdsServFatu.CreateDataSet();
  cdsServCli.CreateDataSet();
  cdsTurnoCliente.CreateDataSet();

  pgcPadrao->SetActivePage(tshPadrao);
  pgcPadraoChange(*pgcPadrao);

  if (medCdFilial->Enabled()) {
    if (medCdFilial->CanFocus())
      FocusControl(medCdFilial);
    else
      SetActiveControl(medCdFilial);
  } else {
    bPrimeiraVez = false;
    if (ui::TWinControl* next = FindNextControl(medCdFilial, true, true, false)) {
      if (next->CanFocus())
        FocusControl(next);
      else
        SetActiveControl(next);
    }
  }
  bPrimeiraVez = false;
  Changed();
  dtsPadraoStateChange(*dtsPadrao);
}

void TfrmMediEfetivos::FormClose(ui::TObject& sender, ui::TCloseAction& action) {
  cdsServCli.Close();
  cdsTurnoCliente.Close();
  bCriado = false;
  while (netMediEfetivos.Connected()) netMediEfetivos.Disconnect();
  host::TfrmPadraoGrid::FormClose(sender, action);
}

void TfrmMediEfetivos::netMediEfetivosBeforeConnect(contracts::TNetConnection& sender) {
  sender.SetHost(host::WebURL());
  sender.SetPort(host::WebPort());
}

// ---- Branch ---------------------------------------------------------------
void TfrmMediEfetivos::medCdFilialChange(ui::TObject&) { edtNmFilial->SetText(""); }

void TfrmMediEfetivos::medCdFilialExit(ui::TObject&) { host::ConfereFilial(*medCdFilial, *edtNmFilial, false); }

void TfrmMediEfetivos::btpFilialBeforePesq(ui::TObject&) { qryFilialPesq.Close(); }

void TfrmMediEfetivos::btpFilialAfterPesq(ui::TObject&) {
  medCdFilial->SetText(qryFilialPesq.FieldByName("CDFILIAL").AsString());
  edtNmFilial->SetText(qryFilialPesq.FieldByName("NMFILIAL").AsString());
}

// ---- Menu date ------------------------------------------------------------
void TfrmMediEfetivos::depCardapioChange(ui::TObject&) { edtDiaCardapio->SetText(""); }

void TfrmMediEfetivos::depCardapioExit(ui::TObject&) {
  if (!host::EmptyString(depCardapio->Text())) depCardapio->CheckValidDate();
}

void TfrmMediEfetivos::btpDtCardapioBeforePesq(ui::TObject&) {
  host::BusyScope busy(this, 6, msgPadrao.Msg("get_cdsDtCardapio"));
  std::string filial = Filial();
  using A = contracts::args::GetDtCardapio;
  Variant r = Servidor("GetDtCardapio",
                       contracts::ArgsOf<A>({{A::kFilial, filial}, {A::kDataProc, Variant::FromDate(host::DataProc(filial))}}));
  cdsDtCardapio.SetData(host::CheckResultServ(r, true, 0));
  data::TField& ordena = cdsDtCardapio.FieldByName("DTORDENA");
  data::TField& texto = cdsDtCardapio.FieldByName("DTCARDAPIO");
  cdsDtCardapio.First();
  while (!cdsDtCardapio.Eof()) {
    cdsDtCardapio.Edit();
    texto.SetAsString(rtl::FormatDateTime("ddddd", ordena.AsDateTime()));
    cdsDtCardapio.Post();
    cdsDtCardapio.Next();
  }
  cdsDtCardapio.First();
}

void TfrmMediEfetivos::cdsDtCardapioCalcFields(data::TClientDataSet& dataSet) {
  dataSet.FieldByName("DSDIASEMANA").SetAsString(host::NomeSemana(dataSet.FieldByName("DTORDENA").AsDateTime()));
}

void TfrmMediEfetivos::btpDtCardapioAfterPesq(ui::TObject&) {
  depCardapio->SetDate(cdsDtCardapio.FieldByName("DTORDENA").AsDateTime());
  edtDiaCardapio->SetText(cdsDtCardapio.FieldByName("DSDIASEMANA").AsString());
}

// ---- Service group --------------------------------------------------------
void TfrmMediEfetivos::edtGrupServChange(ui::TObject&) { edtNmGrupServ->SetText(""); }

void TfrmMediEfetivos::edtGrupServExit(ui::TObject&) {
  if (edtGrupServ->Text().empty()) return;  // no group: every service of the day
  edtGrupServ->SetText(host::Ajusta(edtGrupServ->Text(), 3));
  qryGrupServ.Close();
  qryGrupServ.ParamByName("P_CDGRUPSERV").SetAsString(edtGrupServ->Text());
  qryGrupServ.ParamByName("P_TCDGRUPSERV").Clear();
  qryGrupServ.Open();
  if (qryGrupServ.IsEmpty()) {
    Refocus(edtGrupServ);
    host::MensErro(msgPadrao.Msg("GRUP_SERV_N_CAD"), true);
  }
  edtGrupServ->SetText(qryGrupServ.FieldByName("CDGRUPSERV").AsString());
  edtNmGrupServ->SetText(qryGrupServ.FieldByName("NMGRUPSERV").AsString());
}

void TfrmMediEfetivos::btnGrupServBeforePesq(ui::TObject&) {
  qryGrupServ.Close();
  qryGrupServ.ParamByName("P_CDGRUPSERV").Clear();
  qryGrupServ.ParamByName("P_TCDGRUPSERV").SetAsString("T");
}

void TfrmMediEfetivos::btnGrupServAfterPesq(ui::TObject&) {
  edtGrupServ->SetText(qryGrupServ.FieldByName("CDGRUPSERV").AsString());
  edtNmGrupServ->SetText(qryGrupServ.FieldByName("NMGRUPSERV").AsString());
}

// ---- Header panel -----------------------------------------------------------
void TfrmMediEfetivos::panDadosEnter(ui::TObject&) {
  cdsCardaDia.Close();
  cdsCompCardAux.Close();
  cdsPratoCard.Close();
  pgcPadrao->SetActivePage(tshPadrao);
  tshPadrao->SetEnabled(true);
  mnuEfetivos->SetEnabled(true);
  tshClientes->SetEnabled(false);
  mnuClientes->SetEnabled(false);
  pgcPadraoChange(*pgcPadrao);
  Habilita(false);
}

void TfrmMediEfetivos::Vd_Data() {
  try {
    rtl::TDateTime menu = depCardapio->GetDate();
    if (menu == 0) {
      host::MensErro(msgPadrao.Msg("Data_inf"), true);
    } else {
      using A = contracts::args::GetParamPlaneja;
      cdsParamPlaneja.SetData(
          host::CheckResultServ(Servidor("GetParamPlaneja", contracts::ArgsOf<A>({{A::kFilial, Filial()}})), true, 0));
      edtDiaCardapio->SetText(host::NomeSemana(menu));
      if (std::floor(menu) > std::floor(host::DataProc(Filial())) &&
          cdsParamPlaneja.FieldByName("IDPEREFEPOSDTPR").AsString() == "N")
        host::MensErro(msgPadrao.Msg("DATA_PROC"), true);
      Atualiza();
    }
  } catch (...) {
    Refocus(depCardapio);
    throw;
  }
}

void TfrmMediEfetivos::Atualiza() {
  if (cdsCardaDia.Active()) return;
  data::ControlsOff semControles(cdsCardaDia);
  host::BusyScope busy(this, 6, msgPadrao.Msg("get_cdsCardaDia"));
  Variant p = host::CheckResultServ(LeDia(), true, 0);
  cdsCardaDia.SetData(p[0]);
  cdsParamFilal.SetData(p[3]);
}

void TfrmMediEfetivos::panDadosExit(ui::TObject&) {
  host::ConfereFilial(*medCdFilial, *edtNmFilial, true);
  Vd_Data();
  pgcPadraoChange(*pgcPadrao);
  if (!cdsServCli.IsEmpty()) Habilita(true);

  {
    // The indicator goes also when a payload element fails to load, not
    // only when the call fails: a load error must not leave it spinning.
    host::BusyScope busy(this, 6, msgPadrao.Msg("get_cdsCardaDia"));
    Variant p = host::CheckResultServ(LeDia(), true, 0);
    CarregaDia(p);
    cdsParamFilal.SetData(p[3]);
    cdsParamPlaneja.SetData(p[4]);

    if (DiaFechado()) {
      Habilita(false);
      dbgPadrao->SetOptions(dbgPadrao->Options() & ~ui::dgEditing);
      dbgPrato->SetOptions(dbgPrato->Options() & ~ui::dgEditing);
    } else {
      dbgPadrao->SetOptions(dbgPadrao->Options() | ui::dgEditing);
      dbgPrato->SetOptions(dbgPrato->Options() | ui::dgEditing);
    }
  }

  FocusedGrid(*dbgPadrao);
  FocusedGrid(*dbgTipoPrat);
  FocusedGrid(*dbgPrato);

  if (cdsCardaDia.IsEmpty()) FechaPaginas();
}

void TfrmMediEfetivos::dtsPadraoDataChange(data::TDataSource&, data::TField*) {
  if (pgcPadrao->ActivePage() == tshClientes) pgcPadraoChange(*pgcPadrao);
}

}  // namespace pla01000
