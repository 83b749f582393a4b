// The turnstile counters of the current service: whole-number counters, the
// measurement that follows them, the checks of a row and its immediate send.

#include "contracts/arguments.h"
#include "platform/host/checks.h"
#include "platform/host/dialogs.h"
#include "platform/rtl/exceptions.h"
#include "platform/ui/dbctrls.h"
#include "pla01000/cli_pla01000.h"

namespace pla01000 {

namespace {

bool Editando(const data::TClientDataSet& ds) {
  return ds.State() == data::TDataSetState::Edit || ds.State() == data::TDataSetState::Insert;
}

}  // namespace

void TfrmMediEfetivos::dbgMedCatracaKeyPress(ui::TObject&, ui::TChar& key) {
  data::TField* campo = dbgMedCatraca->SelectedField();
  std::string nome = campo ? campo->FieldName() : std::string();
  if (nome == "QTEFETCATINI" || nome == "QTEFETCATFIM") {
    bool aceita = (key >= U'0' && key <= U'9') || key == 8 || key == 13 || key == 27;
    if (!aceita) key = 0;
  } else if (nome == "QTEFETCATTOT" || nome == "DSCATRACA") {
    key = 0;
  }
}

void TfrmMediEfetivos::dbgMedCatracaColExit(ui::TObject&) {
  if (!Editando(cdsEfetCat)) return;
  data::TField& ini = cdsEfetCat.FieldByName("QTEFETCATINI");
  data::TField& fim = cdsEfetCat.FieldByName("QTEFETCATFIM");
  if (!ini.Text().empty() && !fim.Text().empty() && fim.AsFloat() >= ini.AsFloat())
    cdsEfetCat.FieldByName("QTEFETCATTOT").SetAsFloat(fim.AsFloat() - ini.AsFloat());
}

void TfrmMediEfetivos::cdsEfetCatBeforePost(data::TClientDataSet&) {
  data::TField& ini = cdsEfetCat.FieldByName("QTEFETCATINI");
  data::TField& fim = cdsEfetCat.FieldByName("QTEFETCATFIM");
  auto recusa = [this](data::TField& campo, const char* chave) {
    ui::FocusField(campo);
    host::MensErro(msgPadrao.Msg(chave), true);
  };
  if (host::EmptyString(ini.Text())) recusa(ini, "QtCat_Ini_Inf");
  if (host::EmptyString(fim.Text())) recusa(fim, "QtCat_Fim_Inf");
  if (ini.AsFloat() < 0) recusa(ini, "QtCat_Ini_Zero");
  if (fim.AsFloat() < 0) recusa(fim, "QtCat_Fim_Zero");
  if (fim.AsFloat() < ini.AsFloat()) recusa(ini, "QtCat_Ini_Fim");

  cdsEfetCat.FieldByName("QTEFETCATTOT").SetAsFloat(fim.AsFloat() - ini.AsFloat());
  cdsEfetCat.FieldByName("CDFILIAL").SetAsString(Filial());
  cdsEfetCat.FieldByName("CDSERVFILI").SetAsString(cdsCardaDia.FieldByName("CDSERVFILI").AsString());
  cdsEfetCat.FieldByName("DTEFETCAT").SetAsDateTime(depCardapio->GetDate());
}

// Each posted reading goes to the server at once, apart from the confirm.
void TfrmMediEfetivos::cdsEfetCatAfterPost(data::TClientDataSet&) {
  if (cdsEfetCat.ChangeCount() <= 0) return;
  using A = contracts::args::SetEfetCat;
  host::CheckResultServ(Servidor("SetEfetCat", contracts::ArgsOf<A>({{A::kDelta, rtl::Variant(cdsEfetCat.Delta())}})),
                        true, 0);
  cdsEfetCat.MergeChangeLog();
}

// A cancelled edit also drops what a failed send left unsent.
void TfrmMediEfetivos::cdsEfetCatAfterCancel(data::TClientDataSet&) {
  if (cdsEfetCat.ChangeCount() > 0) cdsEfetCat.CancelUpdates();
}

void TfrmMediEfetivos::cdsEfetCatBeforeInsert(data::TClientDataSet&) { rtl::Abort(); }

void TfrmMediEfetivos::dtsEfetCatStateChange(data::TDataSource&) {
  if (pgcPadrao->ActivePage() == tshClientes) ControlCache(dtsEfetCat);
}

void TfrmMediEfetivos::dbgMedCatracaEnter(ui::TObject&) { dtsEfetCatStateChange(dtsEfetCat); }

void TfrmMediEfetivos::dbgMedCatracaExit(ui::TObject&) {
  if (Editando(cdsEfetCat)) cdsEfetCat.Post();
  sbtIncluir->SetEnabled(false);  // its menu entry follows
  ControlCache(dtsServCli);
}

}  // namespace pla01000
