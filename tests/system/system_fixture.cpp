#include "system_fixture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "contracts/result.h"
#include "net/http_transport.h"
#include "platform/host/checks.h"
#include "platform/rtl/format.h"
#include "server/admin.h"
#include "server/demo.h"
#include "server/schema.h"

namespace systest {

namespace {

thread_local std::string tlsToken;
net::HttpTransportOptions transportOptions;

// The HTTP transport, carrying the token of the clerk whose thread calls.
class ThreadSessionTransport : public contracts::Transport {
public:
  explicit ThreadSessionTransport(std::unique_ptr<contracts::Transport> inner) : inner_(std::move(inner)) {}
  Variant Call(const std::string& server, const std::string& method, rtl::VariantArray& args,
               const std::string&) override {
    return inner_->Call(server, method, args, tlsToken);
  }

private:
  std::unique_ptr<contracts::Transport> inner_;
};

Variant Day(rtl::TDateTime d) { return Variant::FromDate(d); }

}  // namespace

const std::vector<Operator>& Operators() {
  static const std::vector<Operator> ops{{"OP1", "um", {}},
                                         {"OP2", "dois", {"0001", "0002"}},
                                         {"OP3", "tres", {"0003", "0004"}},
                                         {"OP4", "quatro", {"0002", "0004"}}};
  return ops;
}

std::vector<std::string> OperatorsOf(const std::string& branch) {
  std::vector<std::string> r;
  for (const auto& o : Operators())
    if (o.branches.empty() || std::find(o.branches.begin(), o.branches.end(), branch) != o.branches.end())
      r.push_back(o.code);
  return r;
}

std::string PasswordOf(const std::string& op) {
  for (const auto& o : Operators())
    if (o.code == op) return o.password;
  return {};
}

void BuildCompany(const std::string& conninfo, rtl::TDateTime today) {
  auto c = db::Open(conninfo);
  server::EnsureSchema(*c);
  db::Transaction t(*c);
  server::DemoBuilder b(*c);
  b.GeneralParams("N", "N");
  b.Group("ALM", "Almoço").Group("JAN", "Jantar");
  b.Client("C1", "Cliente Um Ltda", "Um").Client("C2", "Cliente Dois Ltda", "Dois").Client("C3", "Cliente Três", "Três");
  for (const auto& br : kBranches) {
    b.Branch(br, "Filial " + br, today);
    b.PlanParams(br, "N", "S", 0, "S").BranchParams(br, "N", "N");
    b.Service(br, kService1, "Almoço", "N", "ALM").Service(br, kService2, "Jantar", "N", "JAN");
    b.Billed(br, kService1, kBilled, "Almoço faturado");
    for (const auto& cl : kClients) b.BilledClient(br, kBilled, cl);
    b.Turnstile(br, kTurnstile, "Catraca 1", kService1);
    b.Shift(br, kShifts[0], "Manhã").Shift(br, kShifts[1], "Tarde");
    for (int back = 0; back < kDays; ++back) {
      b.Menu(br, kService1, today - back);
      b.Menu(br, kService2, today - back);
    }
  }
  for (const auto& o : Operators())
    b.OperatorHash(o.code, "Operador " + o.code, server::HashPassword(o.password), o.branches, o.branches.empty());
  t.commit();
}

std::string ServerProgram() { return EFET_SERVER_PROGRAM; }

std::string AuditText(const Variant& v) {
  if (v.isNullOrEmpty()) return {};
  if (v.isNumeric()) return rtl::FloatToStr(v.toDouble());
  return v.toString();
}

// ---- Ledger

void Ledger::Accept(std::vector<Change> changes) {
  std::lock_guard l(m_);
  for (auto& c : changes) changes_.push_back(std::move(c));
}

std::vector<Change> Ledger::changes() const {
  std::lock_guard l(m_);
  return changes_;
}

std::string Ledger::KeyOf(const Change& c) {
  return c.table + "|" + c.branch + "|" + std::to_string(static_cast<long>(c.day)) + "|" + c.key + "|" + c.field;
}

std::map<std::string, Variant> Ledger::last() const {
  std::lock_guard l(m_);
  std::map<std::string, Variant> r;
  for (const auto& c : changes_) r[KeyOf(c)] = c.after;
  return r;
}

// ---- Sessions

void RegisterPerThreadSessions(net::HttpTransportOptions options) {
  transportOptions = options;
  contracts::RegisterTransportFactory([options](const std::string& host, int port) {
    return std::unique_ptr<contracts::Transport>(
        std::make_unique<ThreadSessionTransport>(net::MakeHttpTransport(host, port, options)));
  });
}

void SetThreadToken(std::string token) { tlsToken = std::move(token); }

Found Look(db::Connection& c, const Write& w) {
  int present = 0, absent = 0;
  for (const auto& ch : w.changes) {
    std::string stored = AuditText(ReadStored(c, ch).value);
    if (stored == AuditText(ch.after)) ++present;
    else if (stored == AuditText(ch.before)) ++absent;
  }
  int n = static_cast<int>(w.changes.size());
  return present == n ? Found::Present : absent == n ? Found::Absent : Found::Partial;
}

// ---- Clerk

Clerk::Clerk(int port, std::string op, std::string password, std::string branch, Stats& stats, Ledger& ledger)
    : port_(port), op_(std::move(op)), password_(std::move(password)), branch_(std::move(branch)), stats_(stats),
      ledger_(ledger) {}

void Clerk::Login() {
  ++stats_.requests;
  token_ = net::Login("127.0.0.1", port_, op_, password_, transportOptions);
  SetThreadToken(token_);
  conn_ = std::make_unique<contracts::TNetConnection>("Pla01000.rdmMediEfetivos");
  int port = port_;
  conn_->BeforeConnect = [port](contracts::TNetConnection& c) {
    c.SetHost("127.0.0.1");
    c.SetPort(port);
  };
}

Variant Clerk::Call(const std::string& method, rtl::VariantArray& args) {
  SetThreadToken(token_);
  ++stats_.requests;
  return conn_->Call(method, args);
}

Variant Clerk::Call(const std::string& method, std::initializer_list<Variant> args) {
  rtl::VariantArray a(args);
  return Call(method, a);
}

Variant Clerk::Read(const std::string& method, std::initializer_list<Variant> args) {
  return host::CheckResultServ(Call(method, args), true, 0);
}

Write Clerk::Finish(const std::string& method, const Variant& r, std::vector<Change> changes, bool updEfetClie) {
  Write w{method, std::move(changes)};
  try {
    if (updEfetClie && !contracts::IsResultArray(r)) {
      // UpdEfetClie answers ["OK"] or [message]; a failure on the way is a
      // failed result array like any other.
      if (r.isArray() && r.size() == 1 && r[0].isString() && r[0].toString() == "OK") w.accepted = true;
      else w.message = r.isArray() && r.size() > 0 ? r[0].toString() : r.debugString();
    } else {
      host::CheckResultServ(r, true, 0);
      w.accepted = true;
    }
  } catch (const rtl::Exception& e) {
    w.message = e.Message();
  }
  if (w.accepted) {
    ++stats_.accepted;
    ledger_.Accept(w.changes);
  }
  return w;
}

namespace {

// Sets a field and returns the change it makes.
Change Set(data::TClientDataSet& ds, const char* field, const Variant& value, const std::string& branch,
           rtl::TDateTime day, const std::string& table, const std::string& key, const std::string& op) {
  Change c{branch, day, table, key, field, op, ds.FieldByName(field).Value(), value};
  ds.FieldByName(field).SetValue(value);
  return c;
}

}  // namespace

Write Clerk::PostServices(rtl::TDateTime day, int it) {
  Variant p = Read("GetCardaDia", {branch_, Day(day), ""});
  data::TClientDataSet card;
  card.SetData(p[0]);
  std::vector<Change> changes;
  int s = 0;
  for (const char* service : {kService1, kService2}) {
    if (!card.Locate("CDSERVFILI", Variant(service))) throw std::runtime_error("no menu of " + std::string(service));
    std::string key = card.FieldByName("NRCARDAPIO").AsString() + " serviço " + service;
    double cli = (it + 1) * 10 + s, fun = (it + 1) * 2, doa = it + 1 + s;
    card.Edit();
    Variant oldTotal = card.FieldByName("QTCOMEFETCAR").Value();
    changes.push_back(Set(card, "QTCLIEFETCAR", Variant(cli), branch_, day, "CARDAPIO", key, op_));
    changes.push_back(Set(card, "QTFUNEFETCAR", Variant(fun), branch_, day, "CARDAPIO", key, op_));
    changes.push_back(Set(card, "QTDOAEFETCAR", Variant(doa), branch_, day, "CARDAPIO", key, op_));
    // What the screen's BeforePost computes; the server recomputes it.
    changes.push_back(Set(card, "QTCOMEFETCAR", Variant(cli + fun + doa), branch_, day, "CARDAPIO", key, op_));
    card.FieldByName("QTCOMEFETRI").SetAsFloat(cli + fun + doa);
    card.FieldByName("QTCOMEFETSL").SetAsFloat(cli + fun + doa);
    card.Post();
    ++s;
  }
  rtl::VariantArray args{branch_, kService1, Day(day), Variant(card.Delta()), op_, ""};
  return Finish("PostCard", Call("PostCard", args), std::move(changes));
}

Write Clerk::PostClients(rtl::TDateTime day, int it) {
  Variant card = Read("GetCardaDia", {branch_, Day(day), ""});
  data::TClientDataSet cds;
  cds.SetData(card[0]);
  cds.Locate("CDSERVFILI", Variant(kService1));
  std::string menu = cds.FieldByName("NRCARDAPIO").AsString();
  data::TClientDataSet fatu;
  fatu.SetData(Read("GetServiFat", {branch_, kService1, Day(day), 0}));
  if (!fatu.Locate("CDSERVICFATURAM", Variant(kBilled))) throw std::runtime_error("billed service missing");
  Variant cli = Read("GetServCli", {branch_, kBilled, Day(day), kService1});
  data::TClientDataSet clients;
  clients.SetData(cli[0]);
  std::vector<Change> changes;
  for (clients.First(); !clients.Eof(); clients.Next()) {
    std::string code = clients.FieldByName("CDCLIENTE").AsString();
    double n = std::find(kClients.begin(), kClients.end(), code) - kClients.begin();
    clients.Edit();
    changes.push_back(Set(clients, "QTCOMEFETCLI", Variant((it + 1) * 5 + n), branch_, day, "EFETCLIE",
                          std::string(kBilled) + "/" + code, op_));
    clients.Post();
  }
  rtl::VariantArray args{Variant(clients.Delta()), branch_, kService1, Day(day), true, menu, Variant::Null()};
  Write w = Finish("UpdEfetClie", Call("UpdEfetClie", args), std::move(changes), true);
  if (w.accepted) {
    // The confirm reloads the billed services and the apportionment lines.
    Read("GetServiFat", {branch_, kService1, Day(day), 0});
    Read("GetItemRatEfet", {branch_, kBilled, Day(day), kService1});
  }
  return w;
}

Write Clerk::PostTurnstile(rtl::TDateTime day, int it) {
  data::TClientDataSet cat;
  cat.SetData(Read("GetEfetCatraca", {branch_, Day(day), kService1}));
  if (!cat.Locate("CDCATRACA", Variant(kTurnstile))) throw std::runtime_error("turnstile missing");
  std::string key = std::string(kTurnstile) + " serviço " + kService1;
  double ini = 1000.0 * (it + 1), fim = ini + 37 + it;
  cat.Edit();
  std::vector<Change> changes;
  changes.push_back(Set(cat, "QTEFETCATINI", Variant(ini), branch_, day, "EFETCATRACA", key, op_));
  changes.push_back(Set(cat, "QTEFETCATFIM", Variant(fim), branch_, day, "EFETCATRACA", key, op_));
  changes.push_back(Set(cat, "QTEFETCATTOT", Variant(fim - ini), branch_, day, "EFETCATRACA", key, op_));
  cat.Post();
  rtl::VariantArray args{Variant(cat.Delta())};
  return Finish("SetEfetCat", Call("SetEfetCat", args), std::move(changes));
}

Write Clerk::PostShifts(rtl::TDateTime day, int it) {
  double total = (it + 1) * 5;  // C1's count of PostClients
  data::TClientDataSet shifts;
  shifts.SetData(Read("GetTurnoCliente", {branch_, kBilled, kClients[0], Day(day)}));
  std::vector<Change> changes;
  double first = std::floor(total / 2) + (it % 2);
  for (shifts.First(); !shifts.Eof(); shifts.Next()) {
    std::string shift = shifts.FieldByName("CDTURNO").AsString();
    std::string key = std::string(kBilled) + "/" + kClients[0] + " turno " + shift;
    shifts.Edit();
    double q = shift == kShifts[0] ? first : total - first;
    changes.push_back(Set(shifts, "QTCOMTURNCLI", Variant(q), branch_, day, "TURNOCLIENTE", key, op_));
    shifts.Post();
  }
  rtl::VariantArray args{Variant(shifts.Delta())};
  return Finish("SetTurnoCliente", Call("SetTurnoCliente", args), std::move(changes));
}

std::vector<Write> Clerk::EnterDay(rtl::TDateTime day, int it) {
  std::vector<Write> r;
  r.push_back(PostServices(day, it));
  if (!r.back().accepted) return r;
  r.push_back(PostClients(day, it));
  if (!r.back().accepted) return r;
  r.push_back(PostTurnstile(day, it));
  if (!r.back().accepted) return r;
  r.push_back(PostShifts(day, it));
  return r;
}

Clerk::Pending Clerk::ReadServiceForConflict(rtl::TDateTime day, double clients) {
  Variant p = Read("GetCardaDia", {branch_, Day(day), ""});
  data::TClientDataSet card;
  card.SetData(p[0]);
  card.Locate("CDSERVFILI", Variant(kService2));
  std::string key = card.FieldByName("NRCARDAPIO").AsString() + " serviço " + kService2;
  card.Edit();
  Pending pd{"PostCard", {}, {}};
  pd.changes.push_back(Set(card, "QTCLIEFETCAR", Variant(clients), branch_, day, "CARDAPIO", key, op_));
  double fun = card.FieldByName("QTFUNEFETCAR").AsFloat(), doa = card.FieldByName("QTDOAEFETCAR").AsFloat();
  bool blank = card.FieldByName("QTFUNEFETCAR").IsNull() && card.FieldByName("QTDOAEFETCAR").IsNull();
  (void)blank;
  pd.changes.push_back(Set(card, "QTCOMEFETCAR", Variant(clients + fun + doa), branch_, day, "CARDAPIO", key, op_));
  card.Post();
  pd.args = {branch_, kService2, Day(day), Variant(card.Delta()), op_, ""};
  return pd;
}

Clerk::Pending Clerk::ReadClientForConflict(rtl::TDateTime day, double count) {
  Variant card = Read("GetCardaDia", {branch_, Day(day), ""});
  data::TClientDataSet cds;
  cds.SetData(card[0]);
  cds.Locate("CDSERVFILI", Variant(kService1));
  Variant cli = Read("GetServCli", {branch_, kBilled, Day(day), kService1});
  data::TClientDataSet clients;
  clients.SetData(cli[0]);
  clients.Locate("CDCLIENTE", Variant(kClients[2]));
  Pending pd{"UpdEfetClie", {}, {}};
  clients.Edit();
  pd.changes.push_back(Set(clients, "QTCOMEFETCLI", Variant(count), branch_, day, "EFETCLIE",
                           std::string(kBilled) + "/" + kClients[2], op_));
  clients.Post();
  pd.args = {Variant(clients.Delta()), branch_, kService1, Day(day), true, cds.FieldByName("NRCARDAPIO").AsString(),
             Variant::Null()};
  return pd;
}

Write Clerk::Send(Pending p) {
  Variant r = Call(p.method, p.args);
  return Finish(p.method, r, std::move(p.changes), p.method == "UpdEfetClie");
}

// ---- The database against the ledger

namespace {

struct Where {
  std::string sql;
  db::Params params;
};

// Rows of the key that a change names, by table.
Where WhereOf(const Change& c) {
  Where w;
  auto word = [&](size_t n) {
    std::istringstream in(c.key);
    std::string s;
    for (size_t i = 0; i <= n; ++i) in >> s;
    return s;
  };
  Variant day = Variant::FromDate(c.day);
  if (c.table == "CARDAPIO") {
    w.sql = "CDFILIAL = :P_F AND NRCARDAPIO = :P_K";
    w.params = {{"P_F", c.branch}, {"P_K", word(0)}};
  } else if (c.table == "EFETCLIE") {
    std::string k = c.key;
    w.sql = "CDFILIAL = :P_F AND CDSERVICFATURAM = :P_B AND CDCLIENTE = :P_C AND DTEFETCLIE = :P_D";
    w.params = {{"P_F", c.branch}, {"P_B", k.substr(0, k.find('/'))}, {"P_C", k.substr(k.find('/') + 1)}, {"P_D", day}};
  } else if (c.table == "EFETCATRACA") {
    w.sql = "CDFILIAL = :P_F AND CDCATRACA = :P_K AND CDSERVFILI = :P_S AND DTEFETCAT = :P_D";
    w.params = {{"P_F", c.branch}, {"P_K", word(0)}, {"P_S", word(2)}, {"P_D", day}};
  } else if (c.table == "TURNOCLIENTE") {
    std::string bc = word(0);
    w.sql = "CDFILIAL = :P_F AND CDSERVICFATURAM = :P_B AND CDCLIENTE = :P_C AND DTFATTURNO = :P_D AND CDTURNO = :P_T";
    w.params = {{"P_F", c.branch},
                {"P_B", bc.substr(0, bc.find('/'))},
                {"P_C", bc.substr(bc.find('/') + 1)},
                {"P_D", day},
                {"P_T", word(2)}};
  } else {
    throw std::logic_error("table " + c.table);
  }
  return w;
}

}  // namespace

Stored ReadStored(db::Connection& c, const Change& key) {
  Where w = WhereOf(key);
  auto r = c.query("SELECT " + key.field + " FROM " + key.table + " WHERE " + w.sql, w.params);
  Stored s;
  s.rows = r.size();
  if (!r.empty()) s.value = r.rows[0][0];
  return s;
}

std::vector<std::pair<std::string, std::string>> ReadAudit(db::Connection& c, const Change& key) {
  auto r = c.query(
      "SELECT VRANTERIOR, VRNOVO, CDOPERADOR FROM AUDITORIA WHERE CDFILIAL = :P_F AND DTREFERENCIA = :P_D"
      " AND NMTABELA = :P_T AND DSCHAVE = :P_K AND NMCAMPO = :P_C ORDER BY NRAUDITORIA",
      {{"P_F", key.branch},
       {"P_D", Variant::FromDate(key.day)},
       {"P_T", key.table},
       {"P_K", key.key},
       {"P_C", key.field}});
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& row : r.rows)
    out.push_back({AuditText(row[0]) + " -> " + AuditText(row[1]), row[2].toString()});
  return out;
}

void ExpectDatabaseMatches(const std::string& conninfo, const Ledger& ledger) {
  auto c = db::Open(conninfo);
  auto changes = ledger.changes();
  // Expected audit rows per key, in the order the changes were accepted.
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> audit;
  std::map<std::string, Change> keys;
  size_t expectedAudit = 0;
  for (const auto& ch : changes) {
    std::string k = Ledger::KeyOf(ch);
    keys.emplace(k, ch);
    auto& v = audit[k];
    if (AuditText(ch.before) != AuditText(ch.after)) {
      v.push_back({AuditText(ch.before) + " -> " + AuditText(ch.after), ch.op});
      ++expectedAudit;
    }
  }
  auto last = ledger.last();
  int wrongValues = 0, wrongAudit = 0;
  for (const auto& [k, ch] : keys) {
    Stored s = ReadStored(*c, ch);
    if (s.rows != 1 || AuditText(s.value) != AuditText(last[k])) {
      if (++wrongValues <= 5)
        ADD_FAILURE() << k << ": " << s.rows << " rows, stored " << AuditText(s.value) << ", accepted "
                      << AuditText(last[k]);
    }
    auto got = ReadAudit(*c, ch);
    if (got != audit[k]) {
      if (++wrongAudit <= 5) {
        std::string g, e;
        for (auto& x : got) g += "[" + x.first + " by " + x.second + "] ";
        for (auto& x : audit[k]) e += "[" + x.first + " by " + x.second + "] ";
        ADD_FAILURE() << k << ": audit " << g << "expected " << e;
      }
    }
  }
  EXPECT_EQ(wrongValues, 0);
  EXPECT_EQ(wrongAudit, 0);
  // No audit row beyond those of accepted changes.
  auto n = c->query("SELECT COUNT(*) FROM AUDITORIA");
  EXPECT_EQ(static_cast<size_t>(n.rows[0][0].toInt()), expectedAudit);
}

double LoadSeconds(double fallback) {
  const char* s = std::getenv("EFET_LOAD_SECONDS");
  if (s && *s) {
    double v = std::atof(s);
    if (v > 0) return v;
  }
  return fallback;
}

}  // namespace systest
