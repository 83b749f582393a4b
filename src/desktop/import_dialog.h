#pragma once
// "Importar leituras de catraca": a turnstile controller's file, previewed
// line by line with its verdict, sent only when the user confirms.

#include <QDialog>

#include "additions/turnstile_import.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace desktop {

class ImportDialog : public QDialog {
  Q_OBJECT
public:
  explicit ImportDialog(QWidget* parent = nullptr);
  // Reads and previews a file (what "Escolher arquivo…" does after the file dialog).
  void loadFile(const QString& path);
  // Sends the lines ticked (the "Importar" button).
  void importTicked();
  const additions::ImportPreview& preview() const { return preview_; }

private:
  void chooseFile();
  void fill();
  void summarise();
  additions::ImportPreview preview_;
  QString path_;
  QLabel* file_;
  QLabel* summary_;
  QTableWidget* table_;
  QPushButton* import_;
  bool filling_ = false;
};

}  // namespace desktop
