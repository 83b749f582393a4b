// The clients of each billed service on the billing page: their loading and
// the billed-service total, the client grid's keys and checks, the lock on
// clients whose billing is already settled, the registration number, and the
// offer to take a client's headcount from its apportionment lines.

#include "contracts/arguments.h"
#include "platform/data/controls_off.h"
#include "platform/host/checks.h"
#include "platform/host/dialogs.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/rtl/mask.h"
#include "platform/rtl/scoped.h"
#include "platform/ui/services.h"
#include "pla01000/cli_pla01000.h"

namespace pla01000 {

using rtl::Variant;

namespace {

bool EmEdicao(const data::TClientDataSet& ds) { return ds.State() == data::TDataSetState::Edit; }

bool ColunaNumerica(const std::string& campo) {
  return campo == "QTCOMEFETCLI" || campo == "VRSERVFATUEFCLI" || campo == "QTVENDAEFETCLI";
}

}  // namespace

void TfrmMediEfetivos::cdsServFatuAfterScroll(data::TClientDataSet&) {
  if (!cdsServFatu.Active() || cdsServFatu.IsEmpty()) return;
  host::BusyScope busy(this, 6, msgPadrao.Msg("get_cdsEfetClie"));
  using A = contracts::args::GetServCli;
  Variant p = host::CheckResultServ(
      Servidor("GetServCli",
               contracts::ArgsOf<A>({{A::kFilial, Filial()},
                                     {A::kServFatu, cdsServFatu.FieldByName("CDSERVICFATURAM").AsString()},
                                     {A::kData, DataCardapio()},
                                     {A::kServico, cdsCardaDia.FieldByName("CDSERVFILI").AsString()}})),
      true, 0);
  cdsServCli.SetData(p[0]);
  cdsVdCliFat.SetData(p[1]);
  cdsItemRat.SetData(p[2]);
  cdsItRatEfet.SetData(p[3]);

  double soma = 0;
  {
    data::ControlsOff semControles(cdsServCli);
    for (cdsServCli.First(); !cdsServCli.Eof(); cdsServCli.Next())
      soma += cdsServCli.FieldByName("QTCOMEFETCLI").AsFloat() + cdsServCli.FieldByName("QTVENDAEFETCLI").AsFloat();
  }

  cdsServFatu.Edit();
  cdsServFatu.FieldByName("QTCOMEFETCLI").SetAsFloat(soma);
  cdsServFatu.Post();

  ControlCache(dtsServCli);
  for (int i = 0; i < dbgEfeCliCa->ColumnCount(); ++i) {
    ui::TColumn& c = dbgEfeCliCa->Columns(i);
    if (c.FieldName == "QTCOMEFETCLI")
      c.ButtonStyle = cdsItemRat.IsEmpty() ? ui::TColumnButtonStyle::None : ui::TColumnButtonStyle::Ellipsis;
  }
}

// Moving to another billed service reloads the clients: typed rows that were
// not confirmed are offered for saving first instead of vanishing.
void TfrmMediEfetivos::SairClientes() {
  if (bGravandoClientes || !cdsServCli.Active() || !cdsServFatu.Active() || cdsServFatu.IsEmpty()) return;
  // Only the user's own move in the billed-service grid; the screen's
  // locates after a confirm must not ask about rows it has just sent.
  if (ui::Screen().ActiveControl() != dbgServiFatu) return;
  if (EmEdicao(cdsServCli)) cdsServCli.Post();
  if (cdsServCli.ChangeCount() <= 0) return;
  if (ui::MessageDlg(msgPadrao.Msg("CACHECHEIO"), ui::TMsgDlgType::Confirmation, ui::mbYesNo, 0) == ui::mrYes)
    GravaClientes();
}

void TfrmMediEfetivos::GravaClientes() {
  rtl::ScopedAssign<bool> gravando(bGravandoClientes, true);
  host::BusyScope busy(this, 1, msgPadrao.Msg("upd_cdsEfetClie"));
  if (std::optional<Variant> dia = EnviaClientes(true)) {
    // The billing page is being left for another billed service, so the
    // service grid is refreshed without running the billing-page refresh in
    // the middle of the move.
    std::string servico = cdsCardaDia.FieldByName("CDSERVFILI").AsString();
    rtl::ScopedAssign semRefresh(dtsPadrao->OnDataChange, nullptr);
    CarregaDia(*dia, [&] { cdsCardaDia.Locate("CDSERVFILI", servico); });
  }
  cdsServCli.MergeChangeLog();
  cdsItRatEfet.MergeChangeLog();
}

bool TfrmMediEfetivos::RegraApuracao() {
  if (!cdsParamFilal.Active() || cdsParamFilal.IsEmpty()) return false;
  return cdsParamFilal.FieldByName("IDUTEFETPLA").AsString() == "S" ||
         cdsParamFilal.FieldByName("IDCOPALTEFEPLA").AsString() == "S";
}

bool TfrmMediEfetivos::ClienteApurado() {
  if (!cdsVdCliFat.Active() || cdsVdCliFat.IsEmpty() || !cdsServCli.Active()) return false;
  return cdsVdCliFat.Locate("CDCLIENTE", cdsServCli.FieldByName("CDCLIENTE").AsString());
}

void TfrmMediEfetivos::dbgEfeCliCaKeyPress(ui::TObject&, ui::TChar& key) {
  if (cdsServCli.IsEmpty() || key == U'E' || key == U'e') key = 0;
  data::TField* campo = dbgEfeCliCa->SelectedField();
  std::string nome = campo ? campo->FieldName() : std::string();
  if (ColunaNumerica(nome) && RegraApuracao() && ClienteApurado()) {
    key = 0;
    host::MensErro(msgPadrao.Msg("Efet_Apur"), true);
  }
  if (nome == "VRSERVFATUEFCLI" && cdsServFatu.FieldByName("IDVLRVARDATA").AsString() != "S") key = 0;
}

// Rows are the server's: Ctrl+Delete does nothing here (nor in the turnstile grid).
void TfrmMediEfetivos::dbgEfeCliCaKeyDown(ui::TObject&, ui::Word& key, ui::TShiftState shift) {
  if (key == ui::VK_DELETE && (shift & ui::ssCtrl)) key = 0;
}

void TfrmMediEfetivos::dbgEfeCliCaColExit(ui::TObject&) {
  if (cdsServCli.Active() && cdsServCli.FieldByName("QTCOMEFETCLI").AsFloat() < 0)
    host::MensErro(msgPadrao.Msg("QT_COME_DEVE"), true);
}

void TfrmMediEfetivos::cdsServCliBeforeEdit(data::TClientDataSet&) {
  if (cdsServCli.ChangeCount() <= 0) Vd_Retirada();
}

void TfrmMediEfetivos::cdsServCliBeforePost(data::TClientDataSet&) {
  data::TField& qt = cdsServCli.FieldByName("QTCOMEFETCLI");
  if (qt.AsFloat() < 0) host::MensErro(msgPadrao.Msg("QT_COME_DEVE"), true);
  data::TField& plan = cdsServCli.FieldByName("CDSERVPLAN");
  if (host::EmptyString(plan.AsString())) plan.SetAsString(cdsCardaDia.FieldByName("CDSERVFILI").AsString());
  data::TField& dt = cdsServCli.FieldByName("DTEFETCLIE");
  if (dt.IsNull()) dt.SetAsDateTime(depCardapio->GetDate());
  if (qt.IsNull()) qt.SetAsFloat(0);
  if (RegraApuracao() && ClienteApurado()) host::MensErro(msgPadrao.Msg("Efet_Apur"), true);
}

// Client rows reach the server only through the confirm.
void TfrmMediEfetivos::cdsServCliAfterPost(data::TClientDataSet&) {}

void TfrmMediEfetivos::cdsServCliBeforeInsert(data::TClientDataSet&) { rtl::Abort(); }

void TfrmMediEfetivos::cdsServCliBeforeDelete(data::TClientDataSet&) { rtl::Abort(); }

void TfrmMediEfetivos::cdsServCliQTCOMEFETCLIChange(data::TField& field) {
  if (!cdsItRatEfet.Active() || cdsItRatEfet.IsEmpty()) return;
  std::string filtro = "CDCLIENTE = " + rtl::QuotedStr(cdsServCli.FieldByName("CDCLIENTE").AsString());

  double soma = 0;
  {
    data::TClientDataSet copia("cdsItRatEfetCopia");
    copia.CopyDataFrom(cdsItRatEfet);
    copia.SetFilter(filtro);
    copia.SetFiltered(true);
    for (copia.First(); !copia.Eof(); copia.Next()) {
      double q = copia.FieldByName("QTEFETIVOS").AsFloat();
      if (q > 0) soma += q;
    }
  }
  if (!(soma > 0)) return;

  if (ui::MessageDlg(msgPadrao.Msg("EXISTE_RATEIO_EFET"), ui::TMsgDlgType::Confirmation, ui::mbYesNo, 0) ==
      ui::mrYes) {
    rtl::ScopedAssign semOferta(field.OnChange, nullptr);
    field.SetAsFloat(soma);
    return;
  }

  // No: the typed value stays and this client's apportionment is cleared; the
  // cleared lines go with the next confirm.
  cdsItRatEfet.SetFiltered(false);
  cdsItRatEfet.SetFilter(filtro);
  cdsItRatEfet.SetFiltered(true);
  auto restaura = [this] {
    cdsItRatEfet.SetFiltered(false);
    cdsItRatEfet.SetFilter("");
  };
  try {
    rtl::ScopedAssign semChecagem(cdsItRatEfet.BeforePost, nullptr);
    for (cdsItRatEfet.First(); !cdsItRatEfet.Eof(); cdsItRatEfet.Next()) {
      if (cdsItRatEfet.FieldByName("QTEFETIVOS").AsFloat() > 0) {
        cdsItRatEfet.Edit();
        cdsItRatEfet.FieldByName("QTEFETIVOS").Clear();
        cdsItRatEfet.Post();
      }
    }
  } catch (...) {
    restaura();
    throw;
  }
  restaura();
}

void TfrmMediEfetivos::cdsServCliNRINSJURCLIEGetText(data::TField& field, std::string& text, bool) {
  std::string numero = field.IsNull() ? std::string() : field.AsString();
  if (numero.empty()) {
    text.clear();
    return;
  }
  text = rtl::FormatMaskText(host::PictPess(cdsServCli.FieldByName("IDTPIJURCLIE").AsString()), numero);
}

void TfrmMediEfetivos::dtsServCliStateChange(data::TDataSource&) {
  if (pgcPadrao->ActivePage() != tshClientes) return;
  if (cdsServCli.Active() && !cdsServCli.IsEmpty()) {
    if (cdsServCli.State() == data::TDataSetState::Edit) ControlCache(dtsServCli);
  } else {
    Habilita(false);
  }
}

void TfrmMediEfetivos::Vd_EfetAutoJaApur() {
  host::BusyScope busy(this, 1);
  using A = contracts::args::VerificaEfetFat;
  Variant p = host::CheckResultServ(
      Servidor("VerificaEfetFat", contracts::ArgsOf<A>({{A::kFilial, Filial()},
                                                        {A::kServico, cdsCardaDia.FieldByName("CDSERVFILI").AsString()},
                                                        {A::kData, DataCardapio()}})),
      true, 0);
  if (p.toBool()) host::MensErro(msgPadrao.Msg("EfetAutoJaApur"), true);
}

}  // namespace pla01000
