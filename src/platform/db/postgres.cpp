// PostgreSQL backend over libpq: :NAME parameters become $n and statements are
// prepared once per SQL text and parameter types. Text values are sent untyped,
// so the server infers their type from the context (`'T' = :P_X`, an integer
// column compared with a text...); typed values carry their own type.

#include <libpq-fe.h>
#include <poll.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "connection.h"

namespace db {

namespace {

// Type oids of the built-in types (pg_type.h is a server header).
constexpr Oid kUnknown = 0, kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25, kOid = 26,
              kFloat4 = 700, kFloat8 = 701, kDate = 1082, kTime = 1083, kTimestamp = 1114, kTimestampTz = 1184,
              kNumeric = 1700;

constexpr size_t kMaxCachedStatements = 200;

ErrorKind kindOf(const std::string& state) {
  if (state.size() != 5) return ErrorKind::Other;
  std::string cls = state.substr(0, 2);
  if (cls == "23") return ErrorKind::Constraint;
  if (state == "40001" || state == "40P01") return ErrorKind::Conflict;
  // lock_timeout, and statement_timeout (a query cancelled on time).
  if (state == "55P03" || state == "57014") return ErrorKind::Busy;
  if (cls == "42") return ErrorKind::Syntax;
  if (cls == "08" || cls == "57") return ErrorKind::Connection;
  return ErrorKind::Other;
}

ColumnType columnType(Oid t) {
  switch (t) {
    case kBool:
      return ColumnType::Boolean;
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid:
      return ColumnType::Integer;
    case kFloat4:
    case kFloat8:
    case kNumeric:
      return ColumnType::Float;
    case kDate:
    case kTime:
    case kTimestamp:
    case kTimestampTz:
      return ColumnType::DateTime;
    case kBytea:
      return ColumnType::Blob;
    default:
      return ColumnType::Text;
  }
}

// Locale-independent number texts (a GUI may have switched the C locale).
std::string formatDouble(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Variant readValue(const char* p, int len, Oid type) {
  std::string_view text(p, static_cast<size_t>(len));
  switch (type) {
    case kBool:
      return Variant(text == "t");
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid: {
      long long v = 0;
      auto r = std::from_chars(text.data(), text.data() + text.size(), v);
      if (r.ec == std::errc()) return Variant(v);
      break;
    }
    case kFloat4:
    case kFloat8:
    case kNumeric: {
      double v = 0;
      auto r = std::from_chars(text.data(), text.data() + text.size(), v);
      if (r.ec == std::errc()) return Variant(v);
      if (text == "NaN") return Variant(std::nan(""));
      if (text == "Infinity") return Variant(HUGE_VAL);
      if (text == "-Infinity") return Variant(-HUGE_VAL);
      break;
    }
    case kDate:
    case kTimestamp:
    case kTimestampTz: {
      rtl::TDateTime d;
      if (ParseIsoDateTime(text, d)) return Variant::FromDate(d);
      break;  // infinity, BC dates: left as text
    }
    case kTime: {
      rtl::TDateTime d;
      if (ParseIsoDateTime("1899-12-30 " + std::string(text), d)) return Variant::FromDate(d);
      break;
    }
    case kBytea:
      if (text.size() >= 2 && text[0] == '\\' && text[1] == 'x') {
        std::string bytes;
        bytes.reserve((text.size() - 2) / 2);
        for (size_t i = 2; i + 1 < text.size(); i += 2)
          bytes += static_cast<char>(hexValue(text[i]) * 16 + hexValue(text[i + 1]));
        return Variant(rtl::DataPacket(std::move(bytes)));
      }
      break;
    default:
      break;
  }
  return Variant(text);
}

class PgResult {
public:
  explicit PgResult(PGresult* r = nullptr) : r_(r) {}
  ~PgResult() { PQclear(r_); }
  PgResult(PgResult&& o) noexcept : r_(o.r_) { o.r_ = nullptr; }
  PgResult& operator=(PgResult&& o) noexcept {
    std::swap(r_, o.r_);
    return *this;
  }
  PGresult* get() const { return r_; }
  bool ok() const {
    auto s = PQresultStatus(r_);
    return r_ && (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK);
  }
  std::string state() const {
    const char* s = r_ ? PQresultErrorField(r_, PG_DIAG_SQLSTATE) : nullptr;
    return s ? s : "";
  }

private:
  PGresult* r_;
};

class PostgresConnection final : public Connection {
public:
  explicit PostgresConnection(const std::string& conninfo) {
    conn_ = PQconnectdb(conninfo.c_str());
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
      std::string msg = conn_ ? trimmed(PQerrorMessage(conn_)) : "out of memory";
      PQfinish(conn_);
      conn_ = nullptr;
      throw DbError(ErrorKind::Connection, "Could not connect to the PostgreSQL server: " + msg);
    }
    setup();
  }

  ~PostgresConnection() override { PQfinish(conn_); }

  Dialect dialect() const override { return Dialect::PostgreSQL; }

  int64_t exec(std::string_view sql, const Params& params) override {
    detail::DbClock clock;
    PgResult r = run(sql, params);
    const char* n = PQcmdTuples(r.get());
    return n && *n ? std::atoll(n) : 0;
  }

  Result query(std::string_view sql, const Params& params) override {
    detail::DbClock clock;
    PgResult r = run(sql, params);
    Result out;
    int cols = PQnfields(r.get());
    int rows = PQntuples(r.get());
    std::vector<Oid> types;
    for (int c = 0; c < cols; ++c) {
      types.push_back(PQftype(r.get(), c));
      out.columns.push_back(Column{PQfname(r.get(), c), columnType(types.back())});
    }
    out.rows.reserve(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i) {
      std::vector<Variant> row;
      row.reserve(static_cast<size_t>(cols));
      for (int c = 0; c < cols; ++c) {
        if (PQgetisnull(r.get(), i, c)) row.push_back(Variant::Null());
        else row.push_back(readValue(PQgetvalue(r.get(), i, c), PQgetlength(r.get(), i, c), types[static_cast<size_t>(c)]));
      }
      out.rows.push_back(std::move(row));
    }
    return out;
  }

  void execScript(std::string_view sql) override {
    detail::DbClock clock;
    ensureConnected();
    std::string text(sql);
    check(PgResult(PQexec(conn_, text.c_str())), text);
  }

  void begin() override {
    if (inTransaction()) throw DbError(ErrorKind::Usage, "A transaction is already running on this connection");
    execScript("BEGIN");
  }

  bool beginRead() override {
    if (inTransaction()) throw DbError(ErrorKind::Usage, "A transaction is already running on this connection");
    return false;
  }

  void commit() override {
    if (!inTransaction()) throw DbError(ErrorKind::Usage, "No transaction is running on this connection");
    detail::DbClock clock;
    PgResult r(PQexec(conn_, "COMMIT"));
    check(std::move(r), "COMMIT", [](PGresult* res) {
      // COMMIT of a transaction that already failed answers ROLLBACK, not an error.
      if (std::strcmp(PQcmdStatus(res), "ROLLBACK") == 0)
        throw DbError(ErrorKind::Other,
                      "The transaction was rolled back because one of its statements failed", "COMMIT");
    });
  }

  void rollback() override {
    if (inTransaction()) execScript("ROLLBACK");
  }

  bool inTransaction() const override {
    auto s = PQtransactionStatus(conn_);
    return s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
  }

  int64_t lastInsertId() override {
    PgResult r(PQexec(conn_, "SELECT lastval()"));
    r = check(std::move(r), "SELECT lastval()");
    return std::atoll(PQgetvalue(r.get(), 0, 0));
  }

  void clearStatementCache() override {
    if (!cache_.empty() && PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) != PQTRANS_INERROR)
      PgResult(PQexec(conn_, "DEALLOCATE ALL"));
    cache_.clear();
  }
  size_t cachedStatements() const override { return cache_.size(); }

private:
  static std::string trimmed(const char* s) {
    std::string m = s ? s : "";
    while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
    return m;
  }

  void setup() {
    PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
    check(PgResult(PQexec(conn_, "SET client_encoding TO 'UTF8'; SET DateStyle TO ISO, YMD")), "SET");
  }

  // A lost connection is re-established before the next statement when no
  // transaction was running (one that was is lost, and its error was reported).
  // PQstatus only learns of a loss when libpq next reads, so an idle socket
  // that has become readable (the server's goodbye, or its close after a
  // restart) counts as lost: a connection dropped while it sat in a pool is
  // replaced before a statement is sent on it.
  void ensureConnected() {
    if (PQstatus(conn_) == CONNECTION_OK && !idleSocketReadable()) return;
    cache_.clear();
    PQreset(conn_);
    if (PQstatus(conn_) != CONNECTION_OK)
      throw DbError(ErrorKind::Connection,
                    "The connection to the PostgreSQL server was lost: " + trimmed(PQerrorMessage(conn_)));
    setup();
  }

  // True when something arrived on the idle socket: the server's goodbye
  // (an administrator's or a shutdown's FATAL, then the close). Nothing else
  // is sent to an idle session of this program (no LISTEN), so the connection
  // is replaced; at worst that costs one reconnection.
  bool idleSocketReadable() {
    pollfd p{PQsocket(conn_), POLLIN, 0};
    return p.fd < 0 || poll(&p, 1, 0) != 0;
  }

  [[noreturn]] void fail(const PgResult& r, const std::string& sql) {
    std::string state = r.state();
    std::string msg;
    if (r.get()) {
      const char* primary = PQresultErrorField(r.get(), PG_DIAG_MESSAGE_PRIMARY);
      msg = primary ? primary : trimmed(PQresultErrorMessage(r.get()));
    }
    if (msg.empty()) msg = trimmed(PQerrorMessage(conn_));
    ErrorKind kind = PQstatus(conn_) != CONNECTION_OK ? ErrorKind::Connection : kindOf(state);
    throw DbError(kind, msg, sql, state);
  }

  template <class Extra = void (*)(PGresult*)>
  PgResult check(PgResult r, const std::string& sql, Extra extra = [](PGresult*) {}) {
    if (!r.ok()) fail(r, sql);
    extra(r.get());
    return r;
  }

  struct Bound {
    std::vector<std::string> texts;
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    std::vector<Oid> types;
  };

  Bound bind(const RewrittenSql& rw, const Params& params, const std::string& sql) {
    Bound b;
    size_t n = rw.names.size();
    b.texts.resize(n);
    b.values.assign(n, nullptr);
    b.lengths.assign(n, 0);
    b.formats.assign(n, 0);
    b.types.assign(n, kUnknown);
    for (size_t i = 0; i < n; ++i) {
      const Variant* v = params.find(rw.names[i]);
      if (!v) throw DbError(ErrorKind::Usage, "No value given for the parameter :" + rw.names[i], sql);
      switch (v->type()) {
        case rtl::VarType::Empty:
        case rtl::VarType::Null:
          continue;  // NULL, type inferred
        case rtl::VarType::String:
          b.texts[i] = v->asStringRef();
          break;
        case rtl::VarType::Integer:
          b.texts[i] = std::to_string(v->toInt());
          b.types[i] = kInt8;
          break;
        case rtl::VarType::Double:
          b.texts[i] = formatDouble(v->toDouble());
          b.types[i] = kFloat8;
          break;
        case rtl::VarType::Boolean:
          b.texts[i] = v->toBool() ? "true" : "false";
          b.types[i] = kBool;
          break;
        case rtl::VarType::DateTime:
          b.texts[i] = FormatIsoDateTime(v->toDateTime());
          b.types[i] = b.texts[i].size() == 10 ? kDate : kTimestamp;
          break;
        case rtl::VarType::Packet:
          b.texts[i] = v->asPacket().bytes();
          b.types[i] = kBytea;
          b.formats[i] = 1;
          break;
        case rtl::VarType::Array:
          throw DbError(ErrorKind::Usage,
                        "The parameter :" + rw.names[i] + " holds an array, which cannot be bound", sql);
      }
      b.values[i] = b.texts[i].c_str();
      b.lengths[i] = static_cast<int>(b.texts[i].size());
    }
    return b;
  }

  struct Prepared {
    std::string name;
    std::vector<Oid> types;  // as prepared (untyped ones may have fallen back to text)
  };

  // Prepares once per text and parameter types. Inside a transaction a failed
  // prepare would abort it, so the attempt runs under a savepoint.
  const Prepared& prepare(const std::string& sql, const RewrittenSql& rw, const std::vector<Oid>& types) {
    std::string key = sql;
    key += '\x01';
    for (Oid t : types) key += std::to_string(t) + ",";
    auto it = cache_.find(key);
    if (it != cache_.end()) return it->second;
    if (cache_.size() >= kMaxCachedStatements) clearStatementCache();

    Prepared p{"efet_s" + std::to_string(++counter_), types};
    bool savepoint = inTransaction();
    if (savepoint) execScript("SAVEPOINT efet_prepare");
    PgResult r(PQprepare(conn_, p.name.c_str(), rw.text.c_str(), static_cast<int>(types.size()), types.data()));
    if (!r.ok() && r.state() == "42P18") {
      // A parameter whose type the context does not tell (`:P IS NULL`): send
      // the untyped ones as text.
      if (savepoint) execScript("ROLLBACK TO SAVEPOINT efet_prepare");
      for (auto& t : p.types)
        if (t == kUnknown) t = kText;
      r = PgResult(PQprepare(conn_, p.name.c_str(), rw.text.c_str(), static_cast<int>(p.types.size()),
                             p.types.data()));
    }
    if (!r.ok()) {
      if (savepoint && PQstatus(conn_) == CONNECTION_OK) {
        PgResult(PQexec(conn_, "ROLLBACK TO SAVEPOINT efet_prepare"));
        PgResult(PQexec(conn_, "RELEASE SAVEPOINT efet_prepare"));
      }
      fail(r, sql);
    }
    if (savepoint) execScript("RELEASE SAVEPOINT efet_prepare");
    return cache_.emplace(std::move(key), std::move(p)).first->second;
  }

  PgResult run(std::string_view sqlView, const Params& params) {
    if (!inTransaction()) ensureConnected();
    std::string sql(sqlView);
    RewrittenSql rw = RewriteToPositional(sql);
    Bound b = bind(rw, params, sql);
    for (int attempt = 0;; ++attempt) {
      const Prepared& p = prepare(sql, rw, b.types);
      std::string name = p.name;
      PgResult r(PQexecPrepared(conn_, name.c_str(), static_cast<int>(b.values.size()), b.values.data(),
                                b.lengths.data(), b.formats.data(), 0));
      if (r.ok()) return r;
      // A schema change can invalidate a kept plan; outside a transaction it is
      // safe to prepare afresh once.
      if (attempt == 0 && r.state() == "0A000" && !inTransaction()) {
        dropCached(name);
        continue;
      }
      fail(r, sql);
    }
  }

  void dropCached(const std::string& name) {
    for (auto it = cache_.begin(); it != cache_.end(); ++it)
      if (it->second.name == name) {
        PgResult(PQexec(conn_, ("DEALLOCATE " + name).c_str()));
        cache_.erase(it);
        return;
      }
  }

  PGconn* conn_ = nullptr;
  std::unordered_map<std::string, Prepared> cache_;
  uint64_t counter_ = 0;
};

}  // namespace

std::unique_ptr<Connection> OpenPostgres(const std::string& conninfo) {
  return std::make_unique<PostgresConnection>(conninfo);
}

}  // namespace db
