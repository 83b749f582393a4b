#include "frm_padrao_grid.h"

#include "platform/host/dialogs.h"
#include "platform/host/lookups.h"
#include "platform/ui/services.h"

namespace host {

namespace {
bool editing(const data::TClientDataSet* ds) {
  return ds && (ds->State() == data::TDataSetState::Edit || ds->State() == data::TDataSetState::Insert);
}
}  // namespace

ui::TMenuItem* TfrmPadraoGrid::item(ui::TMenuItem* parent, const char* name, const char* caption, ui::TShortCut sc) {
  auto* m = ui::Make<ui::TMenuItem>(this, name);
  m->SetCaption(caption);
  if (sc) m->SetShortCut(sc);
  parent->Add(m);
  return m;
}

// The button sets its entry; an entry set directly (a screen switching the
// menu side) sets the button back, so the two never disagree.
void TfrmPadraoGrid::pairMenu(ui::TButtonFlat* b, ui::TMenuItem* m) {
  b->SetMenuItem(m);
  m->OnChanged = [this, b](ui::TMenuItem& mi) {
    if (syncing_ || Destroying() || b->Enabled() == mi.Enabled()) return;
    syncing_ = true;
    b->SetEnabled(mi.Enabled());
    syncing_ = false;
  };
  m->OnClick = [b](ui::TObject&) {
    if (b->Enabled()) b->Click();
  };
}

ui::TButtonFlat* TfrmPadraoGrid::button(const char* name, const char* caption, ui::TMenuItem* m) {
  auto* b = ui::Make<ui::TButtonFlat>(this, name, panBotoes);
  b->SetCaption(caption);
  b->ShowHint = true;
  b->SetHint(caption);
  if (m) pairMenu(b, m);
  return b;
}

TfrmPadraoGrid::TfrmPadraoGrid(ui::TComponent* owner)
    : TStandardForm(owner), dtsPadraoOwned_(std::make_unique<data::TDataSource>("dtsPadrao")) {
  dtsPadrao = dtsPadraoOwned_.get();
  KeyPreview = true;

  mnuPadrao = ui::Make<ui::TMainMenu>(this, "mnuPadrao");
  Menu = mnuPadrao;
  ui::TMenuItem& root = mnuPadrao->Items();
  mnuOperacao = item(&root, "mnuOperacao", "&Operação");
  mnuProcurar = item(mnuOperacao, "mnuProcurar", "&Procurar", ui::ShortCut(ui::VK_F3, ui::ssNone));
  mnuImprimir = item(mnuOperacao, "mnuImprimir", "&Imprimir", ui::ShortCut(ui::VK_F8, ui::ssNone));
  mnuLinha1 = item(mnuOperacao, "mnuLinha1", "-");
  mnuAjuda = item(mnuOperacao, "mnuAjuda", "Aj&uda", ui::ShortCut(ui::VK_F1, ui::ssNone));
  mnuFechar = item(mnuOperacao, "mnuFechar", "&Fechar");
  mnuManutencao = item(&root, "mnuManutencao", "&Manutenção");
  mnuIncluir = item(mnuManutencao, "mnuIncluir", "&Incluir", ui::ShortCut(ui::VK_F2, ui::ssNone));
  mnuAlterar = item(mnuManutencao, "mnuAlterar", "&Alterar", ui::ShortCut(ui::VK_F4, ui::ssNone));
  mnuExcluir = item(mnuManutencao, "mnuExcluir", "&Excluir");
  mnuLinha2 = item(mnuManutencao, "mnuLinha2", "-");
  mnuVerificar = item(mnuManutencao, "mnuVerificar", "&Verificar", ui::ShortCut(ui::VK_F5, ui::ssNone));
  mnuLinha3 = item(mnuManutencao, "mnuLinha3", "-");
  mnuConfirmar = item(mnuManutencao, "mnuConfirmar", "&Confirmar");
  mnuCancelar = item(mnuManutencao, "mnuCancelar", "Ca&ncelar");

  panBotoes = ui::Make<ui::TPanel>(this, "panBotoes", this);
  sbtIncluir = button("sbtIncluir", "Incluir", mnuIncluir);
  sbtAlterar = button("sbtAlterar", "Alterar", mnuAlterar);
  sbtExcluir = button("sbtExcluir", "Excluir", mnuExcluir);
  sbtProcurar = button("sbtProcurar", "Procurar", mnuProcurar);
  sbtVerificar = button("sbtVerificar", "Verificar", mnuVerificar);
  sbtImprimir = button("sbtImprimir", "Imprimir", mnuImprimir);
  sbtCancelar = button("sbtCancelar", "Cancelar", mnuCancelar);
  sbtConfirmar = button("sbtConfirmar", "Confirmar", mnuConfirmar);
  sbtAjuda = button("sbtAjuda", "Ajuda", mnuAjuda);
  sbtFechar = button("sbtFechar", "Fechar", mnuFechar);
  lblCodTela = ui::Make<ui::TLabel>(this, "lblCodTela", panBotoes);

  sbtIncluir->OnClick = [this](ui::TObject& s) { sbtIncluirClick(s); };
  sbtAlterar->OnClick = [this](ui::TObject& s) { sbtAlterarClick(s); };
  sbtExcluir->OnClick = [this](ui::TObject& s) { sbtExcluirClick(s); };
  sbtProcurar->OnClick = [this](ui::TObject& s) { sbtProcurarClick(s); };
  sbtVerificar->OnClick = [this](ui::TObject& s) { sbtVerificarClick(s); };
  sbtImprimir->OnClick = [this](ui::TObject& s) { sbtImprimirClick(s); };
  sbtCancelar->OnClick = [this](ui::TObject& s) { sbtCancelarClick(s); };
  sbtConfirmar->OnClick = [this](ui::TObject& s) { sbtConfirmarClick(s); };
  sbtAjuda->OnClick = [this](ui::TObject& s) { sbtAjudaClick(s); };
  sbtFechar->OnClick = [this](ui::TObject& s) { sbtFecharClick(s); };

  pgcPadrao = ui::Make<ui::TPageControl>(this, "pgcPadrao", this);
  tshPadrao = ui::Make<ui::TTabSheet>(this, "tshPadrao", pgcPadrao);
  dbgPadrao = ui::Make<ui::TDBGrid>(this, "dbgPadrao", tshPadrao);
  dbgPadrao->TabStop = true;
  dbgPadrao->SetDataSource(dtsPadrao);
  pgcPadrao->SetActivePage(tshPadrao);

  panNavegador = ui::Make<ui::TPanel>(this, "panNavegador", this);
  dbnPadrao = ui::Make<ui::TDBNavigator>(this, "dbnPadrao", panNavegador);
  dbnPadrao->SetDataSource(dtsPadrao);
  dbtNome = ui::Make<ui::TDBText>(this, "dbtNome", panNavegador);
  dbtNome->SetDataSource(dtsPadrao);

  // A data set going away (a screen's member data set destroyed before this
  // base) reaches here with no data set: only the base table runs then, as the
  // screen's override may touch members already gone.
  dtsPadrao->OnStateChange = [this](data::TDataSource& s) {
    if (Destroying()) return;
    if (!s.DataSet())
      UpdateToolbar();
    else
      dtsPadraoStateChange(s);
  };

  OnCreate = [this](ui::TObject& s) { FormCreate(s); };
  OnActivate = [this](ui::TObject& s) { FormActivate(s); };
  OnClose = [this](ui::TObject& s, ui::TCloseAction& a) { FormClose(s, a); };
  OnCloseQuery = [this](ui::TObject& s, bool& c) { FormCloseQuery(s, c); };
  OnKeyDown = [this](ui::TObject& s, ui::Word& k, ui::TShiftState sh) { FormKeyDown(s, k, sh); };

  FillStandardMessages(msgMensagensPadroes);
  UpdateToolbar();
}

TfrmPadraoGrid::~TfrmPadraoGrid() {
  dtsPadrao->OnStateChange = nullptr;
  for (ui::TMenuItem* m : {mnuIncluir, mnuAlterar, mnuExcluir, mnuProcurar, mnuVerificar, mnuImprimir, mnuCancelar,
                           mnuConfirmar, mnuAjuda, mnuFechar})
    m->OnChanged = nullptr;
}

void TfrmPadraoGrid::UpdateToolbar() {
  data::TClientDataSet* ds = DataSetPadrao();
  bool open = ds && ds->Active();
  bool edit = open && editing(ds);
  bool browse = open && !edit;
  bool rows = browse && !ds->IsEmpty();
  sbtIncluir->SetEnabled(browse);
  sbtAlterar->SetEnabled(rows);
  sbtExcluir->SetEnabled(rows);
  sbtProcurar->SetEnabled(rows);
  sbtVerificar->SetEnabled(rows);
  sbtImprimir->SetEnabled(rows);
  sbtConfirmar->SetEnabled(edit);
  sbtCancelar->SetEnabled(edit);
  sbtAjuda->SetEnabled(true);
  sbtFechar->SetEnabled(true);
}

void TfrmPadraoGrid::FormCreate(ui::TObject&) { UpdateToolbar(); }

void TfrmPadraoGrid::FormActivate(ui::TObject&) {}

void TfrmPadraoGrid::FormClose(ui::TObject&, ui::TCloseAction& action) { action = ui::TCloseAction::Free; }

void TfrmPadraoGrid::FormCloseQuery(ui::TObject&, bool&) {}

void TfrmPadraoGrid::FormKeyDown(ui::TObject&, ui::Word& key, ui::TShiftState shift) {
  data::TClientDataSet* ds = DataSetPadrao();
  if (key == ui::VK_RETURN && (shift & ui::ssCtrl)) {
    if (editing(ds) && sbtConfirmar->Enabled()) {
      key = 0;
      sbtConfirmar->Click();
    }
    return;
  }
  if (key == ui::VK_ESCAPE && shift == ui::ssNone && !editing(ds)) {
    // Escape inside a grid's open editor belongs to the grid.
    if (auto* g = dynamic_cast<ui::TDBGrid*>(ActiveControl()); g && g->EditorMode() && g->EditorModified()) return;
    key = 0;
    Close();
  }
}

void TfrmPadraoGrid::dtsPadraoStateChange(data::TDataSource&) { UpdateToolbar(); }

void TfrmPadraoGrid::sbtConfirmarClick(ui::TObject&) {
  data::TClientDataSet* ds = DataSetPadrao();
  if (editing(ds)) ds->Post();
}

void TfrmPadraoGrid::sbtCancelarClick(ui::TObject&) {
  data::TClientDataSet* ds = DataSetPadrao();
  if (!editing(ds)) return;
  bool typed = ds->Modified() || (dbgPadrao->EditorMode() && dbgPadrao->EditorModified());
  if (typed && ShowMsg(msgMensagensPadroes, "Canc", ui::TMsgDlgType::Confirmation, ui::mbYesNo, 0) != ui::mrYes)
    return;
  ds->Cancel();
}

void TfrmPadraoGrid::sbtAlterarClick(ui::TObject&) {
  data::TClientDataSet* ds = DataSetPadrao();
  if (!ds || !ds->Active() || ds->IsEmpty()) return;
  if (ds->State() == data::TDataSetState::Browse) ds->Edit();
  if (!dbgPadrao->Focused() && dbgPadrao->CanFocus()) FocusControl(dbgPadrao);
}

void TfrmPadraoGrid::sbtProcurarClick(ui::TObject&) {
  data::TClientDataSet* ds = DataSetPadrao();
  if (!ds || !ds->Active()) return;
  data::TField* f = dbgPadrao->SelectedField();
  Procura(*ds, f ? std::string_view(f->FieldName()) : std::string_view());
}

void TfrmPadraoGrid::sbtIncluirClick(ui::TObject&) {
  data::TClientDataSet* ds = DataSetPadrao();
  if (!ds || !ds->Active() || editing(ds)) return;
  if (dbgPadrao->CanFocus() && !dbgPadrao->Focused()) FocusControl(dbgPadrao);
  ds->Insert();
}

void TfrmPadraoGrid::sbtExcluirClick(ui::TObject&) {
  data::TClientDataSet* ds = DataSetPadrao();
  if (!ds || !ds->Active() || ds->IsEmpty() || editing(ds)) return;
  if (ShowMsg(msgMensagensPadroes, "Excl", ui::TMsgDlgType::Confirmation, ui::mbYesNo, 0) != ui::mrYes) return;
  ds->Delete();
}

void TfrmPadraoGrid::sbtImprimirClick(ui::TObject&) {}

void TfrmPadraoGrid::sbtVerificarClick(ui::TObject&) {}

void TfrmPadraoGrid::sbtFecharClick(ui::TObject&) { Close(); }

void TfrmPadraoGrid::sbtAjudaClick(ui::TObject&) { ShowHelp(HelpFile, HelpContext); }

}  // namespace host
