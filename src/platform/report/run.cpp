#include <cctype>
#include <cmath>

#include "platform/report/report.h"
#include "platform/rtl/format.h"

namespace report {

namespace {

bool identStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool identChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::string join(const std::vector<std::string>& v, std::string_view sep) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i) out += sep;
    out += v[i];
  }
  return out;
}

// The value to bind for a scalar parameter, converted to its declared type.
rtl::Variant scalarValue(const TReportParam& p) {
  const rtl::Variant& v = p.Value();
  if (v.isNullOrEmpty()) return rtl::Variant::Null();
  try {
    switch (p.Type()) {
      case ParamType::String:
        return rtl::Variant(v.toString());
      case ParamType::Date:
        if (v.isString() && rtl::Trim(v.asStringRef()).empty()) return rtl::Variant::Null();
        return rtl::Variant::FromDate(rtl::DateOf(v.toDateTime()));
      case ParamType::Float:
        return rtl::Variant(v.toDouble());
      case ParamType::Integer:
        return rtl::Variant(static_cast<long long>(v.toInt()));
      case ParamType::List:
        break;
    }
  } catch (const std::exception& e) {
    throw EReportError("Valor inválido para o parâmetro " + p.Name() + ": " + e.what());
  }
  return v;
}

// A parameter's value as a header shows it.
std::string displayValue(const TReportParam& p) {
  if (p.IsNull()) return {};
  if (p.Type() == ParamType::List) return join(p.ListValues(), ", ");
  if (p.Type() == ParamType::Date || p.Value().type() == rtl::VarType::DateTime) {
    rtl::Variant v = scalarValue(p);
    return v.isNull() ? std::string() : rtl::DateToStr(v.toDateTime());
  }
  return p.Value().toString();
}

std::string cellText(const ColumnDef& c, const rtl::Variant& v) {
  if (v.isNullOrEmpty()) return {};
  switch (c.Kind) {
    case ColumnKind::Number:
      return rtl::FormatFloat(c.Format.empty() ? "#,##0.##" : c.Format, v.toDouble());
    case ColumnKind::Date:
      return rtl::FormatDateTime(c.Format.empty() ? "dd/mm/yyyy" : c.Format, v.toDateTime());
    case ColumnKind::Text:
      break;
  }
  return rtl::TrimRight(v.toString());
}

std::string rowText(const db::Result& rows, size_t r, std::string_view field) {
  int i = rows.columnIndex(field);
  if (i < 0) return {};
  const rtl::Variant& v = rows.rows[r][static_cast<size_t>(i)];
  if (v.type() == rtl::VarType::DateTime) return rtl::DateToStr(v.toDateTime());
  return v.isNullOrEmpty() ? std::string() : rtl::TrimRight(v.toString());
}

// Expands {NAME} and {NAME|text}: a parameter first, then a field.
template <class Lookup>
std::string expand(std::string_view tpl, Lookup lookup) {
  std::string out;
  size_t i = 0;
  while (i < tpl.size()) {
    if (tpl[i] == '{') {
      size_t close = tpl.find('}', i);
      if (close != std::string_view::npos) {
        std::string_view inner = tpl.substr(i + 1, close - i - 1);
        std::string_view name = inner, fallback;
        if (size_t bar = inner.find('|'); bar != std::string_view::npos) {
          name = inner.substr(0, bar);
          fallback = inner.substr(bar + 1);
        }
        std::string value = lookup(name);
        out += value.empty() ? std::string(fallback) : value;
        i = close + 1;
        continue;
      }
    }
    out += tpl[i++];
  }
  return out;
}

Line textLine(LineKind kind, std::string text) {
  Line l;
  l.Kind = kind;
  l.Cells.push_back(Cell{std::move(text), {}});
  return l;
}

}  // namespace

// ---------------------------------------------------------------------------
std::vector<std::string> TReportParam::ListValues() const {
  std::vector<std::string> out;
  if (value_.isNullOrEmpty()) return out;
  if (value_.isArray()) {
    for (size_t i = 0; i < value_.size(); ++i) {
      std::string s = rtl::Trim(value_[i].toString());
      if (!s.empty()) out.push_back(std::move(s));
    }
    return out;
  }
  std::string text = value_.toString();
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    std::string s = rtl::Trim(std::string_view(text).substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (!s.empty()) out.push_back(std::move(s));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

TReportParams::TReportParams(const ReportDefinition& def) {
  for (const ParamDef& p : def.Params) items_.emplace_back(p.Name, p.Type);
}

TReportParam* TReportParams::Find(std::string_view name) {
  for (TReportParam& p : items_)
    if (db::EqualsIgnoreCase(p.Name(), name)) return &p;
  return nullptr;
}

const TReportParam* TReportParams::Find(std::string_view name) const {
  return const_cast<TReportParams*>(this)->Find(name);
}

TReportParam& TReportParams::ParamByName(std::string_view name) {
  if (TReportParam* p = Find(name)) return *p;
  throw EReportError("O relatório não tem o parâmetro " + std::string(name) + ".");
}

const TReportParam& TReportParams::ParamByName(std::string_view name) const {
  return const_cast<TReportParams*>(this)->ParamByName(name);
}

// ---------------------------------------------------------------------------
BoundQuery BindQuery(std::string_view sql, const ReportDefinition& def, const TReportParams& params) {
  BoundQuery q;
  std::string& out = q.Sql;
  out.reserve(sql.size() + 32);
  size_t i = 0, n = sql.size();
  auto copyUntil = [&](size_t end) {
    out.append(sql.substr(i, end - i));
    i = end;
  };
  while (i < n) {
    char c = sql[i];
    if (c == '\'' || c == '"') {  // literal or quoted identifier, doubled quote inside
      size_t j = i + 1;
      while (j < n) {
        if (sql[j] == c) {
          if (j + 1 < n && sql[j + 1] == c) {
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        ++j;
      }
      copyUntil(j);
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      size_t j = sql.find('\n', i);
      copyUntil(j == std::string_view::npos ? n : j);
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      size_t j = sql.find("*/", i + 2);
      copyUntil(j == std::string_view::npos ? n : j + 2);
    } else if (c == ':' && i + 1 < n && sql[i + 1] == ':') {
      copyUntil(i + 2);  // a cast
    } else if (c == ':' && i + 1 < n && identStart(sql[i + 1])) {
      size_t j = i + 1;
      while (j < n && identChar(sql[j])) ++j;
      std::string name(sql.substr(i + 1, j - i - 1));
      const TReportParam* p = params.Find(name);
      if (!p && !def.FindParam(name))
        throw EReportError("O SQL do relatório " + def.Code + " usa o parâmetro não declarado :" + name + ".");
      ParamType type = p ? p->Type() : def.FindParam(name)->Type;
      if (type == ParamType::List) {
        std::vector<std::string> values = p ? p->ListValues() : std::vector<std::string>{};
        // An empty list still needs one placeholder: IN (NULL) matches nothing.
        if (values.empty()) values.emplace_back();
        for (size_t k = 0; k < values.size(); ++k) {
          std::string ph = name + "_" + std::to_string(k + 1);
          if (k) out += ", ";
          out += ':' + ph;
          if (!q.Values.find(ph))
            q.Values.set(ph, values[k].empty() ? rtl::Variant::Null() : rtl::Variant(values[k]));
        }
      } else {
        out += ':' + name;
        if (!q.Values.find(name)) q.Values.set(name, p ? scalarValue(*p) : rtl::Variant::Null());
      }
      i = j;
    } else {
      out += c;
      ++i;
    }
  }
  return q;
}

// ---------------------------------------------------------------------------
Document Layout(const ReportDefinition& def, const TReportParams& params, const db::Result& rows,
                const std::map<std::string, rtl::Variant>& headerFields) {
  Document doc;
  doc.Code = def.Code;
  doc.Title = def.Title;
  if (!def.Landscape) std::swap(doc.PageWidth, doc.PageHeight);

  double left = 0;
  bool bands = false;
  for (const ColumnDef& c : def.Columns) {
    ColumnLayout cl;
    cl.Title = c.Title;
    cl.Band = c.Band;
    cl.Left = left;
    cl.Width = c.Width;
    cl.Alignment = c.Alignment;
    cl.Kind = c.Kind;
    left += c.Width;
    bands = bands || !c.Band.empty();
    doc.Columns.push_back(std::move(cl));
  }

  auto paramOrHeader = [&](std::string_view name) -> std::string {
    if (const TReportParam* p = params.Find(name)) return displayValue(*p);
    for (const auto& [k, v] : headerFields)
      if (db::EqualsIgnoreCase(k, name)) {
        if (v.type() == rtl::VarType::DateTime) return rtl::DateToStr(v.toDateTime());
        return v.isNullOrEmpty() ? std::string() : rtl::TrimRight(v.toString());
      }
    return {};
  };

  // The head of every page.
  std::vector<Line> head;
  head.push_back(textLine(LineKind::Title, def.Code + " - " + def.Title));
  for (const std::string& h : def.Header) head.push_back(textLine(LineKind::Header, expand(h, paramOrHeader)));
  if (bands) {
    Line b;
    b.Kind = LineKind::BandTitles;
    std::string prev;
    for (const ColumnDef& c : def.Columns) {
      b.Cells.push_back(Cell{c.Band != prev ? c.Band : std::string(), {}});
      prev = c.Band;
    }
    head.push_back(std::move(b));
  }
  {
    Line t;
    t.Kind = LineKind::ColumnTitles;
    for (const ColumnDef& c : def.Columns) t.Cells.push_back(Cell{c.Title, {}});
    head.push_back(std::move(t));
  }

  // The body: group headers, details, subtotals, total.
  std::vector<int> colIndex;
  for (const ColumnDef& c : def.Columns) colIndex.push_back(rows.columnIndex(c.Field));
  for (size_t k = 0; k < def.Columns.size(); ++k)
    if (colIndex[k] < 0 && !rows.columns.empty())
      throw EReportError("A consulta do relatório " + def.Code + " não tem a coluna " + def.Columns[k].Field + ".");

  const GroupDef* group = def.Groups.empty() ? nullptr : &def.Groups.front();
  int groupCol = group ? rows.columnIndex(group->Field) : -1;
  if (group && groupCol < 0 && !rows.columns.empty())
    throw EReportError("A consulta do relatório " + def.Code + " não tem a coluna de grupo " + group->Field + ".");

  std::vector<double> sub(def.Columns.size(), 0.0), total(def.Columns.size(), 0.0);
  auto sumLine = [&](LineKind kind, const std::string& label, const std::vector<double>& sums) {
    Line l;
    l.Kind = kind;
    for (size_t k = 0; k < def.Columns.size(); ++k) {
      const ColumnDef& c = def.Columns[k];
      if (c.Sum) l.Cells.push_back(Cell{cellText(c, rtl::Variant(sums[k])), rtl::Variant(sums[k])});
      else l.Cells.push_back(Cell{k == 0 ? label : std::string(), {}});
    }
    return l;
  };

  size_t groupStart = 0;
  auto closeGroup = [&](size_t lastRow) {
    std::string label = expand(group->Footer, [&](std::string_view name) {
      std::string v = rowText(rows, lastRow, name);
      return v.empty() ? paramOrHeader(name) : v;
    });
    doc.Body.push_back(sumLine(LineKind::Subtotal, label, sub));
    std::fill(sub.begin(), sub.end(), 0.0);
  };

  for (size_t r = 0; r < rows.size(); ++r) {
    const auto& row = rows.rows[r];
    if (group) {
      bool starts = r == 0 || !(row[static_cast<size_t>(groupCol)] == rows.rows[r - 1][static_cast<size_t>(groupCol)]);
      if (starts) {
        if (r > 0) closeGroup(r - 1);
        groupStart = r;
        doc.Body.push_back(textLine(LineKind::GroupHeader, expand(group->Header, [&](std::string_view name) {
                                      std::string v = rowText(rows, r, name);
                                      return v.empty() ? paramOrHeader(name) : v;
                                    })));
      }
    }
    Line d;
    d.Kind = LineKind::Detail;
    for (size_t k = 0; k < def.Columns.size(); ++k) {
      const ColumnDef& c = def.Columns[k];
      const rtl::Variant& v = row[static_cast<size_t>(colIndex[k])];
      d.Cells.push_back(Cell{cellText(c, v), v});
      if (c.Sum && !v.isNullOrEmpty()) {
        double x = v.toDouble();
        sub[k] += x;
        total[k] += x;
      }
    }
    doc.Body.push_back(std::move(d));
  }
  (void)groupStart;
  if (group && !rows.empty()) closeGroup(rows.size() - 1);
  if (!def.TotalLabel.empty()) doc.Body.push_back(sumLine(LineKind::Total, def.TotalLabel, total));

  // Pages: the head, as many body lines as fit, the footer.
  size_t usable = static_cast<size_t>(std::floor((doc.PageHeight - 2 * doc.Margin) / doc.LineHeight));
  size_t perPage = usable > head.size() + 2 ? usable - head.size() - 1 : 1;
  size_t pages = std::max<size_t>(1, (doc.Body.size() + perPage - 1) / perPage);
  for (size_t p = 0; p < pages; ++p) {
    Page page;
    page.Lines = head;
    size_t from = p * perPage, to = std::min(doc.Body.size(), from + perPage);
    for (size_t i = from; i < to; ++i) page.Lines.push_back(doc.Body[i]);
    page.Lines.push_back(
        textLine(LineKind::PageFooter, "Página " + std::to_string(p + 1) + " de " + std::to_string(pages)));
    doc.Pages.push_back(std::move(page));
  }
  return doc;
}

Document Run(const ReportDefinition& def, const TReportParams& params, db::Connection& conn) {
  BoundQuery q = BindQuery(def.SqlFor(conn.dialect()), def, params);
  db::Result rows = conn.query(q.Sql, q.Values);
  std::map<std::string, rtl::Variant> header;
  if (!def.HeaderSql.empty()) {
    const char* key = conn.dialect() == db::Dialect::SQLite ? "sqlite" : "postgresql";
    auto it = def.HeaderSql.find(key);
    if (it == def.HeaderSql.end()) it = def.HeaderSql.find("default");
    if (it != def.HeaderSql.end()) {
      BoundQuery h = BindQuery(it->second, def, params);
      db::Result hr = conn.query(h.Sql, h.Values);
      if (!hr.empty())
        for (size_t c = 0; c < hr.columns.size(); ++c) header[hr.columns[c].name] = hr.rows[0][c];
    }
  }
  return Layout(def, params, rows, header);
}

}  // namespace report
