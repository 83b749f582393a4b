// TField: typed reads and writes of the current row's values, and their texts.

#include "dataset_impl.h"

namespace data {


TField::TField(TClientDataSet& owner, TFieldDef def, TFieldKind kind) : owner_(&owner), def_(std::move(def)), kind_(kind) {
  if (def_.DataType == TFieldType::String && def_.Size <= 0) def_.Size = 20;
  Required = def_.Required;
}

int TField::Size() const { return def_.DataType == TFieldType::String ? (def_.Size > 0 ? def_.Size : 20) : 0; }

Variant TField::Value() const { return owner_->impl().value(*this); }
void TField::SetValue(const Variant& v) { owner_->impl().setValue(*this, v); }
bool TField::IsNull() const { return owner_->impl().isNull(*this); }
void TField::Clear() { SetValue(Variant::Null()); }
Variant TField::OldValue() const { return owner_->impl().oldValue(*this); }

std::string TField::AsString() const {
  size_t row;
  if (const auto* c = owner_->impl().storedCell(*this, row); c && c->type() == TFieldType::String)
    return c->isNull(row) ? std::string() : std::string(c->str(row));
  Variant v = Value();
  if (v.isNullOrEmpty()) return {};
  switch (def_.DataType) {
    case TFieldType::String: return v.asStringRef();
    case TFieldType::Float: return rtl::FloatToStr(v.toDouble());
    case TFieldType::DateTime: return rtl::DateTimeToStr(v.toDateTime());
    case TFieldType::Integer: return rtl::IntToStr(v.toInt());
    case TFieldType::Boolean: return v.toBool() ? "True" : "False";
  }
  return {};
}

void TField::SetAsString(std::string_view s) {
  switch (def_.DataType) {
    case TFieldType::String: owner_->impl().setText(*this, s); return;
    case TFieldType::Boolean: {
      if (s.empty()) return Clear();
      std::string t = rtl::Trim(s);
      if (rtl::SameText(t, "true") || rtl::SameText(t, "t") || rtl::SameText(t, "yes") || rtl::SameText(t, "y"))
        return SetValue(Variant(true));
      if (rtl::SameText(t, "false") || rtl::SameText(t, "f") || rtl::SameText(t, "no") || rtl::SameText(t, "n"))
        return SetValue(Variant(false));
      throw rtl::EConvertError("'" + std::string(s) + "' is not a valid boolean value for field '" + def_.Name + "'");
    }
    default: break;
  }
  if (rtl::Trim(s).empty()) return Clear();
  switch (def_.DataType) {
    case TFieldType::Float: {
      double d;
      if (!rtl::TryStrToFloat(rtl::Trim(s), d))
        throw rtl::EConvertError("'" + std::string(s) + "' is not a valid floating point value for field '" + def_.Name + "'");
      SetValue(Variant(d));
      return;
    }
    case TFieldType::Integer: {
      long long i;
      if (!rtl::TryStrToInt(rtl::Trim(s), i))
        throw rtl::EConvertError("'" + std::string(s) + "' is not a valid integer value for field '" + def_.Name + "'");
      SetValue(Variant(i));
      return;
    }
    case TFieldType::DateTime: {
      TDateTime d;
      if (!rtl::TryStrToDateTime(rtl::Trim(s), d, rtl::FormatSettings()))
        throw rtl::EConvertError("'" + std::string(s) + "' is not a valid date and time for field '" + def_.Name + "'");
      SetValue(Variant::FromDate(d));
      return;
    }
    default: return;
  }
}

double TField::AsFloat() const {
  // Browsing is the commonest read (walks that sum a column): kept to the fewest loads.
  const auto& im = owner_->impl();
  if (col_ >= 0 && im.state == TDataSetState::Browse && im.ctxRow < 0 && !im.view.empty()) {
    const auto& c = im.cols[static_cast<size_t>(col_)];
    double d;
    if (c.numOrNull(static_cast<size_t>(im.view[static_cast<size_t>(im.cur)]), d)) return d;
  }
  size_t row;
  if (const auto* c = owner_->impl().storedCell(*this, row)) {
    double d;
    if (c->numOrNull(row, d)) return d;
    if (c->isNull(row)) return 0.0;
    if (c->type() == TFieldType::Integer) return static_cast<double>(c->integer(row));
  }
  Variant v = Value();
  return v.isNullOrEmpty() ? 0.0 : v.toDouble();
}
void TField::SetAsFloat(double d) {
  if (def_.DataType == TFieldType::String) return SetValue(Variant(rtl::FloatToStr(d)));
  if (def_.DataType == TFieldType::DateTime) return SetValue(Variant::FromDate(d));
  SetValue(Variant(d));
}
int64_t TField::AsInteger() const {
  Variant v = Value();
  return v.isNullOrEmpty() ? 0 : v.toInt();
}
void TField::SetAsInteger(int64_t i) {
  if (def_.DataType == TFieldType::String) return SetValue(Variant(rtl::IntToStr(i)));
  SetValue(Variant(static_cast<long long>(i)));
}
TDateTime TField::AsDateTime() const {
  Variant v = Value();
  return v.isNullOrEmpty() ? 0.0 : v.toDateTime();
}
void TField::SetAsDateTime(TDateTime d) {
  if (def_.DataType == TFieldType::String) return SetValue(Variant(rtl::DateTimeToStr(d)));
  SetValue(Variant::FromDate(d));
}
bool TField::AsBoolean() const {
  Variant v = Value();
  return v.isNullOrEmpty() ? false : v.toBool();
}
void TField::SetAsBoolean(bool b) {
  if (def_.DataType == TFieldType::String) return SetValue(Variant(b ? "True" : "False"));
  SetValue(Variant(b));
}

namespace {
std::string defaultText(const TField& f, bool display) {
  Variant v = f.Value();
  if (v.isNullOrEmpty()) return {};
  const std::string& fmt = (display || f.EditFormat.empty()) ? f.DisplayFormat : f.EditFormat;
  switch (f.DataType()) {
    case TFieldType::String:
      if (display && !f.EditMask.empty()) return rtl::FormatMaskText(f.EditMask, v.asStringRef());
      return v.asStringRef();
    case TFieldType::Float:
      return fmt.empty() ? rtl::FloatToStr(v.toDouble()) : rtl::FormatFloat(fmt, v.toDouble());
    case TFieldType::Integer:
      return fmt.empty() ? rtl::IntToStr(v.toInt()) : rtl::FormatFloat(fmt, static_cast<double>(v.toInt()));
    case TFieldType::DateTime:
      if (display && !f.DisplayFormat.empty()) return rtl::FormatDateTime(f.DisplayFormat, v.toDateTime());
      return rtl::DateTimeToStr(v.toDateTime());
    case TFieldType::Boolean: return v.toBool() ? "True" : "False";
  }
  return {};
}
}  // namespace

std::string TField::DisplayText() const {
  if (OnGetText) {
    std::string text;
    OnGetText(const_cast<TField&>(*this), text, true);
    return text;
  }
  return defaultText(*this, true);
}

std::string TField::Text() const {
  if (OnGetText) {
    std::string text;
    OnGetText(const_cast<TField&>(*this), text, false);
    return text;
  }
  return defaultText(*this, false);
}

void TField::SetText(std::string_view text) {
  if (OnSetText) return OnSetText(*this, text);
  SetAsString(text);
}


}  // namespace data
