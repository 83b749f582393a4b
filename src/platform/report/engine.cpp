#include "platform/report/engine.h"

#include <filesystem>

#include "platform/db/query.h"
#include "platform/rtl/format.h"

namespace report {

namespace {
IReportHost* g_host = nullptr;

IReportHost& reportHost(const char* what) {
  if (!g_host) throw EReportError(std::string("Não há serviço de ") + what + " configurado.");
  return *g_host;
}
}  // namespace

IReportHost* ReportHost() { return g_host; }

IReportHost* SetReportHost(IReportHost* h) {
  IReportHost* prev = g_host;
  g_host = h;
  return prev;
}

RecordingReportHost::RecordingReportHost() : previous_(SetReportHost(this)) {}
RecordingReportHost::~RecordingReportHost() { SetReportHost(previous_); }

TReportParams ToReportParams(const ReportDefinition& def, const host::TReportParams& values) {
  TReportParams out(def);
  for (size_t i = 0; i < out.Count(); ++i) {
    TReportParam& p = out[i];
    for (size_t k = 0; k < values.Count(); ++k)
      if (db::EqualsIgnoreCase(values[k].Name(), p.Name())) p.SetValue(values[k].Value());
  }
  return out;
}

db::Connection& TReportEngine::Conn() const { return conn_ ? *conn_ : db::dtmDBGeral.Conn(); }

std::vector<host::TReportDef> TReportEngine::List(const std::string& reportCode) {
  std::vector<host::TReportDef> out;
  for (const ReportEntry& e : library_.Entries()) {
    if (!db::EqualsIgnoreCase(e.Code, reportCode)) continue;
    host::TReportDef d;
    d.Code = e.Code;
    d.Name = e.Title;
    for (const std::string& n : e.ParamNames) d.Params.Add(n);
    out.push_back(std::move(d));
  }
  return out;
}

ReportDefinition TReportEngine::Definition(const host::TReportDef& report) const {
  for (const ReportEntry& e : library_.Entries())
    if (db::EqualsIgnoreCase(e.Code, report.Code) && e.Title == report.Name) return LoadDefinition(e.Path);
  return library_.Load(report.Code);
}

Document TReportEngine::Prepare(const host::TReportDef& report, const host::TReportParams& params) const {
  ReportDefinition def = Definition(report);
  return Run(def, ToReportParams(def, params), Conn());
}

void TReportEngine::Print(const host::TReportDef& report, const host::TReportParams& params) {
  IReportHost& h = reportHost("impressão");
  h.Print(Prepare(report, params));
}

void TReportEngine::Preview(const host::TReportDef& report, const host::TReportParams& params) {
  IReportHost& h = reportHost("visualização");
  h.Preview(Prepare(report, params));
}

void TReportEngine::SaveAs(const host::TReportDef& report, const host::TReportParams& params,
                           const std::string& fileName) {
  std::filesystem::path path(fileName);
  std::string ext = rtl::LowerCase(path.extension().string());
  if (ext.empty()) path += ".pdf", ext = ".pdf";
  if (ext != ".pdf" && ext != ".csv")
    throw EReportError("Formato de arquivo não suportado: " + fileName + " (use .pdf ou .csv).");
  Document doc = Prepare(report, params);
  if (ext == ".pdf") WritePdf(doc, path.string());
  else WriteCsv(doc, path.string());
}

void TReportEngine::Edit(const host::TReportDef& report, const std::function<host::TReportParams()>& getParams) {
  IReportHost& h = reportHost("edição de relatórios");
  ReportDefinition def = Definition(report);
  host::TReportParams values = getParams ? getParams() : report.Params;
  h.Design(def, Run(def, ToReportParams(def, values), Conn()));
}

}  // namespace report
