#include "desktop/qt_services.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "desktop/binding.h"
#include "platform/data/dataset.h"

namespace desktop {

namespace {

// The window under a closed dialog gets the keyboard back at once, so that the
// focus the toolkit keeps is where the user types next.
void reactivate(QWidget* w) {
  if (!w) return;
  w->window()->activateWindow();
  QApplication::setActiveWindow(w->window());
}

// Escape and the window's button answer no yes/no question: the question is
// dismissed (mrCancel), which no caller takes for a yes, and which a close
// guard takes for "stay as it is" rather than for "discard".
class AnswerBox : public QMessageBox {
public:
  using QMessageBox::QMessageBox;
  bool dismissible = false;

protected:
  void keyPressEvent(QKeyEvent* e) override {
    if (dismissible && e->matches(QKeySequence::Cancel)) {
      QDialog::done(QDialog::Rejected);
      return;
    }
    QMessageBox::keyPressEvent(e);
  }
  void closeEvent(QCloseEvent* e) override {
    if (dismissible) QDialog::closeEvent(e);  // rejects, no button clicked
    else QMessageBox::closeEvent(e);
  }
};

}  // namespace

QtServices::QtServices() {
  services_.Dialogs = &dialogs;
  services_.Errors = &errors;
  services_.Cursor = &cursor;
  services_.Busy = &busy;
  services_.Lookup = &lookup;
  services_.Modal = &modal;
  dialogs.owner = this;
  errors.owner = this;
  previous_ = ui::Application().SetServices(&services_);
}

QtServices::~QtServices() { ui::Application().SetServices(previous_); }

ui::TModalResult QtServices::Dialogs::Show(const std::string& text, ui::TMsgDlgType type, ui::TMsgDlgButtons buttons,
                                           int) {
  AnswerBox box(QApplication::activeWindow());
  box.setText(QString::fromStdString(text));
  switch (type) {
    case ui::TMsgDlgType::Warning: box.setIcon(QMessageBox::Warning); box.setWindowTitle("Aviso"); break;
    case ui::TMsgDlgType::Error: box.setIcon(QMessageBox::Critical); box.setWindowTitle("Erro"); break;
    case ui::TMsgDlgType::Confirmation: box.setIcon(QMessageBox::Question); box.setWindowTitle("Confirmação"); break;
    default: box.setIcon(QMessageBox::Information); box.setWindowTitle("Informação"); break;
  }
  const std::pair<ui::TMsgDlgButtons, std::pair<const char*, ui::TModalResult>> all[] = {
      {ui::mbYes, {"&Sim", ui::mrYes}},         {ui::mbNo, {"&Não", ui::mrNo}},
      {ui::mbOK, {"OK", ui::mrOk}},             {ui::mbCancel, {"Cancelar", ui::mrCancel}},
      {ui::mbAbort, {"&Anular", ui::mrAbort}},  {ui::mbRetry, {"&Repetir", ui::mrRetry}},
      {ui::mbIgnore, {"&Ignorar", ui::mrIgnore}}, {ui::mbAll, {"&Todos", ui::mrAll}}};
  std::vector<std::pair<QAbstractButton*, ui::TModalResult>> made;
  for (auto& [bit, def] : all) {
    if (!(buttons & bit)) continue;
    QMessageBox::ButtonRole role = def.second == ui::mrNo || def.second == ui::mrCancel ? QMessageBox::RejectRole
                                                                                         : QMessageBox::AcceptRole;
    made.emplace_back(box.addButton(QString::fromUtf8(def.first), role), def.second);
  }
  if (made.empty()) made.emplace_back(box.addButton("OK", QMessageBox::AcceptRole), ui::mrOk);
  box.setDefaultButton(static_cast<QPushButton*>(made.front().first));
  box.dismissible = buttons & ui::mbYes;
  box.exec();
  reactivate(box.parentWidget());
  if (type == ui::TMsgDlgType::Error && owner && owner->onError) owner->onError(box.text());
  for (auto& [b, r] : made)
    if (box.clickedButton() == b) return r;
  if (buttons & ui::mbYes) return ui::mrCancel;
  return (buttons & ui::mbCancel) ? ui::mrCancel : (buttons & ui::mbNo) ? ui::mrNo : ui::mrOk;
}

void QtServices::Errors::ShowError(const std::string& message) {
  QMessageBox box(QMessageBox::Critical, "Erro", QString::fromStdString(message), QMessageBox::NoButton,
                  QApplication::activeWindow());
  box.addButton("OK", QMessageBox::AcceptRole);
  box.exec();
  reactivate(box.parentWidget());
  if (owner && owner->onError) owner->onError(QString::fromStdString(message));
}

void QtServices::Cursor::SetCursor(ui::TCursor c) {
  const bool wait = c == ui::TCursor::HourGlass || c == ui::TCursor::SQLWait;
  if (wait == waiting) return;
  waiting = wait;
  if (wait) QApplication::setOverrideCursor(Qt::WaitCursor);
  else QApplication::restoreOverrideCursor();
}

void QtServices::Busy::Show(int, const std::string& text) {
  if (!label) {
    label = new QLabel(QApplication::activeWindow(), Qt::ToolTip);
    label->setMargin(16);
    label->setStyleSheet("QLabel { background: #fff8dc; border: 1px solid #b8a000; }");
  }
  label->setText(QString::fromStdString(text.empty() ? "Aguarde..." : text));
  label->adjustSize();
  if (QWidget* w = QApplication::activeWindow())
    label->move(w->geometry().center() - QPoint(label->width() / 2, label->height() / 2));
  label->show();
  label->repaint();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Paint it before the synchronous call starts.
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtServices::Busy::Hide() {
  if (label && label->isVisible()) {
    label->hide();
    QApplication::restoreOverrideCursor();
  }
}

bool QtServices::Lookup::Pick(const ui::LookupRequest& request) {
  data::TClientDataSet* ds = request.DataSource ? request.DataSource->DataSet() : nullptr;
  if (!ds) throw ui::EInvalidOperation("A pesquisa não tem conjunto de dados");
  if (!ds->Active()) ds->Open();
  if (ds->IsEmpty()) {
    if (!request.EmptyText.empty()) ui::ShowMessage(request.EmptyText);
    return false;
  }
  QDialog dlg(QApplication::activeWindow());
  dlg.setWindowTitle(QString::fromStdString(request.Title.empty() ? "Pesquisar" : request.Title));
  auto* lay = new QVBoxLayout(&dlg);
  auto* table = new QTableWidget(&dlg);
  std::vector<data::TField*> fields;
  for (size_t i = 0; i < ds->FieldCount(); ++i)
    if (ds->Fields(i).Visible) fields.push_back(&ds->Fields(i));
  table->setColumnCount(static_cast<int>(fields.size()));
  table->setRowCount(ds->RecordCount());
  QStringList titles;
  for (auto* f : fields) titles << QString::fromStdString(f->DisplayLabel());
  table->setHorizontalHeaderLabels(titles);
  for (int r = 0; r < ds->RecordCount(); ++r)
    for (size_t c = 0; c < fields.size(); ++c)
      table->setItem(r, static_cast<int>(c),
                     new QTableWidgetItem(QString::fromStdString(ds->RecordDisplayText(r + 1, *fields[c]))));
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->resizeColumnsToContents();
  table->horizontalHeader()->setStretchLastSection(true);
  table->selectRow(std::max(0, ds->RecNo() - 1));
  lay->addWidget(table);
  auto* buttons = new QDialogButtonBox(&dlg);
  buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  buttons->addButton("Cancelar", QDialogButtonBox::RejectRole);
  lay->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  QObject::connect(table, &QTableWidget::cellDoubleClicked, &dlg, &QDialog::accept);
  dlg.resize(560, 420);
  const bool picked = dlg.exec() == QDialog::Accepted && table->currentRow() >= 0;
  reactivate(dlg.parentWidget());
  if (!picked) return false;
  ds->SetRecNo(table->currentRow() + 1);
  return true;
}

void QtServices::Modal::Run(ui::TCustomForm& form) {
  Binding* b = Binding::instance();
  if (!b) throw ui::EInvalidOperation("Sem janela para o formulário modal " + form.Name());
  QDialog dlg(QApplication::activeWindow());
  dlg.setWindowTitle(QString::fromStdString(ui::StripHotkey(form.Caption())));
  auto* lay = new QVBoxLayout(&dlg);
  lay->setContentsMargins(0, 0, 0, 0);
  FormView* view = b->makeView(&form, &dlg);
  lay->addWidget(view);
  // A screen with grids gets room for them; a dialog of fields only its own size.
  const bool grids = view->findChild<QTableView*>() != nullptr;
  // The form's own size where it gives one, never smaller than its controls need.
  if (form.Width > 0 && form.Height > 0)
    dlg.resize(QSize(form.Width, form.Height).expandedTo(view->minimumSizeHint()));
  else
    dlg.resize(view->sizeHint().expandedTo(grids ? QSize(720, 480) : QSize(640, 0)));
  dlg.setModal(true);
  QEventLoop loop;
  // The toolkit ends the loop: the form's closing was allowed.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (form.ModalDone()) loop.quit();
  });
  poll.start(30);
  // The window's close button asks the form.
  struct CloseFilter : QObject {
    ui::TCustomForm* f;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() != QEvent::Close) return false;
      e->ignore();
      Binding::instance()->perform([this] { f->Close(); });
      return true;
    }
  } filter;
  filter.f = &form;
  dlg.installEventFilter(&filter);
  dlg.show();
  b->refresh();
  if (!form.ModalDone()) loop.exec();
  dlg.removeEventFilter(&filter);
  b->dropView(&form);
  delete view;
}

}  // namespace desktop
