// Opening of the screen, the header fields and the loading of the planned
// and billed headcounts when the focus leaves the header.

#include "contracts/arguments.h"
#include "pla01000/cli_pla01000.h"
#include "pla01010/cli_pla01010.h"
#include "platform/host/branch.h"
#include "platform/host/checks.h"
#include "platform/host/context.h"
#include "platform/host/dialogs.h"
#include "platform/rtl/format.h"

namespace pla01010 {

using rtl::Variant;

namespace {

void Refocus(ui::TWinControl* c) {
  if (c->Enabled() && c->CanFocus()) c->SetFocus();
}

// The text of a field of a data set's current row; "" when there is none.
std::string FieldText(data::TClientDataSet& ds, const char* field) {
  if (!ds.Active() || ds.IsEmpty()) return {};
  data::TField* f = ds.FindField(field);
  return f ? f->AsString() : std::string();
}

}  // namespace

void TfrmConsEfetClie::FormCreate(ui::TObject& sender) {
  host::TfrmRotiGeral::FormCreate(sender);
  bPrimeiraVez = true;
}

void TfrmConsEfetClie::FormActivate(ui::TObject& sender) {
  host::TfrmRotiGeral::FormActivate(sender);
  if (bPrimeiraVez) {
    netConsEfet.SetConnected(true);

    // Codes before names: writing a code clears the names that depend on it.
    // Opened without PLA01000 the header simply starts empty.
    if (pla01000::TfrmMediEfetivos* m = pla01000::frmMediEfetivos) {
      medCdFilial->SetText(m->medCdFilial->Text());
      edtNmFilial->SetText(m->edtNmFilial->Text());
      medCdServico->SetText(FieldText(m->cdsCardaDia, "CDSERVFILI"));
      edtNmServico->SetText(FieldText(m->cdsCardaDia, "NMSERVICO"));
      depEfetIni->SetDate(m->depCardapio->GetDate());
      depEfetFin->SetDate(depEfetIni->GetDate());
    }

    bool livre = !host::ModuFili();
    medCdFilial->SetEnabled(livre);
    lblCdFilial->SetEnabled(livre);
    btpFilial->SetEnabled(livre);
  }
  bPrimeiraVez = false;
}

void TfrmConsEfetClie::netConsEfetBeforeConnect(contracts::TNetConnection& sender) {
  sender.SetHost(host::WebURL());
  sender.SetPort(host::WebPort());
}

void TfrmConsEfetClie::FormClose(ui::TObject& sender, ui::TCloseAction& action) {
  while (netConsEfet.Connected()) netConsEfet.SetConnected(false);
  host::TfrmRotiGeral::FormClose(sender, action);
}

// ---- Branch ----------------------------------------------------------------
void TfrmConsEfetClie::medCdFilialChange(ui::TObject&) {
  edtNmFilial->SetText("");
  medCdServico->SetText("");
  edtNmServico->SetText("");
}

void TfrmConsEfetClie::medCdFilialExit(ui::TObject&) { host::ConfereFilial(*medCdFilial, *edtNmFilial, false); }

void TfrmConsEfetClie::btpFilialBeforePesq(ui::TObject&) { qryFilialPesq.Close(); }

void TfrmConsEfetClie::btpFilialAfterPesq(ui::TObject&) {
  medCdFilial->SetText(qryFilialPesq.FieldByName("CDFILIAL").AsString());
  edtNmFilial->SetText(qryFilialPesq.FieldByName("NMFILIAL").AsString());
}

// ---- Service ---------------------------------------------------------------
void TfrmConsEfetClie::medCdServicoChange(ui::TObject&) { edtNmServico->SetText(""); }

void TfrmConsEfetClie::medCdServicoExit(ui::TObject&) {
  if (medCdServico->Text().empty()) return;
  medCdServico->SetText(host::Ajusta(medCdServico->Text(), 5));
  qryServico.Close();
  qryServico.ParamByName("P_CDFILIAL").SetAsString(medCdFilial->Text());
  qryServico.ParamByName("P_CDSERVFILI").SetAsString(medCdServico->Text());
  qryServico.ParamByName("P_TCDSERVFILI").Clear();
  qryServico.Open();
  if (qryServico.IsEmpty()) {
    Refocus(medCdServico);
    host::MensErro(msgPadrao.Msg("Serv_n_Cad"), true);
  }
  edtNmServico->SetText(qryServico.FieldByName("NMSERVICO").AsString());
}

void TfrmConsEfetClie::btpServicoBeforePesq(ui::TObject&) {
  qryServico.Close();
  qryServico.ParamByName("P_CDFILIAL").SetAsString(medCdFilial->Text());
  qryServico.ParamByName("P_TCDSERVFILI").SetAsString("T");
  qryServico.ParamByName("P_CDSERVFILI").Clear();
}

void TfrmConsEfetClie::btpServicoAfterPesq(ui::TObject&) {
  medCdServico->SetText(qryServico.FieldByName("CDSERVFILI").AsString());
  edtNmServico->SetText(qryServico.FieldByName("NMSERVICO").AsString());
}

// ---- Period ----------------------------------------------------------------
void TfrmConsEfetClie::depEfetIniExit(ui::TObject&) {
  if (!host::EmptyString(depEfetIni->Text())) depEfetIni->CheckValidDate();
}

void TfrmConsEfetClie::depEfetFinExit(ui::TObject&) {
  if (!host::EmptyString(depEfetFin->Text())) depEfetFin->CheckValidDate();
}

void TfrmConsEfetClie::vd_Data() {
  if (depEfetIni->GetDate() == 0) {
    Refocus(depEfetIni);
    host::MensErro(msgPadrao.Msg("Data_ini_inf"), true);
  }
  if (depEfetFin->GetDate() == 0) {
    Refocus(depEfetFin);
    host::MensErro(msgPadrao.Msg("Data_fin_Inf"), true);
  }
  if (depEfetFin->GetDate() < depEfetIni->GetDate()) {
    Refocus(depEfetFin);
    host::MensErro(msgPadrao.Msg("Periodo_inv"), true);
  }
}

// ---- Header panel ----------------------------------------------------------
void TfrmConsEfetClie::panDadosEnter(ui::TObject&) {
  cdsEfetPlan.Close();
  cdsEfetClie.Close();
  cdsEfetFat.Close();
  sbtConsolidar->SetEnabled(false);
}

void TfrmConsEfetClie::panDadosExit(ui::TObject&) {
  dTotEfetFat = 0;

  try {
    medCdFilial->SetText(host::Ajusta(medCdFilial->Text(), 4));
    edtNmFilial->SetText(host::ValidaFilial(medCdFilial->Text(), host::Operador(), true));
  } catch (...) {
    Refocus(medCdFilial);
    throw;
  }

  if (medCdServico->Text().empty()) {
    Refocus(medCdServico);
    host::MensErro(msgPadrao.Msg("Serv_inf"), true);
  }

  vd_Data();

  const Variant filial = medCdFilial->Text();
  const Variant servico = medCdServico->Text();
  const Variant ini = Variant::FromDate(depEfetIni->GetDate());
  const Variant fin = Variant::FromDate(depEfetFin->GetDate());

  using V = contracts::args::GetVerifApurac;
  cdsVerifApurac.SetData(host::CheckResultServ(
      Servidor("GetVerifApurac",
               contracts::ArgsOf<V>({{V::kFilial, filial}, {V::kServico, servico}, {V::kInicio, ini}, {V::kFim, fin}})),
      true, 0));
  if (!cdsVerifApurac.IsEmpty() && cdsVerifApurac.FieldByName("DTEFETCLIE").AsDateTime() != 0) {
    Refocus(depEfetIni);
    host::MensErro(rtl::Format(msgPadrao.Msg("EfetApur"), {cdsVerifApurac.FieldByName("DTEFETCLIE").AsString()}),
                   true);
  }

  using P = contracts::args::GetEfetPlanCli;
  const rtl::VariantArray periodo =
      contracts::ArgsOf<P>({{P::kFilial, filial}, {P::kServico, servico}, {P::kInicio, ini}, {P::kFim, fin}});
  Variant r = host::CheckResultServ(Servidor("GetEfetPlanCli", periodo), true, 0);
  marcaLeitura_ = r.size() > 2 ? r[2] : Variant();
  periodoLido_ = periodo;
  cdsEfetPlan.SetData(r[0]);
  cdsEfetClie.SetData(r[1]);

  double plan = 0;
  {
    data::TField& qt = cdsEfetPlan.FieldByName("QTCLIEFETCAR");
    cdsEfetPlan.First();
    while (!cdsEfetPlan.Eof()) {
      plan += qt.AsFloat();
      cdsEfetPlan.Next();
    }
    cdsEfetPlan.First();
  }
  edtEfetPlan->SetText(rtl::FloatToStr(plan));

  sbtConsolidar->SetEnabled(!cdsEfetPlan.IsEmpty());

  {
    data::TField& total = cdsEfetClie.FieldByName("TOTALEFET");
    cdsEfetClie.First();
    while (!cdsEfetClie.Eof()) {
      dTotEfetFat += total.AsFloat();
      cdsEfetClie.Next();
    }
    cdsEfetClie.First();
  }
  edtEfetFat->SetText(rtl::FloatToStr(dTotEfetFat));
}

// The billing grid shows the days of the client under the cursor. The code is
// quoted with its own quotes doubled, so a code holding a quote still filters.
void TfrmConsEfetClie::cdsEfetClieAfterScroll(data::TClientDataSet&) {
  cdsEfetFat.SetFiltered(false);
  cdsEfetFat.SetFilter("CDCLIENTE = " + rtl::QuotedStr(cdsEfetClie.FieldByName("CDCLIENTE").AsString()));
  cdsEfetFat.SetFiltered(true);
}

}  // namespace pla01010
