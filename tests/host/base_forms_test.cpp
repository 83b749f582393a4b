// The report-parameters and routine base forms: the report list, the query
// parameters filled by name before the engine runs, a refused check stopping
// the command, save-as and report edit, and the modal routine form released
// after it closes.

#include <gtest/gtest.h>

#include "platform/host/dialogs.h"
#include "platform/host/frm_dados_ger_rel.h"
#include "platform/host/frm_roti_geral.h"
#include "platform/ui/driver.h"

using namespace ui;

namespace {

struct TfrmRelTeste : host::TfrmDadosGerRel {
  TEdit* medCdFilial;
  bool checkFails = false;
  explicit TfrmRelTeste(TComponent* owner) : TfrmDadosGerRel(owner) {
    SetName("frmRelTeste");
    lblCodRel->SetCaption("PLA010");
    medCdFilial = Make<TEdit>(this, "medCdFilial", this);
    medCdFilial->TabStop = true;
    rpddPadrao.BeforeGetQueryParams = [this](host::TReportParams& p, bool&) {
      if (host::ExistParam(p, "P_CDFILIAL")) p.ParamByName("P_CDFILIAL").SetAsString(medCdFilial->Text());
      if (host::ExistParam(p, "P_TCDSERVFILI")) p.ParamByName("P_TCDSERVFILI").SetAsString("T");
      if (host::ExistParam(p, "P_DTINICIAL")) p.ParamByName("P_DTINICIAL").SetAsDateTime(46000);
    };
  }
  void sbtPrintClick(TObject& sender) override {
    if (checkFails) host::MensErro("Filial deve ser informada.", true);
    TfrmDadosGerRel::sbtPrintClick(sender);
  }
};

TfrmRelTeste* frmRelTeste = nullptr;

struct ReportFormTest : ::testing::Test {
  Driver ui;
  host::ScriptedReportEngine engine;
  host::IReportEngine* previous = nullptr;
  TfrmRelTeste* f = nullptr;
  void SetUp() override {
    engine.Reports = {
        {"PLA010", "Efetivos por serviço", {"P_CDFILIAL", "P_CDSERVFILI", "P_TCDSERVFILI", "P_DTINICIAL"}},
        {"PLA010", "Efetivos resumido", {"p_cdfilial", "P_EXTRA"}},
        {"PLA999", "Outro relatório", {"P_CDFILIAL"}},
    };
    previous = host::SetReportEngine(&engine);
    frmRelTeste = f = CreateForm<TfrmRelTeste>(nullptr);
    f->ClearOnDestroy(frmRelTeste);
    ui.act([&] { f->Show(); });
    ui.focus(*f->medCdFilial);
    ui.type("0001");
  }
  void TearDown() override {
    host::SetReportEngine(previous);
    host::SetSaveDialogHandler(nullptr);
  }
};

TEST_F(ReportFormTest, ListsTheScreensReportsAndFillsTheirParametersByName) {
  EXPECT_EQ(f->cbbReportNames->Items, (std::vector<std::string>{"Efetivos por serviço", "Efetivos resumido"}));
  EXPECT_EQ(f->cbbReportNames->ItemIndex(), 0);

  ui.click(*f->sbtPrint);
  ASSERT_EQ(engine.Calls.size(), 1u);
  const host::ReportCall& c = engine.Calls[0];
  EXPECT_EQ(c.Action, "Print");
  EXPECT_EQ(c.Report, "Efetivos por serviço");
  EXPECT_EQ(c.Params.ParamByName("P_CDFILIAL").AsString(), "0001");
  EXPECT_EQ(c.Params.ParamByName("P_TCDSERVFILI").AsString(), "T");
  EXPECT_DOUBLE_EQ(c.Params.ParamByName("P_DTINICIAL").AsDateTime(), 46000);
  EXPECT_TRUE(c.Params.ParamByName("P_CDSERVFILI").Value().isNullOrEmpty());  // left as the report has it

  // The second report lacks most of them: skipped; its own extra stays unset.
  ui.select(*f->cbbReportNames, 1);
  ui.click(*f->sbtPreview);
  ASSERT_EQ(engine.Calls.size(), 2u);
  EXPECT_EQ(engine.Calls[1].Action, "Preview");
  EXPECT_EQ(engine.Calls[1].Params.ParamByName("P_CDFILIAL").AsString(), "0001");  // case-insensitive
  EXPECT_FALSE(engine.Calls[1].Params.ExistParam("P_TCDSERVFILI"));
  EXPECT_TRUE(engine.Calls[1].Params.ParamByName("P_EXTRA").Value().isNullOrEmpty());
  EXPECT_TRUE(ui.errors().empty());
  // The definitions themselves keep no values of a run.
  EXPECT_TRUE(f->Reports()[0].Params.ParamByName("P_CDFILIAL").Value().isNullOrEmpty());
}

TEST_F(ReportFormTest, ARefusedCheckStopsTheCommandAndIsShownOnce) {
  f->checkFails = true;
  ui.click(*f->sbtPrint);
  EXPECT_TRUE(engine.Calls.empty());
  EXPECT_EQ(ui.errors(), (std::vector<std::string>{"Filial deve ser informada."}));
}

TEST_F(ReportFormTest, SaveAsAsksForAFileAndReportEditRunsTheParameters) {
  std::string answer;
  host::SetSaveDialogHandler([&](std::string& name, const std::string& ext) {
    EXPECT_EQ(ext, "pdf");
    if (answer.empty()) return false;
    name = answer;
    return true;
  });
  ui.click(*f->mnuSalvarComo);  // cancelled: nothing saved
  EXPECT_TRUE(engine.Calls.empty());
  answer = "efetivos.pdf";
  ui.click(*f->sbtSalvarComo);
  ASSERT_EQ(engine.Calls.size(), 1u);
  EXPECT_EQ(engine.Calls[0].Action, "SaveAs");
  EXPECT_EQ(engine.Calls[0].FileName, "efetivos.pdf");
  EXPECT_EQ(engine.Calls[0].Params.ParamByName("P_CDFILIAL").AsString(), "0001");

  ui.click(*f->sbtReportEdit);
  ASSERT_EQ(engine.Calls.size(), 2u);
  EXPECT_EQ(engine.Calls[1].Action, "Edit");
  EXPECT_EQ(engine.Calls[1].Params.ParamByName("P_CDFILIAL").AsString(), "0001");
}

TEST_F(ReportFormTest, WithoutAReportOrAnEngineTheUserIsTold) {
  f->cbbReportNames->SetItemIndex(-1);
  ui.click(*f->sbtPrint);
  EXPECT_EQ(ui.lastError(), host::kSemRelatorio);
  host::SetReportEngine(nullptr);
  ui.click(*f->sbtPreview);
  EXPECT_EQ(ui.lastError(), host::kSemMotorRel);
  EXPECT_EQ(ui.errors().size(), 2u);
  EXPECT_TRUE(engine.Calls.empty());
}

TEST_F(ReportFormTest, ParamByNameOfAMissingParameterIsAClearError) {
  host::TReportParams p{"P_CDFILIAL"};
  try {
    p.ParamByName("P_DTFINAL");
    FAIL() << "no error";
  } catch (const rtl::Exception& e) {
    EXPECT_NE(std::string(e.what()).find("P_DTFINAL"), std::string::npos);
  }
}

TEST_F(ReportFormTest, ClosingReleasesTheScreen) {
  ui.click(*f->sbtClose);
  EXPECT_EQ(frmRelTeste, nullptr);
}

// ---------------------------------------------------------------------------
struct TfrmRotiTeste : host::TfrmRotiGeral {
  int confirms = 0;
  explicit TfrmRotiTeste(TComponent* owner) : TfrmRotiGeral(owner) {
    SetName("frmRotiTeste");
    lblCodTela->SetCaption("PLA01010");
    HelpFile = "Plahelp.hlp";
    HelpContext = 12301010;
  }
  void sbtConfirmaClick(TObject& sender) override {
    ++confirms;
    TfrmRotiGeral::sbtConfirmaClick(sender);
  }
};

TfrmRotiTeste* frmRotiTeste = nullptr;

TEST(RoutineFormTest, ModalScreenConfirmsClosesAndIsReleased) {
  Driver ui;
  std::vector<std::pair<std::string, int>> help;
  host::SetHelpHandler([&](const std::string& file, int ctx) { help.emplace_back(file, ctx); });
  TModalResult result = mrNone;
  ui.onModal([&](TCustomForm& form) {
    auto& f = static_cast<TfrmRotiTeste&>(form);
    ui.click(*f.sbtConfirma);
    ui.click(*f.sbtHelp);
    EXPECT_EQ(f.confirms, 1);
    EXPECT_TRUE(f.msgMensagensPadroes.Has("canc"));
    ui.click(*f.sbtCancel);
  });
  ui.act([&] {
    frmRotiTeste = CreateForm<TfrmRotiTeste>(nullptr);
    frmRotiTeste->ClearOnDestroy(frmRotiTeste);
    result = frmRotiTeste->ShowModal();
    EXPECT_NE(frmRotiTeste, nullptr);  // released only once the user's action has ended
  });
  host::SetHelpHandler(nullptr);
  EXPECT_EQ(result, mrCancel);
  EXPECT_EQ(frmRotiTeste, nullptr);
  EXPECT_EQ(help, (std::vector<std::pair<std::string, int>>{{"Plahelp.hlp", 12301010}}));
  EXPECT_TRUE(ui.errors().empty());
}

}  // namespace
