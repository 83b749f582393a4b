// The desktop as a user meets it, offscreen: the real package loaded by the
// host's loader, a real efetivos-server on a temporary demo database, and real
// Qt key and mouse events going through the binding into the toolkit.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QAbstractButton>
#include <QFileInfo>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "desktop/app.h"
#include "desktop/local_server.h"
#include "pla01000/cli_pla01000.h"
#include "platform/host/branch.h"

namespace {

int argc = 1;
char arg0[] = "desktop_test";
char* argv[] = {arg0, nullptr};

// Answers the message boxes the screen shows, recording their texts.
struct DialogWatcher {
  QStringList texts;
  QTimer timer;
  DialogWatcher() {
    QObject::connect(&timer, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        texts << box->text();
        QStringList captions;
        for (auto* b : box->buttons()) captions << b->text();
        texts << captions.join("|");
        box->buttons().front()->click();
      }
    });
    timer.start(20);
  }
};

class Desktop : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    app_ = new QApplication(argc, argv);
    translated_ = desktop::InstallPortuguese(*app_);
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
    ASSERT_TRUE(window_->open("PLA01000"));
    QApplication::processEvents();
    screen_ = *window_->package()->Variable<pla01000::TfrmMediEfetivos*>("frmMediEfetivos");
    ASSERT_NE(screen_, nullptr);
  }
  void TearDown() override { window_.reset(); }

  QWidget* focus() const { return QApplication::focusWidget(); }
  void type(const QString& text) { QTest::keyClicks(focus(), text); }
  void key(Qt::Key k) { QTest::keyClick(focus(), k); }

  static QApplication* app_;
  static bool translated_;
  static QTemporaryDir* dir_;
  static desktop::LocalServer* server_;
  std::unique_ptr<desktop::MainWindow> window_;
  pla01000::TfrmMediEfetivos* screen_ = nullptr;
};
QApplication* Desktop::app_ = nullptr;
bool Desktop::translated_ = false;
QTemporaryDir* Desktop::dir_ = nullptr;
desktop::LocalServer* Desktop::server_ = nullptr;

TEST_F(Desktop, TypedHeaderLoadsTheServicesOfTheDayIntoTheGrid) {
  DialogWatcher dialogs;
  auto* branch = window_->findChild<QLineEdit*>("medCdFilial");
  ASSERT_NE(branch, nullptr);
  ASSERT_EQ(focus(), branch);  // the toolkit's initial focus is Qt's
  type("0001");
  key(Qt::Key_Tab);
  ASSERT_EQ(focus(), window_->findChild<QLineEdit*>("depCardapio"));
  EXPECT_EQ(branch->text(), "0001");
  type(QDate::currentDate().toString("ddMMyyyy"));
  EXPECT_EQ(focus()->property("text").toString(), QDate::currentDate().toString("dd/MM/yyyy"));
  // Leave the header.
  auto* grid = window_->findChild<QTableView*>("dbgPadrao");
  ASSERT_NE(grid, nullptr);
  for (int i = 0; i < 4 && focus() != grid; ++i) key(Qt::Key_Tab);
  ASSERT_EQ(focus(), grid) << dialogs.texts.join("\n").toStdString();
  EXPECT_TRUE(dialogs.texts.isEmpty()) << dialogs.texts.join("\n").toStdString();

  // The demo day's restaurant services, as the headless grid has them.
  auto* model = grid->model();
  ASSERT_GE(model->rowCount(), 3);
  QStringList codes;
  for (int r = 0; r < model->rowCount(); ++r) codes << model->index(r, 0).data().toString();
  EXPECT_TRUE(codes.contains("00010")) << codes.join(",").toStdString();
  EXPECT_TRUE(codes.contains("00020"));
  EXPECT_TRUE(codes.contains("00030"));
  EXPECT_EQ(model->index(codes.indexOf("00010"), 1).data().toString(), "Almoço refeitório");
  EXPECT_EQ(model->rowCount(), screen_->dbgPadrao->RowCount());
  EXPECT_EQ(grid->currentIndex().row(), screen_->dbgPadrao->Row() - 1);
  EXPECT_EQ(grid->columnWidth(1), 209);

  QApplication::processEvents();
  const QString shot = QStringLiteral(EFET_ARTIFACT_DIR) + "/pla01000.png";
  ASSERT_TRUE(window_->grab().save(shot));
  EXPECT_GT(QFileInfo(shot).size(), 10000);

  // A click on a cell selects it through the toolkit; what is typed is the
  // grid's in-place editor, shown in the cell; Escape gives the value back.
  const int row = codes.indexOf("00020");
  const QModelIndex cell = model->index(row, 2);
  const QString before = cell.data().toString();
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(cell).center());
  EXPECT_EQ(screen_->dbgPadrao->Row(), row + 1);
  EXPECT_EQ(screen_->dbgPadrao->SelectedIndex(), 2);
  EXPECT_EQ(grid->currentIndex(), cell);
  type("17");
  // Whatever the screen let the editor take (its edit checks may refuse the
  // row), the cell shows exactly the toolkit's text.
  EXPECT_EQ(model->index(row, 2).data().toString().toStdString(), screen_->dbgPadrao->CellText(2));
  if (screen_->dbgPadrao->EditorMode()) EXPECT_EQ(model->index(row, 2).data().toString(), "17");
  key(Qt::Key_Escape);
  key(Qt::Key_Escape);
  EXPECT_EQ(model->index(row, 2).data().toString(), before);
  EXPECT_TRUE(dialogs.texts.isEmpty()) << dialogs.texts.join("\n").toStdString();
}

TEST_F(Desktop, AnUnknownBranchIsReportedOnceAndTheFocusStays) {
  DialogWatcher dialogs;
  auto* branch = window_->findChild<QLineEdit*>("medCdFilial");
  ASSERT_EQ(focus(), branch);
  type("zz99");
  EXPECT_EQ(branch->text(), "ZZ99");  // the mask's upper case, done by the toolkit
  key(Qt::Key_Tab);
  QTest::qWait(100);
  ASSERT_EQ(dialogs.texts.size(), 2) << dialogs.texts.join("\n").toStdString();
  EXPECT_EQ(dialogs.texts[1], "OK");
  EXPECT_EQ(focus(), branch);
  EXPECT_EQ(screen_->ActiveControl(), screen_->medCdFilial);
}

TEST_F(Desktop, QtSpeaksBrazilianPortuguese) {
  EXPECT_TRUE(translated_);
  EXPECT_EQ(QLocale().toString(QDate(2026, 12, 8), QLocale::ShortFormat), "08/12/2026");
  // Qt's own dialogs (the file dialog's and the message box's buttons).
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancelar");
}

TEST_F(Desktop, ClosingTheWindowReleasesTheScreen) {
  auto* global = window_->package()->Variable<pla01000::TfrmMediEfetivos*>("frmMediEfetivos");
  QWidget* sub = window_->area()->activeSubWindow();
  ASSERT_NE(sub, nullptr);
  sub->close();  // the window's close button asks the form
  QApplication::processEvents();
  EXPECT_EQ(*global, nullptr);
  QApplication::processEvents();
  EXPECT_TRUE(window_->area()->subWindowList().isEmpty());
  // The menu opens a new one.
  ASSERT_TRUE(window_->open("PLA01000"));
  EXPECT_NE(*global, nullptr);
  EXPECT_EQ(window_->area()->subWindowList().size(), 1);
}

}  // namespace
