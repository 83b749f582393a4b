#include "query.h"

#include <charconv>

#include "platform/data/controls_off.h"
#include "platform/rtl/text.h"

namespace db {

using data::TField;
using data::TFieldType;
using rtl::Variant;

TdtmDBGeral dtmDBGeral;

void TdtmDBGeral::Configure(std::string_view connectionString) {
  conn_.reset();
  conn_ = Open(connectionString);
}

void TdtmDBGeral::SetConnection(std::unique_ptr<Connection> c) { conn_ = std::move(c); }

void TdtmDBGeral::Disconnect() { conn_.reset(); }

Connection& TdtmDBGeral::Conn() const {
  if (!conn_) throw DbError(ErrorKind::Usage, "The branch database connection has not been configured");
  return *conn_;
}

// ---- TSQLStrings

std::string TSQLStrings::Text() const {
  std::string out;
  for (const auto& l : lines_) {
    out += l;
    out += '\n';
  }
  return out;
}

void TSQLStrings::SetText(std::string_view text) {
  lines_.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.emplace_back(line);
    start = end + 1;
  }
}

bool TSQLStrings::IsBlank() const {
  for (const auto& l : lines_)
    if (l.find_first_not_of(" \t\r") != std::string::npos) return false;
  return true;
}

// ---- TADOIBQuery

TADOIBQuery::TADOIBQuery(std::string name) : data::TClientDataSet(std::move(name)) {}

Connection& TADOIBQuery::Conn() const { return conn_ ? *conn_ : dtmDBGeral.Conn(); }

std::string TADOIBQuery::TextFor(Dialect d) const {
  // Both dialects served here read the generic text first.
  if (!SQL.IsBlank()) return SQL.Text();
  if (!SQL_IB.IsBlank()) return SQL_IB.Text();
  throw rtl::EDatabaseError(Name + ": no SQL text for the " + DialectName(d) + " database");
}

std::vector<std::string> TADOIBQuery::ParamNames() const {
  std::vector<std::string> names;
  for (const TSQLStrings* text : {&SQL, &SQL_ORACLE, &SQL_MSSQL, &SQL_IB})
    for (auto& n : db::ParamNames(text->Text())) {
      bool known = false;
      for (const auto& k : names) known = known || EqualsIgnoreCase(k, n);
      if (!known) names.push_back(n);
    }
  return names;
}

// Parameters follow the texts: a name no text holds any longer is dropped, and
// a value survives a change of text that keeps its name.
void TADOIBQuery::syncParams() {
  std::vector<std::string> names = ParamNames();
  std::vector<std::unique_ptr<TADOParameter>> next;
  for (const auto& n : names) {
    std::unique_ptr<TADOParameter> p;
    for (auto& old : params_)
      if (old && EqualsIgnoreCase(old->Name(), n)) p = std::move(old);
    next.push_back(p ? std::move(p) : std::make_unique<TADOParameter>(n));
  }
  params_ = std::move(next);
}

TADOParameter* TADOIBQuery::FindParam(std::string_view name) {
  if (!name.empty() && name.front() == ':') name.remove_prefix(1);
  syncParams();
  for (auto& p : params_)
    if (EqualsIgnoreCase(p->Name(), name)) return p.get();
  return nullptr;
}

TADOParameter& TADOIBQuery::ParamByName(std::string_view name) {
  TADOParameter* p = FindParam(name);
  if (!p) throw rtl::EDatabaseError(Name + ": Parameter '" + std::string(name) + "' not found");
  return *p;
}

namespace {

// A result value in the form the field's type expects. Texts are read in the
// database's own notation (ISO dates, '.' decimals), never the user's locale.
Variant coerce(const Variant& v, TFieldType t) {
  if (v.isNullOrEmpty()) return Variant::Null();
  switch (t) {
    case TFieldType::String:
      if (v.isString()) return v;
      if (v.type() == rtl::VarType::DateTime) return Variant(FormatIsoDateTime(v.toDateTime()));
      if (v.isPacket()) return Variant(v.asPacket().bytes());
      return Variant(v.toString());
    case TFieldType::Float:
    case TFieldType::Integer:
      if (v.isString()) {
        const std::string& s = v.asStringRef();
        double d;
        auto r = std::from_chars(s.data(), s.data() + s.size(), d);
        if (r.ec == std::errc() && r.ptr == s.data() + s.size()) return Variant(d);
      }
      return v;
    case TFieldType::DateTime:
      if (v.isString()) {
        rtl::TDateTime d;
        if (ParseIsoDateTime(v.asStringRef(), d)) return Variant::FromDate(d);
      }
      return v;
    case TFieldType::Boolean:
      if (v.type() == rtl::VarType::Integer) return Variant(v.toInt() != 0);
      return v;
  }
  return v;
}

TFieldType fieldType(ColumnType c) {
  switch (c) {
    case ColumnType::Integer:
      return TFieldType::Integer;
    case ColumnType::Float:
      return TFieldType::Float;
    case ColumnType::Boolean:
      return TFieldType::Boolean;
    case ColumnType::DateTime:
      return TFieldType::DateTime;
    default:
      return TFieldType::String;
  }
}

}  // namespace

void TADOIBQuery::Open() {
  if (Active()) return;
  Connection& c = Conn();
  std::string sql = TextFor(c.dialect());
  syncParams();
  Params values;
  for (const auto& name : db::ParamNames(sql)) {
    TADOParameter* p = FindParam(name);
    values.set(name, p && !p->Value().isEmpty() ? p->Value() : Variant::Null());
  }
  // The query runs before the data set changes: a failure leaves it closed.
  Result r = c.query(sql, values);

  if (FieldCount() == 0 || madeFields_) {
    madeFields_ = true;
    auto& defs = FieldDefs();
    defs.clear();
    for (size_t i = 0; i < r.columns.size(); ++i) {
      data::TFieldDef def;
      def.Name = r.columns[i].name;
      def.DataType = fieldType(r.columns[i].type);
      if (def.DataType == TFieldType::String) {
        size_t longest = 1;
        for (const auto& row : r.rows)
          if (row[i].isString()) longest = std::max(longest, rtl::Utf8Length(row[i].asStringRef()));
        def.Size = static_cast<int>(std::max<size_t>(longest, 20));
      }
      defs.push_back(def);
    }
  }
  CreateDataSet();
  load(r);
}

// Fills the open, empty data set with the result's rows. The rows are the
// database's, not edits: no row event runs, the change log stays empty, and
// read-only or required flags of the declared fields do not get in the way.
void TADOIBQuery::load(const Result& r) {
  struct Saved {
    TField* field;
    int column;
    bool readOnly, required;
    data::TFieldNotifyEvent onChange, onValidate;
  };
  std::vector<Saved> fields;
  for (size_t i = 0; i < FieldCount(); ++i) {
    TField& f = Fields(i);
    if (f.Calculated()) continue;
    int col = r.columnIndex(f.FieldName());
    if (col < 0) continue;
    fields.push_back({&f, col, f.ReadOnly, f.Required, std::move(f.OnChange), std::move(f.OnValidate)});
    f.ReadOnly = false;
    f.Required = false;
    f.OnChange = nullptr;
    f.OnValidate = nullptr;
  }
  data::TDataSetNotifyEvent* events[] = {&BeforeInsert, &AfterInsert, &BeforePost, &AfterPost,
                                         &OnNewRecord,  &BeforeScroll, &AfterScroll};
  std::vector<data::TDataSetNotifyEvent> savedEvents;
  for (auto* e : events) {
    savedEvents.push_back(std::move(*e));
    *e = nullptr;
  }
  bool logChanges = LogChanges;
  LogChanges = false;
  auto restore = [&] {
    LogChanges = logChanges;
    for (size_t i = 0; i < std::size(events); ++i) *events[i] = std::move(savedEvents[i]);
    for (auto& s : fields) {
      s.field->ReadOnly = s.readOnly;
      s.field->Required = s.required;
      s.field->OnChange = std::move(s.onChange);
      s.field->OnValidate = std::move(s.onValidate);
    }
  };

  data::ControlsOff off(*this);
  try {
    for (const auto& row : r.rows) {
      Append();
      for (auto& s : fields) {
        Variant v = coerce(row[static_cast<size_t>(s.column)], s.field->DataType());
        if (!v.isNull()) s.field->SetValue(v);
      }
      Post();
    }
    if (ChangeCount() > 0) MergeChangeLog();
  } catch (...) {
    // Leave the data set closed rather than half loaded.
    restore();
    try {
      Cancel();
      TClientDataSet::Close();
    } catch (...) {
    }
    throw;
  }
  restore();
  First();
}

void TADOIBQuery::Close() { TClientDataSet::Close(); }

}  // namespace db
