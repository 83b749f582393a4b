// The screens' lookup queries, with their SQL texts as the screens store them,
// through dtmDBGeral on both databases.

#include <gtest/gtest.h>

#include "db_fixture.h"
#include "platform/db/query.h"

using data::TFieldDef;
using data::TFieldType;
using db::TADOIBQuery;
using db::dtmDBGeral;

namespace {

class Lookup : public DbTest {
protected:
  void SetUp() override {
    DbTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    freshTable("FILIAL", "CDFILIAL VARCHAR(4) PRIMARY KEY, NMFILIAL VARCHAR(30), IDCNTRRESC VARCHAR(1)");
    freshTable("SERVICO",
               "CDFILIAL VARCHAR(4), CDSERVFILI VARCHAR(5), NMSERVICO VARCHAR(40), IDTIPOSERV VARCHAR(1), "
               "PRIMARY KEY (CDFILIAL, CDSERVFILI)");
    freshTable("GRUPSERV", "CDGRUPSERV VARCHAR(3) PRIMARY KEY, NMGRUPSERV VARCHAR(30)");
    for (auto [cd, nm, resc] : {std::tuple{"0002", "Filial Sul", "S"}, {"0001", "Matriz", "N"}, {"0003", "D'Ávila", "N"}})
      c->exec("INSERT INTO FILIAL VALUES (:CD, :NM, :R)", {{"CD", cd}, {"NM", nm}, {"R", resc}});
    for (auto [fil, cd, nm, tipo] : {std::tuple{"0001", "00002", "Jantar", "N"},
                                     {"0001", "00001", "Almoço", "N"},
                                     {"0001", "00003", "Café", "F"},
                                     {"0001", "00004", "Evento", "E"},
                                     {"0002", "00001", "Almoço Sul", "N"}})
      c->exec("INSERT INTO SERVICO VALUES (:F, :C, :N, :T)", {{"F", fil}, {"C", cd}, {"N", nm}, {"T", tipo}});
    for (auto [cd, nm] : {std::pair{"002", "Lanches"}, {"001", "Refeições"}})
      c->exec("INSERT INTO GRUPSERV VALUES (:C, :N)", {{"C", cd}, {"N", nm}});
    dtmDBGeral.Configure(connString_);
  }
  void TearDown() override { dtmDBGeral.Disconnect(); }

  static TFieldDef str(const char* name, int size, bool required = false) {
    TFieldDef d;
    d.Name = name;
    d.DataType = TFieldType::String;
    d.Size = size;
    d.Required = required;
    return d;
  }

  // The values of one field over every row, in order.
  static std::vector<std::string> column(TADOIBQuery& q, const char* field) {
    std::vector<std::string> out;
    for (q.First(); !q.Eof(); q.Next()) out.push_back(q.FieldByName(field).AsString());
    return out;
  }
  using Codes = std::vector<std::string>;
};

const db::TSQLStrings kFilialPesq = {"SELECT", "   CDFILIAL,", "   NMFILIAL", "FROM", "   FILIAL", "ORDER BY", "   CDFILIAL"};

TEST_P(Lookup, BranchLookupOfTheHeadcountAndConsolidationScreens) {
  TADOIBQuery q("qryFilialPesq");
  q.SQL = q.SQL_ORACLE = q.SQL_MSSQL = q.SQL_IB = kFilialPesq;
  TFieldDef cd = str("CDFILIAL", 4, true);
  q.AddField(cd).SetDisplayLabel("Código");
  q.FieldByName("CDFILIAL").DisplayWidth = 8;
  q.AddField(str("NMFILIAL", 30)).SetDisplayLabel("Nome");
  q.Open();
  EXPECT_TRUE(q.Active());
  EXPECT_EQ(q.FieldCount(), 2u);
  EXPECT_EQ(column(q, "CDFILIAL"), (Codes{"0001", "0002", "0003"}));
  EXPECT_EQ(column(q, "NMFILIAL"), (Codes{"Matriz", "Filial Sul", "D'Ávila"}));
  EXPECT_EQ(q.FieldByName("CDFILIAL").DisplayLabel(), "Código");
  EXPECT_TRUE(q.FieldByName("CDFILIAL").Required);  // declared flags survive the load
  EXPECT_EQ(q.ChangeCount(), 0);                     // loaded rows are not edits

  // The lookup button closes the query and its dialog opens it through the data source.
  data::TDataSource dtsFilial;
  dtsFilial.SetDataSet(&q);
  c->exec("INSERT INTO FILIAL VALUES ('0004', 'Nova', 'N')");
  q.Close();
  EXPECT_FALSE(q.Active());
  dtsFilial.DataSet()->Open();
  EXPECT_EQ(q.RecordCount(), 4);
}

TEST_P(Lookup, ServiceLookupOfTheServiceGrid) {
  TADOIBQuery q("qryServicoPesq");
  db::TSQLStrings text = {"SELECT",
                          "   CDFILIAL,",
                          "   CDSERVFILI,",
                          "   NMSERVICO",
                          "FROM",
                          "   SERVICO",
                          "WHERE",
                          "   (CDFILIAL   = :P_CDFILIAL)   AND",
                          "   (IDTIPOSERV = 'N')",
                          "ORDER BY",
                          "   CDFILIAL,",
                          "   CDSERVFILI",
                          " "};
  q.SQL = q.SQL_ORACLE = q.SQL_MSSQL = q.SQL_IB = text;
  q.AddField(str("CDSERVFILI", 5, true)).SetDisplayLabel("Código");
  q.AddField(str("NMSERVICO", 40)).SetDisplayLabel("Nome");
  q.AddField(str("CDFILIAL", 4, true)).Visible = false;
  q.ParamByName("P_CDFILIAL").SetAsString("0001");
  q.Open();
  EXPECT_EQ(column(q, "CDSERVFILI"), (Codes{"00001", "00002"}));
  EXPECT_EQ(column(q, "NMSERVICO"), (Codes{"Almoço", "Jantar"}));
  EXPECT_EQ(column(q, "CDFILIAL"), (Codes{"0001", "0001"}));

  q.Close();
  q.ParamByName("P_CDFILIAL").SetAsString("0009");
  q.Open();
  EXPECT_TRUE(q.IsEmpty());

  // A branch text that looks like SQL stays a value.
  q.Close();
  q.ParamByName("P_CDFILIAL").SetAsString("0001' OR '1'='1");
  q.Open();
  EXPECT_TRUE(q.IsEmpty());
}

TEST_P(Lookup, ServiceGroupLookupListsAllOrSelectsOne) {
  TADOIBQuery q("qryGrupServ");
  q.SQL = q.SQL_IB = {"SELECT CDGRUPSERV, NMGRUPSERV", "  FROM GRUPSERV",
                      " WHERE (CDGRUPSERV = :P_CDGRUPSERV OR 'T' = :P_TCDGRUPSERV)", " ORDER BY CDGRUPSERV"};
  q.AddField(str("CDGRUPSERV", 3)).SetDisplayLabel("Código");
  q.AddField(str("NMGRUPSERV", 30)).SetDisplayLabel("Nome");

  // The lookup button: P_CDGRUPSERV never set, so it is bound as NULL.
  q.ParamByName("P_TCDGRUPSERV").SetAsString("T");
  q.Open();
  EXPECT_EQ(column(q, "CDGRUPSERV"), (Codes{"001", "002"}));
  EXPECT_EQ(column(q, "NMGRUPSERV"), (Codes{"Refeições", "Lanches"}));

  // The group check: one code, the marker cleared.
  q.Close();
  q.ParamByName("P_CDGRUPSERV").SetAsString("002");
  q.ParamByName("P_TCDGRUPSERV").Clear();
  q.Open();
  EXPECT_EQ(column(q, "NMGRUPSERV"), (Codes{"Lanches"}));

  q.Close();
  q.ParamByName("P_CDGRUPSERV").SetAsString("999");
  q.Open();
  EXPECT_TRUE(q.IsEmpty());

  // Open on an open query keeps what it read.
  c->exec("DELETE FROM GRUPSERV");
  q.Open();
  EXPECT_TRUE(q.IsEmpty());
  q.Close();
  q.ParamByName("P_TCDGRUPSERV").SetAsString("T");
  q.Open();
  EXPECT_TRUE(q.IsEmpty());
}

TEST_P(Lookup, ListingReportBranchAndServiceLookups) {
  TADOIBQuery qryFilial("qryFilial");
  qryFilial.SQL = qryFilial.SQL_ORACLE = qryFilial.SQL_MSSQL = qryFilial.SQL_IB = {
      "SELECT", "   CDFILIAL,", "   NMFILIAL,", "   IDCNTRRESC", "FROM", "   FILIAL", "WHERE",
      "   (CDFILIAL = :P_CDFILIAL OR :P_TCDFILIAL = 'T')", "ORDER BY", "   CDFILIAL"};
  qryFilial.AddField(str("CDFILIAL", 4, true));
  qryFilial.AddField(str("NMFILIAL", 30));
  qryFilial.AddField(str("IDCNTRRESC", 1)).Visible = false;
  qryFilial.ParamByName("P_TCDFILIAL").SetAsString("T");
  qryFilial.ParamByName("P_CDFILIAL").SetAsString("");
  qryFilial.Open();
  EXPECT_EQ(column(qryFilial, "CDFILIAL"), (Codes{"0001", "0002", "0003"}));
  qryFilial.Close();
  qryFilial.ParamByName("P_TCDFILIAL").Clear();
  qryFilial.ParamByName("P_CDFILIAL").SetAsString("0002");
  qryFilial.Open();
  EXPECT_EQ(column(qryFilial, "IDCNTRRESC"), (Codes{"S"}));

  // Its service lookup keeps a text of another server in SQL_IB (a one-row
  // table function neither database has); the generic text is the one that runs.
  TADOIBQuery qryServico("qryServico");
  db::TSQLStrings generic = {"SELECT", "   CDFILIAL,", "   CDSERVFILI,", "   NMSERVICO", "FROM", "   SERVICO",
                             "WHERE", "   (CDFILIAL   = :P_CDFILIAL) AND", "   (IDTIPOSERV IN ('N', 'F'))",
                             "ORDER BY", "   CDFILIAL,", "   CDSERVFILI"};
  qryServico.SQL = generic;
  generic.Add(" ");
  generic.Add(" ");
  qryServico.SQL_ORACLE = qryServico.SQL_MSSQL = generic;
  qryServico.SQL_IB = {"SELECT", "   CDFILIAL,", "   CDSERVFILI,", "   NMSERVICO", "FROM",
                       "   SERVICO, PARAM(:P_CDFILIAL) P_CDFILIAL", "WHERE", "   (CDFILIAL   = P_CDFILIAL.PARAM) AND",
                       "   (IDTIPOSERV IN ('N', 'F'))", "ORDER BY", "   CDFILIAL,", "   CDSERVFILI"};
  qryServico.AddField(str("CDSERVFILI", 5, true)).SetDisplayLabel("Serviço");
  qryServico.AddField(str("NMSERVICO", 40)).SetDisplayLabel("Nome");
  qryServico.AddField(str("CDFILIAL", 4, true)).Visible = false;
  EXPECT_EQ(qryServico.TextFor(c->dialect()), qryServico.SQL.Text());
  qryServico.ParamByName("P_CDFILIAL").SetAsString("0001");
  qryServico.Open();
  EXPECT_EQ(column(qryServico, "CDSERVFILI"), (Codes{"00001", "00002", "00003"}));
  EXPECT_EQ(column(qryServico, "NMSERVICO"), (Codes{"Almoço", "Jantar", "Café"}));
}

TEST_P(Lookup, ConsolidationServiceLookupListsAllOrFindsOne) {
  TADOIBQuery q("qryServico");
  q.SQL = q.SQL_ORACLE = q.SQL_MSSQL = q.SQL_IB = {
      "SELECT CDSERVFILI, NMSERVICO", "  FROM SERVICO", " WHERE CDFILIAL = :P_CDFILIAL",
      "   AND (CDSERVFILI = :P_CDSERVFILI OR :P_TCDSERVFILI = 'T')", "   AND IDTIPOSERV = 'N'", "ORDER BY CDSERVFILI"};
  q.AddField(str("CDSERVFILI", 5)).SetDisplayLabel("Código");
  q.AddField(str("NMSERVICO", 40)).SetDisplayLabel("Nome");
  q.ParamByName("P_CDFILIAL").SetAsString("0001");
  q.ParamByName("P_TCDSERVFILI").SetAsString("T");
  q.ParamByName("P_CDSERVFILI").Clear();
  q.Open();
  EXPECT_EQ(column(q, "CDSERVFILI"), (Codes{"00001", "00002"}));

  q.Close();
  q.ParamByName("P_CDSERVFILI").SetAsString("00002");
  q.ParamByName("P_TCDSERVFILI").Clear();
  q.Open();
  EXPECT_EQ(column(q, "NMSERVICO"), (Codes{"Jantar"}));

  q.Close();
  q.ParamByName("P_CDSERVFILI").SetAsString("00003");  // type F: not a restaurant service here
  q.Open();
  EXPECT_TRUE(q.IsEmpty());
}

TEST_P(Lookup, FieldsMatchColumnsWithoutRegardToCase) {
  // Declared fields: extra columns are ignored, a missing column leaves Null.
  TADOIBQuery declared("qryDeclared");
  declared.SQL = "SELECT cdfilial, NmFilial, IDCNTRRESC FROM FILIAL WHERE CDFILIAL = :P_CDFILIAL";
  declared.AddField(str("CDFILIAL", 4));
  declared.AddField(str("NMFILIAL", 30));
  declared.AddField(str("DSNOTA", 10));
  declared.ParamByName("p_cdfilial").SetAsString("0003");
  declared.Open();
  EXPECT_EQ(declared.FieldCount(), 3u);
  EXPECT_EQ(declared.FieldByName("NMFILIAL").AsString(), "D'Ávila");
  EXPECT_TRUE(declared.FieldByName("DSNOTA").IsNull());
  EXPECT_EQ(declared.FindField("IDCNTRRESC"), nullptr);

  // No declared fields: they come from the result, typed.
  TADOIBQuery made("qryMade");
  made.SQL = "SELECT CDFILIAL, COUNT(*) AS QTSERV FROM SERVICO GROUP BY CDFILIAL ORDER BY CDFILIAL";
  made.Open();
  ASSERT_EQ(made.FieldCount(), 2u);
  EXPECT_EQ(made.FieldByName("CDFILIAL").AsString(), "0001");
  EXPECT_EQ(made.FieldByName("QTSERV").AsInteger(), 4);
  EXPECT_EQ(made.FieldByName("QTSERV").DataType(), TFieldType::Integer);
  made.Close();
  made.SQL = "SELECT NMGRUPSERV FROM GRUPSERV ORDER BY NMGRUPSERV";
  made.Open();
  ASSERT_EQ(made.FieldCount(), 1u);  // fields follow the new text
  EXPECT_EQ(made.FieldByName("nmgrupserv").AsString(), "Lanches");
}

TEST_P(Lookup, DatesAndNumbersLoadIntoTypedFields) {
  freshTable("FERIADO", "DTFERIADO DATE, QTDIAS NUMERIC(5,1)");
  const double christmas = 45651;  // 25/12/2024
  c->exec("INSERT INTO FERIADO VALUES (:D, :Q)", {{"D", rtl::Variant::FromDate(christmas)}, {"Q", 1.5}});
  TADOIBQuery q("qryFeriado");
  q.SQL = "SELECT DTFERIADO, QTDIAS FROM FERIADO WHERE DTFERIADO >= :P_DTINICIAL";
  TFieldDef dt;
  dt.Name = "DTFERIADO";
  dt.DataType = TFieldType::DateTime;
  q.AddField(dt);
  TFieldDef qt;
  qt.Name = "QTDIAS";
  qt.DataType = TFieldType::Float;
  q.AddField(qt);
  q.ParamByName("P_DTINICIAL").SetAsDateTime(christmas - 1);
  q.Open();
  ASSERT_FALSE(q.IsEmpty());
  EXPECT_DOUBLE_EQ(q.FieldByName("DTFERIADO").AsDateTime(), christmas);
  EXPECT_DOUBLE_EQ(q.FieldByName("QTDIAS").AsFloat(), 1.5);
}

TEST_P(Lookup, ErrorsLeaveTheQueryClosed) {
  TADOIBQuery q("qryBroken");
  q.SQL = "SELECT CDFILIAL FROM NO_SUCH_TABLE WHERE CDFILIAL = :P_CDFILIAL";
  EXPECT_THROW(q.ParamByName("P_NOT_IN_TEXT"), rtl::EDatabaseError);
  EXPECT_THROW(q.Open(), db::DbError);
  EXPECT_FALSE(q.Active());
  q.SQL.Clear();
  EXPECT_THROW(q.Open(), rtl::EDatabaseError);  // no text at all

  // A value its declared field cannot hold: the error surfaces, nothing half loaded stays.
  TADOIBQuery wrong("qryWrongType");
  wrong.SQL = kFilialPesq;
  TFieldDef nm;
  nm.Name = "NMFILIAL";
  nm.DataType = TFieldType::Float;
  wrong.AddField(nm);
  EXPECT_THROW(wrong.Open(), rtl::Exception);
  EXPECT_FALSE(wrong.Active());

  // A lookup before the host configured the connection.
  dtmDBGeral.Disconnect();
  q.SQL = kFilialPesq;
  EXPECT_THROW(q.Open(), db::DbError);
  EXPECT_FALSE(q.Active());
}

EFET_BOTH_DATABASES(Lookup);

TEST(SqlStrings, LinesAndText) {
  db::TSQLStrings s = {"SELECT 1", " "};
  EXPECT_EQ(s.Text(), "SELECT 1\n \n");
  EXPECT_FALSE(s.IsBlank());
  s.SetText("A\r\nB\n");
  EXPECT_EQ(s.Count(), 2u);
  EXPECT_EQ(s[1], "B");
  s = {" ", "\t"};
  EXPECT_TRUE(s.IsBlank());
}

}  // namespace
