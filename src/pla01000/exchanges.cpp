// The server exchanges that several handlers share: the client rows sent with
// UpdEfetClie, the shift rows sent with SetTurnoCliente, the headcounts read
// with GetComensais, the menu day and a client's shifts read, and the menu day
// installed from an answer, with its dish types narrowed to the current
// service. Each is built and read here only.

#include "contracts/arguments.h"
#include "contracts/result.h"
#include "platform/host/checks.h"
#include "platform/host/dialogs.h"
#include "platform/rtl/format.h"
#include "pla01000/cli_pla01000.h"

namespace pla01000 {

using rtl::Variant;

namespace {

Variant Pendente(data::TClientDataSet& ds) {
  return ds.Active() && ds.ChangeCount() > 0 ? Variant(ds.Delta()) : Variant::Null();
}

}  // namespace

void TfrmMediEfetivos::FiltraTiposDoDia() {
  cdsCompCardAux.SetFiltered(false);
  cdsCompCardAux.SetFilter("CDFILIAL = " + rtl::QuotedStr(cdsCardaDia.FieldByName("CDFILIAL").AsString()) +
                           " AND NRCARDAPIO = " + rtl::QuotedStr(cdsCardaDia.FieldByName("NRCARDAPIO").AsString()));
  cdsCompCardAux.SetFiltered(true);
}

void TfrmMediEfetivos::CarregaDia(const Variant& dia, const std::function<void()>& posiciona) {
  cdsCardaDia.SetData(dia[0]);
  if (posiciona) posiciona();
  if (dia.size() > 1) {
    cdsCompCardAux.SetData(dia[1]);
    FiltraTiposDoDia();
  }
  if (dia.size() > 2) {
    cdsPratoCard.SetData(dia[2]);
    cdsPratoCard.SetFiltered(true);
  }
}

std::optional<Variant> TfrmMediEfetivos::EnviaClientes(bool paginaFaturamento) {
  using A = contracts::args::UpdEfetClie;
  Variant r = Servidor("UpdEfetClie",
                       contracts::ArgsOf<A>({{A::kClientes, Pendente(cdsServCli)},
                                             {A::kFilial, Filial()},
                                             {A::kServico, cdsCardaDia.FieldByName("CDSERVFILI").AsString()},
                                             {A::kData, DataCardapio()},
                                             {A::kPaginaFaturamento, paginaFaturamento},
                                             {A::kCardapio, cdsCardaDia.FieldByName("NRCARDAPIO").AsString()},
                                             {A::kRateio, Pendente(cdsItRatEfet)}}));
  // A call that never reached the server comes back as [false, message]: it
  // must not pass for a saved or a recomputed day.
  if (contracts::IsResultArray(r) && !contracts::ResultSucceeded(r)) host::MensErro(contracts::ResultMessage(r), true);
  if (r.isNullOrEmpty() || (r.isArray() && r.size() == 0)) return std::nullopt;  // nothing was pending

  // ["OK"], a refusal [message or catalog key], or the recomputed day.
  const Variant& e0 = r.isArray() ? r[0] : r;
  if (e0.isString()) {
    if (e0.asStringRef() != "OK") {
      std::string texto = msgPadrao.Msg(e0.asStringRef());
      host::MensErro(texto.empty() ? e0.asStringRef() : texto, true);
    }
    return std::nullopt;
  }
  if (!r.isArray() || !e0.isPacket()) host::MensErro(host::kSemResposta, true);
  return r;
}

void TfrmMediEfetivos::CarregaComensais(const std::string& servico) {
  ui::HourGlass ampulheta;
  using A = contracts::args::GetComensais;
  Variant p = host::CheckResultServ(
      Servidor("GetComensais",
               contracts::ArgsOf<A>({{A::kFilial, Filial()}, {A::kData, DataCardapio()}, {A::kServico, servico}})),
      true, 0);
  cdsComensaisCard.SetData(p[0]);
  cdsParamGeral.SetData(p[1]);
  cdsComensaisEfet.SetData(p[2]);
  cdsExistsCliente.SetData(p[3]);
  cdsVdFaturados.SetData(p[4]);
}

void TfrmMediEfetivos::EnviaTurnos() {
  using A = contracts::args::SetTurnoCliente;
  host::CheckResultServ(
      Servidor("SetTurnoCliente", contracts::ArgsOf<A>({{A::kDelta, Variant(cdsTurnoCliente.Delta())}})), true, 0);
  cdsTurnoCliente.MergeChangeLog();
}

Variant TfrmMediEfetivos::LeDia() {
  using A = contracts::args::GetCardaDia;
  return Servidor("GetCardaDia", contracts::ArgsOf<A>({{A::kFilial, Filial()},
                                                       {A::kData, DataCardapio()},
                                                       {A::kGrupo, edtGrupServ->Text()}}));
}

Variant TfrmMediEfetivos::LeTurnosCliente() {
  using A = contracts::args::GetTurnoCliente;
  return Servidor("GetTurnoCliente",
                  contracts::ArgsOf<A>({{A::kFilial, Filial()},
                                        {A::kServFatu, cdsServFatu.FieldByName("CDSERVICFATURAM").AsString()},
                                        {A::kCliente, cdsServCli.FieldByName("CDCLIENTE").AsString()},
                                        {A::kData, DataCardapio()}}));
}

}  // namespace pla01000
