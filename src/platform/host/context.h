#pragma once
// The operator context the host sets up at start: processing branch, module
// binding, operator, application-server address. Read from the workstation's
// configuration file and the branch database, never compiled in.

#include <functional>
#include <map>
#include <string>

#include "platform/rtl/datetime.h"

namespace host {

struct OperatorContext {
  std::string filiProc;      // processing branch
  std::string nomeFiliProc;  // its name
  bool moduFili = false;     // module bound to the processing branch
  std::string operador;      // logged-in operator
  std::string webURL = "127.0.0.1";
  int webPort = 8211;
  int moduloAtiv = 0;
  // Processing date of a branch; the host wires it to the branch database.
  std::function<rtl::TDateTime(const std::string& branch)> dataProc;
};

OperatorContext& Context();

// Reads "key=value" lines (blank lines and lines starting with # or ; are
// skipped): FiliProc, NomeFiliProc, ModuFili (S/N), Operador, WebURL, WebPort,
// ModuloAtiv. Unknown keys are kept in extra. Returns false when the file
// cannot be read; a malformed number raises rtl::Exception naming the line.
bool LoadContextFile(const std::string& path, OperatorContext& ctx,
                     std::map<std::string, std::string>* extra = nullptr);

std::string FiliProc();
std::string NomeFiliProc();
bool ModuFili();
// 0 when no provider is wired or the branch is unknown.
rtl::TDateTime DataProc(const std::string& branch);
std::string Operador();
std::string WebURL();
int WebPort();
int ModuloAtiv();

}  // namespace host
