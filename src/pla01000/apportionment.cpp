// Apportionment of the client headcounts over items: the reload of the
// current client's lines.

#include "platform/host/checks.h"
#include "platform/host/dialogs.h"
#include "pla01000/cli_pla01000.h"

namespace pla01000 {

void TfrmMediEfetivos::getItRatEfet() {
  auto texto = [](const data::TClientDataSet& ds, const char* field) {
    return ds.Active() && !ds.IsEmpty() ? ds.FieldByName(field).AsString() : std::string();
  };
  host::ActiveShowAvi(this, 1);
  try {
    rtl::Variant r = Servidor("GetItemRatEfet", {Filial(), texto(cdsServFatu, "CDSERVICFATURAM"), DataCardapio(),
                                                 texto(cdsCardaDia, "CDSERVFILI")});
    cdsItRatEfet.SetData(host::CheckResultServ(r, true, 0));
  } catch (...) {
    host::DeactiveShowAvi();
    throw;
  }
  host::DeactiveShowAvi();
}

}  // namespace pla01000
