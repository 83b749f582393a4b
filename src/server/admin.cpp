#include "server/admin.h"

#include <sodium.h>

#include <cmath>
#include <stdexcept>

#include "platform/rtl/format.h"
#include "platform/rtl/text.h"
#include "server/common.h"

namespace server {

namespace {
void InitSodium() {
  static const int ok = sodium_init();
  if (ok < 0) throw std::runtime_error("libsodium could not be initialised");
}
}  // namespace

std::string HashPassword(const std::string& password) {
  InitSodium();
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
    throw std::runtime_error("out of memory while hashing a password");
  return out;
}

bool VerifyPassword(const std::string& hash, const std::string& password) {
  InitSodium();
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

void AddOperator(db::Connection& c, const NewOperator& op) {
  if (op.code.empty() || op.code.size() > 3) throw rtl::Exception("Código do operador deve ter de 1 a 3 caracteres.");
  if (rtl::Utf8Length(op.password) < kMinPasswordLength)
    throw rtl::Exception("Senha do operador deve ter pelo menos " + std::to_string(kMinPasswordLength) + " caracteres.");
  std::string hash = HashPassword(op.password);
  db::Transaction t(c);
  db::Params p{{"P_OP", op.code}, {"P_NOME", op.name.empty() ? op.code : op.name}, {"P_HASH", hash},
               {"P_TODAS", op.allBranches ? "S" : "N"}};
  if (c.query("SELECT CDOPERADOR FROM OPERADOR WHERE CDOPERADOR = :P_OP", {{"P_OP", op.code}}).empty())
    c.exec("INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR, DSSENHAHASH, IDATIVO, IDTODASFILIAIS)"
           " VALUES (:P_OP, :P_NOME, :P_HASH, 'S', :P_TODAS)",
           p);
  else
  {
    c.exec("UPDATE OPERADOR SET NMOPERADOR = :P_NOME, DSSENHAHASH = :P_HASH, IDATIVO = 'S', IDTODASFILIAIS = :P_TODAS"
           " WHERE CDOPERADOR = :P_OP",
           p);
    // A new password ends the sessions opened with the old one.
    EndOperatorSessions(c, op.code);
  }
  c.exec("DELETE FROM OPERFILIAL WHERE CDOPERADOR = :P_OP", {{"P_OP", op.code}});
  for (const auto& b : op.branches) {
    if (c.query("SELECT CDFILIAL FROM FILIAL WHERE CDFILIAL = :P_FIL", {{"P_FIL", b}}).empty())
      throw rtl::Exception("Filial " + b + " não cadastrada.");
    c.exec("INSERT INTO OPERFILIAL (CDOPERADOR, CDFILIAL) VALUES (:P_OP, :P_FIL)", {{"P_OP", op.code}, {"P_FIL", b}});
  }
  t.commit();
}

void PrintAudit(db::Connection& c, const AuditFilter& f, std::ostream& out) {
  std::string sql =
      "SELECT DTHRAUDIT, CDOPERADOR, NMTABELA, DSCHAVE, NMCAMPO, VRANTERIOR, VRNOVO, NMMETODO FROM AUDITORIA"
      " WHERE CDFILIAL = :P_FIL";
  db::Params p{{"P_FIL", f.branch}};
  std::string title = "Auditoria da filial " + f.branch;
  if (f.day) {
    sql += " AND DTREFERENCIA = :P_DIA";
    p.set("P_DIA", Variant::FromDate(std::floor(*f.day)));
    title += ", dia " + DateText(*f.day);
  }
  auto narrow = [&](const std::string& value, const char* column, const char* param, const char* label) {
    if (value.empty()) return;
    sql += std::string(" AND ") + column + " = :" + param;
    p.set(param, value);
    title += std::string(", ") + label + " " + value;
  };
  narrow(f.table, "NMTABELA", "P_TAB", "tabela");
  narrow(f.key, "DSCHAVE", "P_CHAVE", "registro");
  narrow(f.field, "NMCAMPO", "P_CAMPO", "campo");
  auto r = c.query(sql + " ORDER BY NRAUDITORIA", p);
  out << title << ": " << r.size() << " alterações\n";
  for (const auto& row : r.rows) {
    std::string when;
    if (row[0].type() == rtl::VarType::DateTime)
      when = rtl::FormatDateTime("dd/mm/yyyy hh:nn:ss", row[0].toDateTime());
    else
      when = row[0].toString();
    auto val = [](const Variant& v) { return IsBlank(v) ? std::string("(vazio)") : v.toString(); };
    out << when << "  " << row[1].toString() << "  " << row[2].toString() << " " << row[3].toString() << "  "
        << row[4].toString() << ": " << val(row[5]) << " -> " << val(row[6]);
    if (!IsBlank(row[7])) out << "  (" << row[7].toString() << ")";
    out << "\n";
  }
}

}  // namespace server
