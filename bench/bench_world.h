#pragma once
// The application server of the benchmarks: the real module behind the real
// HTTP endpoint on 127.0.0.1, over a demo company (a SQLite file in the
// temporary folder, or the PostgreSQL database named by EFET_BENCH_PG), and the
// demo operator logged in.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "contracts/net_connection.h"
#include "net/http_server.h"
#include "net/http_transport.h"
#include "platform/rtl/datetime.h"
#include "server/admin.h"
#include "server/demo.h"
#include "server/module.h"

namespace benchworld {

struct World {
  std::string cs;
  rtl::TDateTime today = rtl::Date();
  std::unique_ptr<server::MediEfetivos> module;
  std::unique_ptr<server::OperatorStore> ops;
  std::unique_ptr<net::HttpServer> http;

  explicit World(const char* name) {
    const char* pg = std::getenv("EFET_BENCH_PG");
    if (pg && *pg) {
      cs = pg;
    } else {
      auto path = std::filesystem::temp_directory_path() /
                  (std::string("efet-") + name + "-" + std::to_string(getpid()) + ".db");
      cs = "sqlite:" + path.string();
    }
    module = std::make_unique<server::MediEfetivos>(cs);
    auto c = db::Open(cs);
    if (c->query("SELECT CDFILIAL FROM FILIAL").empty()) {
      db::Transaction t(*c);
      server::DemoBuilder(*c).BuildDemoCompany(today);
      t.commit();
    }
    ops = std::make_unique<server::OperatorStore>(cs);
    net::HttpServerOptions o;
    o.logger = [](const net::RequestLog&) {};
    http = std::make_unique<net::HttpServer>(*ops, o);
    http->addModule(*module);
    http->start();
    net::RegisterHttpTransport();
    net::Login("127.0.0.1", http->port(), "DEM", "demo");
  }
  ~World() {
    http->stop();
    if (cs.rfind("sqlite:", 0) == 0) {
      std::string p = cs.substr(7);
      for (const char* s : {"", "-wal", "-shm"}) std::remove((p + s).c_str());
    }
  }

  std::unique_ptr<contracts::TNetConnection> Connection() const {
    auto c = std::make_unique<contracts::TNetConnection>("Pla01000.rdmMediEfetivos");
    c->SetHost("127.0.0.1");
    c->SetPort(http->port());
    return c;
  }
};

}  // namespace benchworld
