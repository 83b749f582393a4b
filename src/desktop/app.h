#pragma once
// The host application: login, connection to the application server and the
// branch database, the package loaded by name, and the multi-document frame
// whose menu opens the screens the package exports.

#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QTime>
#include <QMainWindow>
#include <QMdiArea>
#include <QSettings>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "desktop/binding.h"
#include "desktop/local_server.h"
#include "desktop/qt_services.h"
#include "desktop/report_host.h"
#include "package/loader.h"

namespace desktop {

struct ConnectionSettings {
  QString host = "127.0.0.1";
  int port = 8211;
  QString database;  // the branch database's connection string (sqlite:FILE, or PostgreSQL's)
  QString operatorCode;
  QString password;
  QString branch = "0001";  // processing branch
  // HTTPS to the server, verified against caFile (PEM) or, when it is empty,
  // the system's certificate store.
  bool https = false;
  QString caFile;
};

// Portuguese (Brazil) for Qt's own texts and the locale (dates, numbers);
// false when Qt's translation file is missing (qt6-translations-l10n).
bool InstallPortuguese(QCoreApplication& app);

class MainWindow : public QMainWindow {
  Q_OBJECT
public:
  MainWindow();
  ~MainWindow() override;

  // Logs in, connects the branch database and loads the package; a failure
  // comes back as the message to show.
  std::optional<QString> connect(const ConnectionSettings& s);
  // Opens a screen by its code ("PLA01000") through the package's opener;
  // false when the package has no opener for it.
  bool open(const QString& code);
  package::TPackage* package() const { return package_.get(); }
  Binding& binding() { return *binding_; }
  QMdiArea* area() const { return area_; }
  report::TReportEngine& reports() { return *reports_; }
  // Types keys into the toolkit: text with <Tab>, <Enter>, <Esc>, <F1>..<F8>, <Down>, <Up>, <Left>,
  // <Right>, each with Ctrl+, Alt+ or Shift+ in front; and clicks as the mouse gives them:
  // <Page:CAPTION> a tab, <Cell:GRID,ROW,COL> a grid cell, <Button:GRID> the current cell's button.
  void keys(const QString& script);

  // What the frame's additions hook in: called with the frame's
  // "Planejamento" menu each time the menus are built (after the login).
  using MenuExtension = std::function<void(MainWindow& frame, QMenu& planejamento)>;
  static void AddMenuExtension(MenuExtension extension);

  // The status bar: the last accepted save and the last error shown.
  void showSaved(const QTime& at);
  void showError(const QString& text);

protected:
  void closeEvent(QCloseEvent* e) override;

private:
  static std::vector<MenuExtension>& menuExtensions();
  void buildMenus();
  void buildStatusBar();
  QLabel* operator_ = nullptr;
  QLabel* branch_ = nullptr;
  QLabel* server_ = nullptr;
  QLabel* saved_ = nullptr;
  QLabel* lastError_ = nullptr;
  QMdiArea* area_;
  std::unique_ptr<QtServices> services_;
  std::unique_ptr<report::TReportEngine> reports_;
  std::unique_ptr<QtReportHost> reportHost_;
  host::IReportEngine* previousReports_ = nullptr;
  std::unique_ptr<Binding> binding_;
  std::unique_ptr<package::TPackage> package_;
  QString host_;
  int port_ = 0;
  bool https_ = false;
  QString caFile_;
};

// The save dialog of the reports: the file type picked decides the format and
// the extension; an existing file is replaced only after a question. Empty
// when cancelled.
QString AskSaveFileName(const QString& proposed, const QString& defaultExt, QWidget* parent = nullptr);

// The package's folder: next to the program or in the build tree.
std::vector<std::string> PackageDirs();

// The login dialog; false when cancelled. Remembers operator and server.
bool AskLogin(ConnectionSettings& s, QSettings& settings, const QString& error = {});

}  // namespace desktop
