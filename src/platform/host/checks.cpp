#include "checks.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"

namespace host {

const char* const kSemResposta = "Sem resposta do servidor de aplicação.";

std::string Ajusta(std::string_view text, size_t n) {
  std::string t = rtl::Trim(text);
  if (t.empty()) return t;
  size_t len = rtl::Utf8Length(t);
  if (len >= n) return t;
  return std::string(n - len, '0') + t;
}

bool EmptyString(std::string_view text) { return rtl::Trim(text).empty(); }

double RoundDec(double value, int n) {
  if (!std::isfinite(value)) return value;
  // Reading the value back from 15 significant digits removes the binary
  // noise (2.675 is stored as 2.67499999...), then the half is rounded away.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  double clean = std::strtod(buf, nullptr);
  double scale = std::pow(10.0, n);
  double scaled = clean * scale;
  std::snprintf(buf, sizeof buf, "%.15g", scaled);
  scaled = std::strtod(buf, nullptr);
  double r = std::floor(std::fabs(scaled) + 0.5);
  return std::copysign(r / scale, value) + 0.0;  // no negative zero
}

std::string NomeSemana(rtl::TDateTime date) {
  static const char* const names[7] = {"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado"};
  if (date == 0) return {};
  return names[rtl::DayOfWeek(date) - 1];
}

std::string PictPess(std::string_view personType) {
  std::string t = rtl::UpperCase(rtl::Trim(personType));
  if (t == "F") return "999.999.999-99;0;_";
  if (t == "J") return "99.999.999/9999-99;0;_";
  return {};
}

rtl::Variant CheckResultServ(const rtl::Variant& result, bool raise, int index) {
  const size_t status = static_cast<size_t>(index < 0 ? 0 : index);
  if (!result.isArray() || result.size() < status + 2 || result[status].type() != rtl::VarType::Boolean) {
    if (raise) throw rtl::Exception(kSemResposta);
    return rtl::Variant();
  }
  if (result[status].toBool()) return result[status + 1];
  if (raise) {
    std::string message = result[status + 1].toString();
    throw rtl::Exception(message.empty() ? std::string(kSemResposta) : message);
  }
  return rtl::Variant();
}

}  // namespace host
