// SQLite backend: parameters are bound by name natively; statements are kept
// prepared per SQL text.

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <unordered_map>

#include "connection.h"

namespace db {

namespace {

constexpr int kBusyTimeoutMs = 15000;
constexpr size_t kMaxCachedStatements = 200;

ErrorKind kindOf(int code) {
  // A read snapshot that cannot become a write one: another writer got there first.
  if (code == SQLITE_BUSY_SNAPSHOT) return ErrorKind::Conflict;
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ErrorKind::Busy;
    case SQLITE_CONSTRAINT:
      return ErrorKind::Constraint;
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_IOERR:
      return ErrorKind::Connection;
    case SQLITE_ERROR:
      return ErrorKind::Syntax;
    default:
      return ErrorKind::Other;
  }
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The column's type from its declaration, following SQLite's own affinity rules
// plus the date and boolean conventions of this system.
bool declaredType(const char* decl, ColumnType& out) {
  if (!decl || !*decl) return false;
  std::string d = upper(decl);
  auto has = [&](const char* w) { return d.find(w) != std::string::npos; };
  if (has("DATE") || has("TIMESTAMP")) out = ColumnType::DateTime;
  else if (has("BOOL")) out = ColumnType::Boolean;
  else if (has("INT")) out = ColumnType::Integer;
  else if (has("CHAR") || has("CLOB") || has("TEXT")) out = ColumnType::Text;
  else if (has("BLOB")) out = ColumnType::Blob;
  else if (has("REAL") || has("FLOA") || has("DOUB") || has("NUM") || has("DEC")) out = ColumnType::Float;
  else return false;
  return true;
}

ColumnType storageType(int t) {
  switch (t) {
    case SQLITE_INTEGER:
      return ColumnType::Integer;
    case SQLITE_FLOAT:
      return ColumnType::Float;
    case SQLITE_BLOB:
      return ColumnType::Blob;
    default:
      return ColumnType::Text;
  }
}

class SqliteConnection final : public Connection {
public:
  explicit SqliteConnection(const std::string& path) {
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
      std::string msg = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close(db_);
      db_ = nullptr;
      throw DbError(ErrorKind::Connection, "Could not open the SQLite database: " + msg, {}, sqlite3_errstr(rc));
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    try {
      execScript("PRAGMA foreign_keys = ON");
      if (path != ":memory:") query("PRAGMA journal_mode = WAL", {});
    } catch (...) {
      sqlite3_close(db_);
      throw;
    }
  }

  ~SqliteConnection() override {
    clearStatementCache();
    sqlite3_close(db_);
  }

  Dialect dialect() const override { return Dialect::SQLite; }

  int64_t exec(std::string_view sql, const Params& params) override {
    detail::DbClock clock;
    Stmt s(*this, sql, params);
    while (s.step()) {
    }
    return sqlite3_changes64(db_);
  }

  Result query(std::string_view sql, const Params& params) override {
    detail::DbClock clock;
    Stmt s(*this, sql, params);
    Result r;
    // The first step may recompile the statement after a schema change, so the
    // columns are read after it.
    bool more = s.step();
    int n = sqlite3_column_count(s.st);
    std::vector<bool> typed(static_cast<size_t>(n), false);
    for (int i = 0; i < n; ++i) {
      Column c;
      c.name = sqlite3_column_name(s.st, i);
      typed[static_cast<size_t>(i)] = declaredType(sqlite3_column_decltype(s.st, i), c.type);
      r.columns.push_back(std::move(c));
    }
    for (; more; more = s.step()) {
      std::vector<Variant> row;
      row.reserve(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) {
        auto& col = r.columns[static_cast<size_t>(i)];
        int storage = sqlite3_column_type(s.st, i);
        // An expression column has no declaration: its first value decides.
        if (!typed[static_cast<size_t>(i)] && storage != SQLITE_NULL) {
          col.type = storageType(storage);
          typed[static_cast<size_t>(i)] = true;
        }
        row.push_back(read(s.st, i, storage, col.type));
      }
      r.rows.push_back(std::move(row));
    }
    return r;
  }

  void execScript(std::string_view sql) override {
    detail::DbClock clock;
    std::string text(sql);
    char* err = nullptr;
    int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
      std::string msg = err ? err : sqlite3_errstr(rc);
      sqlite3_free(err);
      throw DbError(kindOf(sqlite3_extended_errcode(db_)), msg, text, sqlite3_errstr(sqlite3_extended_errcode(db_)));
    }
  }

  void begin() override {
    if (inTransaction()) throw DbError(ErrorKind::Usage, "A transaction is already running on this connection");
    // IMMEDIATE takes the write lock now, where the busy timeout applies; a
    // deferred transaction that later writes could fail at once instead.
    execScript("BEGIN IMMEDIATE");
  }
  bool beginRead() override {
    if (inTransaction()) throw DbError(ErrorKind::Usage, "A transaction is already running on this connection");
    execScript("BEGIN DEFERRED");
    return true;
  }
  void commit() override {
    if (!inTransaction()) throw DbError(ErrorKind::Usage, "No transaction is running on this connection");
    try {
      execScript("COMMIT");
    } catch (...) {
      if (inTransaction()) execScript("ROLLBACK");
      throw;
    }
  }
  void rollback() override {
    if (inTransaction()) execScript("ROLLBACK");
  }
  bool inTransaction() const override { return sqlite3_get_autocommit(db_) == 0; }

  int64_t lastInsertId() override { return sqlite3_last_insert_rowid(db_); }

  void clearStatementCache() override {
    for (auto& [sql, st] : cache_) sqlite3_finalize(st);
    cache_.clear();
  }
  size_t cachedStatements() const override { return cache_.size(); }

private:
  // A cached statement bound for one run; reset when the run ends.
  struct Stmt {
    SqliteConnection& c;
    sqlite3_stmt* st = nullptr;
    std::string sql;

    Stmt(SqliteConnection& conn, std::string_view text, const Params& params) : c(conn), sql(text) {
      st = c.prepare(sql);
      int count = sqlite3_bind_parameter_count(st);
      for (int i = 1; i <= count; ++i) {
        const char* pname = sqlite3_bind_parameter_name(st, i);
        if (!pname) {
          finish();
          throw DbError(ErrorKind::Usage, "Positional parameters are not supported; name them :P_NAME", sql);
        }
        std::string_view name(pname + 1);  // without the prefix character
        const Variant* v = params.find(name);
        if (!v) {
          finish();
          throw DbError(ErrorKind::Usage, "No value given for the parameter " + std::string(pname), sql);
        }
        bind(i, name, *v);
      }
    }
    ~Stmt() { finish(); }

    void finish() {
      if (!st) return;
      sqlite3_reset(st);
      sqlite3_clear_bindings(st);
      st = nullptr;
    }

    bool step() {
      int rc = sqlite3_step(st);
      if (rc == SQLITE_ROW) return true;
      if (rc == SQLITE_DONE) return false;
      int code = sqlite3_extended_errcode(c.db_);
      std::string msg = sqlite3_errmsg(c.db_);
      finish();
      throw DbError(kindOf(code), msg, sql, sqlite3_errstr(code));
    }

    void bind(int i, std::string_view name, const Variant& v) {
      int rc = SQLITE_OK;
      switch (v.type()) {
        case rtl::VarType::Empty:
        case rtl::VarType::Null:
          rc = sqlite3_bind_null(st, i);
          break;
        case rtl::VarType::String: {
          const std::string& s = v.asStringRef();
          rc = sqlite3_bind_text64(st, i, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
          break;
        }
        case rtl::VarType::Integer:
          rc = sqlite3_bind_int64(st, i, v.toInt());
          break;
        case rtl::VarType::Double:
          rc = sqlite3_bind_double(st, i, v.toDouble());
          break;
        case rtl::VarType::Boolean:
          rc = sqlite3_bind_int(st, i, v.toBool() ? 1 : 0);
          break;
        case rtl::VarType::DateTime: {
          std::string s = FormatIsoDateTime(v.toDateTime());
          rc = sqlite3_bind_text64(st, i, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
          break;
        }
        case rtl::VarType::Packet: {
          const std::string& b = v.asPacket().bytes();
          rc = sqlite3_bind_blob64(st, i, b.data(), b.size(), SQLITE_TRANSIENT);
          break;
        }
        case rtl::VarType::Array:
          finish();
          throw DbError(ErrorKind::Usage, "The parameter " + std::string(name) + " holds an array, which cannot be bound",
                        sql);
      }
      if (rc != SQLITE_OK) {
        finish();
        throw DbError(kindOf(rc), sqlite3_errmsg(c.db_), sql, sqlite3_errstr(rc));
      }
    }
  };

  sqlite3_stmt* prepare(const std::string& sql) {
    auto it = cache_.find(sql);
    if (it != cache_.end()) return it->second;
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &st, &tail);
    if (rc != SQLITE_OK) {
      int code = sqlite3_extended_errcode(db_);
      throw DbError(kindOf(code), sqlite3_errmsg(db_), sql, sqlite3_errstr(code));
    }
    if (!st) throw DbError(ErrorKind::Usage, "The SQL text holds no statement", sql);
    for (const char* p = tail; p && *p; ++p)
      if (!std::isspace(static_cast<unsigned char>(*p)) && *p != ';') {
        sqlite3_finalize(st);
        throw DbError(ErrorKind::Usage, "Only one statement may be run at a time (use execScript for scripts)", sql);
      }
    if (cache_.size() >= kMaxCachedStatements) clearStatementCache();
    cache_.emplace(sql, st);
    return st;
  }

  static Variant read(sqlite3_stmt* st, int i, int storage, ColumnType type) {
    switch (storage) {
      case SQLITE_NULL:
        return Variant::Null();
      case SQLITE_INTEGER: {
        int64_t v = sqlite3_column_int64(st, i);
        if (type == ColumnType::Float) return Variant(static_cast<double>(v));
        if (type == ColumnType::Boolean) return Variant(v != 0);
        return Variant(static_cast<long long>(v));
      }
      case SQLITE_FLOAT:
        return Variant(sqlite3_column_double(st, i));
      case SQLITE_BLOB: {
        const void* p = sqlite3_column_blob(st, i);
        int n = sqlite3_column_bytes(st, i);
        return Variant(rtl::DataPacket(std::string(static_cast<const char*>(p), static_cast<size_t>(n))));
      }
      default: {
        const unsigned char* p = sqlite3_column_text(st, i);
        int n = sqlite3_column_bytes(st, i);
        std::string_view text(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
        if (type == ColumnType::DateTime) {
          rtl::TDateTime d;
          if (ParseIsoDateTime(text, d)) return Variant::FromDate(d);
        }
        return Variant(text);
      }
    }
  }

  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
};

}  // namespace

std::unique_ptr<Connection> OpenSqlite(const std::string& path) { return std::make_unique<SqliteConnection>(path); }

}  // namespace db
