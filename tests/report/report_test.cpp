#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/db/connection.h"
#include "platform/report/engine.h"
#include "platform/report/report.h"
#include "platform/rtl/datetime.h"
#include "server/demo.h"
#include "server/schema.h"
#include "support/pg_cluster.h"
#include "support/sqlite_temp.h"

namespace {

namespace fs = std::filesystem;
using report::LineKind;

const rtl::TDateTime kToday = rtl::EncodeDate(2026, 3, 16);
const rtl::TDateTime kFirst = rtl::EncodeDate(2026, 3, 2);
const rtl::TDateTime kLast = rtl::EncodeDate(2026, 3, 13);

host::TReportParams listingParams(const std::string& branch, const std::string& list) {
  host::TReportParams p{"P_CDFILIAL", "P_CDSERVFILI", "P_TCDSERVFILI", "P_DTINICIAL",
                        "P_DTFINAL", "P_DTPERIINI", "P_DTPERIFIN"};
  p.ParamByName("P_CDFILIAL").SetAsString(branch);
  p.ParamByName("P_CDSERVFILI").SetAsString(list);
  p.ParamByName("P_TCDSERVFILI").SetAsString(list.empty() ? "T" : "");
  p.ParamByName("P_DTINICIAL").SetAsDateTime(kFirst);
  p.ParamByName("P_DTFINAL").SetAsDateTime(kLast);
  p.ParamByName("P_DTPERIINI").SetAsString("02/03/2026");
  p.ParamByName("P_DTPERIFIN").SetAsString("13/03/2026");
  return p;
}

host::TReportDef listing() {
  host::TReportDef d;
  d.Code = "PLA010";
  d.Name = "Efetivos por Serviço";
  return d;
}

const char* kSums[] = {"QTCLIESTICAR", "QTFUNESTICAR", "QTDOAESTICAR", "QTCOMESTICAR",
                       "QTCLIEFETCAR", "QTFUNEFETCAR", "QTDOAEFETCAR", "QTCOMEFETCAR"};

// The stored figures of the period, summed by the database itself.
std::vector<double> storedSums(db::Connection& c, const std::string& branch, const std::string& service) {
  std::string sql = "SELECT COUNT(*) AS N";
  for (const char* f : kSums) sql += std::string(", COALESCE(SUM(") + f + "), 0) AS " + f;
  sql += " FROM CARDAPIO WHERE CDFILIAL = :B AND DTCARDAPIO BETWEEN :I AND :F";
  db::Params p{{"B", branch}, {"I", rtl::Variant::FromDate(kFirst)}, {"F", rtl::Variant::FromDate(kLast)}};
  if (!service.empty()) {
    sql += " AND CDSERVFILI = :S";
    p.set("S", service);
  }
  db::Result r = c.query(sql, p);
  std::vector<double> out{r.rows[0][0].toDouble()};
  for (size_t i = 1; i < r.columns.size(); ++i) out.push_back(r.rows[0][i].toDouble());
  return out;
}

std::vector<double> lineSums(const report::Line& l) {
  std::vector<double> out;
  for (size_t k = 2; k < l.Cells.size(); ++k) out.push_back(l.Cells[k].Value.toDouble());
  return out;
}

size_t count(const report::Document& d, LineKind k) {
  size_t n = 0;
  for (const auto& l : d.Body) n += l.Kind == k;
  return n;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Checks the listing of a demo database against the stored headcounts: every
// subtotal equals the database's sum of its service, the total the branch's.
void checkFigures(db::Connection& c) {
  report::TReportEngine engine;
  engine.SetConnection(&c);
  report::Document doc = engine.Prepare(listing(), listingParams("0001", ""));

  std::vector<double> all = storedSums(c, "0001", "");
  ASSERT_GT(all[0], 0) << "the demo company has no menus in the period";
  EXPECT_EQ(count(doc, LineKind::Detail), static_cast<size_t>(all[0]));
  ASSERT_EQ(doc.Body.back().Kind, LineKind::Total);
  EXPECT_EQ(lineSums(doc.Body.back()), std::vector<double>(all.begin() + 1, all.end()));

  db::Result services = c.query(
      "SELECT DISTINCT CDSERVFILI FROM CARDAPIO WHERE CDFILIAL = '0001' AND DTCARDAPIO BETWEEN :I AND :F "
      "ORDER BY CDSERVFILI",
      {{"I", rtl::Variant::FromDate(kFirst)}, {"F", rtl::Variant::FromDate(kLast)}});
  ASSERT_EQ(count(doc, LineKind::Subtotal), services.size());
  size_t s = 0;
  for (const auto& l : doc.Body) {
    if (l.Kind != LineKind::Subtotal) continue;
    std::string code = services.rows[s++][0].toString();
    std::vector<double> want = storedSums(c, "0001", code);
    EXPECT_EQ(lineSums(l), std::vector<double>(want.begin() + 1, want.end())) << code;
    EXPECT_NE(l.Cells[0].Text.find(code), std::string::npos) << l.Cells[0].Text;
  }

  // A chosen list: only those services, each code bound as a value.
  std::string one = services.rows[0][0].toString();
  report::Document chosen = engine.Prepare(listing(), listingParams("0001", one));
  std::vector<double> want = storedSums(c, "0001", one);
  EXPECT_EQ(count(chosen, LineKind::Subtotal), 1u);
  EXPECT_EQ(lineSums(chosen.Body.back()), std::vector<double>(want.begin() + 1, want.end()));
}

class ReportSqlite : public ::testing::Test {
protected:
  void SetUp() override {
    conn = db::Open(file.connectionString());
    server::EnsureSchema(*conn);
    server::DemoBuilder(*conn).BuildDemoCompany(kToday);
  }
  testsupport::TempSqlite file{"report"};
  std::unique_ptr<db::Connection> conn;
};

TEST_F(ReportSqlite, ListingFiguresEqualTheStoredHeadcounts) { checkFigures(*conn); }

TEST(ReportPostgres, ListingFiguresEqualTheStoredHeadcounts) {
  EFET_PG_DATABASE(conninfo, "report");
  auto conn = db::Open(conninfo);
  server::EnsureSchema(*conn);
  server::DemoBuilder(*conn).BuildDemoCompany(kToday);
  checkFigures(*conn);
}

TEST_F(ReportSqlite, ServiceListIsDataNeverSql) {
  // A service whose code holds a quote, with a menu in the period.
  server::DemoBuilder b(*conn);
  b.Service("0001", "A'B", "Café d'Ouro");
  server::DemoBuilder::Counts n;
  n.clients = 7;
  n.estClients = 9;
  b.Menu("0001", "A'B", rtl::EncodeDate(2026, 3, 5), n);

  report::TReportEngine engine;
  engine.SetConnection(conn.get());
  report::Document quoted = engine.Prepare(listing(), listingParams("0001", "A'B"));
  ASSERT_EQ(count(quoted, LineKind::Detail), 1u);
  EXPECT_EQ(quoted.Body.back().Cells[2].Value.toDouble(), 9);
  EXPECT_EQ(quoted.Body.back().Cells[6].Value.toDouble(), 7);
  EXPECT_NE(quoted.Body.front().Cells[0].Text.find("Café d'Ouro"), std::string::npos);

  // SQL-shaped codes match nothing and change nothing.
  size_t menus = static_cast<size_t>(conn->query("SELECT COUNT(*) FROM CARDAPIO").rows[0][0].toInt());
  for (const char* list : {"x') OR ('1'='1", "00001'); DELETE FROM CARDAPIO; --", "' OR 1=1 --"}) {
    report::Document d = engine.Prepare(listing(), listingParams("0001", list));
    EXPECT_EQ(count(d, LineKind::Detail), 0u) << list;
  }
  EXPECT_EQ(static_cast<size_t>(conn->query("SELECT COUNT(*) FROM CARDAPIO").rows[0][0].toInt()), menus);
}

TEST(ReportBind, ListExpandsIntoOnePlaceholderPerValue) {
  report::ReportDefinition def = report::ParseDefinition(R"({"code":"T","title":"t",
    "params":[{"name":"P_L","type":"list"},{"name":"P_D","type":"date"}],
    "sql":{"default":"x"},"columns":[{"field":"A"}]})");
  report::TReportParams p(def);
  p.ParamByName("P_L").SetAsString(" 01 ,02,,O'X ");
  p.ParamByName("P_D").SetAsString("05/03/2026");
  report::BoundQuery q = report::BindQuery(
      "SELECT ':P_L' AS A, \":P_L\" -- :P_L\nFROM T WHERE C IN (:P_L) AND D = :p_d AND E::text = :P_L", def, p);
  EXPECT_EQ(q.Sql,
            "SELECT ':P_L' AS A, \":P_L\" -- :P_L\nFROM T WHERE C IN (:P_L_1, :P_L_2, :P_L_3) AND D = :p_d AND "
            "E::text = :P_L_1, :P_L_2, :P_L_3");
  EXPECT_EQ(q.Values.find("P_L_3")->toString(), "O'X");
  EXPECT_EQ(q.Values.find("P_L_1")->toString(), "01");
  EXPECT_EQ(q.Values.find("P_D")->toDateTime(), rtl::EncodeDate(2026, 3, 5));

  // An empty list still binds one NULL; an undeclared name is refused.
  p.ParamByName("P_L").SetAsString("");
  q = report::BindQuery("C IN (:P_L)", def, p);
  EXPECT_EQ(q.Sql, "C IN (:P_L_1)");
  EXPECT_TRUE(q.Values.find("P_L_1")->isNull());
  EXPECT_THROW(report::BindQuery("C = :P_OTHER", def, p), report::EReportError);
  p.ParamByName("P_D").SetAsString("31/02/2026");
  EXPECT_THROW(report::BindQuery("D = :P_D", def, p), report::EReportError);
}

TEST(ReportDefinitions, BadFilesGiveClearErrors) {
  try {
    report::ParseDefinition("{\"code\": \"X\"", "X.json");
    FAIL();
  } catch (const report::EReportError& e) {
    EXPECT_NE(std::string(e.what()).find("X.json"), std::string::npos);
  }
  EXPECT_THROW(report::ParseDefinition(R"({"code":"X","title":"t","sql":{"oracle":"x"},"columns":[{"field":"A"}]})"),
               report::EReportError);
  EXPECT_THROW(report::ParseDefinition(
                   R"({"code":"X","title":"t","sql":{"default":"x"},"columns":[{"field":"A","sum":true}]})"),
               report::EReportError);

  report::ReportLibrary lib = report::ReportLibrary::Default();
  EXPECT_FALSE(lib.Find("PLA010").empty()) << "the installed definitions are found beside the program";
  EXPECT_TRUE(lib.Find("../reports/PLA010").empty());
  try {
    lib.Load("PLA999");
    FAIL();
  } catch (const report::EReportError& e) {
    EXPECT_NE(std::string(e.what()).find("Relatório de código 'PLA999'"), std::string::npos);
  }
  report::TReportEngine engine;
  std::vector<host::TReportDef> defs = engine.List("PLA010");
  ASSERT_EQ(defs.size(), 1u);
  EXPECT_EQ(defs[0].Name, "Efetivos por Serviço");
  EXPECT_TRUE(defs[0].Params.ExistParam("P_TCDSERVFILI"));
}

TEST_F(ReportSqlite, PdfAndCsvKeepAccentsAndBrazilianFormats) {
  report::TReportEngine engine;
  engine.SetConnection(conn.get());
  fs::path dir = fs::temp_directory_path() / ("efet_report_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::string pdf = (dir / "pla010.pdf").string(), csv = (dir / "pla010.csv").string();
  engine.SaveAs(listing(), listingParams("0001", ""), pdf);
  engine.SaveAs(listing(), listingParams("0001", ""), csv);
  EXPECT_THROW(engine.SaveAs(listing(), listingParams("0001", ""), (dir / "x.doc").string()), report::EReportError);

  ASSERT_EQ(readFile(pdf).substr(0, 5), "%PDF-");
  // The text a reader extracts is the text typed: accents survive WinAnsi.
  std::string txt = (dir / "pla010.txt").string();
  ASSERT_EQ(std::system(("pdftotext -layout '" + pdf + "' '" + txt + "'").c_str()), 0);
  std::string text = readFile(txt);
  EXPECT_NE(text.find("Efetivos por Serviço"), std::string::npos);
  EXPECT_NE(text.find("Doações"), std::string::npos);
  EXPECT_NE(text.find("Período: 02/03/2026 a 13/03/2026"), std::string::npos);
  EXPECT_NE(text.find("Total do período"), std::string::npos);

  // The picture for the documentation (source folder given by the build).
  std::string png = std::string(EFET_SCREENSHOTS_DIR) + "/pla010-listing";
  EXPECT_EQ(std::system(("pdftoppm -png -r 80 -singlefile -f 1 '" + pdf + "' '" + png + "'").c_str()), 0);
  EXPECT_TRUE(fs::exists(png + ".png"));

  std::string c = readFile(csv);
  ASSERT_EQ(c.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(c.find("Data;Dia;Estimado Clientes;Estimado Funcionários;Estimado Doações;"), std::string::npos);
  EXPECT_NE(c.find("Total do período;"), std::string::npos);
  fs::remove_all(dir);

  // Fractions take a decimal comma and no thousands separator; a ';' in a
  // name is quoted.
  report::ReportDefinition def = report::ParseDefinition(R"({"code":"T","title":"t","sql":{"default":"x"},
    "columns":[{"field":"N"},{"field":"Q","type":"number","format":"#,##0.0","sum":true}],"totalLabel":"Total"})");
  db::Result rows;
  rows.columns = {{"N", db::ColumnType::Text}, {"Q", db::ColumnType::Float}};
  rows.rows = {{rtl::Variant("Açúcar; São João"), rtl::Variant(1234.5)}, {rtl::Variant("Pão"), rtl::Variant::Null()}};
  report::Document d = report::Layout(def, report::TReportParams(def), rows, {});
  EXPECT_EQ(d.Body[0].Cells[1].Text, "1.234,5");
  EXPECT_EQ(report::CsvText(d), "\xEF\xBB\xBFN;Q\r\n\"Açúcar; São João\";1234,5\r\nPão;\r\nTotal;1234,5\r\n");
}

TEST(ReportWinAnsi, PortugueseLettersMapToSingleBytes) {
  EXPECT_EQ(report::Utf8ToWinAnsi("çãéÇÃÉ€–"), "\xE7\xE3\xE9\xC7\xC3\xC9\x80\x96");
  EXPECT_EQ(report::Utf8ToWinAnsi("a\xE2\x82"), "a?");  // a cut sequence
  EXPECT_EQ(report::Utf8ToWinAnsi("日"), "?");
}

}  // namespace
