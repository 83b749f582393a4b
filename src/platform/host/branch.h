#pragma once
// Branch checks against the branch database (dtmDBGeral).

#include <string>
#include <string_view>

#include "platform/rtl/datetime.h"

namespace db {
class Connection;
}
namespace ui {
class TCustomEdit;
}

namespace host {

// The name of an existing branch that the operator may use. Raises
// rtl::Exception with its own message for an empty code, an unknown branch, a
// rescinded contract or an operator without permission. checkRescinded false
// lets a rescinded branch through (it can still be looked at; the server
// refuses writes to it).
std::string ValidaFilial(std::string_view code, std::string_view operador, bool checkRescinded);
std::string ValidaFilial(std::string_view code, std::string_view operador, bool checkRescinded, db::Connection& conn);

// The branch code typed in a header field: padded to 4 digits, checked with
// ValidaFilial and its name shown in name. A refused code raises with the
// focus back on the field (when it can take it), so the user stays on it.
void ConfereFilial(ui::TCustomEdit& code, ui::TCustomEdit& name, bool checkRescinded);

// Processing date of a branch from FILIAL; 0 for an unknown branch.
rtl::TDateTime DataProcFromDatabase(const std::string& branch);

// Wires DataProc() and the processing branch's name to dtmDBGeral.
void UseDatabaseForContext();

extern const char* const kFiliDeve;
extern const char* const kFiliNaoCad;
extern const char* const kFiliResc;
extern const char* const kFiliSemPermissao;  // %s: operator, branch

}  // namespace host
