// The frame's additions as a user meets them, offscreen, against a real
// efetivos-server on a temporary demo database: the value history of a cell,
// the turnstile file import and the month panel.

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "desktop/app.h"
#include "desktop/import_dialog.h"
#include "desktop/local_server.h"
#include "desktop/month_panel.h"
#include "platform/db/query.h"
#include "platform/rtl/datetime.h"
#include "platform/ui/dbgrids.h"

namespace {

int argc = 1;
char arg0[] = "desktop_additions_test";
char* argv[] = {arg0, nullptr};

// Message boxes answered with their first button, their texts kept.
struct Boxes {
  QStringList texts;
  QTimer timer;
  Boxes() {
    QObject::connect(&timer, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        texts << box->text();
        QTest::mouseClick(box->buttons().front(), Qt::LeftButton);
      }
    });
    timer.start(20);
  }
};

template <class T>
T* shown(const char* name) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->objectName() == name)
      if (auto* t = qobject_cast<T*>(w)) return t;
  return nullptr;
}

QStringList column(QTableWidget* t, int c) {
  QStringList out;
  for (int r = 0; r < t->rowCount(); ++r) out << t->item(r, c)->text();
  return out;
}

class Additions : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    app_ = new QApplication(argc, argv);
    desktop::InstallPortuguese(*app_);
    dir_ = new QTemporaryDir;
    server_ = new desktop::LocalServer(EFET_SERVER_PROGRAM, dir_->filePath("demo.db"));
    ASSERT_TRUE(server_->start()) << server_->error().toStdString();
  }
  static void TearDownTestSuite() {
    delete server_;
    delete dir_;
  }
  void SetUp() override {
    window_ = std::make_unique<desktop::MainWindow>();
    window_->resize(1180, 760);
    desktop::ConnectionSettings cs;
    cs.port = server_->port();
    cs.database = "sqlite:" + server_->dbFile();
    cs.operatorCode = "DEM";
    cs.password = "demo";
    auto failure = window_->connect(cs);
    ASSERT_FALSE(failure) << failure->toStdString();
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  }
  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<QDialog*>(w)) w->close();
    window_.reset();
  }
  // PLA01000 on branch 0001, `daysBack` days ago: its service grid.
  QTableView* openDay(int daysBack) {
    EXPECT_TRUE(window_->open("PLA01000"));
    QApplication::processEvents();
    QTest::keyClicks(QApplication::focusWidget(), "0001");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClicks(QApplication::focusWidget(), QDate::currentDate().addDays(-daysBack).toString("ddMMyyyy"));
    auto* grid = window_->findChild<QTableView*>("dbgPadrao");
    for (int i = 0; grid && i < 4 && QApplication::focusWidget() != grid; ++i)
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), grid);
    return grid;
  }
  static int rowOf(QTableView* grid, const QString& code) {
    for (int r = 0; r < grid->model()->rowCount(); ++r)
      if (grid->model()->index(r, 0).data().toString() == code) return r;
    return -1;
  }
  static QString artifact(const QString& name) { return QStringLiteral(EFET_ARTIFACT_DIR) + "/" + name; }

  static QApplication* app_;
  static QTemporaryDir* dir_;
  static desktop::LocalServer* server_;
  std::unique_ptr<desktop::MainWindow> window_;
};
QApplication* Additions::app_ = nullptr;
QTemporaryDir* Additions::dir_ = nullptr;
desktop::LocalServer* Additions::server_ = nullptr;

TEST_F(Additions, CellMenuAndCtrlHShowTheValuesHistory) {
  Boxes boxes;
  QTableView* grid = openDay(1);
  ASSERT_NE(grid, nullptr);
  const int row = rowOf(grid, "00030");
  ASSERT_GE(row, 0);
  const QString before = grid->model()->index(row, 2).data().toString();
  // The clerk types a client count and confirms: one change in the history.
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(row, 2)).center());
  QTest::keyClicks(grid, "31");
  QTest::keyClick(grid, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join("\n").toStdString();

  // A right click on the cell offers the history.
  QTest::mouseClick(grid->viewport(), Qt::RightButton, {}, grid->visualRect(grid->model()->index(row, 2)).center());
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->actions().size(), 1);
  QAction* history = menu->actions().front();
  EXPECT_EQ(history->text(), "Histórico do valor");
  EXPECT_TRUE(history->isEnabled());
  history->trigger();
  menu->close();
  auto* dlg = shown<QDialog>("dlgHistorico");
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(dlg->windowTitle(), "Histórico do valor");
  auto* table = dlg->findChild<QTableWidget*>("tblHistorico");
  ASSERT_EQ(table->rowCount(), 1);
  EXPECT_EQ(table->item(0, 1)->text(), "DEM Operador de demonstração");
  EXPECT_EQ(table->item(0, 2)->text(), (before.isEmpty() ? "(vazio)" : before) + " → 31");
  EXPECT_EQ(table->item(0, 3)->text(), "PostCard");
  QApplication::processEvents();
  dlg->grab().save(artifact("historico.png"));
  dlg->close();
  QApplication::processEvents();

  // Ctrl+H on a value never changed says so; on the service's name there is no history.
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(row, 4)).center());
  QTest::keyClick(grid, Qt::Key_H, Qt::ControlModifier);
  dlg = shown<QDialog>("dlgHistorico");
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(dlg->findChild<QTableWidget*>("tblHistorico")->rowCount(), 0);
  EXPECT_EQ(dlg->findChild<QLabel*>("lblHistorico")->text(), "Este valor nunca foi alterado.");
  dlg->close();
  QApplication::processEvents();
  QTest::mouseClick(grid->viewport(), Qt::RightButton, {}, grid->visualRect(grid->model()->index(row, 1)).center());
  menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  EXPECT_FALSE(menu->actions().front()->isEnabled());
  menu->close();
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join("\n").toStdString();
}

// The history is one cell action among others: a second one joins the same
// menu after it, runs on the cell the right click picked, and its shortcut
// runs it on the current cell.
TEST_F(Additions, CellActionsShareOneMenuAndRunOnTheCurrentCell) {
  QStringList ran;
  window_->binding().AddCellAction({"Copiar valor", QKeySequence("Ctrl+K"),
                                    [&ran](ui::TDBGrid& grid, QWidget* window) {
                                      ran << QString::fromStdString(grid.SelectedField()->FieldName()) +
                                                 (window == nullptr ? " sem janela" : "");
                                    },
                                    {}});
  QTableView* grid = openDay(1);
  ASSERT_NE(grid, nullptr);
  const int row = rowOf(grid, "00030");
  ASSERT_GE(row, 0);
  QTest::mouseClick(grid->viewport(), Qt::RightButton, {}, grid->visualRect(grid->model()->index(row, 2)).center());
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_EQ(menu->actions()[0]->text(), "Histórico do valor");
  EXPECT_EQ(menu->actions()[1]->text(), "Copiar valor");
  menu->actions()[1]->trigger();
  menu->close();
  QApplication::processEvents();
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(row, 3)).center());
  QTest::keyClick(grid, Qt::Key_K, Qt::ControlModifier);
  ASSERT_EQ(ran.size(), 2);
  EXPECT_EQ(ran[0], "QTCLIEFETCAR");
  EXPECT_EQ(ran[1], "QTFUNEFETCAR");
  EXPECT_EQ(shown<QDialog>("dlgHistorico"), nullptr);
  // The menu key offers the same menu for the current cell, without moving it.
  QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(1, 1));
  QApplication::sendEvent(grid->viewport(), &key);
  menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->actions().size(), 2);
  menu->actions()[1]->trigger();
  menu->close();
  QApplication::processEvents();
  ASSERT_EQ(ran.size(), 3);
  EXPECT_EQ(ran[2], "QTFUNEFETCAR");
}

TEST_F(Additions, ImportPreviewGivesEachLineItsVerdictAndSendsOnlyWhatIsTicked) {
  auto d = [](int back) { return QDate::currentDate().addDays(-back).toString("dd/MM/yyyy"); };
  QFile f(dir_->filePath("catracas.csv"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  // Latin-1, as many controllers write it; the columns in their own order.
  f.write(QString("DTEFETCAT;CDCATRACA;CDFILIAL;CDSERVFILI;QTEFETCATINI;QTEFETCATFIM;OBSERVAÇÃO\n"
                  "%1;CAT000102;0001;00010;100;150;ok\n"
                  "%1;CATXX;0001;00010;100;150;\n"
                  "%1;CAT000101;0001;00077;100;150;\n"
                  "%2;CAT000102;0001;00010;50;40;\n"
                  "%3;CAT000102;0001;00010;10;20;\n"
                  "%1;CAT000101;0001;00010;1;2;\n"
                  "xx/01/2024;CAT000102;0001;00010;1;2;\n")
              .arg(d(1), d(2), d(20))
              .toLatin1());
  f.close();
  desktop::ImportDialog dlg(window_.get());
  dlg.show();
  dlg.loadFile(f.fileName());
  auto* table = dlg.findChild<QTableWidget*>("tblPrevia");
  ASSERT_EQ(table->rowCount(), 7);
  const QStringList verdicts = column(table, 7);
  const QStringList want{"Pronta: Leitura nova.",
                         "Catraca desconhecida: Catraca CATXX não cadastrada na filial 0001.",
                         "Serviço desconhecido: Serviço 00077 não cadastrado na filial 0001.",
                         "Final menor que inicial: Contador final (40) menor que o inicial (50).",
                         "Dia fechado: Dia fechado para alteração de efetivos (" + d(20) + ").",
                         "Alterada: Já gravada com outros valores: ",
                         "Linha inválida: Linha 8: data \"xx/01/2024\" inválida (use dd/mm/aaaa)."};
  for (int i = 0; i < 7; ++i) EXPECT_TRUE(verdicts[i].startsWith(want[i])) << verdicts[i].toStdString();
  EXPECT_TRUE(verdicts[5].endsWith("→ 1–2.")) << verdicts[5].toStdString();
  auto* import = dlg.findChild<QPushButton*>("btnImportar");
  EXPECT_TRUE(import->isEnabled());
  EXPECT_EQ(dlg.preview().toSend(), 1);
  QApplication::processEvents();
  dlg.grab().save(artifact("importacao.png"));

  // The changed reading goes only once ticked; both lines go in one call.
  table->item(5, 0)->setCheckState(Qt::Checked);
  EXPECT_EQ(dlg.preview().toSend(), 2);
  QTest::mouseClick(import, Qt::LeftButton);
  auto* summary = dlg.findChild<QLabel*>("lblResumo");
  EXPECT_EQ(summary->text(), "2 leituras gravadas em 1 envio.");
  db::Result r = db::dtmDBGeral.Conn().query(
      "SELECT QTEFETCATTOT FROM EFETCATRACA WHERE CDFILIAL = '0001' AND CDCATRACA = 'CAT000102' AND DTEFETCAT = :P_D",
      {{"P_D", rtl::Variant::FromDate(rtl::Date() - 1)}});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r.rows[0][0].toDouble(), 50);

  // The same file again: nothing left to send, and the dialog says so.
  dlg.loadFile(f.fileName());
  EXPECT_EQ(dlg.preview().toSend(), 0);
  EXPECT_FALSE(import->isEnabled());
  EXPECT_TRUE(summary->text().endsWith("Nada a importar: as leituras do arquivo já estão gravadas."))
      << summary->text().toStdString();
}

TEST_F(Additions, MonthPanelListsTheFailingDaysAndOpensOne) {
  // Ten days ago, past the branch's closed-day limit of 5 days: breakfast loses its headcount.
  const QDate day = QDate::currentDate().addDays(-10);
  db::dtmDBGeral.Conn().exec(
      "UPDATE CARDAPIO SET QTCLIEFETCAR = NULL, QTFUNEFETCAR = NULL, QTDOAEFETCAR = NULL, QTCOMEFETCAR = NULL"
      " WHERE CDFILIAL = '0001' AND CDSERVFILI = '00030' AND DTCARDAPIO = :P_D",
      {{"P_D", rtl::Variant::FromDate(rtl::Date() - 10)}});
  desktop::MonthPanel panel(window_.get());
  QString openedBranch;
  QDate openedDay;
  panel.openDay = [&](const QString& b, const QDate& d) {
    openedBranch = b, openedDay = d;
    if (window_->open("PLA01000")) desktop::ShowDayOnScreen(b, d);
  };
  panel.setSelection("0001", day);
  panel.show();
  panel.load();
  auto* list = panel.findChild<QTableWidget*>("tblPendencias");
  ASSERT_EQ(list->rowCount(), static_cast<int>(panel.view().checks.size()));
  ASSERT_EQ(panel.view().services.size(), 3u);
  int found = -1;
  QStringList rows;
  for (int r = 0; r < list->rowCount(); ++r) {
    rows << list->item(r, 0)->text() + " " + list->item(r, 1)->text() + " " + list->item(r, 2)->text();
    if (list->item(r, 0)->text() == day.toString("dd/MM/yyyy") && list->item(r, 1)->text() == "00030 Café da manhã" &&
        list->item(r, 2)->text() == "Serviço com retirada de estoque e sem efetivos.")
      found = r;
  }
  ASSERT_GE(found, 0) << rows.join("\n").toStdString();
  EXPECT_TRUE(rows.contains(day.toString("dd/MM/yyyy") + " 00030 Café da manhã Dia sem efetivos além do limite de dia fechado (" +
                            QDate::currentDate().addDays(-5).toString("dd/MM/yyyy") + ")."))
      << rows.join("\n").toStdString();
  QApplication::processEvents();
  ASSERT_TRUE(panel.savePng(artifact("painel-mes.png")));
  EXPECT_GT(QImage(artifact("painel-mes.png")).height(), 3 * 240);
  ASSERT_TRUE(panel.savePdf(artifact("painel-mes.pdf")));
  EXPECT_GT(QFileInfo(artifact("painel-mes.pdf")).size(), 10000);

  // A click on the day opens the headcounts of that branch and date.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(found, 0)).center());
  EXPECT_EQ(openedBranch, "0001");
  EXPECT_EQ(openedDay, day);
  auto* date = window_->findChild<QLineEdit*>("depCardapio");
  ASSERT_NE(date, nullptr);
  EXPECT_EQ(date->text(), day.toString("dd/MM/yyyy"));
  auto* grid = window_->findChild<QTableView*>("dbgPadrao");
  ASSERT_NE(grid, nullptr);
  EXPECT_GE(rowOf(grid, "00030"), 0);
}

}  // namespace
