// The lookups over real lookup queries on a SQLite branch database with the
// server's schema: the grid's service lookup (type N only), the report's
// service list (types N and F) and a branch without services.

#include <gtest/gtest.h>

#include "platform/db/connection.h"
#include "platform/db/query.h"
#include "platform/host/lookups.h"
#include "platform/rtl/datetime.h"
#include "platform/ui/driver.h"
#include "server/schema.h"
#include "support/sqlite_temp.h"

namespace {

struct LookupDbTest : ::testing::Test {
  testsupport::TempSqlite file{"lookups"};
  std::unique_ptr<db::Connection> conn;
  ui::Driver ui;
  host::ScriptedLookupEx lookup{ui.services().Lookup, ui.services().services()};
  db::TADOIBQuery qryServicoPesq{"qryServicoPesq"};
  db::TADOIBQuery qryServico{"qryServico"};
  data::TDataSource dtsServico{"dtsServico"};
  data::TDataSource dtsServicoRel{"dtsServicoRel"};

  void SetUp() override {
    conn = db::Open(file.connectionString());
    server::EnsureSchema(*conn);
    auto day = rtl::Variant::FromDate(rtl::EncodeDate(2026, 12, 7));
    for (const char* f : {"0001", "0002"})
      conn->exec("INSERT INTO FILIAL (CDFILIAL, NMFILIAL, DTPROCES, IDCNTRRESC) VALUES (:C, :N, :D, 'N')",
                 {{"C", f}, {"N", std::string("Filial ") + f}, {"D", day}});
    auto serv = [&](const char* f, const char* c, const char* n, const char* t) {
      conn->exec("INSERT INTO SERVICO (CDFILIAL, CDSERVFILI, NMSERVICO, IDTIPOSERV) VALUES (:F, :C, :N, :T)",
                 {{"F", f}, {"C", c}, {"N", n}, {"T", t}});
    };
    serv("0001", "00001", "Almoço", "N");
    serv("0001", "00002", "Jantar", "N");
    serv("0001", "00003", "Lanche faturado", "F");
    serv("0001", "00004", "Outro", "X");
    serv("0001", "00005", "Ceia", "N");

    qryServicoPesq.SetConnection(conn.get());
    qryServicoPesq.SQL = {"SELECT", "   CDFILIAL,", "   CDSERVFILI,", "   NMSERVICO", "FROM", "   SERVICO", "WHERE",
                          "   (CDFILIAL   = :P_CDFILIAL)   AND", "   (IDTIPOSERV = 'N')", "ORDER BY", "   CDFILIAL,",
                          "   CDSERVFILI", " "};
    qryServicoPesq.AddField({"CDSERVFILI", data::TFieldType::String, 5, false, true});
    qryServicoPesq.AddField({"NMSERVICO", data::TFieldType::String, 40});
    qryServicoPesq.AddField({"CDFILIAL", data::TFieldType::String, 4, false, true});
    dtsServico.SetDataSet(&qryServicoPesq);

    qryServico.SetConnection(conn.get());
    qryServico.SQL = {"SELECT", "   CDFILIAL,", "   CDSERVFILI,", "   NMSERVICO", "FROM", "   SERVICO", "WHERE",
                      "   (CDFILIAL   = :P_CDFILIAL) AND", "   (IDTIPOSERV IN ('N', 'F'))", "ORDER BY",
                      "   CDFILIAL,", "   CDSERVFILI"};
    dtsServicoRel.SetDataSet(&qryServico);
  }
};

TEST_F(LookupDbTest, ServiceLookupOpensTheQueryAndStandsOnThePick) {
  qryServicoPesq.ParamByName("P_CDFILIAL").SetAsString("0001");
  ui.lookupPicks(2);
  bool picked = false;
  ui.act([&] { picked = host::Pesquisar(&dtsServico, "Serviço|Não há serviço.", false, true); });
  ASSERT_TRUE(picked);
  EXPECT_TRUE(qryServicoPesq.Active());
  EXPECT_EQ(qryServicoPesq.RecordCount(), 3);  // type N only
  EXPECT_EQ(qryServicoPesq.FieldByName("CDSERVFILI").AsString(), "00002");
  EXPECT_EQ(qryServicoPesq.FieldByName("NMSERVICO").AsString(), "Jantar");

  // Another branch: closed, re-parameterised, opened afresh; it has no service.
  qryServicoPesq.Close();
  qryServicoPesq.ParamByName("P_CDFILIAL").SetAsString("0002");
  ui.act([&] { picked = host::Pesquisar(&dtsServico, "Serviço|Não há serviço.", false, true); });
  EXPECT_FALSE(picked);
  EXPECT_EQ(ui.lastDialog(), "Não há serviço.");
  EXPECT_TRUE(ui.errors().empty());
}

TEST_F(LookupDbTest, BranchTextIsAParameterNeverSql) {
  qryServicoPesq.ParamByName("P_CDFILIAL").SetAsString("0001') OR ('1'='1");
  bool picked = true;
  ui.act([&] { picked = host::Pesquisar(&dtsServico, "Serviço|Não há serviço.", false, true); });
  EXPECT_FALSE(picked);
  EXPECT_EQ(ui.lastDialog(), "Não há serviço.");
}

TEST_F(LookupDbTest, ServiceListOfTheReportCoversBothTypes) {
  qryServico.ParamByName("P_CDFILIAL").SetAsString("0001");
  std::string stListaServ;
  lookup.QueuePickMany({1, 3, 4});
  bool chosen = false;
  ui.act([&] { chosen = host::PesquisaLista(&dtsServicoRel, "CDSERVFILI", "Serviço|Não há serviço.", false, stListaServ); });
  ASSERT_TRUE(chosen);
  EXPECT_EQ(qryServico.RecordCount(), 4);
  EXPECT_EQ(stListaServ, "00001,00003,00005");

  // The list goes back into a query as bound values.
  db::TADOIBQuery check("qryCheck");
  check.SetConnection(conn.get());
  check.SQL = {"SELECT COUNT(*) AS N FROM SERVICO WHERE CDFILIAL = :P_CDFILIAL AND CDSERVFILI IN (:P_1, :P_2, :P_3)"};
  check.ParamByName("P_CDFILIAL").SetAsString("0001");
  auto codes = host::SplitLista(stListaServ);
  ASSERT_EQ(codes.size(), 3u);
  for (size_t i = 0; i < codes.size(); ++i) check.ParamByName("P_" + std::to_string(i + 1)).SetAsString(codes[i]);
  check.Open();
  EXPECT_EQ(check.FieldByName("N").AsInteger(), 3);
}

}  // namespace
