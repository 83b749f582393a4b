#include "additions/history.h"

#include "contracts/arguments.h"
#include "contracts/result.h"
#include "platform/rtl/format.h"

namespace additions {

rtl::Variant RowPairs(const data::TClientDataSet& ds) {
  rtl::VariantArray pairs;
  for (size_t i = 0; i < ds.FieldCount(); ++i) {
    const data::TField& f = ds.Fields(i);
    if (f.Calculated()) continue;
    pairs.push_back(rtl::Variant(f.FieldName()));
    pairs.push_back(f.IsNull() ? rtl::Variant::Null() : f.Value());
  }
  return rtl::Variant(pairs);
}

std::string AsFieldShows(const data::TField& field, const std::string& stored) {
  if (stored.empty()) return "(vazio)";
  if (field.DataType() != data::TFieldType::Float) return stored;
  double v;
  if (!rtl::TryStrToFloat(stored, v)) return stored;
  return field.DisplayFormat.empty() ? rtl::FloatToStr(v) : rtl::FormatFloat(field.DisplayFormat, v);
}

std::vector<HistoryEntry> ReadHistory(contracts::TNetConnection& historico, const data::TClientDataSet& ds,
                                      const std::string& field, const std::string& fallbackBranch) {
  const data::TField* branchField = ds.FindField("CDFILIAL");
  std::string branch = branchField && !branchField->IsNull() ? branchField->AsString() : fallbackBranch;
  const data::TField& f = ds.FieldByName(field);
  using A = contracts::args::GetHistorico;
  rtl::VariantArray args = contracts::ArgsOf<A>(
      {{A::kFilial, branch}, {A::kDataSet, ds.Name}, {A::kCampo, f.FieldName()}, {A::kLinha, RowPairs(ds)}});
  rtl::Variant r = historico.Call("GetHistorico", args);
  if (!contracts::ResultSucceeded(r)) throw rtl::Exception(contracts::ResultMessage(r));
  data::TClientDataSet rows;
  rows.SetData(r[1]);
  std::vector<HistoryEntry> out;
  for (rows.First(); !rows.Eof(); rows.Next()) {
    HistoryEntry e;
    e.when = rows.FieldByName("DTHRAUDIT").AsDateTime();
    e.operatorCode = rows.FieldByName("CDOPERADOR").AsString();
    e.operatorName = rows.FieldByName("NMOPERADOR").AsString();
    e.before = AsFieldShows(f, rows.FieldByName("VRANTERIOR").AsString());
    e.after = AsFieldShows(f, rows.FieldByName("VRNOVO").AsString());
    e.method = rows.FieldByName("NMMETODO").AsString();
    out.push_back(std::move(e));
  }
  return out;
}

std::string HistoryLine(const HistoryEntry& e) {
  std::string s = rtl::FormatDateTime("dd/mm/yyyy hh:nn:ss", e.when) + "  " + e.operatorCode;
  if (!e.operatorName.empty()) s += " " + e.operatorName;
  s += "  " + e.before + " \u2192 " + e.after;
  s += "  (" + (e.method.empty() ? std::string("método não registrado") : e.method) + ")";
  return s;
}

}  // namespace additions
