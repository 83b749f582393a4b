#include "desktop/local_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace desktop {

LocalServer::LocalServer(QString program, QString dbFile) : program_(std::move(program)), db_(std::move(dbFile)) {}

LocalServer::~LocalServer() { stop(); }

QString LocalServer::findProgram() {
  const QString dir = QCoreApplication::applicationDirPath();
  for (const QString& p : {dir + "/efetivos-server", dir + "/../server/efetivos-server"})
    if (QFileInfo(p).isExecutable()) return QFileInfo(p).canonicalFilePath();
  return QStandardPaths::findExecutable("efetivos-server");
}

QString LocalServer::defaultDatabase() {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
  QDir().mkpath(dir);
  return dir + "/efetivos-demo.db";
}

bool LocalServer::start(int timeoutMs) {
  if (program_.isEmpty()) {
    error_ = "Programa efetivos-server não encontrado.";
    return false;
  }
  QStringList args{"--db", "sqlite:" + db_, "--listen", "127.0.0.1", "--port", "0"};
  // --demo fills an empty database and leaves one with data alone.
  if (!QFileInfo::exists(db_)) args.prepend("--demo");
  // The server goes with the desktop, also when the desktop is killed or
  // crashes: the kernel sends it SIGTERM when its parent dies.
  const pid_t parent = getpid();
  proc_.setChildProcessModifier([parent] {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);  // the parent died before the line above
  });
  proc_.setProcessChannelMode(QProcess::SeparateChannels);
  proc_.setStandardOutputFile(QProcess::nullDevice());
  proc_.start(program_, args);
  if (!proc_.waitForStarted(5000)) {
    error_ = "Não foi possível iniciar " + program_ + ": " + proc_.errorString();
    return false;
  }
  static const QRegularExpression serving(R"(serving .* on 127\.0\.0\.1:(\d+))");
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < timeoutMs) {
    proc_.waitForReadyRead(100);
    output_ += proc_.readAllStandardError();
    auto m = serving.match(QString::fromUtf8(output_));
    if (m.hasMatch()) {
      port_ = m.captured(1).toInt();
      // Keep reading the request log so the server never blocks on a full pipe.
      QObject::connect(&proc_, &QProcess::readyReadStandardError, &proc_, [this] {
        QByteArray b = proc_.readAllStandardError();
        if (qEnvironmentVariableIsSet("EFET_SERVER_LOG")) fputs(b.constData(), stderr);
      });
      return true;
    }
    if (proc_.state() == QProcess::NotRunning) break;
  }
  error_ = "O servidor de aplicação não iniciou: " + QString::fromUtf8(output_).trimmed();
  stop();
  return false;
}

void LocalServer::stop() {
  if (proc_.state() == QProcess::NotRunning) return;
  proc_.terminate();
  if (!proc_.waitForFinished(3000)) {
    proc_.kill();
    proc_.waitForFinished(2000);
  }
}

}  // namespace desktop
