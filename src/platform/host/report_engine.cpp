#include "report_engine.h"

#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"

namespace host {

TReportParams::TReportParams(std::initializer_list<std::string> names) {
  for (const auto& n : names) Add(n);
}

TReportParam& TReportParams::Add(std::string name) {
  if (TReportParam* p = FindParam(name)) return *p;
  params_.emplace_back(std::move(name));
  return params_.back();
}

bool TReportParams::ExistParam(std::string_view name) const {
  for (const auto& p : params_)
    if (rtl::SameText(p.Name(), name)) return true;
  return false;
}

TReportParam* TReportParams::FindParam(std::string_view name) {
  for (auto& p : params_)
    if (rtl::SameText(p.Name(), name)) return &p;
  return nullptr;
}

TReportParam& TReportParams::ParamByName(std::string_view name) {
  if (TReportParam* p = FindParam(name)) return *p;
  throw rtl::Exception("Parâmetro '" + std::string(name) + "' não encontrado no relatório.");
}

const TReportParam& TReportParams::ParamByName(std::string_view name) const {
  return const_cast<TReportParams*>(this)->ParamByName(name);
}

namespace {
IReportEngine*& engine() {
  static IReportEngine* e = nullptr;
  return e;
}
}  // namespace

IReportEngine* ReportEngine() { return engine(); }
IReportEngine* SetReportEngine(IReportEngine* e) {
  IReportEngine* old = engine();
  engine() = e;
  return old;
}

std::vector<TReportDef> ScriptedReportEngine::List(const std::string& reportCode) {
  std::vector<TReportDef> out;
  for (const auto& r : Reports)
    if (rtl::SameText(r.Code, reportCode)) out.push_back(r);
  return out;
}

void ScriptedReportEngine::Print(const TReportDef& r, const TReportParams& p) { Calls.push_back({"Print", r.Name, p, {}}); }
void ScriptedReportEngine::Preview(const TReportDef& r, const TReportParams& p) {
  Calls.push_back({"Preview", r.Name, p, {}});
}
void ScriptedReportEngine::SaveAs(const TReportDef& r, const TReportParams& p, const std::string& f) {
  Calls.push_back({"SaveAs", r.Name, p, f});
}
void ScriptedReportEngine::Edit(const TReportDef& r, const std::function<TReportParams()>& getParams) {
  // The designer runs the report's query once, as a designer previewing it does.
  Calls.push_back({"Edit", r.Name, getParams(), {}});
}

}  // namespace host
