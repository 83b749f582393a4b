#include "support/server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {

namespace {

pid_t Spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  return pid;
}

std::string Slurp(const std::string& file) {
  std::ifstream in(file);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

ServerProcess::ServerProcess(std::string program, std::string conninfo, std::vector<std::string> extra)
    : program_(std::move(program)), conninfo_(std::move(conninfo)), extra_(std::move(extra)) {
  namespace fs = std::filesystem;
  std::string tmpl = (fs::temp_directory_path() / "efet-srv-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
  dir_ = tmpl;
  log_ = dir_ + "/server.log";
  start(0);
}

ServerProcess::~ServerProcess() {
  Stop();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void ServerProcess::start(int port) {
  std::vector<std::string> argv{program_, "--db", conninfo_, "--port", std::to_string(port)};
  argv.insert(argv.end(), extra_.begin(), extra_.end());
  size_t from = log().size();  // a restart appends to the same log
  pid_ = Spawn(argv, "/dev/null", log_);
  const std::regex serving(R"(serving .* on 127\.0\.0\.1:(\d+))");
  for (int i = 0; i < 600; ++i) {
    std::smatch m;
    std::string text = log().substr(from);
    if (std::regex_search(text, m, serving)) {
      port_ = std::stoi(m[1]);
      return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("efetivos-server ended: " + text);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  Kill();
  throw std::runtime_error("efetivos-server did not start: " + log());
}

void ServerProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void ServerProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Kill();
}

void ServerProcess::Restart() {
  Kill();
  // The port may linger for a moment after the kill.
  for (int attempt = 0;; ++attempt) {
    try {
      start(port_);
      return;
    } catch (const std::exception&) {
      if (attempt >= 20) throw;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
}

std::string ServerProcess::log() const { return Slurp(log_); }

long ServerProcess::peakMemoryKb() const {
  if (pid_ <= 0) return -1;
  std::string status = Slurp("/proc/" + std::to_string(pid_) + "/status");
  size_t at = status.find("VmHWM:");
  return at == std::string::npos ? -1 : std::strtol(status.c_str() + at + 6, nullptr, 10);
}

std::string ServerProcess::Run(const std::vector<std::string>& args) const {
  std::vector<std::string> argv{program_};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back("--db");
  argv.push_back(conninfo_);
  std::string out = dir_ + "/run.out", err = dir_ + "/run.err";
  pid_t pid = Spawn(argv, out, err);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("efetivos-server " + args.at(0) + " failed: " + Slurp(err));
  return Slurp(out);
}

}  // namespace testsupport
