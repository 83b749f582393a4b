#pragma once
// The whole system as a branch uses it: a real efetivos-server process on a
// database built here (SQLite file or a throw-away PostgreSQL database), and
// simulated clerks, each with its own login, talking to it through the real
// client stack (TNetConnection over HTTP, CheckResultServ, data sets and their
// deltas). Every write a clerk saw accepted goes into a ledger that the tests
// compare with the database and its audit trail afterwards.

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "contracts/net_connection.h"
#include "net/http_transport.h"
#include "platform/data/dataset.h"
#include "platform/db/connection.h"
#include "platform/rtl/datetime.h"
#include "support/server_process.h"

namespace systest {

using rtl::Variant;

// The company of these tests: four branches with two restaurant services each,
// one billed service with three clients on the first, a turnstile, two shifts,
// and empty menus for the last kDays days. Nothing is closed or settled, so
// every refusal a test sees is one it provoked.
inline const std::vector<std::string> kBranches{"0001", "0002", "0003", "0004"};
inline const char* const kService1 = "00010";
inline const char* const kService2 = "00020";
inline const char* const kBilled = "00110";
inline const std::vector<std::string> kClients{"C1", "C2", "C3"};
inline const char* const kTurnstile = "CT1";
inline const std::vector<std::string> kShifts{"1", "2"};
inline constexpr int kDays = 120;

struct Operator {
  std::string code, password;
  std::vector<std::string> branches;  // empty: all
};
// OP1 may use every branch; the others only some.
const std::vector<Operator>& Operators();
// The operators that may use a branch (at least two each).
std::vector<std::string> OperatorsOf(const std::string& branch);
std::string PasswordOf(const std::string& op);

// Creates the schema and the company; `today` is every branch's processing date.
void BuildCompany(const std::string& conninfo, rtl::TDateTime today);

std::string ServerProgram();

// Text of a value as the audit trail keeps it ("" for an empty value).
std::string AuditText(const Variant& v);

// One accepted field change, as the clerk sent it.
struct Change {
  std::string branch;
  rtl::TDateTime day;
  std::string table, key, field, op;
  Variant before, after;
};

// Where the clerks record what the server accepted. The key of a stored value
// is table|branch|day|key|field.
class Ledger {
public:
  void Accept(std::vector<Change> changes);
  std::vector<Change> changes() const;
  // The last accepted value of every key.
  std::map<std::string, Variant> last() const;
  static std::string KeyOf(const Change& c);

private:
  mutable std::mutex m_;
  std::vector<Change> changes_;
};

struct Stats {
  std::atomic<long> requests{0}, accepted{0}, conflicts{0}, failed{0};
  std::mutex m;
  std::vector<std::string> failures;    // not provoked on purpose
  std::vector<std::string> conflictMessages;
  void Fail(const std::string& what) {
    ++failed;
    std::lock_guard l(m);
    failures.push_back(what);
  }
};

// Makes TNetConnection use the HTTP transport with the calling thread's token,
// so one process can hold many logged-in clerks. The options (HTTPS and its
// certificate authority) reach the clerks' logins too.
void RegisterPerThreadSessions(net::HttpTransportOptions options = {});
void SetThreadToken(std::string token);

// A write that was sent: the changes it carried, and how it ended.
struct Write {
  std::string method;
  std::vector<Change> changes;
  bool accepted = false;
  std::string message;  // the refusal or failure, as CheckResultServ raised it
};

// A simulated clerk: one operator logged in on its own connection, working on
// one branch.
class Clerk {
public:
  Clerk(int port, std::string op, std::string password, std::string branch, Stats& stats, Ledger& ledger);

  void Login();
  const std::string& op() const { return op_; }
  const std::string& branch() const { return branch_; }

  // The day's headcounts of both services in one delta (PostCard).
  Write PostServices(rtl::TDateTime day, int iteration);
  // The billing page: billed services, the clients of the first service's
  // billed service with new counts in one delta (UpdEfetClie), then the
  // confirm's reloads (GetServiFat, GetItemRatEfet).
  Write PostClients(rtl::TDateTime day, int iteration);
  // The turnstile reading of the first service (SetEfetCat).
  Write PostTurnstile(rtl::TDateTime day, int iteration);
  // The shifts of the first client, adding up to its stored count (SetTurnoCliente).
  Write PostShifts(rtl::TDateTime day, int iteration);
  // All four, in the order of the screen; stops at the first write not accepted.
  std::vector<Write> EnterDay(rtl::TDateTime day, int iteration);

  // For provoked conflicts: read now, send later.
  struct Pending {
    std::string method;
    rtl::VariantArray args;
    std::vector<Change> changes;
  };
  Pending ReadServiceForConflict(rtl::TDateTime day, double clients);
  Pending ReadClientForConflict(rtl::TDateTime day, double count);
  Write Send(Pending p);

  // A remote call through the connection, counted.
  Variant Call(const std::string& method, rtl::VariantArray& args);
  Variant Call(const std::string& method, std::initializer_list<Variant> args);
  // CheckResultServ of a read: the payload, or throws its message.
  Variant Read(const std::string& method, std::initializer_list<Variant> args);

private:
  Write Finish(const std::string& method, const Variant& r, std::vector<Change> changes, bool updEfetClie = false);

  int port_;
  std::string op_, password_, branch_, token_;
  Stats& stats_;
  Ledger& ledger_;
  std::unique_ptr<contracts::TNetConnection> conn_;
};

// How a write that failed is found in the database: wholly there (the server
// committed it and the reply was lost), wholly absent, or partly there, which
// must never happen.
enum class Found { Present, Absent, Partial };
Found Look(db::Connection& c, const Write& w);

// What the database holds for every key of the ledger, and its audit rows,
// compared with the ledger. Adds failures to the running test.
void ExpectDatabaseMatches(const std::string& conninfo, const Ledger& ledger);

// The stored value of one ledger key and how many rows hold it.
struct Stored {
  size_t rows = 0;
  Variant value;
};
Stored ReadStored(db::Connection& c, const Change& key);
// The audit rows of one ledger key, as (old, new) texts in order.
std::vector<std::pair<std::string, std::string>> ReadAudit(db::Connection& c, const Change& key);

// Seconds each load configuration runs: EFET_LOAD_SECONDS, else `fallback`.
double LoadSeconds(double fallback);

}  // namespace systest
