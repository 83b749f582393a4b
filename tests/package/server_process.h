#pragma once
// A real efetivos-server child process on 127.0.0.1 and a free port, over a
// demo database in a temporary folder. Its request log goes to a file the
// tests read to see which calls reached the server.

#include <sys/types.h>

#include <string>

namespace pkgtest {

class ServerProcess {
public:
  // Creates the demo database and starts the server; throws on failure.
  explicit ServerProcess(const std::string& program);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int port() const { return port_; }
  const std::string& dbFile() const { return db_; }
  std::string log() const;
  // Request lines naming this method so far.
  int calls(const std::string& method) const;

private:
  std::string dir_, db_, log_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace pkgtest
