// What the server keeps open: per-address limits, which connection gives way,
// and the deadline of a request's headers.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "contracts/net_connection.h"
#include "contracts/result.h"
#include "net/http_server.h"
#include "net/http_transport.h"
#include "test_module.h"

using namespace std::chrono_literals;

namespace {

// Whether done() comes true within limit, polled: the server counts its
// connections on its own threads.
template <class Done>
bool Within(std::chrono::milliseconds limit, Done done) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// A connection that only sends what the test tells it to.
class Raw {
public:
  explicit Raw(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Raw() { close(fd_); }
  bool connected() const { return connected_; }
  bool Send(const std::string& s) { return send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == ssize_t(s.size()); }
  // Whether the server closed the connection within timeoutMs (nothing else
  // is expected from it).
  bool ClosedWithin(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char buf[256];
    return recv(fd_, buf, sizeof buf, MSG_DONTWAIT) <= 0;
  }

private:
  int fd_ = -1;
  bool connected_ = false;
};

class Admission : public ::testing::Test {
protected:
  void SetUp() override {
    operators_.Add("ADMIN", "senha");
    options_.logger = [](const net::RequestLog&) {};
    contracts::ClearSession();
    net::HttpTransportOptions quick;
    quick.readTimeoutMs = 10000;
    net::RegisterHttpTransport(quick);
  }
  void TearDown() override {
    if (server_) server_->stop();
    contracts::ClearSession();
  }
  void Start() {
    server_ = std::make_unique<net::HttpServer>(operators_, options_);
    server_->addModule(module_);
    server_->start();
    net::Login("127.0.0.1", server_->port(), "ADMIN", "senha");
  }
  std::unique_ptr<contracts::TNetConnection> Clerk() {
    auto c = std::make_unique<contracts::TNetConnection>(nettest::kModuleName);
    c->SetHost("127.0.0.1");
    c->SetPort(server_->port());
    return c;
  }

  nettest::EchoModule module_;
  nettest::Operators operators_;
  net::HttpServerOptions options_;
  std::unique_ptr<net::HttpServer> server_;
};

}  // namespace

// A clerk and a flooder on one address: at the limit the flooder's oldest idle
// connection is closed, never the clerk's, and the newcomer is let in.
TEST_F(Admission, AnAddressAtItsLimitLosesItsOldestWaitingConnectionNotTheClerks) {
  options_.maxConnectionsPerAddress = 4;
  Start();
  auto clerk = Clerk();
  std::string where = clerk->Call("WhoAmI")[1][1].toString();  // the clerk's connection, served once
  std::this_thread::sleep_for(20ms);
  Raw oldest(server_->port()), second(server_->port()), third(server_->port());
  ASSERT_TRUE(oldest.connected() && second.connected() && third.connected());
  EXPECT_FALSE(oldest.ClosedWithin(200));  // four open: nothing to make room for yet

  Raw newcomer(server_->port());
  ASSERT_TRUE(newcomer.connected());
  EXPECT_TRUE(oldest.ClosedWithin(5000)) << "the oldest idle connection should make room";
  EXPECT_FALSE(second.ClosedWithin(100));
  EXPECT_FALSE(newcomer.ClosedWithin(100));
  // The clerk's connection, older than all of them, is still the one it uses.
  EXPECT_EQ(clerk->Call("WhoAmI")[1][1].toString(), where);

  // With the clerk's connection in use, one more flooder pushes out the next
  // flooder, not the clerk.
  Raw fifth(server_->port());
  EXPECT_TRUE(second.ClosedWithin(5000));
  EXPECT_EQ(clerk->Call("WhoAmI")[1][1].toString(), where);
}

// A connection running a request is never closed to make room: when every
// connection of the address is busy, the newcomer is the one refused.
TEST_F(Admission, ANewcomerIsRefusedOnlyWhenEveryConnectionOfItsAddressIsRunningARequest) {
  options_.maxConnectionsPerAddress = 2;
  Start();
  std::string token = contracts::CurrentSession().token;
  std::atomic<int> ok{0};
  std::vector<std::thread> holders;
  // Whatever happens below, the holders are let go and joined.
  struct Release {
    nettest::EchoModule& m;
    std::vector<std::thread>& ts;
    ~Release() {
      m.OpenGate();
      for (auto& t : ts)
        if (t.joinable()) t.join();
    }
  } release{module_, holders};
  // The login's connection, closed by the client, may still be counted (a
  // connection finishing its reply does not give way): wait until it is not.
  ASSERT_TRUE(Within(30s, [&] { return server_->connections() == 0; })) << "the login's connection is still open";
  // One at a time: a connection still sending its first request is itself
  // one that may give way to the next newcomer.
  for (int i = 1; i <= 2; ++i) {
    holders.emplace_back([&] {
      try {
        auto t = net::MakeHttpTransport("127.0.0.1", server_->port());
        rtl::VariantArray args;
        if (contracts::ResultSucceeded(t->Call(nettest::kModuleName, "Hold", args, token))) ++ok;
      } catch (...) {
        // Counted as a failed call: ok stays short of 2.
      }
    });
    ASSERT_TRUE(module_.WaitHeld(i, 30s)) << i << " request(s) should be running";
  }
  Raw newcomer(server_->port());
  EXPECT_TRUE(newcomer.ClosedWithin(5000)) << "nothing could make room for it";
  module_.OpenGate();
  for (auto& t : holders) t.join();
  EXPECT_EQ(ok, 2);
  // Once they are done there is room again.
  EXPECT_TRUE(contracts::ResultSucceeded(Clerk()->Call("Echo")));
}

// Headers that trickle in a byte at a time cannot hold a connection open: the
// deadline runs from their first byte and is not pushed on by each new one.
// A connection that never sends anything is closed on the same deadline.
TEST_F(Admission, HeadersMustArriveWholeWithinTheHeaderTimeoutHoweverSlowlyTheyTrickle) {
  options_.headerTimeoutSeconds = 1;
  options_.readTimeoutSeconds = 30;
  Start();
  Raw silent(server_->port());
  Raw slow(server_->port());
  ASSERT_TRUE(slow.Send("POST /call HTTP/1.1\r\nHost: x\r\n"));
  bool closed = false;
  // 40 lines, one every 200 ms: 8 s of trickle if the server let it go on.
  for (int i = 0; i < 40 && !closed; ++i) {
    closed = !slow.Send("X-Pouco-A-Pouco: " + std::to_string(i) + "\r\n") || slow.ClosedWithin(200);
  }
  EXPECT_TRUE(closed) << "a trickle of headers kept its connection open";
  EXPECT_TRUE(silent.ClosedWithin(100));
  // The others are served as ever.
  EXPECT_TRUE(contracts::ResultSucceeded(Clerk()->Call("Echo")));
}
