// The database interface on both backends: binding, types, transactions,
// errors and the statement cache.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "db_fixture.h"

using db::DbError;
using db::ErrorKind;
using db::Params;
using rtl::Variant;

namespace {

// Days since 30/12/1899 plus a time of day, computed as the codec does.
double dt(int days, int h = 0, int m = 0, int s = 0, int ms = 0) {
  return days + (((h * 60.0 + m) * 60.0 + s) * 1000.0 + ms) / 86400000.0;
}
constexpr int k2024_02_29 = 45351;  // 29/02/2024

class Connection : public DbTest {};

TEST_P(Connection, ValuesAreBoundByNameAndStayData) {
  freshTable("T", "ID INTEGER, NAME VARCHAR(80)");
  const std::string hostile = "O'Brien'); DROP TABLE T; -- :P_ID";
  c->exec("INSERT INTO T (ID, NAME) VALUES (:P_ID, :P_NAME)", {{"P_NAME", hostile}, {":p_id", 1}});
  auto r = c->query("SELECT ID, NAME FROM T WHERE NAME = :P_NAME", {{"P_NAME", hostile}});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r.at(0, "name"), Variant(hostile));
  EXPECT_EQ(r.at(0, "ID"), Variant(1));

  // Colons inside literals and comments name no parameter; only P_REAL needs a value.
  r = c->query("SELECT ':P_FAKE' AS A, :P_REAL AS B -- :P_COMMENT\n", {{"P_REAL", "x"}});
  EXPECT_EQ(r.at(0, "A"), Variant(":P_FAKE"));
  EXPECT_EQ(r.at(0, "B"), Variant("x"));
}

TEST_P(Connection, RepeatedNameTakesOneValue) {
  freshTable("T", "ID INTEGER, CD VARCHAR(5)");
  c->exec("INSERT INTO T VALUES (1, 'A')");
  c->exec("INSERT INTO T VALUES (2, 'B')");
  c->exec("INSERT INTO T VALUES (3, 'C')");
  auto r = c->query("SELECT ID FROM T WHERE CD = :P_CD OR ID = :P_ID OR CD = :p_cd ORDER BY ID",
                    {{"P_CD", "C"}, {"P_ID", 1}});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r.rows[0][0], Variant(1));
  EXPECT_EQ(r.rows[1][0], Variant(3));
}

TEST_P(Connection, NullAndEmptyBindAsNull) {
  freshTable("T", "ID INTEGER, NAME VARCHAR(10), QT DOUBLE PRECISION");
  c->exec("INSERT INTO T VALUES (:P_ID, :P_NAME, :P_QT)", {{"P_ID", 1}, {"P_NAME", Variant::Null()}, {"P_QT", Variant()}});
  auto r = c->query("SELECT NAME, QT FROM T");
  EXPECT_TRUE(r.rows[0][0].isNull());
  EXPECT_TRUE(r.rows[0][1].isNull());
  // A parameter whose type only its value could tell, inside a transaction too.
  db::Transaction t(*c);
  r = c->query("SELECT COUNT(*) AS N FROM T WHERE :P_X IS NULL", {{"P_X", Variant::Null()}});
  EXPECT_EQ(r.at(0, "N").toInt(), 1);
  r = c->query("SELECT COUNT(*) AS N FROM T WHERE :P_Y IS NULL", {{"P_Y", "set"}});
  EXPECT_EQ(r.at(0, "N").toInt(), 0);
  t.commit();
}

TEST_P(Connection, DatesRoundTrip) {
  freshTable("T", "DT DATE, TS TIMESTAMP");
  const double day = k2024_02_29, stamp = dt(k2024_02_29, 13, 45, 7, 250), early = dt(-700, 6);
  c->exec("INSERT INTO T VALUES (:P_DT, :P_TS)", {{"P_DT", Variant::FromDate(day)}, {"P_TS", Variant::FromDate(stamp)}});
  c->exec("INSERT INTO T VALUES (:P_DT, :P_TS)", {{"P_DT", Variant::FromDate(-700)}, {"P_TS", Variant::FromDate(early)}});
  auto r = c->query("SELECT DT, TS FROM T WHERE DT = :P_DT", {{"P_DT", Variant::FromDate(day)}});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r.columns[0].type, db::ColumnType::DateTime);
  EXPECT_EQ(r.columns[1].type, db::ColumnType::DateTime);
  ASSERT_EQ(r.rows[0][0].type(), rtl::VarType::DateTime);
  EXPECT_DOUBLE_EQ(r.rows[0][0].toDateTime(), day);
  EXPECT_DOUBLE_EQ(r.rows[0][1].toDateTime(), stamp);
  r = c->query("SELECT TS FROM T WHERE TS < :P_TS", {{"P_TS", Variant::FromDate(day)}});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_DOUBLE_EQ(r.rows[0][0].toDateTime(), early);  // before 1899: negative day, positive time
}

TEST_P(Connection, ValuesComeBackTyped) {
  freshTable("T", "CD VARCHAR(4), N INTEGER, BIG BIGINT, VR NUMERIC(12,2), QT DOUBLE PRECISION, OK BOOLEAN");
  c->exec("INSERT INTO T VALUES (:A, :B, :C, :D, :E, :F)",
          {{"A", "0001"}, {"B", 42}, {"C", 9007199254740993LL}, {"D", 1234.5}, {"E", 0.1}, {"F", true}});
  auto r = c->query("SELECT CD, N, BIG, VR, QT, OK FROM T");
  using CT = db::ColumnType;
  std::vector<CT> types;
  for (auto& col : r.columns) types.push_back(col.type);
  EXPECT_EQ(types, (std::vector<CT>{CT::Text, CT::Integer, CT::Integer, CT::Float, CT::Float, CT::Boolean}));
  EXPECT_EQ(r.at(0, "cd"), Variant("0001"));  // a code keeps its leading zeros
  EXPECT_EQ(r.at(0, "n").type(), rtl::VarType::Integer);
  EXPECT_EQ(r.at(0, "big").toInt(), 9007199254740993LL);
  EXPECT_EQ(r.at(0, "vr").type(), rtl::VarType::Double);
  EXPECT_DOUBLE_EQ(r.at(0, "vr").toDouble(), 1234.5);
  EXPECT_EQ(r.at(0, "qt").toDouble(), 0.1);  // exact round trip
  EXPECT_EQ(r.at(0, "ok"), Variant(true));
  EXPECT_THROW(r.at(0, "missing"), DbError);
}

TEST_P(Connection, GuardRollsBackUnlessCommitted) {
  freshTable("T", "ID INTEGER PRIMARY KEY");
  try {
    db::Transaction t(*c);
    c->exec("INSERT INTO T VALUES (1)");
    throw rtl::Exception("the caller failed");
  } catch (const rtl::Exception&) {
  }
  EXPECT_FALSE(c->inTransaction());
  EXPECT_EQ(c->query("SELECT ID FROM T").size(), 0u);
  {
    db::Transaction t(*c);
    c->exec("INSERT INTO T VALUES (2)");
    EXPECT_THROW(c->begin(), DbError);  // no nesting
    t.commit();
  }
  EXPECT_EQ(c->query("SELECT ID FROM T").size(), 1u);
  EXPECT_THROW(c->commit(), DbError);
}

TEST_P(Connection, ReadSnapshotHoldsAcrossStatementsAndThreadTimeCounts) {
  freshTable("T", "ID INTEGER PRIMARY KEY");
  c->exec("INSERT INTO T VALUES (1)");
  db::ThreadDbTime before = db::CurrentThreadDbTime();
  EXPECT_EQ(c->query("SELECT ID FROM T").size(), 1u);
  db::ThreadDbTime after = db::CurrentThreadDbTime();
  EXPECT_EQ(after.statements, before.statements + 1);
  EXPECT_GT(after.nanoseconds, before.nanoseconds);

  auto other = db::Open(connString_);
  bool snapshot = c->beginRead();
  EXPECT_EQ(snapshot, !pg());  // PostgreSQL keeps a snapshot per statement
  if (snapshot) {
    EXPECT_TRUE(c->inTransaction());
    EXPECT_EQ(c->query("SELECT ID FROM T").size(), 1u);
    other->exec("INSERT INTO T VALUES (2)");  // a writer is not kept waiting by the reader
    EXPECT_EQ(c->query("SELECT ID FROM T").size(), 1u);
    EXPECT_THROW(c->begin(), DbError);
    c->rollback();
    EXPECT_FALSE(c->inTransaction());
    EXPECT_EQ(c->query("SELECT ID FROM T").size(), 2u);
  }
  db::Transaction t(*c);
  EXPECT_THROW(c->beginRead(), DbError);
}

TEST_P(Connection, CommitAfterAFailedStatementIsAnError) {
  freshTable("T", "ID INTEGER PRIMARY KEY");
  c->exec("INSERT INTO T VALUES (1)");
  db::Transaction t(*c);
  c->exec("INSERT INTO T VALUES (2)");
  EXPECT_THROW(c->exec("INSERT INTO T VALUES (1)"), DbError);
  if (pg()) {
    // The server has rolled the whole transaction back; reporting success would lose row 2 silently.
    EXPECT_THROW(t.commit(), DbError);
    EXPECT_EQ(c->query("SELECT ID FROM T").size(), 1u);
  } else {
    t.commit();  // SQLite undoes only the failed statement
    EXPECT_EQ(c->query("SELECT ID FROM T").size(), 2u);
  }
  EXPECT_FALSE(c->inTransaction());
}

TEST_P(Connection, ErrorsAreExceptionsWithTheDatabasesMessage) {
  freshTable("T", "ID INTEGER PRIMARY KEY, NAME VARCHAR(20) NOT NULL");
  try {
    c->query("SELEC 1");
    FAIL() << "no error";
  } catch (const DbError& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Syntax);
    EXPECT_NE(std::string(e.what()).find("syntax"), std::string::npos) << e.what();
    EXPECT_EQ(e.sql(), "SELEC 1");
  }
  c->exec("INSERT INTO T VALUES (1, 'a')");
  try {
    c->exec("INSERT INTO T VALUES (:P_ID, :P_NAME)", {{"P_ID", 1}, {"P_NAME", "SECRET-VALUE"}});
    FAIL() << "no error";
  } catch (const DbError& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Constraint) << e.what();
    EXPECT_EQ(std::string(e.what()).find("SECRET-VALUE"), std::string::npos) << e.what();
    EXPECT_EQ(e.sql().find("SECRET-VALUE"), std::string::npos);
  }
  try {
    c->query("SELECT ID FROM T WHERE ID = :P_ID AND NAME = :P_NAME", {{"P_ID", 1}});
    FAIL() << "no error";
  } catch (const DbError& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Usage);
    EXPECT_NE(std::string(e.what()).find("P_NAME"), std::string::npos) << e.what();
  }
  EXPECT_THROW(c->query("SELECT :P_A", {{"P_A", Variant::Array({1, 2})}}), DbError);
  // The connection is still usable after each error.
  EXPECT_EQ(c->query("SELECT NAME FROM T").at(0, "NAME"), Variant("a"));
}

TEST_P(Connection, StatementsAreKeptPreparedBySqlText) {
  freshTable("T", "ID INTEGER");
  c->clearStatementCache();
  for (int i = 0; i < 3; ++i) c->exec("INSERT INTO T VALUES (:P_ID)", {{"P_ID", i}});
  c->query("SELECT COUNT(*) FROM T");
  EXPECT_EQ(c->cachedStatements(), 2u);
  EXPECT_EQ(c->query("SELECT COUNT(*) AS N FROM T").at(0, "N").toInt(), 3);
  c->clearStatementCache();
  EXPECT_EQ(c->cachedStatements(), 0u);
  // A kept statement follows a change of the table it reads.
  c->query("SELECT * FROM T");
  c->execScript("ALTER TABLE T ADD COLUMN NAME VARCHAR(5)");
  EXPECT_EQ(c->query("SELECT * FROM T").columns.size(), 2u);
}

TEST_P(Connection, GeneratedKeys) {
  freshTable("T", pg() ? "ID SERIAL PRIMARY KEY, NAME VARCHAR(10)" : "ID INTEGER PRIMARY KEY, NAME VARCHAR(10)");
  EXPECT_EQ(c->exec("INSERT INTO T (NAME) VALUES (:P_N)", {{"P_N", "a"}}), 1);
  EXPECT_EQ(c->lastInsertId(), 1);
  auto r = c->query("INSERT INTO T (NAME) VALUES (:P_N) RETURNING ID", {{"P_N", "b"}});
  EXPECT_EQ(r.at(0, "ID").toInt(), 2);
  EXPECT_EQ(c->exec("UPDATE T SET NAME = 'z'"), 2);
}

TEST_P(Connection, ConcurrentWritersWaitForEachOther) {
  freshTable("T", "ID INTEGER");
  std::atomic<bool> begun{false};
  std::thread first([&] {
    auto other = db::Open(connString_);
    db::Transaction t(*other);
    other->exec("INSERT INTO T VALUES (1)");
    begun = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    t.commit();
  });
  while (!begun) std::this_thread::yield();
  {
    db::Transaction t(*c);  // waits for the first writer instead of failing
    c->exec("INSERT INTO T VALUES (2)");
    t.commit();
  }
  first.join();
  EXPECT_EQ(c->query("SELECT ID FROM T").size(), 2u);
}

// A lock not granted in time is "busy, try again", not a change by someone else:
// callers tell the user different things for the two.
TEST_P(Connection, ALockNotGrantedInTimeIsBusyNotAConflict) {
  freshTable("T", "ID INTEGER");
  auto holder = db::Open(connString_);
  db::Transaction held(*holder);
  holder->exec("INSERT INTO T VALUES (1)");
  if (pg()) {
    holder->execScript("LOCK TABLE T IN ACCESS EXCLUSIVE MODE");
    c->execScript("SET lock_timeout = 100");
  } else {
    c->execScript("PRAGMA busy_timeout = 100");
  }
  try {
    db::Transaction t(*c);
    c->exec("INSERT INTO T VALUES (2)");
    t.commit();
    FAIL() << "the lock was granted";
  } catch (const DbError& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Busy) << e.code() << " " << e.what();
  }
  held.commit();
  EXPECT_EQ(c->query("SELECT ID FROM T").size(), 1u);
}

// A connection the server dropped while it sat idle (a restart, an
// administrator ending sessions) is replaced before its next statement.
TEST_P(Connection, ASessionEndedWhileIdleIsReplacedBeforeTheNextStatement) {
  if (!pg()) GTEST_SKIP() << "an SQLite file has no server session";
  int64_t pid = c->query("SELECT pg_backend_pid()").rows[0][0].toInt();
  auto admin = db::Open(connString_);
  admin->query("SELECT pg_terminate_backend(CAST(:P_PID AS INTEGER))", {{"P_PID", pid}});
  for (int i = 0; i < 100 && !admin->query("SELECT 1 FROM pg_stat_activity WHERE pid = :P_PID", {{"P_PID", pid}}).empty();
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_NE(c->query("SELECT pg_backend_pid()").rows[0][0].toInt(), pid);
}

EFET_BOTH_DATABASES(Connection);

TEST(OpenConnection, RefusesWhatItCannotOpen) {
  try {
    db::Open("mysql://user:pw@host/x");
    FAIL() << "opened";
  } catch (const DbError& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Usage);
    EXPECT_EQ(std::string(e.what()).find("pw"), std::string::npos);  // a password is never echoed
  }
  EXPECT_THROW(db::Open("sqlite:"), DbError);
  try {
    db::Open("sqlite:no-such-folder/x/y.db");
    FAIL() << "opened";
  } catch (const DbError& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Connection);
  }
  try {
    db::Open("host=127.0.0.1 port=1 dbname=x connect_timeout=2");
    FAIL() << "connected";
  } catch (const DbError& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Connection);
  }
}

TEST(OpenConnection, SqliteFileIsCreatedWithWalAndForeignKeys) {
  testsupport::TempSqlite file("efet-open");
  auto c = db::Open(file.connectionString());
  EXPECT_EQ(c->dialect(), db::Dialect::SQLite);
  EXPECT_EQ(c->query("PRAGMA journal_mode").rows[0][0], Variant("wal"));
  c->execScript("CREATE TABLE P (ID INTEGER PRIMARY KEY); CREATE TABLE C (P INTEGER REFERENCES P(ID))");
  try {
    c->exec("INSERT INTO C VALUES (7)");
    FAIL() << "foreign key not enforced";
  } catch (const DbError& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Constraint);
  }
}

// ---- SQL text scanning

TEST(SqlText, ParametersOutsideLiteralsCommentsAndCasts) {
  const char* sql =
      "SELECT :A, ':B', \"C:D\", x::text, :a, $$ :E $$, $t$ :F $t$ /* :G */ -- :H\n"
      "FROM T WHERE y = E'\\' :I' AND z = :J_2";
  EXPECT_EQ(db::ParamNames(sql), (std::vector<std::string>{"A", "J_2"}));
  auto rw = db::RewriteToPositional("SELECT :P_A, :P_B, :p_a, 'x:y', v::int FROM T WHERE c = :P_B");
  EXPECT_EQ(rw.text, "SELECT $1, $2, $1, 'x:y', v::int FROM T WHERE c = $2");
  EXPECT_EQ(rw.names, (std::vector<std::string>{"P_A", "P_B"}));
}

TEST(SqlText, IsoDates) {
  EXPECT_EQ(db::FormatIsoDateTime(k2024_02_29), "2024-02-29");
  EXPECT_EQ(db::FormatIsoDateTime(dt(k2024_02_29, 13, 45, 7, 250)), "2024-02-29 13:45:07.250");
  EXPECT_EQ(db::FormatIsoDateTime(0), "1899-12-30");
  EXPECT_EQ(db::FormatIsoDateTime(-1.25), "1899-12-29 06:00:00.000");
  EXPECT_EQ(db::FormatIsoDateTime(dt(10, 23, 59, 59, 999) + 0.4 / 86400000.0), "1900-01-09 23:59:59.999");
  EXPECT_EQ(db::FormatIsoDateTime(dt(10) - 1e-10), "1900-01-09");  // rounds into the next day
  // The calendar's ends, and what lies beyond them (a request may carry any double).
  EXPECT_EQ(db::FormatIsoDateTime(-693593), "0001-01-01");
  EXPECT_EQ(db::FormatIsoDateTime(2958465.5), "9999-12-31 12:00:00.000");
  for (double bad : {-693593.5, 2958466.0, 8.9e106, -1e300, std::nan(""), HUGE_VAL})
    EXPECT_THROW(db::FormatIsoDateTime(bad), db::DbError) << bad;

  double d = 0;
  EXPECT_TRUE(db::ParseIsoDateTime("2024-02-29T13:45:07.25+02", d));
  EXPECT_DOUBLE_EQ(d, dt(k2024_02_29, 13, 45, 7, 250));
  EXPECT_TRUE(db::ParseIsoDateTime("1899-12-29 06:00", d));
  EXPECT_DOUBLE_EQ(d, -1.25);
  for (const char* bad : {"2023-02-29", "2024-13-01", "2024-01-01 24:00", "24-01-01", "2024-01-01x", "infinity", ""})
    EXPECT_FALSE(db::ParseIsoDateTime(bad, d)) << bad;
}

}  // namespace
