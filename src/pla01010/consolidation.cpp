// Client corrections, the apportionment of each client's billed headcount
// over the days in proportion to the plan, and the confirm that checks every
// day against the plan before sending the rows.

#include <cmath>
#include <map>
#include <vector>

#include "contracts/arguments.h"
#include "contracts/result.h"
#include "pla01010/cli_pla01010.h"
#include "platform/data/controls_off.h"
#include "platform/host/checks.h"
#include "platform/host/dialogs.h"
#include "platform/rtl/format.h"
#include "platform/rtl/scoped.h"
#include "platform/ui/services.h"

namespace pla01010 {

using rtl::Variant;

namespace {

bool Editing(const data::TClientDataSet& ds) {
  return ds.State() == data::TDataSetState::Edit || ds.State() == data::TDataSetState::Insert;
}

// Headcounts are typed as whole numbers without sign or exponent.
bool NotAHeadcountChar(ui::TChar key) {
  return key == U'+' || key == U',' || key == U'-' || key == U'.' || key == U'e';
}

// Nearest whole number, a value exactly halfway going to the even neighbour,
// on the extended-precision value (a double conversion first could move a
// value just under a half onto it).
long double RoundHalfEven(long double v) {
  long double f = std::floor(v);
  long double diff = v - f;
  if (diff > 0.5L) return f + 1;
  if (diff < 0.5L) return f;
  return std::fmod(f, 2.0L) == 0 ? f : f + 1;
}

}  // namespace

// ---- Typing in the grids ---------------------------------------------------
void TfrmConsEfetClie::dbgEfetClieKeyPress(ui::TObject&, ui::TChar& key) {
  if (NotAHeadcountChar(key)) key = 0;
}

void TfrmConsEfetClie::dgbEfetFatKeyPress(ui::TObject&, ui::TChar& key) {
  data::TField* f = dgbEfetFat->SelectedField();
  if (f && rtl::SameText(f->FieldName(), "DTCARDAPIO")) key = 0;
  if (NotAHeadcountChar(key)) key = 0;
}

void TfrmConsEfetClie::cdsEfetClieBeforeInsert(data::TClientDataSet&) { rtl::Abort(); }

void TfrmConsEfetClie::cdsEfetFatBeforeInsert(data::TClientDataSet&) { rtl::Abort(); }

// ---- Correcting a client ---------------------------------------------------
void TfrmConsEfetClie::cdsEfetClieBeforePost(data::TClientDataSet& ds) {
  data::TField& total = ds.FieldByName("TOTALEFET");
  Variant antes = total.OldValue();
  if (antes == total.Value()) return;
  if (total.IsNull()) total.SetAsFloat(0);
  if (antes.isNullOrEmpty())
    dTotEfetFat += total.AsFloat();
  else
    dTotEfetFat += total.AsFloat() - antes.toDouble();
  edtEfetFat->SetText(rtl::FloatToStr(dTotEfetFat));
}

void TfrmConsEfetClie::cdsEfetClieAfterPost(data::TClientDataSet& ds) { ds.MergeChangeLog(); }

// ---- Apportionment ---------------------------------------------------------
void TfrmConsEfetClie::PrepareEfetFat() {
  if (!cdsEfetFat.Active())
    cdsEfetFat.CreateDataSet();
  else
    cdsEfetFat.EmptyDataSet();
}

void TfrmConsEfetClie::sbtConsolidarClick(ui::TObject&) {
  if (Editing(cdsEfetClie)) cdsEfetClie.Post();

  if (edtEfetPlan->Text() != edtEfetFat->Text()) {
    cdsEfetFat.Close();
    host::MensErro(rtl::Format(msgPadrao.Msg("Efet_Difere"), {edtEfetPlan->Text(), edtEfetFat->Text()}), true);
  }

  PrepareEfetFat();

  const long double plano = rtl::StrToFloat(edtEfetPlan->Text());
  {
    // The screen itself inserts here. The billing grid is re-filtered once at
    // the end instead of on every move of the client cursor: per move it would
    // cost a pass over all rows written so far.
    rtl::ScopedAssign noInsertGuard(cdsEfetFat.BeforeInsert, nullptr);
    rtl::ScopedAssign noRefilter(cdsEfetClie.AfterScroll, nullptr);
    data::ControlsOff offPlan(cdsEfetPlan), offClie(cdsEfetClie), offFat(cdsEfetFat);
    cdsEfetFat.SetFiltered(false);

    data::TField& planDia = cdsEfetPlan.FieldByName("DTCARDAPIO");
    data::TField& planQt = cdsEfetPlan.FieldByName("QTCLIEFETCAR");
    data::TField& clieCd = cdsEfetClie.FieldByName("CDCLIENTE");
    data::TField& clieNm = cdsEfetClie.FieldByName("NMRAZSOCCLIE");
    data::TField& clieTot = cdsEfetClie.FieldByName("TOTALEFET");
    data::TField& fatDia = cdsEfetFat.FieldByName("DTCARDAPIO");
    data::TField& fatCd = cdsEfetFat.FieldByName("CDCLIENTE");
    data::TField& fatNm = cdsEfetFat.FieldByName("NMRAZSOCCLIE");
    data::TField& fatQt = cdsEfetFat.FieldByName("QTEFETFAT");

    cdsEfetPlan.First();
    while (!cdsEfetPlan.Eof()) {
      // A plan of 0 in total gives every row 0 rather than a division by zero,
      // so that the confirm can still check and send the period.
      const long double share = plano == 0 ? 0.0L : static_cast<long double>(planQt.AsFloat()) / plano;
      cdsEfetClie.First();
      while (!cdsEfetClie.Eof()) {
        cdsEfetFat.Insert();
        fatDia.SetValue(planDia.Value());
        fatCd.SetValue(clieCd.Value());
        fatNm.SetValue(clieNm.Value());
        fatQt.SetAsFloat(static_cast<double>(RoundHalfEven(static_cast<long double>(clieTot.AsFloat()) * share)));
        cdsEfetFat.Post();
        cdsEfetClie.Next();
      }
      cdsEfetClie.First();
      cdsEfetPlan.Next();
    }
    cdsEfetPlan.First();
  }
  // The client cursor stands on the first client: show its days.
  cdsEfetClieAfterScroll(cdsEfetClie);
  bRateioPendente = true;
}

// ---- Confirm ---------------------------------------------------------------
void TfrmConsEfetClie::sbtConfirmaClick(ui::TObject&) {
  if (Editing(cdsEfetFat)) cdsEfetFat.Post();

  if (!cdsEfetFat.Active() || cdsEfetFat.IsEmpty()) host::MensErro(msgPadrao.Msg("Efet_nCalc"), true);

  cdsAux.SetFiltered(false);
  cdsAux.CopyDataFrom(cdsEfetFat);

  // One pass over the copy sums every day; the days are then compared with the
  // plan in the plan's order.
  std::map<double, double> porDia;
  {
    data::ControlsOff off(cdsAux);
    data::TField& dia = cdsAux.FieldByName("DTCARDAPIO");
    data::TField& qt = cdsAux.FieldByName("QTEFETFAT");
    cdsAux.First();
    while (!cdsAux.Eof()) {
      porDia[dia.AsDateTime()] += qt.AsFloat();
      cdsAux.Next();
    }
  }

  std::string lista;
  std::string ultimoDia;
  {
    data::ControlsOff off(cdsEfetPlan);
    data::TField& dia = cdsEfetPlan.FieldByName("DTCARDAPIO");
    data::TField& qt = cdsEfetPlan.FieldByName("QTCLIEFETCAR");
    cdsEfetPlan.First();
    while (!cdsEfetPlan.Eof()) {
      auto it = porDia.find(dia.AsDateTime());
      double soma = it == porDia.end() ? 0 : it->second;
      ultimoDia = dia.AsString();
      if (qt.AsFloat() != soma) lista += "\n\r" + ultimoDia + "  -  (" + rtl::FloatToStr(soma - qt.AsFloat()) + ")";
      cdsEfetPlan.Next();
    }
    cdsEfetPlan.First();
  }

  if (!lista.empty()) {
    // Left filtered on the last day, as the check leaves it.
    cdsAux.SetFilter("DTCARDAPIO = " + rtl::QuotedStr(ultimoDia));
    cdsAux.SetFiltered(true);
    host::MensErro(rtl::Format(msgPadrao.Msg("Rateio_Difere"), {lista}), true);
  }

  std::string texto;
  {
    host::BusyScope busy(this, 6, msgPadrao.Msg("cons_efet"));
    cdsAux.SetFiltered(false);
    using A = contracts::args::SetConsolEfet;
    Variant r = Servidor("SetConsolEfet", contracts::ArgsOf<A>({{A::kFilial, medCdFilial->Text()},
                                                              {A::kServico, medCdServico->Text()},
                                                              {A::kConsolidado, cdsAux.Data()},
                                                              {A::kLeitura, marcaLeitura_}}));
    texto = host::CheckResultServ(r, true, 0).toString();
    // The split stored now is this user's own: a later confirm is checked
    // against it. A failed re-read only leaves the old mark (that confirm is
    // then refused and the user reloads); the save itself has succeeded.
    if (!marcaLeitura_.isNullOrEmpty()) {
      Variant lido = Servidor("GetEfetPlanCli", periodoLido_);
      if (contracts::ResultSucceeded(lido) && lido[1].isArray() && lido[1].size() > 2) marcaLeitura_ = lido[1][2];
    }
  }
  bRateioPendente = false;

  if (texto.empty()) ui::MessageDlg(msgPadrao.Msg("Consl_succ"), ui::TMsgDlgType::Information, ui::mbOK);
}

// ---- Closing ---------------------------------------------------------------
// An apportionment made but not confirmed is not dropped without a question:
// Sim confirms it (a refusal keeps the screen open), Não discards it, and a
// question closed without an answer keeps the screen as it is.
bool TfrmConsEfetClie::RateioPorConfirmar() {
  return bRateioPendente && cdsEfetFat.Active() && !cdsEfetFat.IsEmpty();
}

void TfrmConsEfetClie::FormCloseQuery(ui::TObject&, bool& canClose) {
  if (!RateioPorConfirmar()) return;
  ui::TModalResult r = ui::MessageDlg("O rateio dos efetivos não foi confirmado. Deseja confirmá-lo antes de sair?",
                                      ui::TMsgDlgType::Confirmation, ui::mbYesNo, 0);
  if (r == ui::mrCancel) {
    canClose = false;
    return;
  }
  if (r == ui::mrYes) {
    canClose = false;
    sbtConfirmaClick(*sbtConfirma);
    canClose = true;
  }
}

}  // namespace pla01010
