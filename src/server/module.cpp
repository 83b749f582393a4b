#include "server/module.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>

#include "contracts/result.h"
#include "platform/rtl/text.h"
#include "server/methods.h"
#include "server/schema.h"

namespace server {

// ---- Pool

ConnectionPool::ConnectionPool(std::string cs) : cs_(std::move(cs)) {}
ConnectionPool::~ConnectionPool() = default;

ConnectionPool::Lease::~Lease() {
  if (!c_ || !pool_) return;
  if (broken_ || c_->inTransaction()) return;  // dropped: never hand on a connection in doubt
  std::lock_guard<std::mutex> g(pool_->m_);
  pool_->free_.push_back(std::move(c_));
}

ConnectionPool::Lease ConnectionPool::Acquire() {
  {
    std::lock_guard<std::mutex> g(m_);
    if (!free_.empty()) {
      auto c = std::move(free_.back());
      free_.pop_back();
      return Lease(*this, std::move(c));
    }
  }
  return Lease(*this, db::Open(cs_));
}

size_t ConnectionPool::idle() const {
  std::lock_guard<std::mutex> g(m_);
  return free_.size();
}

// ---- Module

namespace {

using Fn = Variant (*)(Call&, VariantArray&);

// Methods that only read run their statements in one snapshot (see
// db::Connection::beginRead); the writes open their own transactions.
struct Entry {
  std::string name;
  Fn fn;
  bool readOnly;
};

const std::vector<Entry>& Table() {
  static const std::vector<Entry> t{
      {"GetParamGeral", methods::GetParamGeral, true},       {"GetParamPlaneja", methods::GetParamPlaneja, true},
      {"GetCardaDia", methods::GetCardaDia, true},           {"GetDtCardapio", methods::GetDtCardapio, true},
      {"PostCard", methods::PostCard, false},                {"GetComensais", methods::GetComensais, true},
      {"UpdPratoCard", methods::UpdPratoCard, false},        {"GetServiFat", methods::GetServiFat, true},
      {"GetServCli", methods::GetServCli, true},             {"GetEfetCatraca", methods::GetEfetCatraca, true},
      {"SetEfetCat", methods::SetEfetCat, false},            {"GetTurnoCliente", methods::GetTurnoCliente, true},
      {"SetTurnoCliente", methods::SetTurnoCliente, false},  {"UpdEfetClie", methods::UpdEfetClie, false},
      {"GetItemRatEfet", methods::GetItemRatEfet, true},     {"VerificaEfetFat", methods::VerificaEfetFat, true},
      {"Vd_Retirada", methods::Vd_Retirada, true},           {"GetRetirada", methods::GetRetirada, true},
      {"GetVerifRetirada", methods::GetVerifRetirada, true}, {"GetVerifApurac", methods::GetVerifApurac, true},
      {"GetEfetPlanCli", methods::GetEfetPlanCli, true},     {"SetConsolEfet", methods::SetConsolEfet, false}};
  return t;
}

// The shape a refusal takes for each method: the screens read three of them
// without CheckResultServ.
Variant Failure(const std::string& method, const std::string& message) {
  if (method == "UpdEfetClie") return rtl::VarArrayOf({message});
  if (method == "Vd_Retirada") return Variant(message);
  if (method == "GetRetirada") return rtl::VarArrayOf({contracts::ResultFail(message)});
  return contracts::ResultFail(message);
}


// What the clerk reads when the database failed; its own text, in English and
// with hosts, ports and SQL, goes to the log only.
const char* const kDatabaseDown = "Banco de dados indisponível no momento. Tente novamente em instantes.";
const char* const kInternalFailure =
    "Erro no servidor: a operação não foi concluída. Os detalhes estão no registro do servidor.";

std::string DbFailureText(const db::DbError& e) {
  switch (e.kind()) {
    case db::ErrorKind::Busy:
      return "Servidor ocupado: o banco de dados não liberou os registros a tempo e nada foi gravado. "
             "Tente novamente em instantes.";
    case db::ErrorKind::Conflict:
    case db::ErrorKind::Constraint:
      return "Registro alterado por outro usuário ao mesmo tempo. Recarregue os dados e repita.";
    case db::ErrorKind::Connection:
      return kDatabaseDown;
    default:
      if (e.code() == "22003") return "Valor numérico fora do intervalo aceito pelo banco de dados.";
      return "Erro no banco de dados: a operação não foi concluída. Os detalhes estão no registro do servidor.";
  }
}

// Printable ASCII and UTF-8 pass; control bytes are written as \xHH and the
// line is cut, so one failure is one bounded line of the log.
std::string LogSafe(const std::string& s, size_t max = 400) {
  std::string out;
  for (size_t i = 0; i < s.size() && out.size() < max; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7f || c == '\\') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (out.size() >= max) out += "...";
  return out;
}

}  // namespace

void MediEfetivos::Fault(const std::string& method, const std::string& op, const char* kind, const std::string& code,
                         const std::string& text) const {
  std::string line = std::string("fault method=") + LogSafe(method, 40) + " operator=" + LogSafe(op, 20) + " kind=" +
                     kind + (code.empty() ? "" : " code=" + LogSafe(code, 40)) + " detail=" + LogSafe(text);
  if (OnFault) {
    OnFault(line);
    return;
  }
  std::string out = "efetivos-server: " + line + "\n";
  std::fwrite(out.data(), 1, out.size(), stderr);  // one write: lines of several threads do not interleave
}

namespace {

std::string Outcome(const std::string& method, const Variant& r) {
  if (method == "Vd_Retirada") return r.toString().empty() ? "ok" : "text";
  if (method == "UpdEfetClie") {
    if (r.isEmpty()) return "empty";
    if (r.isArray() && r.size() == 1 && r[0].isString()) return r[0].toString() == "OK" ? "ok" : "refused";
    return "ok";
  }
  if (method == "GetRetirada") return r.isArray() && r.size() > 0 && contracts::ResultSucceeded(r[0]) ? "ok" : "refused";
  return contracts::ResultSucceeded(r) ? "ok" : "refused";
}

}  // namespace

MediEfetivos::MediEfetivos(std::string connectionString) : pool_(std::move(connectionString)) {
  auto lease = pool_.Acquire();
  EnsureSchema(*lease);
}

std::vector<std::string> MediEfetivos::Methods() const {
  std::vector<std::string> names;
  for (const auto& e : Table()) names.push_back(e.name);
  return names;
}

// UpdEfetClie's two deltas are `var`: the server's keys come back in them.
std::vector<size_t> MediEfetivos::ByReference(const std::string& method) const {
  if (method == "UpdEfetClie") return {0, 6};
  return {};
}

Variant MediEfetivos::Call(const std::string& method, VariantArray& args, const contracts::CallContext& ctx) {
  auto start = std::chrono::steady_clock::now();
  const db::ThreadDbTime db0 = db::CurrentThreadDbTime();
  const Entry* entry = nullptr;
  for (const auto& e : Table())
    if (e.name == method) entry = &e;
  Fn fn = entry ? entry->fn : nullptr;
  Variant result;
  std::string branch;
  size_t badText = 0;
  for (size_t i = 0; fn && i < args.size() && !badText; ++i)
    // Other bytes (the transport carries them) would only fail later, where a
    // method echoes the text into a data packet, with an internal message.
    if (args[i].isString() && !rtl::ValidUtf8(args[i].toString())) badText = i + 1;
  if (!fn) {
    result = contracts::ResultFail("Método " + method + " não existe em " + ServerName() + ".");
  } else if (badText) {
    result = Failure(method, "Argumento " + std::to_string(badText) + " não é um texto válido (UTF-8).");
  } else {
    try {
      auto lease = pool_.Acquire();
      server::Call k{*lease, ctx.operatorCode, {}, {}, {}};
      k.method = method;
      // On SQLite the writes take turns here, in arrival order, before they
      // ask for the database's lock.
      std::optional<WriterQueue::Turn> turn;
      if (!entry->readOnly && lease->dialect() == db::Dialect::SQLite) turn.emplace(writers_);
      try {
        // Ended below by the rollback, which for a read-only snapshot is the same as a commit.
        if (entry->readOnly) lease->beginRead();
        result = fn(k, args);
      } catch (const Refusal& e) {
        result = Failure(method, e.what());
      } catch (const db::DbError& e) {
        if (e.kind() == db::ErrorKind::Connection) lease.discard();
        result = Failure(method, DbFailureText(e));
        Fault(method, ctx.operatorCode, "database", e.code(), e.what());
      } catch (const std::exception& e) {
        result = Failure(method, kInternalFailure);
        Fault(method, ctx.operatorCode, "internal", "", e.what());
      }
      if (lease->inTransaction()) {
        try {
          lease->rollback();
        } catch (...) {
          lease.discard();
        }
      }
      branch = k.branchForLog;
      ctx.branch = branch;
    } catch (const std::exception& e) {  // no connection at all
      result = Failure(method, kDatabaseDown);
      Fault(method, ctx.operatorCode, "connection", "", e.what());
    }
  }
  ctx.databaseMs = static_cast<double>(db::CurrentThreadDbTime().nanoseconds - db0.nanoseconds) / 1e6;
  if (OnCall) {
    CallLog log;
    log.method = method;
    log.op = ctx.operatorCode;
    log.branch = branch;
    log.outcome = fn ? Outcome(method, result) : "unknown";
    log.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    OnCall(log);
  }
  return result;
}

}  // namespace server
