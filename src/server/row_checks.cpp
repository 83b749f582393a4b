#include "server/row_checks.h"

#include "platform/rtl/exceptions.h"

namespace server::methods {

Variant KeyOf(const DeltaRow& row, const std::string& field) {
  const Variant& o = row.Old(field);
  const Variant& n = row.New(field);
  if (!IsBlank(o) && !SameValue(o, n)) Refuse("O campo " + field + " não pode ser alterado.");
  return IsBlank(o) ? n : o;
}

std::string KeyStr(const DeltaRow& row, const std::string& field) {
  Variant v = KeyOf(row, field);
  try {
    return v.toString();
  } catch (const rtl::Exception&) {  // a date-time beyond any calendar
    Refuse("Campo " + field + " com valor inválido.");
  }
}

void SameBranch(const std::string& rowBranch, const std::string& branch) {
  if (rowBranch != branch)
    Refuse("Registro da filial " + rowBranch + " enviado numa alteração da filial " + branch + ".");
}

void SameDay(const Variant& v, TDateTime day) {
  if (IsBlank(v) || DayOf(v) != day) Refuse("Registro de outro dia enviado numa alteração do dia " + DateText(day) + ".");
}

Variant NonNegative(const Variant& v, const char* message) {
  Variant n = NullableNum(v);
  if (!n.isNull() && n.toDouble() < 0) Refuse(message);
  return n;
}

Variant AsInt(const Variant& v) { return Variant(static_cast<int64_t>(Num(v))); }

Billed BilledOf(Call& k, const std::string& branch, const std::string& billed) {
  auto r = k.c.query("SELECT CDSERVFILI, IDVLRVARDATA FROM SERVFATU WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT",
                     {{"P_CDFILIAL", branch}, {"P_FAT", billed}});
  if (r.empty()) Refuse("Serviço de faturamento " + billed + " não cadastrado na filial " + branch + ".");
  return {r.rows[0][0].toString(), r.rows[0][1].toString()};
}

void CheckMember(Call& k, const std::string& branch, const std::string& billed, const std::string& client) {
  auto r = k.c.query(
      "SELECT CDCLIENTE FROM SERVFATUCLIE WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT AND CDCLIENTE = :P_CLI",
      {{"P_CDFILIAL", branch}, {"P_FAT", billed}, {"P_CLI", client}});
  if (r.empty()) Refuse("Cliente " + client + " não pertence ao serviço de faturamento " + billed + ".");
}

}  // namespace server::methods
