#pragma once
// Operators, their password hashes and branches; the audit listing.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "contracts/remote.h"
#include "platform/db/connection.h"
#include "platform/rtl/datetime.h"

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

class OperatorStore : public contracts::OperatorStore {
public:
  explicit OperatorStore(std::string connectionString) : cs_(std::move(connectionString)) {}
  std::optional<std::string> PasswordHash(const std::string& operatorCode) override;

private:
  std::string cs_;
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
