#pragma once
// What every method of the module needs: the call's connection and operator,
// argument readers, refusals, permissions, parameters, the closed-day and
// settlement rules, delta rows and the audit trail.

#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/data/packet.h"
#include "platform/db/connection.h"
#include "platform/rtl/variant.h"

namespace server {

using rtl::TDateTime;
using rtl::Variant;
using rtl::VariantArray;

// A request refused with a message the screen shows. Thrown inside a method,
// it rolls the transaction back.
class Refusal : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};
[[noreturn]] void Refuse(const std::string& message);

// One call: its own connection (never shared across threads) and operator.
struct Call {
  db::Connection& c;
  std::string op;
  std::string branchForLog;
  std::set<std::string> allowed;  // branches already checked in this call
  std::set<std::string> rescinded;  // of those, the ones whose contract is rescinded
  std::string method;  // recorded in the audit trail beside each change
};

// ---- Arguments
std::string ArgStr(const VariantArray& a, size_t i);
TDateTime ArgDate(const VariantArray& a, size_t i);
void NeedArgs(const VariantArray& a, size_t n, const char* method);

// ---- Values
bool IsBlank(const Variant& v);
double Num(const Variant& v);  // Null/Empty read as 0
Variant DateVar(TDateTime d);
// The day of a stored date (a date variant, or ISO text from an untyped column).
TDateTime DayOf(const Variant& v);
Variant NullableNum(const Variant& v);  // Null stays Null, a number becomes a double
// Equal as stored values: both empty, or the same number, text or date.
bool SameValue(const Variant& a, const Variant& b);
std::string AuditText(const Variant& v);
// A sum or difference the server computes: a result beyond the doubles
// (1e308 + 1e308) is refused, never stored as Infinity.
double Finite(double v, const std::string& what);
// A text longer than its column is refused before the database sees it.
void CheckTextSize(const Variant& v, size_t max, const std::string& field);
std::string DateText(TDateTime d);  // dd/mm/yyyy

// ---- Permissions: the operator may use the branch, which exists; a write also
// needs a branch whose contract is not rescinded.
void CheckBranch(Call& k, const std::string& branch);
void CheckWritable(Call& k, const std::string& branch);

// ---- Parameters
struct PlanParams {
  std::string closedDayFlag = "N";    // IDBLQEFEDIAFECH
  std::string allowNoWithdrawal = "N";  // IDPERLEFESRETPLA
  double daysBefore = 0;              // NRDIAANTDTPROC
  std::string allowAfterProc = "N";   // IDPEREFEPOSDTPR
};
PlanParams LoadPlanParams(Call& k, const std::string& branch);
struct BranchParams {
  std::string useFlag = "N";   // IDUTEFETPLA
  std::string copyFlag = "N";  // IDCOPALTEFEPLA
  bool closedClientRule() const { return useFlag == "S" || copyFlag == "S"; }
};
BranchParams LoadBranchParams(Call& k, const std::string& branch);
TDateTime ProcessingDate(Call& k, const std::string& branch);
bool IsClosedDay(Call& k, const std::string& branch, TDateTime day);
void RefuseClosedDay(Call& k, const std::string& branch, TDateTime day);
// The same with the parameters and processing date the caller has already read.
void RefuseClosedDay(const PlanParams& p, TDateTime processing, TDateTime day);

// ---- Settlements
// The settlement number covering the client's day, or "".
std::string SettlementOf(Call& k, const std::string& branch, const std::string& client, TDateTime day);
// Some client of a billed service of the planned service is settled on the day.
bool ServiceSettled(Call& k, const std::string& branch, const std::string& service, TDateTime day);

// ---- Deltas
struct DeltaRow {
  data::TUpdateStatus status;
  size_t number;
  std::vector<std::string> names;
  std::vector<Variant> now, old;
  int index(const std::string& name) const;
  bool has(const std::string& name) const { return index(name) >= 0; }
  const Variant& New(const std::string& name) const;
  const Variant& Old(const std::string& name) const;
  // Changed and actually different from the original value.
  bool Changed(const std::string& name) const;
};
// A Null or Empty argument is no delta at all; anything else must be a delta
// packet (a data packet, the read sent back, is refused) of at most maxRows()
// rows: what the read it came from can hold, asked only when there is a
// packet. Reading stops at the first row beyond, before anything is locked.
std::vector<DeltaRow> ReadDelta(const Variant& v, const char* what, const std::function<size_t()>& maxRows);
// The value of a COUNT(*) query: the rows a read can return, the bound of its delta.
size_t RowsAllowed(Call& k, const std::string& countSql, const db::Params& params);
// Drops the rows that change none of `fields`: they are neither written nor stamped.
void KeepChanging(std::vector<DeltaRow>& rows, const std::vector<std::string>& fields);
// Refuses inserted and deleted rows and changes to fields outside `editable`.
void CheckEditOnly(const std::vector<DeltaRow>& rows, const std::set<std::string>& editable);
// The original value of each field must equal the stored one.
void CheckOriginal(const DeltaRow& row, const db::Result& stored, const std::vector<std::string>& fields,
                   const std::string& what);
[[noreturn]] void RefuseStale(const std::string& what);

// The next number of a counter of NUMERADOR; the update locks the counter until
// the transaction ends.
int64_t NextNumber(db::Connection& c, const std::string& counter);

// ---- Consolidation: what a read of a period saw of the stored split, so that
// a consolidation made from it is refused once another one was stored since.
// The text carries the period and a digest of its EFETCONSOL rows.
std::string ConsolStamp(Call& k, const std::string& branch, const std::string& service, TDateTime first,
                        TDateTime last);
// Refuses, as a change by another user, when the period of `stamp` holds
// other rows than it saw; locks them on PostgreSQL until the transaction ends.
void CheckConsolStamp(Call& k, const std::string& branch, const std::string& service, const std::string& stamp);

// ---- Audit: one row per changed field, in the caller's transaction.
void Audit(Call& k, const std::string& branch, TDateTime day, const std::string& table, const std::string& key,
           const std::string& field, const Variant& before, const Variant& after);

}  // namespace server
