#include "server/datasets.h"

#include <stdexcept>

#include "platform/db/connection.h"

namespace server::sets {

namespace {

using data::TFieldDef;
using data::TFieldType;

TFieldDef S(const char* name, int size, bool fixed = false) {
  TFieldDef d;
  d.Name = name;
  d.DataType = TFieldType::String;
  d.Size = size;
  d.FixedChar = fixed;
  return d;
}
TFieldDef F(const char* name) {
  TFieldDef d;
  d.Name = name;
  d.DataType = TFieldType::Float;
  return d;
}
TFieldDef D(const char* name) {
  TFieldDef d;
  d.Name = name;
  d.DataType = TFieldType::DateTime;
  return d;
}

}  // namespace

const Defs& ParamGeral() {
  static const Defs d{S("IDCONSMINEFE", 1), S("IDBLOQEFET", 1)};
  return d;
}
const Defs& ParamPlaneja() {
  static const Defs d{S("IDBLQEFEDIAFECH", 1), S("IDPERLEFESRETPLA", 1), F("NRDIAANTDTPROC"), S("IDPEREFEPOSDTPR", 1)};
  return d;
}
const Defs& ParamFilal() {
  static const Defs d{S("IDUTEFETPLA", 1), S("IDCOPALTEFEPLA", 1)};
  return d;
}
const Defs& CardaDia() {
  static const Defs d{S("CDSERVFILI", 5),  S("NMSERVICO", 40),   F("QTCLIEFETCAR"), F("QTFUNEFETCAR"),
                      F("QTDOAEFETCAR"),   F("QTCOMEFETCAR"),    F("QTCOMESTICAR"), F("QTCLIESTICAR"),
                      F("QTFUNESTICAR"),   F("QTDOAESTICAR"),    F("QTCOMEFETRI"),  F("QTCOMEFETSL"),
                      D("DTCARDAPIO"),     S("CDFILIAL", 4),     S("CDOPERADOR", 3), S("NRCARDAPIO", 10),
                      D("DTMESCARD"),      D("DTPROCES")};
  return d;
}
const Defs& DtCardapio() {
  static const Defs d{D("DTORDENA"), S("DTCARDAPIO", 15)};
  return d;
}
const Defs& CompCardAux() {
  static const Defs d{S("NMTIPOPRAT", 15), F("QTCOMEFETPRA"), F("QTPRODUZPRAT"),
                      S("CDTIPOPRAT", 2),  S("CDFILIAL", 4),  S("NRCARDAPIO", 10)};
  return d;
}
const Defs& PratoCard() {
  static const Defs d{S("CDFILIAL", 4),     S("NRCARDAPIO", 10), S("CDTIPOPRAT", 2),  F("NRSEQPRATCAR"),
                      F("NRORDPRATCAR"),    S("CDFILAUXPRAT", 4), S("CDPRATO", 10),  F("VRPECONSCARD"),
                      S("NMPRATO", 40),     F("QTCOMEFETPRA"),   F("QTPRODUZPRAT")};
  return d;
}
const Defs& ComensaisCard() {
  static const Defs d{S("CDFILIAL", 4),   S("CDSERVFILI", 5),  D("DTCARDAPIO"), F("QTCLIEFETCAR"),
                      F("QTFUNEFETCAR"),  F("QTDOAEFETCAR"),   S("NMSERVICO", 40)};
  return d;
}
const Defs& ComensaisEfet() {
  static const Defs d{S("CDFILIAL", 4),  S("CDSERVPLAN", 5), D("DTEFETCLIE"),     F("QTCOMEFETCLI"),
                      F("QTFUNEFETCLI"), F("QTDOAEFETCLI"),  S("NMSERVICO", 40)};
  return d;
}
const Defs& ExistsCliente() {
  static const Defs d{S("CDCLIENTE", 21), S("CDSERVFILI", 5), S("CDFILIAL", 4)};
  return d;
}
const Defs& VdFaturados() {
  static const Defs d{S("CDFILIAL", 4), S("CDSERVPLAN", 5), D("DTEFETCLIE"), S("NMSERVICO", 40)};
  return d;
}
const Defs& ServFatu() {
  static const Defs d{S("CDFILIAL", 4),  S("CDSERVFILI", 5),  D("DTCARDAPIO"),       S("CDSERVICFATURAM", 5),
                      S("NMSERVICO", 40), F("QTCOMEFETCLI"), S("IDVLRVARDATA", 1, true)};
  return d;
}
const Defs& ServCli() {
  static const Defs d{S("CDFILIAL", 4),       S("CDSERVFILI", 5),    S("CDCLIENTE", 21),       S("NMRAZSOCCLIE", 50),
                      S("NMFANTCLIE", 100),   F("QTCOMEFETCLI"),     F("VRSERVFATUEFCLI"),     D("DTEFETCLIE"),
                      S("CDSERVPLAN", 5, true), S("NRAPURACFAT", 10), S("IDTPIJURCLIE", 1),     S("NRINSJURCLIE", 20),
                      F("QTVENDAEFETCLI")};
  return d;
}
const Defs& VdCliFat() {
  static const Defs d{S("CDFILIAL", 4), S("CDCLIENTE", 21), S("NRAPURACFAT", 10), D("DTINIAPURAC"), D("DTFIMAPURAC")};
  return d;
}
const Defs& ItemRat() {
  static const Defs d{F("NRITEMRATEIOEFET"), S("CDITEMRATEIOEFET", 5), S("NMITEMRATEIOEFET", 50)};
  return d;
}
const Defs& ItRatEfet() {
  static const Defs d{F("NRITRATEFETCLIE"),  S("CDFILIAL", 4),         S("CDSERVFILI", 5),       S("CDCLIENTE", 21),
                      D("DTEFETCLIE"),       S("CDSERVPLAN", 5),       F("NRITEMRATEIOEFET"),    S("CDITEMRATEIOEFET", 5),
                      S("NMITEMRATEIOEFET", 50), F("QTEFETIVOS")};
  return d;
}
const Defs& EfetCat() {
  static const Defs d{S("CDCATRACA", 10), S("DSCATRACA", 40),  S("CDFILIAL", 4),     S("CDSERVFILI", 5),
                      D("DTEFETCAT"),     F("QTEFETCATINI"),   F("QTEFETCATFIM"),    F("QTEFETCATTOT")};
  return d;
}
const Defs& TurnoCliente() {
  static const Defs d{S("CDFILIAL", 4), S("CDSERVFILI", 5), D("DTFATTURNO"),    S("CDCLIENTE", 21),
                      S("CDTURNO", 1),  S("NMTURNO", 10),   F("QTCOMTURNCLI")};
  return d;
}
const Defs& Retirada() {
  static const Defs d{F("CARDAPIO")};
  return d;
}
const Defs& VerifRetirada() {
  static const Defs d{S("CDSERVFILI", 5), F("QTCOMEFETCAR")};
  return d;
}
const Defs& VerifApurac() {
  static const Defs d{D("DTEFETCLIE")};
  return d;
}
const Defs& EfetPlan() {
  static const Defs d{D("DTCARDAPIO"), F("QTCLIEFETCAR")};
  return d;
}
const Defs& EfetClie() {
  static const Defs d{S("CDCLIENTE", 21), S("NMRAZSOCCLIE", 50), F("TOTALEFET")};
  return d;
}
const Defs& ConsolAux() {
  static const Defs d{D("DTCARDAPIO"), S("CDCLIENTE", 21), S("NMRAZSOCCLIE", 50), F("QTEFETFAT")};
  return d;
}

namespace {
// SQLite gives computed columns no declared type: a date may come back as its
// ISO text, a code as a number.
rtl::Variant Normalised(const data::TFieldDef& def, const rtl::Variant& v) {
  if (def.DataType == TFieldType::DateTime && v.isString()) {
    rtl::TDateTime d;
    if (db::ParseIsoDateTime(v.asStringRef(), d)) return rtl::Variant::FromDate(d);
  }
  if (def.DataType == TFieldType::String && v.isNumeric()) return rtl::Variant(v.toString());
  if (def.DataType == TFieldType::Float && v.type() == rtl::VarType::Boolean) return rtl::Variant(v.toBool() ? 1.0 : 0.0);
  return v;
}
}  // namespace

std::vector<std::vector<rtl::Variant>> RowsOf(const Defs& defs, const db::Result& r) {
  std::vector<int> col(defs.size());
  for (size_t i = 0; i < defs.size(); ++i) col[i] = r.columnIndex(defs[i].Name);
  std::vector<std::vector<rtl::Variant>> rows;
  rows.reserve(r.rows.size());
  for (const auto& row : r.rows) {
    std::vector<rtl::Variant> values(defs.size());
    for (size_t i = 0; i < defs.size(); ++i) values[i] = col[i] < 0 ? rtl::Variant::Null() : Normalised(defs[i], row[col[i]]);
    rows.push_back(std::move(values));
  }
  return rows;
}

rtl::DataPacket FromResult(const Defs& defs, const db::Result& r) { return FromRows(defs, RowsOf(defs, r)); }

size_t Col(const Defs& defs, const std::string& name) {
  for (size_t i = 0; i < defs.size(); ++i)
    if (db::EqualsIgnoreCase(defs[i].Name, name)) return i;
  throw std::logic_error("field " + name + " not in the data set");
}

rtl::DataPacket FromRows(const Defs& defs, const std::vector<std::vector<rtl::Variant>>& rows) {
  data::PacketWriter w(defs);
  for (const auto& row : rows) w.AddRow(row);
  return w.Finish();
}

}  // namespace server::sets
