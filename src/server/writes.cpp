// The methods that write the menu day: its service rows, dishes, turnstile
// counters and shifts. Each runs in one transaction: the first refused row
// ends the call and the transaction's destructor rolls everything back. The
// client headcounts are in writes_clients.cpp, the consolidation in
// writes_consol.cpp.

#include <map>
#include <set>

#include "contracts/result.h"
#include "server/datasets.h"
#include "server/methods.h"
#include "server/row_checks.h"
#include "server/schema.h"

namespace server::methods {

using contracts::ResultOk;

namespace {

const char* kEfetAutoJaApur =
    "Operação bloqueada. Efetivos dos clientes relacionados já apurados na data selecionada.";
const char* kEfetApur = "Efetivos do cliente já apurados na data selecionada.";

}  // namespace


// ---- Service rows of the menu day

Variant PostCard(Call& k, VariantArray& a) {
  using A = args::PostCard;
  std::string branch = ArgStr(a, A::kFilial), group = ArgStr(a, A::kGrupo);
  // The service and the operator are not used, but they must still be texts.
  ArgStr(a, A::kServico);
  ArgStr(a, A::kOperador);
  TDateTime day = ArgDate(a, A::kData);
  auto rows = ReadDelta(a[A::kDelta], "cdsCardaDia",
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
  using A = args::UpdPratoCard;
  std::string branch = ArgStr(a, A::kFilial);
  TDateTime day = ArgDate(a, A::kData);
  auto rows = ReadDelta(a[A::kDelta], "cdsPratoCard",
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
  // A read holds the turnstiles of one service and day: never more than there are.
  auto rows = ReadDelta(a[args::SetEfetCat::kDelta], "cdsEfetCat", [&] { return RowsAllowed(k, "SELECT COUNT(*) FROM CATRACA", {}); });
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
  // A read holds the shifts of one branch: never more than there are.
  auto rows = ReadDelta(a[args::SetTurnoCliente::kDelta], "cdsTurnoCliente", [&] { return RowsAllowed(k, "SELECT COUNT(*) FROM TURNO", {}); });
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
    CheckMember(k, branch, billed, client);
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

}  // namespace server::methods
