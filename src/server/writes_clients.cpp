// UpdEfetClie: the client headcounts of a planned service's billed services
// and their apportionment lines, in one transaction. It reads as PostCard
// does: the request is read and checked before anything is locked, then each
// row is checked against what is stored and written with its audit rows, and
// the reply is read back before the commit.

#include <set>

#include "server/methods.h"
#include "server/row_checks.h"
#include "server/schema.h"

namespace server::methods {

namespace {

constexpr size_t kTradeNameSize = 100;  // CLIENTE.NMFANTCLIE

// The clients of the service's billed services, and one line per client and item.
const char* const kMembers =
    " FROM SERVFATU F JOIN SERVFATUCLIE SC ON SC.CDFILIAL = F.CDFILIAL AND SC.CDSERVICFATURAM = F.CDSERVICFATURAM";

// The request, named: what the screen sent in UpdEfetClie's slots.
struct ClientUpdate {
  std::string branch, service, menu;
  TDateTime day = 0;
  bool billingPage = false;  // sent from the billing page: the plan may take the clients' total
  std::vector<DeltaRow> clients, lines;
  bool empty() const { return clients.empty() && lines.empty(); }
};

// Reads the arguments and both deltas; each delta is bounded by the rows the
// service's read can hold.
ClientUpdate ReadClientUpdate(Call& k, const VariantArray& a) {
  using A = args::UpdEfetClie;
  ClientUpdate in;
  in.branch = ArgStr(a, A::kFilial);
  in.service = ArgStr(a, A::kServico);
  in.menu = ArgStr(a, A::kCardapio);
  in.day = ArgDate(a, A::kData);
  const db::Params serviceKey{{"P_CDFILIAL", in.branch}, {"P_SERV", in.service}};
  in.clients = ReadDelta(a[A::kClientes], "cdsServCli", [&] {
    return RowsAllowed(k, std::string("SELECT COUNT(*)") + kMembers + " WHERE F.CDFILIAL = :P_CDFILIAL AND F.CDSERVFILI = :P_SERV",
                       serviceKey);
  });
  try {
    in.billingPage = a.size() > A::kPaginaFaturamento && !a[A::kPaginaFaturamento].isNullOrEmpty() &&
                     a[A::kPaginaFaturamento].toBool();
  } catch (const rtl::Exception&) {
    Refuse("Argumento " + std::to_string(A::kPaginaFaturamento + 1) + " deve ser um valor lógico.");
  }
  if (a.size() > A::kRateio)
    in.lines = ReadDelta(a[A::kRateio], "cdsItRatEfet", [&] {
      return RowsAllowed(k,
                         std::string("SELECT COUNT(*)") + kMembers +
                             " JOIN ITEMRATEIO I ON I.CDFILIAL = SC.CDFILIAL AND I.CDSERVICFATURAM = SC.CDSERVICFATURAM"
                             " WHERE F.CDFILIAL = :P_CDFILIAL AND F.CDSERVFILI = :P_SERV",
                         serviceKey);
    });
  return in;
}

// The branch must be writable and the rows may only edit their own fields;
// rows that change nothing are dropped.
void CheckClientUpdate(Call& k, ClientUpdate& in) {
  CheckWritable(k, in.branch);
  CheckEditOnly(in.clients,
                {"NMFANTCLIE", "QTCOMEFETCLI", "VRSERVFATUEFCLI", "QTVENDAEFETCLI", "DTEFETCLIE", "CDSERVPLAN"});
  CheckEditOnly(in.lines, {"NRITRATEFETCLIE", "QTEFETIVOS", "CDFILIAL", "CDSERVFILI", "CDCLIENTE", "DTEFETCLIE",
                           "CDSERVPLAN"});
  KeepChanging(in.clients, {"NMFANTCLIE", "QTCOMEFETCLI", "VRSERVFATUEFCLI", "QTVENDAEFETCLI"});
  KeepChanging(in.lines, {"NRITRATEFETCLIE", "QTEFETIVOS"});
}

// A settled client under the closed-client rule: nothing of the call is kept.
bool Settled(Call& k, const ClientUpdate& in, const BranchParams& bp, const std::string& client) {
  return bp.closedClientRule() && !SettlementOf(k, in.branch, client, in.day).empty();
}

// The client's trade name, when the row changed it. REQUIRES: a transaction.
void SaveTradeName(Call& k, const ClientUpdate& in, const DeltaRow& row, const std::string& client) {
  CheckTextSize(row.New("NMFANTCLIE"), kTradeNameSize, "Nome fantasia do cliente");
  auto name = k.c.query(std::string("SELECT NMFANTCLIE FROM CLIENTE WHERE CDCLIENTE = :P_CLI") + ForUpdate(k.c),
                        {{"P_CLI", client}});
  CheckOriginal(row, name, {"NMFANTCLIE"}, "CLIENTE " + client);
  Variant newName = IsBlank(row.New("NMFANTCLIE")) ? Variant::Null() : row.New("NMFANTCLIE");
  k.c.exec("UPDATE CLIENTE SET NMFANTCLIE = :P_NOME WHERE CDCLIENTE = :P_CLI", {{"P_NOME", newName}, {"P_CLI", client}});
  Audit(k, in.branch, in.day, "CLIENTE", client, "NMFANTCLIE", name.empty() ? Variant::Null() : name.at(0, "NMFANTCLIE"),
        newName);
}

// One client row of EFETCLIE, inserted or updated. REQUIRES: a transaction.
// False, with nothing written, for a settled client.
bool SaveClientRow(Call& k, const ClientUpdate& in, const BranchParams& bp, const DeltaRow& row) {
  SameBranch(KeyStr(row, "CDFILIAL"), in.branch);
  std::string billed = KeyStr(row, "CDSERVFILI"), client = KeyStr(row, "CDCLIENTE");
  Billed b = BilledOf(k, in.branch, billed);
  if (b.planned != in.service)
    Refuse("Serviço de faturamento " + billed + " não pertence ao serviço " + in.service + ".");
  CheckMember(k, in.branch, billed, client);
  if (!IsBlank(row.New("DTEFETCLIE"))) SameDay(row.New("DTEFETCLIE"), in.day);
  if (!IsBlank(row.New("CDSERVPLAN")) && row.New("CDSERVPLAN").toString() != in.service)
    Refuse("Serviço do planejamento " + row.New("CDSERVPLAN").toString() + " difere do serviço " + in.service + ".");
  if (Settled(k, in, bp, client)) return false;
  std::string what = "EFETCLIE " + billed + "/" + client;
  db::Params key{{"P_CDFILIAL", in.branch}, {"P_FAT", billed}, {"P_CLI", client}, {"P_DIA", DateVar(in.day)}};
  const char* where =
      " WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT AND CDCLIENTE = :P_CLI AND DTEFETCLIE = :P_DIA";
  auto stored = k.c.query(
      std::string("SELECT QTCOMEFETCLI, VRSERVFATUEFCLI, QTVENDAEFETCLI FROM EFETCLIE") + where + ForUpdate(k.c), key);
  CheckOriginal(row, stored, {"QTCOMEFETCLI", "VRSERVFATUEFCLI", "QTVENDAEFETCLI"}, what);
  if (row.Changed("NMFANTCLIE")) SaveTradeName(k, in, row, client);
  Variant qt = NonNegative(row.New("QTCOMEFETCLI"), "Quantidade de efetivos deve ser maior ou igual a zero.");
  if (qt.isNull()) qt = Variant(0.0);
  Variant vr = NullableNum(row.New("VRSERVFATUEFCLI"));
  if (row.Changed("VRSERVFATUEFCLI") && b.variableValue != "S")
    Refuse("Valor de venda só pode ser informado em serviço de faturamento com valor variável por data.");
  Variant vd = NullableNum(row.New("QTVENDAEFETCLI"));
  db::Params p = key;
  p.set("P_QT", qt).set("P_VR", vr).set("P_VD", vd).set("P_PLAN", in.service);
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
  Audit(k, in.branch, in.day, "EFETCLIE", akey, "QTCOMEFETCLI", stored.empty() ? none : stored.at(0, "QTCOMEFETCLI"), qt);
  Audit(k, in.branch, in.day, "EFETCLIE", akey, "VRSERVFATUEFCLI", stored.empty() ? none : stored.at(0, "VRSERVFATUEFCLI"),
        vr);
  Audit(k, in.branch, in.day, "EFETCLIE", akey, "QTVENDAEFETCLI", stored.empty() ? none : stored.at(0, "QTVENDAEFETCLI"),
        vd);
  return true;
}

// An apportionment line, as its keys name it.
struct Line {
  std::string billed, client;
  Variant item;  // NRITEMRATEIOEFET
  Variant qt;    // QTEFETIVOS: Null, never 0
  std::string audit() const { return billed + "/" + client + " item " + item.toString(); }
};

// A line the screen numbered with a negative number: it gets the next real
// one. A line without a number may only be empty. REQUIRES: a transaction.
void InsertLine(Call& k, const ClientUpdate& in, const DeltaRow& row, const Line& l, std::set<int64_t>& screenNumbers) {
  const Variant& newNr = row.New("NRITRATEFETCLIE");
  if (IsBlank(newNr)) {
    if (!l.qt.isNull()) Refuse("Linha de rateio sem número.");
    return;
  }
  double n = Num(newNr);
  if (n >= 0 || n != static_cast<double>(static_cast<int64_t>(n)))
    Refuse("Número de linha de rateio inválido: " + newNr.toString() + ".");
  if (!screenNumbers.insert(static_cast<int64_t>(n)).second)
    Refuse("Número de linha de rateio repetido: " + newNr.toString() + ".");
  auto exists = k.c.query(
      "SELECT NRITRATEFETCLIE FROM ITRATEFETCLIE WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT"
      " AND CDCLIENTE = :P_CLI AND DTEFETCLIE = :P_DIA AND NRITEMRATEIOEFET = :P_ITEM",
      {{"P_CDFILIAL", in.branch}, {"P_FAT", l.billed}, {"P_CLI", l.client}, {"P_DIA", DateVar(in.day)}, {"P_ITEM", l.item}});
  if (!exists.empty()) RefuseStale("ITRATEFETCLIE " + l.client + "/" + l.item.toString());
  if (l.qt.isNull()) return;
  int64_t nr = NextNumber(k.c, "ITRATEFETCLIE");
  k.c.exec(
      "INSERT INTO ITRATEFETCLIE (NRITRATEFETCLIE, CDFILIAL, CDSERVICFATURAM, CDCLIENTE, DTEFETCLIE, CDSERVPLAN,"
      " NRITEMRATEIOEFET, QTEFETIVOS) VALUES (:P_NR, :P_CDFILIAL, :P_FAT, :P_CLI, :P_DIA, :P_PLAN, :P_ITEM, :P_QT)",
      {{"P_NR", Variant(nr)},
       {"P_CDFILIAL", in.branch},
       {"P_FAT", l.billed},
       {"P_CLI", l.client},
       {"P_DIA", DateVar(in.day)},
       {"P_PLAN", in.service},
       {"P_ITEM", l.item},
       {"P_QT", l.qt}});
  Audit(k, in.branch, in.day, "ITRATEFETCLIE", std::to_string(nr) + " " + l.audit(), "QTEFETIVOS", Variant::Null(), l.qt);
}

// A stored line keeps its number and its keys. REQUIRES: a transaction.
void UpdateLine(Call& k, const ClientUpdate& in, const DeltaRow& row, const Line& l) {
  const Variant& oldNr = row.Old("NRITRATEFETCLIE");
  if (!SameValue(oldNr, row.New("NRITRATEFETCLIE"))) Refuse("O número da linha de rateio não pode ser alterado.");
  Variant nr = AsInt(oldNr);
  auto stored = k.c.query(std::string("SELECT CDFILIAL, CDSERVICFATURAM, CDCLIENTE, DTEFETCLIE, NRITEMRATEIOEFET,"
                                      " QTEFETIVOS FROM ITRATEFETCLIE WHERE NRITRATEFETCLIE = :P_NR") +
                              ForUpdate(k.c),
                          {{"P_NR", nr}});
  std::string what = "ITRATEFETCLIE " + nr.toString();
  if (stored.empty()) RefuseStale(what);
  if (stored.at(0, "CDFILIAL").toString() != in.branch || stored.at(0, "CDSERVICFATURAM").toString() != l.billed ||
      stored.at(0, "CDCLIENTE").toString() != l.client || DayOf(stored.at(0, "DTEFETCLIE")) != in.day ||
      !SameValue(stored.at(0, "NRITEMRATEIOEFET"), l.item))
    Refuse("Linha de rateio " + nr.toString() + " não corresponde às suas chaves.");
  CheckOriginal(row, stored, {"QTEFETIVOS"}, what);
  k.c.exec("UPDATE ITRATEFETCLIE SET QTEFETIVOS = :P_QT WHERE NRITRATEFETCLIE = :P_NR", {{"P_QT", l.qt}, {"P_NR", nr}});
  Audit(k, in.branch, in.day, "ITRATEFETCLIE", nr.toString() + " " + l.audit(), "QTEFETIVOS",
        stored.at(0, "QTEFETIVOS"), l.qt);
}

// One apportionment line. REQUIRES: a transaction. False, with nothing
// written, for a settled client.
bool SaveApportionmentLine(Call& k, const ClientUpdate& in, const BranchParams& bp, const DeltaRow& row,
                           std::set<int64_t>& screenNumbers) {
  SameBranch(KeyStr(row, "CDFILIAL"), in.branch);
  Line l{KeyStr(row, "CDSERVFILI"), KeyStr(row, "CDCLIENTE"), {}, {}};
  SameDay(KeyOf(row, "DTEFETCLIE"), in.day);
  Billed b = BilledOf(k, in.branch, l.billed);
  if (b.planned != in.service || KeyStr(row, "CDSERVPLAN") != in.service)
    Refuse("Linha de rateio de outro serviço enviada numa alteração do serviço " + in.service + ".");
  CheckMember(k, in.branch, l.billed, l.client);
  if (Settled(k, in, bp, l.client)) return false;
  l.item = AsInt(row.Old("NRITEMRATEIOEFET"));
  auto known = k.c.query(
      "SELECT NRITEMRATEIOEFET FROM ITEMRATEIO WHERE NRITEMRATEIOEFET = :P_ITEM AND CDFILIAL = :P_CDFILIAL"
      " AND CDSERVICFATURAM = :P_FAT",
      {{"P_ITEM", l.item}, {"P_CDFILIAL", in.branch}, {"P_FAT", l.billed}});
  if (known.empty()) Refuse("Item de rateio " + l.item.toString() + " não pertence ao serviço " + l.billed + ".");
  l.qt = NonNegative(row.New("QTEFETIVOS"), "Quantidade de efetivos deve ser maior que zero.");
  if (!l.qt.isNull() && l.qt.toDouble() == 0) l.qt = Variant::Null();  // a line never keeps 0
  if (IsBlank(row.Old("NRITRATEFETCLIE")))
    InsertLine(k, in, row, l, screenNumbers);
  else
    UpdateLine(k, in, row, l);
  return true;
}

// With IDCOPALTEFEPLA, a save from the billing page makes the clients' total
// the planned client headcount of the service's menu. Answers the recomputed
// menu day, read back before the commit, or Empty when nothing was copied.
// REQUIRES: a transaction.
Variant CopyClientsToPlan(Call& k, const ClientUpdate& in, const BranchParams& bp) {
  if (bp.copyFlag != "S" || !in.billingPage || in.clients.empty()) return Variant();
  const db::Params dayKey{{"P_CDFILIAL", in.branch}, {"P_SERV", in.service}, {"P_DIA", DateVar(in.day)}};
  auto card = k.c.query(std::string("SELECT NRCARDAPIO, QTCLIEFETCAR, QTFUNEFETCAR, QTDOAEFETCAR, QTCOMEFETCAR FROM CARDAPIO"
                                    " WHERE CDFILIAL = :P_CDFILIAL AND CDSERVFILI = :P_SERV AND DTCARDAPIO = :P_DIA") +
                            ForUpdate(k.c),
                        dayKey);
  if (card.empty()) return Variant();
  std::string nr = card.at(0, "NRCARDAPIO").toString();
  if (!in.menu.empty() && in.menu != nr) Refuse("Cardápio " + in.menu + " não é o do serviço " + in.service + " no dia.");
  auto sum = k.c.query(
      "SELECT SUM(COALESCE(QTCOMEFETCLI, 0) + COALESCE(QTVENDAEFETCLI, 0)) FROM EFETCLIE"
      " WHERE CDFILIAL = :P_CDFILIAL AND CDSERVPLAN = :P_SERV AND DTEFETCLIE = :P_DIA",
      dayKey);
  Variant cli(Finite(Num(sum.rows[0][0]), "A soma dos efetivos dos clientes"));
  Variant total(Finite(cli.toDouble() + Num(card.at(0, "QTFUNEFETCAR")) + Num(card.at(0, "QTDOAEFETCAR")),
                       "O total de comensais"));
  k.c.exec(
      "UPDATE CARDAPIO SET QTCLIEFETCAR = :P_CLI, QTCOMEFETCAR = :P_TOT, QTCOMEFETRI = :P_TOT, QTCOMEFETSL = :P_TOT,"
      " CDOPERADOR = :P_OP WHERE CDFILIAL = :P_CDFILIAL AND NRCARDAPIO = :P_NR",
      {{"P_CLI", cli}, {"P_TOT", total}, {"P_OP", k.op}, {"P_CDFILIAL", in.branch}, {"P_NR", nr}});
  std::string key = nr + " serviço " + in.service;
  Audit(k, in.branch, in.day, "CARDAPIO", key, "QTCLIEFETCAR", card.at(0, "QTCLIEFETCAR"), cli);
  Audit(k, in.branch, in.day, "CARDAPIO", key, "QTCOMEFETCAR", card.at(0, "QTCOMEFETCAR"), total);
  return rtl::VarArrayOf({CardaDiaPacket(k, in.branch, in.day, ""), CompCardPacket(k, in.branch, in.day, ""),
                          PratoCardPacket(k, in.branch, in.day, "")});
}

}  // namespace

// Answers Empty when nothing was pending, ["OK"], ["EfetAutoJaApur"] for a
// settled client (nothing kept), or the recomputed menu day.
Variant UpdEfetClie(Call& k, VariantArray& a) {
  ClientUpdate in = ReadClientUpdate(k, a);
  if (in.empty()) return Variant();  // nothing pending: not even the permission is asked
  CheckClientUpdate(k, in);
  if (in.empty()) return Variant();
  db::Transaction t(k.c);
  RefuseClosedDay(k, in.branch, in.day);
  const BranchParams bp = LoadBranchParams(k, in.branch);
  for (const auto& row : in.clients)
    if (!SaveClientRow(k, in, bp, row)) return rtl::VarArrayOf({"EfetAutoJaApur"});
  std::set<int64_t> screenNumbers;  // negative numbers the screen gave its new lines
  for (const auto& row : in.lines)
    if (!SaveApportionmentLine(k, in, bp, row, screenNumbers)) return rtl::VarArrayOf({"EfetAutoJaApur"});
  Variant day = CopyClientsToPlan(k, in, bp);
  t.commit();
  return day.isEmpty() ? rtl::VarArrayOf({"OK"}) : day;
}

}  // namespace server::methods
