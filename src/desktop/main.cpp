// efetivos: the desktop host of the planning package.
//
//   efetivos                       login dialog, then the frame
//   efetivos --local-server        a local server on the demo database, logged in as DEM
//   efetivos --https [--ca FILE]   HTTPS to the server, verified against FILE or the
//                                  system's store (kept in the settings; --http undoes it)
//   efetivos --screenshot F.png --open PLA01000 [--keys "0001<Tab>..."] [--open PLA01010]
//                                  renders the window in front (a modal screen, else the
//                                  frame) offscreen to a picture and exits
//   efetivos --vnc ...              without a display: Qt's VNC server on port 5900
//   --keys also clicks: "<Page:Efetivos de Faturamento><Cell:dbgEfeCliCa,1,2><Button:dbgEfeCliCa>"
//   opens PLA01002 from PLA01000's client grid; "<Ctrl+Enter>" and the like are keys with modifiers

#include <QApplication>
#include <QCommandLineParser>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "desktop/app.h"
#include "desktop/local_server.h"
#include "platform/ui/controls.h"

namespace {

bool hasArg(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == name) return true;
  return false;
}

const char* env(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? v : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const bool display = env("DISPLAY") || env("WAYLAND_DISPLAY") || env("QT_QPA_PLATFORM");
  if (hasArg(argc, argv, "--vnc")) {
    // Qt's own VNC server: the desktop is used from a VNC viewer elsewhere.
    setenv("QT_QPA_PLATFORM", "vnc:size=1366x768:port=5900", 1);
    fprintf(stderr, "efetivos: aguardando um cliente VNC na porta 5900 desta máquina.\n");
  } else if (!display && hasArg(argc, argv, "--screenshot")) {
    // Without a display a screenshot is still possible.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  } else if (!display) {
    // Qt would abort on the missing X server; say what to do instead.
    fprintf(stderr,
            "efetivos: não há tela gráfica nesta sessão (DISPLAY e WAYLAND_DISPLAY estão vazias).\n"
            "Para usar o desktop:\n"
            "  - numa sessão gráfica (X11 ou Wayland) desta máquina, rode o mesmo comando;\n"
            "  - de outra máquina por ssh, entre com 'ssh -X' e rode o mesmo comando;\n"
            "  - ou acrescente --vnc (scripts/run.sh --vnc) e conecte um cliente VNC à porta 5900;\n"
            "    o VNC do Qt não pede senha nem cifra a tela: use um túnel, por exemplo\n"
            "    'ssh -L 5900:localhost:5900 ESTA_MAQUINA', e conecte o cliente a localhost:5900.\n");
    return 2;
  }

  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName("Efetivos");
  QCoreApplication::setApplicationName("efetivos");
  if (!desktop::InstallPortuguese(app))
    qWarning("efetivos: Qt's Brazilian Portuguese texts are missing (install qt6-translations-l10n)");

  QCommandLineParser args;
  args.setApplicationDescription("Efetivos diários");
  args.addHelpOption();
  QCommandLineOption local("local-server", "Inicia um servidor local com o banco de demonstração.");
  QCommandLineOption shot("screenshot", "Grava a janela em FILE.png e sai.", "FILE");
  QCommandLineOption open("open", "Abre a tela (PLA01000, ...).", "CODE");
  QCommandLineOption keys("keys", "Teclas digitadas (e cliques: <Page:...>, <Cell:GRADE,L,C>, <Button:GRADE>) "
                                   "na primeira tela aberta.", "KEYS");
  QCommandLineOption dbOpt("demo-db", "Arquivo SQLite do servidor local.", "FILE");
  QCommandLineOption https("https", "Conecta ao servidor por HTTPS (guardado nas configurações).");
  QCommandLineOption http("http", "Conecta ao servidor por HTTP sem TLS (guardado nas configurações).");
  QCommandLineOption ca("ca", "Certificado da autoridade (PEM) que assina o do servidor; implica --https. "
                              "Sem ele, vale o repositório de certificados do sistema.", "FILE");
    QCommandLineOption vnc("vnc", "Sem tela gráfica: serve a janela por VNC na porta 5900.");
  args.addOptions({local, shot, open, keys, dbOpt, https, http, ca, vnc});
  args.process(app);

  QSettings settings;
  desktop::ConnectionSettings cs;
  cs.host = settings.value("server/host", cs.host).toString();
  cs.port = settings.value("server/port", cs.port).toInt();
  cs.database = settings.value("database/connection").toString();
  cs.operatorCode = settings.value("login/operator").toString();
  cs.branch = settings.value("login/branch", cs.branch).toString();
  if (args.isSet(ca)) settings.setValue("server/cafile", args.value(ca));
  if (args.isSet(https) || args.isSet(ca)) settings.setValue("server/https", true);
  if (args.isSet(http)) settings.setValue("server/https", false);
  cs.https = settings.value("server/https", false).toBool();
  cs.caFile = settings.value("server/cafile").toString();

  std::unique_ptr<desktop::LocalServer> server;
  if (args.isSet(local)) {
    QString db = args.isSet(dbOpt) ? args.value(dbOpt) : desktop::LocalServer::defaultDatabase();
    server = std::make_unique<desktop::LocalServer>(desktop::LocalServer::findProgram(), db);
    if (!server->start()) {
      QMessageBox::critical(nullptr, "Efetivos", server->error());
      return 1;
    }
    cs.host = "127.0.0.1";
    cs.port = server->port();
    cs.https = false;  // the local server listens on the loopback only
    cs.database = "sqlite:" + db;
    cs.operatorCode = "DEM";
    cs.password = "demo";
    cs.branch = "0001";
  }

  auto* window = new desktop::MainWindow;
  window->restoreGeometry(settings.value("window/geometry").toByteArray());
  if (args.isSet(shot) || settings.value("window/geometry").isNull()) window->resize(1280, 800);

  std::optional<QString> failure;
  if (server) {
    failure = window->connect(cs);
  } else {
    QString error;
    for (;;) {
      if (!desktop::AskLogin(cs, settings, error)) return 0;
      failure = window->connect(cs);
      if (!failure) break;
      error = *failure;
    }
  }
  if (failure) {
    QMessageBox::critical(nullptr, "Efetivos", *failure);
    delete window;
    return 1;
  }
  window->show();
  int rc = 0;
  if (args.isSet(shot)) {
    // The picture is taken from the event loop, so that a modal screen (whose
    // loop is running then) can be shown too: the topmost window is grabbed,
    // then closed through its form.
    QTimer::singleShot(1500, window, [&] {
      QWidget* target = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : window;
      window->binding().refresh();
      QApplication::processEvents();
      rc = target->grab().save(args.value(shot)) ? 0 : 2;
      // Modal screens are closed topmost first; whatever refuses, the run
      // ends: exit() leaves every running loop, where quit() would ask each
      // window to close and a modal screen's dialog may refuse.
      for (int guard = 0; guard < 8; ++guard) {
        ui::TCustomForm* f = ui::Screen().ActiveForm();
        if (!f || !f->Modal() || !f->Visible()) break;
        window->binding().perform([f] { f->Close(); });
        if (ui::Screen().ActiveForm() == f) break;
      }
      QCoreApplication::exit(rc);
    });
  }
  // The screens open in order; the keys go to the first one, from a timer
  // set before it opens, so that a modal screen (whose loop runs inside
  // open) gets them too. The next screen opens after the keys.
  const QStringList codes = args.values(open);
  auto next = std::make_shared<std::function<void(int)>>();
  *next = [&, codes, weak = std::weak_ptr<std::function<void(int)>>(next)](int i) {
    if (i >= codes.size()) return;
    auto maximize = [&] {
      if (auto* sub = window->area()->activeSubWindow(); sub && args.isSet(shot)) sub->showMaximized();
    };
    maximize();
    const bool typeFirst = i == 0 && args.isSet(keys);
    if (typeFirst)
      QTimer::singleShot(200, window, [&, maximize, weak] {
        maximize();
        window->keys(args.value(keys));
        if (auto self = weak.lock()) (*self)(1);
      });
    if (!window->open(codes[i]))
      QMessageBox::critical(window, "Efetivos", "Tela " + codes[i] + " não existe neste pacote.");
    if (!typeFirst) (*next)(i + 1);
  };
  QTimer::singleShot(0, window, [next] { (*next)(0); });
  const int loop = app.exec();
  if (!args.isSet(shot)) rc = loop;
  delete window;
  return rc;
}
