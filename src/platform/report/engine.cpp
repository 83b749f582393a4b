#include "platform/report/engine.h"

#include <filesystem>

#include "platform/db/query.h"
#include "platform/rtl/format.h"

namespace report {

namespace {
IReportHost* g_host = nullptr;

IReportHost& host(const char* what) {
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

ScriptedReportHost::ScriptedReportHost() : previous_(SetReportHost(this)) {}
ScriptedReportHost::~ScriptedReportHost() { SetReportHost(previous_); }

TReportParams TReportDesignerDialog::QueryParams(const ReportDefinition& def) const {
  TReportParams params(def);
  bool flag = false;
  if (BeforeGetQueryParams) BeforeGetQueryParams(params, flag);
  return params;
}

db::Connection& TReportEngine::Conn() const { return conn_ ? *conn_ : db::dtmDBGeral.Conn(); }

Document TReportEngine::Prepare(std::string_view code) {
  ReportDefinition def = library_.Load(code);
  TReportParams params = Designer.QueryParams(def);
  return Run(def, params, Conn());
}

void TReportEngine::Print(std::string_view code) {
  IReportHost& h = host("impressão");
  h.Print(Prepare(code));
}

void TReportEngine::Preview(std::string_view code) {
  IReportHost& h = host("visualização");
  h.Preview(Prepare(code));
}

void TReportEngine::SaveAs(std::string_view code, const std::string& path) {
  std::string ext = rtl::LowerCase(std::filesystem::path(path).extension().string());
  if (ext == ".pdf") return SaveAs(code, path, SaveFormat::Pdf);
  if (ext == ".csv") return SaveAs(code, path, SaveFormat::Csv);
  throw EReportError("Formato de arquivo não suportado: " + path + " (use .pdf ou .csv).");
}

void TReportEngine::SaveAs(std::string_view code, const std::string& path, SaveFormat format) {
  Document doc = Prepare(code);
  if (format == SaveFormat::Pdf) WritePdf(doc, path);
  else WriteCsv(doc, path);
}

void TReportEngine::Edit(std::string_view code) {
  IReportHost& h = host("edição de relatórios");
  ReportDefinition def = library_.Load(code);
  TReportParams params = Designer.QueryParams(def);
  h.Design(def, Run(def, params, Conn()));
}

}  // namespace report
