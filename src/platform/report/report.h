#pragma once
// The report engine: report definitions kept as JSON files beside the
// application, their query parameters, running a definition on a branch
// database connection, and the laid-out document that printers, previews and
// the PDF and CSV writers render.
//
// Values never become SQL text. A list parameter (several service codes) is
// expanded into one placeholder per value (:P_CDSERVFILI_1, :P_CDSERVFILI_2...)
// and each value is bound.

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/connection.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/variant.h"

namespace report {

// A definition that cannot be read, or a report run with an unusable value.
class EReportError : public rtl::Exception {
public:
  using rtl::Exception::Exception;
};

// ---------------------------------------------------------------------------
// Definitions.

enum class ParamType { String, Date, Float, Integer, List };

struct ParamDef {
  std::string Name;
  ParamType Type = ParamType::String;
};

enum class Align { Left, Right, Center };
enum class ColumnKind { Text, Number, Date };

struct ColumnDef {
  std::string Field;  // a column of the query's result
  std::string Title;
  std::string Band;   // a title spanning the consecutive columns that share it
  double Width = 20;  // millimetres
  Align Alignment = Align::Left;
  ColumnKind Kind = ColumnKind::Text;
  std::string Format;  // FormatFloat pattern for numbers, FormatDateTime pattern for dates
  bool Sum = false;    // summed in subtotals and the total
};

struct GroupDef {
  std::string Field;   // a new group starts when this field's value changes
  std::string Header;  // template; {FIELD} is a value of the group's first row
  std::string Footer;  // template of the subtotal line's label
};

struct ReportDefinition {
  std::string Code;
  std::string Title;
  std::vector<ParamDef> Params;
  // SQL per dialect: "sqlite", "postgresql", or "default" for both.
  std::map<std::string, std::string> Sql;
  // A one-row query whose columns the header lines may name (the branch name).
  std::map<std::string, std::string> HeaderSql;
  // Lines under the title. {P_NAME} is a parameter's value, {FIELD} a column of
  // the header query, {P_NAME|text} gives text when the value is empty.
  std::vector<std::string> Header;
  std::vector<ColumnDef> Columns;
  std::vector<GroupDef> Groups;  // one level
  std::string TotalLabel;        // label of the final total line; empty: no total
  bool Landscape = true;
  std::string SourcePath;  // file the definition was read from

  const ParamDef* FindParam(std::string_view name) const;
  // The SQL that runs on a dialect; EReportError when there is none.
  const std::string& SqlFor(db::Dialect d) const;
};

// Reads a definition; EReportError naming the file and the problem.
ReportDefinition LoadDefinition(const std::string& path);
ReportDefinition ParseDefinition(std::string_view json, const std::string& sourceName = "<text>");

struct ReportEntry {
  std::string Code, Title, Path;
  std::vector<std::string> ParamNames;
};

// The folders searched for definitions, in order. "<CODE>.json" is the
// definition of a code; any other "*.json" whose code matches is listed too.
class ReportLibrary {
public:
  ReportLibrary() = default;
  explicit ReportLibrary(std::vector<std::string> folders) : folders_(std::move(folders)) {}

  // $EFET_REPORTS_PATH (folders separated by ':'), then "reports" beside the
  // running program and "../share/efetivos/reports" above it.
  static ReportLibrary Default();

  void AddFolder(std::string folder) { folders_.push_back(std::move(folder)); }
  const std::vector<std::string>& Folders() const { return folders_; }

  // Path of the definition of a code, or "" when no folder has it.
  std::string Find(std::string_view code) const;
  // EReportError when absent.
  ReportDefinition Load(std::string_view code) const;
  // Every readable definition found, by code and title; a file name found in
  // an earlier folder hides the same name in later ones.
  std::vector<ReportEntry> Entries() const;

private:
  std::vector<std::string> folders_;
};

// ---------------------------------------------------------------------------
// Parameters of one run: those the definition declares, each with a value.

class TReportParam {
public:
  TReportParam(std::string name, ParamType type) : name_(std::move(name)), type_(type) {}
  const std::string& Name() const { return name_; }
  ParamType Type() const { return type_; }
  const rtl::Variant& Value() const { return value_; }
  void SetValue(const rtl::Variant& v) { value_ = v; }
  std::string AsString() const { return value_.toString(); }
  void SetAsString(std::string_view s) { value_ = rtl::Variant(s); }
  rtl::TDateTime AsDateTime() const { return value_.toDateTime(); }
  void SetAsDateTime(rtl::TDateTime d) { value_ = rtl::Variant::FromDate(d); }
  void SetAsFloat(double d) { value_ = rtl::Variant(d); }
  void SetAsInteger(long long i) { value_ = rtl::Variant(i); }
  void Clear() { value_ = rtl::Variant::Null(); }
  bool IsNull() const { return value_.isNullOrEmpty(); }
  // The values of a list parameter: a comma-separated text (as the host's list
  // lookup makes it) or an array; blanks around each value are dropped.
  std::vector<std::string> ListValues() const;

private:
  std::string name_;
  ParamType type_;
  rtl::Variant value_;
};

class TReportParams {
public:
  TReportParams() = default;
  explicit TReportParams(const ReportDefinition& def);
  bool Exist(std::string_view name) const { return Find(name) != nullptr; }
  // EReportError when the report has no such parameter.
  TReportParam& ParamByName(std::string_view name);
  const TReportParam& ParamByName(std::string_view name) const;
  TReportParam* Find(std::string_view name);
  const TReportParam* Find(std::string_view name) const;
  size_t Count() const { return items_.size(); }
  TReportParam& operator[](size_t i) { return items_.at(i); }
  const TReportParam& operator[](size_t i) const { return items_.at(i); }

private:
  std::vector<TReportParam> items_;
};

// Whether the report's parameter list has a parameter of that name.
inline bool ExistParam(const TReportParams& params, std::string_view name) { return params.Exist(name); }

// The statement that runs: the SQL with list parameters expanded, and the
// values bound to every placeholder.
struct BoundQuery {
  std::string Sql;
  db::Params Values;
};
BoundQuery BindQuery(std::string_view sql, const ReportDefinition& def, const TReportParams& params);

// ---------------------------------------------------------------------------
// The laid-out document.

enum class LineKind { Title, Header, BandTitles, ColumnTitles, GroupHeader, Detail, Subtotal, Total, PageFooter };

struct Cell {
  std::string Text;
  rtl::Variant Value;  // the value behind a detail, subtotal or total cell
};

struct Line {
  LineKind Kind = LineKind::Detail;
  // For column lines one cell per column (BandTitles: per column, the band text
  // on the first column of each band); otherwise one cell with the text.
  std::vector<Cell> Cells;
};

struct Page {
  std::vector<Line> Lines;
};

struct ColumnLayout {
  std::string Title, Band;
  double Left = 0, Width = 0;  // millimetres from the left margin
  Align Alignment = Align::Left;
  ColumnKind Kind = ColumnKind::Text;
};

struct Document {
  std::string Code, Title;
  double PageWidth = 297, PageHeight = 210, Margin = 12;  // millimetres
  double LineHeight = 5.0;
  std::vector<ColumnLayout> Columns;
  std::vector<Page> Pages;
  // Every body line in order (headers, details, subtotals, total), unpaged,
  // for the CSV writer and for checks.
  std::vector<Line> Body;
};

// Runs a definition: the query with the bound parameters, then the layout.
// A parameter left without value binds NULL.
Document Run(const ReportDefinition& def, const TReportParams& params, db::Connection& conn);
// The layout of rows already read (used by Run).
Document Layout(const ReportDefinition& def, const TReportParams& params, const db::Result& rows,
                const std::map<std::string, rtl::Variant>& headerFields);

// ---------------------------------------------------------------------------
// Outputs.

// PDF with the standard Helvetica font in WinAnsiEncoding (accented Portuguese
// letters print as typed). EReportError when the file cannot be written.
void WritePdf(const Document& doc, const std::string& path);
// UTF-8 with a byte order mark, ";" between fields, decimal comma, for a
// spreadsheet set to Brazilian Portuguese: the column titles, then every
// detail, subtotal and total line.
std::string CsvText(const Document& doc);
void WriteCsv(const Document& doc, const std::string& path);

// UTF-8 to Windows-1252; a character outside it becomes '?'.
std::string Utf8ToWinAnsi(std::string_view text);

}  // namespace report
