// The methods that only read.

#include <algorithm>
#include <set>

#include "contracts/result.h"
#include "server/datasets.h"
#include "server/methods.h"

namespace server::methods {

using contracts::ResultOk;
namespace S = server::sets;

namespace {

// Menus of a day's restaurant services, narrowed to a group when one is given.
const char* kDayMenus =
    " FROM CARDAPIO C JOIN SERVICO S ON S.CDFILIAL = C.CDFILIAL AND S.CDSERVFILI = C.CDSERVFILI"
    " WHERE C.CDFILIAL = :P_CDFILIAL AND C.DTCARDAPIO = :P_DIA AND S.IDTIPOSERV = 'N'"
    " AND (S.CDGRUPSERV = :P_CDGRUPSERV OR :P_TODOS = 'T')";

db::Params DayParams(const std::string& branch, TDateTime day, const std::string& group) {
  return {{"P_CDFILIAL", branch},
          {"P_DIA", DateVar(day)},
          {"P_CDGRUPSERV", group},
          {"P_TODOS", group.empty() ? "T" : "N"}};
}

rtl::DataPacket ParamGeralPacket(Call& k) {
  return S::FromResult(S::ParamGeral(), k.c.query("SELECT IDCONSMINEFE, IDBLOQEFET FROM PARAMGERAL WHERE NRPARAM = 1"));
}

rtl::DataPacket ParamPlanejaPacket(Call& k, const std::string& branch) {
  PlanParams p = LoadPlanParams(k, branch);
  return S::FromRows(S::ParamPlaneja(),
                     {{p.closedDayFlag, p.allowNoWithdrawal, Variant(p.daysBefore), p.allowAfterProc}});
}

rtl::DataPacket ParamFilalPacket(Call& k, const std::string& branch) {
  BranchParams p = LoadBranchParams(k, branch);
  return S::FromRows(S::ParamFilal(), {{p.useFlag, p.copyFlag}});
}

// The planned service a billed service belongs to, or a refusal.
std::string PlannedOf(Call& k, const std::string& branch, const std::string& billed) {
  auto r = k.c.query("SELECT CDSERVFILI FROM SERVFATU WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT",
                     {{"P_CDFILIAL", branch}, {"P_FAT", billed}});
  if (r.empty()) Refuse("Serviço de faturamento " + billed + " não cadastrado na filial " + branch + ".");
  return r.rows[0][0].toString();
}

void CheckPeriod(TDateTime first, TDateTime last) {
  if (last < first) Refuse("Data inicial não pode ser maior que data final.");
  if (last - first > 3660) Refuse("Período longo demais (mais de dez anos).");
}

}  // namespace

int64_t MenuWithdrawals(Call& k, const std::string& branch, const std::string& menu) {
  auto r = k.c.query(
      "SELECT COUNT(*) FROM RETIRADA WHERE CDFILIAL = :P_CDFILIAL AND NRCARDAPIO = :P_NRCARDAPIO AND QTRETIRADA > 0",
      {{"P_CDFILIAL", branch}, {"P_NRCARDAPIO", menu}});
  return r.rows[0][0].toInt();
}

rtl::DataPacket CardaDiaPacket(Call& k, const std::string& branch, TDateTime day, const std::string& group) {
  std::string sql =
      "SELECT C.CDSERVFILI, S.NMSERVICO, C.QTCLIEFETCAR, C.QTFUNEFETCAR, C.QTDOAEFETCAR, C.QTCOMEFETCAR,"
      " C.QTCOMESTICAR, C.QTCLIESTICAR, C.QTFUNESTICAR, C.QTDOAESTICAR, C.QTCOMEFETRI, C.QTCOMEFETSL,"
      " C.DTCARDAPIO, C.CDFILIAL, C.CDOPERADOR, C.NRCARDAPIO, C.DTMESCARD, C.DTPROCES";
  sql += kDayMenus;
  sql += " ORDER BY C.CDSERVFILI";
  return S::FromResult(S::CardaDia(), k.c.query(sql, DayParams(branch, day, group)));
}

// Dish-type totals are the sums over the type's dishes, an empty value counting as 0.
rtl::DataPacket CompCardPacket(Call& k, const std::string& branch, TDateTime day, const std::string& group) {
  std::string sql =
      "SELECT T.NMTIPOPRAT, SUM(COALESCE(P.QTCOMEFETPRA, 0)) AS QTCOMEFETPRA,"
      " SUM(COALESCE(P.QTPRODUZPRAT, 0)) AS QTPRODUZPRAT, CC.CDTIPOPRAT, CC.CDFILIAL, CC.NRCARDAPIO"
      " FROM CARDAPIO C JOIN SERVICO S ON S.CDFILIAL = C.CDFILIAL AND S.CDSERVFILI = C.CDSERVFILI"
      // CROSS JOIN keeps the day's menus as the outer loop in SQLite whatever its
      // statistics say (without them it walked every dish type of the branch).
      " CROSS JOIN COMPCARDAPIO CC JOIN TIPOPRATO T ON T.CDTIPOPRAT = CC.CDTIPOPRAT"
      " LEFT JOIN PRATOCARDAPIO P ON P.CDFILIAL = CC.CDFILIAL AND P.NRCARDAPIO = CC.NRCARDAPIO"
      " AND P.CDTIPOPRAT = CC.CDTIPOPRAT"
      " WHERE CC.CDFILIAL = C.CDFILIAL AND CC.NRCARDAPIO = C.NRCARDAPIO"
      " AND C.CDFILIAL = :P_CDFILIAL AND C.DTCARDAPIO = :P_DIA AND S.IDTIPOSERV = 'N'"
      " AND (S.CDGRUPSERV = :P_CDGRUPSERV OR :P_TODOS = 'T')"
      " GROUP BY CC.CDFILIAL, CC.NRCARDAPIO, CC.CDTIPOPRAT, T.NMTIPOPRAT"
      " ORDER BY CC.NRCARDAPIO, CC.CDTIPOPRAT";
  return S::FromResult(S::CompCardAux(), k.c.query(sql, DayParams(branch, day, group)));
}

rtl::DataPacket PratoCardPacket(Call& k, const std::string& branch, TDateTime day, const std::string& group) {
  std::string sql =
      "SELECT P.CDFILIAL, P.NRCARDAPIO, P.CDTIPOPRAT, P.NRSEQPRATCAR, P.NRORDPRATCAR, P.CDFILAUXPRAT, P.CDPRATO,"
      " P.VRPECONSCARD, PR.NMPRATO, P.QTCOMEFETPRA, P.QTPRODUZPRAT"
      " FROM CARDAPIO C JOIN SERVICO S ON S.CDFILIAL = C.CDFILIAL AND S.CDSERVFILI = C.CDSERVFILI"
      " CROSS JOIN PRATOCARDAPIO P JOIN PRATO PR ON PR.CDFILIAL = P.CDFILAUXPRAT AND PR.CDPRATO = P.CDPRATO"
      " WHERE P.CDFILIAL = C.CDFILIAL AND P.NRCARDAPIO = C.NRCARDAPIO"
      " AND C.CDFILIAL = :P_CDFILIAL AND C.DTCARDAPIO = :P_DIA AND S.IDTIPOSERV = 'N'"
      " AND (S.CDGRUPSERV = :P_CDGRUPSERV OR :P_TODOS = 'T')"
      " ORDER BY P.NRCARDAPIO, P.CDTIPOPRAT, P.NRORDPRATCAR, P.NRSEQPRATCAR";
  return S::FromResult(S::PratoCard(), k.c.query(sql, DayParams(branch, day, group)));
}

Variant GetParamGeral(Call& k, VariantArray&) {
  if (k.op.empty()) Refuse("Operador não identificado.");
  return ResultOk(ParamGeralPacket(k));
}

Variant GetParamPlaneja(Call& k, VariantArray& a) {
  using A = args::GetParamPlaneja;
  std::string branch = ArgStr(a, A::kFilial);
  CheckBranch(k, branch);
  return ResultOk(ParamPlanejaPacket(k, branch));
}

Variant GetCardaDia(Call& k, VariantArray& a) {
  using A = args::GetCardaDia;
  std::string branch = ArgStr(a, A::kFilial), group = ArgStr(a, A::kGrupo);
  TDateTime day = ArgDate(a, A::kData);
  CheckBranch(k, branch);
  return ResultOk(rtl::VarArrayOf({CardaDiaPacket(k, branch, day, group), CompCardPacket(k, branch, day, group),
                                   PratoCardPacket(k, branch, day, group), ParamFilalPacket(k, branch),
                                   ParamPlanejaPacket(k, branch)}));
}

// Dates that have a menu, from 60 days before to 30 days after the processing
// date, newest first.
Variant GetDtCardapio(Call& k, VariantArray& a) {
  using A = args::GetDtCardapio;
  std::string branch = ArgStr(a, A::kFilial);
  TDateTime proc = ArgDate(a, A::kDataProc);
  CheckBranch(k, branch);
  auto r = k.c.query(
      "SELECT DISTINCT C.DTCARDAPIO FROM CARDAPIO C JOIN SERVICO S ON S.CDFILIAL = C.CDFILIAL"
      " AND S.CDSERVFILI = C.CDSERVFILI WHERE C.CDFILIAL = :P_CDFILIAL AND S.IDTIPOSERV = 'N'"
      " AND C.DTCARDAPIO >= :P_INI AND C.DTCARDAPIO <= :P_FIM ORDER BY C.DTCARDAPIO DESC",
      {{"P_CDFILIAL", branch}, {"P_INI", DateVar(proc - 60)}, {"P_FIM", DateVar(proc + 30)}});
  std::vector<std::vector<Variant>> rows;
  for (const auto& row : r.rows) {
    TDateTime d = DayOf(row[0]);
    rows.push_back({DateVar(d), DateText(d)});
  }
  return ResultOk(S::FromRows(S::DtCardapio(), rows));
}

Variant GetComensais(Call& k, VariantArray& a) {
  using A = args::GetComensais;
  std::string branch = ArgStr(a, A::kFilial);
  ArgStr(a, A::kServico);  // the answer covers every service of the day, but it must be a text
  TDateTime day = ArgDate(a, A::kData);
  CheckBranch(k, branch);
  db::Params p{{"P_CDFILIAL", branch}, {"P_DIA", DateVar(day)}};
  auto card = k.c.query(
      "SELECT C.CDFILIAL, C.CDSERVFILI, C.DTCARDAPIO, C.QTCLIEFETCAR, C.QTFUNEFETCAR, C.QTDOAEFETCAR, S.NMSERVICO"
      " FROM CARDAPIO C JOIN SERVICO S ON S.CDFILIAL = C.CDFILIAL AND S.CDSERVFILI = C.CDSERVFILI"
      " WHERE C.CDFILIAL = :P_CDFILIAL AND C.DTCARDAPIO = :P_DIA AND S.IDTIPOSERV = 'N' ORDER BY C.CDSERVFILI",
      p);
  auto efet = k.c.query(
      "SELECT E.CDFILIAL, E.CDSERVPLAN, SUM(COALESCE(E.QTCOMEFETCLI, 0) + COALESCE(E.QTVENDAEFETCLI, 0))"
      " AS QTCOMEFETCLI, S.NMSERVICO FROM EFETCLIE E"
      " JOIN SERVICO S ON S.CDFILIAL = E.CDFILIAL AND S.CDSERVFILI = E.CDSERVPLAN"
      " WHERE E.CDFILIAL = :P_CDFILIAL AND E.DTEFETCLIE = :P_DIA"
      " GROUP BY E.CDFILIAL, E.CDSERVPLAN, S.NMSERVICO ORDER BY E.CDSERVPLAN",
      p);
  auto efetRows = S::RowsOf(S::ComensaisEfet(), efet);
  for (auto& row : efetRows) {
    row[S::Col(S::ComensaisEfet(), "DTEFETCLIE")] = DateVar(day);
    row[S::Col(S::ComensaisEfet(), "QTFUNEFETCLI")] = Variant(0.0);
    row[S::Col(S::ComensaisEfet(), "QTDOAEFETCLI")] = Variant(0.0);
  }
  auto exists = k.c.query(
      "SELECT DISTINCT C.CDCLIENTE, F.CDSERVFILI, F.CDFILIAL FROM SERVFATU F"
      " JOIN SERVFATUCLIE C ON C.CDFILIAL = F.CDFILIAL AND C.CDSERVICFATURAM = F.CDSERVICFATURAM"
      " WHERE F.CDFILIAL = :P_CDFILIAL ORDER BY F.CDSERVFILI, C.CDCLIENTE",
      {{"P_CDFILIAL", branch}});
  std::vector<std::vector<Variant>> settled;
  for (const auto& row : card.rows) {
    std::string service = row[1].toString();
    if (ServiceSettled(k, branch, service, day)) settled.push_back({branch, service, DateVar(day), row[6]});
  }
  return ResultOk(rtl::VarArrayOf({S::FromResult(S::ComensaisCard(), card), ParamGeralPacket(k),
                                   S::FromRows(S::ComensaisEfet(), efetRows),
                                   S::FromResult(S::ExistsCliente(), exists),
                                   S::FromRows(S::VdFaturados(), settled)}));
}

Variant GetServiFat(Call& k, VariantArray& a) {
  using A = args::GetServiFat;
  std::string branch = ArgStr(a, A::kFilial), service = ArgStr(a, A::kServico);
  TDateTime day = ArgDate(a, A::kData);
  CheckBranch(k, branch);
  auto r = k.c.query(
      "SELECT F.CDFILIAL, F.CDSERVFILI, F.CDSERVICFATURAM, S.NMSERVICO, F.IDVLRVARDATA,"
      " (SELECT SUM(COALESCE(E.QTCOMEFETCLI, 0) + COALESCE(E.QTVENDAEFETCLI, 0)) FROM EFETCLIE E"
      "   WHERE E.CDFILIAL = F.CDFILIAL AND E.CDSERVICFATURAM = F.CDSERVICFATURAM AND E.DTEFETCLIE = :P_DIA)"
      " AS QTCOMEFETCLI"
      " FROM SERVFATU F JOIN SERVICO S ON S.CDFILIAL = F.CDFILIAL AND S.CDSERVFILI = F.CDSERVICFATURAM"
      " WHERE F.CDFILIAL = :P_CDFILIAL AND F.CDSERVFILI = :P_CDSERVFILI ORDER BY F.CDSERVICFATURAM",
      {{"P_CDFILIAL", branch}, {"P_CDSERVFILI", service}, {"P_DIA", DateVar(day)}});
  auto rows = S::RowsOf(S::ServFatu(), r);
  for (auto& row : rows) {
    row[S::Col(S::ServFatu(), "DTCARDAPIO")] = DateVar(day);
    auto& total = row[S::Col(S::ServFatu(), "QTCOMEFETCLI")];
    total = Variant(Num(total));
  }
  return ResultOk(S::FromRows(S::ServFatu(), rows));
}

namespace {

rtl::DataPacket ItRatEfetPacket(Call& k, const std::string& branch, const std::string& billed,
                                const std::string& planned, TDateTime day) {
  auto r = k.c.query(
      "SELECT L.NRITRATEFETCLIE, SC.CDCLIENTE, I.NRITEMRATEIOEFET, I.CDITEMRATEIOEFET, I.NMITEMRATEIOEFET,"
      " L.QTEFETIVOS FROM SERVFATUCLIE SC"
      " JOIN ITEMRATEIO I ON I.CDFILIAL = SC.CDFILIAL AND I.CDSERVICFATURAM = SC.CDSERVICFATURAM"
      " LEFT JOIN ITRATEFETCLIE L ON L.CDFILIAL = SC.CDFILIAL AND L.CDSERVICFATURAM = SC.CDSERVICFATURAM"
      " AND L.CDCLIENTE = SC.CDCLIENTE AND L.DTEFETCLIE = :P_DIA AND L.NRITEMRATEIOEFET = I.NRITEMRATEIOEFET"
      " WHERE SC.CDFILIAL = :P_CDFILIAL AND SC.CDSERVICFATURAM = :P_FAT"
      " ORDER BY I.CDITEMRATEIOEFET, SC.CDCLIENTE",
      {{"P_CDFILIAL", branch}, {"P_FAT", billed}, {"P_DIA", DateVar(day)}});
  const auto& d = S::ItRatEfet();
  auto rows = S::RowsOf(d, r);
  for (auto& row : rows) {
    row[S::Col(d, "CDFILIAL")] = branch;
    row[S::Col(d, "CDSERVFILI")] = billed;
    row[S::Col(d, "DTEFETCLIE")] = DateVar(day);
    row[S::Col(d, "CDSERVPLAN")] = planned;
  }
  return S::FromRows(d, rows);
}

}  // namespace

namespace {

// The planned service a billed service serves; refused when the caller named another one.
std::string PlannedFor(Call& k, const std::string& branch, const std::string& billed, const std::string& service) {
  CheckBranch(k, branch);
  std::string planned = PlannedOf(k, branch, billed);
  if (!service.empty() && planned != service)
    Refuse("Serviço de faturamento " + billed + " não pertence ao serviço " + service + ".");
  return planned;
}

}  // namespace

Variant GetServCli(Call& k, VariantArray& a) {
  using A = args::GetServCli;
  std::string branch = ArgStr(a, A::kFilial), billed = ArgStr(a, A::kServFatu), service = ArgStr(a, A::kServico);
  TDateTime day = ArgDate(a, A::kData);
  std::string planned = PlannedFor(k, branch, billed, service);
  db::Params p{{"P_CDFILIAL", branch}, {"P_FAT", billed}, {"P_DIA", DateVar(day)}};
  auto cli = k.c.query(
      "SELECT SC.CDFILIAL, SC.CDSERVICFATURAM AS CDSERVFILI, SC.CDCLIENTE, CL.NMRAZSOCCLIE, CL.NMFANTCLIE,"
      " E.QTCOMEFETCLI, E.VRSERVFATUEFCLI, E.DTEFETCLIE, E.CDSERVPLAN, CL.IDTPIJURCLIE, CL.NRINSJURCLIE,"
      " E.QTVENDAEFETCLI,"
      // The settlement of each client in the same statement: one query, not one per client.
      " (SELECT MIN(A.NRAPURACFAT) FROM APURACAO A WHERE A.CDFILIAL = SC.CDFILIAL AND A.CDCLIENTE = SC.CDCLIENTE"
      " AND A.DTINIAPURAC <= :P_DIA AND A.DTFIMAPURAC >= :P_DIA) AS NRAPURACFAT"
      " FROM SERVFATUCLIE SC JOIN CLIENTE CL ON CL.CDCLIENTE = SC.CDCLIENTE"
      " LEFT JOIN EFETCLIE E ON E.CDFILIAL = SC.CDFILIAL AND E.CDSERVICFATURAM = SC.CDSERVICFATURAM"
      " AND E.CDCLIENTE = SC.CDCLIENTE AND E.DTEFETCLIE = :P_DIA"
      " WHERE SC.CDFILIAL = :P_CDFILIAL AND SC.CDSERVICFATURAM = :P_FAT ORDER BY CL.NMRAZSOCCLIE, SC.CDCLIENTE",
      p);
  auto rows = S::RowsOf(S::ServCli(), cli);
  auto fat = k.c.query(
      "SELECT A.CDFILIAL, A.CDCLIENTE, A.NRAPURACFAT, A.DTINIAPURAC, A.DTFIMAPURAC FROM APURACAO A"
      " JOIN SERVFATUCLIE SC ON SC.CDFILIAL = A.CDFILIAL AND SC.CDCLIENTE = A.CDCLIENTE"
      " WHERE A.CDFILIAL = :P_CDFILIAL AND SC.CDSERVICFATURAM = :P_FAT"
      " AND A.DTINIAPURAC <= :P_DIA AND A.DTFIMAPURAC >= :P_DIA ORDER BY A.CDCLIENTE, A.NRAPURACFAT",
      p);
  auto items = k.c.query(
      "SELECT NRITEMRATEIOEFET, CDITEMRATEIOEFET, NMITEMRATEIOEFET FROM ITEMRATEIO"
      " WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT ORDER BY CDITEMRATEIOEFET",
      {{"P_CDFILIAL", branch}, {"P_FAT", billed}});
  return ResultOk(rtl::VarArrayOf({S::FromRows(S::ServCli(), rows), S::FromResult(S::VdCliFat(), fat),
                                   S::FromResult(S::ItemRat(), items),
                                   ItRatEfetPacket(k, branch, billed, planned, day)}));
}

Variant GetItemRatEfet(Call& k, VariantArray& a) {
  using A = args::GetItemRatEfet;
  std::string branch = ArgStr(a, A::kFilial), billed = ArgStr(a, A::kServFatu), service = ArgStr(a, A::kServico);
  TDateTime day = ArgDate(a, A::kData);
  std::string planned = PlannedFor(k, branch, billed, service);
  return ResultOk(ItRatEfetPacket(k, branch, billed, planned, day));
}

Variant VerificaEfetFat(Call& k, VariantArray& a) {
  using A = args::VerificaEfetFat;
  std::string branch = ArgStr(a, A::kFilial), service = ArgStr(a, A::kServico);
  TDateTime day = ArgDate(a, A::kData);
  CheckBranch(k, branch);
  return ResultOk(ServiceSettled(k, branch, service, day));
}

Variant GetEfetCatraca(Call& k, VariantArray& a) {
  using A = args::GetEfetCatraca;
  std::string branch = ArgStr(a, A::kFilial), service = ArgStr(a, A::kServico);
  TDateTime day = ArgDate(a, A::kData);
  CheckBranch(k, branch);
  auto r = k.c.query(
      "SELECT T.CDCATRACA, T.DSCATRACA, R.QTEFETCATINI, R.QTEFETCATFIM, R.QTEFETCATTOT FROM CATRACA T"
      " LEFT JOIN EFETCATRACA R ON R.CDFILIAL = T.CDFILIAL AND R.CDCATRACA = T.CDCATRACA"
      " AND R.CDSERVFILI = T.CDSERVFILI AND R.DTEFETCAT = :P_DIA"
      " WHERE T.CDFILIAL = :P_CDFILIAL AND T.CDSERVFILI = :P_CDSERVFILI ORDER BY T.CDCATRACA",
      {{"P_CDFILIAL", branch}, {"P_CDSERVFILI", service}, {"P_DIA", DateVar(day)}});
  const auto& d = S::EfetCat();
  auto rows = S::RowsOf(d, r);
  for (auto& row : rows) {
    row[S::Col(d, "CDFILIAL")] = branch;
    row[S::Col(d, "CDSERVFILI")] = service;
    row[S::Col(d, "DTEFETCAT")] = DateVar(day);
  }
  return ResultOk(S::FromRows(d, rows));
}

Variant GetTurnoCliente(Call& k, VariantArray& a) {
  using A = args::GetTurnoCliente;
  std::string branch = ArgStr(a, A::kFilial), billed = ArgStr(a, A::kServFatu), client = ArgStr(a, A::kCliente);
  TDateTime day = ArgDate(a, A::kData);
  CheckBranch(k, branch);
  const auto& d = S::TurnoCliente();
  if (client.empty()) return ResultOk(S::FromRows(d, {}));
  auto r = k.c.query(
      "SELECT T.CDTURNO, T.NMTURNO, X.QTCOMTURNCLI FROM TURNO T"
      " LEFT JOIN TURNOCLIENTE X ON X.CDFILIAL = T.CDFILIAL AND X.CDTURNO = T.CDTURNO"
      " AND X.CDSERVICFATURAM = :P_FAT AND X.CDCLIENTE = :P_CDCLIENTE AND X.DTFATTURNO = :P_DIA"
      " WHERE T.CDFILIAL = :P_CDFILIAL ORDER BY T.CDTURNO",
      {{"P_CDFILIAL", branch}, {"P_FAT", billed}, {"P_CDCLIENTE", client}, {"P_DIA", DateVar(day)}});
  auto rows = S::RowsOf(d, r);
  for (auto& row : rows) {
    row[S::Col(d, "CDFILIAL")] = branch;
    row[S::Col(d, "CDSERVFILI")] = billed;
    row[S::Col(d, "DTFATTURNO")] = DateVar(day);
    row[S::Col(d, "CDCLIENTE")] = client;
  }
  return ResultOk(S::FromRows(d, rows));
}

namespace {

void CheckMenu(Call& k, const std::string& branch, const std::string& menu) {
  auto r = k.c.query("SELECT NRCARDAPIO FROM CARDAPIO WHERE CDFILIAL = :P_CDFILIAL AND NRCARDAPIO = :P_NRCARDAPIO",
                     {{"P_CDFILIAL", branch}, {"P_NRCARDAPIO", menu}});
  if (r.empty()) Refuse("Cardápio " + menu + " não cadastrado na filial " + branch + ".");
}

}  // namespace

Variant Vd_Retirada(Call& k, VariantArray& a) {
  using A = args::Vd_Retirada;
  std::string branch = ArgStr(a, A::kFilial), menu = ArgStr(a, A::kCardapio), text = ArgStr(a, A::kTexto);
  CheckBranch(k, branch);
  CheckMenu(k, branch, menu);
  return Variant(MenuWithdrawals(k, branch, menu) > 0 ? std::string() : text);
}

Variant GetRetirada(Call& k, VariantArray& a) {
  using A = args::GetRetirada;
  std::string branch = ArgStr(a, A::kFilial), menu = ArgStr(a, A::kCardapio);
  CheckBranch(k, branch);
  CheckMenu(k, branch, menu);
  double n = static_cast<double>(MenuWithdrawals(k, branch, menu));
  return rtl::VarArrayOf({ResultOk(S::FromRows(S::Retirada(), {{Variant(n)}}))});
}

Variant GetVerifRetirada(Call& k, VariantArray& a) {
  using A = args::GetVerifRetirada;
  std::string branch = ArgStr(a, A::kFilial), group = ArgStr(a, A::kGrupo);
  TDateTime day = ArgDate(a, A::kData);
  CheckBranch(k, branch);
  std::string sql = "SELECT C.CDSERVFILI, C.QTCOMEFETCAR";
  sql += kDayMenus;
  sql +=
      " AND EXISTS (SELECT 1 FROM RETIRADA R WHERE R.CDFILIAL = C.CDFILIAL AND R.NRCARDAPIO = C.NRCARDAPIO"
      " AND R.QTRETIRADA > 0) ORDER BY C.CDSERVFILI";
  auto r = k.c.query(sql, DayParams(branch, day, group));
  return ResultOk(rtl::VarArrayOf({S::FromResult(S::VerifRetirada(), r), CardaDiaPacket(k, branch, day, group)}));
}

// Every day of the period on which a client of the service is settled.
Variant GetVerifApurac(Call& k, VariantArray& a) {
  using A = args::GetVerifApurac;
  std::string branch = ArgStr(a, A::kFilial), service = ArgStr(a, A::kServico);
  TDateTime first = ArgDate(a, A::kInicio), last = ArgDate(a, A::kFim);
  CheckBranch(k, branch);
  CheckPeriod(first, last);
  auto r = k.c.query(
      "SELECT DISTINCT A.DTINIAPURAC, A.DTFIMAPURAC FROM SERVFATU S"
      " JOIN SERVFATUCLIE C ON C.CDFILIAL = S.CDFILIAL AND C.CDSERVICFATURAM = S.CDSERVICFATURAM"
      " JOIN APURACAO A ON A.CDFILIAL = C.CDFILIAL AND A.CDCLIENTE = C.CDCLIENTE"
      " WHERE S.CDFILIAL = :P_CDFILIAL AND S.CDSERVFILI = :P_CDSERVFILI"
      " AND A.DTINIAPURAC <= :P_FIM AND A.DTFIMAPURAC >= :P_INI",
      {{"P_CDFILIAL", branch}, {"P_CDSERVFILI", service}, {"P_INI", DateVar(first)}, {"P_FIM", DateVar(last)}});
  std::set<double> days;
  for (const auto& row : r.rows) {
    TDateTime from = std::max(first, DayOf(row[0])), to = std::min(last, DayOf(row[1]));
    for (TDateTime d = from; d <= to; d += 1) days.insert(d);
  }
  std::vector<std::vector<Variant>> rows;
  for (double d : days) rows.push_back({DateVar(d)});
  return ResultOk(S::FromRows(S::VerifApurac(), rows));
}

Variant GetEfetPlanCli(Call& k, VariantArray& a) {
  using A = args::GetEfetPlanCli;
  std::string branch = ArgStr(a, A::kFilial), service = ArgStr(a, A::kServico);
  TDateTime first = ArgDate(a, A::kInicio), last = ArgDate(a, A::kFim);
  CheckBranch(k, branch);
  CheckPeriod(first, last);
  db::Params p{{"P_CDFILIAL", branch}, {"P_CDSERVFILI", service}, {"P_INI", DateVar(first)}, {"P_FIM", DateVar(last)}};
  auto plan = k.c.query(
      "SELECT DTCARDAPIO, QTCLIEFETCAR FROM CARDAPIO WHERE CDFILIAL = :P_CDFILIAL AND CDSERVFILI = :P_CDSERVFILI"
      " AND DTCARDAPIO >= :P_INI AND DTCARDAPIO <= :P_FIM ORDER BY DTCARDAPIO",
      p);
  auto planRows = S::RowsOf(S::EfetPlan(), plan);
  for (auto& row : planRows) row[1] = Variant(Num(row[1]));
  auto cli = k.c.query(
      "SELECT SC.CDCLIENTE, CL.NMRAZSOCCLIE,"
      " SUM(COALESCE(E.QTCOMEFETCLI, 0) + COALESCE(E.QTVENDAEFETCLI, 0)) AS TOTALEFET"
      " FROM SERVFATU F JOIN SERVFATUCLIE SC ON SC.CDFILIAL = F.CDFILIAL AND SC.CDSERVICFATURAM = F.CDSERVICFATURAM"
      " JOIN CLIENTE CL ON CL.CDCLIENTE = SC.CDCLIENTE"
      " LEFT JOIN EFETCLIE E ON E.CDFILIAL = SC.CDFILIAL AND E.CDSERVICFATURAM = SC.CDSERVICFATURAM"
      " AND E.CDCLIENTE = SC.CDCLIENTE AND E.DTEFETCLIE >= :P_INI AND E.DTEFETCLIE <= :P_FIM"
      " WHERE F.CDFILIAL = :P_CDFILIAL AND F.CDSERVFILI = :P_CDSERVFILI"
      " GROUP BY SC.CDCLIENTE, CL.NMRAZSOCCLIE ORDER BY CL.NMRAZSOCCLIE, SC.CDCLIENTE",
      p);
  auto cliRows = S::RowsOf(S::EfetClie(), cli);
  for (auto& row : cliRows) row[2] = Variant(Finite(Num(row[2]), "O total de efetivos do cliente " + row[0].toString()));
  // [2]: what this read saw of the stored split, for SetConsolEfet to detect a change since.
  return ResultOk(rtl::VarArrayOf({S::FromRows(S::EfetPlan(), planRows), S::FromRows(S::EfetClie(), cliRows),
                                   ConsolStamp(k, branch, service, first, last)}));
}

}  // namespace server::methods
