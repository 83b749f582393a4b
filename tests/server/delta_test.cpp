// A delta made by the data-set engine, through the module's conflict check:
// originals travel for the fields the server compares, also the ones this
// user did not change, and also when the rows that hold them were used
// before by other edits of the same data set.

#include "platform/data/packet.h"
#include "server_fixture.h"

namespace {

using rtl::Variant;

class DeltaConflict : public ServerTest {
protected:
  Variant Send(data::TClientDataSet& cli) {
    return Call("UpdEfetClie", {cli.Delta(), "0001", "00010", Day(D), true, cardD, Variant::Null()});
  }
  // Edits that are put back: each leaves a row of original values to reuse.
  static void Churn(data::TClientDataSet& cli) {
    for (int round = 0; round < 3; ++round) {
      for (const char* c : {"C2", "C1"}) {
        ASSERT_TRUE(cli.Locate("CDCLIENTE", Variant(c)));
        cli.Edit();
        cli.FieldByName("QTCOMEFETCLI").SetAsFloat(100 + round);
        cli.FieldByName("NMFANTCLIE").SetAsString("Outro nome " + std::to_string(round));
        cli.Post();
      }
      if (round == 1) {
        cli.RevertRecord();
        cli.CancelUpdates();
      } else {
        cli.CancelUpdates();
      }
    }
  }
};

TEST_P(DeltaConflict, StaleUnchangedFieldIsRefusedAndTheSameDeltaPassesOnceCurrent) {
  const std::string c1 = "SELECT QTCOMEFETCLI FROM EFETCLIE WHERE CDCLIENTE = 'C1'";
  data::TClientDataSet cli;
  Load(cli, Ok(Call("GetServCli", {"0001", "10010", Day(D), "00010"}))[0]);
  ASSERT_EQ(cli.RecordCount(), 2);
  Churn(cli);
  ASSERT_EQ(cli.ChangeCount(), 0);
  ASSERT_TRUE(cli.Locate("CDCLIENTE", Variant("C1")));
  EXPECT_EQ(cli.FieldByName("QTCOMEFETCLI").AsFloat(), 6);
  cli.Edit();
  cli.FieldByName("QTCOMEFETCLI").SetAsFloat(7);
  cli.Post();

  // Another user changes a field this user left alone.
  auto before = db_->query("SELECT QTVENDAEFETCLI FROM EFETCLIE WHERE CDCLIENTE = 'C1'");
  ASSERT_EQ(before.size(), 1u);
  db_->exec("UPDATE EFETCLIE SET QTVENDAEFETCLI = 3 WHERE CDCLIENTE = 'C1'");
  Variant r = Send(cli);
  ASSERT_TRUE(r.isArray() && r.size() == 1) << r.debugString();
  EXPECT_NE(r[0].toString().find("Registro alterado por outro usuário"), std::string::npos) << r[0].toString();
  EXPECT_EQ(StoredNum(c1), 6);

  // Put back, the very same delta goes through.
  db_->exec("UPDATE EFETCLIE SET QTVENDAEFETCLI = :P WHERE CDCLIENTE = 'C1'", {{"P", before.rows[0][0]}});
  r = Send(cli);
  ASSERT_TRUE(r.isArray() && r.size() == 1) << r.debugString();
  EXPECT_EQ(r[0].toString(), "OK");
  EXPECT_EQ(StoredNum(c1), 7);
  cli.MergeChangeLog();

  // Merged after its acceptance, the next edit's originals are the accepted
  // values; not merged, the log keeps the older originals, which are stale.
  cli.Edit();
  cli.FieldByName("QTCOMEFETCLI").SetAsFloat(8);
  cli.Post();
  EXPECT_EQ(Send(cli)[0].toString(), "OK");
  EXPECT_EQ(StoredNum(c1), 8);
  cli.Edit();
  cli.FieldByName("QTCOMEFETCLI").SetAsFloat(5);
  cli.Post();
  EXPECT_NE(Send(cli)[0].toString().find("Registro alterado por outro usuário"), std::string::npos);
  EXPECT_EQ(StoredNum(c1), 8);
}

// The same conflict check on a delta that travels packed: written again
// through a writer told to pack whatever the size, so a 2-row read gives a
// packed delta. A change by another user to a field this user left alone is
// still refused, and the delta passes once the field is put back.
TEST_P(DeltaConflict, PackedDeltaIsCheckedLikeAPlainOne) {
  data::TClientDataSet cli;
  Load(cli, Ok(Call("GetServCli", {"0001", "10010", Day(D), "00010"}))[0]);
  ASSERT_TRUE(cli.Locate("CDCLIENTE", Variant("C1")));
  const double was = cli.FieldByName("QTCOMEFETCLI").AsFloat();
  cli.Edit();
  cli.FieldByName("QTCOMEFETCLI").SetAsFloat(was + 1);
  cli.Post();
  data::PacketReader r(cli.Delta());
  data::PacketWriter w(r.FieldDefs(), data::PacketKind::Delta);
  w.PackFrom(0);
  while (r.Next()) w.AddModified(r.Values(), r.OldValues());
  Variant packed(w.Finish());
  ASSERT_NE(packed.asPacket().bytes().find("\"zrows\""), std::string::npos);
  auto send = [&] { return Call("UpdEfetClie", {packed, "0001", "00010", Day(D), true, cardD, Variant::Null()}); };

  const std::string c1 = "SELECT QTCOMEFETCLI FROM EFETCLIE WHERE CDCLIENTE = 'C1'";
  auto before = db_->query("SELECT QTVENDAEFETCLI FROM EFETCLIE WHERE CDCLIENTE = 'C1'");
  ASSERT_EQ(before.size(), 1u);
  db_->exec("UPDATE EFETCLIE SET QTVENDAEFETCLI = 3 WHERE CDCLIENTE = 'C1'");
  Variant res = send();
  ASSERT_TRUE(res.isArray() && res.size() == 1) << res.debugString();
  EXPECT_NE(res[0].toString().find("Registro alterado por outro usuário"), std::string::npos) << res[0].toString();
  EXPECT_EQ(StoredNum(c1), was);

  db_->exec("UPDATE EFETCLIE SET QTVENDAEFETCLI = :P WHERE CDCLIENTE = 'C1'", {{"P", before.rows[0][0]}});
  res = send();
  ASSERT_TRUE(res.isArray() && res.size() == 1) << res.debugString();
  EXPECT_EQ(res[0].toString(), "OK");
  EXPECT_EQ(StoredNum(c1), was + 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, DeltaConflict, ::testing::Values(Backend::SQLite), BackendName);

}  // namespace
