#pragma once
// The engine behind the report-parameters base form: it implements the host's
// report interface (definitions for a report code, print, preview, save-as,
// report edit) over the definitions of a ReportLibrary and the branch
// database. The form's parameter values arrive by name; each is converted to
// the type the definition declares (a list stays a list, bound value by value).
//
// Printing, previewing and the designer window belong to the host: they go
// through IReportHost (the desktop shows a print preview; tests record).

#include <string>
#include <vector>

#include "platform/host/report_engine.h"
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

// The host service in use (null: print, preview and edit raise EReportError).
IReportHost* ReportHost();
// Replaces it; returns the previous one (not owned).
IReportHost* SetReportHost(IReportHost* host);

// Records what reached the printer, the preview and the designer; installs
// itself while it lives.
class RecordingReportHost : public IReportHost {
public:
  RecordingReportHost();
  ~RecordingReportHost() override;
  RecordingReportHost(const RecordingReportHost&) = delete;
  RecordingReportHost& operator=(const RecordingReportHost&) = delete;
  void Print(const Document& doc) override { Printed.push_back(doc); }
  void Preview(const Document& doc) override { Previewed.push_back(doc); }
  void Design(const ReportDefinition&, const Document& doc) override { Designed.push_back(doc); }
  std::vector<Document> Printed, Previewed, Designed;

private:
  IReportHost* previous_;
};

// The values of the form's parameter list under the definition's types.
TReportParams ToReportParams(const ReportDefinition& def, const host::TReportParams& values);

class TReportEngine : public host::IReportEngine {
public:
  TReportEngine() : library_(ReportLibrary::Default()) {}
  explicit TReportEngine(ReportLibrary library) : library_(std::move(library)) {}

  ReportLibrary& Library() { return library_; }
  // The branch database the queries run on; dtmDBGeral's when not set.
  void SetConnection(db::Connection* c) { conn_ = c; }
  db::Connection& Conn() const;

  std::vector<host::TReportDef> List(const std::string& reportCode) override;
  void Print(const host::TReportDef& report, const host::TReportParams& params) override;
  void Preview(const host::TReportDef& report, const host::TReportParams& params) override;
  // The format follows the extension: ".csv" writes CSV, ".pdf" or none PDF
  // (".pdf" is then added); another extension raises EReportError.
  void SaveAs(const host::TReportDef& report, const host::TReportParams& params, const std::string& fileName) override;
  void Edit(const host::TReportDef& report, const std::function<host::TReportParams()>& getParams) override;

  // The definition behind a listed report; EReportError when it is gone.
  ReportDefinition Definition(const host::TReportDef& report) const;
  Document Prepare(const host::TReportDef& report, const host::TReportParams& params) const;

private:
  ReportLibrary library_;
  db::Connection* conn_ = nullptr;
};

}  // namespace report
