#include "desktop/history_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include "additions/history.h"
#include "desktop/additions_host.h"
#include "platform/host/context.h"
#include "platform/rtl/format.h"
#include "platform/ui/dbgrids.h"

namespace desktop {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Headcounts are the numeric fields; a code or a name has no history.
bool HasHistory(ui::TDBGrid& grid) {
  data::TField* f = grid.SelectedField();
  return f && f->DataType() == data::TFieldType::Float && !f->Calculated();
}

// What names the row to the user: the first name or description the grid
// shows, else its first text.
QString RowCaption(ui::TDBGrid& grid) {
  for (bool namesOnly : {true, false})
    for (int i = 0; i < grid.ColumnCount(); ++i) {
      data::TField* f = grid.Columns(i).Field();
      if (!grid.Columns(i).Visible || !f || f->DataType() != data::TFieldType::String || f->IsNull()) continue;
      const std::string& n = f->FieldName();
      if (!namesOnly || n.rfind("NM", 0) == 0 || n.rfind("DS", 0) == 0) return Q(f->DisplayText());
    }
  return {};
}

}  // namespace

QDialog* ShowValueHistory(ui::TDBGrid& grid, QWidget* parent) {
  auto* dlg = new QDialog(parent);
  dlg->setObjectName("dlgHistorico");
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->setWindowTitle("Histórico do valor");
  dlg->resize(720, 360);
  auto* lay = new QVBoxLayout(dlg);
  ui::TColumn* column = grid.SelectedColumn();
  QString title = column ? Q(column->TitleCaption()) : QString();
  QString row = RowCaption(grid);
  auto* head = new QLabel("<b>" + title.toHtmlEscaped() + "</b>" + (row.isEmpty() ? "" : " — " + row.toHtmlEscaped()));
  lay->addWidget(head);
  auto* table = new QTableWidget(0, 4);
  table->setObjectName("tblHistorico");
  table->setHorizontalHeaderLabels({"Data e hora", "Operador", "Valor anterior → novo", "Método"});
  table->horizontalHeader()->setStretchLastSection(true);
  table->verticalHeader()->setVisible(false);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  lay->addWidget(table, 1);
  auto* note = new QLabel;
  note->setObjectName("lblHistorico");
  note->setWordWrap(true);
  lay->addWidget(note);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton("Fechar", QDialogButtonBox::RejectRole);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
  lay->addWidget(buttons);

  try {
    data::TClientDataSet* ds = grid.DataSource() ? grid.DataSource()->DataSet() : nullptr;
    if (!ds || !HasHistory(grid)) throw rtl::Exception("Esta célula não guarda uma quantidade com histórico.");
    auto entries = additions::ReadHistory(AdditionsConnection(additions::kHistoricoServer), *ds,
                                          grid.SelectedField()->FieldName(), host::Context().filiProc);
    table->setRowCount(static_cast<int>(entries.size()));
    for (int r = 0; r < table->rowCount(); ++r) {
      const auto& e = entries[static_cast<size_t>(r)];
      const QString op = Q(e.operatorCode) + (e.operatorName.empty() ? "" : " " + Q(e.operatorName));
      const QString items[] = {Q(rtl::FormatDateTime("dd/mm/yyyy hh:nn:ss", e.when)), op,
                               Q(e.before) + " → " + Q(e.after),
                               e.method.empty() ? QString("(não registrado)") : Q(e.method)};
      for (int c = 0; c < 4; ++c) table->setItem(r, c, new QTableWidgetItem(items[c]));
    }
    table->resizeColumnsToContents();
    note->setText(entries.empty() ? "Este valor nunca foi alterado."
                                  : QString("%1 alteração(ões), da mais recente à mais antiga.").arg(entries.size()));
  } catch (const std::exception& e) {
    note->setStyleSheet("color: #a00000");
    note->setText(QString::fromUtf8(e.what()));
  }
  dlg->open();
  return dlg;
}

void InstallValueHistory(Binding& binding) {
  binding.AddCellAction({"Histórico do valor", QKeySequence("Ctrl+H"),
                         [](ui::TDBGrid& grid, QWidget* window) { ShowValueHistory(grid, window); },
                         [](ui::TDBGrid& grid) { return HasHistory(grid); }});
}

}  // namespace desktop
