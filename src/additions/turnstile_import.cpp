#include "additions/turnstile_import.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>

#include "contracts/arguments.h"
#include "contracts/result.h"
#include "platform/data/dataset.h"
#include "platform/rtl/format.h"

namespace additions {

namespace {

const char* const kColumns[] = {"CDFILIAL", "CDSERVFILI", "CDCATRACA", "DTEFETCAT", "QTEFETCATINI", "QTEFETCATFIM"};
constexpr size_t kWidths[] = {4, 5, 10};

bool ValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    for (size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 0x2) return false;
    i += len;
  }
  return true;
}

std::string Latin1ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 8);
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string Trim(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
  return std::string(s.substr(a, b - a));
}

// Fields of one line; quotes may wrap a field ("" inside is one quote).
// False when a quote is left open.
bool SplitLine(std::string_view line, char sep, std::vector<std::string>& out) {
  out.clear();
  std::string cur;
  bool quoted = false, wasQuoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') cur.push_back('"'), ++i;
      else if (c == '"') quoted = false;
      else cur.push_back(c);
    } else if (c == '"' && Trim(cur).empty()) {
      quoted = wasQuoted = true;
      cur.clear();
    } else if (c == sep) {
      out.push_back(wasQuoted ? cur : Trim(cur));
      cur.clear();
      wasQuoted = false;
    } else {
      cur.push_back(c);
    }
  }
  out.push_back(wasQuoted ? cur : Trim(cur));
  return !quoted;
}

bool ParseCounter(const std::string& s, double& out) {
  if (s.empty() || s.size() > 15) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  out = std::stod(s);
  return true;
}

bool ParseDay(const std::string& s, rtl::TDateTime& out) {
  int d = 0, m = 0, y = 0;
  size_t p1 = s.find('/'), p2 = p1 == std::string::npos ? p1 : s.find('/', p1 + 1);
  if (p2 == std::string::npos || s.find('/', p2 + 1) != std::string::npos) return false;
  auto num = [](std::string_view t, size_t maxLen, int& v) {
    if (t.empty() || t.size() > maxLen) return false;
    v = 0;
    for (char c : t) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + (c - '0');
    }
    return true;
  };
  std::string_view v(s);
  if (!num(v.substr(0, p1), 2, d) || !num(v.substr(p1 + 1, p2 - p1 - 1), 2, m) || v.size() - p2 - 1 != 4 ||
      !num(v.substr(p2 + 1), 4, y))
    return false;
  return rtl::TryEncodeDate(y, m, d, out);
}

std::string Whole(double v) { return std::to_string(static_cast<int64_t>(std::llround(v))); }

using Key = std::tuple<std::string, std::string, std::string, int>;  // branch, turnstile, service, day
Key KeyOf(const ImportLine& l) { return {l.branch, l.turnstile, l.service, static_cast<int>(l.day)}; }

}  // namespace

std::string VerdictText(Verdict v) {
  switch (v) {
    case Verdict::Ready: return "Pronta";
    case Verdict::Unchanged: return "Já gravada";
    case Verdict::Changed: return "Alterada";
    case Verdict::UnknownTurnstile: return "Catraca desconhecida";
    case Verdict::UnknownService: return "Serviço desconhecido";
    case Verdict::EndBelowStart: return "Final menor que inicial";
    case Verdict::ClosedDay: return "Dia fechado";
    case Verdict::Malformed: return "Linha inválida";
    case Verdict::Refused: return "Filial recusada";
  }
  return {};
}

int ImportPreview::count(Verdict v) const {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [v](const ImportLine& l) { return l.verdict == v; }));
}

int ImportPreview::toSend() const {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const ImportLine& l) { return l.send; }));
}

ImportPreview ParseTurnstileFile(std::string_view raw) {
  ImportPreview p;
  if (raw.size() >= 3 && raw.substr(0, 3) == "\xEF\xBB\xBF") raw.remove_prefix(3);
  std::string text = ValidUtf8(raw) ? std::string(raw) : Latin1ToUtf8(raw);
  std::vector<std::string_view> lines;
  for (size_t a = 0; a <= text.size();) {
    size_t b = text.find('\n', a);
    if (b == std::string::npos) b = text.size();
    lines.emplace_back(text.data() + a, b - a);
    a = b + 1;
  }
  size_t header = 0;
  while (header < lines.size() && Trim(lines[header]).empty()) ++header;
  if (header == lines.size()) {
    p.fileError = "Arquivo vazio: falta a linha de cabeçalho com os nomes das colunas.";
    return p;
  }
  const std::string_view head = lines[header];
  const char sep = std::count(head.begin(), head.end(), ';') >= std::count(head.begin(), head.end(), ',') ? ';' : ',';
  std::vector<std::string> fields;
  SplitLine(head, sep, fields);
  int col[6];
  for (int c = 0; c < 6; ++c) {
    col[c] = -1;
    for (size_t i = 0; i < fields.size(); ++i) {
      std::string name = fields[i];
      std::transform(name.begin(), name.end(), name.begin(), [](unsigned char ch) { return std::toupper(ch); });
      if (name == kColumns[c]) col[c] = static_cast<int>(i);
    }
    if (col[c] < 0) {
      p.fileError = std::string("Coluna ") + kColumns[c] + " ausente no cabeçalho (linha " + std::to_string(header + 1) +
                    "). O cabeçalho deve nomear CDFILIAL, CDSERVFILI, CDCATRACA, DTEFETCAT, QTEFETCATINI e QTEFETCATFIM.";
      return p;
    }
  }
  const size_t width = fields.size();
  std::map<Key, int> seen;
  p.lines.reserve(lines.size());
  for (size_t i = header + 1; i < lines.size(); ++i) {
    if (Trim(lines[i]).empty()) continue;
    ImportLine l;
    l.lineNo = static_cast<int>(i + 1);
    auto bad = [&](const std::string& what) {
      l.verdict = Verdict::Malformed;
      l.text = "Linha " + std::to_string(l.lineNo) + ": " + what;
      p.lines.push_back(l);
    };
    if (!SplitLine(lines[i], sep, fields)) {
      bad("aspas não fechadas.");
      continue;
    }
    if (fields.size() != width) {
      bad(std::to_string(fields.size()) + " campos, o cabeçalho tem " + std::to_string(width) + ".");
      continue;
    }
    std::string* codes[] = {&l.branch, &l.service, &l.turnstile};
    std::string problem;
    for (int c = 0; c < 3 && problem.empty(); ++c) {
      *codes[c] = fields[col[c]];
      if (codes[c]->empty()) problem = std::string(kColumns[c]) + " vazio.";
      else if (codes[c]->size() > kWidths[c])
        problem = std::string(kColumns[c]) + " \"" + *codes[c] + "\" com mais de " + std::to_string(kWidths[c]) +
                  " caracteres.";
    }
    if (problem.empty() && !ParseDay(fields[col[3]], l.day))
      problem = "data \"" + fields[col[3]] + "\" inválida (use dd/mm/aaaa).";
    if (problem.empty() && !ParseCounter(fields[col[4]], l.start))
      problem = "contador inicial \"" + fields[col[4]] + "\" não é um número inteiro maior ou igual a zero.";
    if (problem.empty() && !ParseCounter(fields[col[5]], l.end))
      problem = "contador final \"" + fields[col[5]] + "\" não é um número inteiro maior ou igual a zero.";
    if (problem.empty()) {
      auto [it, fresh] = seen.emplace(KeyOf(l), l.lineNo);
      if (!fresh) problem = "leitura repetida (a mesma catraca, serviço e dia estão na linha " + std::to_string(it->second) + ").";
    }
    if (!problem.empty()) {
      bad(problem);
      continue;
    }
    l.verdict = Verdict::Ready;
    l.text = "Leitura nova.";
    l.send = true;
    p.lines.push_back(std::move(l));
  }
  return p;
}

void JudgeLines(ImportPreview& p, const std::string& branch, const rtl::Variant& payload) {
  data::TClientDataSet cats, servs, reads, params;
  cats.SetData(payload[0]);
  servs.SetData(payload[1]);
  reads.SetData(payload[2]);
  params.SetData(payload[3]);
  std::map<std::string, std::string> serviceOf;  // turnstile -> its service
  for (cats.First(); !cats.Eof(); cats.Next())
    serviceOf[cats.FieldByName("CDCATRACA").AsString()] = cats.FieldByName("CDSERVFILI").AsString();
  std::set<std::string> services;
  for (servs.First(); !servs.Eof(); servs.Next()) services.insert(servs.FieldByName("CDSERVFILI").AsString());
  std::map<Key, std::pair<rtl::Variant, rtl::Variant>> stored;
  for (reads.First(); !reads.Eof(); reads.Next())
    stored[{branch, reads.FieldByName("CDCATRACA").AsString(), reads.FieldByName("CDSERVFILI").AsString(),
            static_cast<int>(std::floor(reads.FieldByName("DTEFETCAT").AsDateTime()))}] = {
        reads.FieldByName("QTEFETCATINI").Value(), reads.FieldByName("QTEFETCATFIM").Value()};
  const bool closing = params.FieldByName("IDBLQEFEDIAFECH").AsString() == "S";
  const rtl::TDateTime limit = params.FieldByName("DTLIMITE").AsDateTime();

  for (auto& l : p.lines) {
    if (l.branch != branch || l.verdict == Verdict::Malformed) continue;
    auto set = [&](Verdict v, std::string text) {
      l.verdict = v;
      l.text = std::move(text);
      l.send = v == Verdict::Ready;
    };
    auto cat = serviceOf.find(l.turnstile);
    if (!services.count(l.service)) {
      set(Verdict::UnknownService, "Serviço " + l.service + " não cadastrado na filial " + branch + ".");
    } else if (cat == serviceOf.end()) {
      set(Verdict::UnknownTurnstile, "Catraca " + l.turnstile + " não cadastrada na filial " + branch + ".");
    } else if (cat->second != l.service) {
      set(Verdict::UnknownTurnstile,
          "Catraca " + l.turnstile + " não pertence ao serviço " + l.service + " (é do serviço " + cat->second + ").");
    } else if (l.end < l.start) {
      set(Verdict::EndBelowStart,
          "Contador final (" + Whole(l.end) + ") menor que o inicial (" + Whole(l.start) + ").");
    } else if (closing && l.day < limit) {
      set(Verdict::ClosedDay, "Dia fechado para alteração de efetivos (" + rtl::FormatDateTime("dd/mm/yyyy", l.day) + ").");
    } else if (auto s = stored.find(KeyOf(l)); s != stored.end() && !s->second.first.isNullOrEmpty()) {
      l.storedStart = s->second.first.toDouble();
      if (!s->second.second.isNullOrEmpty()) l.storedEnd = s->second.second.toDouble();
      if (l.storedStart == l.start && l.storedEnd == l.end)
        set(Verdict::Unchanged, "Já gravada com os mesmos valores.");
      else
        set(Verdict::Changed, "Já gravada com outros valores: " + Whole(*l.storedStart) + "–" +
                                  (l.storedEnd ? Whole(*l.storedEnd) : std::string("(vazio)")) + " → " +
                                  Whole(l.start) + "–" + Whole(l.end) + ".");
    } else {
      set(Verdict::Ready, "Leitura nova.");
    }
  }
}

ImportPreview PreviewTurnstileFile(contracts::TNetConnection& historico, std::string_view bytes) {
  ImportPreview p = ParseTurnstileFile(bytes);
  std::map<std::string, std::pair<rtl::TDateTime, rtl::TDateTime>> periods;
  for (const auto& l : p.lines) {
    if (l.verdict == Verdict::Malformed) continue;
    auto [it, fresh] = periods.emplace(l.branch, std::make_pair(l.day, l.day));
    it->second.first = std::min(it->second.first, l.day);
    it->second.second = std::max(it->second.second, l.day);
  }
  for (const auto& [branch, period] : periods) {
    using A = contracts::args::GetLeiturasCatraca;
    rtl::VariantArray args = contracts::ArgsOf<A>({{A::kFilial, branch},
                                                   {A::kInicio, rtl::Variant::FromDate(period.first)},
                                                   {A::kFim, rtl::Variant::FromDate(period.second)}});
    rtl::Variant r = historico.Call("GetLeiturasCatraca", args);
    if (contracts::ResultSucceeded(r)) {
      JudgeLines(p, branch, r[1]);
      continue;
    }
    for (auto& l : p.lines)
      if (l.branch == branch && l.verdict != Verdict::Malformed) {
        l.verdict = Verdict::Refused;
        l.text = "Filial " + branch + ": " + contracts::ResultMessage(r);
        l.send = false;
      }
  }
  return p;
}

std::string ImportOutcome::summary() const {
  if (sentLines == 0 && refusals.empty()) return "Nada a importar: nenhuma leitura nova ou alterada foi enviada.";
  std::string s = std::to_string(sentLines) + (sentLines == 1 ? " leitura gravada" : " leituras gravadas") + " em " +
                  std::to_string(calls) + (calls == 1 ? " envio." : " envios.");
  if (!refusals.empty()) s += " " + std::to_string(refusals.size()) + " recusado(s): nada foi gravado deles.";
  return s;
}

ImportOutcome SendTurnstileLines(contracts::TNetConnection& medi, ImportPreview& p) {
  ImportOutcome out;
  std::map<std::tuple<std::string, int, std::string>, std::vector<ImportLine*>> groups;
  for (auto& l : p.lines)
    if (l.send) groups[{l.branch, static_cast<int>(l.day), l.service}].push_back(&l);
  for (auto& [key, lines] : groups) {
    const auto& [branch, dayNo, service] = key;
    const rtl::TDateTime day = dayNo;
    const std::string where = "Serviço " + service + " da filial " + branch + " em " + rtl::FormatDateTime("dd/mm/yyyy", day);
    using C = contracts::args::GetEfetCatraca;
    rtl::VariantArray read = contracts::ArgsOf<C>(
        {{C::kFilial, branch}, {C::kData, rtl::Variant::FromDate(day)}, {C::kServico, service}});
    rtl::Variant r = medi.Call("GetEfetCatraca", read);
    if (!contracts::ResultSucceeded(r)) {
      out.refusals.push_back(where + ": " + contracts::ResultMessage(r));
      continue;
    }
    data::TClientDataSet ds("cdsEfetCat");
    ds.SetData(r[1]);
    std::string stale;
    for (ImportLine* l : lines) {
      if (!ds.Locate("CDCATRACA", rtl::Variant(l->turnstile))) {
        stale = "catraca " + l->turnstile + " não é mais do serviço.";
        break;
      }
      const data::TField& ini = ds.FieldByName("QTEFETCATINI");
      const data::TField& fim = ds.FieldByName("QTEFETCATFIM");
      std::optional<double> nowStart, nowEnd;
      if (!ini.IsNull()) nowStart = ini.AsFloat();
      if (!fim.IsNull()) nowEnd = fim.AsFloat();
      if (nowStart != l->storedStart || nowEnd != l->storedEnd) {
        stale = "a leitura da catraca " + l->turnstile + " foi alterada por outro usuário depois da prévia.";
        break;
      }
      ds.Edit();
      ds.FieldByName("QTEFETCATINI").SetAsFloat(l->start);
      ds.FieldByName("QTEFETCATFIM").SetAsFloat(l->end);
      ds.FieldByName("QTEFETCATTOT").SetAsFloat(l->end - l->start);
      ds.FieldByName("CDFILIAL").SetAsString(branch);
      ds.FieldByName("CDSERVFILI").SetAsString(service);
      ds.FieldByName("DTEFETCAT").SetAsDateTime(day);
      ds.Post();
    }
    if (!stale.empty()) {
      out.refusals.push_back(where + ": " + stale + " Refaça a prévia.");
      continue;
    }
    rtl::VariantArray args = contracts::ArgsOf<contracts::args::SetEfetCat>({{contracts::args::SetEfetCat::kDelta, ds.Delta()}});
    rtl::Variant w = medi.Call("SetEfetCat", args);
    ++out.calls;
    if (!contracts::ResultSucceeded(w)) {
      out.refusals.push_back(where + ": " + contracts::ResultMessage(w));
      continue;
    }
    out.sentLines += static_cast<int>(lines.size());
    for (ImportLine* l : lines) {
      l->storedStart = l->start;
      l->storedEnd = l->end;
      l->verdict = Verdict::Unchanged;
      l->text = "Gravada.";
      l->send = false;
    }
  }
  return out;
}

}  // namespace additions
