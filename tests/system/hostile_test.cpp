// Hostile requests against a real efetivos-server process: each is refused
// with a clear message (or, for a text that only filters a read, answered as
// for any unknown value), the database is unchanged, and the server keeps
// serving. Malformed requests go through a raw HTTP client, since the client
// stack cannot produce them.

#include <httplib.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <functional>

#include "contracts/result.h"
#include "platform/data/packet.h"
#include "net/http_transport.h"
#include "platform/rtl/format.h"
#include "support/sqlite_temp.h"
#include "system_fixture.h"

using namespace systest;

namespace {

const char* const kTables[] = {"CARDAPIO",     "COMPCARDAPIO", "PRATOCARDAPIO", "EFETCLIE",  "CLIENTE",
                               "EFETCATRACA",  "TURNOCLIENTE", "ITRATEFETCLIE", "EFETCONSOL", "AUDITORIA",
                               "NUMERADOR",    "FILIAL",       "SERVICO",       "SERVFATUCLIE", "OPERADOR",
                               "OPERFILIAL",   "PARAMPLANEJA", "PARAMFILIAL",   "APURACAO"};

// Whether a call succeeded, read in the shape each method answers with: three
// are read by the screens without CheckResultServ. Vd_Retirada answers "" or
// the text it was given (`echo`), and anything else is its refusal.
bool Succeeded(const std::string& method, const Variant& r, const std::string& echo, std::string* message) {
  std::string m;
  if (contracts::IsResultArray(r)) {
    m = contracts::ResultMessage(r);
  } else if (method == "UpdEfetClie") {
    if (r.isArray() && r.size() == 1 && r[0].isString() && r[0].toString() != "OK") m = r[0].toString();
  } else if (method == "GetRetirada") {
    if (!(r.isArray() && r.size() > 0 && contracts::ResultSucceeded(r[0])))
      m = r.isArray() && r.size() > 0 ? contracts::ResultMessage(r[0]) : r.debugString();
  } else if (method == "Vd_Retirada") {
    if (!r.isString()) m = r.debugString();
    else if (!r.toString().empty() && r.toString() != echo) m = r.toString();
  } else {
    m = "not a result: " + r.debugString();
  }
  if (message) *message = m;
  return m.empty();
}

class Hostile : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    file_ = new testsupport::TempSqlite("efet-hostile");
    today_ = rtl::Date();
    BuildCompany(file_->connectionString(), today_);
    server_ = new testsupport::ServerProcess(ServerProgram(), file_->connectionString());
  }
  static void TearDownTestSuite() {
    delete server_;
    delete file_;
  }
  void SetUp() override {
    RegisterPerThreadSessions();
    // OP2 may use branches 0001 and 0002 only; OP1 every branch.
    clerk_ = std::make_unique<Clerk>(server_->port(), "OP2", "dois", "0001", stats_, ledger_);
    clerk_->Login();
    other_ = std::make_unique<Clerk>(server_->port(), "OP1", "um", "0003", stats_, ledger_);
    other_->Login();
    clerk_->Login();  // the thread's token is OP2's again
    before_ = Dump();
  }
  void TearDown() override { EXPECT_EQ(Dump(), before_) << "the database changed"; }

  static std::string Dump() {
    auto c = db::Open(file_->connectionString());
    std::string out;
    for (const char* t : kTables) {
      auto r = c->query(std::string("SELECT * FROM ") + t);
      std::vector<std::string> rows;
      for (const auto& row : r.rows) {
        std::string line;
        for (const auto& v : row) line += v.debugString() + "|";
        rows.push_back(line);
      }
      std::sort(rows.begin(), rows.end());
      out += std::string(t) + ":" + std::to_string(rows.size()) + "\n";
      for (auto& l : rows) out += l + "\n";
    }
    return out;
  }

  // A call that must come back refused, with a message.
  std::string Refused(const std::string& method, rtl::VariantArray args) {
    std::string echo = method == "Vd_Retirada" && args.size() > 2 && args[2].isString() ? args[2].toString() : "";
    Variant r = clerk_->Call(method, args);
    std::string m;
    EXPECT_FALSE(Succeeded(method, r, echo, &m)) << method << " " << r.debugString().substr(0, 300);
    EXPECT_FALSE(m.empty()) << method;
    EXPECT_EQ(m.find("Erro no servidor"), std::string::npos) << method << ": " << m;
    return m;
  }

  void ExpectServing() {
    Variant r = clerk_->Call("GetParamGeral", {});
    EXPECT_TRUE(contracts::ResultSucceeded(r)) << r.debugString();
  }

  Variant D(int back = 1) const { return Variant::FromDate(today_ - back); }

  static testsupport::TempSqlite* file_;
  static testsupport::ServerProcess* server_;
  static rtl::TDateTime today_;
  Stats stats_;
  Ledger ledger_;
  std::unique_ptr<Clerk> clerk_, other_;
  std::string before_;
};

testsupport::TempSqlite* Hostile::file_ = nullptr;
testsupport::ServerProcess* Hostile::server_ = nullptr;
rtl::TDateTime Hostile::today_ = 0;

// Argument kinds of every remote method: T text, D date, P delta, N number,
// B flag. The clean value of each position is a valid one.
struct Signature {
  const char* method;
  std::string kinds;
};
const std::vector<Signature> kSignatures{
    {"GetParamGeral", ""},         {"GetParamPlaneja", "T"},     {"GetCardaDia", "TDT"},
    {"GetDtCardapio", "TD"},       {"PostCard", "TTDPTT"},       {"GetComensais", "TDT"},
    {"UpdPratoCard", "PTD"},       {"GetServiFat", "TTDN"},      {"GetServCli", "TTDT"},
    {"GetEfetCatraca", "TDT"},     {"SetEfetCat", "P"},          {"GetTurnoCliente", "TTTD"},
    {"SetTurnoCliente", "P"},      {"UpdEfetClie", "PTTDBTP"},   {"GetItemRatEfet", "TTDT"},
    {"VerificaEfetFat", "TTD"},    {"Vd_Retirada", "TTT"},       {"GetRetirada", "TTTN"},
    {"GetVerifRetirada", "TDT"},   {"GetVerifApurac", "TTDD"},   {"GetEfetPlanCli", "TTDD"},
    {"SetConsolEfet", "TTP"}};

// Clean text of position i of a method: the branch first, then what the
// position names.
std::string CleanText(const std::string& method, size_t i) {
  if (method == "PostCard") return i == 0 ? "0001" : i == 1 ? kService1 : i == 4 ? "OP2" : "";
  if (method == "UpdEfetClie") return i == 1 ? "0001" : i == 2 ? kService1 : "1";
  if (method == "GetServCli" || method == "GetItemRatEfet") return i == 0 ? "0001" : i == 1 ? kBilled : kService1;
  if (method == "GetTurnoCliente") return i == 0 ? "0001" : i == 1 ? kBilled : "C1";
  if (method == "GetCardaDia" || method == "GetVerifRetirada") return i == 0 ? "0001" : "";
  if (method == "UpdPratoCard") return "0001";
  if (method == "Vd_Retirada" || method == "GetRetirada") return i == 0 ? "0001" : i == 1 ? "1" : "x";
  return i == 0 ? "0001" : kService1;
}

rtl::VariantArray CleanArgs(const Signature& s, rtl::TDateTime day) {
  rtl::VariantArray a;
  for (size_t i = 0; i < s.kinds.size(); ++i) {
    switch (s.kinds[i]) {
      case 'T': a.push_back(CleanText(s.method, i)); break;
      case 'D': a.push_back(Variant::FromDate(day)); break;
      case 'P': a.push_back(Variant::Null()); break;
      case 'N': a.push_back(Variant(int64_t{0})); break;
      case 'B': a.push_back(true); break;
    }
  }
  return a;
}

// Rows of every data packet in a result, in order: what a filter let through.
std::vector<int> RowCounts(const Variant& v) {
  std::vector<int> n;
  std::function<void(const Variant&)> walk = [&](const Variant& x) {
    if (x.isPacket()) {
      data::TClientDataSet ds;
      ds.SetData(x);
      n.push_back(ds.RecordCount());
    } else if (x.isArray()) {
      for (size_t i = 0; i < x.size(); ++i) walk(x[i]);
    }
  };
  walk(v);
  return n;
}

std::vector<std::string> HostileTexts() {
  return {"'",
          "''",
          "0001'; DROP TABLE CARDAPIO; --",
          "' OR '1'='1",
          "0001' OR 1=1 --",
          "%",
          "_",
          "00%1",
          "0_01",
          std::string("00\0" "01", 5),
          std::string(100000, 'A'),
          std::string(300000, '\''),
          "\xff\xfe\xc3\x28 inválido",
          "\\\"; SELECT 1; --",
          "$1 :P_CDFILIAL ?"};
}

TEST_F(Hostile, SqlShapedTextInEveryTextArgumentOfEveryMethod) {
  int probes = 0;
  for (const auto& s : kSignatures) {
    for (size_t i = 0; i < s.kinds.size(); ++i) {
      if (s.kinds[i] != 'T') continue;
      // What the call answers for an unknown but harmless value: a hostile
      // text must get the same kind of answer, never more rows.
      rtl::VariantArray plain = CleanArgs(s, today_ - 1);
      plain[i] = "ZZZZ";
      Variant base = clerk_->Call(s.method, plain);
      bool baseOk = Succeeded(s.method, base, "ZZZZ", nullptr);
      for (const auto& text : HostileTexts()) {
        rtl::VariantArray a = CleanArgs(s, today_ - 1);
        a[i] = text;
        Variant r = clerk_->Call(s.method, a);
        ++probes;
        std::string m;
        bool ok = Succeeded(s.method, r, text, &m);
        std::string where = std::string(s.method) + " arg " + std::to_string(i + 1) + " = " +
                            rtl::QuotedStr(text.substr(0, 40));
        if (!ok) {
          EXPECT_FALSE(m.empty()) << where;
          EXPECT_EQ(m.find("Erro no servidor"), std::string::npos) << where << ": " << m;
        }
        // A branch or key that does not exist is refused like "ZZZZ"; a text
        // that does not select anything selects nothing. Text that is not
        // UTF-8 is refused as such.
        if (text.find("\xff") != std::string::npos) {
          EXPECT_FALSE(ok) << where;
          EXPECT_EQ(m, "Argumento " + std::to_string(i + 1) + " não é um texto válido (UTF-8).") << where;
          continue;
        }
        EXPECT_EQ(ok, baseOk) << where << ": " << r.debugString().substr(0, 300);
        if (ok && baseOk) EXPECT_EQ(RowCounts(r), RowCounts(base)) << where;
      }
    }
  }
  EXPECT_GT(probes, 500);
  ExpectServing();
}

TEST_F(Hostile, WrongArgumentCountsAndTypes) {
  for (const auto& s : kSignatures) {
    if (s.kinds.empty()) continue;
    Refused(s.method, {});  // no arguments at all
    // Every position given an array, then a packet where text is expected.
    for (size_t i = 0; i < s.kinds.size(); ++i) {
      rtl::VariantArray a = CleanArgs(s, today_ - 1);
      if (s.kinds[i] == 'D') {
        a[i] = "not a date";
        Refused(s.method, a);
        a[i] = Variant(std::nan(""));
        Refused(s.method, a);
      } else if (s.kinds[i] == 'T') {
        a[i] = rtl::VarArrayOf({"0001", "0002"});
        Refused(s.method, a);
      } else if (s.kinds[i] == 'P') {
        a[i] = "this is not a delta";
        Refused(s.method, a);
        a[i] = Variant(int64_t{42});
        Refused(s.method, a);
      }
    }
  }
  Refused("DropEverything", {"0001"});
  Refused("", {});
  ExpectServing();
}

TEST_F(Hostile, DeltasOfABranchTheOperatorMayNotUse) {
  // OP1 reads branch 0003 and changes its rows; OP2 (0001 and 0002) sends them.
  SetThreadToken("");
  other_->Login();
  Variant card = other_->Read("GetCardaDia", {"0003", D(), ""});
  data::TClientDataSet cds;
  cds.SetData(card[0]);
  cds.Edit();
  cds.FieldByName("QTCLIEFETCAR").SetAsFloat(99);
  cds.Post();
  data::TClientDataSet cat;
  cat.SetData(other_->Read("GetEfetCatraca", {"0003", D(), kService1}));
  cat.Edit();
  cat.FieldByName("QTEFETCATINI").SetAsFloat(1);
  cat.FieldByName("QTEFETCATFIM").SetAsFloat(2);
  cat.Post();
  data::TClientDataSet cli;
  cli.SetData(other_->Read("GetServCli", {"0003", kBilled, D(), kService1})[0]);
  cli.Edit();
  cli.FieldByName("QTCOMEFETCLI").SetAsFloat(3);
  cli.Post();
  clerk_->Login();

  EXPECT_EQ(Refused("PostCard", {"0003", kService1, D(), Variant(cds.Delta()), "OP2", ""}),
            "Operador OP2 sem permissão para a filial 0003.");
  EXPECT_EQ(Refused("PostCard", {"0001", kService1, D(), Variant(cds.Delta()), "OP1", ""}),
            "Registro da filial 0003 enviado numa alteração da filial 0001.");
  EXPECT_EQ(Refused("SetEfetCat", {Variant(cat.Delta())}), "Operador OP2 sem permissão para a filial 0003.");
  Variant r = clerk_->Call("UpdEfetClie", {Variant(cli.Delta()), "0001", kService1, D(), true, "1", Variant::Null()});
  ASSERT_TRUE(r.isArray() && r.size() == 1) << r.debugString();
  EXPECT_EQ(r[0].toString(), "Registro da filial 0003 enviado numa alteração da filial 0001.");
  EXPECT_EQ(Refused("GetCardaDia", {"0003", D(), ""}), "Operador OP2 sem permissão para a filial 0003.");
}

// Values no screen could have typed: sums beyond the doubles, a read sent back
// as a delta, a delta longer than its day, a text longer than its column.
TEST_F(Hostile, ValuesNoScreenCouldHaveTyped) {
  Variant read = clerk_->Read("GetCardaDia", {"0001", D(), ""})[0];
  data::TClientDataSet cds;
  cds.SetData(read);
  ASSERT_TRUE(cds.Locate("CDSERVFILI", Variant(kService1)));
  cds.Edit();
  cds.FieldByName("QTCLIEFETCAR").SetAsFloat(1e308);
  cds.FieldByName("QTFUNEFETCAR").SetAsFloat(1e308);
  cds.Post();
  EXPECT_NE(Refused("PostCard", {"0001", kService1, D(), Variant(cds.Delta()), "OP2", ""}).find("excede"),
            std::string::npos);
  EXPECT_NE(Refused("PostCard", {"0001", kService1, D(), read, "OP2", ""}).find("não nos dados lidos"),
            std::string::npos);

  // One changed row, and the same row 5,000 times: no day has that many services.
  data::PacketReader r(read.asPacket());
  data::PacketWriter w(r.FieldDefs(), data::PacketKind::Delta);
  ASSERT_TRUE(r.Next());
  std::vector<Variant> now = r.Values();
  now[r.FieldIndex("QTCLIEFETCAR")] = Variant(1.0);
  for (int i = 0; i < 5000; ++i) w.AddModified(now, r.Values());
  EXPECT_NE(Refused("PostCard", {"0001", kService1, D(), Variant(w.Finish()), "OP2", ""}).find("mais linhas"),
            std::string::npos);

  data::TClientDataSet cli;
  cli.SetData(clerk_->Read("GetServCli", {"0001", kBilled, D(), kService1})[0]);
  data::PacketReader cr(cli.Data());
  data::PacketWriter cw(cr.FieldDefs(), data::PacketKind::Delta);
  ASSERT_TRUE(cr.Next());
  std::vector<Variant> name = cr.Values();
  name[cr.FieldIndex("NMFANTCLIE")] = Variant(std::string(101, 'N'));
  cw.AddModified(name, cr.Values());
  Variant u = clerk_->Call("UpdEfetClie", {Variant(cw.Finish()), "0001", kService1, D(), true, "1", Variant::Null()});
  ASSERT_TRUE(u.isArray() && u.size() == 1) << u.debugString().substr(0, 200);
  EXPECT_EQ(u[0].toString(), "Nome fantasia do cliente deve ter no máximo 100 caracteres.");
  ExpectServing();
}

// Two clerks consolidate the same period from the same read: the second is
// refused as any stale change is, and the first split stays.
TEST_F(Hostile, ConsolidationFromAStaleRead) {
  auto read = [&] { return clerk_->Read("GetEfetPlanCli", {"0001", kService1, D(3), D(3)}); };
  Variant a = read(), b = read();
  ASSERT_EQ(a.size(), 3u);
  data::TClientDataSet plan;
  plan.SetData(a[0]);
  ASSERT_EQ(plan.RecordCount(), 1);
  double planned = plan.FieldByName("QTCLIEFETCAR").AsFloat();
  auto split = [&](double first) {
    data::PacketWriter w({{"DTCARDAPIO", data::TFieldType::DateTime},
                          {"CDCLIENTE", data::TFieldType::String, 21},
                          {"NMRAZSOCCLIE", data::TFieldType::String, 50},
                          {"QTEFETFAT", data::TFieldType::Float}});
    w.AddRow({D(3), "C1", "", first});
    w.AddRow({D(3), "C2", "", planned - first});
    return Variant(w.Finish());
  };
  EXPECT_EQ(clerk_->Read("SetConsolEfet", {"0001", kService1, split(0), a[2]}).toString(), "");
  EXPECT_NE(Refused("SetConsolEfet", {"0001", kService1, split(planned), b[2]}).find("alterado por outro usuário"),
            std::string::npos);
  auto c = db::Open(file_->connectionString());
  EXPECT_EQ(c->query("SELECT QTEFETFAT FROM EFETCONSOL WHERE CDCLIENTE = 'C1'").rows.at(0).at(0).toDouble(), 0);
  before_ = Dump();  // the first consolidation is a change made on purpose
}

// ---- Raw HTTP

struct Raw {
  int status = 0;
  std::string body;
};

Raw Post(int port, const std::string& path, const std::string& body, const char* type = "application/json") {
  httplib::Client c("127.0.0.1", port);
  c.set_read_timeout(60, 0);
  c.set_write_timeout(60, 0);
  auto res = c.Post(path.c_str(), body, type);
  if (!res) return {-1, httplib::to_string(res.error())};
  return {res->status, res->body};
}

std::string CallBody(const std::string& token, const std::string& method, const std::string& args) {
  return R"({"server":"Pla01000.rdmMediEfetivos","method":")" + method + R"(","token":")" + token + R"(","args":)" +
         args + "}";
}

// A refusal on the way: a 4xx status and a JSON body with the message.
void ExpectRefusal(const Raw& r, const std::string& what, const char* code = nullptr) {
  EXPECT_GE(r.status, 400) << what << ": " << r.body.substr(0, 200);
  EXPECT_LT(r.status, 500) << what << ": " << r.body.substr(0, 200);
  auto j = nlohmann::json::parse(r.body, nullptr, false);
  ASSERT_TRUE(j.is_object() && j.contains("error") && j["error"].is_string()) << what << ": " << r.body.substr(0, 200);
  EXPECT_FALSE(j["error"].get<std::string>().empty()) << what;
  if (code) {
    EXPECT_EQ(j.value("code", ""), code) << what << ": " << r.body;
  }
}

TEST_F(Hostile, MalformedRequestsOverRawHttp) {
  int port = server_->port();
  std::string token = net::Login("127.0.0.1", port, "OP2", "dois");
  const std::string good = CallBody(token, "GetParamGeral", "[]");
  ASSERT_EQ(Post(port, "/call", good).status, 200);

  ExpectRefusal(Post(port, "/call", "{"), "truncated JSON");
  ExpectRefusal(Post(port, "/call", "not json at all"), "not JSON");
  ExpectRefusal(Post(port, "/call", ""), "empty body");
  ExpectRefusal(Post(port, "/call", "[1,2,3]"), "an array body");
  ExpectRefusal(Post(port, "/call", "\"text\""), "a string body");
  ExpectRefusal(Post(port, "/call", good.substr(0, good.size() - 1) + ",}"), "trailing comma");
  ExpectRefusal(Post(port, "/call", good + "garbage"), "trailing garbage");
  ExpectRefusal(Post(port, "/call", CallBody(token, "GetParamGeral", "\"x\"")), "args not an array");
  ExpectRefusal(Post(port, "/call", CallBody(token, "GetParamGeral", "[{\"$dt\":\"x\"}]")), "bad date tag");
  ExpectRefusal(Post(port, "/call", CallBody(token, "GetParamGeral", "[{\"$pkt64\":\"!!!\"}]")), "bad base64");
  ExpectRefusal(Post(port, "/call", CallBody(token, "GetParamGeral", std::string(10000, '[') + std::string(10000, ']'))),
                "deep nesting");
  ExpectRefusal(Post(port, "/call", R"({"server":1,"method":[],"token":{},"args":[]})"), "fields of wrong types");
  ExpectRefusal(Post(port, "/call", CallBody(token, "GetParamGeral", "[\"\xff\xfe\"]")), "invalid UTF-8 in JSON");
  ExpectRefusal(Post(port, "/call", CallBody(token, "NoSuchMethod", "[]")), "unknown method");
  ExpectRefusal(Post(port, "/call", R"({"server":"Other.Module","method":"GetParamGeral","token":")" + token +
                                         R"(","args":[]})"),
                "unknown server");
  ExpectRefusal(Post(port, "/nowhere", good), "unknown path");

  // Tokens: none, forged, and one whose session ended.
  ExpectRefusal(Post(port, "/call", CallBody("", "GetParamGeral", "[]")), "no token", "session");
  ExpectRefusal(Post(port, "/call", CallBody(std::string(43, 'A'), "GetParamGeral", "[]")), "forged token", "session");
  ExpectRefusal(Post(port, "/call", CallBody(token + "x", "GetParamGeral", "[]")), "altered token", "session");
  std::string ended = net::Login("127.0.0.1", port, "OP2", "dois");
  ASSERT_EQ(Post(port, "/logout", "{\"token\":\"" + ended + "\"}").status, 200);
  ExpectRefusal(Post(port, "/call", CallBody(ended, "GetParamGeral", "[]")), "logged-out token", "session");
  ExpectRefusal(Post(port, "/login", R"({"operator":"OP2","password":"wrong"})"), "wrong password", "session");
  ExpectRefusal(Post(port, "/login", R"({"operator":"' OR '1'='1","password":"' OR '1'='1"})"), "SQL in login",
                "session");

  // A body over the size limit (64 MiB) is refused before it is decoded.
  std::string huge = CallBody(token, "GetParamPlaneja", "[\"" + std::string((64u << 20) + 1024, 'x') + "\"]");
  Raw big = Post(port, "/call", huge);
  EXPECT_EQ(big.status, 413) << big.body.substr(0, 200);
  huge.clear();
  huge.shrink_to_fit();

  EXPECT_EQ(Post(port, "/call", good).status, 200) << "still serving";
}

// Text the server stores (a client's trade name) is stored as typed, quotes
// and wildcards included, and read back the same.
TEST_F(Hostile, SqlShapedTextStoredAsTyped) {
  const std::vector<std::string> names{"Bar do Zé'; DROP TABLE CLIENTE; --", "100% _natural_", "O'Brien \"&\" Cia"};
  std::string after;
  for (const auto& name : names) {
    data::TClientDataSet cli;
    cli.SetData(clerk_->Read("GetServCli", {"0001", kBilled, D(2), kService1})[0]);
    ASSERT_TRUE(cli.Locate("CDCLIENTE", Variant("C2")));
    cli.Edit();
    cli.FieldByName("NMFANTCLIE").SetAsString(name);
    cli.Post();
    Variant r = clerk_->Call("UpdEfetClie", {Variant(cli.Delta()), "0001", kService1, D(2), true, "1", Variant::Null()});
    ASSERT_TRUE(r.isArray() && r.size() == 1 && r[0].toString() == "OK") << r.debugString();
    data::TClientDataSet again;
    again.SetData(clerk_->Read("GetServCli", {"0001", kBilled, D(2), kService1})[0]);
    ASSERT_TRUE(again.Locate("CDCLIENTE", Variant("C2")));
    EXPECT_EQ(again.FieldByName("NMFANTCLIE").AsString(), name);
    auto c = db::Open(file_->connectionString());
    EXPECT_EQ(c->query("SELECT NMFANTCLIE FROM CLIENTE WHERE CDCLIENTE = 'C2'").rows.at(0).at(0).toString(), name);
  }
  // This test changes the database on purpose: the client's name and the
  // client row it created.
  before_ = Dump();
  auto c = db::Open(file_->connectionString());
  EXPECT_EQ(c->query("SELECT COUNT(*) FROM CLIENTE").rows[0][0].toInt(), 3);
}

}  // namespace
