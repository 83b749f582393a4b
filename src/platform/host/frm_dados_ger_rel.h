#pragma once
// TfrmDadosGerRel: the report-parameters base form. It lists the report
// definitions kept for the screen's report code (lblCodRel) in cbbReportNames
// and runs the chosen one through the host's report engine: print, preview,
// save-as (file name from svdSaveReport) and report edit. Before a report's
// query runs, the report designer dialog rpddPadrao raises
// BeforeGetQueryParams with the report's parameter list, which the screen
// fills by name (ExistParam, ParamByName). Screens run their checks in their
// overrides and then call these handlers.

#include <functional>
#include <string>
#include <vector>

#include "platform/host/base_form.h"
#include "platform/host/messages.h"
#include "platform/host/report_engine.h"
#include "platform/ui/menus.h"
#include "platform/ui/stdctrls.h"

namespace host {

// The report designer dialog: hands out a report's query parameters, after
// the screen has filled them.
class TReportDesignerDialog {
public:
  using TGetQueryParamsEvent = std::function<void(TReportParams& params, bool& flag)>;
  TGetQueryParamsEvent BeforeGetQueryParams;
  // A copy of the report's parameters, filled by BeforeGetQueryParams.
  TReportParams GetQueryParams(const TReportDef& report);
};

// The save dialog: asks the host for a file name (the desktop wires a file
// chooser; tests a scripted answer). Without a handler Execute refuses.
using TSaveDialogHandler = std::function<bool(std::string& fileName, const std::string& defaultExt)>;
void SetSaveDialogHandler(TSaveDialogHandler handler);

class TSaveDialog {
public:
  std::string FileName;
  std::string DefaultExt = "pdf";
  // True with FileName set when the user chose a file.
  bool Execute();
};

class TfrmDadosGerRel : public TStandardForm {
public:
  explicit TfrmDadosGerRel(ui::TComponent* owner = nullptr);
  ~TfrmDadosGerRel() override;

  ui::TPanel* panBotoes;
  ui::TButtonFlat* sbtPrint;
  ui::TButtonFlat* sbtPreview;
  ui::TButtonFlat* sbtSalvarComo;
  ui::TButtonFlat* sbtReportEdit;
  ui::TButtonFlat* sbtHelp;
  ui::TButtonFlat* sbtClose;
  ui::TLabel* lblCodRel;  // the report code; the screen sets its caption
  ui::TComboBox* cbbReportNames;
  ui::TPopupMenu* ppmSalvarRelatorio;
  ui::TMenuItem* mnuSalvarComo;
  TSaveDialog svdSaveReport;
  TReportDesignerDialog rpddPadrao;

  TMessages msgPadrao{"msgPadrao"};
  TMessages msgMensagens{"msgMensagens"};  // the standard catalog

  // The definitions listed in cbbReportNames, in the same order.
  const std::vector<TReportDef>& Reports() const { return reports_; }
  // Reloads the list from the report engine for lblCodRel's code.
  void LoadReports();
  // The definition chosen in the list; raises when there is none.
  const TReportDef& SelectedReport() const;

  virtual void FormCreate(ui::TObject& sender);
  // Loads the report list on the first activation (the code is set by then).
  virtual void FormActivate(ui::TObject& sender);
  virtual void FormClose(ui::TObject& sender, ui::TCloseAction& action);
  virtual void sbtPrintClick(ui::TObject& sender);
  virtual void sbtPreviewClick(ui::TObject& sender);
  virtual void sbtSalvarComoClick(ui::TObject& sender);
  virtual void sbtReportEditClick(ui::TObject& sender);
  virtual void sbtHelpClick(ui::TObject& sender);
  virtual void sbtCloseClick(ui::TObject& sender);

private:
  IReportEngine& engine() const;
  std::vector<TReportDef> reports_;
  bool loaded_ = false;
};

extern const char* const kSemRelatorio;   // no report definition chosen
extern const char* const kSemMotorRel;    // no report engine wired

}  // namespace host
