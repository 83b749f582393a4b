#pragma once
// PLA01000 against the real application server: a temporary SQLite database
// filled by the server's DemoBuilder, the server module behind the real HTTP
// endpoint on 127.0.0.1, the operator logged in, the branch database and the
// operator context on the same file, and the toolkit's scripted services. The
// screen is opened through its factory and driven as a user drives it.
//
// The HTTP transport is wrapped by a recorder that keeps every call the screen
// makes and can make chosen calls fail on the way (or run a hook just before
// a call reaches the server); the answers themselves are always the server's.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contracts/transport.h"
#include "net/http_server.h"
#include "net/http_transport.h"
#include "pla01000/cli_pla01000.h"
#include "platform/db/connection.h"
#include "platform/db/query.h"
#include "platform/host/branch.h"
#include "platform/host/context.h"
#include "platform/host/lookups.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/format.h"
#include "platform/ui/driver.h"
#include "server/admin.h"
#include "server/demo.h"
#include "server/module.h"
#include "support/sqlite_temp.h"

namespace pla01000test {

struct RecordedCall {
  std::string method;
  rtl::VariantArray args;
};

// What the recorder saw and what it is told to do.
class CallLog {
public:
  std::vector<RecordedCall> calls;
  // method -> how many of its next calls fail on the way.
  std::map<std::string, int> failures;
  // method -> runs just before each call of it goes to the server.
  std::map<std::string, std::function<void(int nth)>> before;

  int count(const std::string& method) const {
    int n = 0;
    for (auto& c : calls) n += c.method == method;
    return n;
  }
  std::vector<RecordedCall> of(const std::string& method) const {
    std::vector<RecordedCall> r;
    for (auto& c : calls)
      if (c.method == method) r.push_back(c);
    return r;
  }
  void failNext(const std::string& method, int times = 1) { failures[method] = times; }
  void clear() { calls.clear(); }
};

inline const char* const kFalhaSimulada = "Falha simulada na comunicação com o servidor.";

class RecordingTransport : public contracts::Transport {
public:
  RecordingTransport(std::unique_ptr<contracts::Transport> inner, CallLog& log) : inner_(std::move(inner)), log_(log) {}
  rtl::Variant Call(const std::string& server, const std::string& method, rtl::VariantArray& args,
                    const std::string& token) override {
    log_.calls.push_back({method, args});
    auto f = log_.failures.find(method);
    if (f != log_.failures.end() && f->second > 0) {
      --f->second;
      throw contracts::TransportError(kFalhaSimulada);
    }
    if (auto h = log_.before.find(method); h != log_.before.end()) h->second(log_.count(method));
    return inner_->Call(server, method, args, token);
  }

private:
  std::unique_ptr<contracts::Transport> inner_;
  CallLog& log_;
};

class ScreenTest : public ::testing::Test {
protected:
  // The processing date of the fixture's branches.
  const rtl::TDateTime D = rtl::EncodeDate(2024, 6, 20);

  // The rows every test starts from; a test class may add its own.
  virtual void Build(server::DemoBuilder& b) {
    b.GeneralParams("N", "N");
    b.Group("ALM", "Almoço").Group("JAN", "Jantar");
    b.Branch("0001", "Matriz", D).Branch("0002", "Campinas", D).Branch("00AB", "Filial AB", D);
    // 0001: later dates refused, closed days on, window of 3 days.
    b.PlanParams("0001", "S", "N", 3, "N").BranchParams("0001", "N", "N");
    // 0002: later dates allowed, closed days off (the number of days is ignored).
    b.PlanParams("0002", "N", "N", 3, "S").BranchParams("0002", "N", "N");
    b.Service("0001", "00010", "Almoço", "N", "ALM").Service("0001", "00020", "Jantar", "N", "JAN");
    b.Service("0002", "00010", "Almoço Campinas", "N", "ALM");
    b.Service("00AB", "00010", "Almoço AB", "N", "ALM");
    server::DemoBuilder::Counts k;
    k.clients = 10, k.employees = 2, k.donations = 1, k.estClients = 12;
    cardD = b.Menu("0001", "00010", D, k);
    b.Menu("0001", "00020", D);
    for (int back : {3, 4}) b.Menu("0001", "00010", D - back, k);
    b.Menu("0001", "00010", D + 1, k);
    b.Menu("0002", "00010", D + 1, k);
    b.Menu("00AB", "00010", D, k);
    b.DishType("01", "Principal");
    b.Dish("0001", "PP001", "Frango", "01");
    b.MenuDish("0001", cardD, "PP001", 1, 5.0, 1.5);
    b.OperatorHash("OPA", "Ana", Hash(), {}, true);
  }

  // Other modules the same server answers (the additions' rdmHistorico).
  virtual void AddModules(net::HttpServer&) {}

  static const std::string& Hash() {
    static const std::string h = server::HashPassword("segredo");
    return h;
  }

  void SetUp() override {
    file_.emplace("efet-pla01000");
    cs_ = file_->connectionString();
    module_ = std::make_unique<server::MediEfetivos>(cs_);
    {
      auto c = db::Open(cs_);
      db::Transaction t(*c);
      server::DemoBuilder b(*c);
      Build(b);
      t.commit();
    }
    ops_ = std::make_unique<server::OperatorStore>(cs_);
    net::HttpServerOptions o;
    o.logger = [](const net::RequestLog&) {};
    o.threads = 2;
    o.keepAliveTimeoutSeconds = 2;
    http_ = std::make_unique<net::HttpServer>(*ops_, o);
    http_->addModule(*module_);
    AddModules(*http_);
    http_->start();

    CallLog* log = &calls;
    contracts::RegisterTransportFactory([log](const std::string& host, int port) {
      return std::unique_ptr<contracts::Transport>(
          std::make_unique<RecordingTransport>(net::MakeHttpTransport(host, port), *log));
    });
    net::Login("127.0.0.1", http_->port(), "OPA", "segredo");

    db::dtmDBGeral.Configure(cs_);
    auto& ctx = host::Context();
    ctx = host::OperatorContext{};
    ctx.filiProc = "0001";
    ctx.operador = "OPA";
    ctx.webURL = "127.0.0.1";
    ctx.webPort = http_->port();
    host::UseDatabaseForContext();

    ui.services().Lookup.Opener = [](data::TClientDataSet& ds) { ds.Open(); };
    pla01000::InitializeUnit();
  }

  void TearDown() override {
    // The screens (and their keep-alive connections) go before the server stops.
    ui::Application().DestroyForms();
    if (http_) http_->stop();
    contracts::RegisterTransportFactory({});
    contracts::ClearSession();
    db::dtmDBGeral.Disconnect();
  }

  // Opens the screen as the host's menu does; f is the screen.
  pla01000::TfrmMediEfetivos* Open() {
    ui.act([] { pla01000::CriaMedEfetivos(); });
    f = pla01000::frmMediEfetivos;
    return f;
  }

  // Types a date into the menu-date field (dd/mm/yyyy), replacing what it shows.
  void TypeDate(rtl::TDateTime d) {
    ASSERT_TRUE(ui.focus(*f->depCardapio));
    ui.type(rtl::FormatDateTime("dd/mm/yyyy", d));
  }
  // Leaves the header panel as the user does: into the service grid.
  bool LeaveHeader() { return ui.focus(*f->dbgPadrao); }
  // Chooses a menu date and leaves the header: the menu day loads.
  void LoadDay(rtl::TDateTime d) {
    TypeDate(d);
    LeaveHeader();
  }
  size_t ErrorCount() const { return ui.errors().size(); }

  // A statement on the database behind the server.
  void Exec(const std::string& sql, const db::Params& p = {}) {
    auto c = db::Open(cs_);
    c->exec(sql, p);
  }

  std::optional<testsupport::TempSqlite> file_;
  std::string cs_;
  std::string cardD;
  std::unique_ptr<server::MediEfetivos> module_;
  std::unique_ptr<server::OperatorStore> ops_;
  std::unique_ptr<net::HttpServer> http_;
  CallLog calls;
  // Last: the forms go (and with them the screen's connection) before the server.
  ui::Driver ui;
  pla01000::TfrmMediEfetivos* f = nullptr;
};

}  // namespace pla01000test
