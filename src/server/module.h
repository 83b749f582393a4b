#pragma once
// rdmMediEfetivos: the remote data module of the headcount screens.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "contracts/remote.h"
#include "platform/db/connection.h"
#include "server/group_commit.h"

namespace server {

// Connections for the calling threads: a call takes one for itself and gives it
// back, so no connection is ever used by two threads at once.
class ConnectionPool {
public:
  explicit ConnectionPool(std::string connectionString);
  ~ConnectionPool();

  class Lease {
  public:
    Lease(ConnectionPool& pool, std::unique_ptr<db::Connection> c) : pool_(&pool), c_(std::move(c)) {}
    Lease(Lease&&) = default;
    ~Lease();
    db::Connection& operator*() const { return *c_; }
    db::Connection* operator->() const { return c_.get(); }
    // A connection that failed is not given back.
    void discard() { broken_ = true; }

  private:
    ConnectionPool* pool_;
    std::unique_ptr<db::Connection> c_;
    bool broken_ = false;
  };

  Lease Acquire();
  const std::string& connectionString() const { return cs_; }
  size_t idle() const;

private:
  std::string cs_;
  mutable std::mutex m_;
  std::vector<std::unique_ptr<db::Connection>> free_;
};

struct CallLog {
  std::string method, op, branch, outcome;
  double ms = 0;
};

class MediEfetivos : public contracts::RemoteModule {
public:
  // Opens the database (creating or upgrading the schema on the first connection).
  explicit MediEfetivos(std::string connectionString);

  std::string ServerName() const override { return "Pla01000.rdmMediEfetivos"; }
  std::vector<std::string> Methods() const override;
  rtl::Variant Call(const std::string& method, rtl::VariantArray& args, const contracts::CallContext& ctx) override;
  std::vector<size_t> ByReference(const std::string& method) const override;

  // Called once per request, after it ran (from the calling thread).
  std::function<void(const CallLog&)> OnCall;
  // Receives the details of a failure that the clerk gets only in general
  // words (the database's or the library's own text): one escaped line, cut to
  // a fixed length. Unset, the line goes to standard error, the server's log.
  std::function<void(const std::string&)> OnFault;

  ConnectionPool& pool() { return pool_; }

private:
  void Fault(const std::string& method, const std::string& op, const char* kind, const std::string& code,
             const std::string& text) const;
  ConnectionPool pool_;
  GroupCommit writers_;
};

}  // namespace server
