// HTTPS: the HTTP library is built with OpenSSL, so the endpoint can serve TLS
// itself. A throw-away self-signed certificate for 127.0.0.1 is made here.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>

#include "contracts/net_connection.h"
#include "contracts/result.h"
#include "net/http_server.h"
#include "net/http_transport.h"
#include "test_module.h"

namespace {

struct Certificate {
  std::string certFile, keyFile;
};

Certificate MakeSelfSigned(const std::filesystem::path& dir) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
  X509_gmtime_adj(X509_getm_notBefore(x), -60);
  X509_gmtime_adj(X509_getm_notAfter(x), 3600);
  X509_set_pubkey(x, key);
  X509_NAME* name = X509_get_subject_name(x);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                             0);
  X509_set_issuer_name(x, name);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
  for (auto [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1"}, {NID_basic_constraints, "critical,CA:TRUE"}}) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
  }
  X509_sign(x, key, EVP_sha256());
  Certificate c{(dir / "cert.pem").string(), (dir / "key.pem").string()};
  FILE* f = std::fopen(c.certFile.c_str(), "w");
  PEM_write_X509(f, x);
  std::fclose(f);
  f = std::fopen(c.keyFile.c_str(), "w");
  PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(f);
  X509_free(x);
  EVP_PKEY_free(key);
  return c;
}

}  // namespace

TEST(HttpsTransport, ServesTlsAndRefusesWhatItCannotTrust) {
  auto dir = std::filesystem::temp_directory_path() / ("efet_tls_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  Certificate cert = MakeSelfSigned(dir);

  nettest::EchoModule module;
  nettest::Operators operators;
  operators.Add("ADMIN", "senha");
  net::HttpServerOptions options;
  options.logger = [](const net::RequestLog&) {};
  options.certFile = cert.certFile;
  options.keyFile = cert.keyFile;
  net::HttpServer server(operators, options);
  server.addModule(module);
  server.start();
  ASSERT_TRUE(server.secure());

  net::HttpTransportOptions https;
  https.https = true;
  https.caFile = cert.certFile;
  net::Login("127.0.0.1", server.port(), "ADMIN", "senha", https);
  net::RegisterHttpTransport(https);
  contracts::TNetConnection conn(nettest::kModuleName);
  conn.SetHost("127.0.0.1");
  conn.SetPort(server.port());
  EXPECT_EQ(conn.Call("Echo", {"0001"}), rtl::VarArrayOf({true, rtl::VarArrayOf({"0001"})}));

  // A client that does not trust the certificate, or that speaks plain HTTP.
  net::HttpTransportOptions untrusted;
  untrusted.https = true;
  net::RegisterHttpTransport(untrusted);
  conn.Disconnect();
  rtl::Variant r = conn.Call("Echo");
  EXPECT_FALSE(contracts::ResultSucceeded(r));
  EXPECT_NE(r[1].toString().find("conexão segura"), std::string::npos) << r.debugString();
  net::RegisterHttpTransport();
  conn.Disconnect();
  EXPECT_FALSE(contracts::ResultSucceeded(conn.Call("Echo")));

  net::HttpServerOptions broken = options;
  broken.keyFile = (dir / "missing.pem").string();
  net::HttpServer bad(operators, broken);
  EXPECT_THROW(bad.start(), rtl::Exception);

  server.stop();
  std::filesystem::remove_all(dir);
}
