#pragma once
// The small face of the report engine that the report-parameters base form
// needs: report definitions for a report code, their named query parameters,
// and print, preview, save-as and edit. The engine itself lives elsewhere and
// implements IReportEngine; ScriptedReportEngine records what reached it.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/datetime.h"
#include "platform/rtl/variant.h"

namespace host {

class TReportParam {
public:
  explicit TReportParam(std::string name) : name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  const rtl::Variant& Value() const { return value_; }
  void SetValue(const rtl::Variant& v) { value_ = v; }
  std::string AsString() const { return value_.toString(); }
  void SetAsString(std::string_view s) { value_ = rtl::Variant(s); }
  rtl::TDateTime AsDateTime() const { return value_.toDateTime(); }
  void SetAsDateTime(rtl::TDateTime d) { value_ = rtl::Variant::FromDate(d); }

private:
  std::string name_;
  rtl::Variant value_;
};

// A report's query parameters. Names match without regard to case.
class TReportParams {
public:
  TReportParams() = default;
  TReportParams(std::initializer_list<std::string> names);
  TReportParam& Add(std::string name);
  bool ExistParam(std::string_view name) const;
  TReportParam* FindParam(std::string_view name);
  // rtl::Exception naming the parameter when the report has none of that name.
  TReportParam& ParamByName(std::string_view name);
  const TReportParam& ParamByName(std::string_view name) const;
  size_t Count() const { return params_.size(); }
  const TReportParam& operator[](size_t i) const { return params_.at(i); }

private:
  std::vector<TReportParam> params_;
};

// As the report dialogs unit offers it.
inline bool ExistParam(const TReportParams& params, std::string_view name) { return params.ExistParam(name); }

struct TReportDef {
  std::string Code;   // the screen's report code ("PLA010")
  std::string Name;   // shown in the report list
  TReportParams Params;  // the parameters its query names
};

class IReportEngine {
public:
  virtual ~IReportEngine() = default;
  // The definitions kept for a report code, in list order.
  virtual std::vector<TReportDef> List(const std::string& reportCode) = 0;
  virtual void Print(const TReportDef& report, const TReportParams& params) = 0;
  virtual void Preview(const TReportDef& report, const TReportParams& params) = 0;
  virtual void SaveAs(const TReportDef& report, const TReportParams& params, const std::string& fileName) = 0;
  // The report designer over the definition; it asks for the query parameters
  // through getParams when it runs the query.
  virtual void Edit(const TReportDef& report, const std::function<TReportParams()>& getParams) = 0;
};

// The engine the host wired (null when none).
IReportEngine* ReportEngine();
IReportEngine* SetReportEngine(IReportEngine* engine);

struct ReportCall {
  std::string Action;  // "Print", "Preview", "SaveAs", "Edit"
  std::string Report;
  TReportParams Params;
  std::string FileName;
};

class ScriptedReportEngine : public IReportEngine {
public:
  std::vector<TReportDef> Reports;
  std::vector<ReportCall> Calls;
  std::vector<TReportDef> List(const std::string& reportCode) override;
  void Print(const TReportDef& report, const TReportParams& params) override;
  void Preview(const TReportDef& report, const TReportParams& params) override;
  void SaveAs(const TReportDef& report, const TReportParams& params, const std::string& fileName) override;
  void Edit(const TReportDef& report, const std::function<TReportParams()>& getParams) override;
};

}  // namespace host
