#pragma once
// PLA01010 opened from PLA01000 against the real server: PLA01000's screen
// fixture with services of branch 0001 whose plans and billed clients each
// test picks by service code. The consolidation screen is modal, so each test
// acts on it inside the modal script and closes it there.

#include <functional>

#include "pla01010/cli_pla01010.h"
#include "../pla01000/screen_fixture.h"

namespace pla01010test {

class ConsTest : public pla01000test::ScreenTest {
protected:
  rtl::TDateTime d1() const { return D - 12; }
  rtl::TDateTime d2() const { return D - 11; }
  rtl::TDateTime d3() const { return D - 10; }

  void Build(server::DemoBuilder& b) override {
    ScreenTest::Build(b);
    b.Client("CA", "Alfa Ltda", "Alfa").Client("CB", "Beta S.A.", "Beta").Client("C'Q", "D'Ávila Ltda", "Dávila");
    b.Client("CS", "Apurado Ltda", "Apurado");
    auto plan = [&](const std::string& svc, std::vector<std::pair<rtl::TDateTime, double>> days) {
      b.Service("0001", svc, "Serviço " + svc, "N", "ALM");
      for (auto& [day, qt] : days) {
        server::DemoBuilder::Counts k;
        k.clients = qt;
        b.Menu("0001", svc, day, k);
      }
    };
    auto billed = [&](const std::string& svc, const std::string& code,
                      std::vector<std::pair<std::string, double>> clients, rtl::TDateTime day) {
      b.Billed("0001", svc, code, "Faturado " + code);
      for (auto& [cli, qt] : clients) {
        b.BilledClient("0001", code, cli);
        b.ClientCount("0001", code, cli, day, qt);
      }
    };
    // Plans 10, 12 and 8; clients 20 and 10.
    plan("00030", {{d1(), 10}, {d2(), 12}, {d3(), 8}});
    billed("00030", "20030", {{"CA", 20}}, d1());
    billed("00030", "20031", {{"CB", 10}}, d2());
    // Plans 1, 1, 1; clients 2 and 1.
    plan("00040", {{d1(), 1}, {d2(), 1}, {d3(), 1}});
    billed("00040", "20040", {{"CA", 2}, {"CB", 1}}, d1());
    // Plans 1 and 1; clients 1 and 1, one of them with a quote in its code.
    plan("00050", {{d1(), 1}, {d2(), 1}});
    billed("00050", "20050", {{"CA", 1}, {"C'Q", 1}}, d1());
    // Clients but no planned day.
    plan("00060", {});
    billed("00060", "20060", {{"CA", 5}}, d1());
    // A settled day inside the period.
    plan("00070", {{d1(), 5}, {d2(), 5}, {d3(), 5}});
    billed("00070", "20070", {{"CS", 15}}, d2());
    b.Settlement("0001", "AP001", "CS", d2(), d2());
    // Planned days that add up to 0.
    plan("00080", {{d1(), 0}, {d2(), 0}});
    billed("00080", "20080", {{"CA", 0}, {"CB", 0}}, d1());
  }

  // PLA01000's connection keeps a server worker busy while it stays open, and
  // the consolidation screen needs one of its own: serve with more workers.
  void SetUp() override {
    ScreenTest::SetUp();
    http_->stop();
    net::HttpServerOptions o;
    o.logger = [](const net::RequestLog&) {};
    o.threads = 4;
    http_ = std::make_unique<net::HttpServer>(*ops_, o);
    http_->addModule(*module_);
    http_->start();
    net::Login("127.0.0.1", http_->port(), "OPA", "segredo");
    host::Context().webPort = http_->port();
  }

  // Opens PLA01000 on the fixture's day, then the consolidation screen from it;
  // body acts on the modal screen, which is closed afterwards. A body that
  // leaves an apportionment unconfirmed closes with Não to the question about
  // it, dropping it; a body that closes the screen itself answers for itself.
  void Consolidate(const std::function<void(pla01010::TfrmConsEfetClie&)>& body) {
    ASSERT_TRUE(Open());
    LoadDay(D);
    ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
    calls.clear();
    ui.onModal([&](ui::TCustomForm& form) {
      c = dynamic_cast<pla01010::TfrmConsEfetClie*>(&form);
      if (c) body(*c);
      if (form.ModalDone()) return;
      if (c && c->RateioPorConfirmar()) ui.answer(ui::mrNo);
      ui.close(form);
    });
    ui.act([] { pla01010::CriaConsEfetClie(); });
  }

  void TypeInto(ui::TWinControl& edit, const std::string& text) {
    ASSERT_TRUE(ui.focus(edit));
    ui.type(text);
  }
  // Chooses service and period and leaves the header: both views load.
  void Load(const std::string& service, rtl::TDateTime first, rtl::TDateTime last) {
    TypeInto(*c->medCdServico, service);
    TypeInto(*c->depEfetIni, rtl::FormatDateTime("dd/mm/yyyy", first));
    TypeInto(*c->depEfetFin, rtl::FormatDateTime("dd/mm/yyyy", last));
    ui.focus(*c->dbgEfetPlan);
  }
  void Apportion() { ui.click(*c->sbtConsolidar); }
  void Confirm() { ui.click(*c->sbtConfirma); }
  // Types a value into a cell of a grid and moves to another row, which posts.
  void TypeCell(ui::TDBGrid& g, int recNo, int column, const std::string& text, int thenRecNo) {
    ui.clickCell(g, recNo, column);
    ui.type(text);
    ui.clickCell(g, thenRecNo, column);
  }

  // QTEFETFAT of every day-and-client row, as "client day qty" lines sorted.
  static std::vector<std::string> Rows(data::TClientDataSet& ds) {
    std::vector<std::string> r;
    bool was = ds.Filtered();
    ds.SetFiltered(false);
    for (ds.First(); !ds.Eof(); ds.Next())
      r.push_back(ds.FieldByName("CDCLIENTE").AsString() + " " + ds.FieldByName("DTCARDAPIO").AsString() + " " +
                  ds.FieldByName("QTEFETFAT").AsString());
    ds.SetFiltered(was);
    std::sort(r.begin(), r.end());
    return r;
  }
  std::string Day(rtl::TDateTime d) const { return rtl::DateToStr(d); }

  pla01010::TfrmConsEfetClie* c = nullptr;
};

}  // namespace pla01010test
