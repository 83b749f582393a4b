#pragma once
// Runs the same test on SQLite (a temporary file per test) and on the shared
// throw-away PostgreSQL cluster (one database per test suite).

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/db/connection.h"
#include "support/pg_cluster.h"
#include "support/sqlite_temp.h"

class DbTest : public ::testing::TestWithParam<db::Dialect> {
protected:
  void SetUp() override {
    if (GetParam() == db::Dialect::SQLite) {
      file_.emplace("efet-db");
      connString_ = file_->connectionString();
    } else {
      static std::map<std::string, std::string> suites;
      std::string suite = ::testing::UnitTest::GetInstance()->current_test_suite()->name();
      auto it = suites.find(suite);
      if (it == suites.end()) {
        EFET_PG_DATABASE(conninfo, "efet_db");
        it = suites.emplace(suite, conninfo).first;
      }
      connString_ = it->second;
    }
    c = db::Open(connString_);
  }

  bool pg() const { return GetParam() == db::Dialect::PostgreSQL; }
  // Tables are shared by the tests of a PostgreSQL suite: start each afresh.
  void freshTable(const std::string& name, const std::string& columns) {
    c->execScript("DROP TABLE IF EXISTS " + name);
    c->execScript("CREATE TABLE " + name + " (" + columns + ")");
  }

  std::unique_ptr<db::Connection> c;
  std::string connString_;

private:
  std::optional<testsupport::TempSqlite> file_;
};

inline std::string DialectTestName(const ::testing::TestParamInfo<db::Dialect>& info) {
  return db::DialectName(info.param);
}

#define EFET_BOTH_DATABASES(Suite)                                                                         \
  INSTANTIATE_TEST_SUITE_P(Both, Suite, ::testing::Values(db::Dialect::SQLite, db::Dialect::PostgreSQL), \
                           DialectTestName)
