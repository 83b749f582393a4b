// Headcounts against the stock withdrawals of the menu: an edit of a row with
// nothing recorded yet, the post of a service row at zero, and the services of
// the day that had products withdrawn but no headcount. Also the reload of the
// current page that keeps the user's place.

#include "contracts/arguments.h"
#include "platform/host/checks.h"
#include "platform/host/context.h"
#include "platform/host/dialogs.h"
#include "platform/rtl/format.h"
#include "platform/ui/dbctrls.h"
#include "pla01000/cli_pla01000.h"

namespace pla01000 {

using rtl::Variant;

void TfrmMediEfetivos::Vd_Retirada() {
  if (cdsCardaDia.IsEmpty()) return;

  double total = 0;
  if (pgcPadrao->ActivePage() == tshPadrao) {
    for (const char* n : {"QTCLIEFETCAR", "QTFUNEFETCAR", "QTDOAEFETCAR"}) total += cdsCardaDia.FieldByName(n).AsFloat();
  } else if (cdsServCli.Active()) {
    // A copy: the client grid keeps its own row and filter.
    data::TClientDataSet copia{"cdsServCliCopia"};
    copia.CopyDataFrom(cdsServCli);
    copia.First();
    while (!copia.Eof()) {
      total += copia.FieldByName("QTCOMEFETCLI").AsFloat() + copia.FieldByName("QTVENDAEFETCLI").AsFloat();
      copia.Next();
    }
  }
  if (total != 0) return;
  if (cdsParamPlaneja.FieldByName("IDPERLEFESRETPLA").AsString() != "N") return;

  std::string texto;
  {
    host::BusyScope busy(this, 1, msgPadrao.Msg("Vd_Retirada"));
    using A = contracts::args::Vd_Retirada;
    Variant r = Servidor("Vd_Retirada",
                         contracts::ArgsOf<A>({{A::kFilial, cdsCardaDia.FieldByName("CDFILIAL").AsString()},
                                               {A::kCardapio, cdsCardaDia.FieldByName("NRCARDAPIO").AsString()},
                                               {A::kTexto, msgPadrao.Msg("semreti")}}));
    // The server answers with a bare text. Anything else is a call that failed
    // on the way; it must refuse the edit, not pass as "no withdrawal problem".
    if (r.isString())
      texto = r.asStringRef();
    else
      texto = host::CheckResultServ(r, true, 0).toString();
  }
  if (!texto.empty()) host::MensErro(texto, true);
}

void TfrmMediEfetivos::Vd_ComenEfetivos() {
  using A = contracts::args::GetRetirada;
  Variant r = Servidor("GetRetirada", contracts::ArgsOf<A>({{A::kFilial, medCdFilial->Text()},
                                                            {A::kCardapio, cdsCardaDia.FieldByName("NRCARDAPIO").AsString()},
                                                            {A::kVazio, ""},
                                                            {A::kZero, 0}}));
  // The answer is wrapped once more ([[true, packet]]); a call that failed on
  // the way comes back unwrapped, and its own message is the one to show.
  bool embrulhado = r.isArray() && r.size() > 0 && r[0].isArray();
  cdsRetirada.SetData(host::CheckResultServ(embrulhado ? r[0] : r, true, 0));
  if (cdsRetirada.FieldByName("CARDAPIO").AsFloat() > 0 && cdsCardaDia.FieldByName("QTCLIEFETCAR").AsInteger() == 0 &&
      cdsCardaDia.FieldByName("QTFUNEFETCAR").AsInteger() == 0 &&
      cdsCardaDia.FieldByName("QTDOAEFETCAR").AsInteger() == 0) {
    ui::FocusField(cdsCardaDia.FieldByName("QTCLIEFETCAR"));
    host::MensErro(msgPadrao.Msg("TOTALEFETIVOS"), true);
  }
}

bool TfrmMediEfetivos::Vd_VerifRetirada() {
  // A closed day is exempt.
  if (DiaFechado()) return true;
  try {
    if (!cdsCardaDia.Active() || cdsCardaDia.IsEmpty() || cdsParamGeral.FieldByName("IDBLOQEFET").AsString() != "S")
      return true;
    using A = contracts::args::GetVerifRetirada;
    Variant p = host::CheckResultServ(
        Servidor("GetVerifRetirada", contracts::ArgsOf<A>({{A::kFilial, Filial()},
                                                           {A::kData, DataCardapio()},
                                                           {A::kGrupo, edtGrupServ->Text()}})),
        true, 0);
    cdsVerifRetirada.SetData(p[0]);
    if (cdsVerifRetirada.IsEmpty()) return true;
    cdsCardaDia.SetData(p[1]);

    data::TField& qt = cdsVerifRetirada.FieldByName("QTCOMEFETCAR");
    cdsVerifRetirada.First();
    while (!cdsVerifRetirada.Eof()) {
      if (qt.IsNull() || qt.AsFloat() == 0) {
        std::string servico = cdsVerifRetirada.FieldByName("CDSERVFILI").AsString();
        if (!rtl::SameText(servico, cdsCardaDia.FieldByName("CDSERVFILI").AsString()))
          cdsCardaDia.Locate("CDFILIAL;CDSERVFILI;DTCARDAPIO", rtl::VarArrayOf({Filial(), servico, DataCardapio()}));
        host::MensErro(msgPadrao.Msg("TOTALEFETIVOS"), true);
      }
      cdsVerifRetirada.Next();
    }
    return true;
  } catch (...) {
    // The user lands on the service grid, on the service lacking headcounts.
    // Showing a screen that is already up would refocus the control the
    // refused move was heading for (the header, which closes the day).
    if (frmMediEfetivos && !frmMediEfetivos->Visible()) frmMediEfetivos->Show();
    if (pgcPadrao->ActivePage() != tshPadrao) pgcPadrao->SetActivePage(tshPadrao);
    SetActiveControl(dbgPadrao);
    throw;
  }
}

void TfrmMediEfetivos::sbtVerificarClick(ui::TObject&) {
  if (pgcPadrao->ActivePage() == tshClientes) {
    // Reloading the billing page starts it on the clients; the user comes
    // back to the inner page where they were.
    ui::TTabSheet* interna = PageControl1->ActivePage();
    {
      host::BusyScope busy(this, 6, msgPadrao.Msg("get_cdsCliente"));
      pgcPadraoChange(*pgcPadrao);
    }
    if (interna && PageControl1->ActivePage() != interna) PageControl1->SetActivePage(interna);
  } else {
    std::string filial = cdsCardaDia.FieldByName("CDFILIAL").AsString();
    Variant data = DataCardapio();
    std::string servico = cdsCardaDia.FieldByName("CDSERVFILI").AsString();
    std::string tipo = cdsCompCardAux.FieldByName("CDTIPOPRAT").AsString();
    std::string cardapio = cdsCardaDia.FieldByName("NRCARDAPIO").AsString();
    ui::TWinControl* ativo = ActiveControl();

    // The indicator goes also when a packet fails to load, not only the call.
    host::BusyScope busy(this, 6, msgPadrao.Msg("get_cdsCardaDia"));
    Variant p = host::CheckResultServ(LeDia(), true, 0);
    CarregaDia(p, [&] {
      if (ativo == dbgTipoPrat || ativo == dbgPrato)
        cdsCardaDia.Locate("CDFILIAL;DTCARDAPIO;CDSERVFILI", rtl::VarArrayOf({filial, data, servico}));
    });
    if (ativo == dbgPrato)
      cdsCompCardAux.Locate("CDFILIAL;NRCARDAPIO;CDTIPOPRAT", rtl::VarArrayOf({filial, cardapio, tipo}));
    cdsParamFilal.SetData(p[3]);
  }

  if (pgcPadrao->ActivePage() == tshClientes) {
    if (PageControl1->ActivePage() == TabSheet1) {
      SetActiveControl(dbgEfeCliCa);
    } else if (PageControl1->ActivePage() == tshTurnoCliente) {
      Vd_Turno();
      SetActiveControl(dbgTurnoClie);
      cdsTurnoCliente.SetData(host::CheckResultServ(LeTurnosCliente(), true, 0));
    }
  }
}

}  // namespace pla01000
