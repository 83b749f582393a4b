// efetivos-server over HTTPS with a certificate made for the test, and its
// refusal to serve plain HTTP off the loopback unless told to.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "contracts/net_connection.h"
#include "contracts/result.h"
#include "net/http_transport.h"
#include "support/server_process.h"
#include "support/sqlite_temp.h"

namespace {

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "efet-https-XXXXXX").string();
    path = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

TEST(ServerHttps, ServesTlsWithTheGivenCertificate) {
  TempDir dir;
  std::string cert = (dir.path / "cert.pem").string(), key = (dir.path / "key.pem").string();
  std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                     " -addext subjectAltName=IP:127.0.0.1 -keyout " + key + " -out " + cert + " 2>/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0) << "openssl is needed to make the test's certificate";

  testsupport::TempSqlite file("efet-https");
  testsupport::ServerProcess server(EFET_SERVER_EXE, file.connectionString(),
                                    {"--demo", "--cert", cert, "--key", key});
  net::HttpTransportOptions https;
  https.https = true;
  https.caFile = cert;
  net::Login("127.0.0.1", server.port(), "DEM", "demo", https);
  net::RegisterHttpTransport(https);
  contracts::TNetConnection conn("Pla01000.rdmMediEfetivos");
  conn.SetHost("127.0.0.1");
  conn.SetPort(server.port());
  EXPECT_TRUE(contracts::ResultSucceeded(conn.Call("GetParamGeral"))) << conn.LastError();

  // Plain HTTP gets nowhere, and neither does a client that trusts only the
  // system's store.
  net::RegisterHttpTransport();
  conn.Disconnect();
  EXPECT_FALSE(contracts::ResultSucceeded(conn.Call("GetParamGeral")));
  net::HttpTransportOptions system;
  system.https = true;
  net::RegisterHttpTransport(system);
  conn.Disconnect();
  rtl::Variant r = conn.Call("GetParamGeral");
  EXPECT_NE(contracts::ResultMessage(r).find("conexão segura"), std::string::npos) << r.debugString();
  net::RegisterHttpTransport();
  contracts::ClearSession();

  // Off the loopback without TLS the server will not start...
  try {
    server.Run({"--listen", "0.0.0.0", "--port", "0"});
    ADD_FAILURE() << "served plain HTTP on 0.0.0.0";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("without TLS"), std::string::npos) << e.what();
  }
  // ...nor with half of a certificate.
  EXPECT_THROW(server.Run({"--cert", cert, "--port", "0"}), std::runtime_error);
}
