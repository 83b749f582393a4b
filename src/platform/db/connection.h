#pragma once
// The branch database behind one small interface: SQLite (one file, the
// embedded default) or PostgreSQL (libpq). Callers write portable SQL with
// named parameters `:P_NAME`; values are always bound, never spliced into the
// SQL text, and dialect details stay inside this folder.
//
// Concurrency: a Connection is not thread-safe (its statement cache and its
// transaction state are per connection). Use one Connection per thread; several
// connections, in one process or many, may share a database file or server.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/variant.h"

namespace db {

using rtl::Variant;

enum class Dialect { SQLite, PostgreSQL };

const char* DialectName(Dialect d);

// What went wrong, coarsely, so that callers can react without parsing texts.
enum class ErrorKind {
  Other,
  Syntax,       // malformed SQL, unknown table or column
  Constraint,   // unique, foreign key, not null or check violation
  Conflict,     // serialization failure or deadlock: the data changed under the transaction
  Busy,         // a lock was not granted in time (lock timeout, SQLite busy): retry later
  Connection,   // could not connect, or the connection was lost
  Usage,        // misuse of this interface: bad connection string, missing parameter...
};

// A database error. The message carries the database's own text; the SQL text is
// kept apart (sql()) and parameter values are never part of either.
class DbError : public rtl::Exception {
public:
  DbError(ErrorKind kind, const std::string& message, std::string sql = {}, std::string code = {})
      : rtl::Exception(message), kind_(kind), sql_(std::move(sql)), code_(std::move(code)) {}
  ErrorKind kind() const { return kind_; }
  const std::string& sql() const { return sql_; }
  // SQLSTATE for PostgreSQL, the extended result code's name for SQLite.
  const std::string& code() const { return code_; }

private:
  ErrorKind kind_;
  std::string sql_;
  std::string code_;
};

// Parameter values by name. Names match without regard to case and may be given
// with or without the leading colon.
class Params {
public:
  Params() = default;
  Params(std::initializer_list<std::pair<std::string, Variant>> items);
  Params& set(std::string_view name, const Variant& value);
  // nullptr when the name was not given.
  const Variant* find(std::string_view name) const;
  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  const std::vector<std::pair<std::string, Variant>>& items() const { return items_; }

private:
  std::vector<std::pair<std::string, Variant>> items_;
};

enum class ColumnType { Text, Integer, Float, Boolean, DateTime, Blob };

struct Column {
  std::string name;  // as the database spells it (PostgreSQL folds unquoted names to lower case)
  ColumnType type = ColumnType::Text;
};

// A fully read result: every row is in memory, so the connection is free again
// as soon as query() returns.
class Result {
public:
  std::vector<Column> columns;
  std::vector<std::vector<Variant>> rows;

  size_t size() const { return rows.size(); }
  bool empty() const { return rows.empty(); }
  // Column index by name, without regard to case; -1 when absent.
  int columnIndex(std::string_view name) const;
  // Value of a row by column name; DbError (Usage) when the column is absent.
  const Variant& at(size_t row, std::string_view column) const;
};

class Connection {
public:
  virtual ~Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  virtual Dialect dialect() const = 0;

  // Runs one statement; returns the number of rows it changed. Every parameter
  // the text names must have a value in params (a Null variant for NULL).
  virtual int64_t exec(std::string_view sql, const Params& params = {}) = 0;
  // Runs one statement and returns its rows (a SELECT, or any statement with
  // RETURNING, which both databases support).
  virtual Result query(std::string_view sql, const Params& params = {}) = 0;
  // Runs several statements separated by semicolons, without parameters
  // (schema scripts).
  virtual void execScript(std::string_view sql) = 0;

  // Transactions do not nest: begin() inside a transaction is a Usage error.
  // SQLite takes the write lock at begin, so a concurrent writer waits (up to the
  // busy timeout) there instead of failing half-way through.
  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;
  virtual bool inTransaction() const = 0;
  // Groups the reads that follow into one snapshot where that is cheaper than a
  // snapshot per statement, and answers whether it did; commit() or rollback()
  // then ends it. SQLite: a deferred transaction, so a run of SELECTs takes the
  // WAL read lock once instead of once per statement (two fcntl calls each).
  // PostgreSQL answers false: there a snapshot would cost two more round trips.
  // A Usage error inside a transaction.
  virtual bool beginRead() = 0;

  // The key generated by the last INSERT on this connection: the rowid in SQLite,
  // lastval() in PostgreSQL (an error when no sequence was used). RETURNING is
  // the portable alternative.
  virtual int64_t lastInsertId() = 0;

  // Drops the prepared statements kept for reuse (they are keyed by SQL text).
  virtual void clearStatementCache() = 0;
  virtual size_t cachedStatements() const = 0;

protected:
  Connection() = default;
};

// Time the calling thread has spent inside the database (statements, scripts,
// transaction ends, opening connections) since it started. The application
// server reads it around a request to report the database's share of it; the
// cost is two clock reads per statement.
struct ThreadDbTime {
  int64_t nanoseconds = 0;
  int64_t statements = 0;
};
ThreadDbTime CurrentThreadDbTime();

namespace detail {
// Adds the lifetime of the object to the calling thread's ThreadDbTime; a clock
// inside another one adds nothing.
class DbClock {
public:
  DbClock();
  ~DbClock();
  DbClock(const DbClock&) = delete;
  DbClock& operator=(const DbClock&) = delete;

private:
  int64_t start_;
};
}  // namespace detail

// Opens a connection:
//   "sqlite:PATH"  a database file, created when missing (":memory:" for a private
//                  in-memory database); WAL journal, foreign keys on, busy timeout.
//   "postgresql://..." or "postgres://..." or a conninfo "host=... port=... dbname=...".
std::unique_ptr<Connection> Open(std::string_view connectionString);

// Rolls back on destruction unless committed: an exception leaving the scope
// leaves the database as it was.
class Transaction {
public:
  explicit Transaction(Connection& c);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit();
  void rollback();
  bool active() const { return active_; }

private:
  Connection& c_;
  bool active_ = false;
};

// ---- SQL text helpers shared by the backends and the query component.

// The distinct parameter names (without the colon, first spelling kept) that a
// text names, in order of first appearance. A parameter is ':' followed by an
// identifier outside string literals, quoted identifiers, comments and '::' casts.
std::vector<std::string> ParamNames(std::string_view sql);

struct RewrittenSql {
  std::string text;                // with $1, $2... in place of :NAME
  std::vector<std::string> names;  // names[i] is $(i+1); one entry per distinct name
};
// Rewrites :NAME to $n for PostgreSQL; the same name (without regard to case)
// gets the same $n.
RewrittenSql RewriteToPositional(std::string_view sql);

// ISO text of a TDateTime: "YYYY-MM-DD" when there is no time part, else
// "YYYY-MM-DD HH:MM:SS.sss" (milliseconds rounded).
std::string FormatIsoDateTime(rtl::TDateTime value);
// Reads "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.fff...]]" (or 'T' between), ignoring
// a trailing time-zone offset. False when the text is not such a date.
bool ParseIsoDateTime(std::string_view text, rtl::TDateTime& out);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace db
