#pragma once
// PLA01001 "Efetivos": the headcount listing's parameters. The user gives a
// branch, a period and all or a chosen list of services; the screen checks
// them and fills the report's query parameters by name when the report engine
// asks (rpddPadraoBeforeGetQueryParams). The report side (list, print,
// preview, save-as, report edit) is the standard report form's.

#include <string>

#include "platform/db/query.h"
#include "platform/host/frm_dados_ger_rel.h"
#include "platform/ui/maskedit.h"
#include "platform/ui/stdctrls.h"

namespace pla01001 {

class TfrmListEfet : public host::TfrmDadosGerRel {
public:
  explicit TfrmListEfet(ui::TComponent* owner = nullptr);
  ~TfrmListEfet() override;

  ui::TLabel* lblFilial;
  ui::TMaskEdit* medCdFilial;
  ui::TBtnPesquisa* btpFilial;
  ui::TEdit* edtNmFilial;
  ui::TGroupBox* GroupBox1;
  ui::TLabel* lblDtFinal;  // "de"
  ui::TDateEditPlus* depDataIni;
  ui::TEdit* edtDataIni;
  ui::TLabel* lblMesFina;  // "até"
  ui::TDateEditPlus* depDataFin;
  ui::TEdit* edtDataFin;
  ui::TGroupBox* grbServico;
  ui::TRadioButton* rbtTodosServ;
  ui::TRadioButton* rbtListaServ;
  ui::TBtnPesquisa* btnServico;

  db::TADOIBQuery qryFilial{"qryFilial"};
  data::TDataSource dtsFilial{"dtsFilial"};
  db::TADOIBQuery qryServico{"qryServico"};
  data::TDataSource dtsServico{"dtsServico"};

  void FormCreate(ui::TObject& sender) override;
  void FormActivate(ui::TObject& sender) override;
  void btpFilialBeforePesq(ui::TObject& sender);
  void btpFilialAfterPesq(ui::TObject& sender);
  void medCdFilialChange(ui::TObject& sender);
  void medCdFilialExit(ui::TObject& sender);
  void depDataIniDateChange(ui::TObject& sender);
  void depDataFinDateChange(ui::TObject& sender);
  void depDataIniExit(ui::TObject& sender);
  void depDataFinExit(ui::TObject& sender);
  void Vd_Date(ui::TDateEditPlus& edit, bool mandatory);
  void Vd_Data();
  void rbtListaServClick(ui::TObject& sender);
  void rbtListaServKeyDown(ui::TObject& sender, ui::Word& key, ui::TShiftState shift);
  void btnServicoClick(ui::TObject& sender);
  void sbtPrintClick(ui::TObject& sender) override;
  void sbtPreviewClick(ui::TObject& sender) override;
  void sbtSalvarComoClick(ui::TObject& sender) override;
  void sbtReportEditClick(ui::TObject& sender) override;
  void Prepare_Print();
  void rpddPadraoBeforeGetQueryParams(host::TReportParams& params, bool& flag);

  bool FirstActivation() const { return primeiraAtivacao_; }

private:
  void BuildControls();
  void BuildQueries();
  void BuildCatalog();
  // The branch check of the field's exit, report edit and Prepare_Print.
  void Vd_Filial(bool flag);
  bool primeiraAtivacao_ = false;
};

// The last screen CriaListEfet created (null once it is released).
extern TfrmListEfet* frmListEfet;
// The service list chosen with btnServico, as PesquisaLista makes it; empty
// means none. It outlives the screen.
extern std::string stListaServ;

// Creates a new PLA01001 and shows it modally; the cursor is not touched.
void CriaListEfet();

// The unit's finalization: clears stListaServ.
void FinalizeUnit();

}  // namespace pla01001
