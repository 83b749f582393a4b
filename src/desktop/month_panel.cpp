#include "desktop/month_panel.h"

#include <QChart>
#include <QChartView>
#include <QDateEdit>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>
#include <QValueAxis>
#include <QVBoxLayout>

#include "additions/history.h"
#include "desktop/additions_host.h"
#include "desktop/binding.h"
#include "platform/host/context.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/text.h"

namespace desktop {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QDate ToQDate(rtl::TDateTime d) {
  auto p = rtl::DecodeDate(d);
  return QDate(p.year, p.month, p.day);
}

QChartView* ServiceChart(const additions::ServiceMonth& s, int daysInMonth) {
  auto* chart = new QChart;
  chart->setTitle(Q(s.service + " — " + s.name));
  chart->setAnimationOptions(QChart::NoAnimation);
  struct Line {
    const char* name;
    std::optional<double> additions::DayFigures::*value;
    QColor color;
  };
  const Line lines[] = {{"Previstos", &additions::DayFigures::planned, QColor("#7f8c8d")},
                        {"Servidos", &additions::DayFigures::served, QColor("#1f6fb2")},
                        {"Faturados", &additions::DayFigures::billed, QColor("#d35400")}};
  auto* x = new QValueAxis;
  x->setRange(1, daysInMonth);
  x->setTickCount(std::min(daysInMonth, 16));
  x->setLabelFormat("%d");
  x->setTitleText("Dia");
  auto* y = new QValueAxis;
  y->setLabelFormat("%.0f");
  y->setTitleText("Comensais");
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  double top = 10;
  for (const Line& l : lines) {
    auto* series = new QLineSeries;
    series->setName(l.name);
    series->setPen(QPen(l.color, 2));
    series->setPointsVisible(true);
    for (const auto& d : s.days)
      if (auto v = d.*(l.value)) {
        series->append(rtl::DecodeDate(d.day).day, *v);
        top = std::max(top, *v);
      }
    chart->addSeries(series);
    series->attachAxis(x);
    series->attachAxis(y);
  }
  y->setRange(0, top * 1.1);
  y->applyNiceNumbers();
  auto* view = new QChartView(chart);
  view->setRenderHint(QPainter::Antialiasing);
  view->setMinimumHeight(240);
  return view;
}

// The picture scaled to fit the page, from its top left corner.
void PaintFitted(QPainter& p, const QImage& img) {
  const QRect page = p.viewport();
  const double scale = std::min(double(page.width()) / img.width(), double(page.height()) / img.height());
  p.drawImage(QRectF(0, 0, img.width() * scale, img.height() * scale), img);
}

}  // namespace

void ShowDayOnScreen(const QString& branch, const QDate& day) {
  ui::TCustomForm* form = nullptr;
  for (ui::TCustomForm* f : ui::Screen().Forms())
    if (f->Visible() && rtl::SameText(f->Name(), "frmMediEfetivos")) form = f;
  if (!form) return;
  auto control = [form](const char* name) { return dynamic_cast<ui::TWinControl*>(form->FindComponent(name)); };
  auto* fil = control("medCdFilial");
  auto* date = control("depCardapio");
  auto* grid = control("dbgPadrao");
  if (!date || !grid) return;
  auto typeInto = [](ui::TWinControl* c, const QString& text) {
    if (!c || !c->CanFocus()) return false;
    c->SetFocus();
    if (!c->Focused()) return false;
    for (QChar ch : text) ui::Application().TypeChar(ch.unicode());
    return true;
  };
  Binding* b = Binding::instance();
  // As the clerk does it: the branch, the date, then into the grid, which loads the day.
  b->perform([&] {
    if (fil && fil->Enabled()) typeInto(fil, branch);
  });
  b->perform([&] { typeInto(date, day.toString("dd/MM/yyyy")); });
  b->perform([&] {
    if (grid->CanFocus()) grid->SetFocus();
  });
}

MonthPanel::MonthPanel(QWidget* parent) : QDialog(parent) {
  setObjectName("dlgPainelMes");
  setWindowTitle("Painel do mês");
  resize(1000, 760);
  auto* lay = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  branch_ = new QLineEdit(Q(host::Context().filiProc));
  branch_->setObjectName("edtFilial");
  branch_->setMaxLength(4);
  month_ = new QDateEdit(QDate::currentDate());
  month_->setObjectName("edtMes");
  month_->setDisplayFormat("MM/yyyy");
  group_ = new QLineEdit;
  group_->setObjectName("edtGrupo");
  group_->setMaxLength(3);
  auto* refresh = new QPushButton("Atualizar");
  auto* printB = new QPushButton("Imprimir…");
  auto* saveB = new QPushButton("Salvar como…");
  top->addWidget(new QLabel("Filial"));
  top->addWidget(branch_);
  top->addWidget(new QLabel("Mês"));
  top->addWidget(month_);
  top->addWidget(new QLabel("Grupo de serviço"));
  top->addWidget(group_);
  top->addWidget(refresh);
  top->addStretch(1);
  top->addWidget(printB);
  top->addWidget(saveB);
  lay->addLayout(top);
  status_ = new QLabel;
  status_->setObjectName("lblSituacao");
  status_->setWordWrap(true);
  lay->addWidget(status_);

  content_ = new QWidget;
  content_->setObjectName("pnlConteudo");
  auto* inner = new QVBoxLayout(content_);
  charts_ = new QVBoxLayout;
  inner->addLayout(charts_);
  inner->addWidget(new QLabel("<b>Dias com pendências</b> (clique num dia para abrir os efetivos)"));
  checks_ = new QTableWidget(0, 3);
  checks_->setObjectName("tblPendencias");
  checks_->setHorizontalHeaderLabels({"Data", "Serviço", "Verificação"});
  checks_->horizontalHeader()->setStretchLastSection(true);
  checks_->verticalHeader()->setVisible(false);
  checks_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  checks_->setSelectionBehavior(QAbstractItemView::SelectRows);
  checks_->setMinimumHeight(160);
  inner->addWidget(checks_);
  auto* scroll = new QScrollArea;
  scroll->setWidgetResizable(true);
  scroll->setWidget(content_);
  lay->addWidget(scroll, 1);

  connect(refresh, &QPushButton::clicked, this, &MonthPanel::load);
  connect(printB, &QPushButton::clicked, this, &MonthPanel::print);
  connect(saveB, &QPushButton::clicked, this, &MonthPanel::saveAs);
  connect(checks_, &QTableWidget::cellClicked, this, [this](int row, int) {
    if (!openDay || row < 0 || row >= static_cast<int>(view_.checks.size())) return;
    openDay(Q(view_.branch), ToQDate(view_.checks[static_cast<size_t>(row)].day));
  });
}

void MonthPanel::setSelection(const QString& branch, const QDate& month, const QString& group) {
  branch_->setText(branch);
  month_->setDate(month);
  group_->setText(group);
}

void MonthPanel::load() {
  while (QLayoutItem* it = charts_->takeAt(0)) {
    delete it->widget();
    delete it;
  }
  checks_->setRowCount(0);
  const QDate m = month_->date();
  try {
    view_ = additions::ReadMonth(AdditionsConnection(additions::kHistoricoServer), branch_->text().trimmed().toStdString(),
                                 m.year(), m.month(), group_->text().trimmed().toStdString());
  } catch (const std::exception& e) {
    view_ = {};
    status_->setStyleSheet("color: #a00000");
    status_->setText(QString::fromUtf8(e.what()));
    return;
  }
  status_->setStyleSheet({});
  status_->setText(view_.services.empty()
                       ? "Nenhum cardápio da filial neste mês."
                       : QString("Filial %1, %2: %3 serviço(s), %4 pendência(s).")
                             .arg(Q(view_.branch), m.toString("MM/yyyy"))
                             .arg(view_.services.size())
                             .arg(view_.checks.size()));
  for (const auto& s : view_.services) charts_->addWidget(ServiceChart(s, m.daysInMonth()));
  checks_->setRowCount(static_cast<int>(view_.checks.size()));
  for (int r = 0; r < checks_->rowCount(); ++r) {
    const auto& c = view_.checks[static_cast<size_t>(r)];
    checks_->setItem(r, 0, new QTableWidgetItem(ToQDate(c.day).toString("dd/MM/yyyy")));
    checks_->setItem(r, 1, new QTableWidgetItem(Q(c.service + " " + c.name)));
    checks_->setItem(r, 2, new QTableWidgetItem(Q(c.text)));
  }
  checks_->resizeColumnsToContents();
}

QImage MonthPanel::picture() {
  content_->adjustSize();
  QImage img(content_->size(), QImage::Format_ARGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  content_->render(&p);
  return img;
}

bool MonthPanel::savePng(const QString& path) { return picture().save(path, "PNG"); }

bool MonthPanel::savePdf(const QString& path) {
  QPdfWriter pdf(path);
  pdf.setTitle("Painel do mês");
  pdf.setPageSize(QPageSize(QPageSize::A4));
  QPainter p;
  if (!p.begin(&pdf)) return false;
  PaintFitted(p, picture());
  return p.end();
}

void MonthPanel::print() {
  QPrinter printer(QPrinter::HighResolution);
  QPrintDialog dlg(&printer, this);
  if (dlg.exec() != QDialog::Accepted) return;
  QPainter p(&printer);
  PaintFitted(p, picture());
}

void MonthPanel::saveAs() {
  QString selected = "PDF (*.pdf)";
  QString path = QFileDialog::getSaveFileName(this, "Salvar painel do mês",
                                              "painel-" + branch_->text() + "-" + month_->date().toString("yyyy-MM"),
                                              "PDF (*.pdf);;PNG (*.png)", &selected);
  if (path.isEmpty()) return;
  const bool png = path.endsWith(".png", Qt::CaseInsensitive) || (selected.startsWith("PNG") && !path.endsWith(".pdf"));
  if (png && !path.endsWith(".png", Qt::CaseInsensitive)) path += ".png";
  if (!png && !path.endsWith(".pdf", Qt::CaseInsensitive)) path += ".pdf";
  if (!(png ? savePng(path) : savePdf(path))) status_->setText("Não foi possível salvar " + path + ".");
}

}  // namespace desktop
