#pragma once
// Operators, their password hashes and branches; the audit listing.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "contracts/remote.h"
#include "platform/db/connection.h"
#include "platform/rtl/datetime.h"
#include "server/module.h"

namespace server {

// Argon2id through libsodium; the hash string carries its own salt and limits.
std::string HashPassword(const std::string& password);
bool VerifyPassword(const std::string& hash, const std::string& password);

struct NewOperator {
  std::string code;  // up to 3 characters
  std::string name;
  std::string password;
  bool allBranches = false;
  std::vector<std::string> branches;
};
// Passwords shorter than this are refused (the demo operators are made apart).
constexpr size_t kMinPasswordLength = 8;
// Creates the operator or replaces its name, password and branches.
void AddOperator(db::Connection& c, const NewOperator& op);

// Deactivates the operator and ends its sessions on every server at once;
// false when there is no such operator.
bool DeactivateOperator(db::Connection& c, const std::string& code);
// Ends every session of the operator (a new password, a deactivation).
void EndOperatorSessions(db::Connection& c, const std::string& code);
// The tables of sessions and failed logins, created when missing.
void EnsureSessionTables(db::Connection& c);

// Operators, and the sessions and failed logins every server on the database
// shares (sessions.cpp).
class OperatorStore : public contracts::OperatorStore, public contracts::SessionStore {
public:
  explicit OperatorStore(std::string connectionString) : pool_(std::move(connectionString)) {}
  std::optional<std::string> PasswordHash(const std::string& operatorCode) override;

  void CreateSession(const std::string& tokenHash, const std::string& operatorCode, int64_t nowMs, int64_t expiresMs,
                     size_t maxPerOperator) override;
  std::optional<std::string> TouchSession(const std::string& tokenHash, int64_t nowMs, int64_t timeoutMs) override;
  std::optional<std::string> EndSession(const std::string& tokenHash) override;
  Failures LoginFailures(const std::string& key) override;
  void RecordLoginFailure(const std::string& key, int64_t nowMs) override;
  void ClearLoginFailures(const std::string& key) override;
  bool Healthy() override;

private:
  template <class Fn>
  auto withConnection(Fn fn);
  ConnectionPool pool_;
};

// Which audit rows to list: a branch, and a reference day and/or one row
// (table and key as recorded) and field.
struct AuditFilter {
  std::string branch;
  std::optional<rtl::TDateTime> day;
  std::string table, key, field;
};
// The matching audit rows, oldest first, one per line.
void PrintAudit(db::Connection& c, const AuditFilter& f, std::ostream& out);

}  // namespace server
