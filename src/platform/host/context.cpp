#include "context.h"

#include <fstream>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"

namespace host {

OperatorContext& Context() {
  static OperatorContext ctx;
  return ctx;
}

bool LoadContextFile(const std::string& path, OperatorContext& ctx, std::map<std::string, std::string>* extra) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  int number = 0;
  auto toInt = [&](const std::string& v) {
    long long i;
    if (!rtl::TryStrToInt(v, i)) throw rtl::Exception(path + ":" + std::to_string(number) + ": número inválido '" + v + "'");
    return static_cast<int>(i);
  };
  while (std::getline(in, line)) {
    ++number;
    std::string t = rtl::Trim(line);
    if (t.empty() || t[0] == '#' || t[0] == ';' || t[0] == '[') continue;
    auto eq = t.find('=');
    if (eq == std::string::npos) continue;
    std::string key = rtl::Trim(t.substr(0, eq));
    std::string value = rtl::Trim(t.substr(eq + 1));
    if (rtl::SameText(key, "FiliProc")) ctx.filiProc = value;
    else if (rtl::SameText(key, "NomeFiliProc")) ctx.nomeFiliProc = value;
    else if (rtl::SameText(key, "ModuFili")) ctx.moduFili = rtl::SameText(value, "S") || rtl::SameText(value, "true") || value == "1";
    else if (rtl::SameText(key, "Operador")) ctx.operador = value;
    else if (rtl::SameText(key, "WebURL")) ctx.webURL = value;
    else if (rtl::SameText(key, "WebPort")) ctx.webPort = toInt(value);
    else if (rtl::SameText(key, "ModuloAtiv")) ctx.moduloAtiv = toInt(value);
    else if (extra) (*extra)[key] = value;
  }
  return true;
}

std::string FiliProc() { return Context().filiProc; }
std::string NomeFiliProc() { return Context().nomeFiliProc; }
bool ModuFili() { return Context().moduFili; }
rtl::TDateTime DataProc(const std::string& branch) {
  const auto& f = Context().dataProc;
  return f ? f(branch) : 0.0;
}
std::string Operador() { return Context().operador; }
std::string WebURL() { return Context().webURL; }
int WebPort() { return Context().webPort; }
int ModuloAtiv() { return Context().moduloAtiv; }

}  // namespace host
