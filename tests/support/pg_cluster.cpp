#include "pg_cluster.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/db/connection.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

bool hasTools(const fs::path& dir) {
  std::error_code ec;
  return fs::exists(dir / "initdb", ec) && fs::exists(dir / "pg_ctl", ec);
}

// A port nobody listens on now. Another process may take it before the server
// does, so a failed start is retried with a new one.
int freePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  int port = 0;
  socklen_t len = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

std::string readTail(const fs::path& file, size_t max = 2000) {
  std::ifstream in(file);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string s = ss.str();
  return s.size() > max ? s.substr(s.size() - max) : s;
}

// Runs a command as the user that owns the cluster: initdb refuses root, so
// root runs it as "postgres".
int runAsOwner(const std::string& cmd) {
  std::string full = geteuid() == 0 ? "su postgres -s /bin/sh -c " + shellQuote(cmd) : cmd;
  int rc = std::system(full.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

}  // namespace

std::string FindPostgresBinDir() {
  if (const char* env = std::getenv("EFET_PG_BINDIR"); env && *env && hasTools(env)) return env;
  std::vector<fs::path> candidates;
  std::error_code ec;
  const fs::path libRoot = "/usr/lib/postgresql";
  if (fs::is_directory(libRoot, ec)) {
    std::vector<std::string> versions;
    for (const auto& e : fs::directory_iterator(libRoot, ec)) versions.push_back(e.path().filename().string());
    // 15 first, then the others newest first.
    std::sort(versions.begin(), versions.end(), [](const std::string& a, const std::string& b) {
      if ((a == "15") != (b == "15")) return a == "15";
      return std::atoi(a.c_str()) > std::atoi(b.c_str());
    });
    for (const auto& v : versions) candidates.push_back(libRoot / v / "bin");
  }
  candidates.push_back("/usr/local/pgsql/bin");
  if (const char* path = std::getenv("PATH")) {
    std::stringstream ss(path);
    std::string dir;
    while (std::getline(ss, dir, ':'))
      if (!dir.empty()) candidates.push_back(dir);
  }
  for (const auto& c : candidates)
    if (hasTools(c)) return c.string();
  return {};
}

PgCluster& PgCluster::Shared() {
  static PgCluster cluster;
  return cluster;
}

PgCluster::PgCluster() {
  bindir_ = FindPostgresBinDir();
  if (bindir_.empty()) {
    state_ = State::Missing;
    problem_ = "no PostgreSQL server binaries (initdb, pg_ctl) were found; install the PostgreSQL 15 server "
               "or set EFET_PG_BINDIR";
    return;
  }
  reapStale();
  std::string log;
  for (int attempt = 0; attempt < 3 && !running_; ++attempt) start(log);
  if (running_) {
    state_ = State::Ready;
  } else {
    state_ = State::Failed;
    problem_ = log;
  }
}

PgCluster::~PgCluster() { stop(); }

// A test process killed before its exit handlers ran leaves its cluster
// running; the next run stops and removes those whose owner is gone.
void PgCluster::reapStale() {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::temp_directory_path(), ec)) {
    if (e.path().filename().string().rfind("efet-pg-", 0) != 0) continue;
    std::ifstream in(e.path() / "owner.pid");
    long pid = 0;
    if (!(in >> pid) || pid <= 0 || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    runAsOwner(shellQuote(bindir_ + "/pg_ctl") + " -D " + shellQuote((e.path() / "data").string()) +
               " -m immediate -w stop > /dev/null 2>&1");
    fs::remove_all(e.path(), ec);
  }
}

bool PgCluster::start(std::string& log) {
  std::string tmpl = (fs::temp_directory_path() / "efet-pg-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    log = "could not create a temporary folder";
    return false;
  }
  root_ = buf.data();
  if (geteuid() == 0) {
    passwd* pw = getpwnam("postgres");
    if (!pw || chown(root_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
      log = "running as root, but there is no \"postgres\" user to own the cluster";
      fs::remove_all(root_);
      root_.clear();
      return false;
    }
  }
  std::ofstream(root_ + "/owner.pid") << getpid() << "\n";
  port_ = freePort();
  const std::string data = root_ + "/data", logFile = root_ + "/server.log", initLog = root_ + "/initdb.log";
  int rc = runAsOwner(shellQuote(bindir_ + "/initdb") + " -D " + shellQuote(data) +
                      " -U postgres -A trust -E UTF8 --locale=C.UTF-8 > " + shellQuote(initLog) + " 2>&1");
  if (rc != 0) {
    log = "initdb failed:\n" + readTail(initLog);
    fs::remove_all(root_);
    root_.clear();
    return false;
  }
  // Durability is of no use to a throw-away cluster; speed is.
  std::string options = "-c listen_addresses=127.0.0.1 -p " + std::to_string(port_) + " -k " + root_ +
                        " -c fsync=off -c synchronous_commit=off -c full_page_writes=off";
  options_ = options;
  rc = runAsOwner(shellQuote(bindir_ + "/pg_ctl") + " -D " + shellQuote(data) + " -l " + shellQuote(logFile) +
                  " -o " + shellQuote(options) + " -t 60 -w start > /dev/null 2>&1");
  if (rc != 0) {
    log = "pg_ctl start failed on port " + std::to_string(port_) + ":\n" + readTail(logFile);
    runAsOwner(shellQuote(bindir_ + "/pg_ctl") + " -D " + shellQuote(data) + " -m immediate -w stop > /dev/null 2>&1");
    fs::remove_all(root_);
    root_.clear();
    return false;
  }
  running_ = true;
  return true;
}

bool PgCluster::Stop(const char* mode) {
  if (!running_) return false;
  int rc = runAsOwner(shellQuote(bindir_ + "/pg_ctl") + " -D " + shellQuote(root_ + "/data") + " -m " + mode +
                      " -w stop > /dev/null 2>&1");
  running_ = rc != 0;
  return rc == 0;
}

bool PgCluster::Start() {
  if (running_ || root_.empty()) return running_;
  int rc = runAsOwner(shellQuote(bindir_ + "/pg_ctl") + " -D " + shellQuote(root_ + "/data") + " -l " +
                      shellQuote(root_ + "/server.log") + " -o " + shellQuote(options_) + " -t 60 -w start > /dev/null 2>&1");
  running_ = rc == 0;
  return running_;
}

void PgCluster::stop() {
  if (running_) {
    runAsOwner(shellQuote(bindir_ + "/pg_ctl") + " -D " + shellQuote(root_ + "/data") + " -m fast -w stop > /dev/null 2>&1");
    running_ = false;
  }
  if (!root_.empty()) {
    std::error_code ec;
    fs::remove_all(root_, ec);
    root_.clear();
  }
}

std::string PgCluster::Conninfo(std::string_view dbname) const {
  return "host=127.0.0.1 port=" + std::to_string(port_) + " user=postgres connect_timeout=10 dbname=" +
         std::string(dbname);
}

std::string PgCluster::CreateDatabase(std::string_view prefix) {
  if (state_ != State::Ready) throw std::runtime_error("the PostgreSQL test cluster is not running: " + problem_);
  std::string name;
  for (char c : prefix) name += std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
  if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) name = "t_" + name;
  name = name.substr(0, 40) + "_" + std::to_string(++databases_);
  auto admin = db::Open(Conninfo("postgres"));
  admin->execScript("CREATE DATABASE " + name);
  return Conninfo(name);
}

}  // namespace testsupport
