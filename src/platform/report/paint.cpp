#include "platform/report/paint.h"

#include <algorithm>

namespace report {

void PaintPage(const Document& doc, const Page& page, PagePainter& paint) {
  const double m = doc.Margin, right = doc.PageWidth - doc.Margin;
  double tableRight = m;
  for (const ColumnLayout& c : doc.Columns) tableRight = std::max(tableRight, m + c.Left + c.Width);
  double y = m;
  for (const Line& line : page.Lines) {
    y += doc.LineHeight;
    const double base = y - 1.3;
    const std::string first = line.Cells.empty() ? std::string() : line.Cells[0].Text;
    switch (line.Kind) {
      case LineKind::Title:
        paint.font(true, 12);
        paint.text(first, m, right - m, base, Align::Left, false);
        break;
      case LineKind::Header:
        paint.font(false, 9);
        paint.text(first, m, right - m, base, Align::Left, false);
        break;
      case LineKind::GroupHeader:
        paint.font(true, 9);
        paint.text(first, m, right - m, base, Align::Left, false);
        break;
      case LineKind::PageFooter:
        paint.font(false, 8);
        paint.rule(m, right, doc.PageHeight - m - doc.LineHeight + 0.5, 0.5);
        paint.text(first, m, right - m, doc.PageHeight - m - 1.3, Align::Right, false);
        break;
      case LineKind::BandTitles: {
        paint.font(true, 8);
        for (size_t k = 0; k < line.Cells.size() && k < doc.Columns.size(); ++k) {
          if (line.Cells[k].Text.empty()) continue;
          size_t e = k + 1;
          while (e < doc.Columns.size() && doc.Columns[e].Band == doc.Columns[k].Band) ++e;
          const double x0 = m + doc.Columns[k].Left;
          const double x1 = m + doc.Columns[e - 1].Left + doc.Columns[e - 1].Width;
          paint.text(line.Cells[k].Text, x0, x1 - x0, base, Align::Center, true);
          paint.rule(x0 + 1, x1 - 1, y + 0.2, 0.4);
        }
        break;
      }
      case LineKind::ColumnTitles:
      case LineKind::Detail:
      case LineKind::Subtotal:
      case LineKind::Total: {
        const bool sum = line.Kind == LineKind::Subtotal || line.Kind == LineKind::Total;
        paint.font(line.Kind != LineKind::Detail, line.Kind == LineKind::Total ? 9 : 8);
        if (sum) paint.rule(m, tableRight, y - doc.LineHeight + 0.6, line.Kind == LineKind::Total ? 1.0 : 0.4);
        for (size_t k = 0; k < line.Cells.size() && k < doc.Columns.size(); ++k) {
          const ColumnLayout& c = doc.Columns[k];
          if (k == 0 && sum)  // the subtotal's label may run over the next columns
            paint.text(line.Cells[k].Text, m + c.Left, tableRight - m - c.Left, base, Align::Left, false);
          else
            paint.text(line.Cells[k].Text, m + c.Left, c.Width, base, c.Alignment, true);
        }
        if (line.Kind == LineKind::ColumnTitles) paint.rule(m, tableRight, y + 0.3, 0.7);
        break;
      }
    }
  }
}

}  // namespace report
