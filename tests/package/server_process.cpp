#include "server_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace pkgtest {

namespace {

int run(const std::vector<std::string>& argv, const std::string& logFile, bool wait, pid_t* child) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 2, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  if (child) *child = pid;
  if (!wait) return 0;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ServerProcess::ServerProcess(const std::string& program) {
  namespace fs = std::filesystem;
  std::string tmpl = (fs::temp_directory_path() / "efet-pkg-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
  dir_ = tmpl;
  db_ = dir_ + "/demo.db";
  log_ = dir_ + "/server.log";
  // The demo database is made by the server program itself, as the desktop does.
  if (run({program, "--demo", "--db", "sqlite:" + db_, "--port", "0"}, log_, false, &pid_) != 0)
    throw std::runtime_error("efetivos-server failed");
  const std::regex serving(R"(serving .* on 127\.0\.0\.1:(\d+))");
  for (int i = 0; i < 400 && port_ == 0; ++i) {
    std::smatch m;
    std::string text = log();
    if (std::regex_search(text, m, serving)) port_ = std::stoi(m[1]);
    else std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int status = 0;
    if (port_ == 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("efetivos-server ended: " + log());
    }
  }
  if (port_ == 0) throw std::runtime_error("efetivos-server did not start: " + log());
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string ServerProcess::log() const {
  std::ifstream in(log_);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

int ServerProcess::calls(const std::string& method) const {
  std::string text = log();
  int n = 0;
  for (size_t p = 0; (p = text.find("/call " + method + " ", p)) != std::string::npos; ++p) ++n;
  return n;
}

}  // namespace pkgtest
