// A client on the clerk's own address holds 300 idle and 300 slow-header
// connections open against a real efetivos-server; the clerk keeps working.
// Under a thread per connection the clerk waited for someone's connection to
// time out: here idle connections hold no thread, and at the per-address
// limit the flood's own connections make room.

#include <chrono>
#include <thread>

#include "contracts/result.h"
#include "flood.h"
#include "support/sqlite_temp.h"
#include "system_fixture.h"

using namespace systest;

TEST(Flood, AClerksCallsAllCompleteWhileIdleAndSlowHeaderConnectionsAreHeldOpen) {
  testsupport::TempSqlite file("efet-flood");
  const rtl::TDateTime today = rtl::Date();
  BuildCompany(file.connectionString(), today);
  testsupport::ServerProcess server(ServerProgram(), file.connectionString());
  // A call that waited for a free thread would miss this.
  net::HttpTransportOptions quick;
  quick.readTimeoutMs = 10000;
  RegisterPerThreadSessions(quick);
  Stats stats;
  Ledger ledger;
  Clerk clerk(server.port(), "OP1", "um", kBranches[0], stats, ledger);
  clerk.Login();
  ASSERT_FALSE(clerk.Read("GetCardaDia", {kBranches[0], Variant::FromDate(today), ""}).isEmpty());

  Flood flood(server.port(), 300, 300);
  // Until the server has pushed some of the flood out: it is at its limit.
  for (int i = 0; i < 100 && flood.closedByServer() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_GT(flood.closedByServer(), 0) << "the flood never reached the per-address limit";

  int done = 0;
  for (int i = 0; i < 60; ++i) {
    try {
      Variant p = clerk.Read("GetCardaDia", {kBranches[0], Variant::FromDate(today - i % 7), ""});
      data::TClientDataSet card;
      card.SetData(p[0]);
      EXPECT_EQ(card.RecordCount(), 2);
      ++done;
    } catch (const std::exception& e) {
      ADD_FAILURE() << "call " << i << ": " << e.what();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(done, 60);
  // A second clerk logs in and works on a new connection during the flood.
  Clerk late(server.port(), "OP2", "dois", kBranches[1], stats, ledger);
  EXPECT_NO_THROW(late.Login());
  EXPECT_NO_THROW(late.Read("GetCardaDia", {kBranches[1], Variant::FromDate(today), ""}));
  EXPECT_GT(flood.open(), 200) << "the flood should still hold its connections";
  EXPECT_EQ(stats.failed.load(), 0);
}
