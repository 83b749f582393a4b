// The screen's controls, pages, menus, data sets, data sources, lookup queries
// and message catalog, and the wiring of the handlers built so far.

#include <initializer_list>

#include "pla01000/cli_pla01000.h"
#include "pla01002/cli_pla01002.h"

namespace pla01000 {

using data::TFieldType;
using ui::Make;

namespace {

data::TField& AddF(data::TClientDataSet& ds, const char* name, TFieldType type, int size = 0, const char* label = "",
                   bool visible = true, bool fixed = false) {
  data::TFieldDef def;
  def.Name = name;
  def.DataType = type;
  def.Size = size;
  def.FixedChar = fixed;
  data::TField& f = ds.AddField(def);
  if (*label) f.SetDisplayLabel(label);
  f.Visible = visible;
  return f;
}

data::TField& Str(data::TClientDataSet& ds, const char* name, int size, const char* label = "", bool visible = true) {
  return AddF(ds, name, TFieldType::String, size, label, visible);
}
data::TField& Flt(data::TClientDataSet& ds, const char* name, const char* label = "", bool visible = true) {
  return AddF(ds, name, TFieldType::Float, 0, label, visible);
}
data::TField& Dat(data::TClientDataSet& ds, const char* name, const char* label = "", bool visible = true) {
  return AddF(ds, name, TFieldType::DateTime, 0, label, visible);
}

void Formats(data::TField& f, const char* format) {
  f.DisplayFormat = format;
  f.EditFormat = format;
}

ui::TLabel* BoldLabel(TfrmMediEfetivos* form, const char* name, const char* caption, ui::TWinControl* parent) {
  auto* l = Make<ui::TLabel>(form, name, parent);
  l->SetCaption(caption);
  l->SetBold(true);
  return l;
}

ui::TColumn& Col(ui::TDBGrid* grid, const char* field, int width = 64, const char* title = "",
                 bool readOnly = false, bool titleRight = false) {
  ui::TColumn& c = grid->AddColumn(field);
  c.Width = width;
  if (*title) c.Title.Caption = title;
  if (readOnly) c.SetReadOnly(true);
  if (titleRight) c.Title.Alignment = ui::TAlignment::RightJustify;
  return c;
}

// An event handler that calls the screen's member handler with the event's arguments.
template <class... A>
auto Bind(TfrmMediEfetivos* form, void (TfrmMediEfetivos::*handler)(A...)) {
  return [form, handler](A... args) { (form->*handler)(args...); };
}

void SetSql(db::TADOIBQuery& q, std::initializer_list<std::string> lines, bool allDialects) {
  q.SQL = lines;
  q.SQL_IB = lines;
  if (allDialects) {
    q.SQL_ORACLE = lines;
    q.SQL_MSSQL = lines;
  }
}

}  // namespace

TfrmMediEfetivos::TfrmMediEfetivos(ui::TComponent* owner) : host::TfrmPadraoGrid(owner) {
  BuildDataModel();
  pla01002::cdsLinhasRateio = &cdsItRatEfet;
}

TfrmMediEfetivos::~TfrmMediEfetivos() {
  if (pla01002::cdsLinhasRateio == &cdsItRatEfet) pla01002::cdsLinhasRateio = nullptr;
  // The controls outlive this class's members (the base frees them), so they
  // let go of this screen's data sources first.
  for (ui::TDBGrid* g : {dbgPadrao, dbgTipoPrat, dbgPrato, dbgServiFatu, dbgMedCatraca, dbgEfeCliCa, dbgTurnoClie})
    if (g) g->SetDataSource(nullptr);
  for (ui::TDBEdit* e : {dbeTotaEsti, dbeClieEsti, dbeFuncEsti, dbeDoacEsti})
    if (e) e->SetDataSource(nullptr);
  if (dbtInscCli) dbtInscCli->SetDataSource(nullptr);
  if (btpFilial) btpFilial->DataSource = nullptr;
  if (btpDtCardapio) btpDtCardapio->DataSource = nullptr;
  if (btnGrupServ) btnGrupServ->DataSource = nullptr;
  dtsPadrao->OnDataChange = nullptr;
  dtsPadrao->SetDataSet(nullptr);
  if (frmMediEfetivos == this) frmMediEfetivos = nullptr;
}

void TfrmMediEfetivos::BuildDataModel() {
  SetName("frmMediEfetivos");
  SetCaption("Efetivos");
  FormStyle = ui::TFormStyle::MDIChild;
  HelpFile = "Plahelp.hlp";
  HelpContext = 12301000;
  lblCodTela->SetCaption("PLA01000");

  BuildDataSets();
  BuildQueries();
  BuildHeader();
  BuildPlanningPage();
  BuildBillingPage();
  BuildToolbarAndMenus();
  BuildCatalog();
  WireEvents();
  SetActiveControl(medCdFilial);
}

void TfrmMediEfetivos::BuildDataSets() {
  using T = TFieldType;
  {
    auto& d = cdsCardaDia;
    Str(d, "CDSERVFILI", 5, "Código").EditMask = "ccccc;0; ";
    Str(d, "NMSERVICO", 40, "Nome do Serviço");
    Flt(d, "QTCLIEFETCAR", "Clientes");
    Flt(d, "QTFUNEFETCAR", "Funcionários");
    Flt(d, "QTDOAEFETCAR", "Doações");
    Flt(d, "QTCOMEFETCAR", "Efetivos");
    for (const char* n : {"QTCOMESTICAR", "QTCLIESTICAR", "QTFUNESTICAR", "QTDOAESTICAR", "QTCOMEFETRI", "QTCOMEFETSL"})
      Flt(d, n, "", false);
    Dat(d, "DTCARDAPIO", "", false);
    Str(d, "CDFILIAL", 4, "", false);
    Str(d, "CDOPERADOR", 3, "", false);
    Str(d, "NRCARDAPIO", 10, "", false);
    Dat(d, "DTMESCARD", "", false);
    Dat(d, "DTPROCES", "", false);
  }
  {
    auto& d = cdsDtCardapio;
    Dat(d, "DTORDENA", "", false);
    auto& dt = Str(d, "DTCARDAPIO", 15, "Data cardápio");
    dt.DisplayWidth = 15;
    dt.ProviderFlagsEmpty = true;
    data::TFieldDef def{"DSDIASEMANA", T::String, 25, false, false};
    auto& dia = d.AddCalcField(def);
    dia.SetDisplayLabel("Dia da Semana");
    dia.ReadOnly = true;
  }
  {
    auto& d = cdsCompCardAux;
    Str(d, "NMTIPOPRAT", 15, "Tipo do Prato");
    Formats(Flt(d, "QTCOMEFETPRA", "Comensais"), "#,##0.00");
    Formats(Flt(d, "QTPRODUZPRAT", "Qt. Vendida(kg)"), "#,##0.000");
    Str(d, "CDTIPOPRAT", 2, "", false);
    Str(d, "CDFILIAL", 4, "", false);
    Str(d, "NRCARDAPIO", 10, "", false);
  }
  {
    auto& d = cdsPratoCard;
    Str(d, "CDFILIAL", 4);
    Str(d, "NRCARDAPIO", 10);
    Str(d, "CDTIPOPRAT", 2);
    Flt(d, "NRSEQPRATCAR");
    Flt(d, "NRORDPRATCAR");
    Str(d, "CDFILAUXPRAT", 4);
    Str(d, "CDPRATO", 10);
    Flt(d, "VRPECONSCARD");
    Str(d, "NMPRATO", 40, "Prato");
    Formats(Flt(d, "QTCOMEFETPRA", "Comensais"), "#,##0.00");
    Formats(Flt(d, "QTPRODUZPRAT", "Qt. Vendida(kg)"), "#,##0.000");
    for (size_t i = 0; i < d.FieldCount(); ++i) d.Fields(i).ProviderFlagsEmpty = true;
  }
  Str(cdsParamGeral, "IDCONSMINEFE", 1);
  Str(cdsParamGeral, "IDBLOQEFET", 1);
  Str(cdsParamPlaneja, "IDBLQEFEDIAFECH", 1);
  Str(cdsParamPlaneja, "IDPERLEFESRETPLA", 1);
  Flt(cdsParamPlaneja, "NRDIAANTDTPROC");
  Str(cdsParamPlaneja, "IDPEREFEPOSDTPR", 1);
  Str(cdsParamFilal, "IDUTEFETPLA", 1);
  Str(cdsParamFilal, "IDCOPALTEFEPLA", 1);
  {
    auto& d = cdsComensaisCard;
    Str(d, "CDFILIAL", 4);
    Str(d, "CDSERVFILI", 5);
    Dat(d, "DTCARDAPIO");
    Flt(d, "QTCLIEFETCAR");
    Flt(d, "QTFUNEFETCAR");
    Flt(d, "QTDOAEFETCAR");
    Str(d, "NMSERVICO", 40);
    d.SetIndexFieldNames("CDSERVFILI");
  }
  {
    auto& d = cdsComensaisEfet;
    Str(d, "CDFILIAL", 4);
    Str(d, "CDSERVPLAN", 5);
    Dat(d, "DTEFETCLIE");
    Flt(d, "QTCOMEFETCLI");
    Flt(d, "QTFUNEFETCLI");
    Flt(d, "QTDOAEFETCLI");
    Str(d, "NMSERVICO", 40);
  }
  Str(cdsExistsCliente, "CDCLIENTE", 21);
  Str(cdsExistsCliente, "CDSERVFILI", 5);
  Str(cdsExistsCliente, "CDFILIAL", 4);
  Str(cdsVdFaturados, "CDFILIAL", 4);
  Str(cdsVdFaturados, "CDSERVPLAN", 5);
  Dat(cdsVdFaturados, "DTEFETCLIE");
  Str(cdsVdFaturados, "NMSERVICO", 40);
  {
    auto& d = cdsServFatu;
    Str(d, "CDFILIAL", 4);
    Str(d, "CDSERVFILI", 5);
    Dat(d, "DTCARDAPIO");
    Str(d, "CDSERVICFATURAM", 5);
    Str(d, "NMSERVICO", 40);
    Flt(d, "QTCOMEFETCLI");
    AddF(d, "IDVLRVARDATA", T::String, 1, "", true, true);
  }
  {
    auto& d = cdsServCli;
    Str(d, "CDFILIAL", 4, "", false);
    Str(d, "CDSERVFILI", 5, "", false);
    Str(d, "CDCLIENTE", 21, "", false);
    Str(d, "NMRAZSOCCLIE", 50, "Razão Social");
    Str(d, "NMFANTCLIE", 100, "Nome Fantasia");
    Flt(d, "QTCOMEFETCLI", "", false);
    Flt(d, "VRSERVFATUEFCLI", "", false);
    Dat(d, "DTEFETCLIE", "", false);
    AddF(d, "CDSERVPLAN", T::String, 5, "", false, true);
    Str(d, "NRAPURACFAT", 10, "", false);
    Str(d, "IDTPIJURCLIE", 1, "", false);
    // No size in the form: the default string size.
    Str(d, "NRINSJURCLIE", 20, "", false);
    Flt(d, "QTVENDAEFETCLI", "Comensais Venda à Vista");
  }
  Str(cdsVdCliFat, "CDFILIAL", 4);
  Str(cdsVdCliFat, "CDCLIENTE", 21);
  Str(cdsVdCliFat, "NRAPURACFAT", 10);
  Dat(cdsVdCliFat, "DTINIAPURAC");
  Dat(cdsVdCliFat, "DTFIMAPURAC");
  Flt(cdsItemRat, "NRITEMRATEIOEFET", "", false);
  Str(cdsItemRat, "CDITEMRATEIOEFET", 5, "Código");
  Str(cdsItemRat, "NMITEMRATEIOEFET", 50, "Nome");
  {
    auto& d = cdsItRatEfet;
    Flt(d, "NRITRATEFETCLIE", "", false);
    Str(d, "CDFILIAL", 4, "", false);
    Str(d, "CDSERVFILI", 5, "", false);
    Str(d, "CDCLIENTE", 21, "", false);
    Dat(d, "DTEFETCLIE", "", false);
    Str(d, "CDSERVPLAN", 5, "", false);
    Flt(d, "NRITEMRATEIOEFET", "", false);
    Str(d, "CDITEMRATEIOEFET", 5, "Código");
    Str(d, "NMITEMRATEIOEFET", 50, "Nome");
    Flt(d, "QTEFETIVOS", "Efetivos", false);
    d.SetIndexFieldNames("CDITEMRATEIOEFET");
  }
  {
    auto& d = cdsEfetCat;
    Str(d, "CDCATRACA", 10, "", false);
    Str(d, "DSCATRACA", 40, "Catraca");
    Str(d, "CDFILIAL", 4);
    Str(d, "CDSERVFILI", 5);
    Dat(d, "DTEFETCAT");
    Flt(d, "QTEFETCATINI", "Início");
    Flt(d, "QTEFETCATFIM", "Fim");
    Flt(d, "QTEFETCATTOT", "Medição");
  }
  {
    auto& d = cdsTurnoCliente;
    Str(d, "CDFILIAL", 4, "", false);
    Str(d, "CDSERVFILI", 5, "", false);
    Dat(d, "DTFATTURNO");
    Str(d, "CDCLIENTE", 21, "", false);
    Str(d, "CDTURNO", 1, "Código");
    Str(d, "NMTURNO", 10, "Nome");
    Flt(d, "QTCOMTURNCLI", "Quantidade");
  }
  Flt(cdsRetirada, "CARDAPIO");
  Str(cdsVerifRetirada, "CDSERVFILI", 5);
  Flt(cdsVerifRetirada, "QTCOMEFETCAR");

  dtsFilial.SetDataSet(&qryFilialPesq);
  dtsDtCardapio.SetDataSet(&cdsDtCardapio);
  dtsServico.SetDataSet(&qryServicoPesq);
  dtsGrupServ.SetDataSet(&qryGrupServ);
  dtsCompCardAux.SetDataSet(&cdsCompCardAux);
  dtsPratoAux.SetDataSet(&cdsPratoCard);
  dtsServFatu.SetDataSet(&cdsServFatu);
  dtsServCli.SetDataSet(&cdsServCli);
  dtsEfetCat.SetDataSet(&cdsEfetCat);
  dtsTurnoCliente.SetDataSet(&cdsTurnoCliente);
}

void TfrmMediEfetivos::BuildQueries() {
  SetSql(qryFilialPesq, {"SELECT", "   CDFILIAL,", "   NMFILIAL", "FROM", "   FILIAL", "ORDER BY", "   CDFILIAL"}, true);
  {
    data::TFieldDef def{"CDFILIAL", TFieldType::String, 4, false, true};
    auto& f = qryFilialPesq.AddField(def);
    f.SetDisplayLabel("Código");
    f.Required = true;
    f.DisplayWidth = 8;
    Str(qryFilialPesq, "NMFILIAL", 30, "Nome");
  }

  SetSql(qryServicoPesq,
         {"SELECT", "   CDFILIAL,", "   CDSERVFILI,", "   NMSERVICO", "FROM", "   SERVICO", "WHERE",
          "   (CDFILIAL   = :P_CDFILIAL)   AND", "   (IDTIPOSERV = 'N')", "ORDER BY", "   CDFILIAL,",
          "   CDSERVFILI", " "},
         true);
  {
    data::TFieldDef cod{"CDSERVFILI", TFieldType::String, 5, false, true};
    auto& f = qryServicoPesq.AddField(cod);
    f.SetDisplayLabel("Código");
    f.Required = true;
    Str(qryServicoPesq, "NMSERVICO", 40, "Nome");
    data::TFieldDef fil{"CDFILIAL", TFieldType::String, 4, false, true};
    auto& g = qryServicoPesq.AddField(fil);
    g.Required = true;
    g.Visible = false;
  }

  SetSql(qryGrupServ,
         {"SELECT CDGRUPSERV, NMGRUPSERV", "  FROM GRUPSERV",
          " WHERE (CDGRUPSERV = :P_CDGRUPSERV OR 'T' = :P_TCDGRUPSERV)", " ORDER BY CDGRUPSERV"},
         false);
  Str(qryGrupServ, "CDGRUPSERV", 3, "Código");
  Str(qryGrupServ, "NMGRUPSERV", 30, "Nome");
}

void TfrmMediEfetivos::BuildHeader() {
  panDados = Make<ui::TPanel>(this, "panDados", this);
  panDados->SetTabOrder(0);

  lblCdFilial = BoldLabel(this, "lblCdFilial", "Filial", panDados);
  medCdFilial = Make<ui::TMaskEdit>(this, "medCdFilial", panDados);
  medCdFilial->SetEditMask(">aaaa;0; ");
  medCdFilial->MaxLength = 4;
  lblCdFilial->FocusControl = medCdFilial;
  btpFilial = Make<ui::TBtnPesquisa>(this, "btpFilial", panDados);
  btpFilial->Title = "Filial";
  btpFilial->SetHint("Pesquisar");
  btpFilial->ShowHint = true;
  btpFilial->Control = medCdFilial;
  btpFilial->DataSource = &dtsFilial;
  edtNmFilial = Make<ui::TEdit>(this, "edtNmFilial", panDados);
  edtNmFilial->SetEnabled(false);
  edtNmFilial->TabStop = false;

  lblDataCardapio = BoldLabel(this, "lblDataCardapio", "Data", panDados);
  depCardapio = Make<ui::TDateEditPlus>(this, "depCardapio", panDados);
  depCardapio->WeekDayNames = {"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado"};
  depCardapio->DateOnly = true;
  lblDataCardapio->FocusControl = depCardapio;
  btpDtCardapio = Make<ui::TBtnPesquisa>(this, "btpDtCardapio", panDados);
  btpDtCardapio->Title = "Data";
  btpDtCardapio->Control = depCardapio;
  btpDtCardapio->DataSource = &dtsDtCardapio;
  btpDtCardapio->EmptyText = "Não há cardápio para filial informada.";
  edtDiaCardapio = Make<ui::TEdit>(this, "edtDiaCardapio", panDados);
  edtDiaCardapio->SetEnabled(false);
  edtDiaCardapio->TabStop = false;

  Label6 = BoldLabel(this, "Label6", "Grupo de Serviços", panDados);
  edtGrupServ = Make<ui::TEdit>(this, "edtGrupServ", panDados);
  edtGrupServ->MaxLength = 3;
  btnGrupServ = Make<ui::TBtnPesquisa>(this, "btnGrupServ", panDados);
  btnGrupServ->Title = "Grupo de Serviços";
  btnGrupServ->Control = edtGrupServ;
  btnGrupServ->DataSource = &dtsGrupServ;
  btnGrupServ->EmptyText = "Não há grupo de serviços cadastrado.";
  edtNmGrupServ = Make<ui::TEdit>(this, "edtNmGrupServ", panDados);
  edtNmGrupServ->SetEnabled(false);
  edtNmGrupServ->TabStop = false;
}

void TfrmMediEfetivos::BuildPlanningPage() {
  tshPadrao->SetCaption("Efetivos do Planejamento");
  dbgPadrao->SetOptions(ui::dgEditing | ui::dgTitles | ui::dgColumnResize | ui::dgColLines | ui::dgRowLines |
                        ui::dgTabs | ui::dgAlwaysShowSelection);
  Col(dbgPadrao, "CDSERVFILI", 49, "Serviço").ButtonStyle = ui::TColumnButtonStyle::None;
  Col(dbgPadrao, "NMSERVICO", 209, "", true);
  Col(dbgPadrao, "QTCLIEFETCAR", 80, "", false, true);
  Col(dbgPadrao, "QTFUNEFETCAR", 96, "", false, true);
  Col(dbgPadrao, "QTDOAEFETCAR", 68, "", false, true);
  Col(dbgPadrao, "QTCOMEFETCAR", 80, "", true, true);

  dbgTipoPrat = Make<ui::TDBGrid>(this, "dbgTipoPrat", tshPadrao);
  dbgTipoPrat->SetDataSource(&dtsCompCardAux);
  dbgTipoPrat->SetOptions(ui::dgTitles | ui::dgColumnResize | ui::dgColLines | ui::dgRowLines | ui::dgRowSelect |
                          ui::dgAlwaysShowSelection);
  Col(dbgTipoPrat, "NMTIPOPRAT", 115);
  Col(dbgTipoPrat, "QTCOMEFETPRA");
  Col(dbgTipoPrat, "QTPRODUZPRAT", 90);

  dbgPrato = Make<ui::TDBGrid>(this, "dbgPrato", tshPadrao);
  dbgPrato->SetDataSource(&dtsPratoAux);
  dbgPrato->SetOptions(ui::dgEditing | ui::dgTitles | ui::dgColumnResize | ui::dgColLines | ui::dgRowLines |
                       ui::dgTabs | ui::dgAlwaysShowSelection);
  Col(dbgPrato, "NMPRATO", 140, "", true);
  Col(dbgPrato, "QTCOMEFETPRA");
  Col(dbgPrato, "QTPRODUZPRAT");

  panEfeCliCa = Make<ui::TPanel>(this, "panEfeCliCa", tshPadrao);
  struct Est {
    ui::TLabel** label;
    const char* labelName;
    const char* caption;
    ui::TDBEdit** edit;
    const char* editName;
    const char* field;
  };
  for (const Est& e : {Est{&lblTotaEsti, "lblTotaEsti", "Total Estimado", &dbeTotaEsti, "dbeTotaEsti", "QTCOMESTICAR"},
                       Est{&lblClieEsti, "lblClieEsti", "Cliente", &dbeClieEsti, "dbeClieEsti", "QTCLIESTICAR"},
                       Est{&lblFuncEsti, "lblFuncEsti", "Funcionário", &dbeFuncEsti, "dbeFuncEsti", "QTFUNESTICAR"},
                       Est{&lblDoacEsti, "lblDoacEsti", "Doação", &dbeDoacEsti, "dbeDoacEsti", "QTDOAESTICAR"}}) {
    *e.label = BoldLabel(this, e.labelName, e.caption, panEfeCliCa);
    *e.edit = Make<ui::TDBEdit>(this, e.editName, panEfeCliCa);
    (*e.edit)->SetDataSource(dtsPadrao);
    (*e.edit)->SetDataField(e.field);
    (*e.edit)->SetEnabled(false);
    (*e.label)->FocusControl = *e.edit;
  }
}

void TfrmMediEfetivos::BuildBillingPage() {
  tshClientes = Make<ui::TTabSheet>(this, "tshClientes", pgcPadrao);
  tshClientes->SetCaption("Efetivos de Faturamento");

  panServiFatu = Make<ui::TPanel>(this, "panServiFatu", tshClientes);
  lblServiFatu = BoldLabel(this, "lblServiFatu", "Serviços de Faturamento", panServiFatu);
  dbgServiFatu = Make<ui::TDBGrid>(this, "dbgServiFatu", panServiFatu);
  dbgServiFatu->SetDataSource(&dtsServFatu);
  dbgServiFatu->ReadOnly = true;
  Col(dbgServiFatu, "CDSERVICFATURAM", 74, "Código");
  Col(dbgServiFatu, "NMSERVICO", 208, "Nome");
  Col(dbgServiFatu, "QTCOMEFETCLI", 64, "Comensais Faturados");

  panCatraca = Make<ui::TPanel>(this, "panCatraca", tshClientes);
  lblCatraca = BoldLabel(this, "lblCatraca", "Contador Catraca", panCatraca);
  dbgMedCatraca = Make<ui::TDBGrid>(this, "dbgMedCatraca", panCatraca);
  dbgMedCatraca->SetDataSource(&dtsEfetCat);
  dbgMedCatraca->SetOptions(ui::dgEditing | ui::dgTitles | ui::dgColumnResize | ui::dgColLines | ui::dgRowLines |
                            ui::dgTabs | ui::dgConfirmDelete | ui::dgCancelOnExit);
  Col(dbgMedCatraca, "DSCATRACA", 79);
  Col(dbgMedCatraca, "QTEFETCATINI", 55, "", false, true);
  Col(dbgMedCatraca, "QTEFETCATFIM", 55, "", false, true);
  Col(dbgMedCatraca, "QTEFETCATTOT", 55, "", false, true);

  PageControl1 = Make<ui::TPageControl>(this, "PageControl1", tshClientes);
  TabSheet1 = Make<ui::TTabSheet>(this, "TabSheet1", PageControl1);
  TabSheet1->SetCaption("Clientes");
  const ui::TDBGridOptions clientOptions = ui::dgEditing | ui::dgTitles | ui::dgColumnResize | ui::dgColLines |
                                           ui::dgRowLines | ui::dgTabs | ui::dgAlwaysShowSelection |
                                           ui::dgCancelOnExit;
  dbgEfeCliCa = Make<ui::TDBGrid>(this, "dbgEfeCliCa", TabSheet1);
  dbgEfeCliCa->SetDataSource(&dtsServCli);
  dbgEfeCliCa->SetOptions(clientOptions);
  Col(dbgEfeCliCa, "NMRAZSOCCLIE", 180, "", true);
  Col(dbgEfeCliCa, "NMFANTCLIE", 180);
  Col(dbgEfeCliCa, "QTCOMEFETCLI", 106, "Comensais Faturados");
  Col(dbgEfeCliCa, "VRSERVFATUEFCLI", 73, "Valor Venda");
  Col(dbgEfeCliCa, "QTVENDAEFETCLI", 127);

  tshTurnoCliente = Make<ui::TTabSheet>(this, "tshTurnoCliente", PageControl1);
  tshTurnoCliente->SetCaption("Turno");
  dbgTurnoClie = Make<ui::TDBGrid>(this, "dbgTurnoClie", tshTurnoCliente);
  dbgTurnoClie->SetDataSource(&dtsTurnoCliente);
  dbgTurnoClie->SetOptions(clientOptions);
  Col(dbgTurnoClie, "CDTURNO", 63, "", true);
  Col(dbgTurnoClie, "NMTURNO", 75, "", true);
  Col(dbgTurnoClie, "QTCOMTURNCLI", 130);
  PageControl1->SetActivePage(TabSheet1);

  // Navigator panel.
  dbtNome->SetDataField("NmServico");
  lblInscCli = Make<ui::TLabel>(this, "lblInscCli", panNavegador);
  lblInscCli->SetCaption("Insc.:");
  lblInscCli->SetVisible(false);
  dbtInscCli = Make<ui::TDBText>(this, "dbtInscCli", panNavegador);
  dbtInscCli->SetDataSource(&dtsServCli);
  dbtInscCli->SetDataField("NRINSJURCLIE");
  dbtInscCli->SetVisible(false);
}

void TfrmMediEfetivos::BuildToolbarAndMenus() {
  mnuEfetivos = Make<ui::TMenuItem>(this, "mnuEfetivos");
  mnuEfetivos->SetCaption("&Efetivos");
  mnuClientes = Make<ui::TMenuItem>(this, "mnuClientes");
  mnuClientes->SetCaption("Clie&ntes");
  mnuLinha4 = Make<ui::TMenuItem>(this, "mnuLinha4");
  mnuLinha4->SetCaption("-");
  mnuOperacao->Insert(0, mnuEfetivos);
  mnuOperacao->Insert(1, mnuClientes);
  mnuOperacao->Insert(2, mnuLinha4);

  mnuConsolidar = Make<ui::TMenuItem>(this, "mnuConsolidar");
  mnuConsolidar->SetCaption("C&onsolidar Efetivos por Cliente");
  mnuConsolidar->SetShortCut(ui::ShortCut(ui::VK_F6, ui::ssNone));
  mnuManutencao->Insert(5, mnuConsolidar);

  sbtConsolidar = Make<ui::TButtonFlat>(this, "sbtConsolidar", panBotoes);
  sbtConsolidar->SetCaption("Consolidar");
  sbtConsolidar->SetHint("Efetuar rateio de efetivos");
  sbtConsolidar->ShowHint = true;
  sbtConsolidar->SetMenuItem(mnuConsolidar);
  sbtConsolidar->SetEnabled(false);
}

void TfrmMediEfetivos::BuildCatalog() {
  msgPadrao.SetMessages({
      "Excl|Confirma exclusão?",
      "FILI_DEVE|Filial deve ser informada.",
      "FILI_NAO_CAD|Filial não cadastrada.",
      "FILI_RESC|Filial com contrato rescindido.",
      "QT_COME_DEVE|Quantidade de efetivos deve ser maior ou igual a zero.",
      "QT_FUN_DEVE|Quantidade de funcionários deve ser maior ou igual a zero.",
      "QT_DOAC_DEVE|Quantidade de doações deve ser maior ou igual a zero.",
      "CliInv|Quantidade de clientes deve ser maior ou igual a zero.",
      "DATA_PROC|Data do cardápio deve ser menor ou igual a data de  processamento.",
      "SERVICO|Serviço",
      "Serv_Inf|Código deve ser informado",
      "Serv_Cad|Serviço não cadastrado",
      "CompCard|Cardápio possui pratos, não pode ser excluído",
      "SomaClie|Somatória dos comensais dos clientes deve ser igual a quantidade de clientes do serviço %s.",
      "SomaFunc|Somatória dos funcionários dos clientes deve ser igual a quantidade de funcionários do serviço %s.",
      "SomaDoac|Somatória das doações dos clientes deve ser igual a quantidade de doações do serviço %s.",
      "Retirada|Cardápio possui retirada, não pode ser excluído.",
      "Serv_Pad|Efetivos não podem ser informados para um serviço de padronização de cardápios.",
      "Serv_Ja_Cad|Serviço já cadastrado para o dia.",
      "CardapioPadr|Cardápio Padronizado",
      "Data_inf|Data deve ser informada.",
      "NAO_HA_SERV|Não há serviço de restaurante cadastrado.",
      "QTCOMEFETPRA_INV|Quantidade de comensais do prato deve ser maior ou igual a zero. ",
      "QTPRODUZPRAT_INV|Quantidade vendida deve ser maior ou igual a zero.",
      "get_cdsCardaDia|Carregando cardápios...",
      "get_cdsDtCardapio|Carregando cardápios (data)...",
      "get_cdsPratoCard|Carregando pratos do cardápio...",
      "get_cdsCompCardAux|Carregando composição do cardápio (auxiliar)...",
      "get_cdsEfetClie|Carregando efetivos do cliente...",
      "get_cdsFeriFili|Carregando feriados da filial...",
      "get_cdsComensais|Carregando comensais...",
      "get_cdsCardaDiaAux|Carregando cardápios (auxiliar)...",
      "get_cdsQtProduzida|Carregando items de retirada...",
      "get_cdsCliente|Carregando clientes...",
      "get_cdsRetirada|Carregando retiradas...",
      "get_cdsCompCard|Carrengando composição do cardápio...",
      "upd_cdsEfetClie|Atualizando efetivos do cliente...",
      "upd_cdsCardaDia|Atualizando efetivos do cardápio...",
      "pro_UpdCalcComePrato|Atualizando cálculo de comensais no prato...",
      "pro_EditCompCard|Modificando composição dos cardápios...",
      "upd_cdsPratoCard|Atualizando pratos do cardápio...",
      "pro_PrxCardapio|Carregando código seqüencial do cardápio...",
      "upd_cdsclientetrab|Atualizando comensais dos clientes...",
      "SomaClieD|Somatória dos comensais dos clientes difere da quantidade de clientes do serviço %s.",
      "SomaFuncD|Somatória dos funcionários dos clientes difere da quantidade de funcionários do serviço %s.",
      "SomaDoacD|Somatória das doações dos clientes difere da quantidade de doações do serviço %s.",
      "Vd_Retirada|Verificando retiradas do estoque...",
      "semreti|Não há produto baixado em estoque no dia.",
      "TOTALEFETIVOS|Cardápio possui retirada, total de efetivos deve ser maior do que 0.",
      "FATURAMENTO|Efetivos faturados, exclusão não permitida.",
      "CACHECHEIO|Deseja gravar as alterações antes de sair?",
      "capt_pah|Efetivos (Industrial)",
      "Efet_Apur|Efetivos do cliente já apurados na data selecionada.",
      "Inf_serv|Buscando informações no servidor...",
      "Soma|Somatória dos comensais dos clientes %s deve ser igual a quantidade de clientes do serviço %s.",
      "SomaD|Somatória dos comensais dos clientes %s difere da quantidade de clientes do serviço %s.",
      "Insc|Insc.: ",
      "QT_VENDA_ZERO|Comensais venda à vista deve ser maior ou igual a zero.",
      "QtCat_Ini_Inf|Contador inicial da catraca deve ser informado.",
      "QtCat_Fim_Inf|Contador final da catraca deve ser informado.",
      "QtCat_Ini_Fim|Contador inicial da catraca deve ser menor ou igual ao contador final.",
      "QtCat_Ini_Zero|Contador inicial da catraca deve ser maior ou igual a zero.",
      "QtCat_Fim_Zero|Contador final da catraca deve ser maior ou igual a zero.",
      "QT_MAIOR_CLIENTE|Quantidade de comensais do turno não pode ser maior que a quantidade de comensais do  cliente",
      "QT_IGUAL_CLIENTE|Soma total dos comensais dos turnos deve ser igual ao faturado pelo cliente",
      "QT_TURNO_MAIOR_ZERO|Quantidade de Comensais do Turno deve ser maior ou igual a zero",
      "GRUP_SERV_N_CAD|Grupo de serviços não cadastrado.",
      "QTEFET<0|Quantidade de efetivos deve ser maior que zero.",
      "EXISTE_RATEIO_EFET|Existe rateio de efetivos para o cliente. Deseja utilizar o valor do rateio?",
      "EfetAutoJaApur|Operação bloqueada. Efetivos dos clientes relacionados já apurados na data selecionada.",
  });
}

// Only handlers that are built are wired; the other events of the screen stay
// unassigned until their handlers exist.
void TfrmMediEfetivos::WireEvents() {
  using F = TfrmMediEfetivos;
  // Bound last: its state handler reaches the header controls.
  dtsPadrao->SetDataSet(&cdsCardaDia);
  netMediEfetivos.SetThrowException(false);
  netMediEfetivos.BeforeConnect = Bind(this, &F::netMediEfetivosBeforeConnect);

  panDados->OnEnter = Bind(this, &F::panDadosEnter);
  panDados->OnExit = Bind(this, &F::panDadosExit);
  medCdFilial->OnChange = Bind(this, &F::medCdFilialChange);
  medCdFilial->OnExit = Bind(this, &F::medCdFilialExit);
  btpFilial->BeforePesq = Bind(this, &F::btpFilialBeforePesq);
  btpFilial->AfterPesq = Bind(this, &F::btpFilialAfterPesq);
  depCardapio->OnChange = Bind(this, &F::depCardapioChange);
  depCardapio->OnExit = Bind(this, &F::depCardapioExit);
  btpDtCardapio->BeforePesq = Bind(this, &F::btpDtCardapioBeforePesq);
  btpDtCardapio->AfterPesq = Bind(this, &F::btpDtCardapioAfterPesq);
  cdsDtCardapio.OnCalcFields = Bind(this, &F::cdsDtCardapioCalcFields);
  edtGrupServ->OnChange = Bind(this, &F::edtGrupServChange);
  edtGrupServ->OnExit = Bind(this, &F::edtGrupServExit);
  btnGrupServ->BeforePesq = Bind(this, &F::btnGrupServBeforePesq);
  btnGrupServ->AfterPesq = Bind(this, &F::btnGrupServAfterPesq);

  // OnStateChange of dtsPadrao is wired by the base form to the virtual handler.
  dtsPadrao->OnDataChange = Bind(this, &F::dtsPadraoDataChange);

  cdsCardaDia.BeforeInsert = Bind(this, &F::cdsCardaDiaBeforeInsert);
  cdsCardaDia.BeforeDelete = Bind(this, &F::cdsCardaDiaBeforeDelete);
  cdsCardaDia.AfterScroll = Bind(this, &F::cdsCardaDiaAfterScroll);
  // Service grid, the sending of its rows and the screen's own commands.
  cdsCardaDia.BeforeEdit = Bind(this, &F::cdsCardaDiaBeforeEdit);
  cdsCardaDia.BeforePost = Bind(this, &F::cdsCardaDiaBeforePost);
  cdsCardaDia.AfterPost = Bind(this, &F::cdsCardaDiaAfterPost);
  cdsCardaDia.AfterCancel = Bind(this, &F::cdsCardaDiaAfterCancel);
  dbgPadrao->OnColExit = Bind(this, &F::dbgPadraoColExit);
  dbgPadrao->OnKeyDown = Bind(this, &F::dbgPadraoKeyDown);
  dbgPadrao->OnEditButtonClick = Bind(this, &F::dbgPadraoEditButtonClick);
  sbtConsolidar->OnClick = Bind(this, &F::sbtConsolidarClick);
  mnuConsolidar->OnClick = Bind(this, &F::mnuConsolidarClick);

  // Pages, and the billing page's clients, turnstiles and shifts.
  pgcPadrao->OnChanging = Bind(this, &F::pgcPadraoChanging);
  pgcPadrao->OnChange = Bind(this, &F::pgcPadraoChange);
  pgcPadrao->OnExit = Bind(this, &F::pgcPadraoExit);
  mnuEfetivos->OnClick = Bind(this, &F::mnuEfetivosClick);
  mnuClientes->OnClick = Bind(this, &F::mnuClientesClick);
  dbnPadrao->OnClick = Bind(this, &F::dbnPadraoClick);
  PageControl1->OnChanging = Bind(this, &F::PageControl1Changing);
  PageControl1->OnChange = Bind(this, &F::PageControl1Change);
  tshClientes->OnExit = Bind(this, &F::tshClientesExit);

  cdsServFatu.BeforeScroll = [this](data::TClientDataSet&) { SairClientes(); };
  cdsServFatu.AfterScroll = Bind(this, &F::cdsServFatuAfterScroll);
  for (data::TClientDataSet* d : {&cdsServCli, &cdsVdCliFat}) {
    d->BeforeInsert = Bind(this, &F::cdsServCliBeforeInsert);
    d->BeforeEdit = Bind(this, &F::cdsServCliBeforeEdit);
    d->BeforePost = Bind(this, &F::cdsServCliBeforePost);
    d->BeforeDelete = Bind(this, &F::cdsServCliBeforeDelete);
  }
  cdsServCli.AfterPost = Bind(this, &F::cdsServCliAfterPost);
  cdsServCli.FieldByName("QTCOMEFETCLI").OnChange = Bind(this, &F::cdsServCliQTCOMEFETCLIChange);
  cdsServCli.FieldByName("NRINSJURCLIE").OnGetText = Bind(this, &F::cdsServCliNRINSJURCLIEGetText);
  dtsServCli.OnStateChange = Bind(this, &F::dtsServCliStateChange);
  dbgEfeCliCa->OnColExit = Bind(this, &F::dbgEfeCliCaColExit);
  dbgEfeCliCa->OnKeyDown = Bind(this, &F::dbgEfeCliCaKeyDown);
  dbgEfeCliCa->OnKeyPress = Bind(this, &F::dbgEfeCliCaKeyPress);
  dbgEfeCliCa->OnEditButtonClick = Bind(this, &F::dbgEfeCliCaEditButtonClick);
  cdsItRatEfet.BeforeInsert = Bind(this, &F::cdsItRatEfetBeforeInsert);
  cdsItRatEfet.BeforePost = Bind(this, &F::cdsItRatEfetBeforePost);
  cdsItRatEfet.BeforeDelete = Bind(this, &F::cdsItRatEfetBeforeDelete);

  cdsEfetCat.BeforeInsert = Bind(this, &F::cdsEfetCatBeforeInsert);
  cdsEfetCat.BeforePost = Bind(this, &F::cdsEfetCatBeforePost);
  cdsEfetCat.AfterPost = Bind(this, &F::cdsEfetCatAfterPost);
  cdsEfetCat.AfterCancel = Bind(this, &F::cdsEfetCatAfterCancel);
  dtsEfetCat.OnStateChange = Bind(this, &F::dtsEfetCatStateChange);
  dbgMedCatraca->OnColExit = Bind(this, &F::dbgMedCatracaColExit);
  dbgMedCatraca->OnEnter = Bind(this, &F::dbgMedCatracaEnter);
  dbgMedCatraca->OnExit = Bind(this, &F::dbgMedCatracaExit);
  dbgMedCatraca->OnKeyPress = Bind(this, &F::dbgMedCatracaKeyPress);
  dbgMedCatraca->OnKeyDown = Bind(this, &F::dbgEfeCliCaKeyDown);

  dbgTurnoClie->OnColExit = Bind(this, &F::dbgTurnoClieColExit);
  dbgTurnoClie->OnExit = Bind(this, &F::dbgTurnoClieExit);
  dbgTurnoClie->OnKeyDown = Bind(this, &F::dbgTurnoClieKeyDown);
  dbgTurnoClie->OnKeyPress = Bind(this, &F::dbgTurnoClieKeyPress);
  dtsTurnoCliente.OnStateChange = Bind(this, &F::dtsTurnoClienteStateChange);
  cdsTurnoCliente.BeforeInsert = Bind(this, &F::cdsTurnoClienteBeforeInsert);
  cdsTurnoCliente.BeforePost = Bind(this, &F::cdsTurnoClienteBeforePost);
  cdsTurnoCliente.BeforeDelete = Bind(this, &F::cdsTurnoClienteBeforeDelete);
  cdsTurnoCliente.AfterDelete = Bind(this, &F::cdsTurnoClienteAfterDelete);

  // Dishes of the menu day.
  dbgTipoPrat->OnEnter = Bind(this, &F::dbgTipoPratEnter);
  dbgTipoPrat->OnExit = Bind(this, &F::dbgTipoPratExit);
  dbgTipoPrat->OnKeyDown = Bind(this, &F::dbgTipoPratKeyDown);
  dbgPrato->OnEnter = Bind(this, &F::dbgPratoEnter);
  dbgPrato->OnExit = Bind(this, &F::dbgPratoExit);
  dbgPrato->OnColExit = Bind(this, &F::dbgPratoColExit);
  dbgPrato->OnKeyDown = Bind(this, &F::dbgPratoKeyDown);
  cdsCompCardAux.BeforeInsert = Bind(this, &F::cdsCompCardAuxBeforeInsert);
  cdsCompCardAux.BeforeDelete = Bind(this, &F::cdsCompCardAuxBeforeDelete);
  cdsCompCardAux.AfterScroll = Bind(this, &F::cdsCompCardAuxAfterScroll);
  cdsCompCardAux.OnFilterRecord = Bind(this, &F::cdsCompCardAuxFilterRecord);
  cdsPratoCard.BeforeInsert = Bind(this, &F::cdsPratoCardBeforeInsert);
  cdsPratoCard.BeforeEdit = Bind(this, &F::cdsPratoCardBeforeEdit);
  cdsPratoCard.BeforePost = Bind(this, &F::cdsPratoCardBeforePost);
  cdsPratoCard.AfterPost = Bind(this, &F::cdsPratoCardAfterPost);
  cdsPratoCard.BeforeDelete = Bind(this, &F::cdsPratoCardBeforeDelete);
  cdsPratoCard.OnFilterRecord = Bind(this, &F::cdsPratoCardFilterRecord);
}

}  // namespace pla01000
