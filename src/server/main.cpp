// efetivos-server: the application server of the headcount screens.

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <iostream>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/data/storage.h"
#include "platform/db/connection.h"
#include "platform/rtl/datetime.h"
#include "server/admin.h"
#include "server/demo.h"
#include "server/historico.h"
#include "server/module.h"
#include "server/schema.h"
#ifdef EFET_HAVE_NET
#include "net/http_server.h"
#endif

namespace {

const char* kHelp = R"(efetivos-server: application server 'Pla01000.rdmMediEfetivos'

Usage:
  efetivos-server [options]                     serve the remote methods
  efetivos-server audit --branch B --date D     print the audit trail of a branch and day
                  [--table T --row K] [--field F]
                                                (D as dd/mm/yyyy or yyyy-mm-dd); --table,
                                                --row and --field narrow it to one row
                                                and field (then --date may be left out)
  efetivos-server add-operator --code C [--name N]
                  [--branches B1,B2,... | --all-branches]
                                                the password (8 characters or more) is
                                                asked on the terminal, or read as one
                                                line from standard input; an existing
                                                operator's sessions end
  efetivos-server deactivate-operator --code C  deactivate an operator and end its
                                                sessions on every server at once

Options:
  --db CONN        database: sqlite:PATH (default sqlite:efetivos.db) or a
                   PostgreSQL connection string ("host=... port=... dbname=..."
                   or postgresql://...)
  --listen ADDR    address to listen on (default 127.0.0.1)
  --port N         port to listen on (default 8211)
  --cert FILE      HTTPS: the server's certificate (PEM, chain included)
  --key FILE       HTTPS: its private key (PEM)
  --insecure       allow plain HTTP on an address other than the loopback
                   (only behind a balancer that terminates TLS on the same host
                   or a trusted network: passwords and tokens travel in clear)
  --demo           fill an empty database with the demo company; its operator
                   is DEM with password "demo" (all branches), and CAM with
                   password "campinas" (branch 0002 only)
  --help           this text

The schema is created or upgraded at start. Each request is logged on standard
error: method, operator, branch, milliseconds and outcome.
)";

bool ParseDay(const std::string& s, rtl::TDateTime& out) {
  int d, m, y;
  if (std::sscanf(s.c_str(), "%d/%d/%d", &d, &m, &y) == 3) return rtl::TryEncodeDate(y, m, d, out);
  return db::ParseIsoDateTime(s, out);
}

struct Options {
  std::string db = "sqlite:efetivos.db", listen = "127.0.0.1", command;
  int port = 8211;
  bool demo = false, insecure = false;
  std::string cert, key;
  std::string branch, date, code, name, branches, table, row, field;
  bool allBranches = false;
};

bool IsLoopback(const std::string& address) {
  return address == "localhost" || address == "::1" || address == "[::1]" || address.rfind("127.", 0) == 0;
}

// One line from standard input; on a terminal it is asked twice, without echo.
std::string ReadPassword() {
  auto line = [](const char* prompt) {
    bool tty = isatty(STDIN_FILENO);
    termios saved{};
    if (tty) {
      std::cerr << prompt << std::flush;
      tcgetattr(STDIN_FILENO, &saved);
      termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string s;
    bool got = static_cast<bool>(std::getline(std::cin, s));
    if (tty) {
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
      std::cerr << "\n";
    }
    if (!got) throw std::runtime_error("no password given on standard input");
    if (!s.empty() && s.back() == '\r') s.pop_back();
    return s;
  };
  std::string p = line("Senha do operador: ");
  if (isatty(STDIN_FILENO) && line("Repita a senha: ") != p) throw std::runtime_error("as senhas digitadas diferem");
  return p;
}

int Fail(const std::string& message) {
  std::cerr << "efetivos-server: " << message << "\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) throw std::runtime_error(a + " needs a value");
      into = args[++i];
    };
    try {
      if (a == "--help" || a == "-h") {
        std::cout << kHelp;
        return 0;
      } else if (a == "--db") value(o.db);
      else if (a == "--listen") value(o.listen);
      else if (a == "--port") {
        std::string p;
        value(p);
        o.port = std::stoi(p);
      } else if (a == "--demo") o.demo = true;
      else if (a == "--cert") value(o.cert);
      else if (a == "--key") value(o.key);
      else if (a == "--insecure") o.insecure = true;
      else if (a == "--branch") value(o.branch);
      else if (a == "--date") value(o.date);
      else if (a == "--table") value(o.table);
      else if (a == "--row") value(o.row);
      else if (a == "--field") value(o.field);
      else if (a == "--code") value(o.code);
      else if (a == "--name") value(o.name);
      else if (a == "--password")
        // A password on the command line is seen by every user of the machine (ps, /proc).
        return Fail("--password is not accepted: the password is asked on the terminal or read from standard input");
      else if (a == "--branches") value(o.branches);
      else if (a == "--all-branches") o.allBranches = true;
      else if (o.command.empty() && (a == "audit" || a == "add-operator" || a == "deactivate-operator")) o.command = a;
      else return Fail("unknown argument " + a + " (see --help)");
    } catch (const std::exception& e) {
      return Fail(e.what());
    }
  }

  // The start-up line names the kind, never the connection string (it may hold a password).
  db::Dialect kind = db::Dialect::SQLite;
  try {
    auto c = db::Open(o.db);
    kind = c->dialect();
    server::EnsureSchema(*c);
    if (o.command == "audit") {
      server::AuditFilter f{o.branch, std::nullopt, o.table, o.row, o.field};
      rtl::TDateTime day;
      if (!o.date.empty()) {
        if (!ParseDay(o.date, day)) return Fail("audit: --date " + o.date + " is not a date");
        f.day = day;
      }
      if (o.branch.empty() || (!f.day && o.row.empty())) return Fail("audit needs --branch B and --date D or --row K");
      server::PrintAudit(*c, f, std::cout);
      return 0;
    }
    if (o.command == "add-operator") {
      server::NewOperator op{o.code, o.name, ReadPassword(), o.allBranches, {}};
      for (size_t p = 0; !o.branches.empty() && p != std::string::npos;) {
        size_t q = o.branches.find(',', p);
        op.branches.push_back(o.branches.substr(p, q == std::string::npos ? q : q - p));
        p = q == std::string::npos ? q : q + 1;
      }
      server::AddOperator(*c, op);
      std::cout << "Operador " << o.code << " gravado.\n";
      return 0;
    }
    if (o.command == "deactivate-operator") {
      if (o.code.empty()) return Fail("deactivate-operator needs --code C");
      if (!server::DeactivateOperator(*c, o.code)) return Fail("operator " + o.code + " not found");
      std::cout << "Operador " << o.code << " desativado; suas sessões foram encerradas.\n";
      return 0;
    }
    if (o.cert.empty() != o.key.empty()) return Fail("HTTPS needs both --cert and --key");
    if (o.cert.empty() && !IsLoopback(o.listen)) {
      if (!o.insecure)
        return Fail("refusing to listen on " + o.listen +
                    " without TLS: give --cert and --key, or --insecure to accept plain HTTP there");
      std::cerr << "efetivos-server: WARNING: plain HTTP on " << o.listen
                << ": passwords and session tokens cross the network in clear\n";
    }
    if (o.demo) {
      if (!c->query("SELECT CDFILIAL FROM FILIAL").empty()) {
        std::cerr << "efetivos-server: database already has branches; demo data not added\n";
      } else {
        db::Transaction t(*c);
        server::DemoBuilder(*c).BuildDemoCompany(rtl::Date());
        t.commit();
        std::cerr << "efetivos-server: demo company created (operator DEM, password demo)\n";
      }
    }
  } catch (const std::exception& e) {
    return Fail(e.what());
  }

  try {
    server::MediEfetivos module(o.db);
    server::Historico historico(module);
    server::OperatorStore operators(o.db);
#ifdef EFET_HAVE_NET
    // The transport writes the request line (method, operator, branch, ms, outcome).
    net::HttpServerOptions options;
    options.address = o.listen;
    options.port = o.port;
    // Clerks of a branch may share an operator code: room for a branch's worth.
    options.maxSessionsPerOperator = 64;
    options.certFile = o.cert;
    options.keyFile = o.key;
    net::HttpServer http(operators, options);
    http.addModule(module);
    http.addModule(historico);
    http.start();
    // Data sets give their freed memory to a pool the next ones reuse; what
    // lies unused there for a while goes back to the system even when no
    // request comes to free more.
    std::jthread trimmer([](std::stop_token stop) {
      std::mutex m;
      std::condition_variable_any wake;
      std::unique_lock lock(m);
      const auto period = std::chrono::duration<double>(data::detail::kChunkIdleSeconds);
      while (!wake.wait_for(lock, stop, period, [&] { return stop.stop_requested(); }))
        data::detail::releaseIdleChunks();
    });
    std::cerr << "efetivos-server: serving " << module.ServerName() << " on " << http.address() << ":" << http.port()
              << " (" << db::DialectName(kind) << ")\n";
    http.wait();
    return 0;
#else
    return Fail("this build has no HTTP transport (src/net); the module can only be used in-process");
#endif
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
