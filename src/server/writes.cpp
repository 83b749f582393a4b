// The methods that write. Each runs in one transaction: the first refused row
// ends the call and the transaction's destructor rolls everything back.

#include <map>
#include <set>

#include "contracts/result.h"
#include "server/datasets.h"
#include "server/methods.h"
#include "server/schema.h"

namespace server::methods {

using contracts::ResultOk;

namespace {

const char* kEfetAutoJaApur =
    "Operação bloqueada. Efetivos dos clientes relacionados já apurados na data selecionada.";
const char* kEfetApur = "Efetivos do cliente já apurados na data selecionada.";
constexpr size_t kTradeNameSize = 100;  // CLIENTE.NMFANTCLIE

// The key value of a delta row: the original, or the new one when the row was
// offered without it. A key that the row changes is refused.
Variant KeyOf(const DeltaRow& row, const std::string& field) {
  const Variant& o = row.Old(field);
  const Variant& n = row.New(field);
  if (!IsBlank(o) && !SameValue(o, n)) Refuse("O campo " + field + " não pode ser alterado.");
  return IsBlank(o) ? n : o;
}
std::string KeyStr(const DeltaRow& row, const std::string& field) {
  Variant v = KeyOf(row, field);
  try {
    return v.toString();
  } catch (const rtl::Exception&) {  // a date-time beyond any calendar
    Refuse("Campo " + field + " com valor inválido.");
  }
}

void SameBranch(const std::string& rowBranch, const std::string& branch) {
  if (rowBranch != branch)
    Refuse("Registro da filial " + rowBranch + " enviado numa alteração da filial " + branch + ".");
}

void SameDay(const Variant& v, TDateTime day) {
  if (IsBlank(v) || DayOf(v) != day) Refuse("Registro de outro dia enviado numa alteração do dia " + DateText(day) + ".");
}

Variant NonNegative(const Variant& v, const char* message) {
  Variant n = NullableNum(v);
  if (!n.isNull() && n.toDouble() < 0) Refuse(message);
  return n;
}

Variant AsInt(const Variant& v) { return Variant(static_cast<int64_t>(Num(v))); }

}  // namespace

// ---- Service rows of the menu day

Variant PostCard(Call& k, VariantArray& a) {
  NeedArgs(a, 4, "PostCard");
  std::string branch = ArgStr(a, 0), group = ArgStr(a, 5);
  // The service and the operator are not used (rows carry their menu, and
  // the operator is the session's), but they must still be texts.
  ArgStr(a, 1);
  ArgStr(a, 4);
  TDateTime day = ArgDate(a, 2);
  auto rows = ReadDelta(a[3], "cdsCardaDia",
                        [&] {
                          return RowsAllowed(
                              k, "SELECT COUNT(*) FROM CARDAPIO WHERE CDFILIAL = :P_CDFILIAL AND DTCARDAPIO = :P_DIA",
                              {{"P_CDFILIAL", branch}, {"P_DIA", DateVar(day)}});
                        });
  CheckWritable(k, branch);
  CheckEditOnly(rows, {"QTCLIEFETCAR", "QTFUNEFETCAR", "QTDOAEFETCAR", "QTCOMEFETCAR", "QTCOMEFETRI", "QTCOMEFETSL",
                       "DTPROCES"});
  // The total, its copies and DTPROCES follow the three counts: a row that
  // changes none of them is not a save, and the row keeps its operator and date.
  KeepChanging(rows, {"QTCLIEFETCAR", "QTFUNEFETCAR", "QTDOAEFETCAR"});
  db::Transaction t(k.c);
  PlanParams plan = LoadPlanParams(k, branch);
  TDateTime proc = ProcessingDate(k, branch);
  if (!rows.empty()) {
    if (day > proc && plan.allowAfterProc == "N")
      Refuse("Data do cardápio deve ser menor ou igual a data de  processamento.");
    RefuseClosedDay(plan, proc, day);
  }
  for (const auto& row : rows) {
    SameBranch(KeyStr(row, "CDFILIAL"), branch);
    std::string menu = KeyStr(row, "NRCARDAPIO");
    std::string what = "CARDAPIO " + branch + "/" + menu;
    auto stored = k.c.query(std::string("SELECT CDSERVFILI, DTCARDAPIO, QTCLIEFETCAR, QTFUNEFETCAR, QTDOAEFETCAR,"
                                        " QTCOMEFETCAR FROM CARDAPIO WHERE CDFILIAL = :P_CDFILIAL"
                                        " AND NRCARDAPIO = :P_NRCARDAPIO") +
                                ForUpdate(k.c),
                            {{"P_CDFILIAL", branch}, {"P_NRCARDAPIO", menu}});
    if (stored.empty()) Refuse("Cardápio " + menu + " não cadastrado na filial " + branch + ".");
    SameDay(stored.at(0, "DTCARDAPIO"), day);
    std::string service = stored.at(0, "CDSERVFILI").toString();
    CheckOriginal(row, stored, {"QTCLIEFETCAR", "QTFUNEFETCAR", "QTDOAEFETCAR", "QTCOMEFETCAR"}, what);
    Variant cli = NonNegative(row.New("QTCLIEFETCAR"), "Quantidade de clientes deve ser maior ou igual a zero.");
    Variant fun = NonNegative(row.New("QTFUNEFETCAR"), "Quantidade de funcionários deve ser maior ou igual a zero.");
    Variant doa = NonNegative(row.New("QTDOAEFETCAR"), "Quantidade de doações deve ser maior ou igual a zero.");
    Variant total = cli.isNull() && fun.isNull() && doa.isNull()
                        ? Variant::Null()
                        : Variant(Finite(Num(cli) + Num(fun) + Num(doa), "O total de comensais"));
    if (ServiceSettled(k, branch, service, day)) Refuse(kEfetAutoJaApur);
    if (Num(total) == 0 && MenuWithdrawals(k, branch, menu) > 0)
      Refuse("Cardápio possui retirada, total de efetivos deve ser maior do que 0.");
    k.c.exec(
        "UPDATE CARDAPIO SET QTCLIEFETCAR = :P_CLI, QTFUNEFETCAR = :P_FUN, QTDOAEFETCAR = :P_DOA,"
        " QTCOMEFETCAR = :P_TOT, QTCOMEFETRI = :P_TOT0, QTCOMEFETSL = :P_TOT0, DTPROCES = :P_PROC,"
        " CDOPERADOR = :P_OP WHERE CDFILIAL = :P_CDFILIAL AND NRCARDAPIO = :P_NRCARDAPIO",
        {{"P_CLI", cli},
         {"P_FUN", fun},
         {"P_DOA", doa},
         {"P_TOT", total},
         {"P_TOT0", Variant(Num(total))},
         {"P_PROC", DateVar(proc)},
         {"P_OP", k.op},
         {"P_CDFILIAL", branch},
         {"P_NRCARDAPIO", menu}});
    std::string key = menu + " serviço " + service;
    Audit(k, branch, day, "CARDAPIO", key, "QTCLIEFETCAR", stored.at(0, "QTCLIEFETCAR"), cli);
    Audit(k, branch, day, "CARDAPIO", key, "QTFUNEFETCAR", stored.at(0, "QTFUNEFETCAR"), fun);
    Audit(k, branch, day, "CARDAPIO", key, "QTDOAEFETCAR", stored.at(0, "QTDOAEFETCAR"), doa);
    Audit(k, branch, day, "CARDAPIO", key, "QTCOMEFETCAR", stored.at(0, "QTCOMEFETCAR"), total);
  }
  // The day is read back before the commit: a read that fails then undoes the
  // save, so the clerk is never told "failed" about a change that was stored.
  Variant reply = ResultOk(rtl::VarArrayOf({CardaDiaPacket(k, branch, day, group), CompCardPacket(k, branch, day, group),
                                            PratoCardPacket(k, branch, day, group)}));
  t.commit();
  return reply;
}

// ---- Dishes

Variant UpdPratoCard(Call& k, VariantArray& a) {
  NeedArgs(a, 3, "UpdPratoCard");
  std::string branch = ArgStr(a, 1);
  TDateTime day = ArgDate(a, 2);
  auto rows = ReadDelta(a[0], "cdsPratoCard",
                        [&] {
                          return RowsAllowed(k,
                                             "SELECT COUNT(*) FROM PRATOCARDAPIO P JOIN CARDAPIO C ON C.CDFILIAL ="
                                             " P.CDFILIAL AND C.NRCARDAPIO = P.NRCARDAPIO WHERE C.CDFILIAL = :P_CDFILIAL"
                                             " AND C.DTCARDAPIO = :P_DIA",
                                             {{"P_CDFILIAL", branch}, {"P_DIA", DateVar(day)}});
                        });
  CheckWritable(k, branch);
  CheckEditOnly(rows, {"QTCOMEFETPRA", "QTPRODUZPRAT"});
  KeepChanging(rows, {"QTCOMEFETPRA", "QTPRODUZPRAT"});
  db::Transaction t(k.c);
  if (!rows.empty()) RefuseClosedDay(k, branch, day);
  for (const auto& row : rows) {
    SameBranch(KeyStr(row, "CDFILIAL"), branch);
    std::string menu = KeyStr(row, "NRCARDAPIO"), type = KeyStr(row, "CDTIPOPRAT");
    Variant seq = AsInt(KeyOf(row, "NRSEQPRATCAR"));
    auto card = k.c.query("SELECT DTCARDAPIO FROM CARDAPIO WHERE CDFILIAL = :P_CDFILIAL AND NRCARDAPIO = :P_NRCARDAPIO",
                          {{"P_CDFILIAL", branch}, {"P_NRCARDAPIO", menu}});
    if (card.empty()) Refuse("Cardápio " + menu + " não cadastrado na filial " + branch + ".");
    SameDay(card.at(0, "DTCARDAPIO"), day);
    db::Params key{{"P_CDFILIAL", branch}, {"P_NRCARDAPIO", menu}, {"P_CDTIPOPRAT", type}, {"P_SEQ", seq}};
    const char* where =
        " WHERE CDFILIAL = :P_CDFILIAL AND NRCARDAPIO = :P_NRCARDAPIO AND CDTIPOPRAT = :P_CDTIPOPRAT"
        " AND NRSEQPRATCAR = :P_SEQ";
    auto stored = k.c.query(std::string("SELECT QTCOMEFETPRA, QTPRODUZPRAT FROM PRATOCARDAPIO") + where + ForUpdate(k.c), key);
    std::string what = "PRATOCARDAPIO " + menu + "/" + type + "/" + seq.toString();
    if (stored.empty()) Refuse("Prato não cadastrado no cardápio (" + what + ").");
    CheckOriginal(row, stored, {"QTCOMEFETPRA", "QTPRODUZPRAT"}, what);
    Variant qc = NonNegative(row.New("QTCOMEFETPRA"), "Quantidade de comensais do prato deve ser maior ou igual a zero. ");
    Variant qp = NonNegative(row.New("QTPRODUZPRAT"), "Quantidade vendida deve ser maior ou igual a zero.");
    db::Params p = key;
    p.set("P_QC", qc).set("P_QP", qp);
    k.c.exec(std::string("UPDATE PRATOCARDAPIO SET QTCOMEFETPRA = :P_QC, QTPRODUZPRAT = :P_QP") + where, p);
    std::string akey = menu + "/" + type + "/" + seq.toString();
    Audit(k, branch, day, "PRATOCARDAPIO", akey, "QTCOMEFETPRA", stored.at(0, "QTCOMEFETPRA"), qc);
    Audit(k, branch, day, "PRATOCARDAPIO", akey, "QTPRODUZPRAT", stored.at(0, "QTPRODUZPRAT"), qp);
  }
  Variant reply = ResultOk(CompCardPacket(k, branch, day, ""));  // read back before the commit, as in PostCard
  t.commit();
  return reply;
}

// ---- Turnstiles

Variant SetEfetCat(Call& k, VariantArray& a) {
  NeedArgs(a, 1, "SetEfetCat");
  // A read holds the turnstiles of one service and day: never more than there are.
  auto rows = ReadDelta(a[0], "cdsEfetCat", [&] { return RowsAllowed(k, "SELECT COUNT(*) FROM CATRACA", {}); });
  CheckEditOnly(rows, {"QTEFETCATINI", "QTEFETCATFIM", "QTEFETCATTOT", "CDFILIAL", "CDSERVFILI", "DTEFETCAT"});
  KeepChanging(rows, {"QTEFETCATINI", "QTEFETCATFIM"});
  db::Transaction t(k.c);
  for (const auto& row : rows) {
    std::string branch = KeyStr(row, "CDFILIAL"), service = KeyStr(row, "CDSERVFILI"), cat = KeyStr(row, "CDCATRACA");
    CheckWritable(k, branch);
    Variant dayV = KeyOf(row, "DTEFETCAT");
    if (IsBlank(dayV)) Refuse("Data da medição da catraca deve ser informada.");
    TDateTime day = DayOf(dayV);
    auto known = k.c.query(
        "SELECT CDCATRACA FROM CATRACA WHERE CDFILIAL = :P_CDFILIAL AND CDCATRACA = :P_CAT AND CDSERVFILI = :P_SERV",
        {{"P_CDFILIAL", branch}, {"P_CAT", cat}, {"P_SERV", service}});
    if (known.empty()) Refuse("Catraca " + cat + " não cadastrada para o serviço " + service + ".");
    db::Params key{{"P_CDFILIAL", branch}, {"P_CAT", cat}, {"P_SERV", service}, {"P_DIA", DateVar(day)}};
    const char* where =
        " WHERE CDFILIAL = :P_CDFILIAL AND CDCATRACA = :P_CAT AND CDSERVFILI = :P_SERV AND DTEFETCAT = :P_DIA";
    auto stored = k.c.query(
        std::string("SELECT QTEFETCATINI, QTEFETCATFIM, QTEFETCATTOT FROM EFETCATRACA") + where + ForUpdate(k.c), key);
    CheckOriginal(row, stored, {"QTEFETCATINI", "QTEFETCATFIM"}, "EFETCATRACA " + branch + "/" + cat);
    Variant ini = NullableNum(row.New("QTEFETCATINI")), fim = NullableNum(row.New("QTEFETCATFIM"));
    if (ini.isNull()) Refuse("Contador inicial da catraca deve ser informado.");
    if (fim.isNull()) Refuse("Contador final da catraca deve ser informado.");
    if (ini.toDouble() < 0) Refuse("Contador inicial da catraca deve ser maior ou igual a zero.");
    if (fim.toDouble() < 0) Refuse("Contador final da catraca deve ser maior ou igual a zero.");
    if (fim.toDouble() < ini.toDouble())
      Refuse("Contador inicial da catraca deve ser menor ou igual ao contador final.");
    Variant tot(fim.toDouble() - ini.toDouble());
    db::Params p = key;
    p.set("P_INI", ini).set("P_FIM", fim).set("P_TOT", tot);
    if (stored.empty())
      k.c.exec(
          "INSERT INTO EFETCATRACA (CDFILIAL, CDCATRACA, CDSERVFILI, DTEFETCAT, QTEFETCATINI, QTEFETCATFIM,"
          " QTEFETCATTOT) VALUES (:P_CDFILIAL, :P_CAT, :P_SERV, :P_DIA, :P_INI, :P_FIM, :P_TOT)",
          p);
    else
      k.c.exec(std::string("UPDATE EFETCATRACA SET QTEFETCATINI = :P_INI, QTEFETCATFIM = :P_FIM,"
                           " QTEFETCATTOT = :P_TOT") + where,
               p);
    Variant none = Variant::Null();
    std::string akey = cat + " serviço " + service;
    Audit(k, branch, day, "EFETCATRACA", akey, "QTEFETCATINI", stored.empty() ? none : stored.at(0, "QTEFETCATINI"), ini);
    Audit(k, branch, day, "EFETCATRACA", akey, "QTEFETCATFIM", stored.empty() ? none : stored.at(0, "QTEFETCATFIM"), fim);
    Audit(k, branch, day, "EFETCATRACA", akey, "QTEFETCATTOT", stored.empty() ? none : stored.at(0, "QTEFETCATTOT"), tot);
  }
  t.commit();
  return ResultOk(Variant::Null());
}

// ---- Shifts

Variant SetTurnoCliente(Call& k, VariantArray& a) {
  NeedArgs(a, 1, "SetTurnoCliente");
  // A read holds the shifts of one branch: never more than there are.
  auto rows = ReadDelta(a[0], "cdsTurnoCliente", [&] { return RowsAllowed(k, "SELECT COUNT(*) FROM TURNO", {}); });
  CheckEditOnly(rows, {"QTCOMTURNCLI", "CDCLIENTE", "DTFATTURNO"});
  KeepChanging(rows, {"QTCOMTURNCLI"});
  db::Transaction t(k.c);
  struct Client {
    std::string branch, billed, client;
    TDateTime day;
    double qt;
  };
  std::map<std::string, Client> clients;
  for (const auto& row : rows) {
    std::string branch = KeyStr(row, "CDFILIAL"), billed = KeyStr(row, "CDSERVFILI");
    std::string client = KeyStr(row, "CDCLIENTE"), shift = KeyStr(row, "CDTURNO");
    CheckWritable(k, branch);
    Variant dayV = KeyOf(row, "DTFATTURNO");
    if (IsBlank(dayV) || client.empty()) Refuse("Turno sem cliente ou sem data.");
    TDateTime day = DayOf(dayV);
    RefuseClosedDay(k, branch, day);
    auto member = k.c.query(
        "SELECT CDCLIENTE FROM SERVFATUCLIE WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT"
        " AND CDCLIENTE = :P_CLI",
        {{"P_CDFILIAL", branch}, {"P_FAT", billed}, {"P_CLI", client}});
    if (member.empty()) Refuse("Cliente " + client + " não pertence ao serviço de faturamento " + billed + ".");
    auto known = k.c.query("SELECT CDTURNO FROM TURNO WHERE CDFILIAL = :P_CDFILIAL AND CDTURNO = :P_TURNO",
                           {{"P_CDFILIAL", branch}, {"P_TURNO", shift}});
    if (known.empty()) Refuse("Turno " + shift + " não cadastrado na filial " + branch + ".");
    if (LoadBranchParams(k, branch).closedClientRule() && !SettlementOf(k, branch, client, day).empty())
      Refuse(kEfetApur);
    db::Params key{{"P_CDFILIAL", branch}, {"P_FAT", billed}, {"P_CLI", client}, {"P_DIA", DateVar(day)},
                   {"P_TURNO", shift}};
    const char* where =
        " WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT AND CDCLIENTE = :P_CLI"
        " AND DTFATTURNO = :P_DIA AND CDTURNO = :P_TURNO";
    auto stored = k.c.query(std::string("SELECT QTCOMTURNCLI FROM TURNOCLIENTE") + where + ForUpdate(k.c), key);
    CheckOriginal(row, stored, {"QTCOMTURNCLI"}, "TURNOCLIENTE " + client + "/" + shift);
    Variant q = NonNegative(row.New("QTCOMTURNCLI"), "Quantidade de Comensais do Turno deve ser maior ou igual a zero");
    if (q.isNull()) q = Variant(0.0);
    auto efet = k.c.query(
        "SELECT QTCOMEFETCLI FROM EFETCLIE WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT"
        " AND CDCLIENTE = :P_CLI AND DTEFETCLIE = :P_DIA",
        key);
    double clientQt = efet.empty() ? 0 : Num(efet.rows[0][0]);
    if (q.toDouble() > clientQt)
      Refuse("Quantidade de comensais do turno não pode ser maior que a quantidade de comensais do  cliente");
    db::Params p = key;
    p.set("P_QT", q);
    if (stored.empty())
      k.c.exec(
          "INSERT INTO TURNOCLIENTE (CDFILIAL, CDSERVICFATURAM, CDCLIENTE, DTFATTURNO, CDTURNO, QTCOMTURNCLI)"
          " VALUES (:P_CDFILIAL, :P_FAT, :P_CLI, :P_DIA, :P_TURNO, :P_QT)",
          p);
    else
      k.c.exec(std::string("UPDATE TURNOCLIENTE SET QTCOMTURNCLI = :P_QT") + where, p);
    Audit(k, branch, day, "TURNOCLIENTE", billed + "/" + client + " turno " + shift, "QTCOMTURNCLI",
          stored.empty() ? Variant::Null() : stored.at(0, "QTCOMTURNCLI"), q);
    clients[branch + "|" + billed + "|" + client + "|" + DateText(day)] = {branch, billed, client, day, clientQt};
  }
  // The shifts of a client add up to nothing or to the client's headcount.
  for (const auto& [id, cl] : clients) {
    auto s = k.c.query(
        "SELECT SUM(COALESCE(QTCOMTURNCLI, 0)) FROM TURNOCLIENTE WHERE CDFILIAL = :P_CDFILIAL"
        " AND CDSERVICFATURAM = :P_FAT AND CDCLIENTE = :P_CLI AND DTFATTURNO = :P_DIA",
        {{"P_CDFILIAL", cl.branch}, {"P_FAT", cl.billed}, {"P_CLI", cl.client}, {"P_DIA", DateVar(cl.day)}});
    double sum = Finite(Num(s.rows[0][0]), "A soma dos comensais dos turnos");
    if (sum != 0 && sum != cl.qt) Refuse("Soma total dos comensais dos turnos deve ser igual ao faturado pelo cliente");
  }
  t.commit();
  return ResultOk(Variant::Null());
}

// ---- Client headcounts and apportionment lines

namespace {

struct Billed {
  std::string planned, variableValue;
};

Billed BilledOf(Call& k, const std::string& branch, const std::string& billed) {
  auto r = k.c.query("SELECT CDSERVFILI, IDVLRVARDATA FROM SERVFATU WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT",
                     {{"P_CDFILIAL", branch}, {"P_FAT", billed}});
  if (r.empty()) Refuse("Serviço de faturamento " + billed + " não cadastrado na filial " + branch + ".");
  return {r.rows[0][0].toString(), r.rows[0][1].toString()};
}

void CheckMember(Call& k, const std::string& branch, const std::string& billed, const std::string& client) {
  auto r = k.c.query(
      "SELECT CDCLIENTE FROM SERVFATUCLIE WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT AND CDCLIENTE = :P_CLI",
      {{"P_CDFILIAL", branch}, {"P_FAT", billed}, {"P_CLI", client}});
  if (r.empty()) Refuse("Cliente " + client + " não pertence ao serviço de faturamento " + billed + ".");
}

// A settled client under the closed-client rule: the screen shows EfetAutoJaApur.
struct SettledClient {};

}  // namespace

Variant UpdEfetClie(Call& k, VariantArray& a) {
  NeedArgs(a, 4, "UpdEfetClie");
  std::string branch = ArgStr(a, 1), service = ArgStr(a, 2), menu = ArgStr(a, 5);
  TDateTime day = ArgDate(a, 3);
  // The clients of the service's billed services, and one line per client and item.
  const std::string members =
      " FROM SERVFATU F JOIN SERVFATUCLIE SC ON SC.CDFILIAL = F.CDFILIAL AND SC.CDSERVICFATURAM = F.CDSERVICFATURAM";
  const db::Params serviceKey{{"P_CDFILIAL", branch}, {"P_SERV", service}};
  auto clients = ReadDelta(a[0], "cdsServCli", [&] {
    return RowsAllowed(k, "SELECT COUNT(*)" + members + " WHERE F.CDFILIAL = :P_CDFILIAL AND F.CDSERVFILI = :P_SERV",
                       serviceKey);
  });
  bool billingPage = false;
  try {
    billingPage = a.size() > 4 && !a[4].isNullOrEmpty() && a[4].toBool();
  } catch (const rtl::Exception&) {
    Refuse("Argumento 5 deve ser um valor lógico.");
  }
  auto lines = a.size() > 6 ? ReadDelta(a[6], "cdsItRatEfet",
                                        [&] {
                                          return RowsAllowed(k,
                                                             "SELECT COUNT(*)" + members +
                                                                 " JOIN ITEMRATEIO I ON I.CDFILIAL = SC.CDFILIAL AND"
                                                                 " I.CDSERVICFATURAM = SC.CDSERVICFATURAM WHERE"
                                                                 " F.CDFILIAL = :P_CDFILIAL AND F.CDSERVFILI = :P_SERV",
                                                             serviceKey);
                                        })
                             : std::vector<DeltaRow>{};
  if (clients.empty() && lines.empty()) return Variant();
  CheckWritable(k, branch);
  CheckEditOnly(clients, {"NMFANTCLIE", "QTCOMEFETCLI", "VRSERVFATUEFCLI", "QTVENDAEFETCLI", "DTEFETCLIE", "CDSERVPLAN"});
  CheckEditOnly(lines, {"NRITRATEFETCLIE", "QTEFETIVOS", "CDFILIAL", "CDSERVFILI", "CDCLIENTE", "DTEFETCLIE",
                        "CDSERVPLAN"});
  KeepChanging(clients, {"NMFANTCLIE", "QTCOMEFETCLI", "VRSERVFATUEFCLI", "QTVENDAEFETCLI"});
  KeepChanging(lines, {"NRITRATEFETCLIE", "QTEFETIVOS"});
  if (clients.empty() && lines.empty()) return Variant();
  db::Transaction t(k.c);
  RefuseClosedDay(k, branch, day);
  BranchParams bp = LoadBranchParams(k, branch);
  auto settledCheck = [&](const std::string& client) {
    if (bp.closedClientRule() && !SettlementOf(k, branch, client, day).empty()) throw SettledClient{};
  };
  try {
    for (const auto& row : clients) {
      SameBranch(KeyStr(row, "CDFILIAL"), branch);
      std::string billed = KeyStr(row, "CDSERVFILI"), client = KeyStr(row, "CDCLIENTE");
      Billed b = BilledOf(k, branch, billed);
      if (b.planned != service) Refuse("Serviço de faturamento " + billed + " não pertence ao serviço " + service + ".");
      CheckMember(k, branch, billed, client);
      if (!IsBlank(row.New("DTEFETCLIE"))) SameDay(row.New("DTEFETCLIE"), day);
      if (!IsBlank(row.New("CDSERVPLAN")) && row.New("CDSERVPLAN").toString() != service)
        Refuse("Serviço do planejamento " + row.New("CDSERVPLAN").toString() + " difere do serviço " + service + ".");
      settledCheck(client);
      std::string what = "EFETCLIE " + billed + "/" + client;
      db::Params key{{"P_CDFILIAL", branch}, {"P_FAT", billed}, {"P_CLI", client}, {"P_DIA", DateVar(day)}};
      const char* where =
          " WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT AND CDCLIENTE = :P_CLI AND DTEFETCLIE = :P_DIA";
      auto stored = k.c.query(
          std::string("SELECT QTCOMEFETCLI, VRSERVFATUEFCLI, QTVENDAEFETCLI FROM EFETCLIE") + where + ForUpdate(k.c), key);
      CheckOriginal(row, stored, {"QTCOMEFETCLI", "VRSERVFATUEFCLI", "QTVENDAEFETCLI"}, what);
      if (row.Changed("NMFANTCLIE")) {
        CheckTextSize(row.New("NMFANTCLIE"), kTradeNameSize, "Nome fantasia do cliente");
        auto name = k.c.query(std::string("SELECT NMFANTCLIE FROM CLIENTE WHERE CDCLIENTE = :P_CLI") + ForUpdate(k.c),
                              {{"P_CLI", client}});
        CheckOriginal(row, name, {"NMFANTCLIE"}, "CLIENTE " + client);
        Variant newName = IsBlank(row.New("NMFANTCLIE")) ? Variant::Null() : row.New("NMFANTCLIE");
        k.c.exec("UPDATE CLIENTE SET NMFANTCLIE = :P_NOME WHERE CDCLIENTE = :P_CLI", {{"P_NOME", newName}, {"P_CLI", client}});
        Audit(k, branch, day, "CLIENTE", client, "NMFANTCLIE", name.empty() ? Variant::Null() : name.at(0, "NMFANTCLIE"),
              newName);
      }
      Variant qt = NonNegative(row.New("QTCOMEFETCLI"), "Quantidade de efetivos deve ser maior ou igual a zero.");
      if (qt.isNull()) qt = Variant(0.0);
      Variant vr = NullableNum(row.New("VRSERVFATUEFCLI"));
      if (row.Changed("VRSERVFATUEFCLI") && b.variableValue != "S")
        Refuse("Valor de venda só pode ser informado em serviço de faturamento com valor variável por data.");
      Variant vd = NullableNum(row.New("QTVENDAEFETCLI"));
      db::Params p = key;
      p.set("P_QT", qt).set("P_VR", vr).set("P_VD", vd).set("P_PLAN", service);
      if (stored.empty())
        k.c.exec(
            "INSERT INTO EFETCLIE (CDFILIAL, CDSERVICFATURAM, CDCLIENTE, DTEFETCLIE, CDSERVPLAN, QTCOMEFETCLI,"
            " VRSERVFATUEFCLI, QTVENDAEFETCLI) VALUES (:P_CDFILIAL, :P_FAT, :P_CLI, :P_DIA, :P_PLAN, :P_QT, :P_VR, :P_VD)",
            p);
      else
        k.c.exec(std::string("UPDATE EFETCLIE SET QTCOMEFETCLI = :P_QT, VRSERVFATUEFCLI = :P_VR, QTVENDAEFETCLI = :P_VD") +
                     where,
                 p);
      Variant none = Variant::Null();
      std::string akey = billed + "/" + client;
      Audit(k, branch, day, "EFETCLIE", akey, "QTCOMEFETCLI", stored.empty() ? none : stored.at(0, "QTCOMEFETCLI"), qt);
      Audit(k, branch, day, "EFETCLIE", akey, "VRSERVFATUEFCLI", stored.empty() ? none : stored.at(0, "VRSERVFATUEFCLI"), vr);
      Audit(k, branch, day, "EFETCLIE", akey, "QTVENDAEFETCLI", stored.empty() ? none : stored.at(0, "QTVENDAEFETCLI"), vd);
    }

    // Apportionment lines: stored lines keep their numbers; a line the screen
    // numbered with a negative number gets the next real one.
    std::set<int64_t> screenNumbers;
    for (const auto& row : lines) {
      SameBranch(KeyStr(row, "CDFILIAL"), branch);
      std::string billed = KeyStr(row, "CDSERVFILI"), client = KeyStr(row, "CDCLIENTE");
      SameDay(KeyOf(row, "DTEFETCLIE"), day);
      Billed b = BilledOf(k, branch, billed);
      if (b.planned != service || KeyStr(row, "CDSERVPLAN") != service)
        Refuse("Linha de rateio de outro serviço enviada numa alteração do serviço " + service + ".");
      CheckMember(k, branch, billed, client);
      settledCheck(client);
      Variant item = AsInt(row.Old("NRITEMRATEIOEFET"));
      auto known = k.c.query(
          "SELECT NRITEMRATEIOEFET FROM ITEMRATEIO WHERE NRITEMRATEIOEFET = :P_ITEM AND CDFILIAL = :P_CDFILIAL"
          " AND CDSERVICFATURAM = :P_FAT",
          {{"P_ITEM", item}, {"P_CDFILIAL", branch}, {"P_FAT", billed}});
      if (known.empty()) Refuse("Item de rateio " + item.toString() + " não pertence ao serviço " + billed + ".");
      Variant q = NonNegative(row.New("QTEFETIVOS"), "Quantidade de efetivos deve ser maior que zero.");
      if (!q.isNull() && q.toDouble() == 0) q = Variant::Null();  // a line never keeps 0
      const Variant& oldNr = row.Old("NRITRATEFETCLIE");
      const Variant& newNr = row.New("NRITRATEFETCLIE");
      if (IsBlank(oldNr)) {
        if (IsBlank(newNr)) {
          if (!q.isNull()) Refuse("Linha de rateio sem número.");
          continue;
        }
        double n = Num(newNr);
        if (n >= 0 || n != static_cast<double>(static_cast<int64_t>(n)))
          Refuse("Número de linha de rateio inválido: " + newNr.toString() + ".");
        if (!screenNumbers.insert(static_cast<int64_t>(n)).second)
          Refuse("Número de linha de rateio repetido: " + newNr.toString() + ".");
        auto exists = k.c.query(
            "SELECT NRITRATEFETCLIE FROM ITRATEFETCLIE WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT"
            " AND CDCLIENTE = :P_CLI AND DTEFETCLIE = :P_DIA AND NRITEMRATEIOEFET = :P_ITEM",
            {{"P_CDFILIAL", branch}, {"P_FAT", billed}, {"P_CLI", client}, {"P_DIA", DateVar(day)}, {"P_ITEM", item}});
        if (!exists.empty()) RefuseStale("ITRATEFETCLIE " + client + "/" + item.toString());
        if (q.isNull()) continue;
        int64_t nr = NextNumber(k.c, "ITRATEFETCLIE");
        k.c.exec(
            "INSERT INTO ITRATEFETCLIE (NRITRATEFETCLIE, CDFILIAL, CDSERVICFATURAM, CDCLIENTE, DTEFETCLIE, CDSERVPLAN,"
            " NRITEMRATEIOEFET, QTEFETIVOS) VALUES (:P_NR, :P_CDFILIAL, :P_FAT, :P_CLI, :P_DIA, :P_PLAN, :P_ITEM, :P_QT)",
            {{"P_NR", Variant(nr)},
             {"P_CDFILIAL", branch},
             {"P_FAT", billed},
             {"P_CLI", client},
             {"P_DIA", DateVar(day)},
             {"P_PLAN", service},
             {"P_ITEM", item},
             {"P_QT", q}});
        Audit(k, branch, day, "ITRATEFETCLIE", std::to_string(nr) + " " + billed + "/" + client + " item " + item.toString(),
              "QTEFETIVOS", Variant::Null(), q);
      } else {
        if (!SameValue(oldNr, newNr)) Refuse("O número da linha de rateio não pode ser alterado.");
        Variant nr = AsInt(oldNr);
        auto stored = k.c.query(std::string("SELECT CDFILIAL, CDSERVICFATURAM, CDCLIENTE, DTEFETCLIE, NRITEMRATEIOEFET,"
                                            " QTEFETIVOS FROM ITRATEFETCLIE WHERE NRITRATEFETCLIE = :P_NR") +
                                    ForUpdate(k.c),
                                {{"P_NR", nr}});
        std::string what = "ITRATEFETCLIE " + nr.toString();
        if (stored.empty()) RefuseStale(what);
        if (stored.at(0, "CDFILIAL").toString() != branch || stored.at(0, "CDSERVICFATURAM").toString() != billed ||
            stored.at(0, "CDCLIENTE").toString() != client || DayOf(stored.at(0, "DTEFETCLIE")) != day ||
            !SameValue(stored.at(0, "NRITEMRATEIOEFET"), item))
          Refuse("Linha de rateio " + nr.toString() + " não corresponde às suas chaves.");
        CheckOriginal(row, stored, {"QTEFETIVOS"}, what);
        k.c.exec("UPDATE ITRATEFETCLIE SET QTEFETIVOS = :P_QT WHERE NRITRATEFETCLIE = :P_NR", {{"P_QT", q}, {"P_NR", nr}});
        Audit(k, branch, day, "ITRATEFETCLIE", nr.toString() + " " + billed + "/" + client + " item " + item.toString(),
              "QTEFETIVOS", stored.at(0, "QTEFETIVOS"), q);
      }
    }
  } catch (const SettledClient&) {
    return rtl::VarArrayOf({"EfetAutoJaApur"});
  }

  // With IDCOPALTEFEPLA the clients' total becomes the planned client headcount.
  if (bp.copyFlag == "S" && billingPage && !clients.empty()) {
    std::string sql =
        "SELECT NRCARDAPIO, QTCLIEFETCAR, QTFUNEFETCAR, QTDOAEFETCAR, QTCOMEFETCAR FROM CARDAPIO"
        " WHERE CDFILIAL = :P_CDFILIAL AND CDSERVFILI = :P_SERV AND DTCARDAPIO = :P_DIA";
    auto card = k.c.query(sql + ForUpdate(k.c), {{"P_CDFILIAL", branch}, {"P_SERV", service}, {"P_DIA", DateVar(day)}});
    if (!card.empty()) {
      std::string nr = card.at(0, "NRCARDAPIO").toString();
      if (!menu.empty() && menu != nr) Refuse("Cardápio " + menu + " não é o do serviço " + service + " no dia.");
      auto sum = k.c.query(
          "SELECT SUM(COALESCE(QTCOMEFETCLI, 0) + COALESCE(QTVENDAEFETCLI, 0)) FROM EFETCLIE"
          " WHERE CDFILIAL = :P_CDFILIAL AND CDSERVPLAN = :P_SERV AND DTEFETCLIE = :P_DIA",
          {{"P_CDFILIAL", branch}, {"P_SERV", service}, {"P_DIA", DateVar(day)}});
      Variant cli(Finite(Num(sum.rows[0][0]), "A soma dos efetivos dos clientes"));
      Variant total(Finite(cli.toDouble() + Num(card.at(0, "QTFUNEFETCAR")) + Num(card.at(0, "QTDOAEFETCAR")),
                           "O total de comensais"));
      k.c.exec(
          "UPDATE CARDAPIO SET QTCLIEFETCAR = :P_CLI, QTCOMEFETCAR = :P_TOT, QTCOMEFETRI = :P_TOT, QTCOMEFETSL = :P_TOT,"
          " CDOPERADOR = :P_OP WHERE CDFILIAL = :P_CDFILIAL AND NRCARDAPIO = :P_NR",
          {{"P_CLI", cli}, {"P_TOT", total}, {"P_OP", k.op}, {"P_CDFILIAL", branch}, {"P_NR", nr}});
      std::string key = nr + " serviço " + service;
      Audit(k, branch, day, "CARDAPIO", key, "QTCLIEFETCAR", card.at(0, "QTCLIEFETCAR"), cli);
      Audit(k, branch, day, "CARDAPIO", key, "QTCOMEFETCAR", card.at(0, "QTCOMEFETCAR"), total);
      Variant reply = rtl::VarArrayOf({CardaDiaPacket(k, branch, day, ""), CompCardPacket(k, branch, day, ""),
                                       PratoCardPacket(k, branch, day, "")});  // read back before the commit
      t.commit();
      return reply;
    }
  }
  t.commit();
  return rtl::VarArrayOf({"OK"});
}

// ---- Consolidation

Variant SetConsolEfet(Call& k, VariantArray& a) {
  NeedArgs(a, 3, "SetConsolEfet");
  // The fourth argument is the stamp of GetEfetPlanCli's read; a caller that
  // predates it is not checked for changes since its read.
  std::string branch = ArgStr(a, 0), service = ArgStr(a, 1), stamp = ArgStr(a, 3);
  CheckWritable(k, branch);
  if (!a[2].isPacket()) Refuse("Efetivos consolidados não vieram num pacote de dados.");
  std::set<std::string> members;
  for (const auto& row : k.c.query("SELECT SC.CDCLIENTE FROM SERVFATU F JOIN SERVFATUCLIE SC ON SC.CDFILIAL = F.CDFILIAL"
                                   " AND SC.CDSERVICFATURAM = F.CDSERVICFATURAM"
                                   " WHERE F.CDFILIAL = :P_CDFILIAL AND F.CDSERVFILI = :P_SERV",
                                   {{"P_CDFILIAL", branch}, {"P_SERV", service}})
                            .rows)
    members.insert(row[0].toString());
  // One row per menu day of the service and client: never more.
  const size_t maxRows = members.size() * RowsAllowed(k,
                                                      "SELECT COUNT(*) FROM CARDAPIO WHERE CDFILIAL = :P_CDFILIAL"
                                                      " AND CDSERVFILI = :P_SERV",
                                                      {{"P_CDFILIAL", branch}, {"P_SERV", service}});
  size_t count = 0;
  // day -> client -> (quantity, name)
  std::map<double, std::map<std::string, double>> days;
  try {
    data::PacketReader r(a[2].asPacket());
    int iDay = r.FieldIndex("DTCARDAPIO"), iCli = r.FieldIndex("CDCLIENTE"), iQt = r.FieldIndex("QTEFETFAT");
    if (iDay < 0 || iCli < 0 || iQt < 0) Refuse("Pacote de efetivos consolidados sem DTCARDAPIO, CDCLIENTE ou QTEFETFAT.");
    while (r.Next()) {
      if (r.Status() == data::TUpdateStatus::Deleted) continue;
      if (++count > maxRows) Refuse("Pacote de efetivos consolidados com mais linhas do que o período pode ter.");
      const auto& v = r.Values();
      if (IsBlank(v[iDay]) || IsBlank(v[iCli])) Refuse("Linha consolidada sem data ou sem cliente.");
      TDateTime day = DayOf(v[iDay]);
      Variant q = NullableNum(v[iQt]);
      double qt = q.isNull() ? 0 : q.toDouble();
      if (qt < 0) Refuse("Efetivos consolidados não podem ser negativos.");
      if (!days[day].emplace(v[iCli].toString(), qt).second)
        Refuse("Cliente " + v[iCli].toString() + " repetido no dia " + DateText(day) + ".");
    }
  } catch (const rtl::EDatabaseError& e) {
    Refuse(std::string("Pacote de efetivos consolidados inválido: ") + e.what());
  } catch (const rtl::EConvertError& e) {  // a client code of a type that has no text
    Refuse(std::string("Pacote de efetivos consolidados inválido: ") + e.what());
  }
  if (days.empty()) Refuse("Nenhum efetivo consolidado recebido.");
  db::Transaction t(k.c);
  if (!stamp.empty()) CheckConsolStamp(k, branch, service, stamp);
  bool changed = false;
  std::string differ;
  for (const auto& [day, rows] : days) {
    auto card = k.c.query(std::string("SELECT QTCLIEFETCAR FROM CARDAPIO WHERE CDFILIAL = :P_CDFILIAL"
                                      " AND CDSERVFILI = :P_SERV AND DTCARDAPIO = :P_DIA") +
                              ForUpdate(k.c),
                          {{"P_CDFILIAL", branch}, {"P_SERV", service}, {"P_DIA", DateVar(day)}});
    if (card.empty()) Refuse("Não há cardápio do serviço " + service + " no dia " + DateText(day) + ".");
    if (ServiceSettled(k, branch, service, day)) Refuse("Período contempla dias já apurados (" + DateText(day) + ").");
    double sum = 0;
    for (const auto& [client, qt] : rows) {
      if (!members.count(client)) Refuse("Cliente " + client + " não é atendido pelo serviço " + service + ".");
      sum = Finite(sum + qt, "A soma dos efetivos consolidados do dia " + DateText(day));
    }
    if (sum != Num(card.rows[0][0])) differ += "\n\r" + DateText(day) + "  -  (" + rtl::Variant(sum - Num(card.rows[0][0])).toString() + ")";
  }
  if (!differ.empty()) Refuse("Efetivos do Faturamento difere dos efetivos do planejamento no(s) dia(s): " + differ);
  for (const auto& [day, rows] : days) {
    db::Params dp{{"P_CDFILIAL", branch}, {"P_SERV", service}, {"P_DIA", DateVar(day)}};
    std::map<std::string, double> stored;
    for (const auto& row : k.c.query(std::string("SELECT CDCLIENTE, QTEFETFAT FROM EFETCONSOL WHERE CDFILIAL = :P_CDFILIAL"
                                                 " AND CDSERVFILI = :P_SERV AND DTCARDAPIO = :P_DIA") +
                                         ForUpdate(k.c),
                                     dp)
                              .rows)
      stored[row[0].toString()] = Num(row[1]);
    for (const auto& [client, qt] : rows) {
      auto it = stored.find(client);
      if (it != stored.end() && it->second == qt) continue;
      db::Params p = dp;
      p.set("P_CLI", client).set("P_QT", Variant(qt)).set("P_OP", k.op);
      if (it == stored.end())
        k.c.exec("INSERT INTO EFETCONSOL (CDFILIAL, CDSERVFILI, DTCARDAPIO, CDCLIENTE, QTEFETFAT, CDOPERADOR)"
                 " VALUES (:P_CDFILIAL, :P_SERV, :P_DIA, :P_CLI, :P_QT, :P_OP)",
                 p);
      else
        k.c.exec("UPDATE EFETCONSOL SET QTEFETFAT = :P_QT, CDOPERADOR = :P_OP WHERE CDFILIAL = :P_CDFILIAL"
                 " AND CDSERVFILI = :P_SERV AND DTCARDAPIO = :P_DIA AND CDCLIENTE = :P_CLI",
                 p);
      Audit(k, branch, day, "EFETCONSOL", service + "/" + client, "QTEFETFAT",
            it == stored.end() ? Variant::Null() : Variant(it->second), Variant(qt));
      changed = true;
    }
    for (const auto& [client, qt] : stored) {
      if (rows.count(client)) continue;
      db::Params p = dp;
      p.set("P_CLI", client);
      k.c.exec("DELETE FROM EFETCONSOL WHERE CDFILIAL = :P_CDFILIAL AND CDSERVFILI = :P_SERV AND DTCARDAPIO = :P_DIA"
               " AND CDCLIENTE = :P_CLI",
               p);
      Audit(k, branch, day, "EFETCONSOL", service + "/" + client, "QTEFETFAT", Variant(qt), Variant::Null());
      changed = true;
    }
  }
  t.commit();
  return ResultOk(changed ? std::string() : std::string("Consolidação sem alterações."));
}

}  // namespace server::methods
