// Focus moves, key dispatch, pages, menus, forms and the error report, driven
// as a user drives them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/driver.h"

using namespace ui;

namespace {

using Log = std::vector<std::string>;

struct TestForm : TForm {
  Log log;
  TPanel* panDados;
  TEdit* edtA;
  TEdit* edtNm;  // disabled, as the name fields beside the codes
  TEdit* edtB;
  TPanel* panOutro;
  TGroupBox* grp;
  TEdit* edtC;
  TPageControl* pgc;
  TTabSheet* tsh1;
  TTabSheet* tsh2;
  TEdit* edtP1;
  TEdit* edtP2;
  TButtonFlat* sbtConfirmar;
  TMainMenu* menu;
  TMenuItem* mnuManutencao;
  TMenuItem* mnuConfirmar;
  TMenuItem* mnuConsolidar;

  explicit TestForm(TComponent* owner, const char* name = "frmTeste") : TForm(owner) {
    SetName(name);
    panDados = Make<TPanel>(this, "panDados", this);
    edtA = Make<TEdit>(this, "edtA", panDados);
    edtNm = Make<TEdit>(this, "edtNm", panDados);
    edtNm->SetEnabled(false);
    edtNm->TabStop = false;
    edtB = Make<TEdit>(this, "edtB", panDados);
    panOutro = Make<TPanel>(this, "panOutro", this);
    grp = Make<TGroupBox>(this, "grp", panOutro);
    edtC = Make<TEdit>(this, "edtC", grp);
    pgc = Make<TPageControl>(this, "pgc", this);
    tsh1 = Make<TTabSheet>(this, "tsh1", pgc);
    tsh2 = Make<TTabSheet>(this, "tsh2", pgc);
    edtP1 = Make<TEdit>(this, "edtP1", tsh1);
    edtP2 = Make<TEdit>(this, "edtP2", tsh2);
    sbtConfirmar = Make<TButtonFlat>(this, "sbtConfirmar", this);
    menu = Make<TMainMenu>(this, "menu");
    Menu = menu;
    mnuManutencao = Make<TMenuItem>(this, "mnuManutencao");
    mnuManutencao->SetCaption("&Manutenção");
    menu->Items().Add(mnuManutencao);
    mnuConfirmar = Make<TMenuItem>(this, "mnuConfirmar");
    mnuConfirmar->SetCaption("&Confirmar");
    mnuConfirmar->SetShortCut(TextToShortCut("Ctrl+Enter"));
    mnuManutencao->Add(mnuConfirmar);
    sbtConfirmar->SetMenuItem(mnuConfirmar);
    mnuConsolidar = Make<TMenuItem>(this, "mnuConsolidar");
    mnuConsolidar->SetCaption("C&onsolidar Efetivos por Cliente");
    mnuConsolidar->SetShortCut(ShortCut(VK_F6, ssNone));

    for (TWinControl* w : std::vector<TWinControl*>{panDados, edtA, edtB, panOutro, grp, edtC, pgc, tsh1, tsh2, edtP1, edtP2}) {
      w->OnEnter = [this, w](TObject&) { log.push_back(w->Name() + ".Enter"); };
      w->OnExit = [this, w](TObject&) { log.push_back(w->Name() + ".Exit"); };
    }
  }
};

struct FocusTest : ::testing::Test {
  Driver ui;
  TestForm* f = nullptr;
  void SetUp() override {
    f = CreateForm<TestForm>(nullptr);
    f->SetActiveControl(f->edtA);
    ui.act([&] { f->Show(); });
    f->log.clear();
  }
};

TEST_F(FocusTest, ShowFocusesTheActiveControlAfterActivation) {
  auto* g = CreateForm<TestForm>(nullptr, "frmOutro");
  g->OnActivate = [&](TObject&) { g->log.push_back("Activate"); };
  g->OnShow = [&](TObject&) { g->log.push_back("Show"); };
  f->OnDeactivate = [&](TObject&) { g->log.push_back("f.Deactivate"); };
  g->SetActiveControl(g->edtC);
  ui.act([&] { g->Show(); });
  EXPECT_EQ(g->log, (Log{"Show", "f.Deactivate", "Activate", "panOutro.Enter", "grp.Enter", "edtC.Enter"}));
  EXPECT_EQ(ui.focused(), g->edtC);
  // Going back to the first form runs no exit or enter handler of either.
  g->log.clear();
  ui.focus(*f->edtA);
  EXPECT_TRUE(g->log.empty());
  EXPECT_TRUE(f->log.empty());
  EXPECT_EQ(ui.focused(), f->edtA);
}

TEST_F(FocusTest, ContainersAreLeftInnermostFirstAndEnteredOutermostFirst) {
  ui.focus(*f->edtC);
  EXPECT_EQ(f->log, (Log{"edtA.Exit", "panDados.Exit", "panOutro.Enter", "grp.Enter", "edtC.Enter"}));
  f->log.clear();
  ui.focus(*f->edtB);
  EXPECT_EQ(f->log, (Log{"edtC.Exit", "grp.Exit", "panOutro.Exit", "panDados.Enter", "edtB.Enter"}));
  f->log.clear();
  ui.focus(*f->edtA);  // within one container: only the controls
  EXPECT_EQ(f->log, (Log{"edtB.Exit", "edtA.Enter"}));
}

TEST_F(FocusTest, RefusedExitKeepsTheFocusWhereTheHandlerPutIt) {
  // Raising alone: the focus stays, the message is shown once, nothing is entered.
  f->edtA->OnExit = [&](TObject&) { throw rtl::Exception("Filial deve ser informada."); };
  ui.press(VK_TAB);
  EXPECT_EQ(ui.focused(), f->edtA);
  EXPECT_EQ(ui.errors(), (std::vector<std::string>{"Filial deve ser informada."}));
  EXPECT_TRUE(f->log.empty());

  // Moving the focus, then raising: the focus is where the handler put it.
  f->edtA->OnExit = [&](TObject&) {
    f->edtB->SetFocus();
    throw rtl::EAbort();
  };
  ui.focus(*f->edtC);
  EXPECT_EQ(ui.focused(), f->edtB);
  EXPECT_EQ(f->log, (Log{"edtB.Enter"}));
  EXPECT_EQ(ui.errors().size(), 1u);  // EAbort shows nothing

  // A container refusing: the control's exit ran, the focus stays on it.
  f->log.clear();
  f->panDados->OnExit = [&](TObject&) { throw rtl::Exception("Data deve ser informada."); };
  ui.focus(*f->edtC);
  EXPECT_EQ(ui.focused(), f->edtB);
  EXPECT_EQ(f->log, (Log{"edtB.Exit"}));
  EXPECT_EQ(ui.lastError(), "Data deve ser informada.");
  // Once the container lets go, the move completes from the same control.
  f->panDados->OnExit = nullptr;
  f->log.clear();
  ui.focus(*f->edtC);
  EXPECT_EQ(ui.focused(), f->edtC);
  EXPECT_EQ(f->log, (Log{"edtB.Exit", "panOutro.Enter", "grp.Enter", "edtC.Enter"}));
}

TEST_F(FocusTest, ActiveControlIsTheTargetWhileExitHandlersRun) {
  TWinControl* seen = nullptr;
  f->edtA->OnExit = [&](TObject&) { seen = f->ActiveControl(); };
  ui.focus(*f->edtB);
  EXPECT_EQ(seen, f->edtB);
}

TEST_F(FocusTest, DisabledOrHiddenControlsCannotTakeTheFocus) {
  f->panOutro->SetEnabled(false);
  EXPECT_FALSE(f->edtC->CanFocus());
  try {
    f->edtC->SetFocus();
    FAIL() << "SetFocus on a control in a disabled container must raise";
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Cannot focus a disabled or invisible window");
  }
  EXPECT_FALSE(ui.focus(*f->edtC));
  EXPECT_FALSE(ui.focus(*f->edtNm));
  EXPECT_FALSE(ui.focus(*f->edtP2));  // on the hidden page
  EXPECT_EQ(ui.focused(), f->edtA);
  // Through a handler, the same error reaches the user once.
  f->edtA->OnKeyDown = [&](TObject&, Word&, TShiftState) { f->edtC->SetFocus(); };
  ui.press(VK_F5);
  EXPECT_EQ(ui.errors(), (std::vector<std::string>{SCannotFocus}));
}

TEST_F(FocusTest, TabWalksTheTabStopsWithoutReachingKeyHandlers) {
  Log keys;
  f->KeyPreview = true;
  f->OnKeyDown = [&](TObject&, Word& k, TShiftState) { keys.push_back("form " + std::to_string(k)); };
  f->OnKeyPress = [&](TObject&, TChar& c) { keys.push_back("press " + std::to_string(c)); };
  f->edtA->OnKeyDown = [&](TObject&, Word& k, TShiftState) { keys.push_back("edtA " + std::to_string(k)); };
  f->edtB->TabStop = true;
  f->edtP1->SetVisible(false);
  std::vector<std::string> visited;
  for (int i = 0; i < 5; ++i) {
    ui.press(VK_TAB);
    visited.push_back(ui.focusedName());
  }
  // edtNm is disabled, edtP1 hidden, panels are no tab stops; the page control is.
  EXPECT_EQ(visited, (std::vector<std::string>{"edtB", "edtC", "pgc", "edtA", "edtB"}));
  ui.press(VK_TAB, ssShift);
  EXPECT_EQ(ui.focusedName(), "edtA");
  ui.press(VK_TAB, ssShift);
  EXPECT_EQ(ui.focusedName(), "pgc");
  EXPECT_TRUE(keys.empty());
  f->edtB->TabStop = false;
  ui.focus(*f->edtA);
  ui.press(VK_TAB);
  EXPECT_EQ(ui.focusedName(), "edtC");
  // Tab order counts within each container; moving a control renumbers the others.
  f->edtB->TabStop = true;
  f->edtB->SetTabOrder(0);
  EXPECT_EQ(f->edtA->TabOrder(), 1);
  f->panOutro->SetTabOrder(0);
  ui.focus(*f->pgc);
  ui.press(VK_TAB);
  EXPECT_EQ(ui.focusedName(), "edtC");
  ui.press(VK_TAB);
  EXPECT_EQ(ui.focusedName(), "edtB");
  EXPECT_TRUE(keys.empty());
}

TEST_F(FocusTest, KeyPreviewSeesKeysFirstAndClearedKeysAreDiscarded) {
  Log keys;
  f->KeyPreview = true;
  f->OnKeyDown = [&](TObject&, Word& k, TShiftState) {
    keys.push_back("form.down " + std::to_string(k));
    if (k == VK_RETURN || k == 'X') k = 0;
  };
  f->OnKeyPress = [&](TObject&, TChar& c) {
    keys.push_back("form.press " + std::string(1, static_cast<char>(c)));
    if (c == 'e' || c == 'E') c = 0;
  };
  f->edtA->OnKeyDown = [&](TObject&, Word& k, TShiftState) { keys.push_back("edt.down " + std::to_string(k)); };
  f->edtA->OnKeyPress = [&](TObject&, TChar& c) { keys.push_back("edt.press " + std::string(1, static_cast<char>(c))); };

  ui.type("a");
  EXPECT_EQ(keys, (Log{"form.down 65", "edt.down 65", "form.press a", "edt.press a"}));
  keys.clear();
  // Cleared in KeyDown: the control misses the key down, the character still comes.
  ui.type("x");
  EXPECT_EQ(keys, (Log{"form.down 88", "form.press x", "edt.press x"}));
  EXPECT_EQ(f->edtA->Text(), "ax");
  keys.clear();
  // Cleared in KeyPress: the character never reaches the control.
  ui.type("e");
  EXPECT_EQ(keys, (Log{"form.down 69", "edt.down 69", "form.press e"}));
  EXPECT_EQ(f->edtA->Text(), "ax");
  keys.clear();
  ui.press(VK_RETURN);
  EXPECT_EQ(keys, (Log{"form.down 13", "form.press \r", "edt.press \r"}));
  // Without key preview the form sees nothing.
  f->KeyPreview = false;
  keys.clear();
  ui.type("e");
  EXPECT_EQ(keys, (Log{"edt.down 69", "edt.press e"}));
  EXPECT_EQ(f->edtA->Text(), "axe");
}

TEST_F(FocusTest, PageChangesRunTheirEventsOnlyWhenTheUserPicks) {
  Log events;
  bool allow = false;
  f->pgc->OnChanging = [&](TObject&, bool& a) {
    events.push_back("Changing from " + f->pgc->ActivePage()->Name());
    a = allow;
  };
  f->pgc->OnChange = [&](TObject&) { events.push_back("Change to " + f->pgc->ActivePage()->Name()); };
  ui.focus(*f->edtP1);
  f->log.clear();

  // Vetoed: the page stays; clicking the tab strip took the focus from the page.
  EXPECT_FALSE(ui.pick(*f->pgc, *f->tsh2));
  EXPECT_EQ(f->pgc->ActivePage(), f->tsh1);
  EXPECT_EQ(events, (Log{"Changing from tsh1"}));
  EXPECT_EQ(f->log, (Log{"edtP1.Exit", "tsh1.Exit"}));
  EXPECT_EQ(ui.focused(), f->pgc);

  events.clear();
  allow = true;
  EXPECT_TRUE(ui.pick(*f->pgc, *f->tsh2));
  EXPECT_EQ(f->pgc->ActivePage(), f->tsh2);
  EXPECT_EQ(events, (Log{"Changing from tsh1", "Change to tsh2"}));
  EXPECT_FALSE(f->tsh1->Showing());
  EXPECT_TRUE(f->edtP2->CanFocus());

  // In code: no event at all, but the focus leaves the hidden page.
  ui.focus(*f->edtP2);
  events.clear();
  f->log.clear();
  ui.act([&] { f->pgc->SetActivePage(f->tsh1); });
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(f->pgc->ActivePage(), f->tsh1);
  EXPECT_EQ(ui.focused(), f->edtP1);
  EXPECT_EQ(f->log, (Log{"edtP2.Exit", "tsh2.Exit", "tsh1.Enter", "edtP1.Enter"}));

  // A disabled page cannot be picked; an error in OnChanging keeps the page and is shown once.
  f->tsh2->SetEnabled(false);
  events.clear();
  EXPECT_FALSE(ui.pick(*f->pgc, *f->tsh2));
  EXPECT_TRUE(events.empty());
  f->tsh2->SetEnabled(true);
  f->pgc->OnChanging = [&](TObject&, bool&) { throw rtl::Exception("Somatória difere"); };
  EXPECT_FALSE(ui.pick(*f->pgc, *f->tsh2));
  EXPECT_EQ(f->pgc->ActivePage(), f->tsh1);
  EXPECT_EQ(ui.errors(), (std::vector<std::string>{"Somatória difere"}));
}

TEST_F(FocusTest, ShortcutsClickEnabledMenuItemsBeforeAnyKeyHandler) {
  int confirm = 0, consolidate = 0;
  Log keys;
  f->KeyPreview = true;
  f->OnKeyDown = [&](TObject&, Word& k, TShiftState) { keys.push_back(std::to_string(k)); };
  f->mnuConfirmar->OnClick = [&](TObject&) { ++confirm; };
  f->mnuConsolidar->OnClick = [&](TObject&) { ++consolidate; };
  // Inserted at a position among existing items.
  auto* first = Make<TMenuItem>(f, "mnuIncluir");
  first->SetCaption("&Incluir");
  f->mnuManutencao->Insert(0, first);
  f->mnuManutencao->Insert(1, f->mnuConsolidar);
  EXPECT_EQ(f->mnuManutencao->IndexOf(f->mnuConsolidar), 1);
  EXPECT_EQ(f->mnuManutencao->Find("Consolidar Efetivos por Cliente"), f->mnuConsolidar);
  EXPECT_EQ(HotkeyOf(f->mnuConsolidar->Caption()), 'O');

  ui.press(VK_F6);
  ui.press(VK_RETURN, ssCtrl);
  EXPECT_EQ(consolidate, 1);
  EXPECT_EQ(confirm, 1);
  EXPECT_TRUE(keys.empty());
  EXPECT_EQ(f->edtA->Text(), "");

  // The tool button's state drives its menu item; a disabled item lets the key through.
  f->sbtConfirmar->SetEnabled(false);
  EXPECT_FALSE(f->mnuConfirmar->Enabled());
  ui.press(VK_RETURN, ssCtrl);
  EXPECT_EQ(confirm, 1);
  EXPECT_EQ(keys, (Log{"13"}));
  EXPECT_FALSE(ui.click(*f->mnuConfirmar));
  EXPECT_FALSE(ui.click(*f->sbtConfirmar));
  f->mnuManutencao->SetEnabled(false);
  ui.press(VK_F6);
  EXPECT_EQ(consolidate, 1);
}

TEST_F(FocusTest, ToolButtonsActWithoutTakingTheFocus) {
  int clicks = 0;
  f->sbtConfirmar->OnClick = [&](TObject&) { ++clicks; };
  EXPECT_TRUE(ui.click(*f->sbtConfirmar));
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(ui.focused(), f->edtA);
  EXPECT_TRUE(f->log.empty());  // no exit handler ran
}

TEST_F(FocusTest, AnErrorIsShownOnceAndAbortNotAtAll) {
  f->sbtConfirmar->OnClick = [&](TObject&) { throw rtl::Exception("Falha no servidor"); };
  ui.click(*f->sbtConfirmar);
  f->sbtConfirmar->OnClick = [&](TObject&) { rtl::Abort(); };
  ui.click(*f->sbtConfirmar);
  // A handler that catches shows the message itself; the application shows nothing more.
  f->sbtConfirmar->OnClick = [&](TObject&) {
    try {
      throw rtl::Exception("Tratado");
    } catch (const rtl::Exception& e) {
      ShowMessage(e.Message());
    }
  };
  ui.click(*f->sbtConfirmar);
  EXPECT_EQ(ui.errors(), (std::vector<std::string>{"Falha no servidor"}));
  ASSERT_EQ(ui.dialogs().size(), 1u);
  EXPECT_EQ(ui.dialogs()[0].Text, "Tratado");
  EXPECT_EQ(ui.dialogs()[0].Type, TMsgDlgType::Information);
}

TEST_F(FocusTest, ConfirmationsTakeQueuedAnswersAndAnUnscriptedOneFailsTheTest) {
  TModalResult got = mrNone;
  f->sbtConfirmar->OnClick = [&](TObject&) {
    got = MessageDlg("Deseja gravar as alterações antes de sair?", TMsgDlgType::Confirmation, mbYesNo);
  };
  ui.answer(mrNo);
  ui.click(*f->sbtConfirmar);
  EXPECT_EQ(got, mrNo);
  EXPECT_EQ(ui.lastDialog(), "Deseja gravar as alterações antes de sair?");
  EXPECT_THROW(ui.click(*f->sbtConfirmar), EScriptError);
  ui.answer(mrOk);  // not a button of a Yes/No question
  EXPECT_THROW(ui.click(*f->sbtConfirmar), EScriptError);
}

struct Modal : TForm {
  TEdit* edtValor;
  TButton* btnOk;
  TButton* btnCancelar;
  bool allowClose = true;
  int closes = 0;
  explicit Modal(TComponent* owner) : TForm(owner) {
    SetName("frmModal");
    edtValor = Make<TEdit>(this, "edtValor", this);
    btnOk = Make<TButton>(this, "btnOk", this);
    btnOk->ModalResult = mrOk;
    btnOk->Default = true;
    btnCancelar = Make<TButton>(this, "btnCancelar", this);
    btnCancelar->ModalResult = mrCancel;
    btnCancelar->Cancel = true;
    OnCloseQuery = [this](TObject&, bool& can) { can = allowClose; };
    OnClose = [this](TObject&, TCloseAction& a) {
      ++closes;
      a = TCloseAction::Free;
    };
  }
};

TEST_F(FocusTest, AModalFormIsDrivenToCompletion) {
  int activations = 0, confirms = 0;
  f->OnActivate = [&](TObject&) { ++activations; };
  f->mnuConfirmar->OnClick = [&](TObject&) { ++confirms; };
  TModalResult result = mrNone;
  std::string typed;
  f->sbtConfirmar->OnClick = [&](TObject&) {
    auto* m = CreateForm<Modal>(f);
    result = m->ShowModal();
    typed = m->edtValor->Text();
  };
  ui.onModal([&](TCustomForm& form) {
    auto& m = static_cast<Modal&>(form);
    EXPECT_EQ(ui.activeForm(), &m);
    EXPECT_EQ(ui.focused(), m.edtValor);
    ui.type("12");
    m.allowClose = false;
    ui.press(VK_RETURN);  // the default button; the close is refused
    EXPECT_FALSE(m.ModalDone());
    EXPECT_EQ(m.closes, 0);
    // The calling form is out of reach while the modal form runs.
    EXPECT_FALSE(ui.focus(*f->edtA));
    EXPECT_FALSE(ui.click(*f->sbtConfirmar));
    EXPECT_FALSE(ui.click(*f->mnuConfirmar));
    ui.press(VK_RETURN, ssCtrl);  // its shortcuts do not reach it either
    m.allowClose = true;
    ui.click(*m.btnOk);
  });
  ui.click(*f->sbtConfirmar);
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(typed, "12");
  EXPECT_EQ(activations, 1);  // the calling form is activated again afterwards
  EXPECT_EQ(confirms, 0);
  EXPECT_EQ(ui.activeForm(), f);
  EXPECT_EQ(ui.focused(), f->edtA);
  EXPECT_EQ(f->FindComponent("frmModal"), nullptr);  // released after the action

  // Escape reaches the cancel button; a script that leaves the form open fails the test.
  f->sbtConfirmar->OnClick = [&](TObject&) { result = CreateForm<Modal>(f)->ShowModal(); };
  ui.onModal([&](TCustomForm&) { ui.press(VK_ESCAPE); });
  ui.click(*f->sbtConfirmar);
  EXPECT_EQ(result, mrCancel);
  ui.onModal([&](TCustomForm&) {});
  EXPECT_THROW(ui.click(*f->sbtConfirmar), EScriptError);
}

TEST_F(FocusTest, ClosingAsksCloseQueryThenOnClose) {
  Log events;
  bool can = false;
  f->OnCloseQuery = [&](TObject&, bool& c) {
    events.push_back("CloseQuery");
    c = can;
  };
  f->OnClose = [&](TObject&, TCloseAction& a) {
    events.push_back("Close");
    a = TCloseAction::Free;
  };
  f->FormStyle = TFormStyle::MDIChild;
  ui.close(*f);
  EXPECT_EQ(events, (Log{"CloseQuery"}));
  EXPECT_TRUE(f->Visible());
  can = true;
  bool destroyed = false;
  f->OnDestroy = [&](TObject&) { destroyed = true; };
  ui.close(*f);
  EXPECT_EQ(events, (Log{"CloseQuery", "CloseQuery", "Close"}));
  EXPECT_TRUE(destroyed);
  EXPECT_TRUE(Screen().Forms().empty());
}

TEST_F(FocusTest, DestroyedAndDisabledControlsLeaveTheFocusSound) {
  ui.focus(*f->edtB);
  delete f->edtB;
  f->edtB = nullptr;
  EXPECT_EQ(f->ActiveControl(), nullptr);
  ui.focus(*f->edtA);
  ui.press(VK_TAB);
  EXPECT_EQ(ui.focusedName(), "edtC");
  delete f->tsh1;
  EXPECT_EQ(f->pgc->PageCount(), 1);
  EXPECT_EQ(f->pgc->ActivePage(), f->tsh2);
  // A control disabled while focused takes no more keys; the form gets them.
  Log keys;
  f->edtC->OnKeyDown = [&](TObject&, Word& k, TShiftState) { keys.push_back("edtC"); };
  f->OnKeyDown = [&](TObject&, Word& k, TShiftState) { keys.push_back("form"); };
  f->edtC->SetEnabled(false);
  ui.type("a");
  EXPECT_EQ(keys, (Log{"form"}));
  EXPECT_EQ(f->edtC->Text(), "");
}

TEST_F(FocusTest, AcceleratorsFocusTheLabelledControl) {
  auto* lbl = Make<TLabel>(f, "lblCdFilial", f->panOutro);
  lbl->SetCaption("&Filial");
  lbl->SetBold(true);
  lbl->FocusControl = f->edtC;
  auto* btn = Make<TButton>(f, "btnOk", f);
  btn->SetCaption("&Gravar");
  int clicks = 0;
  btn->OnClick = [&](TObject&) { ++clicks; };
  ui.press('F', ssAlt);
  EXPECT_EQ(ui.focused(), f->edtC);
  ui.press('G', ssAlt);
  EXPECT_EQ(ui.focused(), btn);
  EXPECT_EQ(clicks, 1);
  lbl->SetEnabled(false);
  ui.press('F', ssAlt);
  EXPECT_EQ(ui.focused(), btn);
}

TEST_F(FocusTest, BusyIndicatorAndCursorAreRecorded) {
  f->sbtConfirmar->OnClick = [&](TObject&) {
    Screen().SetCursor(TCursor::HourGlass);
    ShowBusy(1, "Atualizando efetivos do cardápio...");
    HideBusy();
    Screen().SetCursor(TCursor::Default);
  };
  ui.click(*f->sbtConfirmar);
  EXPECT_EQ(ui.services().Cursor.History, (std::vector<TCursor>{TCursor::HourGlass, TCursor::Default}));
  ASSERT_EQ(ui.services().Busy.History.size(), 2u);
  EXPECT_EQ(ui.services().Busy.History[0].Kind, 1);
  EXPECT_EQ(ui.services().Busy.History[0].Text, "Atualizando efetivos do cardápio...");
  EXPECT_FALSE(ui.services().Busy.Visible());
}

TEST_F(FocusTest, RadioButtonsGroupsAndCombosReportUserChoices) {
  auto* r1 = Make<TRadioButton>(f, "rdbAnalitico", f->panOutro);
  auto* r2 = Make<TRadioButton>(f, "rdbSintetico", f->panOutro);
  auto* grpTipo = Make<TRadioGroup>(f, "rgpTipo", f);
  grpTipo->Items = {"Dia", "Mês"};
  auto* cmb = Make<TComboBox>(f, "cmbOrdem", f);
  cmb->Items = {"Código", "Nome"};
  cmb->Style = TComboBoxStyle::DropDownList;
  Log events;
  r2->OnClick = [&](TObject&) { events.push_back("r2"); };
  grpTipo->OnClick = [&](TObject&) { events.push_back("grp " + std::to_string(grpTipo->ItemIndex())); };
  cmb->OnChange = [&](TObject&) { events.push_back("cmb " + cmb->Text()); };
  ui.click(*r1);
  ui.click(*r2);
  EXPECT_FALSE(r1->Checked());
  EXPECT_TRUE(r2->Checked());
  ui.select(*grpTipo, 1);
  ui.press(VK_UP);
  ui.select(*cmb, 1);
  cmb->SetItemIndex(0);  // in code: no event
  EXPECT_EQ(events, (Log{"r2", "grp 1", "grp 0", "cmb Nome"}));
  EXPECT_EQ(Driver::text(*cmb), "Código");
}

TEST_F(FocusTest, ChildWindowsMinimiseWhenClosedByDefault) {
  f->FormStyle = TFormStyle::MDIChild;
  ui.close(*f);
  EXPECT_EQ(f->WindowState(), TWindowState::Minimized);
  EXPECT_TRUE(f->Visible());
  f->FormStyle = TFormStyle::Normal;
  ui.close(*f);
  EXPECT_FALSE(f->Visible());
  EXPECT_EQ(ui.activeForm(), nullptr);
}

TEST_F(FocusTest, ComponentsAreFoundByNameWithoutRegardToCase) {
  EXPECT_EQ(f->FindComponent("EDTA"), f->edtA);
  EXPECT_EQ(f->FindComponent("mnuConsolidar"), f->mnuConsolidar);
  EXPECT_EQ(f->FindComponent("nada"), nullptr);
  EXPECT_THROW(Make<TEdit>(f, "EdtA"), EComponentError);
  EXPECT_EQ(Screen().FindForm("FRMTESTE"), f);
}

TEST_F(FocusTest, ChangesReachTheObservers) {
  std::vector<std::string> changed;
  SetChangeObserver([&](TControl& c) { changed.push_back(c.Name()); });
  f->edtB->SetText("x");
  f->sbtConfirmar->SetEnabled(false);
  SetChangeObserver(nullptr);
  EXPECT_EQ(changed, (std::vector<std::string>{"edtB", "sbtConfirmar"}));
}

}  // namespace
