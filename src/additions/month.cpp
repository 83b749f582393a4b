#include "additions/month.h"

#include <algorithm>
#include <cmath>

#include "contracts/arguments.h"
#include "contracts/result.h"
#include "platform/data/dataset.h"
#include "platform/rtl/format.h"

namespace additions {

namespace {

std::optional<double> Opt(const data::TField& f) {
  if (f.IsNull()) return std::nullopt;
  return f.AsFloat();
}

double Round5(double v) { return std::round(v * 1e5) / 1e5; }

std::string N(std::optional<double> v) { return v ? rtl::FloatToStr(*v) : "(vazio)"; }

void CheckDay(const ServiceMonth& s, const DayFigures& d, rtl::TDateTime limit, std::vector<DayCheck>& out) {
  auto add = [&](CheckKind k, std::string text) { out.push_back({d.day, s.service, s.name, k, std::move(text)}); };
  const double served = d.served.value_or(0);
  if (d.withdrawals > 0 && served == 0)
    add(CheckKind::WithdrawnWithoutHeadcount, "Serviço com retirada de estoque e sem efetivos.");
  if (d.hasClients) {
    bool differs = d.clientRows > 0 ? Round5(d.plannedClients.value_or(0)) != Round5(d.clientsSum.value_or(0))
                                    : d.plannedClients.has_value();
    if (differs)
      add(CheckKind::ClientsSum, "Soma dos clientes (" + N(d.clientRows > 0 ? d.clientsSum : std::optional<double>(0)) +
                                     ") diferente dos clientes do planejamento (" + N(d.plannedClients) + ").");
  }
  if (d.turnstiles) {
    double gap = std::fabs(*d.turnstiles - served);
    if (gap > kTurnstileSlack && gap > kTurnstileShare * served)
      add(CheckKind::TurnstileFar, "Medição das catracas (" + N(d.turnstiles) + ") distante do total servido (" +
                                       N(d.served) + ").");
  }
  if (d.day < limit && !d.served)
    add(CheckKind::OpenPastLimit, "Dia sem efetivos além do limite de dia fechado (" +
                                      rtl::FormatDateTime("dd/mm/yyyy", limit) + ").");
}

}  // namespace

MonthView BuildMonth(const std::string& branch, int year, int month, const rtl::Variant& payload) {
  MonthView v;
  v.branch = branch;
  v.year = year;
  v.month = month;
  data::TClientDataSet menus, params;
  menus.SetData(payload[0]);
  params.SetData(payload[1]);
  params.First();
  v.limit = params.FieldByName("DTLIMITE").AsDateTime();
  for (menus.First(); !menus.Eof(); menus.Next()) {
    const std::string service = menus.FieldByName("CDSERVFILI").AsString();
    if (v.services.empty() || v.services.back().service != service)
      v.services.push_back({service, menus.FieldByName("NMSERVICO").AsString(), {}});
    DayFigures d;
    d.day = std::floor(menus.FieldByName("DTCARDAPIO").AsDateTime());
    d.planned = Opt(menus.FieldByName("QTCOMESTICAR"));
    d.served = Opt(menus.FieldByName("QTCOMEFETCAR"));
    d.billed = Opt(menus.FieldByName("QTFATURADO"));
    d.plannedClients = Opt(menus.FieldByName("QTCLIEFETCAR"));
    d.clientsSum = Opt(menus.FieldByName("QTCLIENTES"));
    d.clientRows = static_cast<int>(menus.FieldByName("NRCLIENTES").AsFloat());
    d.hasClients = menus.FieldByName("IDTEMCLIENTE").AsFloat() > 0;
    if (menus.FieldByName("NRCATRACAS").AsFloat() > 0) d.turnstiles = menus.FieldByName("QTCATRACA").AsFloat();
    d.withdrawals = static_cast<int>(menus.FieldByName("NRRETIRADAS").AsFloat());
    v.services.back().days.push_back(d);
  }
  for (const auto& s : v.services)
    for (const auto& d : s.days) CheckDay(s, d, v.limit, v.checks);
  std::stable_sort(v.checks.begin(), v.checks.end(), [](const DayCheck& a, const DayCheck& b) {
    return a.day != b.day ? a.day < b.day : a.service < b.service;
  });
  return v;
}

MonthView ReadMonth(contracts::TNetConnection& historico, const std::string& branch, int year, int month,
                    const std::string& group) {
  using A = contracts::args::GetMesEfetivos;
  rtl::VariantArray args = contracts::ArgsOf<A>(
      {{A::kFilial, branch}, {A::kData, rtl::Variant::FromDate(rtl::EncodeDate(year, month, 1))}, {A::kGrupo, group}});
  rtl::Variant r = historico.Call("GetMesEfetivos", args);
  if (!contracts::ResultSucceeded(r)) throw rtl::Exception(contracts::ResultMessage(r));
  return BuildMonth(branch, year, month, r[1]);
}

}  // namespace additions
