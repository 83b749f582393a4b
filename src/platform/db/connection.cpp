#include "connection.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "platform/rtl/text.h"

namespace db {

// Defined by the backends.
std::unique_ptr<Connection> OpenSqlite(const std::string& path);
std::unique_ptr<Connection> OpenPostgres(const std::string& conninfo);

namespace {
thread_local ThreadDbTime threadDbTime;
thread_local int threadDbDepth = 0;  // opening a connection runs statements of its own: count the outer call once

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

ThreadDbTime CurrentThreadDbTime() { return threadDbTime; }

detail::DbClock::DbClock() : start_(threadDbDepth++ == 0 ? nowNs() : -1) {}
detail::DbClock::~DbClock() {
  --threadDbDepth;
  if (start_ < 0) return;
  threadDbTime.nanoseconds += nowNs() - start_;
  ++threadDbTime.statements;
}

const char* DialectName(Dialect d) { return d == Dialect::SQLite ? "SQLite" : "PostgreSQL"; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) { return rtl::SameText(a, b); }

namespace {
std::string_view stripColon(std::string_view name) {
  if (!name.empty() && name.front() == ':') name.remove_prefix(1);
  return name;
}
}  // namespace

// ---- Params

Params::Params(std::initializer_list<std::pair<std::string, Variant>> items) {
  for (const auto& [name, value] : items) set(name, value);
}

Params& Params::set(std::string_view name, const Variant& value) {
  name = stripColon(name);
  for (auto& item : items_)
    if (EqualsIgnoreCase(item.first, name)) {
      item.second = value;
      return *this;
    }
  items_.emplace_back(std::string(name), value);
  return *this;
}

const Variant* Params::find(std::string_view name) const {
  name = stripColon(name);
  for (const auto& item : items_)
    if (EqualsIgnoreCase(item.first, name)) return &item.second;
  return nullptr;
}

// ---- Result

int Result::columnIndex(std::string_view name) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (EqualsIgnoreCase(columns[i].name, name)) return static_cast<int>(i);
  return -1;
}

const Variant& Result::at(size_t row, std::string_view column) const {
  int c = columnIndex(column);
  if (c < 0) throw DbError(ErrorKind::Usage, "Column '" + std::string(column) + "' is not in the result");
  if (row >= rows.size()) throw DbError(ErrorKind::Usage, "Row " + std::to_string(row) + " is out of range");
  return rows[row][static_cast<size_t>(c)];
}

// ---- Transaction

Transaction::Transaction(Connection& c) : c_(c) {
  c_.begin();
  active_ = true;
}

Transaction::~Transaction() {
  if (!active_) return;
  try {
    c_.rollback();
  } catch (...) {
    // A destructor must not throw; a lost connection has rolled back anyway.
  }
}

void Transaction::commit() {
  if (!active_) throw DbError(ErrorKind::Usage, "The transaction is no longer active");
  active_ = false;  // a failed commit has ended the transaction too
  c_.commit();
}

void Transaction::rollback() {
  if (!active_) return;
  active_ = false;
  c_.rollback();
}

// ---- Open

std::unique_ptr<Connection> Open(std::string_view cs) {
  detail::DbClock clock;
  auto starts = [&](std::string_view prefix) {
    return cs.size() >= prefix.size() && EqualsIgnoreCase(cs.substr(0, prefix.size()), prefix);
  };
  if (starts("sqlite:")) {
    std::string path(cs.substr(7));
    if (path.empty()) throw DbError(ErrorKind::Usage, "The SQLite connection string names no file");
    return OpenSqlite(path);
  }
  if (starts("postgresql://") || starts("postgres://") || cs.find('=') != std::string_view::npos)
    return OpenPostgres(std::string(cs));
  // The string itself is not echoed: it may hold a password.
  throw DbError(ErrorKind::Usage,
                "Unrecognised database connection string: expected \"sqlite:PATH\" or a PostgreSQL conninfo");
}

// ---- SQL scanning

namespace {

bool identStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool identChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Calls onParam(start, end, name) for each parameter; start..end spans ":NAME".
template <class F>
void scanParams(std::string_view s, F onParam) {
  size_t i = 0, n = s.size();
  while (i < n) {
    char c = s[i];
    if (c == '\'') {
      // E'...' strings of PostgreSQL treat a backslash as an escape.
      bool backslash = i > 0 && (s[i - 1] == 'E' || s[i - 1] == 'e') && (i < 2 || !identChar(s[i - 2]));
      ++i;
      while (i < n) {
        if (backslash && s[i] == '\\') {
          i += 2;
          continue;
        }
        if (s[i] == '\'') {
          if (i + 1 < n && s[i + 1] == '\'') {
            i += 2;
            continue;
          }
          break;
        }
        ++i;
      }
      ++i;
    } else if (c == '"') {
      ++i;
      while (i < n) {
        if (s[i] == '"') {
          if (i + 1 < n && s[i + 1] == '"') {
            i += 2;
            continue;
          }
          break;
        }
        ++i;
      }
      ++i;
    } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      while (i < n && s[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      size_t end = s.find("*/", i + 2);
      i = end == std::string_view::npos ? n : end + 2;
    } else if (c == '$' && (i == 0 || !identChar(s[i - 1])) && i + 1 < n && (s[i + 1] == '$' || identStart(s[i + 1]))) {
      // Dollar quoting: $tag$ ... $tag$
      size_t j = i + 1;
      while (j < n && identChar(s[j])) ++j;
      if (j < n && s[j] == '$') {
        std::string_view tag = s.substr(i, j - i + 1);
        size_t end = s.find(tag, j + 1);
        i = end == std::string_view::npos ? n : end + tag.size();
      } else {
        i = j;
      }
    } else if (c == ':' && i + 1 < n && s[i + 1] == ':') {
      i += 2;  // a cast: the type name that follows is text
    } else if (c == ':' && i + 1 < n && identStart(s[i + 1])) {
      size_t j = i + 1;
      while (j < n && identChar(s[j])) ++j;
      onParam(i, j, s.substr(i + 1, j - i - 1));
      i = j;
    } else {
      ++i;
    }
  }
}

}  // namespace

std::vector<std::string> ParamNames(std::string_view sql) {
  std::vector<std::string> names;
  scanParams(sql, [&](size_t, size_t, std::string_view name) {
    for (const auto& known : names)
      if (EqualsIgnoreCase(known, name)) return;
    names.emplace_back(name);
  });
  return names;
}

RewrittenSql RewriteToPositional(std::string_view sql) {
  RewrittenSql out;
  size_t copied = 0;
  scanParams(sql, [&](size_t start, size_t end, std::string_view name) {
    size_t index = 0;
    while (index < out.names.size() && !EqualsIgnoreCase(out.names[index], name)) ++index;
    if (index == out.names.size()) out.names.emplace_back(name);
    out.text.append(sql.substr(copied, start - copied));
    out.text += '$';
    out.text += std::to_string(index + 1);
    copied = end;
  });
  out.text.append(sql.substr(copied));
  return out;
}

// ---- Dates. TDateTime counts days from 30/12/1899; for dates before it the
// integer part is the (negative) day and the fraction's magnitude is the time.

namespace {

constexpr int64_t kMsPerDay = 86400000;

int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

const int64_t kEpoch = daysFromCivil(1899, 12, 30);

bool validDate(int64_t y, int m, int d) {
  static const int len[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= len[m - 1] + (m == 2 && leap ? 1 : 0);
}

}  // namespace

std::string FormatIsoDateTime(rtl::TDateTime value) {
  // 01/01/0001 to 31/12/9999: beyond them the day does not fit the calendar
  // arithmetic (nor the databases' date types).
  if (!(value >= -693593.0 && value < 2958466.0))
    throw DbError(ErrorKind::Other, "Data fora do intervalo de 01/01/0001 a 31/12/9999.");
  double dayPart = std::trunc(value);
  double frac = std::fabs(value - dayPart);
  int64_t day = static_cast<int64_t>(dayPart);
  int64_t ms = static_cast<int64_t>(std::llround(frac * kMsPerDay));
  if (ms >= kMsPerDay) {
    ++day;
    ms = 0;
  }
  int64_t y;
  unsigned m, d;
  civilFromDays(day + kEpoch, y, m, d);
  char buf[48];
  if (ms == 0) {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
  } else {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02d:%02d:%02d.%03d", static_cast<long long>(y), m, d,
                  static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                  static_cast<int>(ms % 1000));
  }
  return buf;
}

bool ParseIsoDateTime(std::string_view t, rtl::TDateTime& out) {
  size_t i = 0;
  auto digits = [&](size_t count, int& v) {
    if (i + count > t.size()) return false;
    v = 0;
    for (size_t k = 0; k < count; ++k) {
      char c = t[i + k];
      if (c < '0' || c > '9') return false;
      v = v * 10 + (c - '0');
    }
    i += count;
    return true;
  };
  auto expect = [&](char c) {
    if (i < t.size() && t[i] == c) {
      ++i;
      return true;
    }
    return false;
  };
  int y, mo, d, h = 0, mi = 0, s = 0;
  double fraction = 0;
  if (!digits(4, y) || !expect('-') || !digits(2, mo) || !expect('-') || !digits(2, d)) return false;
  if (!validDate(y, mo, d)) return false;
  if (i < t.size() && (t[i] == ' ' || t[i] == 'T')) {
    ++i;
    if (!digits(2, h) || !expect(':') || !digits(2, mi)) return false;
    if (expect(':')) {
      if (!digits(2, s)) return false;
      if (expect('.')) {
        double scale = 0.1;
        size_t start = i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
          fraction += (t[i] - '0') * scale;
          scale /= 10;
          ++i;
        }
        if (i == start) return false;
      }
    }
    if (h > 23 || mi > 59 || s > 59) return false;
    // A time-zone suffix (timestamptz): the wall-clock time is kept.
    if (i < t.size() && (t[i] == 'Z' || t[i] == '+' || t[i] == '-')) {
      ++i;
      while (i < t.size() && (std::isdigit(static_cast<unsigned char>(t[i])) || t[i] == ':')) ++i;
    }
  }
  if (i != t.size()) return false;
  int64_t day = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) - kEpoch;
  double ms = std::round(((h * 60.0 + mi) * 60.0 + s + fraction) * 1000.0);
  double time = ms / kMsPerDay;
  out = day >= 0 ? static_cast<double>(day) + time : static_cast<double>(day) - time;
  return true;
}

}  // namespace db
