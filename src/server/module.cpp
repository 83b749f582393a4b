#include "server/module.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>

#include "contracts/arguments.h"
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
namespace A = contracts::args;

// What the reply carries, success or refusal. Most methods answer a result
// array; three are read by the screens without CheckResultServ.
enum class Shape {
  Result,         // [true, payload] / [false, message]
  Keyed,          // ["OK"], [message or catalog key], the recomputed day, or empty for nothing to do
  Text,           // a bare text: empty is success, anything else the message
  ResultInArray,  // [[true, payload]] / [[false, message]]
};

// Everything about a method in its row: the function, whether it only reads
// (its statements then run in one snapshot, see db::Connection::beginRead; the
// writes open their own transactions), how many arguments it requires, the
// shape of its reply and the slots that travel back to the caller.
struct Entry {
  const char* name;
  Fn fn;
  bool readOnly;
  size_t minArgs;
  Shape shape;
  std::vector<size_t> byReference;
};

constexpr bool kRead = true, kWrite = false;

const std::vector<Entry>& Table() {
  static const std::vector<Entry> t{
      {"GetParamGeral", methods::GetParamGeral, kRead, 0, Shape::Result, {}},
      {"GetParamPlaneja", methods::GetParamPlaneja, kRead, 1, Shape::Result, {}},
      {"GetCardaDia", methods::GetCardaDia, kRead, 2, Shape::Result, {}},
      {"GetDtCardapio", methods::GetDtCardapio, kRead, 2, Shape::Result, {}},
      {"PostCard", methods::PostCard, kWrite, 4, Shape::Result, {}},
      {"GetComensais", methods::GetComensais, kRead, 3, Shape::Result, {}},
      {"UpdPratoCard", methods::UpdPratoCard, kWrite, 3, Shape::Result, {}},
      {"GetServiFat", methods::GetServiFat, kRead, 3, Shape::Result, {}},
      {"GetServCli", methods::GetServCli, kRead, 4, Shape::Result, {}},
      {"GetEfetCatraca", methods::GetEfetCatraca, kRead, 3, Shape::Result, {}},
      {"SetEfetCat", methods::SetEfetCat, kWrite, 1, Shape::Result, {}},
      {"GetTurnoCliente", methods::GetTurnoCliente, kRead, 4, Shape::Result, {}},
      {"SetTurnoCliente", methods::SetTurnoCliente, kWrite, 1, Shape::Result, {}},
      {"UpdEfetClie", methods::UpdEfetClie, kWrite, 4, Shape::Keyed,
       {A::UpdEfetClie::kClientes, A::UpdEfetClie::kRateio}},
      {"GetItemRatEfet", methods::GetItemRatEfet, kRead, 4, Shape::Result, {}},
      {"VerificaEfetFat", methods::VerificaEfetFat, kRead, 3, Shape::Result, {}},
      {"Vd_Retirada", methods::Vd_Retirada, kRead, 3, Shape::Text, {}},
      {"GetRetirada", methods::GetRetirada, kRead, 2, Shape::ResultInArray, {}},
      {"GetVerifRetirada", methods::GetVerifRetirada, kRead, 2, Shape::Result, {}},
      {"GetVerifApurac", methods::GetVerifApurac, kRead, 4, Shape::Result, {}},
      {"GetEfetPlanCli", methods::GetEfetPlanCli, kRead, 4, Shape::Result, {}},
      {"SetConsolEfet", methods::SetConsolEfet, kWrite, 3, Shape::Result, {}},
  };
  return t;
}

const Entry* Find(const std::string& method) {
  for (const auto& e : Table())
    if (method == e.name) return &e;
  return nullptr;
}

Variant Failure(const Entry& e, const std::string& message) {
  switch (e.shape) {
    case Shape::Keyed:
      return rtl::VarArrayOf({message});
    case Shape::Text:
      return Variant(message);
    case Shape::ResultInArray:
      return rtl::VarArrayOf({contracts::ResultFail(message)});
    case Shape::Result:
      break;
  }
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

std::string Outcome(const Entry& e, const Variant& r) {
  switch (e.shape) {
    case Shape::Text:
      return r.toString().empty() ? "ok" : "text";
    case Shape::Keyed:
      if (r.isEmpty()) return "empty";
      if (r.isArray() && r.size() == 1 && r[0].isString()) return r[0].toString() == "OK" ? "ok" : "refused";
      return "ok";
    case Shape::ResultInArray:
      return r.isArray() && r.size() > 0 && contracts::ResultSucceeded(r[0]) ? "ok" : "refused";
    case Shape::Result:
      break;
  }
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

std::vector<size_t> MediEfetivos::ByReference(const std::string& method) const {
  const Entry* e = Find(method);
  return e ? e->byReference : std::vector<size_t>{};
}

Variant MediEfetivos::Call(const std::string& method, VariantArray& args, const contracts::CallContext& ctx) {
  auto start = std::chrono::steady_clock::now();
  const db::ThreadDbTime db0 = db::CurrentThreadDbTime();
  const Entry* entry = Find(method);
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
    result = Failure(*entry, "Argumento " + std::to_string(badText) + " não é um texto válido (UTF-8).");
  } else {
    try {
      auto lease = pool_.Acquire();
      // Runs the method on c; returns whether c failed under it.
      auto attempt = [&](db::Connection& c) {
        bool broken = false;
        server::Call k{c, ctx.operatorCode, {}, {}, {}};
        k.method = method;
        try {
          // Ended below by the rollback, which for a read-only snapshot is the same as a commit.
          if (entry->readOnly) c.beginRead();
          NeedArgs(args, entry->minArgs, entry->name);
          result = fn(k, args);
        } catch (const Refusal& e) {
          result = Failure(*entry, e.what());
        } catch (const db::DbError& e) {
          if (e.kind() == db::ErrorKind::Connection) broken = true;
          result = Failure(*entry, DbFailureText(e));
          Fault(method, ctx.operatorCode, "database", e.code(), e.what());
        } catch (const std::exception& e) {
          result = Failure(*entry, kInternalFailure);
          Fault(method, ctx.operatorCode, "internal", "", e.what());
        }
        if (c.inTransaction()) {
          try {
            c.rollback();
          } catch (...) {
            broken = true;
          }
        }
        branch = k.branchForLog;
        ctx.branch = branch;
        return broken;
      };
      bool broken;
      if (!entry->readOnly && lease->dialect() == db::Dialect::SQLite) {
        // On SQLite the writes queue here, in arrival order, before they ask
        // for the database's lock, and are committed in groups.
        GroupCommit::Save save{attempt, [&](const db::DbError& e) {
                                 result = Failure(*entry, DbFailureText(e));
                                 Fault(method, ctx.operatorCode, "database", e.code(), e.what());
                               }};
        broken = writers_.Run(*lease, save);
      } else {
        broken = attempt(*lease);
      }
      if (broken) lease.discard();
    } catch (const std::exception& e) {  // no connection at all
      result = Failure(*entry, kDatabaseDown);
      Fault(method, ctx.operatorCode, "connection", "", e.what());
    }
  }
  ctx.databaseMs = static_cast<double>(db::CurrentThreadDbTime().nanoseconds - db0.nanoseconds) / 1e6;
  if (OnCall) {
    CallLog log;
    log.method = method;
    log.op = ctx.operatorCode;
    log.branch = branch;
    log.outcome = fn ? Outcome(*entry, result) : "unknown";
    log.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    OnCall(log);
  }
  return result;
}

}  // namespace server
