#pragma once
// PLA01010, consolidation of headcounts by client: the planned headcount of
// each menu day and the billed headcount of each client over a period are
// loaded for one branch and service, each client's total is apportioned over
// the days in proportion to the plan, and the result is sent back.

#include <string>

#include "contracts/net_connection.h"
#include "platform/data/dataset.h"
#include "platform/db/query.h"
#include "platform/host/frm_roti_geral.h"
#include "platform/ui/dbgrids.h"
#include "platform/ui/maskedit.h"
#include "platform/ui/stdctrls.h"

namespace pla01010 {

class TfrmConsEfetClie;

// The last instance CriaConsEfetClie created (null once it was released).
extern TfrmConsEfetClie* frmConsEfetClie;

// Creates a fresh screen and shows it modally, with the hourglass until the
// modal loop ends. PLA01000 calls it from sbtConsolidar (then reloads) and
// from mnuConsolidar.
void CriaConsEfetClie();

class TfrmConsEfetClie : public host::TfrmRotiGeral {
public:
  explicit TfrmConsEfetClie(ui::TComponent* owner = nullptr);
  ~TfrmConsEfetClie() override;

  // ===== Header panel.
  ui::TPanel* panDados = nullptr;
  ui::TLabel* lblCdFilial = nullptr;
  ui::TMaskEdit* medCdFilial = nullptr;
  ui::TBtnPesquisa* btpFilial = nullptr;
  ui::TEdit* edtNmFilial = nullptr;
  ui::TLabel* lblCdServico = nullptr;
  ui::TMaskEdit* medCdServico = nullptr;
  ui::TBtnPesquisa* btpServico = nullptr;
  ui::TEdit* edtNmServico = nullptr;
  ui::TLabel* lblPeriodo = nullptr;
  ui::TDateEditPlus* depEfetIni = nullptr;
  ui::TLabel* lblA = nullptr;
  ui::TDateEditPlus* depEfetFin = nullptr;

  // ===== Body: planning on the left, clients top right, billing bottom right.
  ui::TPanel* panPlan = nullptr;
  ui::TLabel* lblEfetPlan = nullptr;
  ui::TDBGrid* dbgEfetPlan = nullptr;
  ui::TPanel* panClie = nullptr;
  ui::TLabel* lblEfetClie = nullptr;
  ui::TDBGrid* dbgEfetClie = nullptr;
  ui::TPanel* panFat = nullptr;
  ui::TLabel* lblEfetFatGrid = nullptr;
  ui::TDBGrid* dgbEfetFat = nullptr;

  // ===== Footer and the apportionment button.
  ui::TPanel* panTotais = nullptr;
  ui::TLabel* lblTotPlan = nullptr;
  ui::TEdit* edtEfetPlan = nullptr;
  ui::TLabel* lblTotFat = nullptr;
  ui::TEdit* edtEfetFat = nullptr;
  ui::TButtonFlat* sbtConsolidar = nullptr;

  // ===== Data sets.
  data::TClientDataSet cdsVerifApurac{"cdsVerifApurac"};
  data::TClientDataSet cdsEfetPlan{"cdsEfetPlan"};
  data::TClientDataSet cdsEfetClie{"cdsEfetClie"};
  data::TClientDataSet cdsEfetFat{"cdsEfetFat"};
  data::TClientDataSet cdsAux{"cdsAux"};
  data::TDataSource dtsEfetPlan{"dtsEfetPlan"};
  data::TDataSource dtsEfetClie{"dtsEfetClie"};
  data::TDataSource dtsEfetFat{"dtsEfetFat"};

  // ===== Lookup queries.
  db::TADOIBQuery qryFilialPesq{"qryFilialPesq"};
  db::TADOIBQuery qryServico{"qryServico"};
  data::TDataSource dtsFilialPesq{"dtsFilialPesq"};
  data::TDataSource dtsServico{"dtsServico"};

  // ===== Connection to the application server.
  contracts::TNetConnection netConsEfet{"Pla01000.rdmMediEfetivos"};

  // ===== Screen state.
  bool bPrimeiraVez = false;
  // Sum of TOTALEFET over cdsEfetClie, kept up to date by client corrections.
  double dTotEfetFat = 0;
  bool bRateioPendente = false;  // consolidated, not yet confirmed
  // An apportionment on the screen that closing would drop.
  bool RateioPorConfirmar();

  // ===== Handlers: opening and closing.
  void FormCreate(ui::TObject& sender) override;
  void FormActivate(ui::TObject& sender) override;
  void FormClose(ui::TObject& sender, ui::TCloseAction& action) override;
  void FormCloseQuery(ui::TObject& sender, bool& canClose);
  void netConsEfetBeforeConnect(contracts::TNetConnection& sender);

  // ===== Handlers: header.
  void medCdFilialChange(ui::TObject& sender);
  void medCdFilialExit(ui::TObject& sender);
  void btpFilialBeforePesq(ui::TObject& sender);
  void btpFilialAfterPesq(ui::TObject& sender);
  void medCdServicoChange(ui::TObject& sender);
  void medCdServicoExit(ui::TObject& sender);
  void btpServicoBeforePesq(ui::TObject& sender);
  void btpServicoAfterPesq(ui::TObject& sender);
  void depEfetIniExit(ui::TObject& sender);
  void depEfetFinExit(ui::TObject& sender);
  void panDadosEnter(ui::TObject& sender);
  void panDadosExit(ui::TObject& sender);
  void vd_Data();
  void cdsEfetClieAfterScroll(data::TClientDataSet& dataSet);

  // ===== Handlers: corrections, apportionment and confirm.
  void cdsEfetClieBeforeInsert(data::TClientDataSet& dataSet);
  void cdsEfetClieBeforePost(data::TClientDataSet& dataSet);
  void cdsEfetClieAfterPost(data::TClientDataSet& dataSet);
  void cdsEfetFatBeforeInsert(data::TClientDataSet& dataSet);
  void dbgEfetClieKeyPress(ui::TObject& sender, ui::TChar& key);
  void dgbEfetFatKeyPress(ui::TObject& sender, ui::TChar& key);
  void sbtConsolidarClick(ui::TObject& sender);
  void sbtConfirmaClick(ui::TObject& sender) override;

private:
  void BuildDataModel();
  void BuildHeader();
  void BuildBody();
  void BuildQueries();
  void BuildCatalog();
  // Creates cdsEfetFat empty from its four declared fields, or empties it.
  void PrepareEfetFat();
  rtl::Variant Servidor(const std::string& method, rtl::VariantArray args);
  // What the last GetEfetPlanCli saw of the stored split (its element [2]);
  // SetConsolEfet gets it back to refuse a consolidation another user stored since.
  rtl::Variant marcaLeitura_;
  rtl::VariantArray periodoLido_;  // branch, service, first and last day of that read
};

}  // namespace pla01010
