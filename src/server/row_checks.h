#pragma once
// What the write methods check on each row of a delta before they store it:
// its keys (never changed by the row), that it belongs to the call's branch
// and day, signs, and the billed services and clients it names. Each check
// refuses the whole request (Refusal) on the first row that fails it.

#include <string>

#include "server/common.h"

namespace server::methods {

// The key value of a delta row: the original, or the new one when the row was
// offered without it. A key that the row changes is refused.
Variant KeyOf(const DeltaRow& row, const std::string& field);
std::string KeyStr(const DeltaRow& row, const std::string& field);

void SameBranch(const std::string& rowBranch, const std::string& branch);
void SameDay(const Variant& v, TDateTime day);
// Null stays Null; a number below zero is refused with `message`.
Variant NonNegative(const Variant& v, const char* message);
Variant AsInt(const Variant& v);

// The planned service of a billed service and whether its sale value may
// change per day (IDVLRVARDATA).
struct Billed {
  std::string planned, variableValue;
};
Billed BilledOf(Call& k, const std::string& branch, const std::string& billed);
// The client is served by the billed service.
void CheckMember(Call& k, const std::string& branch, const std::string& billed, const std::string& client);

}  // namespace server::methods
