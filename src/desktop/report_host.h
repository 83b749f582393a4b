#pragma once
// The report engine's printer, preview and designer window with Qt's print
// support: a laid-out report::Document is painted page by page on a printer,
// a PDF writer or the print preview, with the same geometry the PDF writer
// uses (millimetres from the top-left corner, the document's page size).
// The texts arrive formatted (numbers and dates in Brazilian Portuguese);
// nothing is computed here.

#include <QString>

#include <memory>

#include "platform/report/engine.h"

class QPagedPaintDevice;
class QPainter;
class QPrinter;
class QWidget;

namespace desktop {

// Sets the device's page to the document's size and orientation, without
// margins (the document keeps its own).
void SetDocumentPage(const report::Document& doc, QPagedPaintDevice& device);
// Paints every page (or pages first..last, 1-based, when given) on an active
// painter of a paged device whose page is the document's.
void PaintDocument(const report::Document& doc, QPainter& painter, QPagedPaintDevice& device, int first = 0,
                   int last = 0);
// SetDocumentPage, then paints the whole document; false when the device
// cannot be painted on (a PDF file that cannot be written).
bool RenderDocument(const report::Document& doc, QPagedPaintDevice& device);
// The pages a printer was asked for (its page range), painted.
void PrintDocument(const report::Document& doc, QPrinter& printer);

class QtReportHost : public report::IReportHost {
public:
  // Installs itself as the engine's host while it lives.
  QtReportHost();
  ~QtReportHost() override;
  QtReportHost(const QtReportHost&) = delete;
  QtReportHost& operator=(const QtReportHost&) = delete;

  // The print dialog, then the printer.
  void Print(const report::Document& doc) override;
  // The print preview window (which can print too).
  void Preview(const report::Document& doc) override;
  // A read-only window: the definition's file and the document it made.
  void Design(const report::ReportDefinition& def, const report::Document& doc) override;

private:
  report::IReportHost* previous_;
};

}  // namespace desktop
