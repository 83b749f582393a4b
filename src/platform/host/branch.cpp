#include "branch.h"

#include "checks.h"
#include "context.h"
#include "platform/db/query.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/ui/stdctrls.h"

namespace host {

const char* const kFiliDeve = "Filial deve ser informada.";
const char* const kFiliNaoCad = "Filial não cadastrada.";
const char* const kFiliResc = "Filial com contrato rescindido.";
const char* const kFiliSemPermissao = "Operador %s sem permissão para a filial %s.";

std::string ValidaFilial(std::string_view code, std::string_view operador, bool checkRescinded,
                         db::Connection& conn) {
  std::string branch = rtl::Trim(code);
  if (branch.empty()) throw rtl::Exception(kFiliDeve);
  auto f = conn.query("SELECT NMFILIAL, IDCNTRRESC FROM FILIAL WHERE CDFILIAL = :P_CDFILIAL",
                      {{"P_CDFILIAL", rtl::Variant(branch)}});
  if (f.empty()) throw rtl::Exception(kFiliNaoCad);
  if (checkRescinded && f.at(0, "IDCNTRRESC").toString() == "S") throw rtl::Exception(kFiliResc);
  auto op = conn.query(
      "SELECT O.IDTODASFILIAIS, "
      "       (SELECT COUNT(*) FROM OPERFILIAL P WHERE P.CDOPERADOR = O.CDOPERADOR AND P.CDFILIAL = :P_CDFILIAL) AS QTFILIAL "
      "  FROM OPERADOR O WHERE O.CDOPERADOR = :P_CDOPERADOR AND O.IDATIVO = 'S'",
      {{"P_CDFILIAL", rtl::Variant(branch)}, {"P_CDOPERADOR", rtl::Variant(std::string(operador))}});
  bool allowed = !op.empty() && (op.at(0, "IDTODASFILIAIS").toString() == "S" || op.at(0, "QTFILIAL").toDouble() > 0);
  if (!allowed)
    throw rtl::Exception(rtl::Format(kFiliSemPermissao, {rtl::Variant(std::string(operador)), rtl::Variant(branch)}));
  return f.at(0, "NMFILIAL").toString();
}

std::string ValidaFilial(std::string_view code, std::string_view operador, bool checkRescinded) {
  return ValidaFilial(code, operador, checkRescinded, db::dtmDBGeral.Conn());
}

void ConfereFilial(ui::TCustomEdit& code, ui::TCustomEdit& name, bool checkRescinded) {
  try {
    code.SetText(Ajusta(code.Text(), 4));
    name.SetText(ValidaFilial(code.Text(), Operador(), checkRescinded));
  } catch (...) {
    if (code.Enabled() && code.CanFocus()) code.SetFocus();
    throw;
  }
}

rtl::TDateTime DataProcFromDatabase(const std::string& branch) {
  if (!db::dtmDBGeral.Connected()) return 0;
  auto r = db::dtmDBGeral.Conn().query("SELECT DTPROCES FROM FILIAL WHERE CDFILIAL = :P_CDFILIAL",
                                       {{"P_CDFILIAL", rtl::Variant(branch)}});
  if (r.empty()) return 0;
  return rtl::DateOf(r.rows[0][0].toDateTime());
}

void UseDatabaseForContext() {
  auto& ctx = Context();
  ctx.dataProc = DataProcFromDatabase;
  if (ctx.nomeFiliProc.empty() && !ctx.filiProc.empty() && db::dtmDBGeral.Connected()) {
    auto r = db::dtmDBGeral.Conn().query("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = :P_CDFILIAL",
                                         {{"P_CDFILIAL", rtl::Variant(ctx.filiProc)}});
    if (!r.empty()) ctx.nomeFiliProc = r.rows[0][0].toString();
  }
}

}  // namespace host
