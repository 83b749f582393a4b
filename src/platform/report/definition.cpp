#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/report/report.h"

namespace report {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

[[noreturn]] void fail(const std::string& source, const std::string& what) {
  throw EReportError("Definição de relatório inválida (" + source + "): " + what);
}

std::string str(const json& j, const char* key, const std::string& source, bool required) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) {
    if (required) fail(source, std::string("falta \"") + key + "\"");
    return {};
  }
  if (!it->is_string()) fail(source, std::string("\"") + key + "\" deve ser um texto");
  return it->get<std::string>();
}

ParamType paramType(const std::string& t, const std::string& source) {
  if (t.empty() || t == "string") return ParamType::String;
  if (t == "date") return ParamType::Date;
  if (t == "float") return ParamType::Float;
  if (t == "integer") return ParamType::Integer;
  if (t == "list") return ParamType::List;
  fail(source, "tipo de parâmetro desconhecido \"" + t + "\"");
}

std::map<std::string, std::string> sqlMap(const json& j, const char* key, const std::string& source) {
  std::map<std::string, std::string> out;
  auto it = j.find(key);
  if (it == j.end()) return out;
  if (!it->is_object()) fail(source, std::string("\"") + key + "\" deve listar um texto por dialeto");
  for (auto& [dialect, text] : it->items()) {
    if (dialect != "default" && dialect != "sqlite" && dialect != "postgresql")
      fail(source, "dialeto desconhecido \"" + dialect + "\"");
    // A text may be written as an array of lines, which keeps the file readable.
    std::string sql;
    if (text.is_string()) {
      sql = text.get<std::string>();
    } else if (text.is_array()) {
      for (auto& line : text) {
        if (!line.is_string()) fail(source, std::string("linhas de \"") + key + "\" devem ser textos");
        sql += line.get<std::string>();
        sql += '\n';
      }
    } else {
      fail(source, std::string("\"") + key + "\" de " + dialect + " deve ser um texto");
    }
    out[dialect] = std::move(sql);
  }
  return out;
}

std::string exeFolder() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  buf[n] = 0;
  return fs::path(buf).parent_path().string();
}

}  // namespace

const ParamDef* ReportDefinition::FindParam(std::string_view name) const {
  for (const ParamDef& p : Params)
    if (db::EqualsIgnoreCase(p.Name, name)) return &p;
  return nullptr;
}

const std::string& ReportDefinition::SqlFor(db::Dialect d) const {
  const char* key = d == db::Dialect::SQLite ? "sqlite" : "postgresql";
  auto it = Sql.find(key);
  if (it == Sql.end()) it = Sql.find("default");
  if (it == Sql.end()) throw EReportError("O relatório " + Code + " não tem SQL para " + db::DialectName(d) + ".");
  return it->second;
}

ReportDefinition ParseDefinition(std::string_view text, const std::string& source) {
  json j;
  try {
    j = json::parse(text);
  } catch (const json::parse_error& e) {
    fail(source, e.what());
  }
  if (!j.is_object()) fail(source, "o arquivo deve conter um objeto");
  ReportDefinition d;
  d.SourcePath = source;
  d.Code = str(j, "code", source, true);
  d.Title = str(j, "title", source, true);
  d.TotalLabel = str(j, "totalLabel", source, false);
  if (auto it = j.find("landscape"); it != j.end()) d.Landscape = it->is_boolean() && it->get<bool>();

  if (auto it = j.find("params"); it != j.end()) {
    if (!it->is_array()) fail(source, "\"params\" deve ser uma lista");
    for (auto& p : *it) {
      ParamDef pd;
      pd.Name = str(p, "name", source, true);
      pd.Type = paramType(str(p, "type", source, false), source);
      if (d.FindParam(pd.Name)) fail(source, "parâmetro repetido " + pd.Name);
      d.Params.push_back(std::move(pd));
    }
  }
  d.Sql = sqlMap(j, "sql", source);
  if (d.Sql.empty()) fail(source, "falta \"sql\"");
  d.HeaderSql = sqlMap(j, "headerSql", source);
  if (auto it = j.find("header"); it != j.end()) {
    for (auto& h : *it) {
      if (!h.is_string()) fail(source, "\"header\" deve ser uma lista de textos");
      d.Header.push_back(h.get<std::string>());
    }
  }
  auto cols = j.find("columns");
  if (cols == j.end() || !cols->is_array() || cols->empty()) fail(source, "falta \"columns\"");
  for (auto& c : *cols) {
    ColumnDef cd;
    cd.Field = str(c, "field", source, true);
    cd.Title = str(c, "title", source, false);
    if (cd.Title.empty()) cd.Title = cd.Field;
    cd.Band = str(c, "band", source, false);
    cd.Format = str(c, "format", source, false);
    if (auto w = c.find("width"); w != c.end()) {
      if (!w->is_number() || w->get<double>() <= 0) fail(source, "largura inválida na coluna " + cd.Field);
      cd.Width = w->get<double>();
    }
    std::string align = str(c, "align", source, false);
    if (align == "right") cd.Alignment = Align::Right;
    else if (align == "center") cd.Alignment = Align::Center;
    else if (!align.empty() && align != "left") fail(source, "alinhamento desconhecido \"" + align + "\"");
    std::string kind = str(c, "type", source, false);
    if (kind == "number") cd.Kind = ColumnKind::Number;
    else if (kind == "date") cd.Kind = ColumnKind::Date;
    else if (!kind.empty() && kind != "text") fail(source, "tipo de coluna desconhecido \"" + kind + "\"");
    if (auto s = c.find("sum"); s != c.end()) cd.Sum = s->is_boolean() && s->get<bool>();
    if (cd.Sum && cd.Kind != ColumnKind::Number) fail(source, "somente colunas numéricas somam: " + cd.Field);
    d.Columns.push_back(std::move(cd));
  }
  if (auto g = j.find("groups"); g != j.end()) {
    for (auto& gr : *g) {
      GroupDef gd;
      gd.Field = str(gr, "field", source, true);
      gd.Header = str(gr, "header", source, false);
      gd.Footer = str(gr, "footer", source, false);
      d.Groups.push_back(std::move(gd));
    }
    if (d.Groups.size() > 1) fail(source, "somente um nível de grupo é aceito");
  }
  return d;
}

ReportDefinition LoadDefinition(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EReportError("Não foi possível ler a definição de relatório " + path + ".");
  std::ostringstream ss;
  ss << in.rdbuf();
  return ParseDefinition(ss.str(), path);
}

ReportLibrary ReportLibrary::Default() {
  ReportLibrary lib;
  if (const char* env = std::getenv("EFET_REPORTS_PATH")) {
    std::string_view s(env);
    size_t start = 0;
    while (start <= s.size()) {
      size_t colon = s.find(':', start);
      std::string_view part = s.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
      if (!part.empty()) lib.AddFolder(std::string(part));
      if (colon == std::string_view::npos) break;
      start = colon + 1;
    }
  }
  std::string exe = exeFolder();
  if (!exe.empty()) {
    lib.AddFolder((fs::path(exe) / "reports").string());
    lib.AddFolder((fs::path(exe) / ".." / "share" / "efetivos" / "reports").lexically_normal().string());
  }
  return lib;
}

std::string ReportLibrary::Find(std::string_view code) const {
  // A code is a file name, never a path.
  if (code.empty() || code.find_first_of("/\\") != std::string_view::npos || code.find("..") != std::string_view::npos)
    return {};
  for (const std::string& f : folders_) {
    fs::path p = fs::path(f) / (std::string(code) + ".json");
    std::error_code ec;
    if (fs::is_regular_file(p, ec)) return p.string();
  }
  return {};
}

ReportDefinition ReportLibrary::Load(std::string_view code) const {
  std::string path = Find(code);
  if (path.empty()) {
    std::string where;
    for (const std::string& f : folders_) where += (where.empty() ? "" : ", ") + f;
    throw EReportError("O arquivo contendo a definição do Relatório de código '" + std::string(code) +
                       "' não foi encontrado no diretório '" + where + "'.");
  }
  return LoadDefinition(path);
}

std::vector<ReportEntry> ReportLibrary::Entries() const {
  std::map<std::string, ReportEntry> byFile;
  for (const std::string& f : folders_) {
    std::error_code ec;
    for (fs::directory_iterator it(f, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->path().extension() != ".json") continue;
      std::string file = it->path().filename().string();
      if (byFile.count(file)) continue;  // an earlier folder wins
      try {
        ReportDefinition d = LoadDefinition(it->path().string());
        ReportEntry e{d.Code, d.Title, it->path().string(), {}};
        for (const ParamDef& p : d.Params) e.ParamNames.push_back(p.Name);
        byFile[file] = std::move(e);
      } catch (const EReportError&) {
        // An unreadable file is not offered; loading it by code tells why.
      }
    }
  }
  std::vector<ReportEntry> out;
  for (auto& [file, e] : byFile) out.push_back(std::move(e));
  std::sort(out.begin(), out.end(), [](const ReportEntry& a, const ReportEntry& b) {
    return a.Code != b.Code ? a.Code < b.Code : a.Title < b.Title;
  });
  return out;
}

}  // namespace report
