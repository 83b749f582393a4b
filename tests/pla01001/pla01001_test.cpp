#include <gtest/gtest.h>

#include <filesystem>

#include "pla01001/cli_pla01001.h"
#include "platform/db/query.h"
#include "platform/host/branch.h"
#include "platform/host/checks.h"
#include "platform/rtl/format.h"
#include "platform/host/context.h"
#include "platform/host/lookups.h"
#include "platform/report/engine.h"
#include "platform/ui/driver.h"
#include "server/demo.h"
#include "server/schema.h"
#include "support/sqlite_temp.h"

namespace {

using pla01001::TfrmListEfet;
namespace fs = std::filesystem;

const rtl::TDateTime kToday = rtl::EncodeDate(2026, 3, 16);

// The real engine, with the calls that reached it and the parameters the
// screen filled recorded on the way.
class RecordingEngine : public host::IReportEngine {
public:
  explicit RecordingEngine(report::TReportEngine& e) : real(e) {}
  std::vector<host::TReportDef> List(const std::string& code) override { return real.List(code); }
  void Print(const host::TReportDef& r, const host::TReportParams& p) override {
    calls.push_back({"Print", r.Name, p, {}});
    real.Print(r, p);
  }
  void Preview(const host::TReportDef& r, const host::TReportParams& p) override {
    calls.push_back({"Preview", r.Name, p, {}});
    real.Preview(r, p);
  }
  void SaveAs(const host::TReportDef& r, const host::TReportParams& p, const std::string& f) override {
    calls.push_back({"SaveAs", r.Name, p, f});
    real.SaveAs(r, p, f);
  }
  void Edit(const host::TReportDef& r, const std::function<host::TReportParams()>& get) override {
    real.Edit(r, [&] {
      host::TReportParams p = get();
      calls.push_back({"Edit", r.Name, p, {}});
      return p;
    });
  }
  report::TReportEngine& real;
  std::vector<host::ReportCall> calls;
};

// The demo company is built once per run and copied for each test.
const std::string& demoTemplate() {
  static testsupport::TempSqlite tpl{"pla01001_tpl"};
  static bool built = [] {
    auto c = db::Open(tpl.connectionString());
    server::EnsureSchema(*c);
    server::DemoBuilder(*c).BuildDemoCompany(kToday);
    c->execScript("PRAGMA wal_checkpoint(TRUNCATE)");
    return true;
  }();
  (void)built;
  return tpl.path();
}

class Pla01001 : public ::testing::Test {
protected:
  void SetUp() override {
    fs::copy_file(demoTemplate(), file.path(), fs::copy_options::overwrite_existing);
    db::dtmDBGeral.SetConnection(db::Open(file.connectionString()));
    host::Context() = host::OperatorContext{};
    host::Context().filiProc = "0001";
    host::Context().nomeFiliProc = "Sabor & Cia São Paulo";
    host::Context().operador = "DEM";
    host::UseDatabaseForContext();
    previousEngine = host::SetReportEngine(&engine);
    savePath = (fs::temp_directory_path() / ("pla01001_" + std::to_string(::getpid()) + ".pdf")).string();
    host::SetSaveDialogHandler([this](std::string& name, const std::string&) {
      name = savePath;
      return true;
    });
    pla01001::stListaServ = "99999";  // left by an earlier screen
  }
  void TearDown() override {
    host::SetSaveDialogHandler(nullptr);
    host::SetReportEngine(previousEngine);
    fs::remove(savePath);
  }

  TfrmListEfet& open() {
    f = ui::CreateForm<TfrmListEfet>(nullptr);
    pla01001::frmListEfet = f;
    ui.act([&] { f->Show(); });
    return *f;
  }
  std::string param(size_t call, const char* name) { return engine.calls.at(call).Params.ParamByName(name).AsString(); }
  std::string dataProc() { return rtl::DateToStr(host::DataProc("0001")); }

  testsupport::TempSqlite file{"pla01001"};
  ui::Driver ui;
  host::ScriptedLookupEx lookup{ui.services().Lookup, ui.services().services()};
  report::RecordingReportHost printer;
  report::TReportEngine real;
  RecordingEngine engine{real};
  host::IReportEngine* previousEngine = nullptr;
  std::string savePath;
  TfrmListEfet* f = nullptr;
};

TEST_F(Pla01001, FirstActivationFillsDefaultsAndEqualDatesAtTheProcessingDatePrint) {
  TfrmListEfet& s = open();
  EXPECT_EQ(pla01001::stListaServ, "");
  EXPECT_EQ(s.medCdFilial->Text(), "0001");
  EXPECT_EQ(s.edtNmFilial->Text(), "Sabor & Cia São Paulo");
  EXPECT_EQ(s.depDataIni->EditText(), dataProc());
  EXPECT_EQ(s.depDataFin->EditText(), dataProc());
  EXPECT_EQ(s.edtDataIni->Text(), host::NomeSemana(host::DataProc("0001")));
  EXPECT_EQ(s.edtDataFin->Text(), s.edtDataIni->Text());
  EXPECT_TRUE(s.rbtTodosServ->Checked());
  EXPECT_FALSE(s.btnServico->Enabled());
  EXPECT_TRUE(s.medCdFilial->Enabled());
  ASSERT_EQ(s.cbbReportNames->Items, std::vector<std::string>{"Efetivos por Serviço"});

  ui.click(*s.sbtPrint);
  EXPECT_EQ(ui.errors(), std::vector<std::string>{});
  ASSERT_EQ(printer.Printed.size(), 1u);
  EXPECT_EQ(param(0, "P_CDFILIAL"), "0001");
  EXPECT_EQ(param(0, "P_TCDSERVFILI"), "T");
  EXPECT_EQ(param(0, "P_CDSERVFILI"), "");
  EXPECT_EQ(param(0, "P_DTPERIINI"), dataProc());
  EXPECT_EQ(engine.calls[0].Params.ParamByName("P_DTFINAL").AsDateTime(), host::DataProc("0001"));
  EXPECT_NE(printer.Printed[0].Pages[0].Lines[2].Cells[0].Text.find(dataProc() + " a " + dataProc()),
            std::string::npos);

  // A later activation keeps what the user entered.
  ui.act([&] { s.medCdFilial->SetText("0002"); });
  ui.act([&] { s.DoActivate(); });
  EXPECT_EQ(s.medCdFilial->Text(), "0002");
}

TEST_F(Pla01001, EmptyDateIsSilentOnExitButRefusedByPrintPreviewAndSaveAs) {
  TfrmListEfet& s = open();
  ui.act([&] { s.depDataIni->SetDate(0); });
  EXPECT_EQ(s.edtDataIni->Text(), "");
  ui.focus(*s.depDataIni);
  ui.focus(*s.depDataFin);
  EXPECT_EQ(ui.errors(), std::vector<std::string>{});
  EXPECT_EQ(ui.focusedName(), "depDataFin");

  for (ui::TButtonFlat* b : {s.sbtPrint, s.sbtPreview, s.sbtSalvarComo}) {
    size_t before = ui.errors().size();
    ui.focus(*s.rbtTodosServ);
    ui.click(*b);
    ASSERT_EQ(ui.errors().size(), before + 1) << b->Name();
    EXPECT_EQ(ui.lastError(), "Data inicial deve ser informada.");
    EXPECT_EQ(ui.focusedName(), "depDataIni");
  }
  ui.act([&] {
    s.depDataIni->SetDate(host::DataProc("0001"));
    s.depDataFin->SetDate(0);
  });
  ui.click(*s.sbtPreview);
  EXPECT_EQ(ui.lastError(), "Data final deve ser informada.");
  EXPECT_EQ(ui.focusedName(), "depDataFin");
  EXPECT_TRUE(engine.calls.empty());
  EXPECT_FALSE(fs::exists(savePath));

  // Order of the dates and the processing date.
  ui.act([&] { s.depDataFin->SetDate(host::DataProc("0001") + 1); });
  ui.click(*s.sbtPrint);
  EXPECT_EQ(ui.lastError(), "Data final deve ser menor ou igual à data de processamento.");
  EXPECT_EQ(ui.focusedName(), "depDataFin");
  ui.act([&] { s.depDataFin->SetDate(host::DataProc("0001") - 1); });
  ui.click(*s.sbtPrint);
  EXPECT_EQ(ui.lastError(), "Data inicial deve ser menor ou igual à data final.");
  EXPECT_EQ(ui.focusedName(), "depDataIni");
  EXPECT_TRUE(engine.calls.empty());

  ui.act([&] { s.depDataIni->SetDate(host::DataProc("0001") - 3); });
  ui.click(*s.sbtSalvarComo);
  ASSERT_EQ(engine.calls.size(), 1u);
  EXPECT_TRUE(fs::exists(savePath));
}

TEST_F(Pla01001, ServiceListChangedBranchAndTodos) {
  TfrmListEfet& s = open();
  ui.click(*s.rbtListaServ);
  EXPECT_TRUE(s.btnServico->Enabled());
  ui.click(*s.sbtPrint);
  EXPECT_EQ(ui.lastError(), "Serviço deve ser informado.");
  EXPECT_EQ(ui.focusedName(), "rbtListaServ");

  lookup.QueuePickMany({1, 2});
  ui.click(*s.btnServico);
  ASSERT_EQ(lookup.Lists.size(), 1u);
  EXPECT_EQ(lookup.Lists[0].Title, "Serviço");
  EXPECT_EQ(lookup.Lists[0].EmptyText, "Não há serviço de restaurante cadastrado para a filial informada.");
  db::Result first = db::dtmDBGeral.Conn().query(
      "SELECT CDSERVFILI FROM SERVICO WHERE CDFILIAL = '0001' AND IDTIPOSERV IN ('N', 'F') ORDER BY CDSERVFILI");
  std::string list = first.rows[0][0].toString() + "," + first.rows[1][0].toString();
  EXPECT_EQ(pla01001::stListaServ, list);

  ui.click(*s.sbtPreview);
  ASSERT_EQ(engine.calls.size(), 1u);
  EXPECT_EQ(param(0, "P_CDSERVFILI"), list);
  EXPECT_EQ(param(0, "P_TCDSERVFILI"), "");
  ASSERT_EQ(printer.Previewed.size(), 1u);
  EXPECT_NE(printer.Previewed[0].Pages[0].Lines[3].Cells[0].Text.find(first.rows[0][0].toString() + ", "),
            std::string::npos);

  // F9 on the radio button opens the list too.
  lookup.QueuePickMany({1});
  ui.focus(*s.rbtListaServ);
  ui.press(ui::VK_F9);
  EXPECT_EQ(pla01001::stListaServ, first.rows[0][0].toString());

  // "Todos" with the old list still held: the marker is sent, not the list.
  ui.click(*s.rbtTodosServ);
  EXPECT_FALSE(s.btnServico->Enabled());
  ui.click(*s.sbtPrint);
  ASSERT_EQ(engine.calls.size(), 2u);
  EXPECT_EQ(param(1, "P_TCDSERVFILI"), "T");
  EXPECT_EQ(param(1, "P_CDSERVFILI"), "");

  // One changed character of the branch drops the list.
  ui.click(*s.rbtListaServ);
  ui.focus(*s.medCdFilial);
  ui.type("0002");
  EXPECT_EQ(s.medCdFilial->Text(), "0002");
  EXPECT_EQ(pla01001::stListaServ, "");
  EXPECT_EQ(s.edtNmFilial->Text(), "");
  ui.click(*s.sbtPrint);
  EXPECT_EQ(ui.lastError(), "Serviço deve ser informado.");
  EXPECT_EQ(engine.calls.size(), 2u);
}

TEST_F(Pla01001, ParametersAreSetOnlyWhenTheReportHasThem) {
  TfrmListEfet& s = open();
  host::TReportParams todos{"P_CDFILIAL", "P_CDSERVFILI", "P_OUTRO"};
  todos.ParamByName("P_OUTRO").SetAsString("kept");
  bool flag = true;
  s.rpddPadraoBeforeGetQueryParams(todos, flag);
  EXPECT_TRUE(flag);
  EXPECT_EQ(todos.Count(), 3u);
  EXPECT_EQ(todos.ParamByName("P_CDFILIAL").AsString(), "0001");
  EXPECT_EQ(todos.ParamByName("P_CDSERVFILI").AsString(), "");
  EXPECT_TRUE(todos.ParamByName("P_CDSERVFILI").Value().isString());
  EXPECT_EQ(todos.ParamByName("P_OUTRO").AsString(), "kept");

  pla01001::stListaServ = "00010,00030";
  ui.act([&] { s.rbtListaServ->SetChecked(true); });
  host::TReportParams lista{"P_CDSERVFILI"};
  s.rpddPadraoBeforeGetQueryParams(lista, flag);
  EXPECT_EQ(lista.ParamByName("P_CDSERVFILI").AsString(), "00010,00030");
}

TEST_F(Pla01001, ReportEditRunsWithoutDateChecks) {
  TfrmListEfet& s = open();
  ui.act([&] { s.depDataIni->SetDate(0); });
  ui.click(*s.sbtReportEdit);
  EXPECT_EQ(ui.errors(), std::vector<std::string>{});
  ASSERT_EQ(engine.calls.size(), 1u);
  EXPECT_EQ(engine.calls[0].Action, "Edit");
  EXPECT_EQ(param(0, "P_DTPERIINI"), "  /  /    ");
  EXPECT_EQ(printer.Designed.size(), 1u);

  // The branch is still checked.
  ui.act([&] { s.medCdFilial->SetText("0099"); });
  ui.click(*s.sbtReportEdit);
  EXPECT_EQ(ui.errors().size(), 1u);
  EXPECT_EQ(ui.focusedName(), "medCdFilial");
  EXPECT_EQ(engine.calls.size(), 1u);
}

TEST_F(Pla01001, BoundModuleDisablesTheBranchAndStartsOnTheNextControl) {
  host::Context().moduFili = true;
  TfrmListEfet& s = open();
  EXPECT_FALSE(s.medCdFilial->Enabled());
  EXPECT_FALSE(s.btpFilial->Enabled());
  EXPECT_FALSE(s.lblFilial->Enabled());
  EXPECT_EQ(ui.focusedName(), "depDataIni");
}

TEST_F(Pla01001, BranchLookupAndCriaListEfetModal) {
  bool ran = false;
  ui.onModal([&](ui::TCustomForm& form) {
    ran = true;
    auto& s = dynamic_cast<TfrmListEfet&>(form);
    EXPECT_EQ(pla01001::frmListEfet, &s);
    ui.lookupPicks(2);
    EXPECT_TRUE(ui.click(*s.btpFilial)) << ui.lastError();
    EXPECT_EQ(ui.errors(), std::vector<std::string>{});
    EXPECT_EQ(s.medCdFilial->Text(), "0002");
    EXPECT_FALSE(s.edtNmFilial->Text().empty());
    EXPECT_EQ(s.qryFilial.ParamByName("P_TCDFILIAL").AsString(), "T");
    ui.close(form);
  });
  ui.act([] { pla01001::CriaListEfet(); });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(ui.services().Cursor.History.empty());
  EXPECT_EQ(pla01001::frmListEfet, nullptr);  // released after closing
  pla01001::stListaServ = "x";
  pla01001::FinalizeUnit();
  EXPECT_EQ(pla01001::stListaServ, "");
}

}  // namespace
