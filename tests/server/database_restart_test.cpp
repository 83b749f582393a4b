// The server on a PostgreSQL cluster that this process stops, restarts and
// locks: a restart while the server is idle costs no call, a failure while a
// save is read back never hides a stored change, and a clerk reads neither
// the driver's text nor "changed by another user" for a lock that timed out.
// The cluster is this process's own, so stopping it disturbs no other test.

#include <gtest/gtest.h>

#include <cstdlib>

#include "contracts/result.h"
#include "platform/data/dataset.h"
#include "platform/db/connection.h"
#include "server/demo.h"
#include "server/module.h"
#include "support/pg_cluster.h"
#include "support/server_process.h"

using rtl::Variant;

namespace {

const char* const kDown = "Banco de dados indisponível no momento. Tente novamente em instantes.";
const char* const kBusy =
    "Servidor ocupado: o banco de dados não liberou os registros a tempo e nada foi gravado. Tente novamente em instantes.";

class DatabaseRestart : public ::testing::Test {
protected:
  void SetUp() override {
    EFET_PG_DATABASE(conninfo, "efet_restart");
    cs_ = conninfo;
    // A lock not granted in 300 ms ends the statement, as a branch's own lock_timeout would.
    module_ = std::make_unique<server::MediEfetivos>(cs_ + " options='-c lock_timeout=300'");
    db_ = db::Open(cs_);
    db::Transaction t(*db_);
    server::DemoBuilder(*db_).BuildDemoCompany(today_);
    t.commit();
  }

  Variant Call(const std::string& method, rtl::VariantArray args) {
    contracts::CallContext ctx;
    ctx.operatorCode = "DEM";
    return module_->Call(method, args, ctx);
  }
  Variant Day() const { return Variant::FromDate(today_ - 1); }

  // The first service row of yesterday with its clients raised by one, as a delta.
  Variant RaisedClients(data::TClientDataSet& ds) {
    Variant r = Call("GetCardaDia", {"0001", Day(), ""});
    EXPECT_TRUE(contracts::ResultSucceeded(r)) << r.debugString();
    ds.SetData(r[1][0]);
    ds.Edit();
    ds.FieldByName("QTCLIEFETCAR").SetAsFloat(ds.FieldByName("QTCLIEFETCAR").AsFloat() + 1);
    ds.Post();
    return Variant(ds.Delta());
  }
  double StoredClients(const std::string& menu) {
    return db_->query("SELECT QTCLIEFETCAR FROM CARDAPIO WHERE CDFILIAL = '0001' AND NRCARDAPIO = :P", {{"P", menu}})
        .rows.at(0)
        .at(0)
        .toDouble();
  }
  int64_t Audits() { return db_->query("SELECT COUNT(*) FROM AUDITORIA").rows[0][0].toInt(); }

  rtl::TDateTime today_ = rtl::Date();
  std::string cs_;
  std::unique_ptr<server::MediEfetivos> module_;
  std::unique_ptr<db::Connection> db_;
};

TEST_F(DatabaseRestart, IdleConnectionsDroppedByARestartAreReplacedBeforeTheirFirstStatement) {
  auto& cluster = testsupport::PgCluster::Shared();
  for (const char* mode : {"fast", "immediate"}) {
    SCOPED_TRACE(mode);
    {  // Four connections in the pool, as after four clerks' calls at once.
      auto a = module_->pool().Acquire(), b = module_->pool().Acquire(), c = module_->pool().Acquire(),
           d = module_->pool().Acquire();
    }
    ASSERT_GE(module_->pool().idle(), 4u);
    ASSERT_TRUE(cluster.Restart(mode));
    db_ = db::Open(cs_);
    // Each pooled connection answers its first statement...
    {
      auto a = module_->pool().Acquire(), b = module_->pool().Acquire(), c = module_->pool().Acquire(),
           d = module_->pool().Acquire();
      for (auto* lease : {&a, &b, &c, &d}) EXPECT_NO_THROW((*lease)->query("SELECT 1"));
    }
    // ...and the first calls, a save among them, succeed.
    data::TClientDataSet ds;
    Variant delta = RaisedClients(ds);
    Variant r = Call("PostCard", {"0001", ds.FieldByName("CDSERVFILI").AsString(), Day(), delta, "DEM", ""});
    EXPECT_TRUE(contracts::ResultSucceeded(r)) << r.debugString();
    EXPECT_EQ(StoredClients(ds.FieldByName("NRCARDAPIO").AsString()), ds.FieldByName("QTCLIEFETCAR").AsFloat());
  }
}

TEST_F(DatabaseRestart, WhileTheDatabaseIsDownTheClerkReadsAClearMessage) {
  auto& cluster = testsupport::PgCluster::Shared();
  ASSERT_TRUE(contracts::ResultSucceeded(Call("GetParamPlaneja", {"0001"})));
  std::vector<std::string> log;
  module_->OnFault = [&](const std::string& line) { log.push_back(line); };
  ASSERT_TRUE(cluster.Stop("fast"));
  for (int i = 0; i < 3; ++i) {
    Variant r = Call("GetCardaDia", {"0001", Day(), ""});
    EXPECT_EQ(contracts::ResultMessage(r), kDown) << r.debugString();
  }
  ASSERT_TRUE(cluster.Start());
  EXPECT_TRUE(contracts::ResultSucceeded(Call("GetCardaDia", {"0001", Day(), ""})));
  // The driver's own words (host, port) went to the log.
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log[0].find("127.0.0.1"), std::string::npos) << log[0];
}

TEST_F(DatabaseRestart, ASaveWhoseReadBackFailsIsNotStoredAndTheClerkIsToldTheServerIsBusy) {
  data::TClientDataSet ds;
  Variant delta = RaisedClients(ds);
  const std::string menu = ds.FieldByName("NRCARDAPIO").AsString();
  const double before = StoredClients(menu);
  const int64_t audits = Audits();
  rtl::VariantArray args{"0001", ds.FieldByName("CDSERVFILI").AsString(), Day(), delta, "DEM", ""};

  // Another session holds the dish types, which only the reply reads.
  auto locker = db::Open(cs_);
  locker->begin();
  locker->execScript("LOCK TABLE TIPOPRATO IN ACCESS EXCLUSIVE MODE");
  Variant r = Call("PostCard", args);
  EXPECT_EQ(contracts::ResultMessage(r), kBusy) << r.debugString();
  EXPECT_EQ(StoredClients(menu), before) << "a save reported as failed was stored";
  EXPECT_EQ(Audits(), audits);
  locker->rollback();

  // The clerk's retry is the same delta, and it is taken.
  r = Call("PostCard", args);
  EXPECT_TRUE(contracts::ResultSucceeded(r)) << r.debugString();
  EXPECT_EQ(StoredClients(menu), before + 1);
  EXPECT_GT(Audits(), audits);
}

TEST_F(DatabaseRestart, ADishSaveWhoseReadBackFailsIsNotStored) {
  Variant day = Call("GetCardaDia", {"0001", Day(), ""});
  ASSERT_TRUE(contracts::ResultSucceeded(day));
  data::TClientDataSet menus, dishes;
  menus.SetData(day[1][0]);
  dishes.SetData(day[1][2]);
  ASSERT_FALSE(dishes.IsEmpty());
  dishes.Edit();
  dishes.FieldByName("QTCOMEFETPRA").SetAsFloat(dishes.FieldByName("QTCOMEFETPRA").AsFloat() + 1);
  dishes.Post();
  const std::string where = "CDFILIAL = '0001' AND NRCARDAPIO = '" + dishes.FieldByName("NRCARDAPIO").AsString() +
                            "' AND CDTIPOPRAT = '" + dishes.FieldByName("CDTIPOPRAT").AsString() +
                            "' AND NRSEQPRATCAR = " + dishes.FieldByName("NRSEQPRATCAR").AsString();
  auto stored = [&] { return db_->query("SELECT QTCOMEFETPRA FROM PRATOCARDAPIO WHERE " + where).rows.at(0).at(0); };
  const Variant before = stored();
  rtl::VariantArray args{Variant(dishes.Delta()), "0001", Day()};

  auto locker = db::Open(cs_);
  locker->begin();
  locker->execScript("LOCK TABLE TIPOPRATO IN ACCESS EXCLUSIVE MODE");
  Variant r = Call("UpdPratoCard", args);
  EXPECT_EQ(contracts::ResultMessage(r), kBusy) << r.debugString();
  EXPECT_EQ(stored().debugString(), before.debugString());
  locker->rollback();
  EXPECT_TRUE(contracts::ResultSucceeded(Call("UpdPratoCard", args)));
  EXPECT_EQ(stored().toDouble(), dishes.FieldByName("QTCOMEFETPRA").AsFloat());
}

TEST_F(DatabaseRestart, StartUpLineNamesTheDatabaseKind) {
  testsupport::ServerProcess server(EFET_SERVER_EXE, cs_);
  EXPECT_NE(server.log().find(" (PostgreSQL)"), std::string::npos) << server.log();
  EXPECT_EQ(server.log().find("dbname"), std::string::npos) << server.log();
}

}  // namespace
