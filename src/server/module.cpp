#include "server/module.h"

#include <chrono>
#include <map>

#include "contracts/result.h"
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

// Text arguments come from the screens as UTF-8; other bytes (the transport
// carries them) would only fail later, where a method echoes the text into
// a data packet, with an internal message.
bool ValidUtf8(const std::string& s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > n) return false;
    unsigned cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    for (size_t k = 1; k < len; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d >> 6) != 0x2) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

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
    if (args[i].isString() && !ValidUtf8(args[i].toString())) badText = i + 1;
  if (!fn) {
    result = contracts::ResultFail("Método " + method + " não existe em " + ServerName() + ".");
  } else if (badText) {
    result = Failure(method, "Argumento " + std::to_string(badText) + " não é um texto válido (UTF-8).");
  } else {
    try {
      auto lease = pool_.Acquire();
      server::Call k{*lease, ctx.operatorCode, {}, {}, {}};
      k.method = method;
      try {
        // Ended below by the rollback, which for a read-only snapshot is the same as a commit.
        if (entry->readOnly) lease->beginRead();
        result = fn(k, args);
      } catch (const Refusal& e) {
        result = Failure(method, e.what());
      } catch (const db::DbError& e) {
        if (e.kind() == db::ErrorKind::Connection) lease.discard();
        if (e.kind() == db::ErrorKind::Conflict || e.kind() == db::ErrorKind::Constraint)
          result = Failure(method, "Registro alterado por outro usuário ao mesmo tempo. Recarregue os dados e repita.");
        else
          result = Failure(method, std::string("Erro no banco de dados: ") + e.what());
      } catch (const std::exception& e) {
        result = Failure(method, std::string("Erro no servidor: ") + e.what());
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
      result = Failure(method, std::string("Banco de dados indisponível: ") + e.what());
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
