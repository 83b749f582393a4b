#include "desktop/report_host.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "platform/report/paint.h"

namespace desktop {

namespace {

constexpr double kMmPerPt = 25.4 / 72.0;

// Text in millimetres on the page, with the PDF writer's boxes and fonts.
class QtPagePainter : public report::PagePainter {
public:
  QtPagePainter(QPainter& p, double dpi) : p_(p), px_(dpi / 25.4) {}

  void font(bool bold, double size) override {
    QFont f("Helvetica");
    f.setStyleHint(QFont::Helvetica);
    f.setBold(bold);
    f.setPointSizeF(size);
    p_.setFont(f);
  }

  // Text in the box [xMm, xMm+wMm] on the baseline yMm, cut to fit when clip.
  void text(const std::string& utf8, double xMm, double wMm, double yMm, report::Align a, bool clip) override {
    QString s = QString::fromStdString(utf8);
    QFontMetricsF fm(p_.font(), p_.device());
    const double pad = 1.5 * kMmPerPt * px_;
    const double box = wMm * px_ - 2 * pad;
    if (clip)
      while (!s.isEmpty() && fm.horizontalAdvance(s) > box) s.chop(1);
    const double tw = fm.horizontalAdvance(s);
    double x = xMm * px_ + pad;
    if (a == report::Align::Right) x = (xMm + wMm) * px_ - pad - tw;
    if (a == report::Align::Center) x = xMm * px_ + (wMm * px_ - tw) / 2;
    p_.drawText(QPointF(x, yMm * px_), s);
  }

  void rule(double x0Mm, double x1Mm, double yMm, double widthPt) override {
    QPen pen(Qt::black);
    pen.setWidthF(widthPt * kMmPerPt * px_);
    p_.setPen(pen);
    p_.drawLine(QPointF(x0Mm * px_, yMm * px_), QPointF(x1Mm * px_, yMm * px_));
    p_.setPen(Qt::black);
  }

private:
  QPainter& p_;
  double px_;
};

QString q(const std::string& s) { return QString::fromStdString(s); }

QPageLayout documentLayout(const report::Document& doc) {
  const bool landscape = doc.PageWidth > doc.PageHeight;
  const QSizeF portrait(std::min(doc.PageWidth, doc.PageHeight), std::max(doc.PageWidth, doc.PageHeight));
  return QPageLayout(QPageSize(portrait, QPageSize::Millimeter, QString(), QPageSize::ExactMatch),
                     landscape ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                     QPageLayout::Millimeter);
}

QWidget* dialogParent() { return QApplication::activeWindow(); }

QString documentTitle(const report::Document& doc) { return q(doc.Code + " - " + doc.Title); }

}  // namespace

void SetDocumentPage(const report::Document& doc, QPagedPaintDevice& device) {
  device.setPageLayout(documentLayout(doc));
}

void PaintDocument(const report::Document& doc, QPainter& painter, QPagedPaintDevice& device, int first, int last) {
  const int count = static_cast<int>(doc.Pages.size());
  if (first < 1) first = 1;
  if (last < 1 || last > count) last = count;
  QtPagePainter paint(painter, device.logicalDpiY());
  for (int i = first; i <= last; ++i) {
    if (i > first) device.newPage();
    report::PaintPage(doc, doc.Pages[static_cast<size_t>(i - 1)], paint);
  }
}

bool RenderDocument(const report::Document& doc, QPagedPaintDevice& device) {
  SetDocumentPage(doc, device);
  QPainter painter;
  if (!painter.begin(&device)) return false;
  PaintDocument(doc, painter, device);
  return painter.end();
}

void PrintDocument(const report::Document& doc, QPrinter& printer) {
  QPainter painter;
  if (!painter.begin(&printer)) throw report::EReportError("Não foi possível iniciar a impressão.");
  const bool range = printer.printRange() == QPrinter::PageRange;
  PaintDocument(doc, painter, printer, range ? printer.fromPage() : 0, range ? printer.toPage() : 0);
  painter.end();
}

QtReportHost::QtReportHost() : previous_(report::SetReportHost(this)) {}
QtReportHost::~QtReportHost() { report::SetReportHost(previous_); }

void QtReportHost::Print(const report::Document& doc) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(documentTitle(doc));
  SetDocumentPage(doc, printer);
  printer.setFromTo(1, static_cast<int>(doc.Pages.size()));
  QPrintDialog dlg(&printer, dialogParent());
  dlg.setWindowTitle("Imprimir " + documentTitle(doc));
  dlg.setMinMax(1, std::max(1, static_cast<int>(doc.Pages.size())));
  if (dlg.exec() != QDialog::Accepted) return;
  PrintDocument(doc, printer);
}

void QtReportHost::Preview(const report::Document& doc) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(documentTitle(doc));
  SetDocumentPage(doc, printer);
  QPrintPreviewDialog dlg(&printer, dialogParent());
  dlg.setWindowTitle(documentTitle(doc));
  QObject::connect(&dlg, &QPrintPreviewDialog::paintRequested, &dlg,
                   [&doc](QPrinter* p) { PrintDocument(doc, *p); });
  dlg.resize(1000, 720);
  dlg.exec();
}

void QtReportHost::Design(const report::ReportDefinition& def, const report::Document& doc) {
  QDialog dlg(dialogParent());
  dlg.setWindowTitle("Relatório " + q(def.Code) + " - " + q(def.Title));
  auto* lay = new QVBoxLayout(&dlg);
  auto* tabs = new QTabWidget(&dlg);
  // The definition as it is kept, not editable here.
  auto* text = new QPlainTextEdit(tabs);
  text->setObjectName("definitionText");
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFile file(q(def.SourcePath));
  text->setPlainText(file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll())
                                                    : "Arquivo " + q(def.SourcePath) + " não pôde ser lido.");
  QFont mono("Monospace");
  mono.setStyleHint(QFont::TypeWriter);
  text->setFont(mono);
  tabs->addTab(text, "Definição");
  QPrinter printer(QPrinter::HighResolution);
  SetDocumentPage(doc, printer);
  auto* preview = new QPrintPreviewWidget(&printer, tabs);
  preview->setObjectName("documentPreview");
  QObject::connect(preview, &QPrintPreviewWidget::paintRequested, preview,
                   [&doc](QPrinter* p) { PrintDocument(doc, *p); });
  tabs->addTab(preview, "Documento");
  // Pages are made now, not when the tab is first shown.
  preview->updatePreview();
  lay->addWidget(tabs);
  auto* buttons = new QDialogButtonBox(&dlg);
  buttons->addButton("Fechar", QDialogButtonBox::RejectRole);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  lay->addWidget(buttons);
  dlg.resize(1000, 720);
  dlg.exec();
}

}  // namespace desktop
