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

namespace {

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

}  // namespace

// An unknown operator gets the wrong password's refusal, held back about as
// long as a real check takes, but no check is run for it: a flood of made-up
// names costs no CPU. Its failures still count towards the waits.
TEST(LoginGate, AnUnknownOperatorIsRefusedAsLateAsAWrongPasswordWithoutACheck) {
  Store ops;
  ops.hashes["CAIXA"] = net::HashPassword("outra senha");
  auto sessions = net::MakeMemorySessionStore();
  net::HttpServerOptions o;
  o.loginFailuresPerOperator = o.loginFailuresPerAddress = 1000;
  o.sessions = sessions.get();
  net::Endpoint endpoint(ops, o);

  auto refusal = [&](const std::string& op, const std::string& address) {
    net::RequestLog log;
    try {
      endpoint.login(Body(op, "errada"), address, log);
    } catch (const net::Refusal& r) {
      return r;
    }
    ADD_FAILURE() << op << " logged in";
    return net::Refusal{200, ""};
  };

  double cpu0 = ThreadCpuMs();
  auto wall0 = std::chrono::steady_clock::now();
  net::Refusal known = refusal("CAIXA", "10.0.0.1");  // clean: checked on this thread
  double knownWallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall0).count();
  double knownCpuMs = ThreadCpuMs() - cpu0;
  EXPECT_EQ(known.delayMs, 0);

  for (int i = 0; i < 5; ++i) {
    double cpu1 = ThreadCpuMs();
    net::Refusal unknown = refusal("NINGUEM" + std::to_string(i), "10.0.0." + std::to_string(10 + i));
    double unknownCpuMs = ThreadCpuMs() - cpu1;
    EXPECT_EQ(unknown.status, known.status);
    EXPECT_EQ(unknown.message, known.message);
    EXPECT_EQ(unknown.message, "Operador ou senha inválidos.");
    // Drawn from the one real check, jitter of a tenth either way.
    EXPECT_GE(unknown.delayMs, 0.5 * knownWallMs);
    EXPECT_LE(unknown.delayMs, 1.5 * knownWallMs);
    EXPECT_LT(unknownCpuMs, 0.1 * knownCpuMs) << "a password check ran for an unknown operator";
    EXPECT_EQ(sessions->LoginFailures("O:NINGUEM" + std::to_string(i)).count, 1);
  }
}
