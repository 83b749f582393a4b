// Password checks are bounded; a guesser's checks must not make another
// operator's login wait. The guessed operator's hash is made ten times as
// costly as usual, so that its check visibly holds the shared slot.
#include <gtest/gtest.h>
#include <sodium.h>

#include <atomic>
#include <map>
#include <thread>

#include "net/endpoint.h"

namespace {

class Store : public contracts::OperatorStore {
public:
  std::map<std::string, std::string> hashes;
  std::optional<std::string> PasswordHash(const std::string& op) override {
    auto it = hashes.find(op);
    if (it == hashes.end()) return std::nullopt;
    return it->second;
  }
};

std::string SlowHash(const std::string& password) {
  char out[crypto_pwhash_STRBYTES];
  EXPECT_EQ(crypto_pwhash_str(out, password.data(), password.size(), 10 * crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE),
            0);
  return out;
}

std::string Body(const std::string& op, const std::string& password) {
  net::Envelope e;
  e.texts["operator"] = op;
  e.texts["password"] = password;
  return net::EncodeEnvelope(e);
}

}  // namespace

TEST(LoginGate, AnotherOperatorsLoginDoesNotWaitForAGuessersCheck) {
  Store ops;
  ops.hashes["CAIXA"] = net::HashPassword("outra senha");  // also starts libsodium
  ops.hashes["LENTO"] = SlowHash("certa");
  auto sessions = net::MakeMemorySessionStore();
  net::HttpServerOptions o;
  o.maxConcurrentLogins = 1;
  o.loginFailuresPerOperator = o.loginFailuresPerAddress = 1000;  // the guesser is never told to wait
  o.sessions = sessions.get();
  net::Endpoint endpoint(ops, o);

  std::atomic<int> guesses{0};
  std::atomic<bool> stop{false};
  auto guess = [&] {
    net::RequestLog log;
    try {
      endpoint.login(Body("LENTO", "errada"), "10.0.0.66", log);
    } catch (const net::Refusal&) {
    }
    ++guesses;
  };
  guess();  // its failure is on record from now on
  std::thread guesser([&] {
    while (!stop) guess();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));  // its next check holds the slot

  int before = guesses;
  net::RequestLog log;
  net::Reply r = endpoint.login(Body("CAIXA", "outra senha"), "10.0.0.7", log);
  int after = guesses;
  stop = true;
  guesser.join();
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(after, before) << "the login waited for the guesser's check to end";
}
