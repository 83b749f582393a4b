#pragma once
// A small remote module and operator store of the transport tests: enough
// methods to exercise the way there and back, nothing of the real server.

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "contracts/remote.h"
#include "contracts/result.h"
#include "net/http_server.h"

namespace nettest {

inline const char* kModuleName = "Teste.rdmEco";

class EchoModule : public contracts::RemoteModule {
public:
  std::string ServerName() const override { return kModuleName; }
  std::vector<std::string> Methods() const override {
    return {"Echo", "Increment", "Throws", "Fail", "WhoAmI", "Sleep", "Hold"};
  }
  rtl::Variant Call(const std::string& method, rtl::VariantArray& args, const contracts::CallContext& ctx) override {
    if (!args.empty() && args[0].isString()) ctx.branch = args[0].toString();
    if (method == "Echo") return contracts::ResultOk(rtl::Variant(args));
    if (method == "Increment") {
      // Every argument is by reference here: each integer goes up by one.
      for (auto& a : args)
        if (a.type() == rtl::VarType::Integer) a = rtl::Variant(static_cast<long long>(a.toInt() + 1));
      return contracts::ResultOk(static_cast<long long>(args.size()));
    }
    if (method == "Throws") throw rtl::Exception("Falha proposital no método.");
    if (method == "Fail") return contracts::ResultFail("Motivo da falha.");
    if (method == "WhoAmI") return contracts::ResultOk(rtl::VarArrayOf({ctx.operatorCode, ctx.clientAddress}));
    if (method == "Sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(args.at(0).toInt()));
      return contracts::ResultOk(true);
    }
    if (method == "Hold") {
      // Stays inside the method until the test opens the gate; the 60 s cap
      // only keeps a failed test from hanging.
      std::unique_lock lock(mu_);
      ++held_;
      changed_.notify_all();
      bool opened = changed_.wait_for(lock, std::chrono::seconds(60), [&] { return open_; });
      --held_;
      return opened ? contracts::ResultOk(true) : contracts::ResultFail("O portão não abriu.");
    }
    return contracts::ResultFail("?");
  }
  // Increment's first three arguments are by reference; Echo has none.
  std::vector<size_t> ByReference(const std::string& method) const override {
    if (method == "Increment") return {0, 1, 2};
    return {};
  }

  // Waits until `count` calls are inside Hold; false if they are not by `limit`.
  bool WaitHeld(int count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, limit, [&] { return held_ >= count; });
  }
  // Lets every call inside Hold (and any later one) return.
  void OpenGate() {
    std::lock_guard lock(mu_);
    open_ = true;
    changed_.notify_all();
  }

private:
  std::mutex mu_;
  std::condition_variable changed_;
  int held_ = 0;
  bool open_ = false;
};

class Operators : public contracts::OperatorStore {
public:
  void Add(const std::string& op, const std::string& password) { hashes_[op] = net::HashPassword(password); }
  std::optional<std::string> PasswordHash(const std::string& op) override {
    auto it = hashes_.find(op);
    if (it == hashes_.end()) return std::nullopt;
    return it->second;
  }

private:
  std::map<std::string, std::string> hashes_;
};

}  // namespace nettest
