#include "server/demo.h"

#include <cmath>
#include <cstdio>

#include "server/admin.h"
#include "server/common.h"

namespace server {

namespace {

Variant Q(const Qty& q) { return q ? Variant(*q) : Variant::Null(); }
Variant D(rtl::TDateTime d) { return Variant::FromDate(std::floor(d)); }

int64_t MaxOf(db::Connection& c, const char* sql) {
  auto r = c.query(sql);
  return r.empty() || r.rows[0][0].isNullOrEmpty() ? 0 : r.rows[0][0].toInt();
}

}  // namespace

DemoBuilder::DemoBuilder(db::Connection& c) : c_(c) {
  nextMenu_ = MaxOf(c, "SELECT COUNT(*) FROM CARDAPIO");
  nextItem_ = MaxOf(c, "SELECT MAX(NRITEMRATEIOEFET) FROM ITEMRATEIO");
  nextWithdrawal_ = MaxOf(c, "SELECT MAX(NRRETIRADA) FROM RETIRADA");
}

DemoBuilder& DemoBuilder::GeneralParams(const std::string& consMinEfe, const std::string& bloqEfet) {
  c_.exec("UPDATE PARAMGERAL SET IDCONSMINEFE = :P_A, IDBLOQEFET = :P_B WHERE NRPARAM = 1",
          {{"P_A", consMinEfe}, {"P_B", bloqEfet}});
  return *this;
}

DemoBuilder& DemoBuilder::Group(const std::string& code, const std::string& name) {
  c_.exec("INSERT INTO GRUPSERV (CDGRUPSERV, NMGRUPSERV) VALUES (:P_C, :P_N)", {{"P_C", code}, {"P_N", name}});
  return *this;
}

DemoBuilder& DemoBuilder::Branch(const std::string& code, const std::string& name, rtl::TDateTime proc, bool rescinded) {
  c_.exec("INSERT INTO FILIAL (CDFILIAL, NMFILIAL, DTPROCES, IDCNTRRESC) VALUES (:P_C, :P_N, :P_D, :P_R)",
          {{"P_C", code}, {"P_N", name}, {"P_D", D(proc)}, {"P_R", rescinded ? "S" : "N"}});
  return *this;
}

DemoBuilder& DemoBuilder::PlanParams(const std::string& branch, const std::string& closedDay,
                                     const std::string& allowNoWithdrawal, double daysBefore,
                                     const std::string& allowAfterProc) {
  c_.exec("DELETE FROM PARAMPLANEJA WHERE CDFILIAL = :P_F", {{"P_F", branch}});
  c_.exec(
      "INSERT INTO PARAMPLANEJA (CDFILIAL, IDBLQEFEDIAFECH, IDPERLEFESRETPLA, NRDIAANTDTPROC, IDPEREFEPOSDTPR)"
      " VALUES (:P_F, :P_A, :P_B, :P_C, :P_D)",
      {{"P_F", branch}, {"P_A", closedDay}, {"P_B", allowNoWithdrawal}, {"P_C", daysBefore}, {"P_D", allowAfterProc}});
  return *this;
}

DemoBuilder& DemoBuilder::BranchParams(const std::string& branch, const std::string& use, const std::string& copy) {
  c_.exec("DELETE FROM PARAMFILIAL WHERE CDFILIAL = :P_F", {{"P_F", branch}});
  c_.exec("INSERT INTO PARAMFILIAL (CDFILIAL, IDUTEFETPLA, IDCOPALTEFEPLA) VALUES (:P_F, :P_A, :P_B)",
          {{"P_F", branch}, {"P_A", use}, {"P_B", copy}});
  return *this;
}

DemoBuilder& DemoBuilder::Service(const std::string& branch, const std::string& code, const std::string& name,
                                  const std::string& type, const std::string& group) {
  c_.exec(
      "INSERT INTO SERVICO (CDFILIAL, CDSERVFILI, NMSERVICO, IDTIPOSERV, CDGRUPSERV) VALUES (:P_F, :P_C, :P_N, :P_T, :P_G)",
      {{"P_F", branch}, {"P_C", code}, {"P_N", name}, {"P_T", type}, {"P_G", group.empty() ? Variant::Null() : Variant(group)}});
  return *this;
}

std::string DemoBuilder::Menu(const std::string& branch, const std::string& service, rtl::TDateTime day,
                              const Counts& k) {
  char nr[16];
  std::snprintf(nr, sizeof nr, "%010lld", static_cast<long long>(++nextMenu_));
  Variant total = !k.clients && !k.employees && !k.donations
                      ? Variant::Null()
                      : Variant(k.clients.value_or(0) + k.employees.value_or(0) + k.donations.value_or(0));
  double est = k.estClients.value_or(0) + k.estEmployees.value_or(0) + k.estDonations.value_or(0);
  auto p = rtl::DecodeDate(day);
  c_.exec(
      "INSERT INTO CARDAPIO (CDFILIAL, NRCARDAPIO, CDSERVFILI, DTCARDAPIO, DTMESCARD, QTCLIEFETCAR, QTFUNEFETCAR,"
      " QTDOAEFETCAR, QTCOMEFETCAR, QTCOMESTICAR, QTCLIESTICAR, QTFUNESTICAR, QTDOAESTICAR, QTCOMEFETRI, QTCOMEFETSL)"
      " VALUES (:P_F, :P_NR, :P_S, :P_D, :P_MES, :P_CLI, :P_FUN, :P_DOA, :P_TOT, :P_EST, :P_ECLI, :P_EFUN, :P_EDOA,"
      " :P_TOT0, :P_TOT0)",
      {{"P_F", branch},
       {"P_NR", std::string(nr)},
       {"P_S", service},
       {"P_D", D(day)},
       {"P_MES", D(rtl::EncodeDate(p.year, p.month, 1))},
       {"P_CLI", Q(k.clients)},
       {"P_FUN", Q(k.employees)},
       {"P_DOA", Q(k.donations)},
       {"P_TOT", total},
       {"P_EST", Variant(est)},
       {"P_ECLI", Q(k.estClients)},
       {"P_EFUN", Q(k.estEmployees)},
       {"P_EDOA", Q(k.estDonations)},
       {"P_TOT0", total.isNull() ? Variant::Null() : total}});
  return nr;
}

DemoBuilder& DemoBuilder::DishType(const std::string& code, const std::string& name) {
  c_.exec("INSERT INTO TIPOPRATO (CDTIPOPRAT, NMTIPOPRAT) VALUES (:P_C, :P_N)", {{"P_C", code}, {"P_N", name}});
  return *this;
}

DemoBuilder& DemoBuilder::Dish(const std::string& branch, const std::string& code, const std::string& name,
                               const std::string& type) {
  c_.exec("INSERT INTO PRATO (CDFILIAL, CDPRATO, NMPRATO, CDTIPOPRAT) VALUES (:P_F, :P_C, :P_N, :P_T)",
          {{"P_F", branch}, {"P_C", code}, {"P_N", name}, {"P_T", type}});
  return *this;
}

DemoBuilder& DemoBuilder::MenuType(const std::string& branch, const std::string& menu, const std::string& type) {
  db::Params p{{"P_F", branch}, {"P_NR", menu}, {"P_T", type}};
  if (c_.query("SELECT CDTIPOPRAT FROM COMPCARDAPIO WHERE CDFILIAL = :P_F AND NRCARDAPIO = :P_NR AND CDTIPOPRAT = :P_T", p)
          .empty())
    c_.exec("INSERT INTO COMPCARDAPIO (CDFILIAL, NRCARDAPIO, CDTIPOPRAT) VALUES (:P_F, :P_NR, :P_T)", p);
  return *this;
}

DemoBuilder& DemoBuilder::MenuDish(const std::string& branch, const std::string& menu, const std::string& dish, int seq,
                                   Qty diners, Qty kilos) {
  auto t = c_.query("SELECT CDTIPOPRAT FROM PRATO WHERE CDFILIAL = :P_F AND CDPRATO = :P_C", {{"P_F", branch}, {"P_C", dish}});
  if (t.empty()) throw rtl::Exception("dish " + dish + " unknown");
  std::string type = t.rows[0][0].toString();
  MenuType(branch, menu, type);
  c_.exec(
      "INSERT INTO PRATOCARDAPIO (CDFILIAL, NRCARDAPIO, CDTIPOPRAT, NRSEQPRATCAR, NRORDPRATCAR, CDFILAUXPRAT, CDPRATO,"
      " VRPECONSCARD, QTCOMEFETPRA, QTPRODUZPRAT) VALUES (:P_F, :P_NR, :P_T, :P_SEQ, :P_SEQ, :P_F, :P_C, :P_PESO,"
      " :P_QC, :P_QP)",
      {{"P_F", branch},
       {"P_NR", menu},
       {"P_T", type},
       {"P_SEQ", Variant(seq)},
       {"P_C", dish},
       {"P_PESO", Variant(0.15)},
       {"P_QC", Q(diners)},
       {"P_QP", Q(kilos)}});
  return *this;
}

DemoBuilder& DemoBuilder::Client(const std::string& code, const std::string& corporate, const std::string& trade,
                                 const std::string& personType, const std::string& registration) {
  c_.exec(
      "INSERT INTO CLIENTE (CDCLIENTE, NMRAZSOCCLIE, NMFANTCLIE, IDTPIJURCLIE, NRINSJURCLIE) VALUES (:P_C, :P_R, :P_F,"
      " :P_T, :P_I)",
      {{"P_C", code}, {"P_R", corporate}, {"P_F", trade}, {"P_T", personType},
       {"P_I", registration.empty() ? Variant::Null() : Variant(registration)}});
  return *this;
}

DemoBuilder& DemoBuilder::Billed(const std::string& branch, const std::string& planned, const std::string& code,
                                 const std::string& name, bool variable) {
  Service(branch, code, name, "F");
  c_.exec("INSERT INTO SERVFATU (CDFILIAL, CDSERVFILI, CDSERVICFATURAM, IDVLRVARDATA) VALUES (:P_F, :P_S, :P_B, :P_V)",
          {{"P_F", branch}, {"P_S", planned}, {"P_B", code}, {"P_V", variable ? "S" : "N"}});
  return *this;
}

DemoBuilder& DemoBuilder::BilledClient(const std::string& branch, const std::string& billed, const std::string& client) {
  c_.exec("INSERT INTO SERVFATUCLIE (CDFILIAL, CDSERVICFATURAM, CDCLIENTE) VALUES (:P_F, :P_B, :P_C)",
          {{"P_F", branch}, {"P_B", billed}, {"P_C", client}});
  return *this;
}

DemoBuilder& DemoBuilder::ClientCount(const std::string& branch, const std::string& billed, const std::string& client,
                                      rtl::TDateTime day, Qty count, Qty cash, Qty value) {
  auto plan = c_.query("SELECT CDSERVFILI FROM SERVFATU WHERE CDFILIAL = :P_F AND CDSERVICFATURAM = :P_B",
                       {{"P_F", branch}, {"P_B", billed}});
  if (plan.empty()) throw rtl::Exception("billed service " + billed + " unknown");
  c_.exec(
      "INSERT INTO EFETCLIE (CDFILIAL, CDSERVICFATURAM, CDCLIENTE, DTEFETCLIE, CDSERVPLAN, QTCOMEFETCLI, VRSERVFATUEFCLI,"
      " QTVENDAEFETCLI) VALUES (:P_F, :P_B, :P_C, :P_D, :P_S, :P_Q, :P_V, :P_VD)",
      {{"P_F", branch}, {"P_B", billed}, {"P_C", client}, {"P_D", D(day)}, {"P_S", plan.rows[0][0]},
       {"P_Q", Q(count)}, {"P_V", Q(value)}, {"P_VD", Q(cash)}});
  return *this;
}

DemoBuilder& DemoBuilder::Settlement(const std::string& branch, const std::string& number, const std::string& client,
                                     rtl::TDateTime first, rtl::TDateTime last) {
  c_.exec(
      "INSERT INTO APURACAO (CDFILIAL, NRAPURACFAT, CDCLIENTE, DTINIAPURAC, DTFIMAPURAC) VALUES (:P_F, :P_N, :P_C, :P_I,"
      " :P_FIM)",
      {{"P_F", branch}, {"P_N", number}, {"P_C", client}, {"P_I", D(first)}, {"P_FIM", D(last)}});
  return *this;
}

int64_t DemoBuilder::Item(const std::string& branch, const std::string& billed, const std::string& code,
                          const std::string& name) {
  int64_t nr = ++nextItem_;
  c_.exec(
      "INSERT INTO ITEMRATEIO (NRITEMRATEIOEFET, CDFILIAL, CDSERVICFATURAM, CDITEMRATEIOEFET, NMITEMRATEIOEFET)"
      " VALUES (:P_NR, :P_F, :P_B, :P_C, :P_N)",
      {{"P_NR", Variant(nr)}, {"P_F", branch}, {"P_B", billed}, {"P_C", code}, {"P_N", name}});
  return nr;
}

int64_t DemoBuilder::Line(const std::string& branch, const std::string& billed, const std::string& client,
                          rtl::TDateTime day, int64_t item, Qty count) {
  auto plan = c_.query("SELECT CDSERVFILI FROM SERVFATU WHERE CDFILIAL = :P_F AND CDSERVICFATURAM = :P_B",
                       {{"P_F", branch}, {"P_B", billed}});
  if (plan.empty()) throw rtl::Exception("billed service " + billed + " unknown");
  int64_t nr = NextNumber(c_, "ITRATEFETCLIE");
  c_.exec(
      "INSERT INTO ITRATEFETCLIE (NRITRATEFETCLIE, CDFILIAL, CDSERVICFATURAM, CDCLIENTE, DTEFETCLIE, CDSERVPLAN,"
      " NRITEMRATEIOEFET, QTEFETIVOS) VALUES (:P_NR, :P_F, :P_B, :P_C, :P_D, :P_S, :P_I, :P_Q)",
      {{"P_NR", Variant(nr)}, {"P_F", branch}, {"P_B", billed}, {"P_C", client}, {"P_D", D(day)},
       {"P_S", plan.rows[0][0]}, {"P_I", Variant(item)}, {"P_Q", Q(count)}});
  return nr;
}

DemoBuilder& DemoBuilder::Turnstile(const std::string& branch, const std::string& code, const std::string& name,
                                    const std::string& service) {
  c_.exec("INSERT INTO CATRACA (CDFILIAL, CDCATRACA, DSCATRACA, CDSERVFILI) VALUES (:P_F, :P_C, :P_N, :P_S)",
          {{"P_F", branch}, {"P_C", code}, {"P_N", name}, {"P_S", service}});
  return *this;
}

DemoBuilder& DemoBuilder::Reading(const std::string& branch, const std::string& turnstile, const std::string& service,
                                  rtl::TDateTime day, double start, double end) {
  c_.exec(
      "INSERT INTO EFETCATRACA (CDFILIAL, CDCATRACA, CDSERVFILI, DTEFETCAT, QTEFETCATINI, QTEFETCATFIM, QTEFETCATTOT)"
      " VALUES (:P_F, :P_C, :P_S, :P_D, :P_I, :P_FIM, :P_T)",
      {{"P_F", branch}, {"P_C", turnstile}, {"P_S", service}, {"P_D", D(day)}, {"P_I", start}, {"P_FIM", end},
       {"P_T", end - start}});
  return *this;
}

DemoBuilder& DemoBuilder::Shift(const std::string& branch, const std::string& code, const std::string& name) {
  c_.exec("INSERT INTO TURNO (CDFILIAL, CDTURNO, NMTURNO) VALUES (:P_F, :P_C, :P_N)",
          {{"P_F", branch}, {"P_C", code}, {"P_N", name}});
  return *this;
}

DemoBuilder& DemoBuilder::ShiftCount(const std::string& branch, const std::string& billed, const std::string& client,
                                     rtl::TDateTime day, const std::string& shift, Qty count) {
  c_.exec(
      "INSERT INTO TURNOCLIENTE (CDFILIAL, CDSERVICFATURAM, CDCLIENTE, DTFATTURNO, CDTURNO, QTCOMTURNCLI)"
      " VALUES (:P_F, :P_B, :P_C, :P_D, :P_T, :P_Q)",
      {{"P_F", branch}, {"P_B", billed}, {"P_C", client}, {"P_D", D(day)}, {"P_T", shift}, {"P_Q", Q(count)}});
  return *this;
}

DemoBuilder& DemoBuilder::Withdrawal(const std::string& branch, const std::string& menu, const std::string& product,
                                     const std::string& description, double quantity) {
  c_.exec(
      "INSERT INTO RETIRADA (CDFILIAL, NRRETIRADA, NRCARDAPIO, CDPRODUTO, DSPRODUTO, QTRETIRADA)"
      " VALUES (:P_F, :P_NR, :P_C, :P_P, :P_D, :P_Q)",
      {{"P_F", branch}, {"P_NR", Variant(++nextWithdrawal_)}, {"P_C", menu}, {"P_P", product}, {"P_D", description},
       {"P_Q", quantity}});
  return *this;
}

DemoBuilder& DemoBuilder::OperatorHash(const std::string& code, const std::string& name, const std::string& hash,
                                       const std::vector<std::string>& branches, bool all) {
  c_.exec(
      "INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR, DSSENHAHASH, IDATIVO, IDTODASFILIAIS) VALUES (:P_C, :P_N, :P_H, 'S',"
      " :P_T)",
      {{"P_C", code}, {"P_N", name}, {"P_H", hash}, {"P_T", all ? "S" : "N"}});
  for (const auto& b : branches)
    c_.exec("INSERT INTO OPERFILIAL (CDOPERADOR, CDFILIAL) VALUES (:P_C, :P_F)", {{"P_C", code}, {"P_F", b}});
  return *this;
}

// ---- The demo company

namespace {

// Deterministic, so two demo databases built on the same day are alike.
struct Dice {
  uint32_t s;
  int operator()(int lo, int hi) {
    s = s * 1664525u + 1013904223u;
    return lo + static_cast<int>((s >> 8) % static_cast<uint32_t>(hi - lo + 1));
  }
};

struct DishDef {
  const char* code;
  const char* name;
  const char* type;
};

const DishDef kDishes[] = {
    {"PP001", "Frango grelhado", "01"},      {"PP002", "Carne assada", "01"},       {"PP003", "Peixe ao molho", "01"},
    {"PP004", "Feijoada", "01"},             {"GU001", "Arroz branco", "02"},       {"GU002", "Feijão carioca", "02"},
    {"GU003", "Farofa de bacon", "02"},      {"GU004", "Purê de batata", "02"},     {"SA001", "Salada verde", "03"},
    {"SA002", "Salpicão", "03"},             {"SA003", "Tomate e cebola", "03"},    {"SO001", "Pudim de leite", "04"},
    {"SO002", "Fruta da estação", "04"},     {"SO003", "Gelatina", "04"},           {"BE001", "Suco de laranja", "05"},
    {"BE002", "Café com leite", "05"},       {"BE003", "Pão francês", "06"},        {"BE004", "Bolo de fubá", "06"},
};

struct ClientDef {
  const char* code;
  const char* corporate;
  const char* trade;
  const char* cnpj;
};

const ClientDef kClients[] = {
    {"000000000000000000101", "Metalúrgica Paulista Ltda", "MetalSP", "12345678000190"},
    {"000000000000000000102", "Tecelagem Boa Vista S.A.", "Boa Vista Têxtil", "23456789000101"},
    {"000000000000000000103", "Hospital São Lucas", "São Lucas", "34567890000112"},
    {"000000000000000000104", "Transportadora Rota Sul Ltda", "Rota Sul", "45678901000123"},
    {"000000000000000000105", "Colégio Monte Azul", "Monte Azul", "56789012000134"},
    {"000000000000000000106", "Prefeitura de Vila Nova", "PM Vila Nova", "67890123000145"},
};

}  // namespace

void DemoBuilder::BuildDemoCompany(rtl::TDateTime today) {
  today = std::floor(today);
  Dice dice{static_cast<uint32_t>(today)};
  GeneralParams("S", "S");
  Group("ALM", "Almoço").Group("JAN", "Jantar").Group("CAF", "Café da manhã").Group("CEI", "Ceia");
  DishType("01", "Prato principal").DishType("02", "Guarnição").DishType("03", "Salada");
  DishType("04", "Sobremesa").DishType("05", "Bebida").DishType("06", "Panificação");
  for (const auto& c : kClients) Client(c.code, c.corporate, c.trade, "J", c.cnpj);

  struct BranchDef {
    const char* code;
    const char* name;
    int scale;
  };
  const BranchDef branches[] = {{"0001", "Sabor & Cia São Paulo", 3}, {"0002", "Sabor & Cia Campinas", 2},
                                {"0003", "Sabor & Cia Santos", 1}};
  for (const auto& b : branches) {
    std::string f = b.code;
    Branch(f, b.name, today);
    if (f == "0001") {
      PlanParams(f, "S", "N", 5, "N");
      BranchParams(f, "S", "N");
    } else if (f == "0002") {
      PlanParams(f, "N", "S", 0, "S");
      BranchParams(f, "N", "S");
    } else {
      PlanParams(f, "S", "S", 10, "N");
      BranchParams(f, "N", "N");
    }
    Service(f, "00010", "Almoço refeitório", "N", "ALM");
    Service(f, "00020", "Jantar refeitório", "N", "JAN");
    Service(f, "00030", "Café da manhã", "N", "CAF");
    Service(f, "00090", "Padronização de cardápios", "P");
    Billed(f, "00010", "10010", "Almoço contratos");
    Billed(f, "00010", "10011", "Almoço visitantes", true);
    Billed(f, "00020", "10020", "Jantar contratos");
    Billed(f, "00030", "10030", "Café contratos");
    for (const auto& d : kDishes) Dish(f, d.code, d.name, d.type);
    Shift(f, "1", "1º turno").Shift(f, "2", "2º turno").Shift(f, "3", "3º turno");
    Turnstile(f, "CAT" + f + "01", "Catraca entrada principal", "00010");
    Turnstile(f, "CAT" + f + "02", "Catraca entrada lateral", "00010");
    Turnstile(f, "CAT" + f + "03", "Catraca noturna", "00020");

    // Clients: each branch serves four of the six companies.
    std::vector<std::string> clients;
    for (int i = 0; i < 4; ++i) clients.push_back(kClients[(i + (b.scale - 1)) % 6].code);
    BilledClient(f, "10010", clients[0]).BilledClient(f, "10010", clients[1]).BilledClient(f, "10010", clients[2]);
    BilledClient(f, "10011", clients[3]);
    BilledClient(f, "10020", clients[0]).BilledClient(f, "10020", clients[2]);
    BilledClient(f, "10030", clients[1]).BilledClient(f, "10030", clients[3]);
    int64_t itemAdm = Item(f, "10010", "ADM", "Administrativo");
    int64_t itemPrd = Item(f, "10010", "PRD", "Produção");
    Item(f, "10010", "MAN", "Manutenção");

    // A settled month: the days from 60 to 31 days back, for every client.
    for (size_t i = 0; i < clients.size(); ++i)
      Settlement(f, "AP" + f + std::to_string(i + 1), clients[i], today - 60, today - 31);

    struct ServiceDay {
      const char* service;
      std::vector<std::pair<const char*, std::vector<std::string>>> billed;  // billed service -> clients
      std::vector<const char*> dishes;
      int base;
    };
    const ServiceDay services[] = {
        {"00010",
         {{"10010", {clients[0], clients[1], clients[2]}}, {"10011", {clients[3]}}},
         {"PP001", "PP002", "GU001", "GU002", "SA001", "SO001", "SO002"},
         120 * b.scale},
        {"00020", {{"10020", {clients[0], clients[2]}}}, {"PP003", "GU001", "GU004", "SA002", "SO003"}, 40 * b.scale},
        {"00030", {{"10030", {clients[1], clients[3]}}}, {"BE001", "BE002", "BE003", "BE004"}, 60 * b.scale},
    };
    for (int offset = -60; offset < 30; ++offset) {
      rtl::TDateTime day = today + offset;
      bool past = offset < 0;
      bool weekend = rtl::DayOfWeek(day) == 1 || rtl::DayOfWeek(day) == 7;
      for (const auto& s : services) {
        int scale = weekend ? s.base / 3 : s.base;
        Counts k;
        k.estClients = scale;
        k.estEmployees = scale / 10;
        k.estDonations = scale / 40;
        std::vector<std::tuple<std::string, std::string, double>> counts;
        if (past) {
          double sum = 0;
          for (const auto& [billed, cl] : s.billed)
            for (const auto& c : cl) {
              double q = dice(scale / 5, scale / 3);
              counts.emplace_back(billed, c, q);
              sum += q;
            }
          k.clients = sum;
          k.employees = dice(scale / 12, scale / 8);
          k.donations = dice(0, scale / 30);
        }
        std::string menu = Menu(f, s.service, day, k);
        int seq = 1;
        double diners = past ? *k.clients + *k.employees + *k.donations : 0;
        for (const char* dish : s.dishes) {
          Qty qd, qk;
          if (past) {
            qd = std::round(diners * dice(40, 95) / 100.0);
            qk = std::round(*qd * dice(80, 220)) / 1000.0;
          }
          MenuDish(f, menu, dish, seq++, qd, qk);
        }
        if (!past) continue;
        for (const auto& [billed, client, q] : counts) ClientCount(f, billed, client, day, q);
        Withdrawal(f, menu, "ARROZ5", "Arroz tipo 1 (kg)", dice(10, 40));
        Withdrawal(f, menu, "FEIJAO1", "Feijão carioca (kg)", dice(5, 20));
        if (std::string(s.service) == "00010") {
          double start = 10000 + (offset + 60) * 500;
          Reading(f, "CAT" + f + "01", "00010", day, start, start + dice(scale / 2, scale));
          const auto& [billed, client, q] = counts.front();
          if (offset > -30) {  // apportioned recently, after the settled month
            double adm = std::floor(q / 3);
            Line(f, billed, client, day, itemAdm, adm);
            Line(f, billed, client, day, itemPrd, q - adm);
            ShiftCount(f, billed, client, day, "1", std::floor(q / 2));
            ShiftCount(f, billed, client, day, "2", q - std::floor(q / 2));
          }
        }
      }
    }
  }
  OperatorHash("DEM", "Operador de demonstração", HashPassword("demo"), {}, true);
  OperatorHash("CAM", "Operador de Campinas", HashPassword("campinas"), {"0002"});
}

}  // namespace server
