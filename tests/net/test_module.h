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
    return {"Echo", "Increment", "Throws", "Fail", "WhoAmI", "Sleep"};
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
      // Sleeps the time given, or less if WakeSleepers is called; tests see
      // how many are inside, so they need not guess with sleeps of their own.
      std::unique_lock lock(sleepM_);
      ++sleeping_;
      sleepCv_.notify_all();
      sleepCv_.wait_for(lock, std::chrono::milliseconds(args.at(0).toInt()), [&] { return woken_; });
      --sleeping_;
      return contracts::ResultOk(true);
    }
    return contracts::ResultFail("?");
  }
  // Whether `n` calls of Sleep are inside it at once within `timeout`.
  bool AwaitSleepers(int n, std::chrono::milliseconds timeout) {
    std::unique_lock lock(sleepM_);
    return sleepCv_.wait_for(lock, timeout, [&] { return sleeping_ >= n; });
  }
  void WakeSleepers() {
    std::lock_guard lock(sleepM_);
    woken_ = true;
    sleepCv_.notify_all();
  }
  // Increment's first three arguments are by reference; Echo has none.
  std::vector<size_t> ByReference(const std::string& method) const override {
    if (method == "Increment") return {0, 1, 2};
    return {};
  }

private:
  std::mutex sleepM_;
  std::condition_variable sleepCv_;
  int sleeping_ = 0;
  bool woken_ = false;
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
