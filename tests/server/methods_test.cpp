// The remote methods on SQLite and PostgreSQL: payload shapes, the rules of
// docs/server.md, permissions and refused deltas.

#include <atomic>
#include <sstream>
#include <thread>

#include "platform/data/packet.h"
#include "server/datasets.h"
#include "server_fixture.h"

namespace S = server::sets;
using rtl::Variant;

namespace {

void ExpectShape(const Variant& packet, const S::Defs& want, const std::string& what) {
  ASSERT_TRUE(packet.isPacket()) << what << ": " << packet.debugString();
  auto got = data::PacketFieldDefs(packet.asPacket());
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].Name, want[i].Name) << what;
    EXPECT_EQ(got[i].DataType, want[i].DataType) << what << "." << want[i].Name;
    EXPECT_EQ(got[i].Size, want[i].Size) << what << "." << want[i].Name;
    EXPECT_EQ(got[i].FixedChar, want[i].FixedChar) << what << "." << want[i].Name;
  }
}

}  // namespace

TEST_P(ServerTest, PayloadsCarryTheFieldsOfTheirDataSets) {
  struct Case {
    const char* method;
    rtl::VariantArray args;
    int element;  // -1: the payload is the packet
    const S::Defs& defs;
  };
  Variant d = Day(D);
  const Case cases[] = {
      {"GetParamGeral", {}, -1, S::ParamGeral()},
      {"GetParamPlaneja", {"0001"}, -1, S::ParamPlaneja()},
      {"GetCardaDia", {"0001", d, ""}, 0, S::CardaDia()},
      {"GetCardaDia", {"0001", d, ""}, 1, S::CompCardAux()},
      {"GetCardaDia", {"0001", d, ""}, 2, S::PratoCard()},
      {"GetCardaDia", {"0001", d, ""}, 3, S::ParamFilal()},
      {"GetCardaDia", {"0001", d, ""}, 4, S::ParamPlaneja()},
      {"GetDtCardapio", {"0001", d}, -1, S::DtCardapio()},
      {"GetComensais", {"0001", d, "00010"}, 0, S::ComensaisCard()},
      {"GetComensais", {"0001", d, "00010"}, 1, S::ParamGeral()},
      {"GetComensais", {"0001", d, "00010"}, 2, S::ComensaisEfet()},
      {"GetComensais", {"0001", d, "00010"}, 3, S::ExistsCliente()},
      {"GetComensais", {"0001", d, "00010"}, 4, S::VdFaturados()},
      {"GetServiFat", {"0001", "00010", d, 0}, -1, S::ServFatu()},
      {"GetServCli", {"0001", "10010", d, "00010"}, 0, S::ServCli()},
      {"GetServCli", {"0001", "10010", d, "00010"}, 1, S::VdCliFat()},
      {"GetServCli", {"0001", "10010", d, "00010"}, 2, S::ItemRat()},
      {"GetServCli", {"0001", "10010", d, "00010"}, 3, S::ItRatEfet()},
      {"GetItemRatEfet", {"0001", "10010", d, "00010"}, -1, S::ItRatEfet()},
      {"GetEfetCatraca", {"0001", d, "00010"}, -1, S::EfetCat()},
      {"GetTurnoCliente", {"0001", "10010", "C1", d}, -1, S::TurnoCliente()},
      {"GetVerifRetirada", {"0001", d, ""}, 0, S::VerifRetirada()},
      {"GetVerifRetirada", {"0001", d, ""}, 1, S::CardaDia()},
      {"GetVerifApurac", {"0001", "00010", d, d}, -1, S::VerifApurac()},
      {"GetEfetPlanCli", {"0001", "00010", d, d}, 0, S::EfetPlan()},
      {"GetEfetPlanCli", {"0001", "00010", d, d}, 1, S::EfetClie()},
  };
  for (const auto& c : cases) {
    Variant p = Ok(Call(c.method, c.args));
    ExpectShape(c.element < 0 ? p : p[c.element], c.defs, std::string(c.method) + "[" + std::to_string(c.element) + "]");
  }
  // GetRetirada: element 0 is itself a result array.
  Variant r = Call("GetRetirada", {"0001", cardD, "", 0});
  ASSERT_TRUE(r.isArray() && r.size() == 1);
  ExpectShape(Ok(r[0]), S::Retirada(), "GetRetirada");
  EXPECT_TRUE(Ok(Call("VerificaEfetFat", {"0001", "00010", d})).type() == rtl::VarType::Boolean);
}

TEST_P(ServerTest, CallsReportTheirDatabaseTimeAndGiveTheirConnectionBack) {
  contracts::CallContext ctx;
  ctx.operatorCode = "OPA";
  rtl::VariantArray args{"0001", Day(D), ""};
  ASSERT_TRUE(contracts::ResultSucceeded(module_->Call("GetCardaDia", args, ctx)));
  EXPECT_GT(ctx.databaseMs, 0);
  size_t idle = module_->pool().idle();
  EXPECT_GE(idle, 1u);
  // A refused read and a write leave no snapshot or transaction open: the
  // connection goes back to the pool.
  rtl::VariantArray refused{"9999", Day(D), ""};
  EXPECT_FALSE(contracts::ResultSucceeded(module_->Call("GetCardaDia", refused, ctx)));
  EXPECT_EQ(module_->pool().idle(), idle);
  data::TClientDataSet ds;
  LoadCardaDia(ds);
  ds.Edit();
  ds.FieldByName("QTCLIEFETCAR").SetAsFloat(21);
  ds.Post();
  EXPECT_TRUE(contracts::ResultSucceeded(PostCard(ds)));
  EXPECT_EQ(module_->pool().idle(), idle);
  EXPECT_EQ(ClientsOf(ds.FieldByName("NRCARDAPIO").AsString()), 21);
}

TEST_P(ServerTest, MenuDayListsTheDaysMenusAndDishTypeTotals) {
  Variant p = Ok(Call("GetCardaDia", {"0001", Day(D), ""}));
  data::TClientDataSet card, types;
  Load(card, p[0]);
  EXPECT_EQ(card.RecordCount(), 2);  // 00010 and 00020 of D, no other day
  ASSERT_TRUE(card.Locate("CDSERVFILI", Variant("00010")));
  EXPECT_EQ(card.FieldByName("QTCOMEFETCAR").AsFloat(), 13);
  EXPECT_EQ(card.FieldByName("NMSERVICO").AsString(), "Almoço");
  // A group narrows the services.
  Load(card, Ok(Call("GetCardaDia", {"0001", Day(D), "JAN"}))[0]);
  ASSERT_EQ(card.RecordCount(), 1);
  EXPECT_EQ(card.FieldByName("CDSERVFILI").AsString(), "00020");

  Load(types, p[1]);
  ASSERT_TRUE(types.Locate("NRCARDAPIO;CDTIPOPRAT", rtl::VarArrayOf({cardD, "01"})));
  EXPECT_EQ(types.FieldByName("QTCOMEFETPRA").AsFloat(), 8);  // 5 + 3
  EXPECT_EQ(types.FieldByName("QTPRODUZPRAT").AsFloat(), 1.5);  // 1.5 + empty
  ASSERT_TRUE(types.Locate("NRCARDAPIO;CDTIPOPRAT", rtl::VarArrayOf({cardD, "02"})));
  EXPECT_EQ(types.FieldByName("QTCOMEFETPRA").AsFloat(), 0);

  // Offered dates: within 60 days before and 30 after the processing date, newest first.
  data::TClientDataSet dates;
  Load(dates, Ok(Call("GetDtCardapio", {"0001", Day(D)})));
  ASSERT_EQ(dates.RecordCount(), 2);
  dates.First();
  EXPECT_EQ(dates.FieldByName("DTORDENA").AsDateTime(), D);
  EXPECT_EQ(dates.FieldByName("DTCARDAPIO").AsString(), "20/06/2024");
  dates.Next();
  EXPECT_EQ(dates.FieldByName("DTORDENA").AsDateTime(), D - 5);
}

TEST_P(ServerTest, PostCardStoresTheCountsRecomputesTheTotalAndAudits) {
  data::TClientDataSet ds;
  LoadCardaDia(ds);
  ds.Edit();
  ds.FieldByName("QTCLIEFETCAR").SetAsFloat(20);
  ds.FieldByName("QTCOMEFETCAR").SetAsFloat(999);  // the server keeps the sum, not this
  ds.Post();
  Variant p = Ok(PostCard(ds));
  ASSERT_TRUE(p.isArray() && p.size() == 3);
  EXPECT_EQ(ClientsOf(cardD), 20);
  EXPECT_EQ(StoredNum("SELECT QTCOMEFETCAR FROM CARDAPIO WHERE NRCARDAPIO = :P", {{"P", cardD}}), 23);
  EXPECT_EQ(StoredNum("SELECT QTCOMEFETSL FROM CARDAPIO WHERE NRCARDAPIO = :P", {{"P", cardD}}), 23);
  auto who = db_->query("SELECT CDOPERADOR FROM CARDAPIO WHERE NRCARDAPIO = :P", {{"P", cardD}});
  EXPECT_EQ(who.rows[0][0].toString(), "OPA");

  std::ostringstream out;
  server::PrintAudit(*db_, {"0001", D, "", "", ""}, out);
  EXPECT_NE(out.str().find("OPA  CARDAPIO " + cardD + " serviço 00010  QTCLIEFETCAR: 10 -> 20"), std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("QTCOMEFETCAR: 13 -> 23"), std::string::npos) << out.str();
}

TEST_P(ServerTest, PostCardRefusesBadDeltasWholeAndKeepsTheRow) {
  auto expectRefused = [&](const std::function<void(data::TClientDataSet&)>& change, const std::string& message,
                           const std::string& op = "OPA", const std::string& branch = "0001") {
    data::TClientDataSet ds;
    LoadCardaDia(ds);
    change(ds);
    int64_t audits = AuditCount();
    std::string text = FailText(PostCard(ds, 0, op, branch));
    EXPECT_NE(text.find(message), std::string::npos) << text;
    EXPECT_EQ(ClientsOf(cardD), 10);
    EXPECT_EQ(AuditCount(), audits);
  };
  auto edit = [](const char* field, double v) {
    return [=](data::TClientDataSet& ds) {
      ds.Edit();
      ds.FieldByName(field).SetAsFloat(v);
      ds.Post();
    };
  };
  expectRefused(edit("QTCLIEFETCAR", -1), "Quantidade de clientes deve ser maior ou igual a zero.");
  expectRefused(edit("QTDOAEFETCAR", -2), "Quantidade de doações deve ser maior ou igual a zero.");
  expectRefused(
      [](data::TClientDataSet& ds) {
        ds.Edit();
        ds.FieldByName("NMSERVICO").SetAsString("Outro nome");
        ds.Post();
      },
      "O campo NMSERVICO não pode ser alterado.");
  expectRefused(
      [](data::TClientDataSet& ds) {
        ds.Append();
        ds.FieldByName("CDSERVFILI").SetAsString("00099");
        ds.Post();
      },
      "Inclusão de registros não permitida.");
  expectRefused([](data::TClientDataSet& ds) { ds.Delete(); }, "Exclusão de registros não permitida.");
  // A row of 0001 sent as a change of 0002, and an operator without 0001.
  expectRefused(edit("QTCLIEFETCAR", 11), "Registro da filial 0001 enviado numa alteração da filial 0002.", "OPA", "0002");
  expectRefused(edit("QTCLIEFETCAR", 11), "Operador OPB sem permissão para a filial 0001.", "OPB");
  // Changed by someone else since it was read.
  expectRefused(
      [&](data::TClientDataSet& ds) {
        ds.Edit();
        ds.FieldByName("QTCLIEFETCAR").SetAsFloat(11);
        ds.Post();
        db_->exec("UPDATE CARDAPIO SET QTFUNEFETCAR = 7 WHERE NRCARDAPIO = :P", {{"P", cardD}});
      },
      "Registro alterado por outro usuário desde a leitura");
  EXPECT_EQ(StoredNum("SELECT QTFUNEFETCAR FROM CARDAPIO WHERE NRCARDAPIO = :P", {{"P", cardD}}), 7);

  // A rescinded branch takes no writes.
  data::TClientDataSet ds;
  auto p = Ok(Call("GetCardaDia", {"0009", Day(D), ""}));
  Load(ds, p[0]);
  ds.Edit();
  ds.FieldByName("QTCLIEFETCAR").SetAsFloat(1);
  ds.Post();
  EXPECT_EQ(FailText(PostCard(ds, 0, "OPA", "0009")), "Filial com contrato rescindido.");
}

TEST_P(ServerTest, ClosedDaysLaterDatesSettledServicesAndWithdrawalsAreRefused) {
  // D-5 is before D minus 3 days: closed.
  data::TClientDataSet ds;
  LoadCardaDia(ds, "00010", D - 5);
  ds.Edit();
  ds.FieldByName("QTCLIEFETCAR").SetAsFloat(1);
  ds.Post();
  EXPECT_NE(FailText(PostCard(ds, D - 5)).find("Dia fechado"), std::string::npos);

  // A settlement of a client of the service covering D refuses the post, as VerificaEfetFat tells.
  EXPECT_FALSE(Ok(Call("VerificaEfetFat", {"0001", "00010", Day(D)})).toBool());
  db_->exec("INSERT INTO APURACAO (CDFILIAL, NRAPURACFAT, CDCLIENTE, DTINIAPURAC, DTFIMAPURAC) VALUES"
            " ('0001', 'A1', 'C2', :P_I, :P_F)",
            {{"P_I", Day(D - 1)}, {"P_F", Day(D)}});
  EXPECT_TRUE(Ok(Call("VerificaEfetFat", {"0001", "00010", Day(D)})).toBool());
  EXPECT_FALSE(Ok(Call("VerificaEfetFat", {"0001", "00010", Day(D + 1)})).toBool());
  data::TClientDataSet days;
  Load(days, Ok(Call("GetVerifApurac", {"0001", "00010", Day(D - 3), Day(D + 3)})));
  ASSERT_EQ(days.RecordCount(), 2);
  EXPECT_EQ(days.FieldByName("DTEFETCLIE").AsDateTime(), D - 1);
  LoadCardaDia(ds);
  ds.Edit();
  ds.FieldByName("QTCLIEFETCAR").SetAsFloat(12);
  ds.Post();
  EXPECT_EQ(FailText(PostCard(ds)),
            "Operação bloqueada. Efetivos dos clientes relacionados já apurados na data selecionada.");
  data::TClientDataSet vd;
  Load(vd, Ok(Call("GetComensais", {"0001", Day(D), "00010"}))[4]);
  ASSERT_EQ(vd.RecordCount(), 1);
  EXPECT_EQ(vd.FieldByName("CDSERVPLAN").AsString(), "00010");
  db_->exec("DELETE FROM APURACAO");

  // Withdrawals: the menu of 00020 has none until one is recorded.
  EXPECT_EQ(Call("Vd_Retirada", {"0001", cardD20, "Sem retirada."}).toString(), "Sem retirada.");
  db_->exec("INSERT INTO RETIRADA (CDFILIAL, NRRETIRADA, NRCARDAPIO, CDPRODUTO, QTRETIRADA) VALUES"
            " ('0001', 900, :P, 'ARROZ', 3)",
            {{"P", cardD20}});
  EXPECT_EQ(Call("Vd_Retirada", {"0001", cardD20, "Sem retirada."}).toString(), "");
  data::TClientDataSet ret;
  Load(ret, Ok(Call("GetRetirada", {"0001", cardD20, "", 0})[0]));
  EXPECT_EQ(ret.FieldByName("CARDAPIO").AsFloat(), 1);
  auto verif = Ok(Call("GetVerifRetirada", {"0001", Day(D), ""}));
  data::TClientDataSet vr;
  Load(vr, verif[0]);
  ASSERT_EQ(vr.RecordCount(), 1);
  EXPECT_EQ(vr.FieldByName("CDSERVFILI").AsString(), "00020");
  EXPECT_TRUE(vr.FieldByName("QTCOMEFETCAR").IsNull());
  LoadCardaDia(ds, "00020");
  ds.Edit();
  ds.FieldByName("QTCLIEFETCAR").SetAsFloat(0);
  ds.Post();
  EXPECT_EQ(FailText(PostCard(ds)), "Cardápio possui retirada, total de efetivos deve ser maior do que 0.");

  // A later date than the processing date, with IDPEREFEPOSDTPR "N".
  std::string later = server::DemoBuilder(*db_).Menu("0001", "00020", D + 1);
  LoadCardaDia(ds, "00020", D + 1);
  ds.Edit();
  ds.FieldByName("QTCLIEFETCAR").SetAsFloat(5);
  ds.Post();
  EXPECT_EQ(FailText(PostCard(ds, D + 1)), "Data do cardápio deve ser menor ou igual a data de  processamento.");
  EXPECT_EQ(ClientsOf(later), -1);
}

TEST_P(ServerTest, SecondWriterOfTheSameRowIsRefusedAndTheFirstIsKept) {
  data::TClientDataSet first, second;
  LoadCardaDia(first);
  LoadCardaDia(second);
  first.Edit();
  first.FieldByName("QTCLIEFETCAR").SetAsFloat(30);
  first.Post();
  second.Edit();
  second.FieldByName("QTCLIEFETCAR").SetAsFloat(40);
  second.Post();
  // Each call takes its own pooled connection.
  Ok(PostCard(first));
  EXPECT_NE(FailText(PostCard(second)).find("Registro alterado por outro usuário"), std::string::npos);
  EXPECT_EQ(ClientsOf(cardD), 30);
  // Read again, the second user's change goes through.
  LoadCardaDia(second);
  second.Edit();
  second.FieldByName("QTCLIEFETCAR").SetAsFloat(40);
  second.Post();
  Ok(PostCard(second));
  EXPECT_EQ(ClientsOf(cardD), 40);
}

TEST_P(ServerTest, ConcurrentWritersOfOneRowOneWinsTheOtherIsRefused) {
  // Both read the same row, then post at the same moment from two threads, so
  // the module runs them on two connections at once.
  data::TClientDataSet a, b;
  LoadCardaDia(a);
  LoadCardaDia(b);
  for (auto* ds : {&a, &b}) {
    ds->Edit();
    ds->FieldByName("QTCLIEFETCAR").SetAsFloat(ds == &a ? 50 : 60);
    ds->Post();
  }
  Variant da = a.Delta(), db = b.Delta();
  Variant ra, rb;
  std::atomic<int> ready{0};
  auto post = [&](const Variant& delta, Variant& out) {
    ready++;
    while (ready < 2) std::this_thread::yield();
    out = Call("PostCard", {"0001", "00010", Day(D), delta, "OPA", ""});
  };
  std::thread ta(post, std::cref(da), std::ref(ra)), tb(post, std::cref(db), std::ref(rb));
  ta.join();
  tb.join();
  ASSERT_NE(contracts::ResultSucceeded(ra), contracts::ResultSucceeded(rb)) << ra.debugString() << rb.debugString();
  const Variant& lost = contracts::ResultSucceeded(ra) ? rb : ra;
  EXPECT_NE(contracts::ResultMessage(lost).find("outro usuário"), std::string::npos) << lost.debugString();
  EXPECT_EQ(ClientsOf(cardD), contracts::ResultSucceeded(ra) ? 50 : 60);
  EXPECT_EQ(db_->query("SELECT COUNT(*) FROM AUDITORIA WHERE NMCAMPO = 'QTCLIEFETCAR'").rows[0][0].toInt(), 1);
}

TEST_P(ServerTest, DishQuantitiesUpdateTheDishTypeTotals) {
  auto p = Ok(Call("GetCardaDia", {"0001", Day(D), ""}));
  data::TClientDataSet dishes, types;
  Load(dishes, p[2]);
  ASSERT_TRUE(dishes.Locate("CDPRATO", Variant("PP002")));
  dishes.Edit();
  dishes.FieldByName("QTCOMEFETPRA").SetAsFloat(7);
  dishes.FieldByName("QTPRODUZPRAT").SetAsFloat(2.25);
  dishes.Post();
  Load(types, Ok(Call("UpdPratoCard", {dishes.Delta(), "0001", Day(D)})));
  ASSERT_TRUE(types.Locate("NRCARDAPIO;CDTIPOPRAT", rtl::VarArrayOf({cardD, "01"})));
  EXPECT_EQ(types.FieldByName("QTCOMEFETPRA").AsFloat(), 12);
  EXPECT_EQ(types.FieldByName("QTPRODUZPRAT").AsFloat(), 3.75);

  dishes.MergeChangeLog();
  dishes.Edit();
  dishes.FieldByName("QTPRODUZPRAT").SetAsFloat(-1);
  dishes.Post();
  EXPECT_EQ(FailText(Call("UpdPratoCard", {dishes.Delta(), "0001", Day(D)})),
            "Quantidade vendida deve ser maior ou igual a zero.");
  EXPECT_EQ(StoredNum("SELECT QTPRODUZPRAT FROM PRATOCARDAPIO WHERE CDPRATO = 'PP002'"), 2.25);
}

TEST_P(ServerTest, ClientHeadcountsAndApportionmentLines) {
  auto p = Ok(Call("GetServCli", {"0001", "10010", Day(D), "00010"}));
  data::TClientDataSet cli, lines;
  Load(cli, p[0]);
  Load(lines, p[3]);
  ASSERT_EQ(cli.RecordCount(), 2);
  ASSERT_EQ(lines.RecordCount(), 4);  // two clients, two items
  ASSERT_TRUE(lines.Locate("CDCLIENTE;NRITEMRATEIOEFET", rtl::VarArrayOf({"C1", static_cast<double>(itemAdm)})));
  EXPECT_EQ(lines.FieldByName("NRITRATEFETCLIE").AsFloat(), static_cast<double>(lineC1));
  ASSERT_TRUE(lines.Locate("CDCLIENTE;NRITEMRATEIOEFET", rtl::VarArrayOf({"C2", static_cast<double>(itemPrd)})));
  EXPECT_TRUE(lines.FieldByName("NRITRATEFETCLIE").IsNull());
  EXPECT_EQ(lines.FieldByName("CDSERVPLAN").AsString(), "00010");

  // C2 gets 9 and a new line numbered -1 by the screen; C1's line goes from 4 to 5.
  ASSERT_TRUE(cli.Locate("CDCLIENTE", Variant("C2")));
  cli.Edit();
  cli.FieldByName("QTCOMEFETCLI").SetAsFloat(9);
  cli.FieldByName("DTEFETCLIE").SetAsDateTime(D);
  cli.FieldByName("CDSERVPLAN").SetAsString("00010");
  cli.Post();
  lines.Edit();
  lines.FieldByName("NRITRATEFETCLIE").SetAsFloat(-1);
  lines.FieldByName("QTEFETIVOS").SetAsFloat(9);
  lines.Post();
  ASSERT_TRUE(lines.Locate("CDCLIENTE;NRITEMRATEIOEFET", rtl::VarArrayOf({"C1", static_cast<double>(itemAdm)})));
  lines.Edit();
  lines.FieldByName("QTEFETIVOS").SetAsFloat(5);
  lines.Post();
  Variant a0 = cli.Delta(), a6 = lines.Delta();
  Variant r = Call("UpdEfetClie", {a0, "0001", "00010", Day(D), true, cardD, a6});
  ASSERT_TRUE(r.isArray() && r.size() == 1) << r.debugString();
  EXPECT_EQ(r[0].toString(), "OK");
  EXPECT_EQ(StoredNum("SELECT QTCOMEFETCLI FROM EFETCLIE WHERE CDCLIENTE = 'C2'"), 9);
  auto stored = db_->query("SELECT NRITRATEFETCLIE, QTEFETIVOS FROM ITRATEFETCLIE WHERE CDCLIENTE = 'C2'");
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_GT(stored.rows[0][0].toInt(), lineC1);  // a real number, not the screen's -1
  EXPECT_EQ(StoredNum("SELECT QTEFETIVOS FROM ITRATEFETCLIE WHERE NRITRATEFETCLIE = :P", {{"P", Variant(lineC1)}}), 5);
  // The billed total of the service follows.
  data::TClientDataSet fat;
  Load(fat, Ok(Call("GetServiFat", {"0001", "00010", Day(D), 0})));
  ASSERT_TRUE(fat.Locate("CDSERVICFATURAM", Variant("10010")));
  EXPECT_EQ(fat.FieldByName("QTCOMEFETCLI").AsFloat(), 15);
  // Sending the same delta again: the new line now exists, so it is stale.
  r = Call("UpdEfetClie", {Variant::Null(), "0001", "00010", Day(D), true, cardD, a6});
  ASSERT_TRUE(r.isArray() && r.size() == 1);
  EXPECT_NE(r[0].toString().find("Registro alterado por outro usuário"), std::string::npos) << r[0].toString();
  // Nothing to send: an empty answer.
  EXPECT_TRUE(Call("UpdEfetClie", {Variant::Null(), "0001", "00010", Day(D), true, cardD, Variant::Null()}).isEmpty());

  // A negative headcount, and a sale value where the billed service has no variable value.
  Load(cli, Ok(Call("GetServCli", {"0001", "10010", Day(D), "00010"}))[0]);
  ASSERT_TRUE(cli.Locate("CDCLIENTE", Variant("C1")));
  cli.Edit();
  cli.FieldByName("QTCOMEFETCLI").SetAsFloat(-3);
  cli.Post();
  r = Call("UpdEfetClie", {cli.Delta(), "0001", "00010", Day(D), true, cardD, Variant::Null()});
  EXPECT_EQ(r[0].toString(), "Quantidade de efetivos deve ser maior ou igual a zero.");
  cli.CancelUpdates();
  cli.Edit();
  cli.FieldByName("VRSERVFATUEFCLI").SetAsFloat(12.5);
  cli.Post();
  r = Call("UpdEfetClie", {cli.Delta(), "0001", "00010", Day(D), true, cardD, Variant::Null()});
  EXPECT_NE(r[0].toString().find("Valor de venda"), std::string::npos);
  EXPECT_EQ(StoredNum("SELECT QTCOMEFETCLI FROM EFETCLIE WHERE CDCLIENTE = 'C1'"), 6);

  // The billing-page flag must be a boolean (or a text that reads as one).
  cli.CancelUpdates();
  cli.Edit();
  cli.FieldByName("QTCOMEFETCLI").SetAsFloat(7);
  cli.Post();
  r = Call("UpdEfetClie", {cli.Delta(), "0001", "00010", Day(D), "NaN", cardD, Variant::Null()});
  EXPECT_EQ(r[0].toString(), "Argumento 5 deve ser um valor lógico.");
  EXPECT_EQ(StoredNum("SELECT QTCOMEFETCLI FROM EFETCLIE WHERE CDCLIENTE = 'C1'"), 6);
}

TEST_P(ServerTest, UpdEfetClieAnswersTheKeyOrTheNewMenuDayByTheBranchParameters) {
  auto edit = [&](double v) {
    data::TClientDataSet cli;
    Load(cli, Ok(Call("GetServCli", {"0001", "10010", Day(D), "00010"}))[0]);
    EXPECT_TRUE(cli.Locate("CDCLIENTE", Variant("C1")));
    cli.Edit();
    cli.FieldByName("QTCOMEFETCLI").SetAsFloat(v);
    cli.Post();
    return Call("UpdEfetClie", {cli.Delta(), "0001", "00010", Day(D), true, cardD, Variant::Null()});
  };
  db_->exec("INSERT INTO APURACAO (CDFILIAL, NRAPURACFAT, CDCLIENTE, DTINIAPURAC, DTFIMAPURAC) VALUES"
            " ('0001', 'A7', 'C1', :P_I, :P_I)",
            {{"P_I", Day(D)}});
  // Settled, but the closed-client rule is off: accepted.
  EXPECT_EQ(edit(7)[0].toString(), "OK");
  data::TClientDataSet fat;
  Load(fat, Ok(Call("GetServCli", {"0001", "10010", Day(D), "00010"}))[1]);
  ASSERT_EQ(fat.RecordCount(), 1);
  EXPECT_EQ(fat.FieldByName("NRAPURACFAT").AsString(), "A7");
  // With the rule in force the screen's key comes back and nothing is stored.
  server::DemoBuilder(*db_).BranchParams("0001", "S", "N");
  EXPECT_EQ(edit(8)[0].toString(), "EfetAutoJaApur");
  EXPECT_EQ(StoredNum("SELECT QTCOMEFETCLI FROM EFETCLIE WHERE CDCLIENTE = 'C1'"), 7);
  db_->exec("DELETE FROM APURACAO");
  // Copying to the plan: the answer is the new menu day with the clients' total.
  server::DemoBuilder(*db_).BranchParams("0001", "N", "S");
  Variant r = edit(8);
  ASSERT_TRUE(r.isArray() && r.size() == 3 && r[0].isPacket()) << r.debugString();
  data::TClientDataSet card;
  Load(card, r[0]);
  ASSERT_TRUE(card.Locate("CDSERVFILI", Variant("00010")));
  EXPECT_EQ(card.FieldByName("QTCLIEFETCAR").AsFloat(), 8);
  EXPECT_EQ(card.FieldByName("QTCOMEFETCAR").AsFloat(), 11);
  EXPECT_EQ(ClientsOf(cardD), 8);
}

TEST_P(ServerTest, TurnstilesAndShifts) {
  data::TClientDataSet cat;
  Load(cat, Ok(Call("GetEfetCatraca", {"0001", Day(D), "00010"})));
  ASSERT_EQ(cat.RecordCount(), 1);
  cat.Edit();
  cat.FieldByName("QTEFETCATINI").SetAsFloat(1200);
  cat.FieldByName("QTEFETCATFIM").SetAsFloat(1350);
  cat.Post();
  Ok(Call("SetEfetCat", {cat.Delta()}));
  EXPECT_EQ(StoredNum("SELECT QTEFETCATTOT FROM EFETCATRACA"), 150);
  cat.MergeChangeLog();
  cat.Edit();
  cat.FieldByName("QTEFETCATINI").SetAsFloat(1400);
  cat.Post();
  EXPECT_EQ(FailText(Call("SetEfetCat", {cat.Delta()})),
            "Contador inicial da catraca deve ser menor ou igual ao contador final.");
  EXPECT_EQ(FailText(Call("SetEfetCat", {cat.Delta()}, "OPB")), "Operador OPB sem permissão para a filial 0001.");

  // Client C1 has 6: shifts 4 + 2 pass, 4 + 1 do not add up, 7 exceeds the client.
  auto shifts = [&](double a, double b) {
    data::TClientDataSet t;
    Load(t, Ok(Call("GetTurnoCliente", {"0001", "10010", "C1", Day(D)})));
    EXPECT_EQ(t.RecordCount(), 2);
    t.First();
    t.Edit();
    t.FieldByName("QTCOMTURNCLI").SetAsFloat(a);
    t.Post();
    t.Next();
    t.Edit();
    t.FieldByName("QTCOMTURNCLI").SetAsFloat(b);
    t.Post();
    return Call("SetTurnoCliente", {t.Delta()});
  };
  EXPECT_EQ(FailText(shifts(4, 1)), "Soma total dos comensais dos turnos deve ser igual ao faturado pelo cliente");
  EXPECT_EQ(FailText(shifts(7, 0)),
            "Quantidade de comensais do turno não pode ser maior que a quantidade de comensais do  cliente");
  EXPECT_EQ(db_->query("SELECT COUNT(*) FROM TURNOCLIENTE").rows[0][0].toInt(), 0);
  Ok(shifts(4, 2));
  EXPECT_EQ(StoredNum("SELECT SUM(QTCOMTURNCLI) FROM TURNOCLIENTE"), 6);
}

TEST_P(ServerTest, ConsolidationStoresTheRowsOnceAndChecksThePlan) {
  std::vector<data::TFieldDef> defs = S::ConsolAux();
  auto packet = [&](double c1, double c2) {
    data::PacketWriter w(defs);
    w.AddRow({Day(D), "C1", "Cliente Um Ltda", c1});
    w.AddRow({Day(D), "C2", "Cliente Dois S.A.", c2});
    return Variant(w.Finish());
  };
  auto plan = Ok(Call("GetEfetPlanCli", {"0001", "00010", Day(D), Day(D)}));
  data::TClientDataSet p0, p1;
  Load(p0, plan[0]);
  Load(p1, plan[1]);
  EXPECT_EQ(p0.FieldByName("QTCLIEFETCAR").AsFloat(), 10);
  ASSERT_TRUE(p1.Locate("CDCLIENTE", Variant("C1")));
  EXPECT_EQ(p1.FieldByName("TOTALEFET").AsFloat(), 6);

  EXPECT_EQ(Ok(Call("SetConsolEfet", {"0001", "00010", packet(6, 4)})).toString(), "");
  EXPECT_EQ(Ok(Call("SetConsolEfet", {"0001", "00010", packet(6, 4)})).toString(), "Consolidação sem alterações.");
  std::string text = FailText(Call("SetConsolEfet", {"0001", "00010", packet(6, 5)}));
  EXPECT_NE(text.find("20/06/2024  -  (1)"), std::string::npos) << text;
  EXPECT_NE(FailText(Call("SetConsolEfet", {"0001", "00010", packet(-1, 11)})).find("negativos"), std::string::npos);
  EXPECT_EQ(StoredNum("SELECT SUM(QTEFETFAT) FROM EFETCONSOL"), 10);
  EXPECT_EQ(StoredNum("SELECT QTEFETFAT FROM EFETCONSOL WHERE CDCLIENTE = 'C2'"), 4);
}

TEST_P(ServerTest, UnknownOperatorsAndMethodsAreRefused) {
  EXPECT_EQ(FailText(Call("GetParamPlaneja", {"0001"}, "ZZZ")), "Operador ZZZ não cadastrado ou inativo.");
  EXPECT_EQ(FailText(Call("GetParamPlaneja", {"7777"})), "Filial não cadastrada.");
  EXPECT_NE(FailText(Call("NaoExiste", {})).find("não existe"), std::string::npos);
  EXPECT_EQ(FailText(Call("GetCardaDia", {"0001", "não é data", ""})), "Argumento 2 não é uma data válida.");
  // Any double travels as a date: days beyond the calendar are refused, not formatted.
  for (double bad : {8.9e106, -4.5e23, 2958466.0, -693594.0})
    EXPECT_EQ(FailText(Call("GetDtCardapio", {"0001", Day(bad)})), "Argumento 2 não é uma data válida.") << bad;
  EXPECT_EQ(FailText(Call("GetServiFat", {"0001", Day(4.5e23), Day(D), 0})), "Argumento 2 deve ser um texto.");
  data::PacketWriter w(S::ConsolAux());
  w.AddRow({Day(1e300), "C1", "Cliente Um Ltda", 1.0});
  EXPECT_EQ(FailText(Call("SetConsolEfet", {"0001", "00010", Variant(w.Finish())})),
            "Data fora do intervalo de 01/01/0001 a 31/12/9999.");
  // The same beyond-calendar date as the client code: refused as a bad packet, not an internal error.
  data::PacketWriter wc({{"DTCARDAPIO", data::TFieldType::DateTime},
                         {"CDCLIENTE", data::TFieldType::DateTime},
                         {"NMRAZSOCCLIE", data::TFieldType::String, 60},
                         {"QTEFETFAT", data::TFieldType::Float}});
  wc.AddRow({Day(D), Day(1e300), "Cliente Um Ltda", 1.0});
  EXPECT_EQ(FailText(Call("SetConsolEfet", {"0001", "00010", Variant(wc.Finish())})).rfind(
                "Pacote de efetivos consolidados inválido: ", 0),
            0u);
  EXPECT_EQ(db_->query("SELECT COUNT(*) FROM EFETCONSOL").rows[0][0].toInt(), 0);
  // A key that arrives as a date beyond any calendar has no text to compare.
  data::PacketWriter cat({{"CDFILIAL", data::TFieldType::DateTime},
                          {"CDSERVFILI", data::TFieldType::String, 5},
                          {"CDCATRACA", data::TFieldType::String, 10},
                          {"DTEFETCAT", data::TFieldType::DateTime},
                          {"QTEFETCATINI", data::TFieldType::Float},
                          {"QTEFETCATFIM", data::TFieldType::Float}},
                         data::PacketKind::Delta);
  cat.AddModified({Day(1e300), "00010", "T1", Day(D), 1.0, 3.0}, {Day(1e300), "00010", "T1", Day(D), 1.0, 2.0});
  EXPECT_EQ(FailText(Call("SetEfetCat", {Variant(cat.Finish())})),
            "Pacote de alterações de cdsEfetCat inválido: linha 1, campo CDFILIAL com data fora do intervalo de "
            "01/01/0001 a 31/12/9999.");
}

INSTANTIATE_TEST_SUITE_P(Backends, ServerTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), BackendName);
