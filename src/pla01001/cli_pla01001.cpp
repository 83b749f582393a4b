#include "pla01001/cli_pla01001.h"

#include "platform/host/branch.h"
#include "platform/host/checks.h"
#include "platform/host/context.h"
#include "platform/host/dialogs.h"
#include "platform/host/lookups.h"

namespace pla01001 {

using ui::Make;

TfrmListEfet* frmListEfet = nullptr;
std::string stListaServ;

namespace {

data::TField& addString(db::TADOIBQuery& q, const char* name, int size, const char* label, bool required,
                        bool visible = true) {
  data::TFieldDef def;
  def.Name = name;
  def.DataType = data::TFieldType::String;
  def.Size = size;
  def.Required = required;
  data::TField& f = q.AddField(def);
  f.SetDisplayLabel(label);
  f.Required = required;
  f.Visible = visible;
  return f;
}

}  // namespace

TfrmListEfet::TfrmListEfet(ui::TComponent* owner) : host::TfrmDadosGerRel(owner) {
  SetName("frmListEfet");
  SetCaption("Efetivos");
  lblCodRel->SetCaption("PLA010");
  BuildControls();
  BuildQueries();
  BuildCatalog();
}

TfrmListEfet::~TfrmListEfet() = default;

void TfrmListEfet::BuildControls() {
  lblFilial = Make<ui::TLabel>(this, "lblFilial", this);
  lblFilial->SetCaption("Filial");
  medCdFilial = Make<ui::TMaskEdit>(this, "medCdFilial", this);
  medCdFilial->SetEditMask(">aaaa;0; ");
  medCdFilial->MaxLength = 4;
  lblFilial->FocusControl = medCdFilial;
  btpFilial = Make<ui::TBtnPesquisa>(this, "btpFilial", this);
  btpFilial->SetHint("Pesquisar");
  btpFilial->Title = "Filial";
  btpFilial->Control = medCdFilial;
  btpFilial->DataSource = &dtsFilial;
  edtNmFilial = Make<ui::TEdit>(this, "edtNmFilial", this);
  edtNmFilial->SetEnabled(false);

  GroupBox1 = Make<ui::TGroupBox>(this, "GroupBox1", this);
  GroupBox1->SetCaption("Data");
  lblDtFinal = Make<ui::TLabel>(this, "lblDtFinal", GroupBox1);
  lblDtFinal->SetCaption("de");
  depDataIni = Make<ui::TDateEditPlus>(this, "depDataIni", GroupBox1);
  lblDtFinal->FocusControl = depDataIni;
  edtDataIni = Make<ui::TEdit>(this, "edtDataIni", GroupBox1);
  edtDataIni->SetEnabled(false);
  lblMesFina = Make<ui::TLabel>(this, "lblMesFina", GroupBox1);
  lblMesFina->SetCaption("até");
  depDataFin = Make<ui::TDateEditPlus>(this, "depDataFin", GroupBox1);
  lblMesFina->FocusControl = depDataFin;
  edtDataFin = Make<ui::TEdit>(this, "edtDataFin", GroupBox1);
  edtDataFin->SetEnabled(false);

  grbServico = Make<ui::TGroupBox>(this, "grbServico", this);
  grbServico->SetCaption("Serviço");
  rbtTodosServ = Make<ui::TRadioButton>(this, "rbtTodosServ", grbServico);
  rbtTodosServ->SetCaption("Todos");
  rbtListaServ = Make<ui::TRadioButton>(this, "rbtListaServ", grbServico);
  rbtListaServ->SetCaption("Lista");
  btnServico = Make<ui::TBtnPesquisa>(this, "btnServico", grbServico);
  btnServico->SetHint("Pesquisar");
  btnServico->DataSource = &dtsServico;
  btnServico->SetEnabled(false);
  rbtTodosServ->SetChecked(true);

  medCdFilial->OnChange = [this](ui::TObject& s) { medCdFilialChange(s); };
  medCdFilial->OnExit = [this](ui::TObject& s) { medCdFilialExit(s); };
  btpFilial->BeforePesq = [this](ui::TObject& s) { btpFilialBeforePesq(s); };
  btpFilial->AfterPesq = [this](ui::TObject& s) { btpFilialAfterPesq(s); };
  depDataIni->OnChange = [this](ui::TObject& s) { depDataIniDateChange(s); };
  depDataFin->OnChange = [this](ui::TObject& s) { depDataFinDateChange(s); };
  depDataIni->OnExit = [this](ui::TObject& s) { depDataIniExit(s); };
  depDataFin->OnExit = [this](ui::TObject& s) { depDataFinExit(s); };
  rbtTodosServ->OnClick = [this](ui::TObject& s) { rbtListaServClick(s); };
  rbtListaServ->OnClick = [this](ui::TObject& s) { rbtListaServClick(s); };
  rbtListaServ->OnKeyDown = [this](ui::TObject& s, ui::Word& k, ui::TShiftState sh) { rbtListaServKeyDown(s, k, sh); };
  // The service button opens the multiple-choice list, not the one-row lookup
  // a lookup button runs by itself: its click ends after the list silently.
  btnServico->BeforePesq = [this](ui::TObject& s) {
    btnServicoClick(s);
    rtl::Abort();
  };
  rpddPadrao.BeforeGetQueryParams = [this](host::TReportParams& p, bool& flag) {
    rpddPadraoBeforeGetQueryParams(p, flag);
  };
}

void TfrmListEfet::BuildQueries() {
  const std::initializer_list<std::string> filial = {
      "SELECT", "   CDFILIAL,", "   NMFILIAL,", "   IDCNTRRESC", "FROM", "   FILIAL", "WHERE",
      "   (CDFILIAL = :P_CDFILIAL OR :P_TCDFILIAL = 'T')", "ORDER BY", "   CDFILIAL"};
  qryFilial.SQL = filial;
  qryFilial.SQL_ORACLE = filial;
  qryFilial.SQL_MSSQL = filial;
  qryFilial.SQL_IB = filial;
  {
    data::TField& f = addString(qryFilial, "CDFILIAL", 4, "Código", true);
    f.DisplayWidth = 8;
    addString(qryFilial, "NMFILIAL", 30, "Nome", false);
    addString(qryFilial, "IDCNTRRESC", 1, "IDCNTRRESC", false, false);
  }
  dtsFilial.SetDataSet(&qryFilial);

  const std::initializer_list<std::string> servico = {
      "SELECT", "   CDFILIAL,", "   CDSERVFILI,", "   NMSERVICO", "FROM", "   SERVICO", "WHERE",
      "   (CDFILIAL   = :P_CDFILIAL) AND", "   (IDTIPOSERV IN ('N', 'F'))", "ORDER BY", "   CDFILIAL,",
      "   CDSERVFILI"};
  qryServico.SQL = servico;
  qryServico.SQL_ORACLE = servico;
  qryServico.SQL_ORACLE.Add(" ");
  qryServico.SQL_ORACLE.Add(" ");
  qryServico.SQL_MSSQL = servico;
  qryServico.SQL_MSSQL.Add(" ");
  qryServico.SQL_MSSQL.Add(" ");
  qryServico.SQL_IB = {"SELECT", "   CDFILIAL,", "   CDSERVFILI,", "   NMSERVICO", "FROM",
                       "   SERVICO, PARAM(:P_CDFILIAL) P_CDFILIAL", "WHERE",
                       "   (CDFILIAL   = P_CDFILIAL.PARAM) AND", "   (IDTIPOSERV IN ('N', 'F'))", "ORDER BY",
                       "   CDFILIAL,", "   CDSERVFILI"};
  addString(qryServico, "CDSERVFILI", 5, "Serviço", true);
  addString(qryServico, "NMSERVICO", 40, "Nome", false);
  addString(qryServico, "CDFILIAL", 4, "Filial", true, false);
  dtsServico.SetDataSet(&qryServico);
}

void TfrmListEfet::BuildCatalog() {
  msgPadrao.SetMessages({
      "DATA_PROC|Data final deve ser menor ou igual à data de processamento.",
      "DATA_INI_MAIOR|Data inicial deve ser menor ou igual à data final.",
      "DtIni_inf|Data inicial deve ser informada.",
      "DtFin_inf|Data final deve ser informada.",
      "SERV_DEVE|Serviço deve ser informado.",
      "SERVICO|Serviço",
      "Serv_inf|Não há serviço de restaurante cadastrado para a filial informada.",
      "Arq_Rel_Err|O arquivo contendo a definição do Relatório de código '%s' não foi encontrado no diretório '%s'.",
      "NovoCaption|Título do Relatório",
      "NovoPrompt|Informe o título do relatório:",
      "FILI_DEVE|Filial deve ser informada.",
      "FILI_NAO_CAD|Filial não cadastrada.",
      "FILI_RESC|Filial com contrato rescindido.",
  });
}

// ---------------------------------------------------------------------------
void TfrmListEfet::FormCreate(ui::TObject& sender) {
  host::TfrmDadosGerRel::FormCreate(sender);
  primeiraAtivacao_ = true;
}

void TfrmListEfet::FormActivate(ui::TObject& sender) {
  host::TfrmDadosGerRel::FormActivate(sender);
  Changed();  // the repaint
  if (!primeiraAtivacao_) return;
  stListaServ.clear();
  medCdFilial->SetText(host::FiliProc());
  edtNmFilial->SetText(host::NomeFiliProc());
  depDataIni->SetDate(host::DataProc(medCdFilial->Text()));
  depDataFin->SetDate(depDataIni->GetDate());
  edtDataFin->SetText(host::NomeSemana(depDataFin->GetDate()));
  edtDataIni->SetText(edtDataFin->Text());
  bool enabled = !host::ModuFili();
  medCdFilial->SetEnabled(enabled);
  lblFilial->SetEnabled(enabled);
  btpFilial->SetEnabled(enabled);
  if (!enabled) host::SelectNextControl(*this, medCdFilial, true);
  primeiraAtivacao_ = false;
}

// ---------------------------------------------------------------------------
void TfrmListEfet::btpFilialBeforePesq(ui::TObject&) {
  qryFilial.Close();
  qryFilial.ParamByName("P_TCDFILIAL").SetAsString("T");
  qryFilial.ParamByName("P_CDFILIAL").SetAsString("");
  // Opened here so that any lookup dialog lists the rows, not only one that
  // knows how to open a query.
  qryFilial.Open();
}

void TfrmListEfet::btpFilialAfterPesq(ui::TObject&) {
  medCdFilial->SetText(qryFilial.FieldByName("CDFILIAL").AsString());
  edtNmFilial->SetText(qryFilial.FieldByName("NMFILIAL").AsString());
}

void TfrmListEfet::medCdFilialChange(ui::TObject&) {
  edtNmFilial->SetText("");
  stListaServ.clear();
}

void TfrmListEfet::Vd_Filial(bool flag) {
  try {
    medCdFilial->SetText(host::Ajusta(medCdFilial->Text(), 4));
    edtNmFilial->SetText(host::ValidaFilial(medCdFilial->Text(), host::Operador(), flag));
  } catch (...) {
    if (medCdFilial->CanFocus()) medCdFilial->SetFocus();
    throw;
  }
}

void TfrmListEfet::medCdFilialExit(ui::TObject&) { Vd_Filial(false); }

// ---------------------------------------------------------------------------
void TfrmListEfet::depDataIniDateChange(ui::TObject&) { edtDataIni->SetText(depDataIni->WeekDayName()); }
void TfrmListEfet::depDataFinDateChange(ui::TObject&) { edtDataFin->SetText(depDataFin->WeekDayName()); }
void TfrmListEfet::depDataIniExit(ui::TObject&) { Vd_Date(*depDataIni, false); }
void TfrmListEfet::depDataFinExit(ui::TObject&) { Vd_Date(*depDataFin, false); }

void TfrmListEfet::Vd_Date(ui::TDateEditPlus& edit, bool mandatory) {
  edit.CheckValidDate();
  bool empty = edit.GetDate() == 0;
  bool ini = edit.Name() == "depDataIni";
  if (mandatory && empty) {
    if (ini) {
      depDataIni->SetFocus();
      host::MensErro(msgPadrao.Msg("DtIni_inf"), true);
    }
    depDataFin->SetFocus();
    host::MensErro(msgPadrao.Msg("DtFin_inf"), true);
  }
  if (!empty) (ini ? edtDataIni : edtDataFin)->SetText(host::NomeSemana(edit.GetDate()));
}

void TfrmListEfet::Vd_Data() {
  if (depDataFin->GetDate() > host::DataProc(medCdFilial->Text())) {
    depDataFin->SetFocus();
    host::MensErro(msgPadrao.Msg("DATA_PROC"), true);
  }
  if (depDataFin->GetDate() < depDataIni->GetDate()) {
    depDataIni->SetFocus();
    host::MensErro(msgPadrao.Msg("DATA_INI_MAIOR"), true);
  }
}

// ---------------------------------------------------------------------------
void TfrmListEfet::rbtListaServClick(ui::TObject&) { btnServico->SetEnabled(rbtListaServ->Checked()); }

void TfrmListEfet::rbtListaServKeyDown(ui::TObject&, ui::Word& key, ui::TShiftState) {
  if (key == ui::VK_F9) btnServicoClick(*btnServico);
}

void TfrmListEfet::btnServicoClick(ui::TObject&) {
  qryServico.Close();
  qryServico.ParamByName("P_CDFILIAL").SetAsString(medCdFilial->Text());
  qryServico.Open();
  host::PesquisaLista(&dtsServico, "CDSERVFILI", msgPadrao.Msg("SERVICO") + "|" + msgPadrao.Msg("Serv_inf"), false,
                      stListaServ);
}

// ---------------------------------------------------------------------------
void TfrmListEfet::Prepare_Print() {
  Vd_Filial(true);
  Vd_Date(*depDataIni, true);
  Vd_Date(*depDataFin, true);
  Vd_Data();
  if (rbtListaServ->Checked() && stListaServ.empty()) {
    rbtListaServ->SetFocus();
    host::MensErro(msgPadrao.Msg("SERV_DEVE"), true);
  }
}

void TfrmListEfet::sbtPrintClick(ui::TObject& sender) {
  Prepare_Print();
  host::TfrmDadosGerRel::sbtPrintClick(sender);
}

void TfrmListEfet::sbtPreviewClick(ui::TObject& sender) {
  Prepare_Print();
  host::TfrmDadosGerRel::sbtPreviewClick(sender);
}

void TfrmListEfet::sbtSalvarComoClick(ui::TObject& sender) {
  Prepare_Print();
  host::TfrmDadosGerRel::sbtSalvarComoClick(sender);
}

void TfrmListEfet::sbtReportEditClick(ui::TObject& sender) {
  Vd_Filial(false);
  host::TfrmDadosGerRel::sbtReportEditClick(sender);
}

void TfrmListEfet::rpddPadraoBeforeGetQueryParams(host::TReportParams& params, bool&) {
  bool todos = rbtTodosServ->Checked();
  if (host::ExistParam(params, "P_CDFILIAL")) params.ParamByName("P_CDFILIAL").SetAsString(medCdFilial->Text());
  if (host::ExistParam(params, "P_CDSERVFILI"))
    params.ParamByName("P_CDSERVFILI").SetAsString(todos ? std::string() : stListaServ);
  if (host::ExistParam(params, "P_TCDSERVFILI")) params.ParamByName("P_TCDSERVFILI").SetAsString(todos ? "T" : "");
  if (host::ExistParam(params, "P_DTINICIAL")) params.ParamByName("P_DTINICIAL").SetAsDateTime(depDataIni->GetDate());
  if (host::ExistParam(params, "P_DTFINAL")) params.ParamByName("P_DTFINAL").SetAsDateTime(depDataFin->GetDate());
  if (host::ExistParam(params, "P_DTPERIINI")) params.ParamByName("P_DTPERIINI").SetAsString(depDataIni->EditText());
  if (host::ExistParam(params, "P_DTPERIFIN")) params.ParamByName("P_DTPERIFIN").SetAsString(depDataFin->EditText());
}

// ---------------------------------------------------------------------------
void CriaListEfet() {
  frmListEfet = ui::CreateForm<TfrmListEfet>(nullptr);
  frmListEfet->ClearOnDestroy(frmListEfet);
  frmListEfet->ShowModal();
}

void FinalizeUnit() { stListaServ.clear(); }

}  // namespace pla01001
