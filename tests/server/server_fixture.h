#pragma once
// The module on a fresh database, SQLite or PostgreSQL, with a small branch
// built by DemoBuilder; calls go through RemoteModule::Call as the transport's.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "contracts/result.h"
#include "platform/data/dataset.h"
#include "platform/db/connection.h"
#include "server/admin.h"
#include "server/demo.h"
#include "server/module.h"
#include "support/pg_cluster.h"
#include "support/sqlite_temp.h"

enum class Backend { SQLite, PostgreSQL };

inline std::string BackendName(const ::testing::TestParamInfo<Backend>& i) {
  return i.param == Backend::SQLite ? "SQLite" : "PostgreSQL";
}

class ServerTest : public ::testing::TestWithParam<Backend> {
protected:
  // The fixture's processing date; the menu of D-5 lies outside the open window of 3 days.
  const rtl::TDateTime D = rtl::EncodeDate(2024, 6, 20);
  std::string cardD, cardD20, cardOld;  // menus: 00010 on D, 00020 on D, 00010 on D-5
  int64_t itemAdm = 0, itemPrd = 0, lineC1 = 0;

  void SetUp() override {
    if (GetParam() == Backend::SQLite) {
      file_.emplace("efet-server");
      cs_ = file_->connectionString();
    } else {
      EFET_PG_DATABASE(conninfo, "efet_server");
      cs_ = conninfo;
    }
    module_ = std::make_unique<server::MediEfetivos>(cs_);
    db_ = db::Open(cs_);
    db::Transaction t(*db_);
    Build(server::DemoBuilder(*db_));
    t.commit();
  }

  static const std::string& Hash() {
    static const std::string h = server::HashPassword("segredo");
    return h;
  }

  void Build(server::DemoBuilder b) {
    b.GeneralParams("S", "S");
    b.Group("ALM", "Almoço").Group("JAN", "Jantar");
    b.Branch("0001", "Matriz", D).Branch("0002", "Campinas", D).Branch("0009", "Encerrada", D, true);
    b.PlanParams("0001", "S", "N", 3, "N").BranchParams("0001", "N", "N");
    b.Service("0001", "00010", "Almoço", "N", "ALM").Service("0001", "00020", "Jantar", "N", "JAN");
    b.Service("0002", "00010", "Almoço Campinas", "N", "ALM").Service("0009", "00010", "Almoço", "N", "ALM");
    b.Billed("0001", "00010", "10010", "Almoço contratos").Billed("0001", "00010", "10011", "Visitantes", true);
    server::DemoBuilder::Counts k;
    k.clients = 10, k.employees = 2, k.donations = 1, k.estClients = 12;
    cardD = b.Menu("0001", "00010", D, k);
    cardD20 = b.Menu("0001", "00020", D);
    cardOld = b.Menu("0001", "00010", D - 5, k);
    b.Menu("0001", "00010", D + 40);
    b.Menu("0002", "00010", D, k);
    b.Menu("0009", "00010", D, k);
    b.DishType("01", "Principal").DishType("02", "Guarnição");
    b.Dish("0001", "PP001", "Frango", "01").Dish("0001", "PP002", "Carne", "01").Dish("0001", "GU001", "Arroz", "02");
    b.MenuDish("0001", cardD, "PP001", 1, 5.0, 1.5).MenuDish("0001", cardD, "PP002", 2, 3.0).MenuDish("0001", cardD, "GU001", 3);
    b.Client("C1", "Cliente Um Ltda", "Um").Client("C2", "Cliente Dois S.A.", "Dois");
    b.BilledClient("0001", "10010", "C1").BilledClient("0001", "10010", "C2").BilledClient("0001", "10011", "C2");
    b.ClientCount("0001", "10010", "C1", D, 6.0);
    itemAdm = b.Item("0001", "10010", "ADM", "Administrativo");
    itemPrd = b.Item("0001", "10010", "PRD", "Produção");
    lineC1 = b.Line("0001", "10010", "C1", D, itemAdm, 4.0);
    b.Turnstile("0001", "T1", "Entrada", "00010");
    b.Shift("0001", "1", "Manhã").Shift("0001", "2", "Tarde");
    b.OperatorHash("OPA", "Ana", Hash(), {}, true);
    b.OperatorHash("OPB", "Bia", Hash(), {"0002"});
  }

  rtl::Variant Call(const std::string& method, rtl::VariantArray args, const std::string& op = "OPA") {
    contracts::CallContext ctx;
    ctx.operatorCode = op;
    return module_->Call(method, args, ctx);
  }
  // The payload of a successful result array.
  rtl::Variant Ok(const rtl::Variant& r) {
    EXPECT_TRUE(contracts::ResultSucceeded(r)) << r.debugString();
    return contracts::ResultSucceeded(r) ? r[1] : rtl::Variant();
  }
  std::string FailText(const rtl::Variant& r) {
    EXPECT_FALSE(contracts::ResultSucceeded(r)) << r.debugString();
    return contracts::ResultMessage(r);
  }
  static void Load(data::TClientDataSet& ds, const rtl::Variant& packet) { ds.SetData(packet.asPacket()); }
  rtl::Variant Day(rtl::TDateTime d) const { return rtl::Variant::FromDate(d); }

  double StoredNum(const std::string& sql, const db::Params& p = {}) {
    auto r = db_->query(sql, p);
    return r.empty() || r.rows[0][0].isNullOrEmpty() ? -1 : r.rows[0][0].toDouble();
  }
  double ClientsOf(const std::string& menu) {
    return StoredNum("SELECT QTCLIEFETCAR FROM CARDAPIO WHERE CDFILIAL = '0001' AND NRCARDAPIO = :P_NR", {{"P_NR", menu}});
  }
  int64_t AuditCount() { return db_->query("SELECT COUNT(*) FROM AUDITORIA").rows[0][0].toInt(); }

  // The menu day of branch 0001 as the screen holds it, positioned on a service.
  void LoadCardaDia(data::TClientDataSet& ds, const std::string& service = "00010", rtl::TDateTime day = 0) {
    auto p = Ok(Call("GetCardaDia", {"0001", Day(day ? day : D), ""}));
    Load(ds, p[0]);
    ASSERT_TRUE(ds.Locate("CDSERVFILI", rtl::Variant(service)));
  }
  rtl::Variant PostCard(data::TClientDataSet& ds, rtl::TDateTime day = 0, const std::string& op = "OPA",
                        const std::string& branch = "0001") {
    return Call("PostCard", {branch, ds.FieldByName("CDSERVFILI").AsString(), Day(day ? day : D), ds.Delta(), op, ""}, op);
  }

  std::optional<testsupport::TempSqlite> file_;
  std::string cs_;
  std::unique_ptr<server::MediEfetivos> module_;
  std::unique_ptr<db::Connection> db_;
};
