#include "desktop/import_dialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "additions/history.h"
#include "desktop/additions_host.h"
#include "platform/rtl/format.h"

namespace desktop {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Whole(double v) { return QString::number(static_cast<qint64>(v)); }
}  // namespace

ImportDialog::ImportDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("dlgImportaCatraca");
  setWindowTitle("Importar leituras de catraca");
  resize(980, 520);
  auto* lay = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  auto* choose = new QPushButton("Escolher arquivo…");
  choose->setObjectName("btnArquivo");
  file_ = new QLabel("Nenhum arquivo escolhido.");
  top->addWidget(choose);
  top->addWidget(file_, 1);
  lay->addLayout(top);
  table_ = new QTableWidget(0, 8);
  table_->setObjectName("tblPrevia");
  table_->setHorizontalHeaderLabels({"Enviar", "Linha", "Filial", "Serviço", "Catraca", "Data", "Início – Fim", "Situação"});
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->verticalHeader()->setVisible(false);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  lay->addWidget(table_, 1);
  summary_ = new QLabel;
  summary_->setObjectName("lblResumo");
  summary_->setWordWrap(true);
  lay->addWidget(summary_);
  auto* buttons = new QDialogButtonBox;
  import_ = buttons->addButton("Importar", QDialogButtonBox::ActionRole);
  import_->setObjectName("btnImportar");
  import_->setEnabled(false);
  buttons->addButton("Fechar", QDialogButtonBox::RejectRole);
  lay->addWidget(buttons);
  connect(choose, &QPushButton::clicked, this, &ImportDialog::chooseFile);
  connect(import_, &QPushButton::clicked, this, &ImportDialog::importTicked);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // Ticking a changed line offers it for sending; nothing else can be ticked.
  connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* it) {
    if (filling_ || it->column() != 0) return;
    auto& l = preview_.lines[static_cast<size_t>(it->row())];
    if (l.verdict == additions::Verdict::Changed || l.verdict == additions::Verdict::Ready)
      l.send = it->checkState() == Qt::Checked;
    summarise();  // not fill(): the item being changed must outlive this signal
  });
}

void ImportDialog::chooseFile() {
  QString path = QFileDialog::getOpenFileName(this, "Arquivo de leituras de catraca", path_,
                                              "Arquivos CSV (*.csv *.txt);;Todos os arquivos (*)");
  if (!path.isEmpty()) loadFile(path);
}

void ImportDialog::loadFile(const QString& path) {
  path_ = path;
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    preview_ = {};
    preview_.fileError = "Não foi possível ler o arquivo: " + f.errorString().toStdString();
  } else {
    const QByteArray bytes = f.readAll();
    try {
      preview_ = additions::PreviewTurnstileFile(AdditionsConnection(additions::kHistoricoServer),
                                                 std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    } catch (const std::exception& e) {
      preview_ = {};
      preview_.fileError = e.what();
    }
  }
  file_->setText(QFileInfo(path).fileName());
  file_->setToolTip(path);
  fill();
}

void ImportDialog::fill() {
  filling_ = true;
  table_->setRowCount(static_cast<int>(preview_.lines.size()));
  for (int r = 0; r < table_->rowCount(); ++r) {
    const auto& l = preview_.lines[static_cast<size_t>(r)];
    const bool malformed = l.verdict == additions::Verdict::Malformed;
    auto* tick = new QTableWidgetItem;
    const bool tickable = l.verdict == additions::Verdict::Ready || l.verdict == additions::Verdict::Changed;
    tick->setFlags(tickable ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable : Qt::ItemFlags{});
    tick->setCheckState(l.send ? Qt::Checked : Qt::Unchecked);
    table_->setItem(r, 0, tick);
    const QString cells[] = {QString::number(l.lineNo),
                             Q(l.branch),
                             Q(l.service),
                             Q(l.turnstile),
                             malformed ? QString() : Q(rtl::FormatDateTime("dd/mm/yyyy", l.day)),
                             malformed ? QString() : Whole(l.start) + " – " + Whole(l.end),
                             Q(additions::VerdictText(l.verdict)) + ": " + Q(l.text)};
    for (int c = 0; c < 7; ++c) table_->setItem(r, c + 1, new QTableWidgetItem(cells[c]));
    const QColor tone = l.verdict == additions::Verdict::Ready       ? QColor("#e6f4e6")
                        : l.verdict == additions::Verdict::Unchanged ? QColor("#f0f0f0")
                        : l.verdict == additions::Verdict::Changed   ? QColor("#fff4d6")
                                                                      : QColor("#fbe3e3");
    for (int c = 0; c < 8; ++c) table_->item(r, c)->setBackground(tone);
  }
  table_->resizeColumnsToContents();
  filling_ = false;
  summarise();
}

void ImportDialog::summarise() {
  using V = additions::Verdict;
  QString s;
  if (!preview_.fileError.empty()) {
    s = Q(preview_.fileError);
  } else if (!path_.isEmpty()) {
    s = QString("%1 linha(s): %2 pronta(s), %3 alterada(s), %4 já gravada(s), %5 com problema. %6 a enviar.")
            .arg(preview_.lines.size())
            .arg(preview_.count(V::Ready))
            .arg(preview_.count(V::Changed))
            .arg(preview_.count(V::Unchanged))
            .arg(preview_.lines.size() - preview_.count(V::Ready) - preview_.count(V::Changed) - preview_.count(V::Unchanged))
            .arg(preview_.toSend());
    if (preview_.toSend() == 0 && preview_.count(V::Unchanged) > 0 && preview_.count(V::Changed) == 0)
      s += " Nada a importar: as leituras do arquivo já estão gravadas.";
  }
  summary_->setText(s);
  import_->setEnabled(preview_.toSend() > 0);
}

void ImportDialog::importTicked() {
  if (preview_.toSend() == 0) return;
  auto out = additions::SendTurnstileLines(AdditionsConnection("Pla01000.rdmMediEfetivos"), preview_);
  fill();
  QString s = Q(out.summary());
  for (const auto& r : out.refusals) s += "\n" + Q(r);
  summary_->setText(s);
}

}  // namespace desktop
