// A clerk's day on the desktop: where the keys go, closing without losing
// what was typed, the hotkeys, the exports and the widths of the columns.

#include <QDir>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QThread>

#include <csignal>

#include "fixture.h"
#include "platform/host/context.h"
#include "platform/ui/dbgrids.h"

using namespace desktop_test;

namespace {

int columnOf(ui::TDBGrid* g, const char* field) {
  for (int i = 0; i < g->ColumnCount(); ++i)
    if (g->Columns(i).Field() && g->Columns(i).Field()->FieldName() == field) return i;
  return -1;
}

// A stored value of a service's menu day, read from the branch database.
rtl::Variant storedCount(const char* field, const char* service, int daysBack) {
  db::Result r = db::dtmDBGeral.Conn().query(
      std::string("SELECT ") + field +
          " FROM CARDAPIO WHERE CDFILIAL = :P_F AND CDSERVFILI = :P_S AND DTCARDAPIO = :P_D",
      {{"P_F", rtl::Variant("0001")}, {"P_S", rtl::Variant(service)},
       {"P_D", rtl::Variant::FromDate(rtl::Date() - daysBack)}});
  return r.size() == 1 ? r.at(0, field) : rtl::Variant();
}

class Workday : public Desktop {
protected:
  QTabBar* pageTabs() const { return window_->findChild<QTabWidget*>("pgcPadrao")->tabBar(); }
  QTableView* grid(const char* name) const { return window_->findChild<QTableView*>(name); }
  void keyWith(Qt::Key k, Qt::KeyboardModifiers m) { QTest::keyClick(focus(), k, m); }
  QMdiSubWindow* screenWindow() const { return window_->area()->subWindowList().value(0); }
  bool screenOpen() const {
    return *window_->package()->Variable<pla01000::TfrmMediEfetivos*>("frmMediEfetivos") != nullptr;
  }
  // The header typed, then Tab until the page tabs have the focus.
  void leaveHeader(int daysBack) {
    type("0001");
    key(Qt::Key_Tab);
    type(QDate::currentDate().addDays(-daysBack).toString("ddMMyyyy"));
    for (int i = 0; i < 4 && focus() != pageTabs(); ++i) key(Qt::Key_Tab);
  }
  // To the billing page by its tab, and into the client grid's count of the first client.
  QTableView* toClients() {
    QTest::mouseClick(pageTabs(), Qt::LeftButton, {}, pageTabs()->tabRect(1).center());
    QTableView* clients = grid("dbgEfeCliCa");
    clickCell(clients, 0, columnOf(screen_->dbgEfeCliCa, "QTCOMEFETCLI"));
    return clients;
  }
};

TEST_F(Workday, AfterTheHeaderTheFocusIsSeenOnThePageTabsAndTheKeysReachTheFirstCount) {
  DialogWatcher dialogs;
  leaveHeader(2);
  // The toolkit put the focus on the page control; Qt shows it there.
  ASSERT_EQ(screen_->ActiveControl(), screen_->pgcPadrao) << dialogs.texts.join("\n").toStdString();
  ASSERT_EQ(focus(), pageTabs());
  // The current tab is framed in the highlight colour, and only with the focus.
  QTabBar* tabs = pageTabs();
  const QRect frame = tabs->tabRect(tabs->currentIndex()).adjusted(2, 2, -2, -1);
  const QPoint onFrame(frame.center().x(), frame.top());
  const QColor highlight = tabs->palette().color(QPalette::Highlight);
  EXPECT_EQ(tabs->grab().toImage().pixelColor(onFrame), highlight);

  // Tab: the grid's service column; Tab again skips the name into the clients.
  key(Qt::Key_Tab);
  QTableView* services = grid("dbgPadrao");
  ASSERT_EQ(focus(), services);
  EXPECT_NE(tabs->grab().toImage().pixelColor(onFrame), highlight);
  key(Qt::Key_Tab);
  EXPECT_EQ(screen_->dbgPadrao->SelectedField()->FieldName(), "QTCLIEFETCAR");
  // Only the grid with the focus shows a selected cell.
  EXPECT_TRUE(services->selectionModel()->hasSelection());
  EXPECT_FALSE(grid("dbgTipoPrat")->selectionModel()->hasSelection());
  EXPECT_FALSE(grid("dbgPrato")->selectionModel()->hasSelection());

  const int row = services->currentIndex().row();
  const std::string service = cell(services, row, 0).toStdString();
  type("380");
  key(Qt::Key_Tab);
  type("40");
  key(Qt::Key_Tab);
  type("5");
  keyWith(Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(screen_->cdsCardaDia.State(), data::TDataSetState::Browse) << dialogs.texts.join("\n").toStdString();
  EXPECT_EQ(storedCount("QTCLIEFETCAR", service.c_str(), 2).toDouble(), 380);
  EXPECT_EQ(storedCount("QTFUNEFETCAR", service.c_str(), 2).toDouble(), 40);
  EXPECT_EQ(storedCount("QTDOAEFETCAR", service.c_str(), 2).toDouble(), 5);
  // The status bar says that the save went through.
  auto* saved = window_->statusBar()->findChild<QLabel*>("statusSaved");
  ASSERT_NE(saved, nullptr);
  EXPECT_TRUE(saved->text().startsWith(QString::fromUtf8("Gravado às "))) << saved->text().toStdString();
  // The operator context is whole: the branch's name is known.
  EXPECT_EQ(host::NomeFiliProc(), "Sabor & Cia São Paulo");
  EXPECT_TRUE(window_->statusBar()->findChild<QLabel*>("statusBranch")->text().contains("Sabor & Cia"));
}

TEST_F(Workday, ARefusedValueIsSelectedSoThatTypingReplacesIt) {
  DialogWatcher dialogs;
  // An edit: the unknown branch is refused, the focus stays, the text is selected.
  type("zz99");
  key(Qt::Key_Tab);
  auto* branch = window_->findChild<QLineEdit*>("medCdFilial");
  ASSERT_EQ(focus(), branch);
  EXPECT_EQ(branch->selectedText(), "ZZ99");
  type("0001");
  EXPECT_EQ(branch->text(), "0001");
  key(Qt::Key_Tab);
  // Ctrl+A in the masked date selects the whole date; typing replaces it.
  type(QDate::currentDate().addDays(-3).toString("ddMMyyyy"));
  keyWith(Qt::Key_A, Qt::ControlModifier);
  auto* date = window_->findChild<QLineEdit*>("depCardapio");
  EXPECT_EQ(date->selectedText(), QDate::currentDate().addDays(-3).toString("dd/MM/yyyy"));
  type(QDate::currentDate().addDays(-4).toString("ddMMyyyy"));
  EXPECT_EQ(date->text(), QDate::currentDate().addDays(-4).toString("dd/MM/yyyy"));

  // A grid cell: -5 clients is refused when the column is left; 12 replaces it.
  for (int i = 0; i < 4 && focus() != grid("dbgPadrao"); ++i) key(Qt::Key_Tab);
  QTableView* services = grid("dbgPadrao");
  ASSERT_EQ(focus(), services);
  const int col = columnOf(screen_->dbgPadrao, "QTCLIEFETCAR");
  clickCell(services, 0, col);
  const int before = static_cast<int>(dialogs.texts.size());
  type("-5");
  key(Qt::Key_Tab);
  ASSERT_EQ(dialogs.texts.size(), before + 2);
  EXPECT_TRUE(dialogs.texts[before].contains("clientes")) << dialogs.texts[before].toStdString();
  EXPECT_EQ(screen_->dbgPadrao->SelectedIndex(), col);
  EXPECT_TRUE(screen_->dbgPadrao->EditorSelectedAll());
  type("12");
  EXPECT_EQ(cell(services, 0, col), "12");
  key(Qt::Key_Escape);
  key(Qt::Key_Escape);
}

TEST_F(Workday, CtrlTabChangesPagesAsAClickOnTheTabDoes) {
  DialogWatcher dialogs;
  leaveHeader(5);
  key(Qt::Key_Tab);
  ASSERT_EQ(focus(), grid("dbgPadrao"));
  keyWith(Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(screen_->pgcPadrao->ActivePage(), screen_->tshClientes) << dialogs.texts.join("\n").toStdString();
  EXPECT_EQ(pageTabs()->currentIndex(), 1);
  // The page change loaded the billing data, as a click does.
  EXPECT_GT(grid("dbgEfeCliCa")->model()->rowCount(), 0);
  // Back with Ctrl+Shift+Tab (Qt sends Backtab): the page checks run on the way.
  QTest::keyClick(focus(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(screen_->pgcPadrao->ActivePage(), screen_->tshPadrao);

  // A client count in edit: the page control is disabled, Ctrl+Tab changes nothing.
  QTableView* clients = toClients();
  type("7");
  ASSERT_EQ(screen_->cdsServCli.State(), data::TDataSetState::Edit);
  keyWith(Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(screen_->pgcPadrao->ActivePage(), screen_->tshClientes);
  EXPECT_TRUE(cell(clients, 0, columnOf(screen_->dbgEfeCliCa, "QTCOMEFETCLI")).startsWith("7"));
  dialogs.answer = "&Sim";
  QTest::mouseClick(window_->findChild<QToolButton*>("sbtCancelar"), Qt::LeftButton);
}

TEST_F(Workday, AltAndTheHotkeyOpenTheScreensMenuAndTheFramesMenu) {
  auto* screenBar = screenWindow()->findChild<QMenuBar*>();
  ASSERT_NE(screenBar, nullptr);
  QStringList captions;
  for (QAction* a : screenBar->actions()) captions << a->text();
  EXPECT_TRUE(captions.contains(QString::fromUtf8("&Operação"))) << captions.join(",").toStdString();
  QStringList items;
  for (QAction* a : screenBar->actions().front()->menu()->actions()) items << a->text();
  EXPECT_TRUE(items.contains("&Efetivos")) << items.join(",").toStdString();
  EXPECT_TRUE(items.contains("Clie&ntes"));

  // The toolbar: icons from the icon theme, the shortcut in the tip.
  auto* search = window_->findChild<QToolButton*>("sbtProcurar");
  ASSERT_NE(search, nullptr);
  EXPECT_FALSE(search->icon().isNull());
  EXPECT_TRUE(search->toolTip().endsWith("(F3)")) << search->toolTip().toStdString();

  // Alt+O with the focus in the branch field: the screen's "Operação" opens.
  ASSERT_EQ(focus(), window_->findChild<QLineEdit*>("medCdFilial"));
  keyWith(Qt::Key_O, Qt::AltModifier);
  QApplication::processEvents();
  ASSERT_NE(screenBar->activeAction(), nullptr);
  EXPECT_EQ(screenBar->activeAction()->text(), QString::fromUtf8("&Operação"));
  EXPECT_TRUE(screenBar->activeAction()->menu()->isVisible());
  screenBar->activeAction()->menu()->close();
  QApplication::processEvents();

  // Alt+J belongs to no screen control nor menu: the frame's "Janela" opens.
  window_->findChild<QLineEdit*>("medCdFilial")->setFocus();
  keyWith(Qt::Key_J, Qt::AltModifier);
  QApplication::processEvents();
  ASSERT_NE(window_->menuBar()->activeAction(), nullptr);
  EXPECT_EQ(window_->menuBar()->activeAction()->text(), "&Janela");
  window_->menuBar()->activeAction()->menu()->close();
  QApplication::processEvents();
  // The field's own label hotkey still goes to the toolkit.
  EXPECT_EQ(screen_->ActiveControl(), screen_->medCdFilial);
}

TEST_F(Workday, ClosingWithARowInEditOnThePlanningPagePostsIt) {
  DialogWatcher dialogs;
  leaveHeader(1);
  key(Qt::Key_Tab);
  key(Qt::Key_Tab);
  const int row = grid("dbgPadrao")->currentIndex().row();
  const std::string service = cell(grid("dbgPadrao"), row, 0).toStdString();
  type("381");
  ASSERT_EQ(screen_->cdsCardaDia.State(), data::TDataSetState::Edit) << dialogs.texts.join("\n").toStdString();
  screenWindow()->close();
  QApplication::processEvents();
  EXPECT_EQ(storedCount("QTCLIEFETCAR", service.c_str(), 1).toDouble(), 381) << dialogs.texts.join("\n").toStdString();
}

TEST_F(Workday, ClosingWithAClientCountInEditAsksAndSavesOnYes) {
  DialogWatcher dialogs;
  leaveHeader(3);
  toClients();
  type("9");
  ASSERT_EQ(screen_->cdsServCli.State(), data::TDataSetState::Edit) << dialogs.texts.join("\n").toStdString();
  dialogs.answer = "&Sim";
  screenWindow()->close();
  QApplication::processEvents();
  ASSERT_GE(dialogs.texts.size(), 2);
  EXPECT_EQ(dialogs.texts[0], QString::fromUtf8("Deseja gravar as alterações antes de sair?"));
  db::Result r = db::dtmDBGeral.Conn().query(
      "SELECT COUNT(*) AS N FROM EFETCLIE WHERE CDFILIAL = '0001' AND DTEFETCLIE = :P_D AND QTCOMEFETCLI = 9",
      {{"P_D", rtl::Variant::FromDate(rtl::Date() - 3)}});
  EXPECT_EQ(r.at(0, "N").toDouble(), 1) << dialogs.texts.join("\n").toStdString();
}

TEST_F(Workday, EscapeOrTheWindowButtonOnTheSaveQuestionKeepEverything) {
  DialogWatcher dialogs;
  leaveHeader(4);
  QTableView* clients = toClients();
  const int col = columnOf(screen_->dbgEfeCliCa, "QTCOMEFETCLI");
  type("11");
  for (const char* how : {"<Esc>", "<X>"}) {
    dialogs.texts.clear();
    dialogs.answer = how;
    screenWindow()->close();
    QApplication::processEvents();
    ASSERT_EQ(dialogs.texts.size(), 2) << how;
    EXPECT_EQ(dialogs.texts[0], QString::fromUtf8("Deseja gravar as alterações antes de sair?"));
    EXPECT_TRUE(screenOpen()) << how;
    EXPECT_TRUE(cell(clients, 0, col).startsWith("11")) << how;
    EXPECT_GT(screen_->cdsServCli.ChangeCount(), 0) << how;
  }
  // Only an explicit Não discards.
  dialogs.answer = "&Não";
  screenWindow()->close();
  QApplication::processEvents();
  EXPECT_FALSE(screenOpen());
}

// The server goes away while a count is being typed: the clerk is told what
// is lost and may still close the screen.
TEST_F(Workday, WithTheServerDownTheScreenClosesAfterAQuestion) {
  window_.reset();
  QTemporaryDir own;
  desktop::LocalServer server(EFET_SERVER_PROGRAM, own.filePath("down.db"));
  ASSERT_TRUE(server.start()) << server.error().toStdString();
  window_ = std::make_unique<desktop::MainWindow>();
  window_->resize(1180, 760);
  desktop::ConnectionSettings cs;
  cs.port = server.port();
  cs.database = "sqlite:" + server.dbFile();
  cs.operatorCode = "DEM";
  cs.password = "demo";
  ASSERT_FALSE(window_->connect(cs));
  window_->show();
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  ASSERT_TRUE(window_->open("PLA01000"));
  screen_ = *window_->package()->Variable<pla01000::TfrmMediEfetivos*>("frmMediEfetivos");
  DialogWatcher dialogs;
  leaveHeader(2);
  key(Qt::Key_Tab);
  key(Qt::Key_Tab);
  type("55");
  server.stop();

  dialogs.answer = "&Não";
  screenWindow()->close();
  QApplication::processEvents();
  ASSERT_FALSE(dialogs.texts.isEmpty());
  EXPECT_TRUE(dialogs.texts.back() == "&Sim|&Não");
  EXPECT_TRUE(dialogs.texts[dialogs.texts.size() - 2].contains(QString::fromUtf8("Os valores não gravados serão perdidos")))
      << dialogs.texts.join("\n").toStdString();
  EXPECT_TRUE(screenOpen());
  dialogs.answer = "&Sim";
  screenWindow()->close();
  QApplication::processEvents();
  EXPECT_FALSE(screenOpen()) << dialogs.texts.join("\n").toStdString();
  window_.reset();
  db::dtmDBGeral.Disconnect();
}

TEST_F(Workday, NoColumnIsNarrowerThanItsCaptionOrItsValues) {
  DialogWatcher dialogs;
  leaveHeader(5);
  toClients();
  for (const char* name : {"dbgPadrao", "dbgTipoPrat", "dbgPrato", "dbgServiFatu", "dbgEfeCliCa", "dbgMedCatraca"}) {
    QTableView* g = grid(name);
    ASSERT_NE(g, nullptr) << name;
    const QFontMetrics titles(g->horizontalHeader()->font());
    for (int c = 0; c < g->model()->columnCount(); ++c) {
      if (g->isColumnHidden(c)) continue;
      const QString title = g->model()->headerData(c, Qt::Horizontal).toString();
      EXPECT_GE(g->columnWidth(c), titles.horizontalAdvance(title) + 8) << name << " " << title.toStdString();
      for (int r = 0; r < g->model()->rowCount(); ++r)
        EXPECT_GE(g->columnWidth(c), g->fontMetrics().horizontalAdvance(cell(g, r, c)) + 6)
            << name << " " << cell(g, r, c).toStdString();
    }
  }
}

// The screen fills the frame and follows it as the frame grows or shrinks,
// until the clerk places it somewhere else.
TEST_F(Workday, TheScreenFollowsTheFrameUntilTheClerkMovesIt) {
  QMdiSubWindow* sub = screenWindow();
  ASSERT_NE(sub, nullptr);
  QWidget* room = window_->area()->viewport();
  window_->resize(window_->size() + QSize(300, 200));
  QApplication::processEvents();
  EXPECT_EQ(sub->geometry(), QRect(QPoint(0, 0), room->size()));
  window_->resize(window_->size() - QSize(150, 100));
  QApplication::processEvents();
  EXPECT_EQ(sub->geometry(), QRect(QPoint(0, 0), room->size()));

  sub->move(20, 10);
  const QSize placed = sub->size();
  window_->resize(window_->size() + QSize(100, 100));
  QApplication::processEvents();
  EXPECT_EQ(sub->size(), placed) << "a screen the clerk moved stays as placed";
}

}  // namespace

namespace {

// The save dialog: the type picked gives the format and its extension, and a
// file that exists is replaced only after Qt's question.
TEST_F(Workday, TheFileTypePickedDecidesTheExtensionAndOverwritingAsks) {
  QTemporaryDir out;
  auto save = [&](const QString& filter, const QString& name, const QString& overwriteAnswer) {
    ModalScript script;
    QStringList asked;
    script.wait([] { return modal<QFileDialog>() != nullptr; }, [&] {
      QFileDialog* d = modal<QFileDialog>();
      d->selectNameFilter(filter);
      emit d->filterSelected(filter);
      auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
      ASSERT_NE(edit, nullptr);
      edit->setText(name);
      QTest::keyClick(edit, Qt::Key_Return);
    }, true);  // Qt's overwrite question may open inside the key
    if (!overwriteAnswer.isEmpty()) {
      script.wait([] { return modal<QMessageBox>() != nullptr; }, [&] {
        QMessageBox* box = modal<QMessageBox>();
        asked << box->text();
        for (QAbstractButton* b : box->buttons())
          if (b->text().remove('&') == overwriteAnswer) QTest::mouseClick(b, Qt::LeftButton);
      });
      if (overwriteAnswer == QString::fromUtf8("Não"))
        script.wait([] { return modal<QFileDialog>() != nullptr; }, [] { modal<QFileDialog>()->reject(); });
    }
    script.start();
    // Only against a hang: a stalled script closes what is open.
    QTimer rescue;
    QObject::connect(&rescue, &QTimer::timeout, [] {
      if (QWidget* w = QApplication::activeModalWidget()) {
        ADD_FAILURE() << "left open: " << w->metaObject()->className() << " " << w->windowTitle().toStdString();
        w->close();
      }
    });
    rescue.start(20000);
    QString chosen = desktop::AskSaveFileName(out.path() + "/", "pdf", window_.get());
    EXPECT_TRUE(script.done()) << "stalled at step " << script.next;
    return std::pair{chosen, asked};
  };
  auto [csv, none] = save("CSV (*.csv)", "listagem", "");
  EXPECT_EQ(csv, out.filePath("listagem.csv"));
  EXPECT_TRUE(none.isEmpty());

  QFile existing(out.filePath("listagem.pdf"));
  ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  existing.write("%PDF");
  existing.close();
  auto [kept, asked] = save("PDF (*.pdf)", "listagem", QString::fromUtf8("Não"));
  EXPECT_TRUE(kept.isEmpty());
  ASSERT_EQ(asked.size(), 1);
  EXPECT_TRUE(asked[0].contains("listagem.pdf")) << asked[0].toStdString();
  auto [replaced, again] = save("PDF (*.pdf)", "listagem", "Sim");
  EXPECT_EQ(replaced, out.filePath("listagem.pdf"));
  EXPECT_EQ(again.size(), 1);
}

}  // namespace

namespace {

// The children of a process, from /proc.
QList<qint64> childrenOf(qint64 pid) {
  QList<qint64> out;
  for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
    QFile stat("/proc/" + entry + "/stat");
    if (!stat.open(QIODevice::ReadOnly)) continue;
    // pid (comm) state ppid ...: comm may hold blanks, so read after the last ')'.
    const QString line = QString::fromUtf8(stat.readAll());
    const QStringList rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (rest.size() > 1 && rest[1].toLongLong() == pid) out << entry.toLongLong();
  }
  return out;
}

bool alive(qint64 pid) { return QFileInfo::exists("/proc/" + QString::number(pid)); }

// Killed or crashed, the desktop takes its local server with it.
TEST(LocalServerLifetime, TheServerEndsWhenTheDesktopIsKilled) {
  QTemporaryDir dir;
  QProcess desktop;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
  desktop.setProcessEnvironment(env);
  desktop.start(EFET_DESKTOP_PROGRAM, {"--local-server", "--demo-db", dir.filePath("demo.db"), "--open", "PLA01000"});
  ASSERT_TRUE(desktop.waitForStarted(10000));
  QList<qint64> servers;
  for (int i = 0; i < 300 && servers.isEmpty(); ++i) {
    QThread::msleep(100);
    servers = childrenOf(desktop.processId());
  }
  ASSERT_EQ(servers.size(), 1);
  const qint64 server = servers.front();
  ASSERT_TRUE(alive(server));
  kill(static_cast<pid_t>(desktop.processId()), SIGKILL);
  desktop.waitForFinished(10000);
  bool gone = false;
  for (int i = 0; i < 100 && !gone; ++i) {
    QThread::msleep(100);
    // Gone, or a zombie nobody waits for any more than the orphan's reaper.
    QFile stat("/proc/" + QString::number(server) + "/stat");
    gone = !stat.open(QIODevice::ReadOnly) || QString::fromUtf8(stat.readAll()).contains(") Z ");
  }
  EXPECT_TRUE(gone);
  if (!gone) kill(static_cast<pid_t>(server), SIGKILL);
}

}  // namespace
