// The composition of the current service's menu: its dish types and, for the
// current type, its dishes with their diners and kilograms sold. Rows come from
// the server and only their values change here; each posted dish goes to the
// server at once and the server answers with the dish-type totals anew.

#include "contracts/arguments.h"
#include "platform/host/dialogs.h"
#include "platform/host/checks.h"
#include "platform/rtl/scoped.h"
#include "platform/ui/keys.h"
#include "pla01000/cli_pla01000.h"

namespace pla01000 {

using rtl::Variant;

namespace {

bool Editando(const data::TClientDataSet& ds) {
  return ds.State() == data::TDataSetState::Edit || ds.State() == data::TDataSetState::Insert;
}

bool SoEnter(ui::Word key, ui::TShiftState shift) {
  return key == ui::VK_RETURN && !(shift & (ui::ssShift | ui::ssCtrl | ui::ssAlt));
}

}  // namespace

// ---- Filters ----------------------------------------------------------------
// The filter text narrows the dish types to the menu of the current service
// row; the record filter repeats the test with exact comparisons, so that the
// text's own matching rules never let a type of another menu through.
void TfrmMediEfetivos::cdsCompCardAuxFilterRecord(data::TClientDataSet& dataSet, bool& accept) {
  if (!cdsCardaDia.Active() || cdsCardaDia.IsEmpty()) {
    accept = false;
    return;
  }
  accept = dataSet.FieldByName("CDFILIAL").AsString() == cdsCardaDia.FieldByName("CDFILIAL").AsString() &&
           dataSet.FieldByName("NRCARDAPIO").AsString() == cdsCardaDia.FieldByName("NRCARDAPIO").AsString();
}

void TfrmMediEfetivos::cdsPratoCardFilterRecord(data::TClientDataSet& dataSet, bool& accept) {
  if (!cdsCompCardAux.Active() || cdsCompCardAux.IsEmpty()) {
    accept = false;
    return;
  }
  accept = dataSet.FieldByName("CDFILIAL").AsString() == cdsCompCardAux.FieldByName("CDFILIAL").AsString() &&
           dataSet.FieldByName("NRCARDAPIO").AsString() == cdsCompCardAux.FieldByName("NRCARDAPIO").AsString() &&
           dataSet.FieldByName("CDTIPOPRAT").AsString() == cdsCompCardAux.FieldByName("CDTIPOPRAT").AsString();
}

void TfrmMediEfetivos::cdsCompCardAuxAfterScroll(data::TClientDataSet&) {
  // While a posted dish reloads the types, the dishes stay as they are.
  if (bAtuPrato) return;
  cdsPratoCard.SetFiltered(false);
  cdsPratoCard.SetFiltered(true);
}

// ---- Rows are the server's ----------------------------------------------------
void TfrmMediEfetivos::cdsCompCardAuxBeforeInsert(data::TClientDataSet&) { rtl::Abort(); }

void TfrmMediEfetivos::cdsCompCardAuxBeforeDelete(data::TClientDataSet&) { rtl::Abort(); }

void TfrmMediEfetivos::cdsPratoCardBeforeInsert(data::TClientDataSet&) { rtl::Abort(); }

void TfrmMediEfetivos::cdsPratoCardBeforeDelete(data::TClientDataSet&) { rtl::Abort(); }

// ---- Keyboard and focus ---------------------------------------------------------
void TfrmMediEfetivos::dbgTipoPratEnter(ui::TObject&) {
  dbgTipoPrat->SetOptions(dbgTipoPrat->Options() | ui::dgAlwaysShowSelection);
}

void TfrmMediEfetivos::dbgTipoPratExit(ui::TObject&) {}

void TfrmMediEfetivos::dbgTipoPratKeyDown(ui::TObject&, ui::Word& key, ui::TShiftState shift) {
  if (!SoEnter(key, shift)) return;
  FocusControl(dbgPrato);
  dbgPrato->SetSelectedField(&cdsPratoCard.FieldByName("QTCOMEFETPRA"));
}

void TfrmMediEfetivos::dbgPratoEnter(ui::TObject&) {}

void TfrmMediEfetivos::dbgPratoExit(ui::TObject&) {
  if (Editando(cdsPratoCard)) cdsPratoCard.Post();
  dbgTipoPrat->SetOptions(dbgTipoPrat->Options() & ~ui::dgAlwaysShowSelection);
}

// Enter walks Comensais, Qt. Vendida, then the next dish; from the last dish
// of a type on to the next type, and from the last type back to the first.
void TfrmMediEfetivos::dbgPratoKeyDown(ui::TObject&, ui::Word& key, ui::TShiftState shift) {
  if (!SoEnter(key, shift)) return;
  if (dbgPrato->SelectedIndex() < dbgPrato->ColumnCount() - 1) {
    dbgPrato->SetSelectedIndex(dbgPrato->SelectedIndex() + 1);
    return;
  }
  if (Editando(cdsPratoCard)) cdsPratoCard.Post();
  cdsPratoCard.Next();
  dbgPrato->SetSelectedField(&cdsPratoCard.FieldByName("QTCOMEFETPRA"));
  if (cdsPratoCard.Eof()) {
    cdsCompCardAux.Next();
    if (cdsCompCardAux.Eof()) cdsCompCardAux.First();
  }
}

// ---- Checks -----------------------------------------------------------------------
namespace {

// An empty quantity reads as 0 and passes.
bool Negativo(data::TField& f) { return !f.IsNull() && f.AsFloat() < 0; }

}  // namespace

void TfrmMediEfetivos::dbgPratoColExit(ui::TObject&) {
  data::TField* f = dbgPrato->SelectedField();
  if (!f) return;
  const char* chave = nullptr;
  if (f->FieldName() == "QTCOMEFETPRA")
    chave = "QTCOMEFETPRA_INV";
  else if (f->FieldName() == "QTPRODUZPRAT")
    chave = "QTPRODUZPRAT_INV";
  if (!chave || !Negativo(*f)) return;
  dbgPrato->FocusField(*f);
  host::MensErro(msgPadrao.Msg(chave), true);
}

void TfrmMediEfetivos::cdsPratoCardBeforePost(data::TClientDataSet& dataSet) {
  for (const char* nome : {"QTCOMEFETPRA", "QTPRODUZPRAT"}) {
    data::TField& f = dataSet.FieldByName(nome);
    if (!Negativo(f)) continue;
    dbgPrato->FocusField(f);
    host::MensErro(msgPadrao.Msg(std::string(nome) + "_INV"), true);
  }
}

void TfrmMediEfetivos::cdsPratoCardBeforeEdit(data::TClientDataSet&) {
  if (ActiveControl() == dbgPrato) Vd_Retirada();
}

// ---- Posting a dish -----------------------------------------------------------------
void TfrmMediEfetivos::cdsPratoCardAfterPost(data::TClientDataSet&) {
  if (cdsPratoCard.ChangeCount() == 0) return;
  host::BusyScope busy(this, 1, msgPadrao.Msg("upd_cdsPratoCard"));
  rtl::ScopedAssign atualizando(bAtuPrato, true);
  try {
    std::string tipo = cdsCompCardAux.FieldByName("CDTIPOPRAT").AsString();
    // Branch and date of the service row the dishes belong to.
    using A = contracts::args::UpdPratoCard;
    Variant r = Servidor(
        "UpdPratoCard",
        contracts::ArgsOf<A>({{A::kDelta, Variant(cdsPratoCard.Delta())},
                              {A::kFilial, cdsCardaDia.FieldByName("CDFILIAL").AsString()},
                              {A::kData, Variant::FromDate(cdsCardaDia.FieldByName("DTCARDAPIO").AsDateTime())}}));
    cdsCompCardAux.SetData(host::CheckResultServ(r, true, 0));
    cdsPratoCard.MergeChangeLog();
    FiltraTiposDoDia();
    if (cdsCompCardAux.FieldByName("CDTIPOPRAT").AsString() != tipo) cdsCompCardAux.Locate("CDTIPOPRAT", tipo);
  } catch (...) {
    // The dish shows its last stored values again.
    cdsPratoCard.CancelUpdates();
    dbgPrato->Changed();
    throw;
  }
}

}  // namespace pla01000
