// Apportionment of the client headcounts over items: opening a client's
// lines in PLA01002, the checks and numbering of a line, and the reload of
// the lines.

#include "contracts/arguments.h"
#include "platform/host/checks.h"
#include "platform/host/dialogs.h"
#include "platform/host/lookups.h"
#include "platform/rtl/scoped.h"
#include "platform/ui/dbctrls.h"
#include "pla01000/cli_pla01000.h"
#include "pla01002/cli_pla01002.h"

namespace pla01000 {

using St = data::TDataSetState;

void TfrmMediEfetivos::dbgEfeCliCaEditButtonClick(ui::TObject&) {
  data::TField* campo = dbgEfeCliCa->SelectedField();
  if (!campo || campo->FieldName() != "QTCOMEFETCLI") return;
  if (RegraApuracao() && ClienteApurado()) host::MensErro(msgPadrao.Msg("Efet_Apur"), true);
  if (cdsServCli.State() != St::Edit && cdsServCli.State() != St::Insert) cdsServCli.Edit();

  double soma = pla01002::CriaItRatEfet(cdsServCli.FieldByName("CDCLIENTE").AsString());
  if (soma > 0) {
    // The sum comes from the lines themselves: the offer to take the lines'
    // sum over a typed value must not run.
    data::TField& qt = cdsServCli.FieldByName("QTCOMEFETCLI");
    rtl::ScopedAssign semOferta(qt.OnChange, nullptr);
    qt.SetAsFloat(soma);
  }
}

void TfrmMediEfetivos::cdsItRatEfetBeforePost(data::TClientDataSet&) {
  data::TField& qt = cdsItRatEfet.FieldByName("QTEFETIVOS");
  if (qt.AsFloat() < 0) {
    ui::FocusField(qt);
    host::MensErro(msgPadrao.Msg("QTEFET<0"), true);
  }
  if (qt.AsFloat() == 0) {
    qt.Clear();
    return;
  }
  data::TField& nr = cdsItRatEfet.FieldByName("NRITRATEFETCLIE");
  if (!nr.IsNull()) return;
  // New lines get numbers the server replaces; they never repeat while the
  // screen lives, across clients, services and confirms.
  dRateio += 1;
  nr.SetAsFloat(dRateio * -1);
  for (const char* k : {"CDFILIAL", "CDSERVFILI", "CDCLIENTE"})
    cdsItRatEfet.FieldByName(k).SetAsString(cdsServCli.FieldByName(k).AsString());
  cdsItRatEfet.FieldByName("DTEFETCLIE").SetAsDateTime(depCardapio->GetDate());
  std::string plan = cdsServCli.FieldByName("CDSERVPLAN").AsString();
  if (host::EmptyString(plan)) plan = cdsCardaDia.FieldByName("CDSERVFILI").AsString();
  cdsItRatEfet.FieldByName("CDSERVPLAN").SetAsString(plan);
}

// The lines are exactly those the server sent.
void TfrmMediEfetivos::cdsItRatEfetBeforeInsert(data::TClientDataSet&) { rtl::Abort(); }

void TfrmMediEfetivos::cdsItRatEfetBeforeDelete(data::TClientDataSet&) { rtl::Abort(); }

void TfrmMediEfetivos::getItRatEfet() {
  auto texto = [](const data::TClientDataSet& ds, const char* field) {
    return ds.Active() && !ds.IsEmpty() ? ds.FieldByName(field).AsString() : std::string();
  };
  host::BusyScope busy(this, 1);
  using A = contracts::args::GetItemRatEfet;
  rtl::Variant r = Servidor("GetItemRatEfet", contracts::ArgsOf<A>({{A::kFilial, Filial()},
                                                                    {A::kServFatu, texto(cdsServFatu, "CDSERVICFATURAM")},
                                                                    {A::kData, DataCardapio()},
                                                                    {A::kServico, texto(cdsCardaDia, "CDSERVFILI")}}));
  cdsItRatEfet.SetData(host::CheckResultServ(r, true, 0));
}

}  // namespace pla01000
