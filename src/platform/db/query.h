#pragma once
// The screens' view of the branch database: the shared connection module
// dtmDBGeral and the read-only lookup query TADOIBQuery, which is a data set a
// data source can show.
//
// Both belong to the user-interface thread: dtmDBGeral's connection is used by
// the screens only (see connection.h: one Connection per thread).

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/data/dataset.h"
#include "platform/db/connection.h"

namespace db {

// The host's shared connection module: one per process, configured by the host
// at start with the branch database's connection string.
class TdtmDBGeral {
public:
  // Opens the connection (closing any previous one).
  void Configure(std::string_view connectionString);
  // Adopts an already opened connection.
  void SetConnection(std::unique_ptr<Connection> c);
  void Disconnect();
  bool Connected() const { return conn_ != nullptr; }
  // DbError when the host has not configured it.
  Connection& Conn() const;

private:
  std::unique_ptr<Connection> conn_;
};

extern TdtmDBGeral dtmDBGeral;

// A list of SQL lines, as the platform's string lists: one line per element,
// Text joins them with line breaks.
class TSQLStrings {
public:
  TSQLStrings() = default;
  TSQLStrings(std::initializer_list<std::string> lines) : lines_(lines) {}
  TSQLStrings& operator=(std::initializer_list<std::string> lines) {
    lines_ = lines;
    return *this;
  }
  TSQLStrings& operator=(std::string_view text) {
    SetText(text);
    return *this;
  }
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }
  size_t Count() const { return lines_.size(); }
  const std::string& operator[](size_t i) const { return lines_.at(i); }
  // Every line followed by a line break.
  std::string Text() const;
  // Splits at line breaks (LF or CR LF).
  void SetText(std::string_view text);
  // No line holds anything but blanks.
  bool IsBlank() const;

private:
  std::vector<std::string> lines_;
};

// A parameter of a query. Clear and a never-set parameter both bind NULL.
class TADOParameter {
public:
  explicit TADOParameter(std::string name) : name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  const rtl::Variant& Value() const { return value_; }
  void SetValue(const rtl::Variant& v) { value_ = v; }
  std::string AsString() const { return value_.toString(); }
  void SetAsString(std::string_view s) { value_ = rtl::Variant(s); }
  rtl::TDateTime AsDateTime() const { return value_.toDateTime(); }
  void SetAsDateTime(rtl::TDateTime d) { value_ = rtl::Variant::FromDate(d); }
  double AsFloat() const { return value_.toDouble(); }
  void SetAsFloat(double d) { value_ = rtl::Variant(d); }
  int64_t AsInteger() const { return value_.toInt(); }
  void SetAsInteger(int64_t i) { value_ = rtl::Variant(static_cast<long long>(i)); }
  bool IsNull() const { return value_.isNullOrEmpty(); }
  void Clear() { value_ = rtl::Variant::Null(); }

private:
  std::string name_;
  rtl::Variant value_;
};

// A read-only lookup query holding one SQL text per dialect. Which text runs:
//   SQLite and PostgreSQL run `SQL`; when `SQL` is blank they run `SQL_IB`.
// `SQL` is the generic text; `SQL_IB` may use constructs of its own server
// (such as one-row table functions), so it is only the fallback. `SQL_ORACLE`
// and `SQL_MSSQL` are kept for the other dialects and never run here.
//
// Fields: when the screen declared fields (AddField), the result's columns fill
// them by name without regard to case and other columns are ignored; a declared
// field the result lacks stays Null. With no declared field, fields are made
// from the result.
class TADOIBQuery : public data::TClientDataSet {
public:
  explicit TADOIBQuery(std::string name = {});

  TSQLStrings SQL, SQL_ORACLE, SQL_MSSQL, SQL_IB;

  // The connection; dtmDBGeral's when none was set.
  void SetConnection(Connection* c) { conn_ = c; }
  Connection& Conn() const;

  // Parameters are those the texts name; EDatabaseError for another name.
  TADOParameter& ParamByName(std::string_view name);
  TADOParameter* FindParam(std::string_view name);
  std::vector<std::string> ParamNames() const;

  // The text that runs on a dialect, by the rule above; EDatabaseError when blank.
  std::string TextFor(Dialect d) const;

  // Runs the query and loads its rows; does nothing when already open.
  void Open() override;
  void Close() override;

private:
  void syncParams();
  void load(const Result& r);
  std::vector<std::unique_ptr<TADOParameter>> params_;
  Connection* conn_ = nullptr;
  bool madeFields_ = false;  // the fields were made from a result, not declared
};

}  // namespace db
