// Fuzz target: a /call body through the server's decoder and into the
// dispatch of rdmMediEfetivos on a demo database.
//
// The bytes are decoded exactly as the HTTP endpoint decodes a request
// (DecodeEnvelope with the endpoint's default limits). Anything the decoder
// accepts must encode and decode again to the same text. The method named in
// the body (case-insensitive, as the endpoint looks it up) is then called for
// the demo operator DEM, who may use every branch, so the input reaches the
// methods' argument checks and their delta handling. A failure must be one of
// the module's own refusals (not an internal error passed on), and the reply
// must encode to a body the client's decoder accepts.
//
// The database is built once per process and lives in the temporary folder.
// Calls that the server accepts change it, as they would in use.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "contracts/result.h"
#include "fuzz_common.h"
#include "net/http_server.h"
#include "net/wire.h"
#include "platform/db/connection.h"
#include "platform/rtl/datetime.h"
#include "server/demo.h"
#include "server/module.h"

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

struct Env {
  std::filesystem::path file;
  std::unique_ptr<server::MediEfetivos> module;
  std::map<std::string, std::string> methods;  // lower-case name -> name
  net::WireLimits limits = net::HttpServerOptions{}.limits;
  bool verbose = std::getenv("FUZZ_WIRE_VERBOSE") != nullptr;  // prints each call's result

  Env() {
    auto dir = std::filesystem::temp_directory_path();
    file = dir / ("efet-fuzz-wire-" + std::to_string(::getpid()) + ".db");
    RemoveFiles();
    std::string cs = "sqlite:" + file.string();
    module = std::make_unique<server::MediEfetivos>(cs);
    {
      auto c = db::Open(cs);
      db::Transaction t(*c);
      // A fixed day, so that the seeds' dates stay inside the demo's menus.
      server::DemoBuilder(*c).BuildDemoCompany(rtl::EncodeDate(2024, 6, 20));
      t.commit();
    }
    for (const auto& m : module->Methods()) methods[Lower(m)] = m;
  }
  ~Env() {
    module.reset();
    RemoveFiles();
  }
  void RemoveFiles() {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
      std::filesystem::remove(file.string() + suffix, ec);
  }
};

Env& env() {
  static Env e;
  return e;
}

// What the decoder accepted must come back unchanged through encode/decode.
void CheckRoundTrip(const net::Envelope& in, const net::WireLimits& limits) {
  std::string once = net::EncodeEnvelope(in);
  net::Envelope again;
  try {
    again = net::DecodeEnvelope(once, limits);
  } catch (const std::exception& e) {
    fuzz::Fail("re-encoded envelope refused", e.what());
  }
  std::string twice = net::EncodeEnvelope(again);
  fuzz::Check(once == twice, "envelope round trip differs", once + "\n  " + twice);
}

}  // namespace

// The demo database takes seconds to build: before the clock of the first input starts.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  env();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Env& e = env();
  std::string_view body(reinterpret_cast<const char*>(data), size);
  net::Envelope in;
  try {
    in = net::DecodeEnvelope(body, e.limits);
  } catch (const rtl::Exception&) {
    return 0;  // refused with a message: the endpoint answers 400
  }
  CheckRoundTrip(in, e.limits);

  auto m = e.methods.find(Lower(in.text("method")));
  if (m == e.methods.end()) return 0;
  rtl::VariantArray args = in.args ? std::move(*in.args) : rtl::VariantArray{};
  contracts::CallContext ctx;
  ctx.operatorCode = "DEM";
  ctx.clientAddress = "127.0.0.1:0";
  net::Envelope out;
  // The endpoint turns an escaping exception into a failed result; here it is
  // let through, since the module promises to return every failure.
  out.result = e.module->Call(m->second, args, ctx);
  out.args = std::move(args);
  // A refusal the module did not foresee: an exception other than its own
  // checks escaped a method (or the database refused what the checks let
  // through), and the client would show an internal message.
  const rtl::Variant& r = *out.result;
  std::string message;
  if (contracts::IsResultArray(r)) message = contracts::ResultMessage(r);
  else if (r.isArray() && r.size() == 1 && r[0].isString()) message = r[0].toString();
  else if (r.isArray() && r.size() == 1 && contracts::IsResultArray(r[0])) message = contracts::ResultMessage(r[0]);
  else if (r.isString()) message = r.toString();
  for (const char* unforeseen : {"Erro no servidor: ", "Erro no banco de dados: "})
    if (message.rfind(unforeseen, 0) == 0) fuzz::Fail("unforeseen failure", m->second + ": " + message);
  std::string reply = net::EncodeEnvelope(out);
  if (e.verbose) std::fprintf(stderr, "%s -> %.300s\n", m->second.c_str(), out.result->debugString().c_str());
  try {
    net::DecodeEnvelope(reply, e.limits);
  } catch (const std::exception& ex) {
    fuzz::Fail("the reply does not decode", ex.what());
  }
  return 0;
}
