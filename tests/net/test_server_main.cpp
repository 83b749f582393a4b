// A transport test server in a process of its own, so a test can kill it in
// the middle of a call. Prints its port, then serves until killed.
#include <cstdio>

#include "test_module.h"

int main() {
  nettest::EchoModule module;
  nettest::Operators operators;
  operators.Add("ADMIN", "senha");
  net::HttpServerOptions options;
  options.logger = [](const net::RequestLog&) {};
  net::HttpServer server(operators, options);
  server.addModule(module);
  server.start();
  std::printf("%d\n", server.port());
  std::fflush(stdout);
  server.wait();
}
