#include "server/historico.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>

#include "contracts/arguments.h"
#include "contracts/result.h"
#include "platform/rtl/text.h"
#include "server/common.h"
#include "server/datasets.h"

namespace server {

using contracts::ResultOk;

namespace {

using Row = std::vector<std::pair<std::string, Variant>>;

const Variant& ValueOf(const Row& row, const std::string& name) {
  for (const auto& [n, v] : row)
    if (rtl::SameText(n, name)) return v;
  return rtl::NullVariant();
}

// Key parts as the writes spell them: codes as text, numbers as whole numbers.
std::string Part(const Row& row, const std::string& name) {
  const Variant& v = ValueOf(row, name);
  if (IsBlank(v)) return {};
  if (v.isNumeric()) return std::to_string(static_cast<int64_t>(std::llround(v.toDouble())));
  return v.toString();
}

struct Target {
  const char* dataSet;
  const char* table;
  std::vector<const char*> fields;
  const char* dayField;  // "" when the key names the menu, which names the day
  std::function<std::string(const Row&)> key;
};

const std::vector<Target>& Targets() {
  static const std::vector<Target> t{
      {"cdsCardaDia", "CARDAPIO", {"QTCLIEFETCAR", "QTFUNEFETCAR", "QTDOAEFETCAR", "QTCOMEFETCAR"}, "",
       [](const Row& r) { return Part(r, "NRCARDAPIO") + " serviço " + Part(r, "CDSERVFILI"); }},
      {"cdsPratoCard", "PRATOCARDAPIO", {"QTCOMEFETPRA", "QTPRODUZPRAT"}, "",
       [](const Row& r) {
         return Part(r, "NRCARDAPIO") + "/" + Part(r, "CDTIPOPRAT") + "/" + Part(r, "NRSEQPRATCAR");
       }},
      {"cdsEfetCat", "EFETCATRACA", {"QTEFETCATINI", "QTEFETCATFIM", "QTEFETCATTOT"}, "DTEFETCAT",
       [](const Row& r) { return Part(r, "CDCATRACA") + " serviço " + Part(r, "CDSERVFILI"); }},
      {"cdsServCli", "EFETCLIE", {"QTCOMEFETCLI", "VRSERVFATUEFCLI", "QTVENDAEFETCLI"}, "DTEFETCLIE",
       [](const Row& r) { return Part(r, "CDSERVFILI") + "/" + Part(r, "CDCLIENTE"); }},
      {"cdsTurnoCliente", "TURNOCLIENTE", {"QTCOMTURNCLI"}, "DTFATTURNO",
       [](const Row& r) {
         return Part(r, "CDSERVFILI") + "/" + Part(r, "CDCLIENTE") + " turno " + Part(r, "CDTURNO");
       }},
      {"cdsItRatEfet", "ITRATEFETCLIE", {"QTEFETIVOS"}, "DTEFETCLIE",
       [](const Row& r) {
         return Part(r, "NRITRATEFETCLIE") + " " + Part(r, "CDSERVFILI") + "/" + Part(r, "CDCLIENTE") + " item " +
                Part(r, "NRITEMRATEIOEFET");
       }},
      // The consolidation's rows carry their service beside the client.
      {"cdsAux", "EFETCONSOL", {"QTEFETFAT"}, "DTCARDAPIO",
       [](const Row& r) { return Part(r, "CDSERVFILI") + "/" + Part(r, "CDCLIENTE"); }},
  };
  return t;
}

Row RowArg(const VariantArray& a, size_t i) {
  Row row;
  if (i >= a.size() || !a[i].isArray() || a[i].size() % 2 != 0)
    Refuse("Argumento " + std::to_string(i + 1) + " deve ser a lista de campos da linha (nome, valor).");
  for (size_t j = 0; j + 1 < a[i].size(); j += 2) {
    if (!a[i][j].isString()) Refuse("Nome de campo inválido na linha.");
    row.emplace_back(a[i][j].toString(), a[i][j + 1]);
  }
  return row;
}

data::TFieldDef FStr(const char* name, int size) {
  data::TFieldDef d;
  d.Name = name;
  d.DataType = data::TFieldType::String;
  d.Size = size;
  return d;
}
data::TFieldDef FNum(const char* name) {
  data::TFieldDef d;
  d.Name = name;
  d.DataType = data::TFieldType::Float;
  return d;
}
data::TFieldDef FDate(const char* name) {
  data::TFieldDef d;
  d.Name = name;
  d.DataType = data::TFieldType::DateTime;
  return d;
}

// ---- History of a value

const sets::Defs& HistoryDefs() {
  static const sets::Defs d{FDate("DTHRAUDIT"),      FStr("CDOPERADOR", 3), FStr("NMOPERADOR", 40),
                            FStr("VRANTERIOR", 40), FStr("VRNOVO", 40),    FStr("NMMETODO", 30)};
  return d;
}

// GetHistorico(branch, data set, field, row as [name, value, ...]): the changes
// of that field of that row, newest first.
Variant GetHistorico(server::Call& k, VariantArray& a) {
  using A = contracts::args::GetHistorico;
  std::string branch = ArgStr(a, A::kFilial), dataSet = ArgStr(a, A::kDataSet), field = ArgStr(a, A::kCampo);
  Row row = RowArg(a, A::kLinha);
  auto name = [](const std::string& n) {
    return !n.empty() && n.size() <= 30 &&
           std::all_of(n.begin(), n.end(), [](unsigned char c) { return std::isalnum(c) || c == '_'; });
  };
  if (!name(dataSet) || !name(field)) Refuse("Nome de conjunto de dados ou de campo inválido.");
  CheckBranch(k, branch);
  AuditTarget t;
  if (!AuditTargetOf(dataSet, field, row, t))
    Refuse("O campo " + field + " de " + dataSet + " não tem histórico de alterações.");
  std::string sql =
      "SELECT A.DTHRAUDIT, A.CDOPERADOR, O.NMOPERADOR, A.VRANTERIOR, A.VRNOVO, A.NMMETODO FROM AUDITORIA A"
      " LEFT JOIN OPERADOR O ON O.CDOPERADOR = A.CDOPERADOR"
      " WHERE A.CDFILIAL = :P_FIL AND A.NMTABELA = :P_TAB AND A.DSCHAVE = :P_CHAVE AND A.NMCAMPO = :P_CAMPO";
  db::Params p{{"P_FIL", branch}, {"P_TAB", t.table}, {"P_CHAVE", t.key}, {"P_CAMPO", field}};
  if (!t.dayField.empty()) {
    const Variant& day = ValueOf(row, t.dayField);
    if (IsBlank(day)) return ResultOk(sets::FromRows(HistoryDefs(), {}));  // a row never stored
    sql += " AND A.DTREFERENCIA = :P_DIA";
    p.set("P_DIA", DateVar(DayOf(day)));
  }
  sql += " ORDER BY A.NRAUDITORIA DESC";
  return ResultOk(sets::FromResult(HistoryDefs(), k.c.query(sql, p)));
}

// ---- The month at a glance

const sets::Defs& MonthDefs() {
  static const sets::Defs d{FDate("DTCARDAPIO"),    FStr("CDSERVFILI", 5),  FStr("NMSERVICO", 40),
                            FStr("NRCARDAPIO", 10), FNum("QTCOMESTICAR"),   FNum("QTCOMEFETCAR"),
                            FNum("QTCLIEFETCAR"),   FNum("QTFATURADO"),     FNum("QTCLIENTES"),
                            FNum("NRCLIENTES"),     FNum("IDTEMCLIENTE"),   FNum("QTCATRACA"),
                            FNum("NRCATRACAS"),     FNum("NRRETIRADAS")};
  return d;
}
const sets::Defs& MonthParamDefs() {
  static const sets::Defs d{FStr("IDBLQEFEDIAFECH", 1), FNum("NRDIAANTDTPROC"), FDate("DTPROCES"), FDate("DTLIMITE")};
  return d;
}

// GetMesEfetivos(branch, any day of the month, service group): [0] one row per
// menu of the month (planned, served and billed headcounts and what the checks
// need), [1] the closed-day parameters.
Variant GetMesEfetivos(server::Call& k, VariantArray& a) {
  using A = contracts::args::GetMesEfetivos;
  std::string branch = ArgStr(a, A::kFilial), group = ArgStr(a, A::kGrupo);
  TDateTime any = ArgDate(a, A::kData);
  CheckBranch(k, branch);
  auto ymd = rtl::DecodeDate(any);
  TDateTime first = rtl::EncodeDate(ymd.year, ymd.month, 1);
  TDateTime last = rtl::EncodeDate(ymd.month == 12 ? ymd.year + 1 : ymd.year, ymd.month == 12 ? 1 : ymd.month + 1, 1) - 1;
  auto r = k.c.query(
      "SELECT C.DTCARDAPIO, C.CDSERVFILI, S.NMSERVICO, C.NRCARDAPIO, C.QTCOMESTICAR, C.QTCOMEFETCAR, C.QTCLIEFETCAR,"
      " (SELECT SUM(COALESCE(E.QTCOMEFETCLI, 0) + COALESCE(E.QTVENDAEFETCLI, 0)) FROM EFETCLIE E"
      "   WHERE E.CDFILIAL = C.CDFILIAL AND E.CDSERVPLAN = C.CDSERVFILI AND E.DTEFETCLIE = C.DTCARDAPIO) AS QTFATURADO,"
      " (SELECT SUM(E.QTCOMEFETCLI) FROM EFETCLIE E"
      "   WHERE E.CDFILIAL = C.CDFILIAL AND E.CDSERVPLAN = C.CDSERVFILI AND E.DTEFETCLIE = C.DTCARDAPIO) AS QTCLIENTES,"
      " (SELECT COUNT(*) FROM EFETCLIE E"
      "   WHERE E.CDFILIAL = C.CDFILIAL AND E.CDSERVPLAN = C.CDSERVFILI AND E.DTEFETCLIE = C.DTCARDAPIO) AS NRCLIENTES,"
      " (SELECT COUNT(*) FROM SERVFATU F JOIN SERVFATUCLIE FC ON FC.CDFILIAL = F.CDFILIAL"
      "   AND FC.CDSERVICFATURAM = F.CDSERVICFATURAM"
      "   WHERE F.CDFILIAL = C.CDFILIAL AND F.CDSERVFILI = C.CDSERVFILI) AS IDTEMCLIENTE,"
      " (SELECT SUM(T.QTEFETCATTOT) FROM EFETCATRACA T"
      "   WHERE T.CDFILIAL = C.CDFILIAL AND T.CDSERVFILI = C.CDSERVFILI AND T.DTEFETCAT = C.DTCARDAPIO) AS QTCATRACA,"
      " (SELECT COUNT(*) FROM EFETCATRACA T"
      "   WHERE T.CDFILIAL = C.CDFILIAL AND T.CDSERVFILI = C.CDSERVFILI AND T.DTEFETCAT = C.DTCARDAPIO) AS NRCATRACAS,"
      " (SELECT COUNT(*) FROM RETIRADA R"
      "   WHERE R.CDFILIAL = C.CDFILIAL AND R.NRCARDAPIO = C.NRCARDAPIO AND R.QTRETIRADA > 0) AS NRRETIRADAS"
      " FROM CARDAPIO C JOIN SERVICO S ON S.CDFILIAL = C.CDFILIAL AND S.CDSERVFILI = C.CDSERVFILI"
      " WHERE C.CDFILIAL = :P_CDFILIAL AND C.DTCARDAPIO >= :P_INI AND C.DTCARDAPIO <= :P_FIM"
      " AND S.IDTIPOSERV = 'N' AND (S.CDGRUPSERV = :P_CDGRUPSERV OR :P_TODOS = 'T')"
      " ORDER BY C.CDSERVFILI, C.DTCARDAPIO",
      {{"P_CDFILIAL", branch},
       {"P_INI", DateVar(first)},
       {"P_FIM", DateVar(last)},
       {"P_CDGRUPSERV", group},
       {"P_TODOS", group.empty() ? "T" : "N"}});
  PlanParams pp = LoadPlanParams(k, branch);
  TDateTime proc = ProcessingDate(k, branch);
    auto params = sets::FromRows(MonthParamDefs(), {{pp.closedDayFlag, Variant(pp.daysBefore), DateVar(proc), DateVar(proc - pp.daysBefore)}});
  return ResultOk(rtl::VarArrayOf({Variant(sets::FromResult(MonthDefs(), r)), Variant(params)}));
}

// ---- Turnstile imports

// GetLeiturasCatraca(branch, first day, last day): what a preview needs to
// judge a file's lines: [0] the turnstiles, [1] the services, [2] the stored
// readings of the period, [3] the closed-day parameters.
Variant GetLeiturasCatraca(server::Call& k, VariantArray& a) {
  using A = contracts::args::GetLeiturasCatraca;
  std::string branch = ArgStr(a, A::kFilial);
  TDateTime first = ArgDate(a, A::kInicio), last = ArgDate(a, A::kFim);
  if (last < first) Refuse("Data inicial não pode ser maior que data final.");
  if (last - first > 3660) Refuse("Período longo demais (mais de dez anos).");
  CheckBranch(k, branch);
  static const sets::Defs cats{FStr("CDCATRACA", 10), FStr("DSCATRACA", 40), FStr("CDSERVFILI", 5)};
  static const sets::Defs servs{FStr("CDSERVFILI", 5), FStr("NMSERVICO", 40)};
  static const sets::Defs reads{FStr("CDCATRACA", 10), FStr("CDSERVFILI", 5), FDate("DTEFETCAT"), FNum("QTEFETCATINI"),
                                FNum("QTEFETCATFIM")};
  db::Params fil{{"P_CDFILIAL", branch}};
  auto c = k.c.query("SELECT CDCATRACA, DSCATRACA, CDSERVFILI FROM CATRACA WHERE CDFILIAL = :P_CDFILIAL", fil);
  auto s = k.c.query("SELECT CDSERVFILI, NMSERVICO FROM SERVICO WHERE CDFILIAL = :P_CDFILIAL", fil);
  auto r = k.c.query(
      "SELECT CDCATRACA, CDSERVFILI, DTEFETCAT, QTEFETCATINI, QTEFETCATFIM FROM EFETCATRACA"
      " WHERE CDFILIAL = :P_CDFILIAL AND DTEFETCAT >= :P_INI AND DTEFETCAT <= :P_FIM",
      {{"P_CDFILIAL", branch}, {"P_INI", DateVar(first)}, {"P_FIM", DateVar(last)}});
  PlanParams pp = LoadPlanParams(k, branch);
  TDateTime proc = ProcessingDate(k, branch);
  auto params = sets::FromRows(MonthParamDefs(),
                               {{pp.closedDayFlag, Variant(pp.daysBefore), DateVar(proc), DateVar(proc - pp.daysBefore)}});
  return ResultOk(rtl::VarArrayOf({Variant(sets::FromResult(cats, c)), Variant(sets::FromResult(servs, s)),
                                   Variant(sets::FromResult(reads, r)), Variant(params)}));
}

using Fn = Variant (*)(server::Call&, VariantArray&);
// One row per method: its function and how many arguments it requires. Every
// method here only reads and answers a result array.
struct Entry {
  const char* name;
  Fn fn;
  size_t minArgs;
};
const std::vector<Entry>& Table() {
  static const std::vector<Entry> t{
      {"GetHistorico", GetHistorico, 4}, {"GetMesEfetivos", GetMesEfetivos, 3}, {"GetLeiturasCatraca", GetLeiturasCatraca, 3}};
  return t;
}

}  // namespace

bool AuditTargetOf(const std::string& dataSet, const std::string& field, const Row& row, AuditTarget& out) {
  for (const auto& t : Targets()) {
    if (!rtl::SameText(dataSet, t.dataSet)) continue;
    for (const char* f : t.fields)
      if (rtl::SameText(field, f)) {
        out.table = t.table;
        out.key = t.key(row);
        out.dayField = t.dayField;
        return true;
      }
  }
  return false;
}

std::vector<std::string> Historico::Methods() const {
  std::vector<std::string> names;
  for (const auto& e : Table()) names.push_back(e.name);
  return names;
}

Variant Historico::Call(const std::string& method, VariantArray& args, const contracts::CallContext& ctx) {
  const Entry* entry = nullptr;
  for (const auto& e : Table())
    if (method == e.name) entry = &e;
  if (!entry) return contracts::ResultFail("Método " + method + " não existe em " + ServerName() + ".");
  const db::ThreadDbTime db0 = db::CurrentThreadDbTime();
  Variant result;
  try {
    auto lease = pool_.Acquire();
    server::Call k{*lease, ctx.operatorCode, {}, {}, {}};
    k.method = method;
    try {
      lease->beginRead();  // every method here only reads, in one snapshot
      NeedArgs(args, entry->minArgs, entry->name);
      result = entry->fn(k, args);
    } catch (const Refusal& e) {
      result = contracts::ResultFail(e.what());
    } catch (const db::DbError& e) {
      if (e.kind() == db::ErrorKind::Connection) lease.discard();
      result = contracts::ResultFail(std::string("Erro no banco de dados: ") + e.what());
    } catch (const std::exception& e) {
      result = contracts::ResultFail(std::string("Erro no servidor: ") + e.what());
    }
    if (lease->inTransaction()) {
      try {
        lease->rollback();
      } catch (...) {
        lease.discard();
      }
    }
    ctx.branch = k.branchForLog;
  } catch (const std::exception& e) {
    result = contracts::ResultFail(std::string("Banco de dados indisponível: ") + e.what());
  }
  ctx.databaseMs = static_cast<double>(db::CurrentThreadDbTime().nanoseconds - db0.nanoseconds) / 1e6;
  return result;
}

}  // namespace server
