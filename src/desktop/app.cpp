#include "desktop/app.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QIcon>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMdiSubWindow>
#include <QResizeEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTime>
#include <QTranslator>

#include <cstring>

#include "desktop/history_dialog.h"
#include "desktop/import_dialog.h"
#include "desktop/month_panel.h"
#include "desktop/save_watch.h"
#include "net/http_transport.h"
#include "platform/db/query.h"
#include "platform/host/branch.h"
#include "platform/host/context.h"
#include "platform/host/frm_dados_ger_rel.h"

namespace desktop {

namespace {

// The screens the frame's menu offers, by the opener the package exports.
struct ScreenEntry {
  const char* code;
  const char* opener;
  const char* caption;
};
constexpr ScreenEntry kScreens[] = {
    {"PLA01000", "CriaMedEfetivos", "&Efetivos"},
    {"PLA01001", "CriaListEfet", "&Listagem de Efetivos"},
    {"PLA01010", "CriaConsEfetClie", "&Consolidação de Efetivos por Cliente"},
};

// A screen opens filling the frame; while nobody moves or resizes it, it keeps
// filling the frame as the frame grows or shrinks. One the user placed stays.
class FillFrame : public QObject {
public:
  explicit FillFrame(QMdiArea* area) : QObject(area), area_(area) { area->viewport()->installEventFilter(this); }

  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() != QEvent::Resize) return false;
    auto* r = static_cast<QResizeEvent*>(e);
    const QSize was = Fitted(r->oldSize());
    for (QMdiSubWindow* sub : area_->subWindowList()) {
      if (sub->isMaximized() || sub->isMinimized()) continue;
      if (sub->pos() == QPoint(0, 0) && sub->size() == was) sub->resize(Fitted(r->size()));
    }
    return false;
  }
  // The size a screen takes in a frame of that room.
  static QSize Fitted(QSize room) { return room.expandedTo(QSize(640, 400)); }

private:
  QMdiArea* area_;
};

}  // namespace

bool InstallPortuguese(QCoreApplication& app) {
  QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
  auto* qt = new QTranslator(&app);
  if (!qt->load(QLocale(QLocale::Portuguese, QLocale::Brazil), "qtbase", "_",
                QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete qt;
    return false;
  }
  app.installTranslator(qt);
  return true;
}

std::vector<std::string> PackageDirs() {
  const QString dir = QCoreApplication::applicationDirPath();
  std::vector<std::string> dirs;
  if (qEnvironmentVariableIsSet("EFET_PACKAGE_PATH")) dirs.push_back(qEnvironmentVariable("EFET_PACKAGE_PATH").toStdString());
  dirs.push_back(dir.toStdString());
  dirs.push_back((dir + "/../package").toStdString());
  return dirs;
}

MainWindow::MainWindow() {
  setWindowTitle("Efetivos");
  // The toolbar's icons: the desktop's freedesktop theme, else Tango (a
  // dependency), for a bare X server has no theme of its own.
  if (!QIcon::hasThemeIcon("document-save")) {
    // Platforms without a desktop theme (offscreen, VNC) know no icon folders.
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& dir :
         QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, "icons", QStandardPaths::LocateDirectory))
      if (!paths.contains(dir)) paths << dir;
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName("Tango");
  }
  area_ = new QMdiArea(this);
  area_->setViewMode(QMdiArea::SubWindowView);
  setCentralWidget(area_);
  new FillFrame(area_);
  services_ = std::make_unique<QtServices>();
  binding_ = std::make_unique<Binding>(area_);
  InstallValueHistory(*binding_);
  // Alt+letter that no screen takes opens the frame's menus.
  binding_->frameHotkeys = [this](QChar letter) { return OpenMenuByHotkey(menuBar(), letter); };
  // The listing's definitions: the usual folders, then the build tree's.
  reports_ = std::make_unique<report::TReportEngine>();
  reports_->Library().AddFolder(QDir(QCoreApplication::applicationDirPath() + "/reports").absolutePath().toStdString());
  reports_->Library().AddFolder(
      QDir(QCoreApplication::applicationDirPath() + "/../../reports").absolutePath().toStdString());
  previousReports_ = host::SetReportEngine(reports_.get());
  reportHost_ = std::make_unique<QtReportHost>();
  host::SetSaveDialogHandler([](std::string& fileName, const std::string& defaultExt) {
    QString name = AskSaveFileName(QString::fromStdString(fileName), QString::fromStdString(defaultExt));
    if (name.isEmpty()) return false;
    fileName = name.toStdString();
    return true;
  });
  services_->onError = [this](const QString& text) { showError(text); };
  buildStatusBar();
}

QString AskSaveFileName(const QString& proposed, const QString& defaultExt, QWidget* parent) {
  // Qt's own dialog (in Portuguese whatever the desktop): the type picked
  // decides the format, its extension is added to a name without one, and an
  // existing file is only replaced after a question.
  QFileDialog dlg(parent ? parent : QApplication::activeWindow(), "Salvar relatório");
  dlg.setOption(QFileDialog::DontUseNativeDialog);
  dlg.setAcceptMode(QFileDialog::AcceptSave);
  dlg.setFileMode(QFileDialog::AnyFile);
  const QStringList filters{"PDF (*.pdf)", "CSV (*.csv)"};
  dlg.setNameFilters(filters);
  const QString ext = defaultExt.toLower() == "csv" ? "csv" : "pdf";
  dlg.selectNameFilter(filters[ext == "csv" ? 1 : 0]);
  dlg.setDefaultSuffix(ext);
  QObject::connect(&dlg, &QFileDialog::filterSelected, &dlg, [&dlg](const QString& filter) {
    const QString suffix = filter.startsWith("CSV") ? "csv" : "pdf";
    dlg.setDefaultSuffix(suffix);
    // A name already typed follows the type.
    if (auto* edit = dlg.findChild<QLineEdit*>("fileNameEdit")) {
      QString text = edit->text();
      if (text.endsWith(".pdf", Qt::CaseInsensitive) || text.endsWith(".csv", Qt::CaseInsensitive))
        edit->setText(text.left(text.size() - 4) + "." + suffix);
    }
  });
  if (!proposed.isEmpty()) dlg.selectFile(proposed);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
  QString name = dlg.selectedFiles().front();
  const QString typed = QFileInfo(name).suffix().toLower();
  // A name typed with ".pdf" or ".csv" says the format itself; any other
  // gets the picked type's extension (Qt adds it only to a name without a dot).
  if (typed != "pdf" && typed != "csv") {
    name += "." + QString(dlg.selectedNameFilter().startsWith("CSV") ? "csv" : "pdf");
    if (QFileInfo::exists(name) &&
        QMessageBox::question(dlg.parentWidget(), "Salvar relatório",
                              QString("O arquivo %1 já existe. Deseja substituí-lo?").arg(QFileInfo(name).fileName()),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
      return {};
  }
  return name;
}

void MainWindow::buildStatusBar() {
  auto label = [this](const char* name) {
    auto* l = new QLabel(this);
    l->setObjectName(name);
    l->setContentsMargins(6, 0, 6, 0);
    statusBar()->addPermanentWidget(l);
    return l;
  };
  operator_ = label("statusOperator");
  branch_ = label("statusBranch");
  server_ = label("statusServer");
  saved_ = label("statusSaved");
  lastError_ = new QLabel(this);
  lastError_->setObjectName("statusError");
  lastError_->setStyleSheet("color: #a00000");
  statusBar()->addWidget(lastError_, 1);
  server_->setText("Desconectado");
}

void MainWindow::showSaved(const QTime& at) {
  saved_->setText("Gravado às " + at.toString("hh:mm:ss"));
  lastError_->clear();
}

void MainWindow::showError(const QString& text) {
  QString line = text.simplified();
  lastError_->setToolTip(text);
  lastError_->setText(QTime::currentTime().toString("hh:mm:ss") + " — " + line);
}

MainWindow::~MainWindow() {
  // The forms go before the code that made them; the package before the
  // connections it used.
  binding_->clear();
  ui::Application().DestroyForms();
  package_.reset();
  host::SetSaveDialogHandler(nullptr);
  reportHost_.reset();
  host::SetReportEngine(previousReports_);
  reports_.reset();
  binding_.reset();
  services_.reset();
  if (port_) {
    try {
      net::HttpTransportOptions transport;
      transport.https = https_;
      transport.caFile = caFile_.toStdString();
      net::Logout(host_.toStdString(), port_, transport);
    } catch (...) {
    }
  }
  db::dtmDBGeral.Disconnect();
}

std::optional<QString> MainWindow::connect(const ConnectionSettings& s) {
  try {
    net::HttpTransportOptions transport;
    transport.https = s.https;
    transport.caFile = s.caFile.toStdString();
    net::RegisterHttpTransport(transport);
    net::Login(s.host.toStdString(), s.port, s.operatorCode.toStdString(), s.password.toStdString(), transport);
    host_ = s.host;
    port_ = s.port;
    https_ = s.https;
    caFile_ = s.caFile;
    // The whole context before anything reads it: the branch's name comes
    // from the branch database, so the branch is set first.
    auto& c = host::Context();
    c.operador = s.operatorCode.toUpper().toStdString();
    c.filiProc = s.branch.toStdString();
    c.nomeFiliProc.clear();
    c.webURL = s.host.toStdString();
    c.webPort = s.port;
    if (!s.database.isEmpty()) {
      db::dtmDBGeral.Configure(s.database.toStdString());
      host::UseDatabaseForContext();
    }
    if (!package_) package_ = package::TPackage::Load("Pkg_Pla01000", PackageDirs());
  } catch (const std::exception& e) {
    return QString::fromStdString(e.what());
  }
  WatchSaves([this](const std::string&) {
    // From the user-interface thread, inside the screen's action.
    showSaved(QTime::currentTime());
  });
  const auto& v = package_->Description().version;
  const auto& c = host::Context();
  operator_->setText("Operador " + QString::fromStdString(c.operador));
  branch_->setText("Filial " + QString::fromStdString(c.filiProc) +
                   (c.nomeFiliProc.empty() ? QString() : " — " + QString::fromStdString(c.nomeFiliProc)));
  server_->setText(QString("Servidor %1:%2").arg(s.host).arg(s.port));
  server_->setToolTip("Pacote Pkg_Pla01000 " + QString::fromStdString(v.fileVersion));
  buildMenus();
  return std::nullopt;
}

void MainWindow::buildMenus() {
  menuBar()->clear();
  QMenu* m = menuBar()->addMenu("&Planejamento");
  for (const ScreenEntry& e : kScreens) {
    if (!package_->Has(e.opener)) continue;
    QAction* a = m->addAction(QString::fromUtf8(e.caption));
    QObject::connect(a, &QAction::triggered, this, [this, code = QString(e.code)] { open(code); });
  }
  m->addSeparator();
  QObject::connect(m->addAction("&Importar leituras de catraca…"), &QAction::triggered, this, [this] {
    auto* d = new ImportDialog(this);
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->open();
  });
  QObject::connect(m->addAction("&Painel do mês…"), &QAction::triggered, this, [this] {
    auto* d = new MonthPanel(this);
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->openDay = [this](const QString& branch, const QDate& day) {
      if (open("PLA01000")) ShowDayOnScreen(branch, day);
    };
    d->show();
  });
  m->addSeparator();
  QObject::connect(m->addAction("Sai&r"), &QAction::triggered, this, &QWidget::close);
  QMenu* w = menuBar()->addMenu("&Janela");
  QObject::connect(w->addAction("&Cascata"), &QAction::triggered, area_, &QMdiArea::cascadeSubWindows);
  QObject::connect(w->addAction("&Lado a lado"), &QAction::triggered, area_, &QMdiArea::tileSubWindows);
  for (const MenuExtension& extend : menuExtensions()) extend(*this, *m);
}

std::vector<MainWindow::MenuExtension>& MainWindow::menuExtensions() {
  static std::vector<MenuExtension> extensions;
  return extensions;
}

void MainWindow::AddMenuExtension(MenuExtension extension) { menuExtensions().push_back(std::move(extension)); }

bool MainWindow::open(const QString& code) {
  if (!package_) return false;
  for (const ScreenEntry& e : kScreens) {
    if (code != e.code || !package_->Has(e.opener)) continue;
    auto fn = package_->Function<TOpener>(e.opener);
    binding_->perform([fn] { fn(); });
    return true;
  }
  return false;
}

void MainWindow::keys(const QString& script) {
  static const std::pair<const char*, ui::Word> named[] = {
      {"Tab", ui::VK_TAB},     {"Enter", ui::VK_RETURN}, {"Esc", ui::VK_ESCAPE}, {"Down", ui::VK_DOWN},
      {"Up", ui::VK_UP},       {"Left", ui::VK_LEFT},    {"Right", ui::VK_RIGHT}, {"F1", ui::VK_F1},
      {"F2", ui::VK_F2},       {"F3", ui::VK_F3},        {"F4", ui::VK_F4},      {"F5", ui::VK_F5},
      {"F6", ui::VK_F6},       {"F8", ui::VK_F8}};
  // A click as the mouse gives it, on a widget of the window in front.
  auto clickAt = [](QWidget* w, QPoint pos) {
    if (!w) return;
    QMouseEvent press(QEvent::MouseButtonPress, pos, w->mapToGlobal(pos), Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, pos, w->mapToGlobal(pos), Qt::LeftButton, Qt::NoButton, {});
    QApplication::sendEvent(w, &release);
  };
  auto front = [this]() -> QWidget* {
    return QApplication::activeModalWidget() ? QApplication::activeModalWidget() : static_cast<QWidget*>(this);
  };
  for (int i = 0; i < script.size(); ++i) {
    if (script[i] != '<') {
      char32_t ch = script.mid(i, 1).toStdU32String()[0];
      binding_->perform([ch] { ui::Application().TypeChar(ch); });
      continue;
    }
    const int end = script.indexOf('>', i);
    if (end < 0) break;
    const QString name = script.mid(i + 1, end - i - 1);
    i = end;
    if (name.startsWith("Page:")) {  // the tab captioned so
      for (auto* tabs : front()->findChildren<QTabWidget*>())
        for (int t = 0; t < tabs->count(); ++t)
          if (tabs->tabText(t) == name.mid(5)) clickAt(tabs->tabBar(), tabs->tabBar()->tabRect(t).center());
      continue;
    }
    if (name.startsWith("Cell:") || name.startsWith("Button:")) {  // GRID,row,column (0-based)
      const QStringList a = name.mid(name.indexOf(':') + 1).split(',');
      auto* grid = front()->findChild<QTableView*>(a.value(0));
      if (!grid) continue;
      QModelIndex idx = a.size() >= 3 ? grid->model()->index(a[1].toInt(), a[2].toInt()) : grid->currentIndex();
      QRect r = grid->visualRect(idx);
      clickAt(grid->viewport(), name.startsWith("Button:") ? QPoint(r.right() - 6, r.center().y()) : r.center());
      continue;
    }
    ui::TShiftState shift = ui::ssNone;
    QString keyName = name;
    for (auto [prefix, bit] : {std::pair{"Ctrl+", ui::ssCtrl}, std::pair{"Alt+", ui::ssAlt},
                               std::pair{"Shift+", ui::ssShift}})
      if (keyName.startsWith(prefix)) shift |= bit, keyName = keyName.mid(static_cast<int>(strlen(prefix)));
    for (auto& [n, k] : named)
      if (keyName == n) binding_->perform([k = k, shift] { ui::Application().PressKey(k, shift); });
  }
}

void MainWindow::closeEvent(QCloseEvent* e) {
  // Each screen may refuse to close (pending changes); the frame stays then.
  for (ui::TCustomForm* f : std::vector<ui::TCustomForm*>(ui::Screen().Forms())) {
    if (!f->Visible()) continue;
    binding_->perform([f] { f->Close(); });
  }
  for (ui::TCustomForm* f : ui::Screen().Forms())
    if (f->Visible()) {
      e->ignore();
      return;
    }
  QSettings().setValue("window/geometry", saveGeometry());
  e->accept();
}

bool AskLogin(ConnectionSettings& s, QSettings& settings, const QString& error) {
  QDialog dlg;
  dlg.setWindowTitle("Efetivos — Entrada");
  auto* form = new QFormLayout(&dlg);
  if (!error.isEmpty()) {
    auto* msg = new QLabel(error);
    msg->setStyleSheet("color: #a00000");
    msg->setWordWrap(true);
    form->addRow(msg);
  }
  auto* op = new QLineEdit(s.operatorCode);
  auto* pw = new QLineEdit;
  pw->setEchoMode(QLineEdit::Password);
  auto* host = new QLineEdit(s.host);
  auto* port = new QSpinBox;
  port->setRange(1, 65535);
  port->setValue(s.port);
  auto* secure = new QCheckBox("Conexão segura (HTTPS)");
  secure->setChecked(s.https);
  auto* ca = new QLineEdit(s.caFile);
  ca->setPlaceholderText("certificados do sistema");
  ca->setEnabled(s.https);
  QObject::connect(secure, &QCheckBox::toggled, ca, &QWidget::setEnabled);
  auto* db = new QLineEdit(s.database);
  auto* branch = new QLineEdit(s.branch);
  form->addRow("Operador", op);
  form->addRow("Senha", pw);
  form->addRow("Servidor", host);
  form->addRow("Porta", port);
  form->addRow("", secure);
  form->addRow("Autoridade certificadora", ca);
  form->addRow("Banco da filial", db);
  form->addRow("Filial", branch);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton("Entrar", QDialogButtonBox::AcceptRole);
  buttons->addButton("Cancelar", QDialogButtonBox::RejectRole);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  (s.operatorCode.isEmpty() ? op : pw)->setFocus();
  if (dlg.exec() != QDialog::Accepted) return false;
  s.operatorCode = op->text().trimmed();
  s.password = pw->text();
  s.host = host->text().trimmed();
  s.port = port->value();
  s.https = secure->isChecked();
  s.caFile = ca->text().trimmed();
  s.database = db->text().trimmed();
  s.branch = branch->text().trimmed();
  settings.setValue("login/operator", s.operatorCode);
  settings.setValue("server/host", s.host);
  settings.setValue("server/port", s.port);
  settings.setValue("server/https", s.https);
  settings.setValue("server/cafile", s.caFile);
  settings.setValue("database/connection", s.database);
  settings.setValue("login/branch", s.branch);
  return true;
}

}  // namespace desktop
