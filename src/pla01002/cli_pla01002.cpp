// The factory, the client filter and the enabling of PLA01002.

#include "pla01002/cli_pla01002.h"

#include "platform/rtl/format.h"
#include "platform/ui/services.h"

namespace pla01002 {

using St = data::TDataSetState;

TfrmItRatEfet* frmItRatEfet = nullptr;
data::TClientDataSet* cdsLinhasRateio = nullptr;

namespace {

bool EmEdicao(const data::TClientDataSet& ds) { return ds.State() == St::Edit || ds.State() == St::Insert; }

void RetiraFiltro(data::TClientDataSet& ds) {
  ds.SetFiltered(false);
  ds.SetFilter("");
}

}  // namespace

double CriaItRatEfet(const std::string& cliente) {
  data::TClientDataSet* ds = nullptr;
  try {
    ui::HourGlass ampulheta;
    frmItRatEfet = ui::CreateForm<TfrmItRatEfet>(nullptr);
    frmItRatEfet->ClearOnDestroy(frmItRatEfet);
    frmItRatEfet->sCliente = cliente;
    ds = frmItRatEfet->DataSetPadrao();
    frmItRatEfet->ShowModal();
  } catch (...) {
    if (ds && ds->Active()) {
      if (EmEdicao(*ds)) ds->Cancel();
      RetiraFiltro(*ds);
    }
    throw;
  }
  if (!ds || !ds->Active()) return 0;

  double soma = 0;
  try {
    ds->First();  // posts a line still in edit, with its checks
    while (!ds->Eof()) {
      soma += ds->FieldByName("QTEFETIVOS").AsFloat();
      ds->Next();
    }
  } catch (...) {
    // A refused post has shown its message: the invalid value goes, and the
    // lines of PLA01000 must not stay filtered to this client.
    if (EmEdicao(*ds)) ds->Cancel();
    RetiraFiltro(*ds);
    throw;
  }
  RetiraFiltro(*ds);
  return soma;
}

TfrmItRatEfet::TfrmItRatEfet(ui::TComponent* owner) : host::TfrmPadraoGrid(owner) {
  SetName("frmItRatEfet");
  SetCaption("Itens para Rateio de Efetivos");
  lblCodTela->SetCaption("PLA01002");
  Left = 330;
  Top = 229;
  Width = 436;
  Height = 307;

  ui::TColumn& codigo = dbgPadrao->AddColumn("CDITEMRATEIOEFET");
  codigo.Width = 53;
  codigo.SetReadOnly(true);
  ui::TColumn& nome = dbgPadrao->AddColumn("NMITEMRATEIOEFET");
  nome.Width = 244;
  nome.SetReadOnly(true);
  dbgPadrao->AddColumn("QTEFETIVOS");
  dbtNome->SetDataField("NMITEMRATEIOEFET");

  dtsPadrao->SetDataSet(cdsLinhasRateio);
  Habilita();
}

TfrmItRatEfet::~TfrmItRatEfet() = default;

void TfrmItRatEfet::FormActivate(ui::TObject&) {
  data::TClientDataSet* ds = DataSetPadrao();
  if (!ds) return;
  // Setting the filter again would post the line in edit; a refused post
  // shows a message, which re-activates the screen, which posts again...
  // The filter is already this client's then, so it is left alone.
  if (EmEdicao(*ds)) return;
  ds->SetFiltered(false);
  ds->SetFilter(rtl::Format("CDCLIENTE = %s", {rtl::Variant(rtl::QuotedStr(sCliente))}));
  ds->SetFiltered(true);
  // A filter changes the rows without a state change.
  dtsPadraoStateChange(*dtsPadrao);
}

void TfrmItRatEfet::dtsPadraoStateChange(data::TDataSource& sender) {
  host::TfrmPadraoGrid::dtsPadraoStateChange(sender);
  Habilita();
}

void TfrmItRatEfet::Habilita() {
  data::TClientDataSet* ds = DataSetPadrao();
  bool ativo = ds && ds->Active();
  bool editando = ativo && EmEdicao(*ds);
  bool comLinhas = ativo && !editando && !ds->IsEmpty();
  sbtIncluir->SetEnabled(false);
  sbtAlterar->SetEnabled(comLinhas);
  sbtExcluir->SetEnabled(false);
  mnuProcurar->SetEnabled(comLinhas);
  mnuVerificar->SetEnabled(false);
  sbtConfirmar->SetEnabled(editando);
  sbtCancelar->SetEnabled(editando);
  // The lines are not printed here (the menu entry follows the button).
  sbtImprimir->SetEnabled(false);
}

}  // namespace pla01002
