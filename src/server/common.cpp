#include "server/common.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/rtl/text.h"
#include "server/schema.h"

namespace server {

void Refuse(const std::string& message) { throw Refusal(message); }

void NeedArgs(const VariantArray& a, size_t n, const char* method) {
  if (a.size() < n)
    Refuse(std::string("Chamada de ") + method + " com " + std::to_string(a.size()) + " argumentos; esperados " +
           std::to_string(n) + ".");
}

std::string ArgStr(const VariantArray& a, size_t i) {
  if (i >= a.size() || a[i].isNullOrEmpty()) return {};
  if (a[i].isArray() || a[i].isPacket()) Refuse("Argumento " + std::to_string(i + 1) + " deve ser um texto.");
  try {
    return a[i].toString();
  } catch (const rtl::Exception&) {  // a date-time beyond any calendar has no text
    Refuse("Argumento " + std::to_string(i + 1) + " deve ser um texto.");
  }
}

namespace {
// The days the calendar and the databases hold: 01/01/0001 to 31/12/9999.
bool InDateRange(double d) { return d >= -693593.0 && d < 2958466.0; }
}  // namespace

TDateTime ArgDate(const VariantArray& a, size_t i) {
  if (i >= a.size() || a[i].isNullOrEmpty()) Refuse("Data deve ser informada.");
  try {
    double d = a[i].toDateTime();
    if (!InDateRange(d)) throw rtl::EConvertError("out of range");
    return std::floor(d);
  } catch (const rtl::Exception&) {
    Refuse("Argumento " + std::to_string(i + 1) + " não é uma data válida.");
  }
}

bool IsBlank(const Variant& v) { return v.isNullOrEmpty() || (v.isString() && v.asStringRef().empty()); }

double Num(const Variant& v) {
  if (v.isNullOrEmpty()) return 0;
  try {
    return v.toDouble();
  } catch (const rtl::Exception&) {
    Refuse("Valor numérico inválido: " + v.toString());
  }
}

Variant DateVar(TDateTime d) { return Variant::FromDate(d); }

TDateTime DayOf(const Variant& v) {
  TDateTime d;
  if (!v.isString() || !db::ParseIsoDateTime(v.asStringRef(), d)) d = v.toDateTime();
  if (!InDateRange(d)) Refuse("Data fora do intervalo de 01/01/0001 a 31/12/9999.");
  return std::floor(d);
}

Variant NullableNum(const Variant& v) {
  if (v.isNullOrEmpty()) return Variant::Null();
  double d = Num(v);
  if (!std::isfinite(d)) Refuse("Valor numérico inválido.");
  return Variant(d);
}

bool SameValue(const Variant& a, const Variant& b) {
  bool ea = IsBlank(a), eb = IsBlank(b);
  if (ea || eb) return ea && eb;
  if (a.type() == rtl::VarType::DateTime || b.type() == rtl::VarType::DateTime) {
    try {
      return std::floor(a.toDateTime()) == std::floor(b.toDateTime());
    } catch (const rtl::Exception&) {
      return false;
    }
  }
  if (a.isNumeric() || b.isNumeric()) {
    try {
      return a.toDouble() == b.toDouble();
    } catch (const rtl::Exception&) {
      return false;
    }
  }
  return a.toString() == b.toString();
}

double Finite(double v, const std::string& what) {
  if (!std::isfinite(v)) Refuse(what + " excede o maior valor numérico aceito. Nada foi gravado.");
  return v;
}

void CheckTextSize(const Variant& v, size_t max, const std::string& field) {
  if (IsBlank(v)) return;
  if (rtl::Utf8Length(v.toString()) > max)  // characters, as VARCHAR(n) counts them
    Refuse(field + " deve ter no máximo " + std::to_string(max) + " caracteres.");
}

std::string DateText(TDateTime d) {
  auto p = rtl::DecodeDate(d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", p.day, p.month, p.year);
  return buf;
}

std::string AuditText(const Variant& v) {
  if (IsBlank(v)) return {};
  if (v.type() == rtl::VarType::DateTime) return DateText(v.toDateTime());
  if (v.isNumeric()) return rtl::FloatToStr(v.toDouble());
  return v.toString();
}

// ---- Permissions

void CheckBranch(Call& k, const std::string& branch) {
  if (k.branchForLog.empty()) k.branchForLog = branch;
  if (k.allowed.count(branch)) return;
  if (branch.empty()) Refuse("Filial deve ser informada.");
  if (k.op.empty()) Refuse("Operador não identificado.");
  // The branch, its contract flag and the operator's permission in one statement.
  auto r = k.c.query(
      "SELECT F.IDCNTRRESC, O.CDOPERADOR, O.IDTODASFILIAIS, OFI.CDFILIAL FROM FILIAL F "
      "LEFT JOIN OPERADOR O ON O.CDOPERADOR = :P_CDOPERADOR AND O.IDATIVO = 'S' "
      "LEFT JOIN OPERFILIAL OFI ON OFI.CDOPERADOR = O.CDOPERADOR AND OFI.CDFILIAL = F.CDFILIAL "
      "WHERE F.CDFILIAL = :P_CDFILIAL",
      {{"P_CDFILIAL", branch}, {"P_CDOPERADOR", k.op}});
  if (r.empty()) Refuse("Filial não cadastrada.");
  const auto& row = r.rows[0];
  if (row[1].isNullOrEmpty()) Refuse("Operador " + k.op + " não cadastrado ou inativo.");
  if (row[2].toString() != "S" && row[3].isNullOrEmpty())
    Refuse("Operador " + k.op + " sem permissão para a filial " + branch + ".");
  k.allowed.insert(branch);
  if (row[0].toString() == "S") k.rescinded.insert(branch);
}

void CheckWritable(Call& k, const std::string& branch) {
  CheckBranch(k, branch);
  if (k.rescinded.count(branch)) Refuse("Filial com contrato rescindido.");
}

// ---- Parameters

PlanParams LoadPlanParams(Call& k, const std::string& branch) {
  PlanParams p;
  auto r = k.c.query(
      "SELECT IDBLQEFEDIAFECH, IDPERLEFESRETPLA, NRDIAANTDTPROC, IDPEREFEPOSDTPR FROM PARAMPLANEJA "
      "WHERE CDFILIAL = :P_CDFILIAL",
      {{"P_CDFILIAL", branch}});
  if (!r.empty()) {
    p.closedDayFlag = r.rows[0][0].toString();
    p.allowNoWithdrawal = r.rows[0][1].toString();
    p.daysBefore = Num(r.rows[0][2]);
    p.allowAfterProc = r.rows[0][3].toString();
  }
  return p;
}

BranchParams LoadBranchParams(Call& k, const std::string& branch) {
  BranchParams p;
  auto r = k.c.query("SELECT IDUTEFETPLA, IDCOPALTEFEPLA FROM PARAMFILIAL WHERE CDFILIAL = :P_CDFILIAL",
                     {{"P_CDFILIAL", branch}});
  if (!r.empty()) {
    p.useFlag = r.rows[0][0].toString();
    p.copyFlag = r.rows[0][1].toString();
  }
  return p;
}

TDateTime ProcessingDate(Call& k, const std::string& branch) {
  auto r = k.c.query("SELECT DTPROCES FROM FILIAL WHERE CDFILIAL = :P_CDFILIAL", {{"P_CDFILIAL", branch}});
  if (r.empty()) Refuse("Filial não cadastrada.");
  return std::floor(r.rows[0][0].toDateTime());
}

bool IsClosedDay(Call& k, const std::string& branch, TDateTime day) {
  PlanParams p = LoadPlanParams(k, branch);
  if (p.closedDayFlag != "S") return false;
  return day < ProcessingDate(k, branch) - p.daysBefore;
}

void RefuseClosedDay(Call& k, const std::string& branch, TDateTime day) {
  if (IsClosedDay(k, branch, day)) Refuse("Dia fechado para alteração de efetivos (" + DateText(day) + ").");
}

void RefuseClosedDay(const PlanParams& p, TDateTime processing, TDateTime day) {
  if (p.closedDayFlag == "S" && day < processing - p.daysBefore)
    Refuse("Dia fechado para alteração de efetivos (" + DateText(day) + ").");
}

// ---- Settlements

std::string SettlementOf(Call& k, const std::string& branch, const std::string& client, TDateTime day) {
  auto r = k.c.query(
      "SELECT NRAPURACFAT FROM APURACAO WHERE CDFILIAL = :P_CDFILIAL AND CDCLIENTE = :P_CDCLIENTE "
      "AND DTINIAPURAC <= :P_DIA AND DTFIMAPURAC >= :P_DIA ORDER BY NRAPURACFAT",
      {{"P_CDFILIAL", branch}, {"P_CDCLIENTE", client}, {"P_DIA", DateVar(day)}});
  return r.empty() ? std::string() : r.rows[0][0].toString();
}

bool ServiceSettled(Call& k, const std::string& branch, const std::string& service, TDateTime day) {
  auto r = k.c.query(
      "SELECT A.NRAPURACFAT FROM SERVFATU S "
      "JOIN SERVFATUCLIE C ON C.CDFILIAL = S.CDFILIAL AND C.CDSERVICFATURAM = S.CDSERVICFATURAM "
      "JOIN APURACAO A ON A.CDFILIAL = C.CDFILIAL AND A.CDCLIENTE = C.CDCLIENTE "
      "WHERE S.CDFILIAL = :P_CDFILIAL AND S.CDSERVFILI = :P_CDSERVFILI "
      "AND A.DTINIAPURAC <= :P_DIA AND A.DTFIMAPURAC >= :P_DIA",
      {{"P_CDFILIAL", branch}, {"P_CDSERVFILI", service}, {"P_DIA", DateVar(day)}});
  return !r.empty();
}

// ---- Deltas

int DeltaRow::index(const std::string& name) const {
  for (size_t i = 0; i < names.size(); ++i)
    if (db::EqualsIgnoreCase(names[i], name)) return static_cast<int>(i);
  return -1;
}

const Variant& DeltaRow::New(const std::string& name) const {
  int i = index(name);
  if (i < 0) Refuse("Pacote de alterações sem o campo " + name + ".");
  return now[i];
}

const Variant& DeltaRow::Old(const std::string& name) const {
  int i = index(name);
  if (i < 0) Refuse("Pacote de alterações sem o campo " + name + ".");
  return old[i];
}

bool DeltaRow::Changed(const std::string& name) const {
  int i = index(name);
  return i >= 0 && !SameValue(now[i], old[i]);
}

std::vector<DeltaRow> ReadDelta(const Variant& v, const char* what, const std::function<size_t()>& maxRowsOf) {
  std::vector<DeltaRow> rows;
  if (v.isNullOrEmpty()) return rows;
  if (!v.isPacket()) Refuse(std::string("Alterações de ") + what + " não vieram num pacote de dados.");
  try {
    data::PacketReader r(v.asPacket());
    if (r.Kind() != data::PacketKind::Delta)
      Refuse(std::string("Alterações de ") + what + " devem vir num pacote de alterações, não nos dados lidos.");
    const size_t maxRows = maxRowsOf();
    std::vector<std::string> names;
    for (const auto& d : r.FieldDefs()) names.push_back(d.Name);
    while (r.Next()) {
      if (r.Status() == data::TUpdateStatus::Unmodified) continue;  // no change: nothing to write
      if (rows.size() >= maxRows)
        Refuse(std::string("Pacote de alterações de ") + what + " com mais linhas do que os dados lidos podem ter.");
      DeltaRow row;
      row.status = r.Status();
      row.number = r.RowNumber();
      row.names = names;
      row.now = r.Values();
      row.old = r.OldValues();
      if (row.old.size() != row.now.size()) row.old.assign(row.now.size(), Variant::Null());
      // Any double travels as a date; one beyond the calendar has no text and no SQL form.
      for (const auto* values : {&row.now, &row.old})
        for (size_t i = 0; i < values->size() && i < names.size(); ++i)
          if ((*values)[i].type() == rtl::VarType::DateTime && !InDateRange((*values)[i].toDateTime()))
            Refuse(std::string("Pacote de alterações de ") + what + " inválido: linha " + std::to_string(row.number) +
                   ", campo " + names[i] + " com data fora do intervalo de 01/01/0001 a 31/12/9999.");
      rows.push_back(std::move(row));
    }
  } catch (const rtl::EDatabaseError& e) {
    Refuse(std::string("Pacote de alterações de ") + what + " inválido: " + e.what());
  }
  return rows;
}

size_t RowsAllowed(Call& k, const std::string& countSql, const db::Params& params) {
  auto r = k.c.query(countSql, params);
  return r.empty() ? 0 : static_cast<size_t>(std::max<int64_t>(0, r.rows[0][0].toInt()));
}

void KeepChanging(std::vector<DeltaRow>& rows, const std::vector<std::string>& fields) {
  std::erase_if(rows, [&](const DeltaRow& row) {
    if (row.status != data::TUpdateStatus::Modified) return false;
    for (const auto& f : fields)
      if (row.Changed(f)) return false;
    return true;
  });
}

void CheckEditOnly(const std::vector<DeltaRow>& rows, const std::set<std::string>& editable) {
  for (const auto& row : rows) {
    if (row.status == data::TUpdateStatus::Inserted) Refuse("Inclusão de registros não permitida.");
    if (row.status == data::TUpdateStatus::Deleted) Refuse("Exclusão de registros não permitida.");
    for (size_t i = 0; i < row.names.size(); ++i) {
      if (SameValue(row.now[i], row.old[i])) continue;
      bool ok = false;
      for (const auto& e : editable)
        if (db::EqualsIgnoreCase(e, row.names[i])) ok = true;
      if (!ok) Refuse("O campo " + row.names[i] + " não pode ser alterado.");
    }
  }
}

void RefuseStale(const std::string& what) {
  Refuse("Registro alterado por outro usuário desde a leitura (" + what + "). Recarregue os dados.");
}

void CheckOriginal(const DeltaRow& row, const db::Result& stored, const std::vector<std::string>& fields,
                   const std::string& what) {
  for (const auto& f : fields) {
    const Variant& old = row.Old(f);
    const Variant& cur = stored.empty() ? rtl::NullVariant() : stored.at(0, f);
    if (!SameValue(old, cur)) RefuseStale(what);
  }
}

int64_t NextNumber(db::Connection& c, const std::string& counter) {
  if (c.exec("UPDATE NUMERADOR SET NRULTIMO = NRULTIMO + 1 WHERE NMNUMERADOR = :P_NOME", {{"P_NOME", counter}}) != 1)
    throw std::logic_error("counter " + counter + " missing");
  return c.query("SELECT NRULTIMO FROM NUMERADOR WHERE NMNUMERADOR = :P_NOME", {{"P_NOME", counter}}).rows[0][0].toInt();
}

// ---- Consolidation stamp

namespace {

std::string Digest(Call& k, const std::string& branch, const std::string& service, TDateTime first, TDateTime last,
                   bool lock) {
  auto r = k.c.query(std::string("SELECT DTCARDAPIO, CDCLIENTE, QTEFETFAT FROM EFETCONSOL WHERE CDFILIAL = :P_CDFILIAL"
                                 " AND CDSERVFILI = :P_SERV AND DTCARDAPIO >= :P_INI AND DTCARDAPIO <= :P_FIM"
                                 " ORDER BY DTCARDAPIO, CDCLIENTE") +
                         (lock ? ForUpdate(k.c) : ""),
                     {{"P_CDFILIAL", branch}, {"P_SERV", service}, {"P_INI", DateVar(first)}, {"P_FIM", DateVar(last)}});
  // FNV-1a over the rows' texts: it tells a change, it guards no secret.
  uint64_t h = 14695981039346656037ull;
  auto add = [&](const std::string& text) {
    for (unsigned char c : text + '\x1f') h = (h ^ c) * 1099511628211ull;
  };
  for (const auto& row : r.rows) {
    add(DateText(DayOf(row[0])));
    add(row[1].toString());
    char qt[32];
    std::snprintf(qt, sizeof qt, "%.17g", Num(row[2]));
    add(qt);
  }
  char out[40];
  std::snprintf(out, sizeof out, "%zu:%016llx", r.size(), static_cast<unsigned long long>(h));
  return out;
}

}  // namespace

std::string ConsolStamp(Call& k, const std::string& branch, const std::string& service, TDateTime first,
                        TDateTime last) {
  return db::FormatIsoDateTime(first) + "/" + db::FormatIsoDateTime(last) + "/" +
         Digest(k, branch, service, first, last, false);
}

void CheckConsolStamp(Call& k, const std::string& branch, const std::string& service, const std::string& stamp) {
  size_t a = stamp.find('/'), b = a == std::string::npos ? a : stamp.find('/', a + 1);
  TDateTime first = 0, last = 0;
  if (b == std::string::npos || !db::ParseIsoDateTime(stamp.substr(0, a), first) ||
      !db::ParseIsoDateTime(stamp.substr(a + 1, b - a - 1), last) || last < first)
    Refuse("Marca de leitura dos efetivos consolidados inválida. Recarregue os dados.");
  if (Digest(k, branch, service, first, last, true) != stamp.substr(b + 1))
    RefuseStale("EFETCONSOL " + branch + "/" + service + " de " + DateText(first) + " a " + DateText(last));
}

// ---- Audit

void Audit(Call& k, const std::string& branch, TDateTime day, const std::string& table, const std::string& key,
           const std::string& field, const Variant& before, const Variant& after) {
  if (SameValue(before, after)) return;
  k.c.exec(
      "INSERT INTO AUDITORIA (DTHRAUDIT, CDOPERADOR, CDFILIAL, DTREFERENCIA, NMTABELA, DSCHAVE, NMCAMPO, "
      "VRANTERIOR, VRNOVO, NMMETODO) VALUES (:P_DTHR, :P_OP, :P_FIL, :P_DIA, :P_TAB, :P_CHAVE, :P_CAMPO, :P_ANT, "
      ":P_NOVO, :P_METODO)",
      {{"P_DTHR", Variant::FromDate(rtl::Now())},
       {"P_OP", k.op},
       {"P_FIL", branch},
       {"P_DIA", DateVar(day)},
       {"P_TAB", table},
       {"P_CHAVE", key},
       {"P_CAMPO", field},
       {"P_ANT", IsBlank(before) ? Variant::Null() : Variant(AuditText(before))},
       {"P_NOVO", IsBlank(after) ? Variant::Null() : Variant(AuditText(after))},
       {"P_METODO", k.method.empty() ? Variant::Null() : Variant(k.method)}});
}

}  // namespace server
