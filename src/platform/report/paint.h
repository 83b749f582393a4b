#pragma once
// One page of a document laid out on a surface in millimetres from the top
// left: the PDF writer and the desktop's print preview draw the same page
// through this walk, each with its own painter.

#include <string>

#include "platform/report/report.h"

namespace report {

class PagePainter {
public:
  virtual ~PagePainter() = default;
  virtual void font(bool bold, double sizePt) = 0;
  // UTF-8 text in the box [xMm, xMm+wMm] on the baseline yMm, cut to fit when clip.
  virtual void text(const std::string& utf8, double xMm, double wMm, double yMm, Align a, bool clip) = 0;
  // A horizontal line from x0Mm to x1Mm at yMm, widthPt thick.
  virtual void rule(double x0Mm, double x1Mm, double yMm, double widthPt) = 0;
};

void PaintPage(const Document& doc, const Page& page, PagePainter& paint);

}  // namespace report
