// What the server stores is only what a screen could have typed, every change
// it stores is audited, and its failures reach the clerk in Portuguese, on
// SQLite and PostgreSQL.

#include <cctype>
#include <functional>

#include "platform/data/packet.h"
#include "server/datasets.h"
#include "server_fixture.h"

namespace S = server::sets;
using rtl::Variant;

namespace {

// A delta of one row of `packet` (the row whose `key` field is `keyValue`),
// modified as `change` says: built by hand, since a data set would refuse what
// the server must refuse too.
Variant ModifiedRow(const Variant& packet, const std::string& key, const std::string& keyValue,
                    const std::function<void(std::vector<Variant>&, const data::PacketReader&)>& change, int copies = 1) {
  data::PacketReader r(packet.asPacket());
  data::PacketWriter w(r.FieldDefs(), data::PacketKind::Delta);
  while (r.Next()) {
    if (r.Values()[r.FieldIndex(key)].toString() != keyValue) continue;
    std::vector<Variant> now = r.Values();
    change(now, r);
    for (int i = 0; i < copies; ++i) w.AddModified(now, r.Values());
  }
  return Variant(w.Finish());
}

auto Set(const std::string& field, Variant value) {
  return [=](std::vector<Variant>& now, const data::PacketReader& r) { now[r.FieldIndex(field)] = value; };
}

}  // namespace

TEST_P(ServerTest, SumsBeyondTheDoublesAreRefusedAndNothingIsStored) {
  Variant day = Ok(Call("GetCardaDia", {"0001", Day(D), ""}))[0];
  Variant delta = ModifiedRow(day, "NRCARDAPIO", cardD, [](std::vector<Variant>& now, const data::PacketReader& r) {
    now[r.FieldIndex("QTCLIEFETCAR")] = 1e308;
    now[r.FieldIndex("QTFUNEFETCAR")] = 1e308;
  });
  int64_t audits = AuditCount();
  EXPECT_EQ(FailText(Call("PostCard", {"0001", "00010", Day(D), delta, "OPA", ""})),
            "O total de comensais excede o maior valor numérico aceito. Nada foi gravado.");
  EXPECT_EQ(ClientsOf(cardD), 10);
  EXPECT_EQ(StoredNum("SELECT QTCOMEFETRI FROM CARDAPIO WHERE NRCARDAPIO = :P", {{"P", cardD}}), 13);
  EXPECT_EQ(AuditCount(), audits);

  // One value of 1e308 is a number like any other; two of them on a day of the consolidation are not.
  data::PacketWriter w(S::ConsolAux());
  w.AddRow({Day(D), "C1", "Cliente Um Ltda", 1e308});
  w.AddRow({Day(D), "C2", "Cliente Dois S.A.", 1e308});
  EXPECT_EQ(FailText(Call("SetConsolEfet", {"0001", "00010", Variant(w.Finish())})),
            "A soma dos efetivos consolidados do dia 20/06/2024 excede o maior valor numérico aceito. Nada foi gravado.");
  EXPECT_EQ(db_->query("SELECT COUNT(*) FROM EFETCONSOL").rows[0][0].toInt(), 0);
}

TEST_P(ServerTest, OnlyDeltasThatChangeSomethingAreWrittenAndStamped) {
  db_->exec("UPDATE CARDAPIO SET CDOPERADOR = 'XYZ', DTPROCES = :P_OLD WHERE CDFILIAL = '0001'",
            {{"P_OLD", Day(D - 30)}});
  auto stamps = [&] {
    std::string out;
    for (const auto& row : db_->query("SELECT NRCARDAPIO, CDOPERADOR, DTPROCES FROM CARDAPIO WHERE CDFILIAL = '0001'"
                                      " ORDER BY NRCARDAPIO")
                               .rows)
      out += row[0].toString() + "/" + row[1].toString() + "/" + row[2].debugString() + ";";
    return out;
  };
  const std::string before = stamps();
  int64_t audits = AuditCount();

  // The read itself sent back: refused, not taken as a save of every row.
  Variant read = Ok(Call("GetCardaDia", {"0001", Day(D), ""}))[0];
  EXPECT_EQ(FailText(Call("PostCard", {"0001", "00010", Day(D), read, "OPA", ""})),
            "Alterações de cdsCardaDia devem vir num pacote de alterações, não nos dados lidos.");
  // An edit that changes no count (the screen's own DTPROCES and total
  // included): answered with the day, and nothing is written.
  Variant same = ModifiedRow(read, "NRCARDAPIO", cardD, [&](std::vector<Variant>& now, const data::PacketReader& r) {
    now[r.FieldIndex("DTPROCES")] = Day(D);
    now[r.FieldIndex("QTCOMEFETRI")] = 13.0;
  });
  Ok(Call("PostCard", {"0001", "00010", Day(D), same, "OPA", ""}));
  EXPECT_EQ(stamps(), before);
  EXPECT_EQ(AuditCount(), audits);

  // At most the rows the day has: two menus on D.
  Variant many = ModifiedRow(read, "NRCARDAPIO", cardD, Set("QTCLIEFETCAR", 11.0), 3);
  EXPECT_EQ(FailText(Call("PostCard", {"0001", "00010", Day(D), many, "OPA", ""})),
            "Pacote de alterações de cdsCardaDia com mais linhas do que os dados lidos podem ter.");
  EXPECT_EQ(ClientsOf(cardD), 10);

  // The same for the other deltas: the read of a client list, and more
  // turnstile rows than there are turnstiles.
  Variant clients = Ok(Call("GetServCli", {"0001", "10010", Day(D), "00010"}))[0];
  Variant r = Call("UpdEfetClie", {clients, "0001", "00010", Day(D), true, cardD, Variant::Null()});
  ASSERT_TRUE(r.isArray() && r.size() == 1) << r.debugString();
  EXPECT_EQ(r[0].toString(), "Alterações de cdsServCli devem vir num pacote de alterações, não nos dados lidos.");
  Variant cat = Ok(Call("GetEfetCatraca", {"0001", Day(D), "00010"}));
  Variant cats = ModifiedRow(cat, "CDCATRACA", "T1", [](std::vector<Variant>& now, const data::PacketReader& r) {
    now[r.FieldIndex("QTEFETCATINI")] = 1.0;
    now[r.FieldIndex("QTEFETCATFIM")] = 2.0;
  }, 2);
  EXPECT_EQ(FailText(Call("SetEfetCat", {cats})),
            "Pacote de alterações de cdsEfetCat com mais linhas do que os dados lidos podem ter.");
  EXPECT_EQ(stamps(), before);
  EXPECT_EQ(AuditCount(), audits);
  EXPECT_EQ(db_->query("SELECT COUNT(*) FROM EFETCATRACA").rows[0][0].toInt(), 0);
}

TEST_P(ServerTest, TextLongerThanItsColumnIsRefusedAndANameChangeIsAudited) {
  Variant clients = Ok(Call("GetServCli", {"0001", "10010", Day(D), "00010"}))[0];
  auto send = [&](const std::string& name) {
    return Call("UpdEfetClie", {ModifiedRow(clients, "CDCLIENTE", "C2", Set("NMFANTCLIE", name)), "0001", "00010",
                                Day(D), true, cardD, Variant::Null()});
  };
  auto nameOfC2 = [&] {
    return db_->query("SELECT NMFANTCLIE FROM CLIENTE WHERE CDCLIENTE = 'C2'").rows.at(0).at(0).toString();
  };
  int64_t audits = AuditCount();
  for (size_t length : {101u, 100000u}) {
    Variant r = send(std::string(length, 'x'));
    ASSERT_TRUE(r.isArray() && r.size() == 1) << r.debugString().substr(0, 200);
    EXPECT_EQ(r[0].toString(), "Nome fantasia do cliente deve ter no máximo 100 caracteres.");
  }
  EXPECT_EQ(nameOfC2(), "Dois");
  EXPECT_EQ(AuditCount(), audits);

  // 100 characters, some of two bytes, fit; the change is in the audit trail.
  std::string name;
  for (int i = 0; i < 50; ++i) name += "zé";
  Variant r = send(name);
  ASSERT_TRUE(r.isArray() && r.size() == 1 && r[0].toString() == "OK") << r.debugString().substr(0, 200);
  EXPECT_EQ(nameOfC2(), name);
  auto audit = db_->query("SELECT CDOPERADOR, NMTABELA, DSCHAVE, VRANTERIOR, VRNOVO FROM AUDITORIA WHERE NMCAMPO = 'NMFANTCLIE'");
  ASSERT_EQ(audit.size(), 1u);
  EXPECT_EQ(audit.rows[0][0].toString(), "OPA");
  EXPECT_EQ(audit.rows[0][1].toString(), "CLIENTE");
  EXPECT_EQ(audit.rows[0][2].toString(), "C2");
  EXPECT_EQ(audit.rows[0][3].toString(), "Dois");
  EXPECT_EQ(audit.rows[0][4].toString(), name);
}

TEST_P(ServerTest, ConsolidationFromAReadOlderThanTheStoredSplitIsRefused) {
  auto packet = [&](double c1, double c2) {
    data::PacketWriter w(S::ConsolAux());
    w.AddRow({Day(D), "C1", "Cliente Um Ltda", c1});
    w.AddRow({Day(D), "C2", "Cliente Dois S.A.", c2});
    return Variant(w.Finish());
  };
  auto stampOf = [&] {
    Variant p = Ok(Call("GetEfetPlanCli", {"0001", "00010", Day(D - 1), Day(D + 1)}));
    EXPECT_EQ(p.size(), 3u);
    return p.size() > 2 ? p[2] : Variant();
  };
  // Two clerks read the same period; the first stores its split.
  Variant first = stampOf(), second = stampOf();
  EXPECT_EQ(first.toString(), second.toString());
  EXPECT_EQ(Ok(Call("SetConsolEfet", {"0001", "00010", packet(6, 4), first})).toString(), "");
  // The second is refused as the other writing methods refuse a stale row, and the first split stays.
  std::string text = FailText(Call("SetConsolEfet", {"0001", "00010", packet(3, 7), second}, "OPA"));
  EXPECT_EQ(text.rfind("Registro alterado por outro usuário desde a leitura", 0), 0u) << text;
  EXPECT_EQ(StoredNum("SELECT QTEFETFAT FROM EFETCONSOL WHERE CDCLIENTE = 'C1'"), 6);
  // After reading again it may replace it.
  Variant fresh = stampOf();
  EXPECT_NE(fresh.toString(), second.toString());
  EXPECT_EQ(Ok(Call("SetConsolEfet", {"0001", "00010", packet(3, 7), fresh})).toString(), "");
  EXPECT_EQ(StoredNum("SELECT QTEFETFAT FROM EFETCONSOL WHERE CDCLIENTE = 'C1'"), 3);
  EXPECT_EQ(FailText(Call("SetConsolEfet", {"0001", "00010", packet(6, 4), "not a stamp"})),
            "Marca de leitura dos efetivos consolidados inválida. Recarregue os dados.");
}

TEST_P(ServerTest, DatabaseFailuresReachTheClerkInPortugueseAndTheLogInFull) {
  std::vector<std::string> log;
  module_->OnFault = [&](const std::string& line) { log.push_back(line); };
  db_->execScript(GetParam() == Backend::PostgreSQL ? "DROP TABLE EFETCONSOL CASCADE" : "DROP TABLE EFETCONSOL");
  EXPECT_EQ(FailText(Call("GetEfetPlanCli", {"0001", "00010", Day(D), Day(D)})),
            "Erro no banco de dados: a operação não foi concluída. Os detalhes estão no registro do servidor.");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("method=GetEfetPlanCli operator=OPA kind=database"), std::string::npos) << log[0];
  std::string lower = log[0];
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(lower.find("efetconsol"), std::string::npos) << log[0];  // the driver's text, in the log only
}
