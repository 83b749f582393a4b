#include "net/endpoint.h"

#include <sodium.h>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "contracts/result.h"
#include "net/sodium_init.h"
#include "platform/rtl/text.h"

namespace net {

namespace {

using Clock = std::chrono::steady_clock;

const char* const kSessionRefused = "Sessão expirada ou inválida. Entre novamente.";
const char* const kLoginRefused = "Operador ou senha inválidos.";
// The same words the module uses when a call meets the database down.
const char* const kDatabaseDown = "Banco de dados indisponível no momento. Tente novamente em instantes.";

std::string errorBody(const std::string& message, const char* code = nullptr) {
  Envelope e;
  e.texts["error"] = message;
  if (code) e.texts["code"] = code;
  return EncodeEnvelope(e);
}

// A store that cannot answer: the operator is told to try again, the log keeps
// the driver's own text.
Refusal StoreDown(const std::exception& e) { return Refusal{503, kDatabaseDown + std::string(" (") + e.what() + ")"}; }

// How much of each logged value is kept: a request cannot make a long line.
constexpr size_t kLogValueChars = 120;

// Cuts the value and writes control bytes (CR and LF included) as \xNN, so a
// request line is one line whatever a client sent.
void AppendLogValue(std::string& out, std::string_view value) {
  bool cut = value.size() > kLogValueChars;
  if (cut) {
    value = value.substr(0, kLogValueChars);
    // Do not leave half of a UTF-8 sequence at the end.
    while (!value.empty() && (static_cast<unsigned char>(value.back()) & 0xC0) == 0x80) value.remove_suffix(1);
    if (!value.empty() && static_cast<unsigned char>(value.back()) >= 0xC0) value.remove_suffix(1);
  }
  for (unsigned char c : value) {
    if (c < 0x20 || c == 0x7F || c == '\\') {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (cut) out += "...";
}

class MemorySessionStore : public contracts::SessionStore {
public:
  void CreateSession(const std::string& tokenHash, const std::string& op, int64_t nowMs, int64_t expiresMs,
                     size_t maxPerOperator) override {
    std::lock_guard lock(m_);
    if (sessions_.size() >= kMaxSessions)
      std::erase_if(sessions_, [&](const auto& kv) { return kv.second.expiresMs <= nowMs; });
    if (sessions_.size() >= kMaxSessions)
      throw Refusal{503, "O servidor atingiu o limite de sessões abertas. Tente mais tarde."};
    sessions_[tokenHash] = Session{op, nowMs, ++sequence_, expiresMs};
    std::vector<std::map<std::string, Session>::iterator> mine;
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it)
      if (it->second.op == op) mine.push_back(it);
    if (mine.size() <= maxPerOperator) return;
    std::sort(mine.begin(), mine.end(), [](auto a, auto b) { return a->second.sequence < b->second.sequence; });
    for (size_t i = 0; i + maxPerOperator < mine.size(); ++i) sessions_.erase(mine[i]);
  }
  std::optional<std::string> TouchSession(const std::string& tokenHash, int64_t nowMs, int64_t timeoutMs) override {
    std::lock_guard lock(m_);
    auto it = sessions_.find(tokenHash);
    if (it == sessions_.end()) return std::nullopt;
    if (it->second.expiresMs <= nowMs) {
      sessions_.erase(it);
      return std::nullopt;
    }
    it->second.expiresMs = nowMs + timeoutMs;
    return it->second.op;
  }
  std::optional<std::string> EndSession(const std::string& tokenHash) override {
    std::lock_guard lock(m_);
    auto it = sessions_.find(tokenHash);
    if (it == sessions_.end()) return std::nullopt;
    std::string op = it->second.op;
    sessions_.erase(it);
    return op;
  }
  Failures LoginFailures(const std::string& key) override {
    std::lock_guard lock(m_);
    auto it = failures_.find(key);
    return it == failures_.end() ? Failures{} : it->second;
  }
  void RecordLoginFailure(const std::string& key, int64_t nowMs) override {
    std::lock_guard lock(m_);
    if (failures_.size() >= kMaxSessions) failures_.clear();  // a flood of addresses: forget rather than grow
    auto& f = failures_[key];
    ++f.count;
    f.lastMs = nowMs;
  }
  void ClearLoginFailures(const std::string& key) override {
    std::lock_guard lock(m_);
    failures_.erase(key);
  }

private:
  static constexpr size_t kMaxSessions = 10000;
  struct Session {
    std::string op;
    int64_t createdMs;
    uint64_t sequence;  // orders sessions created in the same millisecond
    int64_t expiresMs;
  };
  std::mutex m_;
  std::map<std::string, Session> sessions_;
  std::map<std::string, Failures> failures_;
  uint64_t sequence_ = 0;
};

}  // namespace

std::unique_ptr<contracts::SessionStore> MakeMemorySessionStore() { return std::make_unique<MemorySessionStore>(); }

std::string ServerTimingHeader(const RequestLog& log) {
  char buf[128];
  int n = std::snprintf(buf, sizeof buf, "handler;dur=%.3f", log.milliseconds);
  if (log.methodMilliseconds > 0 && n > 0 && static_cast<size_t>(n) < sizeof buf)
    n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ", method;dur=%.3f", log.methodMilliseconds);
  if (log.databaseMilliseconds >= 0 && n > 0 && static_cast<size_t>(n) < sizeof buf)
    std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ", db;dur=%.3f", log.databaseMilliseconds);
  return buf;
}

std::string FormatRequestLog(const RequestLog& log) {
  char ms[32];
  std::snprintf(ms, sizeof ms, "%.1f ms", log.milliseconds);
  std::string line;
  AppendLogValue(line, log.path);
  if (!log.method.empty()) {
    line += " ";
    AppendLogValue(line, log.method);
  }
  line += " operador=";
  AppendLogValue(line, log.operatorCode.empty() ? std::string_view("-") : std::string_view(log.operatorCode));
  if (!log.branch.empty()) {
    line += " filial=";
    AppendLogValue(line, log.branch);
  }
  if (!log.client.empty()) {
    line += " cliente=";
    AppendLogValue(line, log.client);
  }
  line += " ";
  line += ms;
  line += " ";
  // The outcome carries messages that may be long; allow it more room.
  for (size_t at = 0; at < log.outcome.size() && at < 4 * kLogValueChars; at += kLogValueChars)
    AppendLogValue(line, std::string_view(log.outcome).substr(at, kLogValueChars));
  if (log.outcome.size() > 4 * kLogValueChars) line += "...";
  return line;
}

RequestLogger StderrRequestLogger() {
  return [](const RequestLog& log) {
    static std::mutex m;
    std::string line = FormatRequestLog(log) + "\n";
    std::lock_guard lock(m);
    std::fwrite(line.data(), 1, line.size(), stderr);
  };
}

std::string HashPassword(const std::string& password) {
  EnsureSodium();
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
    throw rtl::Exception("Memória insuficiente para calcular o hash da senha.");
  return out;
}

bool VerifyPassword(const std::string& hash, const std::string& password) {
  EnsureSodium();
  if (hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) return false;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::string TokenHash(const std::string& token) {
  EnsureSodium();
  unsigned char h[crypto_generichash_BYTES];
  crypto_generichash(h, sizeof h, reinterpret_cast<const unsigned char*>(token.data()), token.size(), nullptr, 0);
  char hex[sizeof h * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, h, sizeof h);
  return hex;
}

namespace {

// Threads at the lowest CPU priority for the password checks of logins with
// failures on record: a guesser's checks then take only the time no clean
// login wants. Started on the first such check.
class LowPriorityChecks {
public:
  explicit LowPriorityChecks(int threads) : threads_(threads) {}
  ~LowPriorityChecks() {
    {
      std::lock_guard lock(m_);
      stop_ = true;
    }
    ready_.notify_all();
    for (auto& t : pool_) t.join();
  }

  bool verify(const std::string& hash, const std::string& password) {
    std::packaged_task<bool()> task([&] { return VerifyPassword(hash, password); });
    auto done = task.get_future();
    {
      std::lock_guard lock(m_);
      if (pool_.empty())
        for (int i = 0; i < threads_; ++i) pool_.emplace_back([this] { serve(); });
      queue_.push_back(std::move(task));
    }
    ready_.notify_one();
    return done.get();
  }

private:
  void serve() {
    // Linux keeps the nice value per thread; SCHED_IDLE goes lower still
    // where allowed. Either failing leaves the thread as it was.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
    sched_param none{};
    (void)pthread_setschedparam(pthread_self(), SCHED_IDLE, &none);
    for (;;) {
      std::packaged_task<bool()> task;
      {
        std::unique_lock lock(m_);
        ready_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      task();
    }
  }

  const int threads_;
  std::mutex m_;
  std::condition_variable ready_;
  std::deque<std::packaged_task<bool()>> queue_;
  std::vector<std::thread> pool_;
  bool stop_ = false;
};

}  // namespace

// The password checks run at once: `slots` for any login, and one more kept
// for clean logins, those whose operator and address have no failure on
// record. A guessing flood fails, so its attempts soon queue for the general
// slots only, and another operator's login does not wait behind them. The
// order rests on failure counts the guesser already knows, so it tells him
// nothing about which operators exist.
//
// An unknown operator's login does no check: it is refused after a time drawn
// from the recent real checks (their wait for a slot included) with some
// jitter, so it answers as late as a known operator's wrong password would,
// at no cost in CPU or memory.
struct Endpoint::LoginGate {
  explicit LoginGate(int slots) : slots(std::clamp(slots, 1, 1024)), lowPriority(this->slots) {}
  const int slots;
  std::mutex m;
  std::condition_variable freed;
  int busy = 0;
  bool cleanBusy = false;
  std::once_flag dummyOnce;
  std::string dummyHash;
  std::array<double, 64> recentMs{};  // the last real checks, a ring
  size_t recorded = 0;
  LowPriorityChecks lowPriority;

  int cleanRunning = 0;

  // Returns whether the kept slot was taken. A login with failures on record
  // also waits while a clean one is checked: two checks at once share the
  // memory bus as well as the cores.
  bool acquire(bool clean) {
    std::unique_lock lock(m);
    freed.wait(lock, [&] { return clean ? busy < slots || !cleanBusy : busy < slots && cleanRunning == 0; });
    if (clean) ++cleanRunning;
    if (busy < slots) {
      ++busy;
      return false;
    }
    cleanBusy = true;
    return true;
  }
  void release(bool kept, bool clean) {
    {
      std::lock_guard lock(m);
      if (clean) --cleanRunning;
      if (kept) cleanBusy = false;
      else --busy;
    }
    freed.notify_all();
  }

  void recordCheck(double ms) {
    std::lock_guard lock(m);
    recentMs[recorded++ % recentMs.size()] = ms;
  }
  // A real check's time to answer an unknown operator after; 0 before any
  // check was timed.
  int unknownOperatorDelayMs() {
    double ms;
    {
      std::lock_guard lock(m);
      if (recorded == 0) return 0;
      ms = recentMs[randombytes_uniform(static_cast<uint32_t>(std::min(recorded, recentMs.size())))];
    }
    double jitter = 0.9 + 0.2 * randombytes_uniform(1001) / 1000.0;
    return std::max(1, static_cast<int>(ms * jitter + 0.5));
  }
};

Endpoint::Endpoint(contracts::OperatorStore& operators, HttpServerOptions& options)
    : operators_(operators), options_(options), gate_(std::make_unique<LoginGate>(options.maxConcurrentLogins)) {
  EnsureSodium();
  if (!options_.clock) options_.clock = [] { return std::chrono::system_clock::now(); };
  sessions_ = options_.sessions ? options_.sessions : dynamic_cast<contracts::SessionStore*>(&operators_);
  if (!sessions_) {
    ownSessions_ = MakeMemorySessionStore();
    sessions_ = ownSessions_.get();
  }
}

Endpoint::~Endpoint() = default;

void Endpoint::addModule(contracts::RemoteModule& module) {
  modules_[rtl::LowerCase(module.ServerName())] = &module;
  auto& names = methods_[&module];
  for (const std::string& m : module.Methods()) names[rtl::LowerCase(m)] = m;
}

int64_t Endpoint::nowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(options_.clock().time_since_epoch()).count();
}

std::string Endpoint::BearerToken(std::string_view header) {
  constexpr std::string_view scheme = "bearer ";
  if (header.size() <= scheme.size() || !rtl::SameText(header.substr(0, scheme.size()), scheme)) return {};
  header.remove_prefix(scheme.size());
  while (!header.empty() && header.front() == ' ') header.remove_prefix(1);
  while (!header.empty() && header.back() == ' ') header.remove_suffix(1);
  return std::string(header);
}

std::string Endpoint::newSession(const std::string& op) {
  unsigned char raw[32];
  randombytes_buf(raw, sizeof raw);
  char hex[sizeof raw * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, raw, sizeof raw);
  sodium_memzero(raw, sizeof raw);
  std::string token = hex;
  sodium_memzero(hex, sizeof hex);
  int64_t now = nowMs();
  int64_t timeout = std::chrono::duration_cast<std::chrono::milliseconds>(options_.sessionTimeout).count();
  try {
    sessions_->CreateSession(TokenHash(token), op, now, now + timeout, std::max<size_t>(1, options_.maxSessionsPerOperator));
  } catch (const Refusal&) {
    throw;
  } catch (const std::exception& e) {
    throw StoreDown(e);
  }
  return token;
}

std::string Endpoint::authenticate(const std::string& token) {
  if (token.empty()) throw Refusal{401, kSessionRefused};
  std::optional<std::string> op;
  try {
    op = sessions_->TouchSession(TokenHash(token), nowMs(),
                                 std::chrono::duration_cast<std::chrono::milliseconds>(options_.sessionTimeout).count());
  } catch (const std::exception& e) {
    throw StoreDown(e);
  }
  if (!op) throw Refusal{401, kSessionRefused};
  return *op;
}

// Refuses a login that comes too soon after the failures counted under key;
// returns how many are counted (none once they are older than the longest wait).
int Endpoint::checkLoginWait(const std::string& key, int allowed) {
  auto f = sessions_->LoginFailures(key);
  int64_t now = nowMs();
  int64_t maxWait = std::chrono::duration_cast<std::chrono::milliseconds>(options_.maxLoginWait).count();
  if (now - f.lastMs > maxWait) return 0;
  if (f.count < allowed) return f.count;
  int64_t wait = std::chrono::duration_cast<std::chrono::milliseconds>(options_.firstLoginWait).count();
  for (int i = allowed; i < f.count && wait < maxWait; ++i) wait *= 2;
  wait = std::min(wait, maxWait);
  int64_t left = f.lastMs + wait - now;
  if (left <= 0) return f.count;
  int64_t seconds = (left + 999) / 1000;
  throw Refusal{429, "Muitas tentativas de entrada sem sucesso. Aguarde " + std::to_string(seconds) +
                         (seconds == 1 ? " segundo" : " segundos") + " antes de tentar novamente."};
}

Reply Endpoint::login(std::string_view body, const std::string& sourceAddress, RequestLog& log) {
  Envelope in = DecodeEnvelope(body, options_.limits);
  std::string op = in.text("operator");
  std::string password = in.text("password");
  log.operatorCode = op;
  if (op.empty()) throw Refusal{401, kLoginRefused};
  const std::string opKey = "O:" + op.substr(0, 60), addressKey = "E:" + sourceAddress;
  std::optional<std::string> hash;
  bool clean = false;
  try {
    clean = checkLoginWait(opKey, options_.loginFailuresPerOperator) == 0;
    clean = checkLoginWait(addressKey, options_.loginFailuresPerAddress) == 0 && clean;
    hash = operators_.PasswordHash(op);
  } catch (const Refusal&) {
    throw;
  } catch (const std::exception& e) {
    throw StoreDown(e);
  }
  bool ok = false;
  int delayMs = hash ? 0 : gate_->unknownOperatorDelayMs();
  if (hash || delayMs == 0) {
    auto started = Clock::now();
    struct Slot {
      LoginGate& gate;
      bool clean;
      bool kept;
      ~Slot() { gate.release(kept, clean); }
    } slot{*gate_, clean, gate_->acquire(clean)};
    if (hash) {
      ok = clean ? VerifyPassword(*hash, password) : gate_->lowPriority.verify(*hash, password);
    } else {
      // No real check timed yet: do one, so the first answers take their time too.
      std::call_once(gate_->dummyOnce, [&] { gate_->dummyHash = HashPassword("-"); });
      VerifyPassword(gate_->dummyHash, password);
    }
    gate_->recordCheck(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
  }
  try {
    if (!ok) {
      int64_t now = nowMs();
      int64_t maxWait = std::chrono::duration_cast<std::chrono::milliseconds>(options_.maxLoginWait).count();
      for (const std::string& key : {opKey, addressKey}) {
        // Failures older than the longest wait are forgotten.
        auto f = sessions_->LoginFailures(key);
        if (f.count > 0 && now - f.lastMs > maxWait) sessions_->ClearLoginFailures(key);
        sessions_->RecordLoginFailure(key, now);
      }
      throw Refusal{401, kLoginRefused, delayMs};
    }
    if (sessions_->LoginFailures(opKey).count > 0) sessions_->ClearLoginFailures(opKey);
  } catch (const Refusal&) {
    throw;
  } catch (const std::exception& e) {
    throw StoreDown(e);
  }
  Envelope out;
  out.texts["token"] = newSession(op);
  out.texts["operator"] = op;
  log.ok = true;
  log.outcome = "ok";
  return Reply{200, EncodeEnvelope(out)};
}

Reply Endpoint::call(const std::string& operatorCode, std::string_view body, RequestLog& log) {
  Envelope in = DecodeEnvelope(body, options_.limits);
  log.server = in.text("server");
  log.method = in.text("method");
  log.operatorCode = operatorCode;
  contracts::CallContext ctx;
  ctx.operatorCode = operatorCode;
  ctx.clientAddress = log.client;

  auto mod = modules_.find(rtl::LowerCase(log.server));
  if (mod == modules_.end())
    throw Refusal{404, "Servidor de aplicação desconhecido: '" + log.server.substr(0, 60) + "'."};
  const auto& names = methods_.at(mod->second);
  auto m = names.find(rtl::LowerCase(log.method));
  if (m == names.end())
    throw Refusal{404, "Método desconhecido no servidor " + mod->second->ServerName() + ": '" +
                           log.method.substr(0, 60) + "'."};
  log.method = m->second;

  rtl::VariantArray args = in.args ? std::move(*in.args) : rtl::VariantArray{};
  Envelope out;
  auto called = Clock::now();
  try {
    out.result = mod->second->Call(m->second, args, ctx);
    rtl::VariantArray back;
    std::string refs;
    for (size_t i : mod->second->ByReference(m->second)) {
      if (i >= args.size()) continue;
      back.push_back(std::move(args[i]));
      refs += (refs.empty() ? "" : ",") + std::to_string(i);
    }
    if (!back.empty()) {
      out.args = std::move(back);
      out.texts["refs"] = refs;
    }
  } catch (const std::exception& ex) {
    out.result = contracts::ResultFail(ex.what());
  } catch (...) {
    out.result = contracts::ResultFail("Erro desconhecido no servidor de aplicação.");
  }
  log.methodMilliseconds = std::chrono::duration<double, std::milli>(Clock::now() - called).count();
  log.databaseMilliseconds = ctx.databaseMs;
  log.branch = ctx.branch;
  const rtl::Variant& r = *out.result;
  log.ok = !(contracts::IsResultArray(r) && !r[0].toBool());
  log.outcome = log.ok ? "ok" : "falha: " + contracts::ResultMessage(r);
  return Reply{200, EncodeEnvelope(out)};
}

Reply Endpoint::logout(const std::string& token, RequestLog& log) {
  if (!token.empty()) {
    try {
      if (auto op = sessions_->EndSession(TokenHash(token))) log.operatorCode = *op;
    } catch (const std::exception& e) {
      throw StoreDown(e);
    }
  }
  log.ok = true;
  log.outcome = "ok";
  return Reply{200, "{}"};
}

Reply Endpoint::health() {
  bool up = false;
  try {
    up = sessions_->Healthy();
  } catch (const std::exception&) {
    up = false;
  }
  if (up) return Reply{200, R"({"status":"ok"})"};
  return Reply{503, errorBody(kDatabaseDown)};
}

Reply Endpoint::refuse(const Refusal& r, RequestLog& log) {
  log.outcome = "recusada: " + r.message;
  std::string message = r.message;
  // The driver's own text stays in the log.
  if (r.status == 503 && message.rfind(kDatabaseDown, 0) == 0) message = kDatabaseDown;
  return Reply{r.status, errorBody(message, r.status == 401 ? "session" : r.status == 429 ? "wait" : nullptr),
               r.delayMs};
}

}  // namespace net
