#pragma once
// The desktop as a user meets it, offscreen: the real package loaded by the
// host's loader, a real efetivos-server on a temporary demo database, and real
// Qt key and mouse events going through the binding into the toolkit.

#include <gtest/gtest.h>

#include <QApplication>
#include <functional>
#include <QComboBox>
#include <QDate>
#include <QRadioButton>
#include <QAbstractButton>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QTableView>
#include <QToolButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "desktop/app.h"
#include "desktop/local_server.h"
#include "desktop/report_host.h"
#include "platform/db/query.h"
#include "platform/rtl/datetime.h"
#include "platform/report/engine.h"
#include "pla01000/cli_pla01000.h"
#include "platform/host/branch.h"


namespace desktop_test {

inline int argc = 1;
inline char arg0[] = "desktop_test";
inline char* argv[] = {arg0, nullptr};

// Answers the message boxes the screen shows as a user would, clicking the
// button captioned `answer` (the first one when empty), recording their texts
// and, after each, the buttons' captions.
struct DialogWatcher {
  QStringList texts;
  QString answer;
  QTimer timer;
  DialogWatcher() {
    QObject::connect(&timer, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        texts << box->text();
        QStringList captions;
        QAbstractButton* pick = box->buttons().front();
        for (auto* b : box->buttons()) {
          captions << b->text();
          if (!answer.isEmpty() && b->text() == answer) pick = b;
        }
        texts << captions.join("|");
        // "<Esc>" and "<X>" close the box without a button, as a user can.
        if (answer == "<Esc>") QTest::keyClick(box, Qt::Key_Escape);
        else if (answer == "<X>") box->close();
        else QTest::mouseClick(pick, Qt::LeftButton);
      }
    });
    timer.start(20);
  }
};

// The engine's documents on their way to the desktop's preview and printer.
struct DocumentTap : report::IReportHost {
  report::IReportHost* next;
  std::vector<report::Document> previewed, printed, designed;
  DocumentTap() : next(report::SetReportHost(this)) {}
  ~DocumentTap() override { report::SetReportHost(next); }
  void Print(const report::Document& d) override { printed.push_back(d), next->Print(d); }
  void Preview(const report::Document& d) override { previewed.push_back(d), next->Preview(d); }
  void Design(const report::ReportDefinition& def, const report::Document& d) override {
    designed.push_back(d), next->Design(def, d);
  }
};

// A script of steps run from the event loop while modal windows are open:
// each step waits until its condition holds, then acts. An action that opens
// a modal window runs in a timer of its own, so the script keeps going.
struct ModalScript {
  struct Step {
    std::function<bool()> ready;
    std::function<void()> act;
    bool blocking;
  };
  std::vector<Step> steps;
  size_t next = 0;
  QTimer timer;
  void wait(std::function<bool()> ready, std::function<void()> act, bool blocking = false) {
    steps.push_back({std::move(ready), std::move(act), blocking});
  }
  void start() {
    QObject::connect(&timer, &QTimer::timeout, [this] {
      if (next >= steps.size() || !steps[next].ready()) return;
      Step& s = steps[next++];
      if (s.blocking) QTimer::singleShot(0, s.act);
      else s.act();
    });
    timer.start(30);
  }
  bool done() const { return next == steps.size(); }
};

template <class T>
T* modal() {
  return qobject_cast<T*>(QApplication::activeModalWidget());
}

// The text a PDF shows and its page count, by poppler's tools.
inline QString pdfText(const QString& file, int first = 0, int last = 0) {
  QStringList args{"-layout"};
  if (first) args << "-f" << QString::number(first) << "-l" << QString::number(last);
  QProcess p;
  p.start("pdftotext", args << file << "-");
  p.waitForFinished(30000);
  return QString::fromUtf8(p.readAllStandardOutput());
}
inline int pdfPages(const QString& file) {
  QProcess p;
  p.start("pdfinfo", {file});
  p.waitForFinished(30000);
  for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n'))
    if (line.startsWith("Pages:")) return line.mid(6).trimmed().toInt();
  return -1;
}

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

  // Types the branch and today's date and leaves the header: the service grid.
  QTableView* loadToday(const DialogWatcher& dialogs, int daysBack = 0) {
    type("0001");
    key(Qt::Key_Tab);
    type(QDate::currentDate().addDays(-daysBack).toString("ddMMyyyy"));
    auto* grid = window_->findChild<QTableView*>("dbgPadrao");
    for (int i = 0; grid && i < 4 && focus() != grid; ++i) key(Qt::Key_Tab);
    EXPECT_EQ(focus(), grid) << dialogs.texts.join("\n").toStdString();
    return grid;
  }
  static int rowOf(QTableView* grid, const QString& code) {
    for (int r = 0; r < grid->model()->rowCount(); ++r)
      if (grid->model()->index(r, 0).data().toString() == code) return r;
    return -1;
  }
  static void clickCell(QTableView* grid, int row, int col) {
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(row, col)).center());
  }
  static QString cell(QTableView* grid, int row, int col) { return grid->model()->index(row, col).data().toString(); }

  QWidget* focus() const { return QApplication::focusWidget(); }
  void type(const QString& text) { QTest::keyClicks(focus(), text); }
  void key(Qt::Key k) { QTest::keyClick(focus(), k); }

  static inline QApplication* app_ = nullptr;
  static inline bool translated_ = false;
  static inline QTemporaryDir* dir_ = nullptr;
  static inline desktop::LocalServer* server_ = nullptr;
  std::unique_ptr<desktop::MainWindow> window_;
  pla01000::TfrmMediEfetivos* screen_ = nullptr;
};

}  // namespace desktop_test
