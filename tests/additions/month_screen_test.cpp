// The month's figures against counts the clerk typed on PLA01000, driven
// headlessly against the real server, read back through rdmHistorico.

#include "additions/month.h"
#include "pla01000/screen_fixture.h"
#include "server/historico.h"

using namespace pla01000test;

namespace {

enum Col { kServico = 0, kNome, kClientes, kFuncionarios, kDoacoes, kTotal };

class MonthAfterTyping : public ScreenTest {
protected:
  void AddModules(net::HttpServer& http) override {
    historico_ = std::make_unique<server::Historico>(*module_);
    http.addModule(*historico_);
  }
  std::unique_ptr<server::Historico> historico_;
};

TEST_F(MonthAfterTyping, TypedCountsAreTheMonthsServedFigures) {
  Open();
  LoadDay(D);
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  ASSERT_TRUE(f->cdsCardaDia.Locate("CDSERVFILI", rtl::Variant("00010")));
  const int row = f->cdsCardaDia.RecNo();
  ASSERT_TRUE(ui.clickCell(*f->dbgPadrao, row, kClientes));
  ui.type("40");
  ui.press(ui::VK_RIGHT);
  ui.type("5");
  ui.press(ui::VK_RIGHT);
  ui.type("2");
  ui.press(ui::VK_RETURN);
  ui.press(ui::VK_RETURN);  // on the last column: posts
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  ASSERT_EQ(calls.count("PostCard"), 1);

  contracts::TNetConnection hist("Pla01000.rdmHistorico");
  hist.SetHost("127.0.0.1");
  hist.SetPort(http_->port());
  auto v = additions::ReadMonth(hist, "0001", 2024, 6, "");
  ASSERT_FALSE(v.services.empty());
  const auto& lunch = v.services[0];
  ASSERT_EQ(lunch.service, "00010");
  std::map<int, std::optional<double>> served, clients;
  for (const auto& d : lunch.days) served[static_cast<int>(D - d.day)] = d.served, clients[static_cast<int>(D - d.day)] = d.plannedClients;
  EXPECT_EQ(served[0], 47);  // typed
  EXPECT_EQ(clients[0], 40);
  EXPECT_EQ(served[3], 13);  // as built
  EXPECT_EQ(served[4], 13);
  EXPECT_EQ(served.count(-1), 1u);  // the next day, in June too
  // The jantar of D was left empty: it is in the month, without a served figure.
  ASSERT_EQ(v.services.size(), 2u);
  EXPECT_FALSE(v.services[1].days.front().served.has_value());
}

}  // namespace
