#pragma once
// A local efetivos-server as a child process on 127.0.0.1 and a free port,
// over a SQLite database it fills with the demo company on first use.

#include <QProcess>
#include <QString>

namespace desktop {

class LocalServer {
public:
  // program: the efetivos-server executable; dbFile: the SQLite file.
  LocalServer(QString program, QString dbFile);
  ~LocalServer();
  // Creates the database when missing and starts the server; false with
  // error() set when it did not come up.
  bool start(int timeoutMs = 30000);
  void stop();
  int port() const { return port_; }
  const QString& dbFile() const { return db_; }
  const QString& error() const { return error_; }

  // The efetivos-server next to this program or in the build tree.
  static QString findProgram();
  // The per-user data folder's demo database.
  static QString defaultDatabase();

private:
  QString program_, db_, error_;
  QProcess proc_;
  QByteArray output_;
  int port_ = 0;
};

}  // namespace desktop
