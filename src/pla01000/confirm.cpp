// Commands of the toolbar, the enabling of the header and the commands from
// the state of one data set, the close guard and the keys of the window.

#include "pla01000/cli_pla01000.h"
#include "pla01001/cli_pla01001.h"
#include "pla01010/cli_pla01010.h"
#include "platform/data/controls_off.h"
#include "platform/host/checks.h"
#include "platform/host/context.h"
#include "platform/host/dialogs.h"
#include "platform/host/lookups.h"
#include "platform/ui/dbctrls.h"
#include "platform/ui/services.h"

namespace pla01000 {

using rtl::Variant;
using St = data::TDataSetState;

namespace {

// Asked when the server cannot be reached while the window closes (the
// screen's catalog holds only the texts of its origin).
constexpr const char* kFecharSemServidor =
    "\n\nFechar a tela assim mesmo? Os valores não gravados serão perdidos.";

bool Pendentes(const data::TClientDataSet& ds) { return ds.Active() && ds.ChangeCount() > 0; }

bool EmEdicaoOuInclusao(const data::TClientDataSet& ds) { return ds.State() == St::Edit || ds.State() == St::Insert; }

// Text of the current row's field, "" while the data set is closed or empty.
std::string Texto(const data::TClientDataSet& ds, const char* field) {
  return ds.Active() && !ds.IsEmpty() ? ds.FieldByName(field).AsString() : std::string();
}

}  // namespace

// Rows are never added or removed on this screen (the buttons stay disabled).
void TfrmMediEfetivos::sbtIncluirClick(ui::TObject&) {}

void TfrmMediEfetivos::sbtExcluirClick(ui::TObject&) {}

// ---- Confirm ------------------------------------------------------------------
void TfrmMediEfetivos::sbtConfirmarClick(ui::TObject& sender) {
  if (pgcPadrao->ActivePage() == tshPadrao) {
    host::TfrmPadraoGrid::sbtConfirmarClick(sender);  // the post sends the row
    return;
  }

  if (cdsServCli.State() == St::Edit) cdsServCli.Post();
  if (Pendentes(cdsServCli) || Pendentes(cdsItRatEfet)) {
    host::BusyScope busy(this, 1, msgPadrao.Msg("upd_cdsEfetClie"));
    if (std::optional<Variant> dia = EnviaClientes(pgcPadrao->ActivePage() == tshClientes)) {
      std::string servico = Texto(cdsCardaDia, "CDSERVFILI");
      std::string cliente = Texto(cdsServCli, "CDCLIENTE");
      std::string servFatu = Texto(cdsServFatu, "CDSERVICFATURAM");
      // The user stays on their service, billed service and client, also
      // when the new day fails to load.
      auto volta = [&] {
        cdsCardaDia.Locate("CDSERVFILI", servico);
        if (cdsServFatu.Active()) cdsServFatu.Locate("CDSERVICFATURAM", servFatu);
        if (cdsServCli.Active()) cdsServCli.Locate("CDCLIENTE;CDSERVFILI", Variant::Array({cliente, servFatu}));
      };
      try {
        data::ControlsOff semControles{&cdsCardaDia, &cdsServCli};
        CarregaDia(*dia);
      } catch (...) {
        volta();
        throw;
      }
      volta();
    }

    std::string cliente = Texto(cdsServCli, "CDCLIENTE");
    std::string servFatu = Texto(cdsServFatu, "CDSERVICFATURAM");
    Variant f = Servidor("GetServiFat", {Filial(), Texto(cdsCardaDia, "CDSERVFILI"), DataCardapio(), 0});
    cdsServFatu.SetData(host::CheckResultServ(f, true, 0));
    cdsServFatu.Locate("CDSERVICFATURAM", servFatu);
    if (cdsServCli.Active()) cdsServCli.MergeChangeLog();
    getItRatEfet();
    if (cdsServCli.Active()) cdsServCli.Locate("CDCLIENTE;CDSERVFILI", Variant::Array({cliente, servFatu}));
  }

  Vd_Turno();
  ControlCache(dtsServCli);
  if (EmEdicaoOuInclusao(cdsEfetCat)) {
    ControlCache(dtsEfetCat);
    cdsEfetCat.Post();
  }
  if (cdsTurnoCliente.State() == St::Edit) cdsTurnoCliente.Post();
  if (Pendentes(cdsTurnoCliente)) EnviaTurnos();
}

// ---- Cancel -------------------------------------------------------------------
void TfrmMediEfetivos::sbtCancelarClick(ui::TObject& sender) {
  if (pgcPadrao->ActivePage() == tshPadrao) {
    host::TfrmPadraoGrid::sbtCancelarClick(sender);
    if (cdsCardaDia.Active() && cdsCardaDia.IsEmpty()) FechaPaginas();
    return;
  }

  if (host::ShowMsg(msgMensagensPadroes, "Canc", ui::TMsgDlgType::Confirmation, ui::mbYesNo, 0) == ui::mrYes) {
    for (data::TClientDataSet* ds : {&cdsServCli, &cdsTurnoCliente})
      if (ds->Active()) {
        ds->CancelUpdates();
        ds->MergeChangeLog();
      }
    ControlCache(dtsServCli);
    if (EmEdicaoOuInclusao(cdsEfetCat)) cdsEfetCat.Cancel();
    // Only a discard drops the apportionment changes too; after No they are
    // kept for the confirm like the client rows.
    getItRatEfet();
  }
}

// ---- Edit and search ----------------------------------------------------------
void TfrmMediEfetivos::sbtAlterarClick(ui::TObject& sender) {
  if (pgcPadrao->ActivePage() == tshPadrao) {
    if (cdsCardaDia.Active()) ui::FocusField(cdsCardaDia.FieldByName("QTCOMEFETCAR"));
    host::TfrmPadraoGrid::sbtAlterarClick(sender);
    return;
  }
  // An empty data set would start an insert, which these rows never take.
  if (PageControl1->ActivePage() == TabSheet1) {
    if (cdsServCli.State() == St::Browse && !cdsServCli.IsEmpty()) cdsServCli.Edit();
    FocusControl(dbgEfeCliCa);
  }
  if (PageControl1->ActivePage() == tshTurnoCliente) {
    if (cdsTurnoCliente.State() == St::Browse && !cdsTurnoCliente.IsEmpty()) cdsTurnoCliente.Edit();
    FocusControl(dbgTurnoClie);
  }
}

void TfrmMediEfetivos::sbtProcurarClick(ui::TObject& sender) {
  if (pgcPadrao->ActivePage() == tshPadrao) {
    host::TfrmPadraoGrid::sbtProcurarClick(sender);
    return;
  }
  if (data::TClientDataSet* ds = dtsServCli.DataSet(); ds && ds->Active()) host::Procura(*ds);
}

// ---- Other screens --------------------------------------------------------------
void TfrmMediEfetivos::sbtImprimirClick(ui::TObject&) { pla01001::CriaListEfet(); }

// The button reloads what the consolidation may have changed; the menu entry
// (F6) only opens the screen.
void TfrmMediEfetivos::sbtConsolidarClick(ui::TObject&) {
  pla01010::CriaConsEfetClie();
  sbtVerificarClick(*sbtVerificar);
}

void TfrmMediEfetivos::mnuConsolidarClick(ui::TObject&) { pla01010::CriaConsEfetClie(); }

// ---- Enabling -----------------------------------------------------------------
void TfrmMediEfetivos::ControlCache(data::TDataSource& dataSource) {
  data::TClientDataSet* ds = dataSource.DataSet();
  if (!ds || !ds->Active()) return;
  St st = ds->State();
  bool browse = st == St::Browse;
  bool editando = st == St::Edit || st == St::Insert;

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

// ---- Closing --------------------------------------------------------------------
void TfrmMediEfetivos::FormCloseQuery(ui::TObject&, bool& canClose) {
  try {
    // A value still in a grid's editor, and a row in edit, go through their
    // normal checks and sending before the window may close: closing never
    // drops what was typed without a question.
    if (auto* grade = dynamic_cast<ui::TDBGrid*>(ActiveControl())) grade->UpdateData();
    for (data::TClientDataSet* ds : {&cdsCardaDia, &cdsPratoCard, &cdsEfetCat}) {
      if (!EmEdicaoOuInclusao(*ds)) continue;
      // A new row nothing was typed into is only dropped.
      if (ds->State() == St::Insert && !ds->Modified()) ds->Cancel();
      else ds->Post();
    }
    if (pgcPadrao->ActivePage() != tshPadrao) {
      auto perguntaGrava = [this] {
        ui::TModalResult r = ui::MessageDlg(msgPadrao.Msg("CACHECHEIO"), ui::TMsgDlgType::Confirmation, ui::mbYesNo, 0);
        // The question closed without an answer: the screen stays as it is.
        if (r == ui::mrCancel) rtl::Abort();
        if (r == ui::mrYes) sbtConfirmarClick(*sbtConfirmar);
      };
      if (cdsServCli.State() == St::Edit) cdsServCli.Post();
      if (Pendentes(cdsServCli))
        perguntaGrava();
      else
        Vd_ComensTrocaAba();
      if (cdsTurnoCliente.State() == St::Edit) cdsTurnoCliente.Post();
      if (Pendentes(cdsTurnoCliente))
        perguntaGrava();
      else
        Vd_Turno();
    }
    canClose = Vd_Comensais() && Vd_VerifRetirada();
  } catch (const rtl::EAbort&) {
    canClose = false;
    if (WindowState() == ui::TWindowState::Minimized) SetWindowState(ui::TWindowState::Normal);
    throw;
  } catch (const std::exception& e) {
    canClose = false;
    if (WindowState() == ui::TWindowState::Minimized) SetWindowState(ui::TWindowState::Normal);
    if (netMediEfetivos.LastError().empty()) throw;
    // The server cannot be reached: nothing more can be saved or checked,
    // and the clerk may still leave, knowing what is lost.
    canClose = ui::MessageDlg(netMediEfetivos.LastError() + kFecharSemServidor, ui::TMsgDlgType::Confirmation,
                              ui::mbYesNo, 0) == ui::mrYes;
    return;
  } catch (...) {
    // The checks refuse by raising: the window stays, and must be seen.
    canClose = false;
    if (WindowState() == ui::TWindowState::Minimized) SetWindowState(ui::TWindowState::Normal);
    throw;
  }
  if (!canClose && WindowState() == ui::TWindowState::Minimized) SetWindowState(ui::TWindowState::Normal);
}

// ---- Keys -----------------------------------------------------------------------
void TfrmMediEfetivos::FormKeyDown(ui::TObject&, ui::Word& key, ui::TShiftState shift) {
  if (key == ui::VK_RETURN && (shift & ui::ssCtrl)) {
    if (cdsCardaDia.State() == St::Edit) sbtConfirmar->Click();
  } else if (key == ui::VK_DELETE || key == ui::VK_BACK) {
    // An existing service code cannot be erased from the grid.
    auto* g = dynamic_cast<ui::TDBGrid*>(ActiveControl());
    if (g && g->Focused() && g->EditorMode() && g->SelectedField() && (g->SelectedField()->Tag & 1) &&
        g->DataSource() && g->DataSource()->State() == St::Browse) {
      key = 0;
      rtl::Abort();
    }
  }

  if (key == ui::VK_F12 && shift == ui::ssNone) {
    if (ui::TWinControl* c = host::SelectNextControl(pgcPadrao, false, true, false); c && c->Parent())
      host::SelectFirstControl(c->Parent());
  }

  if (data::TField* f = dbgPadrao->SelectedField(); f && f->FieldName() == "CDSERVFILI") bTabServico = key == ui::VK_TAB;

  if (shift == ui::ssAlt && (key == ui::VK_NEXT || key == ui::VK_PRIOR)) {
    ui::TWinControl* ativo = ActiveControl();
    ui::TDBGrid* destino = nullptr;
    if (ativo == dbgTipoPrat)
      destino = key == ui::VK_NEXT ? dbgPrato : dbgPadrao;
    else if (ativo == dbgPadrao && key == ui::VK_NEXT)
      destino = dbgTipoPrat;
    else if (ativo == dbgPrato && key == ui::VK_PRIOR)
      destino = dbgTipoPrat;
    if (destino) {
      key = 0;
      if (destino->Enabled()) FocusControl(destino);
    }
  }
}

}  // namespace pla01000
