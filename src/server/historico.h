#pragma once
// rdmHistorico: the remote module of the additions around the headcount
// screens (value histories, the month at a glance, turnstile imports). It runs
// on the same server, with the same session and branch permissions as
// rdmMediEfetivos, and only reads: imports are written through SetEfetCat.

#include <string>
#include <vector>

#include "contracts/remote.h"
#include "server/module.h"

namespace server {

class Historico : public contracts::RemoteModule {
public:
  // Shares the connections of the headcount module (one schema, one pool).
  explicit Historico(MediEfetivos& main) : pool_(main.pool()) {}

  std::string ServerName() const override { return "Pla01000.rdmHistorico"; }
  std::vector<std::string> Methods() const override;
  rtl::Variant Call(const std::string& method, rtl::VariantArray& args, const contracts::CallContext& ctx) override;

private:
  ConnectionPool& pool_;
};

// The audit table and key under which a data set's row is recorded, for the
// fields of it that have a history; false for a data set or field without one.
struct AuditTarget {
  std::string table, key, dayField;
};
bool AuditTargetOf(const std::string& dataSet, const std::string& field,
                   const std::vector<std::pair<std::string, rtl::Variant>>& row, AuditTarget& out);

}  // namespace server
