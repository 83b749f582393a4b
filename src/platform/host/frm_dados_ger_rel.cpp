#include "frm_dados_ger_rel.h"

#include "platform/host/dialogs.h"

namespace host {

const char* const kSemRelatorio = "Nenhum relatório selecionado.";
const char* const kSemMotorRel = "O gerador de relatórios não está disponível.";

TReportParams TReportDesignerDialog::GetQueryParams(const TReportDef& report) {
  TReportParams params = report.Params;
  bool flag = true;
  if (BeforeGetQueryParams) BeforeGetQueryParams(params, flag);
  return params;
}

namespace {
TSaveDialogHandler& saveHandler() {
  static TSaveDialogHandler h;
  return h;
}
}  // namespace

void SetSaveDialogHandler(TSaveDialogHandler handler) { saveHandler() = std::move(handler); }

bool TSaveDialog::Execute() {
  if (!saveHandler()) throw rtl::Exception("Nenhum diálogo de arquivo disponível.");
  std::string name = FileName;
  if (!saveHandler()(name, DefaultExt) || name.empty()) return false;
  FileName = std::move(name);
  return true;
}

TfrmDadosGerRel::TfrmDadosGerRel(ui::TComponent* owner) : TStandardForm(owner) {
  panBotoes = ui::Make<ui::TPanel>(this, "panBotoes", this);
  auto button = [this](const char* name, const char* caption) {
    auto* b = ui::Make<ui::TButtonFlat>(this, name, panBotoes);
    b->SetCaption(caption);
    b->SetHint(caption);
    b->ShowHint = true;
    return b;
  };
  sbtPrint = button("sbtPrint", "Imprimir");
  sbtPreview = button("sbtPreview", "Visualizar");
  sbtSalvarComo = button("sbtSalvarComo", "Salvar como");
  sbtReportEdit = button("sbtReportEdit", "Editar relatório");
  sbtHelp = button("sbtHelp", "Ajuda");
  sbtClose = button("sbtClose", "Fechar");
  lblCodRel = ui::Make<ui::TLabel>(this, "lblCodRel", panBotoes);
  cbbReportNames = ui::Make<ui::TComboBox>(this, "cbbReportNames", this);
  cbbReportNames->Style = ui::TComboBoxStyle::DropDownList;
  cbbReportNames->TabStop = false;

  ppmSalvarRelatorio = ui::Make<ui::TPopupMenu>(this, "ppmSalvarRelatorio");
  mnuSalvarComo = ui::Make<ui::TMenuItem>(this, "mnuSalvarComo");
  mnuSalvarComo->SetCaption("&Salvar como...");
  ppmSalvarRelatorio->Items().Add(mnuSalvarComo);
  sbtSalvarComo->PopupMenu = ppmSalvarRelatorio;
  sbtSalvarComo->SetMenuItem(mnuSalvarComo);
  mnuSalvarComo->OnClick = [this](ui::TObject&) {
    if (sbtSalvarComo->Enabled()) sbtSalvarComo->Click();
  };

  sbtPrint->OnClick = [this](ui::TObject& s) { sbtPrintClick(s); };
  sbtPreview->OnClick = [this](ui::TObject& s) { sbtPreviewClick(s); };
  sbtSalvarComo->OnClick = [this](ui::TObject& s) { sbtSalvarComoClick(s); };
  sbtReportEdit->OnClick = [this](ui::TObject& s) { sbtReportEditClick(s); };
  sbtHelp->OnClick = [this](ui::TObject& s) { sbtHelpClick(s); };
  sbtClose->OnClick = [this](ui::TObject& s) { sbtCloseClick(s); };

  OnCreate = [this](ui::TObject& s) { FormCreate(s); };
  OnActivate = [this](ui::TObject& s) { FormActivate(s); };
  OnClose = [this](ui::TObject& s, ui::TCloseAction& a) { FormClose(s, a); };
  FillStandardMessages(msgMensagens);
}

TfrmDadosGerRel::~TfrmDadosGerRel() = default;

IReportEngine& TfrmDadosGerRel::engine() const {
  IReportEngine* e = ReportEngine();
  if (!e) MensErro(kSemMotorRel, true);
  return *e;
}

void TfrmDadosGerRel::LoadReports() {
  reports_ = engine().List(lblCodRel->Caption());
  cbbReportNames->Items.clear();
  for (const auto& r : reports_) cbbReportNames->Items.push_back(r.Name);
  cbbReportNames->SetItemIndex(reports_.empty() ? -1 : 0);
  loaded_ = true;
}

const TReportDef& TfrmDadosGerRel::SelectedReport() const {
  int i = cbbReportNames->ItemIndex();
  if (i < 0 || i >= static_cast<int>(reports_.size())) MensErro(kSemRelatorio, true);
  return reports_[static_cast<size_t>(i)];
}

void TfrmDadosGerRel::FormCreate(ui::TObject&) {}

void TfrmDadosGerRel::FormActivate(ui::TObject&) {
  // Without an engine the screen still opens; the commands say why they cannot run.
  if (!loaded_ && ReportEngine()) LoadReports();
}

void TfrmDadosGerRel::FormClose(ui::TObject&, ui::TCloseAction& action) { action = ui::TCloseAction::Free; }

void TfrmDadosGerRel::sbtPrintClick(ui::TObject&) {
  IReportEngine& e = engine();
  const TReportDef& r = SelectedReport();
  e.Print(r, rpddPadrao.GetQueryParams(r));
}

void TfrmDadosGerRel::sbtPreviewClick(ui::TObject&) {
  IReportEngine& e = engine();
  const TReportDef& r = SelectedReport();
  e.Preview(r, rpddPadrao.GetQueryParams(r));
}

void TfrmDadosGerRel::sbtSalvarComoClick(ui::TObject&) {
  IReportEngine& e = engine();
  const TReportDef& r = SelectedReport();
  if (!svdSaveReport.Execute()) return;
  e.SaveAs(r, rpddPadrao.GetQueryParams(r), svdSaveReport.FileName);
}

void TfrmDadosGerRel::sbtReportEditClick(ui::TObject&) {
  IReportEngine& e = engine();
  TReportDef r = SelectedReport();
  e.Edit(r, [this, r] { return rpddPadrao.GetQueryParams(r); });
}

void TfrmDadosGerRel::sbtHelpClick(ui::TObject&) { ShowHelp(HelpFile, HelpContext); }

void TfrmDadosGerRel::sbtCloseClick(ui::TObject&) { Close(); }

}  // namespace host
