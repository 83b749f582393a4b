#pragma once
// A real efetivos-server child process on 127.0.0.1 over a given database. It
// can be killed (SIGKILL, as a crash) and started again on the same database
// and port; its request log goes to a file the tests can read.

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

class ServerProcess {
public:
  // Starts `program --db conninfo --port 0 [extra...]`; throws when it does not
  // start serving.
  ServerProcess(std::string program, std::string conninfo, std::vector<std::string> extra = {});
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int port() const { return port_; }
  bool running() const { return pid_ > 0; }
  // The process's peak resident memory (VmHWM) in kB, or -1.
  long peakMemoryKb() const;
  // SIGKILL and reap: the server gets no chance to finish anything.
  void Kill();
  // SIGTERM, then SIGKILL when it does not end.
  void Stop();
  // Starts again on the same database and port.
  void Restart();
  std::string log() const;
  // Runs the program with these arguments to the end (e.g. `audit ...`) and
  // returns its standard output; throws on a non-zero exit.
  std::string Run(const std::vector<std::string>& args) const;

private:
  void start(int port);

  std::string program_, conninfo_, dir_, log_;
  std::vector<std::string> extra_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace testsupport
