#pragma once
// The engine as a report form uses it: the list of definitions, print,
// preview, save-as and report edit of one report, with the form filling the
// query parameters by name when the engine asks (BeforeGetQueryParams).
//
// Printing, previewing and the designer window belong to the host: they go
// through IReportHost (the desktop shows a print preview; tests script it).

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/report/report.h"

namespace report {

class IReportHost {
public:
  virtual ~IReportHost() = default;
  virtual void Print(const Document& doc) = 0;
  virtual void Preview(const Document& doc) = 0;
  // The designer window over a definition and the document its query made.
  virtual void Design(const ReportDefinition& def, const Document& doc) = 0;
};

// The host service in use (null: print and preview raise EReportError).
IReportHost* ReportHost();
// Replaces it; returns the previous one (not owned).
IReportHost* SetReportHost(IReportHost* host);

// Records what reached the printer, the preview and the designer.
class ScriptedReportHost : public IReportHost {
public:
  ScriptedReportHost();  // installs itself while it lives
  ~ScriptedReportHost() override;
  ScriptedReportHost(const ScriptedReportHost&) = delete;
  ScriptedReportHost& operator=(const ScriptedReportHost&) = delete;
  void Print(const Document& doc) override { Printed.push_back(doc); }
  void Preview(const Document& doc) override { Previewed.push_back(doc); }
  void Design(const ReportDefinition& def, const Document& doc) override { Designed.push_back(doc); }
  std::vector<Document> Printed, Previewed, Designed;

private:
  IReportHost* previous_;
};

// The report designer dialog: before a report's query runs it offers the
// report's parameters to the form. The flag is the form's to set; true asks
// the engine to keep the values without asking the user for the others.
class TReportDesignerDialog {
public:
  using TBeforeGetQueryParams = std::function<void(TReportParams& params, bool& flag)>;
  TBeforeGetQueryParams BeforeGetQueryParams;
  // The parameters of a definition as the form filled them.
  TReportParams QueryParams(const ReportDefinition& def) const;
};

enum class SaveFormat { Pdf, Csv };

class TReportEngine {
public:
  TReportEngine() : library_(ReportLibrary::Default()) {}
  explicit TReportEngine(ReportLibrary library) : library_(std::move(library)) {}

  ReportLibrary& Library() { return library_; }
  TReportDesignerDialog Designer;
  // The branch database the queries run on; dtmDBGeral's when not set.
  void SetConnection(db::Connection* c) { conn_ = c; }
  db::Connection& Conn() const;

  // Code and title of every definition found.
  std::vector<std::pair<std::string, std::string>> ReportNames() const { return library_.List(); }

  // Loads the definition, asks the parameters, runs the query, lays it out.
  Document Prepare(std::string_view code);
  void Print(std::string_view code);
  void Preview(std::string_view code);
  // The format follows the file's extension (.pdf, .csv); EReportError for another.
  void SaveAs(std::string_view code, const std::string& path);
  void SaveAs(std::string_view code, const std::string& path, SaveFormat format);
  // Opens the designer over the report with its data.
  void Edit(std::string_view code);

private:
  ReportLibrary library_;
  db::Connection* conn_ = nullptr;
};

}  // namespace report
