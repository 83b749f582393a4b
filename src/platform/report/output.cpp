#include <hpdf.h>

#include <fstream>

#include "platform/report/paint.h"
#include "platform/report/report.h"
#include "platform/rtl/format.h"

namespace report {

namespace {

// Windows-1252 positions 0x80..0x9F that hold characters.
struct WinAnsiExtra {
  char32_t cp;
  unsigned char byte;
};
constexpr WinAnsiExtra kExtra[] = {
    {0x20AC, 0x80}, {0x201A, 0x82}, {0x0192, 0x83}, {0x201E, 0x84}, {0x2026, 0x85}, {0x2020, 0x86},
    {0x2021, 0x87}, {0x02C6, 0x88}, {0x2030, 0x89}, {0x0160, 0x8A}, {0x2039, 0x8B}, {0x0152, 0x8C},
    {0x017D, 0x8E}, {0x2018, 0x91}, {0x2019, 0x92}, {0x201C, 0x93}, {0x201D, 0x94}, {0x2022, 0x95},
    {0x2013, 0x96}, {0x2014, 0x97}, {0x02DC, 0x98}, {0x2122, 0x99}, {0x0161, 0x9A}, {0x203A, 0x9B},
    {0x0153, 0x9C}, {0x017E, 0x9E}, {0x0178, 0x9F}};

constexpr double kPt = 72.0 / 25.4;

struct PdfError {
  HPDF_STATUS status = HPDF_OK;
  HPDF_STATUS detail = 0;
};

void onPdfError(HPDF_STATUS error, HPDF_STATUS detail, void* user) {
  auto* e = static_cast<PdfError*>(user);
  if (e->status == HPDF_OK) {
    e->status = error;
    e->detail = detail;
  }
}

class PdfPainter : public PagePainter {
public:
  PdfPainter(HPDF_Page page, HPDF_Font regular, HPDF_Font bold, double pageHeightMm)
      : page_(page), regular_(regular), bold_(bold), h_(pageHeightMm) {}

  void font(bool bold, double size) override {
    HPDF_Page_SetFontAndSize(page_, bold ? bold_ : regular_, static_cast<HPDF_REAL>(size));
  }
  double width(const std::string& ansi) { return HPDF_Page_TextWidth(page_, ansi.c_str()); }

  // Text in a box [xMm, xMm+wMm] on the baseline yMm (from the top), cut to fit when clip.
  void text(const std::string& utf8, double xMm, double wMm, double yMm, Align a, bool clip) override {
    std::string ansi = Utf8ToWinAnsi(utf8);
    double box = wMm * kPt - 3;
    if (clip)
      while (!ansi.empty() && width(ansi) > box) ansi.pop_back();
    double tw = width(ansi), x = xMm * kPt + 1.5;
    if (a == Align::Right) x = (xMm + wMm) * kPt - 1.5 - tw;
    if (a == Align::Center) x = xMm * kPt + (wMm * kPt - tw) / 2;
    HPDF_Page_BeginText(page_);
    HPDF_Page_TextOut(page_, static_cast<HPDF_REAL>(x), static_cast<HPDF_REAL>((h_ - yMm) * kPt), ansi.c_str());
    HPDF_Page_EndText(page_);
  }

  void rule(double x0Mm, double x1Mm, double yMm, double widthPt) override {
    HPDF_Page_SetLineWidth(page_, static_cast<HPDF_REAL>(widthPt));
    HPDF_Page_MoveTo(page_, static_cast<HPDF_REAL>(x0Mm * kPt), static_cast<HPDF_REAL>((h_ - yMm) * kPt));
    HPDF_Page_LineTo(page_, static_cast<HPDF_REAL>(x1Mm * kPt), static_cast<HPDF_REAL>((h_ - yMm) * kPt));
    HPDF_Page_Stroke(page_);
  }

private:
  HPDF_Page page_;
  HPDF_Font regular_, bold_;
  double h_;
};

std::string csvField(const std::string& s) {
  if (s.find_first_of(";\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

// A value as a spreadsheet set to Brazilian Portuguese reads it: numbers with
// a decimal comma and no thousands separator; dates and texts as the column
// shows them (a weekday column shows "ter", not the date).
std::string csvValue(const Cell& c, ColumnKind kind) {
  const rtl::Variant& v = c.Value;
  if (v.isNullOrEmpty()) return csvField(c.Text);
  if (kind == ColumnKind::Number && v.isNumeric()) return rtl::FloatToStr(v.toDouble());
  if (v.type() == rtl::VarType::DateTime && c.Text.empty()) return rtl::DateToStr(v.toDateTime());
  return csvField(c.Text);
}

}  // namespace

std::string Utf8ToWinAnsi(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      out += '?';
      ++i;
      continue;
    }
    if (i + len > s.size()) {
      out += '?';
      break;
    }
    bool ok = true;
    for (size_t k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    i += ok ? len : 1;
    if (!ok) {
      out += '?';
      continue;
    }
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    char repl = '?';
    for (const WinAnsiExtra& e : kExtra)
      if (e.cp == cp) repl = static_cast<char>(e.byte);
    out += repl;
  }
  return out;
}

void WritePdf(const Document& doc, const std::string& path) {
  PdfError err;
  HPDF_Doc pdf = HPDF_New(onPdfError, &err);
  if (!pdf) throw EReportError("Não foi possível criar o PDF.");
  struct Free {
    HPDF_Doc d;
    ~Free() { HPDF_Free(d); }
  } guard{pdf};
  HPDF_SetCompressionMode(pdf, HPDF_COMP_ALL);
  HPDF_SetInfoAttr(pdf, HPDF_INFO_TITLE, Utf8ToWinAnsi(doc.Code + " - " + doc.Title).c_str());
  HPDF_Font regular = HPDF_GetFont(pdf, "Helvetica", "WinAnsiEncoding");
  HPDF_Font bold = HPDF_GetFont(pdf, "Helvetica-Bold", "WinAnsiEncoding");
  for (const Page& page : doc.Pages) {
    HPDF_Page p = HPDF_AddPage(pdf);
    HPDF_Page_SetWidth(p, static_cast<HPDF_REAL>(doc.PageWidth * kPt));
    HPDF_Page_SetHeight(p, static_cast<HPDF_REAL>(doc.PageHeight * kPt));
    PdfPainter paint(p, regular, bold, doc.PageHeight);
    PaintPage(doc, page, paint);
  }
  if (err.status != HPDF_OK)
    throw EReportError("Erro ao montar o PDF (código " + std::to_string(err.status) + ").");
  if (HPDF_SaveToFile(pdf, path.c_str()) != HPDF_OK || err.status != HPDF_OK)
    throw EReportError("Não foi possível gravar o arquivo " + path + ".");
}

std::string CsvText(const Document& doc) {
  std::string out = "\xEF\xBB\xBF";
  auto row = [&](const std::vector<std::string>& fields) {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i) out += ';';
      out += fields[i];
    }
    out += "\r\n";
  };
  std::vector<std::string> titles;
  for (const ColumnLayout& c : doc.Columns) {
    std::string t = c.Band.empty() ? c.Title : c.Band + " " + c.Title;
    titles.push_back(csvField(t));
  }
  row(titles);
  for (const Line& l : doc.Body) {
    if (l.Kind == LineKind::GroupHeader || l.Kind == LineKind::Header) {
      row({csvField(l.Cells[0].Text)});
      continue;
    }
    if (l.Kind != LineKind::Detail && l.Kind != LineKind::Subtotal && l.Kind != LineKind::Total) continue;
    std::vector<std::string> f;
    for (size_t k = 0; k < l.Cells.size() && k < doc.Columns.size(); ++k)
      f.push_back(csvValue(l.Cells[k], doc.Columns[k].Kind));
    row(f);
  }
  return out;
}

void WriteCsv(const Document& doc, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw EReportError("Não foi possível gravar o arquivo " + path + ".");
  std::string text = CsvText(doc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out.flush()) throw EReportError("Não foi possível gravar o arquivo " + path + ".");
}

}  // namespace report
