// The service grid of the menu day: what its state switches on and off, the
// toolbar actions of a loaded day, and the rows it must never add or remove.

#include "contracts/arguments.h"
#include "platform/host/checks.h"
#include "platform/host/context.h"
#include "platform/host/dialogs.h"
#include "platform/host/lookups.h"
#include "platform/rtl/format.h"
#include "platform/ui/dbctrls.h"
#include "platform/ui/services.h"
#include "pla01000/cli_pla01000.h"

namespace pla01000 {

using rtl::Variant;

namespace {

bool EmEdicao(const data::TClientDataSet& ds) { return ds.State() == data::TDataSetState::Edit; }

// A count the user left empty is no count at all; in sums it weighs 0.
bool SemQuantidades(const data::TClientDataSet& ds) {
  return ds.FieldByName("QTCLIEFETCAR").IsNull() && ds.FieldByName("QTFUNEFETCAR").IsNull() &&
         ds.FieldByName("QTDOAEFETCAR").IsNull();
}

void Totaliza(data::TClientDataSet& ds) {
  ds.FieldByName("QTCOMEFETCAR")
      .SetAsFloat(ds.FieldByName("QTCLIEFETCAR").AsFloat() + ds.FieldByName("QTFUNEFETCAR").AsFloat() +
                  ds.FieldByName("QTDOAEFETCAR").AsFloat());
}

// Refuses a negative count; the grid keeps the focus on it.
void NaoNegativo(data::TClientDataSet& ds, const char* field, const std::string& texto) {
  if (!(ds.FieldByName(field).AsFloat() >= 0)) host::MensErro(texto, true);
}

}  // namespace

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

void TfrmMediEfetivos::Vd_QtCliEfetCar() { NaoNegativo(cdsCardaDia, "QTCLIEFETCAR", msgPadrao.Msg("CliInv")); }

void TfrmMediEfetivos::Vd_QtFunEfetCar() { NaoNegativo(cdsCardaDia, "QTFUNEFETCAR", msgPadrao.Msg("QT_FUN_DEVE")); }

void TfrmMediEfetivos::Vd_QtDoaEfetCar() { NaoNegativo(cdsCardaDia, "QTDOAEFETCAR", msgPadrao.Msg("QT_DOAC_DEVE")); }

void TfrmMediEfetivos::dbgPadraoKeyDown(ui::TObject&, ui::Word& key, ui::TShiftState shift) {
  // The standard grid form has no key handler of its own for its grid.
  data::TField* campo = dbgPadrao->SelectedField();
  if (campo && rtl::UpperCase(campo->FieldName()) == "CDSERVFILI" && (key == ui::VK_BACK || key == ui::VK_DELETE)) {
    // Ends the keystroke: a cleared key would still type its Backspace
    // character into the service code.
    key = 0;
    rtl::Abort();
  }
  if (key == ui::VK_RETURN && shift == ui::ssNone) {
    int ultima = dbgPadrao->ColumnCount() - 1;
    if (dbgPadrao->SelectedIndex() < ultima) {
      dbgPadrao->SetSelectedIndex(dbgPadrao->SelectedIndex() + 1);
    } else {
      if (EmEdicao(cdsCardaDia)) cdsCardaDia.Post();
      FocusControl(dbgTipoPrat);
      dbgTipoPrat->SetSelectedIndex(0);
    }
  }
}

void TfrmMediEfetivos::dbgPadraoColExit(ui::TObject&) {
  data::TField* campo = dbgPadrao->SelectedField();
  std::string nome = campo ? rtl::UpperCase(campo->FieldName()) : std::string();
  if (EmEdicao(cdsCardaDia)) {
    if (nome == "QTCOMEFETCAR") {
      if (!campo->IsNull()) Totaliza(cdsCardaDia);
    } else if (nome == "QTCLIEFETCAR" || nome == "QTFUNEFETCAR" || nome == "QTDOAEFETCAR") {
      if (nome == "QTCLIEFETCAR") Vd_QtCliEfetCar();
      if (nome == "QTFUNEFETCAR") Vd_QtFunEfetCar();
      if (nome == "QTDOAEFETCAR") Vd_QtDoaEfetCar();
      // Also when the count was just emptied: the total must drop what it
      // held, not keep showing the old sum until the post.
      Totaliza(cdsCardaDia);
    }
    if (SemQuantidades(cdsCardaDia)) cdsCardaDia.FieldByName("QTCOMEFETCAR").Clear();
  }
  // Tab from the service code skips the read-only name.
  if (nome == "CDSERVFILI" && bTabServico) {
    bTabServico = false;
    ui::FocusField(cdsCardaDia.FieldByName("QTCLIEFETCAR"));
  }
}

void TfrmMediEfetivos::dbgPadraoEditButtonClick(ui::TObject&) {
  qryServicoPesq.Close();
  qryServicoPesq.ParamByName("P_CDFILIAL").SetAsString(Filial());
  qryServicoPesq.Open();
  if (!host::Pesquisar(&dtsServico, msgPadrao.Msg("SERVICO") + "|" + msgPadrao.Msg("NAO_HA_SERV"), false, true))
    return;
  if (cdsCardaDia.State() == data::TDataSetState::Browse) cdsCardaDia.Edit();
  cdsCardaDia.FieldByName("CDSERVFILI").SetAsString(qryServicoPesq.FieldByName("CDSERVFILI").AsString());
  cdsCardaDia.FieldByName("NMSERVICO").SetAsString(qryServicoPesq.FieldByName("NMSERVICO").AsString());
}

// Rows are the server's: none is added or removed here.
void TfrmMediEfetivos::cdsCardaDiaBeforeInsert(data::TClientDataSet&) { rtl::Abort(); }

void TfrmMediEfetivos::cdsCardaDiaBeforeDelete(data::TClientDataSet&) { rtl::Abort(); }

void TfrmMediEfetivos::cdsCardaDiaBeforeEdit(data::TClientDataSet&) { Vd_Retirada(); }

void TfrmMediEfetivos::cdsCardaDiaBeforePost(data::TClientDataSet& ds) {
  Vd_ComenEfetivos();
  Vd_QtCliEfetCar();
  Vd_QtFunEfetCar();
  Vd_QtDoaEfetCar();
  if (SemQuantidades(ds))
    ds.FieldByName("QTCOMEFETCAR").Clear();
  else
    Totaliza(ds);
  double total = ds.FieldByName("QTCOMEFETCAR").AsFloat();
  ds.FieldByName("QTCOMEFETRI").SetAsFloat(total);
  ds.FieldByName("QTCOMEFETSL").SetAsFloat(total);
  ds.FieldByName("DTPROCES").SetAsDateTime(host::DataProc(Filial()));
  Vd_EfetAutoJaApur();
}

// A posted row is saved at once. If the server does not take it, the row goes
// back to what was last saved, so the grid never shows unsaved counts as if
// they were stored.
void TfrmMediEfetivos::cdsCardaDiaAfterPost(data::TClientDataSet& ds) {
  if (ds.ChangeCount() == 0) return;
  host::BusyScope busy(this, 1, msgPadrao.Msg("upd_cdsCardaDia"));
  try {
    using A = contracts::args::PostCard;
    Variant r = Servidor("PostCard", contracts::ArgsOf<A>({{A::kFilial, Filial()},
                                                           {A::kServico, ds.FieldByName("CDSERVFILI").AsString()},
                                                           {A::kData, DataCardapio()},
                                                           {A::kDelta, ds.Delta()},
                                                           {A::kOperador, host::Operador()},
                                                           {A::kGrupo, edtGrupServ->Text()}}));
    Variant p = host::CheckResultServ(r, true, 0);
    ds.MergeChangeLog();
    cdsCompCardAux.SetData(p[1]);
    cdsCardaDiaAfterScroll(ds);
    cdsPratoCard.SetData(p[2]);
    cdsPratoCard.SetFiltered(true);
  } catch (...) {
    ds.CancelUpdates();
    throw;
  }
}

void TfrmMediEfetivos::cdsCardaDiaAfterCancel(data::TClientDataSet& ds) {
  if (ds.IsEmpty()) Habilita(false);
  cdsCardaDiaAfterScroll(ds);
}

void TfrmMediEfetivos::cdsCardaDiaAfterScroll(data::TClientDataSet&) {
  FiltraTiposDoDia();
  if (!bAtuPrato) {
    // Switching the filter off and on again makes the record filter follow
    // the new dish type.
    cdsPratoCard.SetFiltered(false);
    cdsPratoCard.SetFiltered(true);
  }
}

// The client headcounts stored for each service of the day must add up to the
// service's client count. Returns true whenever it returns: a blocking
// mismatch raises instead.
bool TfrmMediEfetivos::Vd_Comensais() {
  if (DiaFechado() || !cdsCardaDia.Active() || cdsCardaDia.IsEmpty()) return true;

  CarregaComensais(cdsCardaDia.FieldByName("CDSERVFILI").AsString());

  const std::string servicoAtual = cdsCardaDia.FieldByName("CDSERVFILI").AsString();
  bool diferente = false;
  cdsComensaisCard.First();
  while (!cdsComensaisCard.Eof()) {
    auto& card = cdsComensaisCard;
    if (cdsExistsCliente.Locate("CDSERVFILI", servicoAtual) &&
        cdsExistsCliente.Locate("CDFILIAL;CDSERVFILI",
                                Variant::Array({card.FieldValue("CDFILIAL"), card.FieldValue("CDSERVFILI")}))) {
      const data::TField& clientes = card.FieldByName("QTCLIEFETCAR");
      if (cdsComensaisEfet.Locate("CDFILIAL;CDSERVPLAN;DTEFETCLIE",
                                  Variant::Array({card.FieldValue("CDFILIAL"), card.FieldValue("CDSERVFILI"),
                                                  card.FieldValue("DTCARDAPIO")})))
        diferente = host::RoundDec(clientes.AsFloat(), 5) !=
                    host::RoundDec(cdsComensaisEfet.FieldByName("QTCOMEFETCLI").AsFloat(), 5);
      else
        diferente = !clientes.IsNull();  // a 0 typed is a count too
      if (diferente) break;
    }
    cdsComensaisCard.Next();
  }

  if (diferente) {
    std::string servico = cdsComensaisCard.FieldByName("NMSERVICO").AsString();
    if (cdsParamGeral.FieldByName("IDCONSMINEFE").AsString() == "S") {
      if (pgcPadrao->ActivePage() == tshPadrao)
        SetActiveControl(dbgPadrao);
      else
        SetActiveControl(PageControl1);
      host::MensErro(rtl::Format(msgPadrao.Msg("SomaClie"), {servico}), true);
    } else {
      ui::MessageDlg(rtl::Format(msgPadrao.Msg("SomaClieD"), {servico}), ui::TMsgDlgType::Information, ui::mbOK);
    }
  }
  return true;
}

}  // namespace pla01000
