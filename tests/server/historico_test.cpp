// rdmHistorico on SQLite and PostgreSQL, reached over the real HTTP endpoint as
// the desktop reaches it: value histories, turnstile imports and the month.

#include <sstream>

#include "additions/history.h"
#include "additions/month.h"
#include "additions/turnstile_import.h"
#include "contracts/net_connection.h"
#include "net/http_server.h"
#include "net/http_transport.h"
#include "platform/rtl/format.h"
#include "server/historico.h"
#include "server/schema.h"
#include "server_fixture.h"

using additions::Verdict;
using rtl::Variant;

namespace {

class HistoricoTest : public ServerTest {
protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    historico_ = std::make_unique<server::Historico>(*module_);
    ops_ = std::make_unique<server::OperatorStore>(cs_);
    net::HttpServerOptions o;
    o.logger = [](const net::RequestLog&) {};
    o.threads = 2;
    http_ = std::make_unique<net::HttpServer>(*ops_, o);
    http_->addModule(*module_);
    http_->addModule(*historico_);
    http_->start();
    net::RegisterHttpTransport();
    LoginAs("OPA");
  }
  void TearDown() override {
    hist.Disconnect();
    medi.Disconnect();
    if (http_) http_->stop();
    contracts::ClearSession();
  }
  void LoginAs(const std::string& op) {
    hist.Disconnect();
    medi.Disconnect();
    net::Login("127.0.0.1", http_->port(), op, "segredo");
    for (auto* c : {&hist, &medi}) {
      c->SetHost("127.0.0.1");
      c->SetPort(http_->port());
    }
  }
  // The clerk types a client count on the service grid of D.
  void TypeClients(double n) {
    data::TClientDataSet ds("cdsCardaDia");
    LoadCardaDia(ds);
    ds.Edit();
    ds.FieldByName("QTCLIEFETCAR").SetAsFloat(n);
    ds.FieldByName("QTCOMEFETCAR").SetAsFloat(n + 3);
    ds.Post();
    ASSERT_TRUE(contracts::ResultSucceeded(PostCard(ds))) << PostCard(ds).debugString();
  }

  std::unique_ptr<server::Historico> historico_;
  std::unique_ptr<server::OperatorStore> ops_;
  std::unique_ptr<net::HttpServer> http_;
  contracts::TNetConnection hist{additions::kHistoricoServer};
  contracts::TNetConnection medi{"Pla01000.rdmMediEfetivos"};
};

TEST_P(HistoricoTest, HistoryOfAValueIsNewestFirstWithOperatorAndMethod) {
  TypeClients(20);
  TypeClients(25);
  data::TClientDataSet ds("cdsCardaDia");
  LoadCardaDia(ds);
  ds.FieldByName("QTCLIEFETCAR").DisplayFormat = "#,##0.00";
  auto h = additions::ReadHistory(hist, ds, "QTCLIEFETCAR", "0001");
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(h[0].before, "20,00");
  EXPECT_EQ(h[0].after, "25,00");
  EXPECT_EQ(h[1].before, "10,00");
  EXPECT_EQ(h[1].after, "20,00");
  EXPECT_EQ(h[0].operatorCode, "OPA");
  EXPECT_EQ(h[0].operatorName, "Ana");
  EXPECT_EQ(h[0].method, "PostCard");
  EXPECT_GE(h[0].when, h[1].when);
  EXPECT_NE(additions::HistoryLine(h[0]).find("OPA Ana  20,00 \u2192 25,00  (PostCard)"), std::string::npos)
      << additions::HistoryLine(h[0]);

  // A value never changed, and a day whose row has the same key but another date.
  EXPECT_TRUE(additions::ReadHistory(hist, ds, "QTDOAEFETCAR", "0001").empty());
  data::TClientDataSet old("cdsCardaDia");
  LoadCardaDia(old, "00010", D - 5);
  EXPECT_TRUE(additions::ReadHistory(hist, old, "QTCLIEFETCAR", "0001").empty());

  // A field that is no headcount has no history; that is said, not hidden.
  try {
    additions::ReadHistory(hist, ds, "NMSERVICO", "0001");
    ADD_FAILURE() << "NMSERVICO answered";
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(std::string(e.what()), "O campo NMSERVICO de cdsCardaDia não tem histórico de alterações.");
  }
}

TEST_P(HistoricoTest, AnotherBranchsHistoryIsRefusedLikeAnyRead) {
  TypeClients(20);
  data::TClientDataSet ds("cdsCardaDia");
  LoadCardaDia(ds);
  LoginAs("OPB");  // branch 0002 only
  std::string refusedRead = FailText(Call("GetCardaDia", {"0001", Day(D), ""}, "OPB"));
  try {
    additions::ReadHistory(hist, ds, "QTCLIEFETCAR", "0001");
    ADD_FAILURE() << "the history of 0001 was given to OPB";
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(std::string(e.what()), refusedRead);
  }
}

TEST_P(HistoricoTest, AuditListingNarrowsToOneRowAndField) {
  TypeClients(20);
  std::ostringstream out;
  server::PrintAudit(*db_, {"0001", std::nullopt, "CARDAPIO", cardD + " serviço 00010", "QTCLIEFETCAR"}, out);
  EXPECT_NE(out.str().find(": 1 alterações"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("QTCLIEFETCAR: 10 -> 20  (PostCard)"), std::string::npos) << out.str();
  EXPECT_EQ(out.str().find("QTCOMEFETCAR"), std::string::npos) << out.str();
}

TEST_P(HistoricoTest, UpgradeKeepsTheAuditRowsWrittenBefore) {
  // Back to the audit table of version 2, with one row in it.
  db_->exec("DROP INDEX IXAUDITORIACAMPO");
  db_->exec("ALTER TABLE AUDITORIA DROP COLUMN NMMETODO");
  db_->exec("UPDATE VERSAOESQUEMA SET NRVERSAO = 2");
  db_->exec(
      "INSERT INTO AUDITORIA (DTHRAUDIT, CDOPERADOR, CDFILIAL, DTREFERENCIA, NMTABELA, DSCHAVE, NMCAMPO, VRANTERIOR,"
      " VRNOVO) VALUES (:P_T, 'OPA', '0001', :P_D, 'CARDAPIO', :P_K, 'QTCLIEFETCAR', '9', '10')",
      {{"P_T", Variant::FromDate(D)}, {"P_D", Day(D)}, {"P_K", cardD + " serviço 00010"}});
  EXPECT_EQ(server::EnsureSchema(*db_), 2);
  EXPECT_EQ(db_->query("SELECT NRVERSAO FROM VERSAOESQUEMA").rows[0][0].toInt(), server::kSchemaVersion);
  TypeClients(20);
  data::TClientDataSet ds("cdsCardaDia");
  LoadCardaDia(ds);
  auto h = additions::ReadHistory(hist, ds, "QTCLIEFETCAR", "0001");
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(h[0].method, "PostCard");
  EXPECT_EQ(h[1].method, "");
  EXPECT_EQ(h[1].after, "10");
  EXPECT_NE(additions::HistoryLine(h[1]).find("(método não registrado)"), std::string::npos);
}

std::string DayText(rtl::TDateTime d) { return rtl::FormatDateTime("dd/mm/yyyy", d); }

TEST_P(HistoricoTest, ImportingTwiceChangesNothingTheSecondTime) {
  const std::string file = "CDCATRACA;CDFILIAL;DTEFETCAT;CDSERVFILI;QTEFETCATINI;QTEFETCATFIM\n"
                           "T1;0001;" + DayText(D) + ";00010;1200;1350\n"
                           "T1;0001;" + DayText(D - 1) + ";00010;1000;1100\n";
  auto p = additions::PreviewTurnstileFile(hist, file);
  ASSERT_TRUE(p.fileError.empty()) << p.fileError;
  ASSERT_EQ(p.count(Verdict::Ready), 2) << p.lines[0].text;
  auto out = additions::SendTurnstileLines(medi, p);
  EXPECT_EQ(out.sentLines, 2);
  EXPECT_EQ(out.calls, 2);  // one per day and service
  EXPECT_TRUE(out.refusals.empty()) << out.refusals[0];
  EXPECT_EQ(StoredNum("SELECT QTEFETCATTOT FROM EFETCATRACA WHERE CDCATRACA = 'T1' AND DTEFETCAT = :P_D",
                      {{"P_D", Day(D)}}),
            150);
  // The audit names the importing operator and the method the screen uses.
  data::TClientDataSet cat("cdsEfetCat");
  Load(cat, Ok(Call("GetEfetCatraca", {"0001", Day(D), "00010"})));
  auto h = additions::ReadHistory(hist, cat, "QTEFETCATFIM", "0001");
  ASSERT_EQ(h.size(), 1u);
  EXPECT_EQ(h[0].operatorCode, "OPA");
  EXPECT_EQ(h[0].method, "SetEfetCat");

  int64_t audits = AuditCount();
  auto again = additions::PreviewTurnstileFile(hist, file);
  EXPECT_EQ(again.count(Verdict::Unchanged), 2);
  EXPECT_EQ(again.toSend(), 0);
  auto none = additions::SendTurnstileLines(medi, again);
  EXPECT_EQ(none.calls, 0);
  EXPECT_EQ(none.summary(), "Nada a importar: nenhuma leitura nova ou alterada foi enviada.");
  EXPECT_EQ(AuditCount(), audits);
}

TEST_P(HistoricoTest, ImportRefusesAReadingChangedSincePreview) {
  server::DemoBuilder(*db_).Reading("0001", "T1", "00010", D, 100, 200);
  auto p = additions::PreviewTurnstileFile(hist, "CDFILIAL,CDSERVFILI,CDCATRACA,DTEFETCAT,QTEFETCATINI,QTEFETCATFIM\n"
                                                 "0001,00010,T1," + DayText(D) + ",100,250\n");
  ASSERT_EQ(p.count(Verdict::Changed), 1);
  EXPECT_EQ(p.lines[0].text, "Já gravada com outros valores: 100–200 → 100–250.");
  EXPECT_EQ(p.toSend(), 0);  // changed lines go only when ticked
  p.lines[0].send = true;
  // Another clerk types the reading in the meantime.
  data::TClientDataSet cat("cdsEfetCat");
  Load(cat, Ok(Call("GetEfetCatraca", {"0001", Day(D), "00010"})));
  cat.Edit();
  cat.FieldByName("QTEFETCATFIM").SetAsFloat(210);
  cat.FieldByName("QTEFETCATTOT").SetAsFloat(110);
  cat.Post();
  ASSERT_TRUE(contracts::ResultSucceeded(Call("SetEfetCat", {cat.Delta()})));
  int64_t audits = AuditCount();
  auto out = additions::SendTurnstileLines(medi, p);
  EXPECT_EQ(out.sentLines, 0);
  ASSERT_EQ(out.refusals.size(), 1u);
  EXPECT_NE(out.refusals[0].find("alterada por outro usuário"), std::string::npos) << out.refusals[0];
  EXPECT_EQ(StoredNum("SELECT QTEFETCATFIM FROM EFETCATRACA WHERE CDCATRACA = 'T1' AND DTEFETCAT = :P_D",
                      {{"P_D", Day(D)}}),
            210);
  EXPECT_EQ(AuditCount(), audits);
}

TEST_P(HistoricoTest, PreviewJudgesEveryKindOfLine) {
  server::DemoBuilder(*db_).Turnstile("0001", "T2", "Saída", "00020").Reading("0001", "T1", "00010", D - 1, 5, 9);
  // D - 5 is past the closed-day limit (3 days before D) of branch 0001.
  const std::string file = "CDFILIAL;CDSERVFILI;CDCATRACA;DTEFETCAT;QTEFETCATINI;QTEFETCATFIM\n"
                           "0001;00010;T1;" + DayText(D) + ";10;20\n"      // 2 ready
                           "0001;00010;T9;" + DayText(D) + ";10;20\n"      // 3 unknown turnstile
                           "0001;00010;T2;" + DayText(D) + ";10;20\n"      // 4 turnstile of another service
                           "0001;00099;T1;" + DayText(D) + ";10;20\n"      // 5 unknown service
                           "0001;00010;T1;" + DayText(D - 2) + ";30;20\n"  // 6 end below start
                           "0001;00010;T1;" + DayText(D - 5) + ";10;20\n"  // 7 closed day
                           "0001;00010;T1;" + DayText(D - 1) + ";5;9\n"    // 8 already stored, same
                           "0001;00010;T1;31/02/2024;10;20\n"              // 9 malformed
                           "0002;00010;T1;" + DayText(D) + ";1;2\n";       // 10 branch not allowed to OPB
  LoginAs("OPB");
  auto p = additions::PreviewTurnstileFile(hist, file);
  LoginAs("OPA");
  auto q = additions::PreviewTurnstileFile(hist, file);
  ASSERT_EQ(q.lines.size(), 9u);
  const Verdict want[] = {Verdict::Ready,         Verdict::UnknownTurnstile, Verdict::UnknownTurnstile,
                          Verdict::UnknownService, Verdict::EndBelowStart,   Verdict::ClosedDay,
                          Verdict::Unchanged,      Verdict::Malformed,       Verdict::UnknownTurnstile};
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(q.lines[i].verdict, want[i]) << "line " << q.lines[i].lineNo << ": " << q.lines[i].text;
  EXPECT_EQ(q.lines[7].text, "Linha 9: data \"31/02/2024\" inválida (use dd/mm/aaaa).");
  EXPECT_EQ(q.lines[2].text, "Catraca T2 não pertence ao serviço 00010 (é do serviço 00020).");
  EXPECT_EQ(q.toSend(), 1);
  // OPB may read only 0002: the lines of 0001 are refused with the server's message.
  EXPECT_EQ(p.lines[0].verdict, Verdict::Refused);
  EXPECT_EQ(p.lines[8].verdict, Verdict::UnknownTurnstile);  // 0002 has no turnstile T1
}

TEST_P(HistoricoTest, MonthGivesEachServicesDaysAndTheFailingOnes) {
  server::DemoBuilder b(*db_);
  b.Withdrawal("0001", cardD20, "P1", "Arroz", 3);                 // 00020 on D: withdrawn, no headcount
  b.Reading("0001", "T1", "00010", D, 1000, 1040);                 // 40 through the turnstile, 13 served
  std::string empty = b.Menu("0001", "00010", D - 10);             // past the limit, no headcount
  auto v = additions::ReadMonth(hist, "0001", 2024, 6, "");
  ASSERT_EQ(v.services.size(), 2u);
  const auto& lunch = v.services[0];
  EXPECT_EQ(lunch.service, "00010");
  ASSERT_EQ(lunch.days.size(), 3u);  // D-10, D-5, D; D+40 is in July
  const auto& d = lunch.days[2];
  EXPECT_EQ(d.day, D);
  EXPECT_EQ(d.served, 13);
  EXPECT_EQ(d.planned, 12);
  EXPECT_EQ(d.billed, 6);
  EXPECT_EQ(v.limit, D - 3);
  std::vector<std::string> got;
  for (const auto& c : v.checks) got.push_back(DayText(c.day) + " " + c.service + " " + c.text);
  std::vector<std::string> want{
      DayText(D - 10) + " 00010 Dia sem efetivos além do limite de dia fechado (" + DayText(D - 3) + ").",
      // Clients typed on the planning page and none stored per client: a mismatch, as on the screen.
      DayText(D - 5) + " 00010 Soma dos clientes (0) diferente dos clientes do planejamento (10).",
      DayText(D) + " 00010 Soma dos clientes (6) diferente dos clientes do planejamento (10).",
      DayText(D) + " 00010 Medição das catracas (40) distante do total servido (13).",
      DayText(D) + " 00020 Serviço com retirada de estoque e sem efetivos.",
  };
  EXPECT_EQ(got, want);
  // A group narrows the services; another branch is refused.
  EXPECT_EQ(additions::ReadMonth(hist, "0001", 2024, 6, "JAN").services.size(), 1u);
  LoginAs("OPB");
  EXPECT_THROW(additions::ReadMonth(hist, "0001", 2024, 6, ""), rtl::Exception);
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Backends, HistoricoTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), BackendName);
