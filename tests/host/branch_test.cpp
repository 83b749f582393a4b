#include <gtest/gtest.h>

#include "platform/db/connection.h"
#include "platform/host/branch.h"
#include "platform/host/context.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "server/schema.h"
#include "support/sqlite_temp.h"

namespace {

class ValidaFilialTest : public ::testing::Test {
protected:
  void SetUp() override {
    conn = db::Open(file.connectionString());
    server::EnsureSchema(*conn);
    auto day = rtl::Variant::FromDate(rtl::EncodeDate(2026, 12, 7));
    conn->exec("INSERT INTO FILIAL (CDFILIAL, NMFILIAL, DTPROCES, IDCNTRRESC) VALUES (:C, :N, :D, :R)",
               {{"C", "0001"}, {"N", "Matriz Campinas"}, {"D", day}, {"R", "N"}});
    conn->exec("INSERT INTO FILIAL (CDFILIAL, NMFILIAL, DTPROCES, IDCNTRRESC) VALUES (:C, :N, :D, :R)",
               {{"C", "0002"}, {"N", "Filial Sorocaba"}, {"D", day}, {"R", "S"}});
    conn->exec("INSERT INTO FILIAL (CDFILIAL, NMFILIAL, DTPROCES, IDCNTRRESC) VALUES (:C, :N, :D, :R)",
               {{"C", "0003"}, {"N", "Filial Jundiaí"}, {"D", day}, {"R", "N"}});
    conn->exec("INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR, DSSENHAHASH, IDATIVO, IDTODASFILIAIS) "
               "VALUES ('ANA', 'Ana', 'x', 'S', 'N')");
    conn->exec("INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR, DSSENHAHASH, IDATIVO, IDTODASFILIAIS) "
               "VALUES ('SUP', 'Supervisão', 'x', 'S', 'S')");
    conn->exec("INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR, DSSENHAHASH, IDATIVO, IDTODASFILIAIS) "
               "VALUES ('OFF', 'Inativo', 'x', 'N', 'S')");
    conn->exec("INSERT INTO OPERFILIAL (CDOPERADOR, CDFILIAL) VALUES ('ANA', '0001')");
    conn->exec("INSERT INTO OPERFILIAL (CDOPERADOR, CDFILIAL) VALUES ('ANA', '0002')");
  }

  std::string messageOf(std::string_view code, std::string_view op, bool rescinded) {
    try {
      host::ValidaFilial(code, op, rescinded, *conn);
    } catch (const rtl::EAbort&) {
      return "<silent>";
    } catch (const rtl::Exception& e) {
      return e.what();
    }
    return "<accepted>";
  }

  testsupport::TempSqlite file{"valida"};
  std::unique_ptr<db::Connection> conn;
};

TEST_F(ValidaFilialTest, AcceptsAnAllowedBranchAndReturnsItsName) {
  EXPECT_EQ(host::ValidaFilial("0001", "ANA", true, *conn), "Matriz Campinas");
  EXPECT_EQ(host::ValidaFilial("0003", "SUP", true, *conn), "Filial Jundiaí");
}

TEST_F(ValidaFilialTest, RefusesWithItsOwnMessages) {
  EXPECT_EQ(messageOf("", "ANA", true), host::kFiliDeve);
  EXPECT_EQ(messageOf("9999", "ANA", true), host::kFiliNaoCad);
  EXPECT_EQ(messageOf("0002", "ANA", true), host::kFiliResc);
  EXPECT_EQ(messageOf("0003", "ANA", true), "Operador ANA sem permissão para a filial 0003.");
  EXPECT_EQ(messageOf("0001", "OFF", true), "Operador OFF sem permissão para a filial 0001.");
  EXPECT_EQ(messageOf("0001", "NOBODY", true), "Operador NOBODY sem permissão para a filial 0001.");
}

TEST_F(ValidaFilialTest, RescindedBranchPassesWhenNotChecked) {
  EXPECT_EQ(host::ValidaFilial("0002", "ANA", false, *conn), "Filial Sorocaba");
}

TEST_F(ValidaFilialTest, CodeIsDataNeverSql) {
  EXPECT_EQ(messageOf("0001' OR '1'='1", "ANA", true), host::kFiliNaoCad);
}

}  // namespace
