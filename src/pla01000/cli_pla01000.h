#pragma once
// PLA01000, the daily headcount screen (unit Cli_pla01000): the services of a
// menu day with their clients, employees and donations on the planning page,
// the billed services, clients, turnstiles and shifts on the billing page.
//
// Every member is public: the handlers are spread over several files of this
// folder, and the tests and the consolidation screen read the screen directly.

#include <functional>
#include <optional>
#include <string>

#include "contracts/net_connection.h"
#include "platform/data/dataset.h"
#include "platform/db/query.h"
#include "platform/host/frm_padrao_grid.h"
#include "platform/ui/comctrls.h"
#include "platform/ui/dbctrls.h"
#include "platform/ui/dbgrids.h"
#include "platform/ui/maskedit.h"
#include "platform/ui/menus.h"
#include "platform/ui/stdctrls.h"

namespace pla01000 {

class TfrmMediEfetivos;

// ---- Unit state.
// The last screen the factory created.
extern TfrmMediEfetivos* frmMediEfetivos;
// Set by the factory when it creates the screen, cleared by FormClose: while
// set, the factory shows the existing screen again.
extern bool bCriado;
// Set by the key handler when Tab is pressed on the service-code column of the
// service grid; consumed when that column is left.
extern bool bTabServico;
// True only while a posted dish row is sent and the dish types are reloaded.
extern bool bAtuPrato;

// Opens PLA01000 (at most one at a time) as a child of the host's frame.
void CriaMedEfetivos();
// The host's menu entry point: CriaMedEfetivos and nothing else.
void IniProc();
// The unit's initialization body: clears the created flag.
void InitializeUnit();

class TfrmMediEfetivos : public host::TfrmPadraoGrid {
public:
  explicit TfrmMediEfetivos(ui::TComponent* owner = nullptr);
  ~TfrmMediEfetivos() override;

  // ===== Data sets. Declared before the data sources that show them, so that
  // the sources go first when the screen is freed.
  data::TClientDataSet cdsCardaDia{"cdsCardaDia"};
  data::TClientDataSet cdsDtCardapio{"cdsDtCardapio"};
  data::TClientDataSet cdsCompCardAux{"cdsCompCardAux"};
  data::TClientDataSet cdsPratoCard{"cdsPratoCard"};
  data::TClientDataSet cdsParamGeral{"cdsParamGeral"};
  data::TClientDataSet cdsParamPlaneja{"cdsParamPlaneja"};
  data::TClientDataSet cdsParamFilal{"cdsParamFilal"};
  data::TClientDataSet cdsComensaisCard{"cdsComensaisCard"};
  data::TClientDataSet cdsComensaisEfet{"cdsComensaisEfet"};
  data::TClientDataSet cdsExistsCliente{"cdsExistsCliente"};
  data::TClientDataSet cdsVdFaturados{"cdsVdFaturados"};
  data::TClientDataSet cdsServFatu{"cdsServFatu"};
  data::TClientDataSet cdsServCli{"cdsServCli"};
  data::TClientDataSet cdsVdCliFat{"cdsVdCliFat"};
  data::TClientDataSet cdsItemRat{"cdsItemRat"};
  data::TClientDataSet cdsItRatEfet{"cdsItRatEfet"};
  data::TClientDataSet cdsEfetCat{"cdsEfetCat"};
  data::TClientDataSet cdsTurnoCliente{"cdsTurnoCliente"};
  data::TClientDataSet cdsRetirada{"cdsRetirada"};
  data::TClientDataSet cdsVerifRetirada{"cdsVerifRetirada"};

  // ===== Lookup queries on the branch database (dtmDBGeral).
  db::TADOIBQuery qryFilialPesq{"qryFilialPesq"};
  db::TADOIBQuery qryServicoPesq{"qryServicoPesq"};
  db::TADOIBQuery qryGrupServ{"qryGrupServ"};

  // ===== Data sources (dtsPadrao, on cdsCardaDia, comes from the base form).
  data::TDataSource dtsFilial{"dtsFilial"};
  data::TDataSource dtsDtCardapio{"dtsDtCardapio"};
  data::TDataSource dtsServico{"dtsServico"};
  data::TDataSource dtsGrupServ{"dtsGrupServ"};
  data::TDataSource dtsCompCardAux{"dtsCompCardAux"};
  data::TDataSource dtsPratoAux{"dtsPratoAux"};
  data::TDataSource dtsServFatu{"dtsServFatu"};
  data::TDataSource dtsServCli{"dtsServCli"};
  data::TDataSource dtsEfetCat{"dtsEfetCat"};
  data::TDataSource dtsTurnoCliente{"dtsTurnoCliente"};

  // ===== The application server.
  contracts::TNetConnection netMediEfetivos{"Pla01000.rdmMediEfetivos"};

  // ===== Header panel.
  ui::TPanel* panDados = nullptr;
  ui::TLabel* lblCdFilial = nullptr;
  ui::TMaskEdit* medCdFilial = nullptr;
  ui::TBtnPesquisa* btpFilial = nullptr;
  ui::TEdit* edtNmFilial = nullptr;
  ui::TLabel* lblDataCardapio = nullptr;
  ui::TDateEditPlus* depCardapio = nullptr;
  ui::TBtnPesquisa* btpDtCardapio = nullptr;
  ui::TEdit* edtDiaCardapio = nullptr;
  ui::TLabel* Label6 = nullptr;
  ui::TEdit* edtGrupServ = nullptr;
  ui::TBtnPesquisa* btnGrupServ = nullptr;
  ui::TEdit* edtNmGrupServ = nullptr;

  // ===== Planning page (tshPadrao, dbgPadrao from the base form).
  ui::TDBGrid* dbgTipoPrat = nullptr;
  ui::TDBGrid* dbgPrato = nullptr;
  ui::TPanel* panEfeCliCa = nullptr;
  ui::TLabel* lblTotaEsti = nullptr;
  ui::TLabel* lblClieEsti = nullptr;
  ui::TLabel* lblFuncEsti = nullptr;
  ui::TLabel* lblDoacEsti = nullptr;
  ui::TDBEdit* dbeTotaEsti = nullptr;
  ui::TDBEdit* dbeClieEsti = nullptr;
  ui::TDBEdit* dbeFuncEsti = nullptr;
  ui::TDBEdit* dbeDoacEsti = nullptr;

  // ===== Billing page.
  ui::TTabSheet* tshClientes = nullptr;
  ui::TPanel* panServiFatu = nullptr;
  ui::TLabel* lblServiFatu = nullptr;
  ui::TDBGrid* dbgServiFatu = nullptr;
  ui::TPanel* panCatraca = nullptr;
  ui::TLabel* lblCatraca = nullptr;
  ui::TDBGrid* dbgMedCatraca = nullptr;
  ui::TPageControl* PageControl1 = nullptr;
  ui::TTabSheet* TabSheet1 = nullptr;
  ui::TDBGrid* dbgEfeCliCa = nullptr;
  ui::TTabSheet* tshTurnoCliente = nullptr;
  ui::TDBGrid* dbgTurnoClie = nullptr;

  // ===== Navigator panel.
  ui::TLabel* lblInscCli = nullptr;
  ui::TDBText* dbtInscCli = nullptr;

  // ===== Toolbar and menus of this screen.
  ui::TButtonFlat* sbtConsolidar = nullptr;
  ui::TMenuItem* mnuEfetivos = nullptr;
  ui::TMenuItem* mnuClientes = nullptr;
  ui::TMenuItem* mnuLinha4 = nullptr;
  ui::TMenuItem* mnuConsolidar = nullptr;

  // ===== Screen state.
  // Set by FormCreate; cleared at the end of the first activation that worked.
  bool bPrimeiraVez = false;
  // Counter behind the negative numbers of new apportionment lines.
  double dRateio = 0;

  // The colour FocusedGrid gives a grid that can take the focus.
  static constexpr int clInfoBk = 0x00E1FFFF;

  // ===== Opening, header and loading of the menu day (header.cpp).
  void FormCreate(ui::TObject& sender) override;
  void FormActivate(ui::TObject& sender) override;
  void FormClose(ui::TObject& sender, ui::TCloseAction& action) override;
  void netMediEfetivosBeforeConnect(contracts::TNetConnection& sender);
  void medCdFilialChange(ui::TObject& sender);
  void medCdFilialExit(ui::TObject& sender);
  void btpFilialBeforePesq(ui::TObject& sender);
  void btpFilialAfterPesq(ui::TObject& sender);
  void depCardapioChange(ui::TObject& sender);
  void depCardapioExit(ui::TObject& sender);
  void btpDtCardapioBeforePesq(ui::TObject& sender);
  void btpDtCardapioAfterPesq(ui::TObject& sender);
  void cdsDtCardapioCalcFields(data::TClientDataSet& dataSet);
  void edtGrupServChange(ui::TObject& sender);
  void edtGrupServExit(ui::TObject& sender);
  void btnGrupServBeforePesq(ui::TObject& sender);
  void btnGrupServAfterPesq(ui::TObject& sender);
  void panDadosEnter(ui::TObject& sender);
  void panDadosExit(ui::TObject& sender);
  void dtsPadraoDataChange(data::TDataSource& sender, data::TField* field);
  void Vd_Data();
  void Atualiza();
  // The closed-day rule: IDBLQEFEDIAFECH "S" and the menu date earlier than
  // the branch's processing date minus NRDIAANTDTPROC days.
  bool DiaFechado();
  // The branch, menu date and group of the header as the server calls take them.
  std::string Filial() const;
  rtl::Variant DataCardapio() const;
  // A remote call through netMediEfetivos.
  rtl::Variant Servidor(const std::string& method, rtl::VariantArray args);

  // ===== Exchanges shared by several handlers (exchanges.cpp).
  // Narrows the dish types to the menu of the current service row.
  void FiltraTiposDoDia();
  // Installs a menu day answer [services, dish types, dishes, ...]: the
  // services, then posiciona (to stand on a service row before the types are
  // narrowed to it), then the dish types and the dishes when present.
  void CarregaDia(const rtl::Variant& dia, const std::function<void()>& posiciona = nullptr);
  // Sends the pending client and apportionment rows with UpdEfetClie. Raises
  // the server's refusal, or a call that failed on the way; returns the menu
  // day when the server recomputed it, nothing otherwise. The change logs are
  // the caller's to merge.
  std::optional<rtl::Variant> EnviaClientes(bool paginaFaturamento);
  // Sends the pending shift rows with SetTurnoCliente and merges them.
  void EnviaTurnos();
  // Loads the day's planned and served client headcounts (GetComensais) for
  // the checks against a service's client count, under the hourglass.
  void CarregaComensais(const std::string& servico);
  // The menu day of the branch, date and group fields (GetCardaDia), as the
  // server answered it: the caller passes it to CheckResultServ.
  rtl::Variant LeDia();
  // The shifts of the current billed service's current client on the menu
  // date (GetTurnoCliente), as the server answered.
  rtl::Variant LeTurnosCliente();

  // ===== Service grid (service_grid.cpp).
  void dtsPadraoStateChange(data::TDataSource& sender) override;
  void Habilita(bool flag);
  void FocusedGrid(ui::TDBGrid& grid);
  void Vd_QtCliEfetCar();
  void Vd_QtFunEfetCar();
  void Vd_QtDoaEfetCar();
  bool Vd_Comensais();
  void dbgPadraoColExit(ui::TObject& sender);
  void dbgPadraoKeyDown(ui::TObject& sender, ui::Word& key, ui::TShiftState shift);
  void dbgPadraoEditButtonClick(ui::TObject& sender);
  void cdsCardaDiaBeforeInsert(data::TClientDataSet& dataSet);
  void cdsCardaDiaBeforeEdit(data::TClientDataSet& dataSet);
  void cdsCardaDiaBeforePost(data::TClientDataSet& dataSet);
  void cdsCardaDiaAfterPost(data::TClientDataSet& dataSet);
  void cdsCardaDiaAfterCancel(data::TClientDataSet& dataSet);
  void cdsCardaDiaBeforeDelete(data::TClientDataSet& dataSet);
  void cdsCardaDiaAfterScroll(data::TClientDataSet& dataSet);

  // ===== Confirm, cancel, close guard and keys (confirm.cpp). The overrides
  // of the base form's toolbar, close-query and key handlers (sbtConfirmarClick,
  // sbtCancelarClick, sbtAlterarClick, sbtProcurarClick, sbtImprimirClick,
  // FormCloseQuery, FormKeyDown) join this list together with their bodies:
  // until then the base form's own handlers serve these commands.
  void sbtIncluirClick(ui::TObject& sender) override;
  void sbtExcluirClick(ui::TObject& sender) override;
  void sbtConfirmarClick(ui::TObject& sender) override;
  void sbtCancelarClick(ui::TObject& sender) override;
  void sbtAlterarClick(ui::TObject& sender) override;
  void sbtProcurarClick(ui::TObject& sender) override;
  void sbtImprimirClick(ui::TObject& sender) override;
  void FormCloseQuery(ui::TObject& sender, bool& canClose) override;
  void FormKeyDown(ui::TObject& sender, ui::Word& key, ui::TShiftState shift) override;
  void sbtConsolidarClick(ui::TObject& sender);
  void mnuConsolidarClick(ui::TObject& sender);
  void ControlCache(data::TDataSource& dataSource);

  // ===== Pages (pages.cpp).
  void pgcPadraoChanging(ui::TObject& sender, bool& allowChange);
  void pgcPadraoChange(ui::TObject& sender);
  void pgcPadraoExit(ui::TObject& sender);
  void mnuEfetivosClick(ui::TObject& sender);
  void mnuClientesClick(ui::TObject& sender);
  void dbnPadraoClick(ui::TObject& sender, ui::TNavigateBtn button);
  void PageControl1Changing(ui::TObject& sender, bool& allowChange);
  void PageControl1Change(ui::TObject& sender);
  void tshClientesExit(ui::TObject& sender);
  // A day with no services: nothing to edit on either page, and both stay
  // closed until the header is entered again.
  void FechaPaginas();
  void Vd_ComensTrocaAba();

  // ===== Clients per billed service (clients.cpp).
  void cdsServFatuAfterScroll(data::TClientDataSet& dataSet);
  void cdsServCliBeforeInsert(data::TClientDataSet& dataSet);
  void cdsServCliBeforeEdit(data::TClientDataSet& dataSet);
  void cdsServCliBeforePost(data::TClientDataSet& dataSet);
  void cdsServCliAfterPost(data::TClientDataSet& dataSet);
  void cdsServCliBeforeDelete(data::TClientDataSet& dataSet);
  void cdsServCliQTCOMEFETCLIChange(data::TField& field);
  void cdsServCliNRINSJURCLIEGetText(data::TField& field, std::string& text, bool displayText);
  void dtsServCliStateChange(data::TDataSource& sender);
  void dbgEfeCliCaColExit(ui::TObject& sender);
  void dbgEfeCliCaKeyDown(ui::TObject& sender, ui::Word& key, ui::TShiftState shift);
  void dbgEfeCliCaKeyPress(ui::TObject& sender, ui::TChar& key);
  void Vd_EfetAutoJaApur();
  // The closed-client rule is in force (IDUTEFETPLA or IDCOPALTEFEPLA "S").
  bool RegraApuracao();
  // The current client of cdsServCli is listed in cdsVdCliFat.
  bool ClienteApurado();
  // Before the clients of another billed service replace cdsServCli: unsent
  // client rows are offered for saving (CACHECHEIO).
  void SairClientes();
  // Sends the pending client and apportionment rows with UpdEfetClie as the
  // confirm does; a refusal keeps them and raises its message.
  void GravaClientes();
  // Set while GravaClientes sends: its own reloads ask nothing.
  bool bGravandoClientes = false;

  // ===== Apportionment (apportionment.cpp).
  void dbgEfeCliCaEditButtonClick(ui::TObject& sender);
  void cdsItRatEfetBeforeInsert(data::TClientDataSet& dataSet);
  void cdsItRatEfetBeforePost(data::TClientDataSet& dataSet);
  void cdsItRatEfetBeforeDelete(data::TClientDataSet& dataSet);
  void getItRatEfet();

  // ===== Turnstiles (turnstiles.cpp).
  void cdsEfetCatBeforeInsert(data::TClientDataSet& dataSet);
  void cdsEfetCatBeforePost(data::TClientDataSet& dataSet);
  void cdsEfetCatAfterPost(data::TClientDataSet& dataSet);
  void cdsEfetCatAfterCancel(data::TClientDataSet& dataSet);
  void dtsEfetCatStateChange(data::TDataSource& sender);
  void dbgMedCatracaColExit(ui::TObject& sender);
  void dbgMedCatracaEnter(ui::TObject& sender);
  void dbgMedCatracaExit(ui::TObject& sender);
  void dbgMedCatracaKeyPress(ui::TObject& sender, ui::TChar& key);

  // ===== Shifts (shifts.cpp).
  void dbgTurnoClieColExit(ui::TObject& sender);
  void dbgTurnoClieExit(ui::TObject& sender);
  void dbgTurnoClieKeyDown(ui::TObject& sender, ui::Word& key, ui::TShiftState shift);
  void dbgTurnoClieKeyPress(ui::TObject& sender, ui::TChar& key);
  void dtsTurnoClienteStateChange(data::TDataSource& sender);
  void cdsTurnoClienteBeforeInsert(data::TClientDataSet& dataSet);
  void cdsTurnoClienteBeforePost(data::TClientDataSet& dataSet);
  void cdsTurnoClienteBeforeDelete(data::TClientDataSet& dataSet);
  void cdsTurnoClienteAfterDelete(data::TClientDataSet& dataSet);
  void Vd_Turno();
  // Leaving the shift rows (sub-page or billing page): posts a row in edit,
  // runs Vd_Turno when checkSum, offers unsent rows for saving (CACHECHEIO),
  // then empties cdsTurnoCliente.
  void SairTurnos(bool checkSum);
  // Vd_Turno, then EnviaTurnos.
  void GravaTurnos();

  // ===== Dishes (dishes.cpp).
  void dbgTipoPratEnter(ui::TObject& sender);
  void dbgTipoPratExit(ui::TObject& sender);
  void dbgTipoPratKeyDown(ui::TObject& sender, ui::Word& key, ui::TShiftState shift);
  void dbgPratoEnter(ui::TObject& sender);
  void dbgPratoExit(ui::TObject& sender);
  void dbgPratoColExit(ui::TObject& sender);
  void dbgPratoKeyDown(ui::TObject& sender, ui::Word& key, ui::TShiftState shift);
  void cdsCompCardAuxBeforeInsert(data::TClientDataSet& dataSet);
  void cdsCompCardAuxBeforeDelete(data::TClientDataSet& dataSet);
  void cdsCompCardAuxAfterScroll(data::TClientDataSet& dataSet);
  void cdsCompCardAuxFilterRecord(data::TClientDataSet& dataSet, bool& accept);
  void cdsPratoCardBeforeInsert(data::TClientDataSet& dataSet);
  void cdsPratoCardBeforeEdit(data::TClientDataSet& dataSet);
  void cdsPratoCardBeforePost(data::TClientDataSet& dataSet);
  void cdsPratoCardAfterPost(data::TClientDataSet& dataSet);
  void cdsPratoCardBeforeDelete(data::TClientDataSet& dataSet);
  void cdsPratoCardFilterRecord(data::TClientDataSet& dataSet, bool& accept);

  // ===== Stock withdrawals (withdrawals.cpp).
  void Vd_Retirada();
  void Vd_ComenEfetivos();
  bool Vd_VerifRetirada();
  // The reload of the current page that keeps the user's place.
  void sbtVerificarClick(ui::TObject& sender) override;

  // ===== Data model (data_model.cpp).
  // Builds the controls, pages, menus, data sets with their fields, data
  // sources, lookup queries and the catalog, and wires the built handlers.
  void BuildDataModel();
  void BuildDataSets();
  void BuildQueries();
  void BuildHeader();
  void BuildPlanningPage();
  void BuildBillingPage();
  void BuildToolbarAndMenus();
  void BuildCatalog();
  void WireEvents();
};

}  // namespace pla01000
