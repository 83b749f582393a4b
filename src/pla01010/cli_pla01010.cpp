// Unit state, the factory and the data model of PLA01010: controls, data
// sets, lookup queries, the connection and the message catalog.

#include "pla01010/cli_pla01010.h"

#include "platform/ui/services.h"

namespace pla01010 {

using data::TFieldType;
using ui::Make;

TfrmConsEfetClie* frmConsEfetClie = nullptr;

void CriaConsEfetClie() {
  ui::HourGlass ampulheta;
  frmConsEfetClie = ui::CreateForm<TfrmConsEfetClie>(nullptr);
  frmConsEfetClie->ClearOnDestroy(frmConsEfetClie);
  frmConsEfetClie->ShowModal();
}

namespace {

data::TField& AddF(data::TClientDataSet& ds, const char* name, TFieldType type, int size, const char* label,
                   bool visible = true, bool readOnly = false) {
  data::TFieldDef def{name, type, size};
  data::TField& f = ds.AddField(def);
  if (*label) f.SetDisplayLabel(label);
  f.Visible = visible;
  f.ReadOnly = readOnly;
  return f;
}

ui::TLabel* BoldLabel(TfrmConsEfetClie* form, const char* name, const char* caption, ui::TWinControl* parent) {
  auto* l = Make<ui::TLabel>(form, name, parent);
  l->SetCaption(caption);
  l->SetBold(true);
  return l;
}

ui::TLabel* Label(TfrmConsEfetClie* form, const char* name, const char* caption, ui::TWinControl* parent) {
  auto* l = Make<ui::TLabel>(form, name, parent);
  l->SetCaption(caption);
  return l;
}

ui::TEdit* ShowEdit(TfrmConsEfetClie* form, const char* name, ui::TWinControl* parent) {
  auto* e = Make<ui::TEdit>(form, name, parent);
  e->SetEnabled(false);
  e->TabStop = false;
  return e;
}

void SetSql(db::TADOIBQuery& q, std::initializer_list<std::string> lines) {
  q.SQL = lines;
  q.SQL_ORACLE = lines;
  q.SQL_MSSQL = lines;
  q.SQL_IB = lines;
}

}  // namespace

TfrmConsEfetClie::TfrmConsEfetClie(ui::TComponent* owner) : host::TfrmRotiGeral(owner) {
  SetName("frmConsEfetClie");
  SetCaption("Efetivos por Cliente");
  lblCodTela->SetCaption("PLA01010");
  BuildDataModel();
}

TfrmConsEfetClie::~TfrmConsEfetClie() {
  // The controls outlive this class's members (the base frees them), so they
  // let go of this screen's data sources first.
  for (ui::TDBGrid* g : {dbgEfetPlan, dbgEfetClie, dgbEfetFat})
    if (g) g->SetDataSource(nullptr);
  if (btpFilial) btpFilial->DataSource = nullptr;
  if (btpServico) btpServico->DataSource = nullptr;
  cdsEfetClie.AfterScroll = nullptr;
  netConsEfet.BeforeConnect = nullptr;
  if (frmConsEfetClie == this) frmConsEfetClie = nullptr;
}

void TfrmConsEfetClie::BuildDataModel() {
  BuildCatalog();
  BuildQueries();

  AddF(cdsVerifApurac, "DTEFETCLIE", TFieldType::DateTime, 0, "");

  AddF(cdsEfetPlan, "DTCARDAPIO", TFieldType::DateTime, 0, "Data", true, true);
  AddF(cdsEfetPlan, "QTCLIEFETCAR", TFieldType::Float, 0, "Efetivos", true, true);

  AddF(cdsEfetClie, "CDCLIENTE", TFieldType::String, 21, "", false, true);
  AddF(cdsEfetClie, "NMRAZSOCCLIE", TFieldType::String, 50, "Clientes", true, true);
  AddF(cdsEfetClie, "TOTALEFET", TFieldType::Float, 0, "Efetivos");
  cdsEfetClie.BeforeInsert = [this](data::TClientDataSet& d) { cdsEfetClieBeforeInsert(d); };
  cdsEfetClie.BeforePost = [this](data::TClientDataSet& d) { cdsEfetClieBeforePost(d); };
  cdsEfetClie.AfterPost = [this](data::TClientDataSet& d) { cdsEfetClieAfterPost(d); };
  cdsEfetClie.AfterScroll = [this](data::TClientDataSet& d) { cdsEfetClieAfterScroll(d); };

  for (data::TClientDataSet* ds : {&cdsEfetFat, &cdsAux}) {
    AddF(*ds, "DTCARDAPIO", TFieldType::DateTime, 0, "Data");
    AddF(*ds, "CDCLIENTE", TFieldType::String, 21, "", false);
    AddF(*ds, "NMRAZSOCCLIE", TFieldType::String, 50, "Clientes");
    AddF(*ds, "QTEFETFAT", TFieldType::Float, 0, "Efetivos");
  }
  cdsEfetFat.AddIndex("Ordena", "DTCARDAPIO");
  cdsEfetFat.SetIndexName("Ordena");
  cdsEfetFat.BeforeInsert = [this](data::TClientDataSet& d) { cdsEfetFatBeforeInsert(d); };

  dtsEfetPlan.SetDataSet(&cdsEfetPlan);
  dtsEfetClie.SetDataSet(&cdsEfetClie);
  dtsEfetFat.SetDataSet(&cdsEfetFat);

  netConsEfet.SetThrowException(false);
  netConsEfet.BeforeConnect = [this](contracts::TNetConnection& c) { netConsEfetBeforeConnect(c); };

  BuildHeader();
  BuildBody();
}

void TfrmConsEfetClie::BuildCatalog() {
  msgPadrao.SetMessages({
      "Serv_n_Cad|Serviço não cadastrado.",
      "Serv_inf|Serviço deve ser informado.",
      "Data_ini_Inf|Data inicial deve ser informada.",
      "Data_fin_Inf|Data final deve ser informada.",
      "Periodo_inv|Data inicial não pode ser maior que data final.",
      "EfetApur|Período contempla dias já apurados (%s).",
      "Efet_Difere|Total de efetivos do planejamento (%s) difere do total de efetivos do faturamento (%s).",
      "Rateio_Difere|Efetivos do Faturamento difere dos efetivos do planejamento no(s) dia(s): %s",
      "cons_efet|Consolidando efetivos...",
      "Efet_nCalc|Rateio de efetivos deve ser realizado.",
      "Consl_succ|Consolidação de efetivos realizada com sucesso.",
  });
}

void TfrmConsEfetClie::BuildQueries() {
  SetSql(qryFilialPesq, {"SELECT", "   CDFILIAL,", "   NMFILIAL", "FROM", "   FILIAL", "ORDER BY", "   CDFILIAL"});
  {
    data::TFieldDef def{"CDFILIAL", TFieldType::String, 4, false, true};
    data::TField& f = qryFilialPesq.AddField(def);
    f.SetDisplayLabel("Código");
    f.Required = true;
    f.DisplayWidth = 8;
    AddF(qryFilialPesq, "NMFILIAL", TFieldType::String, 30, "Nome");
  }
  SetSql(qryServico, {"SELECT CDSERVFILI, NMSERVICO", "  FROM SERVICO", " WHERE CDFILIAL = :P_CDFILIAL",
                      "   AND (CDSERVFILI = :P_CDSERVFILI OR :P_TCDSERVFILI = 'T')", "   AND IDTIPOSERV = 'N'",
                      "ORDER BY CDSERVFILI"});
  AddF(qryServico, "CDSERVFILI", TFieldType::String, 5, "Código");
  AddF(qryServico, "NMSERVICO", TFieldType::String, 40, "Nome");
  dtsFilialPesq.SetDataSet(&qryFilialPesq);
  dtsServico.SetDataSet(&qryServico);
}

void TfrmConsEfetClie::BuildHeader() {
  panDados = Make<ui::TPanel>(this, "panDados", this);
  panDados->SetTabOrder(0);
  panDados->OnEnter = [this](ui::TObject& s) { panDadosEnter(s); };
  panDados->OnExit = [this](ui::TObject& s) { panDadosExit(s); };

  lblCdFilial = BoldLabel(this, "lblCdFilial", "Filial", panDados);
  medCdFilial = Make<ui::TMaskEdit>(this, "medCdFilial", panDados);
  medCdFilial->SetEditMask(">aaaa;0; ");
  medCdFilial->MaxLength = 4;
  medCdFilial->TabStop = true;
  medCdFilial->OnChange = [this](ui::TObject& s) { medCdFilialChange(s); };
  medCdFilial->OnExit = [this](ui::TObject& s) { medCdFilialExit(s); };
  lblCdFilial->FocusControl = medCdFilial;
  btpFilial = Make<ui::TBtnPesquisa>(this, "btpFilial", panDados);
  btpFilial->Title = "Filial";
  btpFilial->EmptyText = "Não há filial cadastrada";
  btpFilial->Control = medCdFilial;
  btpFilial->DataSource = &dtsFilialPesq;
  btpFilial->BeforePesq = [this](ui::TObject& s) { btpFilialBeforePesq(s); };
  btpFilial->AfterPesq = [this](ui::TObject& s) { btpFilialAfterPesq(s); };
  edtNmFilial = ShowEdit(this, "edtNmFilial", panDados);

  lblCdServico = BoldLabel(this, "lblCdServico", "Serviço", panDados);
  medCdServico = Make<ui::TMaskEdit>(this, "medCdServico", panDados);
  medCdServico->SetEditMask("99999;0; ");
  medCdServico->MaxLength = 5;
  medCdServico->TabStop = true;
  medCdServico->OnChange = [this](ui::TObject& s) { medCdServicoChange(s); };
  medCdServico->OnExit = [this](ui::TObject& s) { medCdServicoExit(s); };
  lblCdServico->FocusControl = medCdServico;
  btpServico = Make<ui::TBtnPesquisa>(this, "btpServico", panDados);
  btpServico->Title = "Serviço";
  btpServico->EmptyText = "Não há serviço cadastrado para a filial informada.";
  btpServico->Control = medCdServico;
  btpServico->DataSource = &dtsServico;
  btpServico->BeforePesq = [this](ui::TObject& s) { btpServicoBeforePesq(s); };
  btpServico->AfterPesq = [this](ui::TObject& s) { btpServicoAfterPesq(s); };
  edtNmServico = ShowEdit(this, "edtNmServico", panDados);

  lblPeriodo = BoldLabel(this, "lblPeriodo", "Período", panDados);
  depEfetIni = Make<ui::TDateEditPlus>(this, "depEfetIni", panDados);
  depEfetIni->DateOnly = true;
  depEfetIni->TabStop = true;
  depEfetIni->OnExit = [this](ui::TObject& s) { depEfetIniExit(s); };
  lblPeriodo->FocusControl = depEfetIni;
  lblA = Label(this, "lblA", "à", panDados);
  depEfetFin = Make<ui::TDateEditPlus>(this, "depEfetFin", panDados);
  depEfetFin->DateOnly = true;
  depEfetFin->TabStop = true;
  depEfetFin->OnExit = [this](ui::TObject& s) { depEfetFinExit(s); };
  for (ui::TDateEditPlus* d : {depEfetIni, depEfetFin})
    d->WeekDayNames = {"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado"};
}

void TfrmConsEfetClie::BuildBody() {
  constexpr ui::TDBGridOptions lines = ui::dgTitles | ui::dgColLines | ui::dgRowLines | ui::dgAlwaysShowSelection;

  panPlan = Make<ui::TPanel>(this, "panPlan", this);
  panPlan->SetTabOrder(1);
  lblEfetPlan = BoldLabel(this, "lblEfetPlan", "Efetivos Planejamento", panPlan);
  dbgEfetPlan = Make<ui::TDBGrid>(this, "dbgEfetPlan", panPlan);
  dbgEfetPlan->SetDataSource(&dtsEfetPlan);
  dbgEfetPlan->SetOptions(lines | ui::dgRowSelect);
  dbgEfetPlan->ReadOnly = true;
  dbgEfetPlan->TabStop = true;
  dbgEfetPlan->AddColumn("DTCARDAPIO");
  dbgEfetPlan->AddColumn("QTCLIEFETCAR");

  panClie = Make<ui::TPanel>(this, "panClie", this);
  panClie->SetTabOrder(2);
  lblEfetClie = BoldLabel(this, "lblEfetClie", "Efetivos por Cliente", panClie);
  dbgEfetClie = Make<ui::TDBGrid>(this, "dbgEfetClie", panClie);
  dbgEfetClie->SetDataSource(&dtsEfetClie);
  dbgEfetClie->SetOptions(lines | ui::dgEditing);
  dbgEfetClie->TabStop = true;
  dbgEfetClie->AddColumn("NMRAZSOCCLIE").Width = 250;
  dbgEfetClie->AddColumn("TOTALEFET");
  dbgEfetClie->OnKeyPress = [this](ui::TObject& s, ui::TChar& k) { dbgEfetClieKeyPress(s, k); };

  panFat = Make<ui::TPanel>(this, "panFat", this);
  panFat->SetTabOrder(3);
  lblEfetFatGrid = BoldLabel(this, "lblEfetFatGrid", "Efetivos Faturamento", panFat);
  dgbEfetFat = Make<ui::TDBGrid>(this, "dgbEfetFat", panFat);
  dgbEfetFat->SetDataSource(&dtsEfetFat);
  dgbEfetFat->SetOptions(lines | ui::dgEditing);
  dgbEfetFat->TabStop = true;
  dgbEfetFat->AddColumn("DTCARDAPIO");
  dgbEfetFat->AddColumn("QTEFETFAT");
  dgbEfetFat->OnKeyPress = [this](ui::TObject& s, ui::TChar& k) { dgbEfetFatKeyPress(s, k); };

  panTotais = Make<ui::TPanel>(this, "panTotais", this);
  panTotais->SetTabOrder(4);
  lblTotPlan = Label(this, "lblTotPlan", "Total de Efetivos do Planejamento", panTotais);
  edtEfetPlan = ShowEdit(this, "edtEfetPlan", panTotais);
  lblTotFat = Label(this, "lblTotFat", "Total de Efetivos do Faturamento", panTotais);
  edtEfetFat = ShowEdit(this, "edtEfetFat", panTotais);

  sbtConsolidar = Make<ui::TButtonFlat>(this, "sbtConsolidar", panBotoes);
  sbtConsolidar->SetHint("Efetuar rateio de efetivos");
  sbtConsolidar->ShowHint = true;
  sbtConsolidar->SetEnabled(false);
  sbtConsolidar->OnClick = [this](ui::TObject& s) { sbtConsolidarClick(s); };
  OnCloseQuery = [this](ui::TObject& s, bool& c) { FormCloseQuery(s, c); };
}

rtl::Variant TfrmConsEfetClie::Servidor(const std::string& method, rtl::VariantArray args) {
  return netConsEfet.Call(method, args);
}

}  // namespace pla01010
