#pragma once
// A throw-away PostgreSQL cluster for a test run: started on 127.0.0.1 at the
// first use, one per test process, stopped and removed when the process ends.

#include <string>
#include <string_view>

namespace testsupport {

class PgCluster {
public:
  enum class State { Ready, Missing, Failed };

  // The process's cluster, started on the first call.
  static PgCluster& Shared();

  State state() const { return state_; }
  // Why the cluster is not ready (binaries not found, or the start's log).
  const std::string& problem() const { return problem_; }
  int port() const { return port_; }

  // Creates an empty database and returns its conninfo.
  std::string CreateDatabase(std::string_view prefix);
  std::string Conninfo(std::string_view dbname) const;

  // For tests of what survives the database going away: stops the cluster
  // ("fast" ends the sessions, "immediate" is a crash) and starts it again on
  // the same port and data. Other tests of the process lose their sessions too,
  // so such tests run in a process of their own.
  bool Stop(const char* mode = "fast");
  bool Start();
  bool Restart(const char* mode = "fast") { return Stop(mode) && Start(); }

  ~PgCluster();
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

private:
  PgCluster();
  bool start(std::string& log);
  void reapStale();
  void stop();

  State state_ = State::Missing;
  std::string problem_;
  std::string bindir_;
  std::string root_;  // temporary folder: data/, the socket and the log
  int port_ = 0;
  bool running_ = false;
  int databases_ = 0;
  std::string options_;  // the server options of the first start
};

// The folder holding initdb and pg_ctl, or "" when none is found. Looks at
// $EFET_PG_BINDIR, the distribution's versioned library folders (15 first)
// and PATH.
std::string FindPostgresBinDir();

}  // namespace testsupport

// In a test body or SetUp: skips when PostgreSQL is not installed, fails when it
// is installed but would not start, and otherwise declares `conninfoVar` with a
// fresh database.
#define EFET_PG_DATABASE(conninfoVar, prefix)                                                            \
  auto& efetPgCluster_ = ::testsupport::PgCluster::Shared();                                             \
  if (efetPgCluster_.state() == ::testsupport::PgCluster::State::Missing)                                \
    GTEST_SKIP() << "PostgreSQL tests skipped: " << efetPgCluster_.problem();                            \
  if (efetPgCluster_.state() == ::testsupport::PgCluster::State::Failed)                                 \
    FAIL() << "PostgreSQL is installed but the test cluster did not start: " << efetPgCluster_.problem(); \
  std::string conninfoVar = efetPgCluster_.CreateDatabase(prefix)
