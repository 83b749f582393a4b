#include "variant.h"

#include <cmath>
#include <cstdio>

#include "exceptions.h"
#include "format.h"

namespace rtl {

const std::string& DataPacket::bytes() const {
  static const std::string empty;
  return bytes_ ? *bytes_ : empty;
}

namespace {
[[noreturn]] void badConvert(const Variant& v, const char* to) {
  throw EConvertError("Could not convert variant of type (" + v.debugString() + ") into type (" + to + ")");
}
}  // namespace

std::string Variant::toString() const {
  switch (type()) {
    case VarType::Empty:
    case VarType::Null:
      return {};
    case VarType::String:
      return std::get<std::string>(v_);
    case VarType::Integer:
      return IntToStr(std::get<int64_t>(v_));
    case VarType::Double:
      return FloatToStr(std::get<double>(v_));
    case VarType::Boolean:
      return std::get<bool>(v_) ? "True" : "False";
    case VarType::DateTime:
      return DateTimeToStr(std::get<DateTag>(v_).value);
    case VarType::Array:
    case VarType::Packet:
      break;
  }
  badConvert(*this, "String");
}

double Variant::toDouble() const {
  switch (type()) {
    case VarType::Empty:
      return 0.0;
    case VarType::String: {
      double d;
      if (!TryStrToFloat(std::get<std::string>(v_), d))
        throw EConvertError("'" + std::get<std::string>(v_) + "' is not a valid floating point value");
      return d;
    }
    case VarType::Integer:
      return static_cast<double>(std::get<int64_t>(v_));
    case VarType::Double:
      return std::get<double>(v_);
    case VarType::Boolean:
      return std::get<bool>(v_) ? -1.0 : 0.0;  // the platform's True is -1
    case VarType::DateTime:
      return std::get<DateTag>(v_).value;
    default:
      break;
  }
  badConvert(*this, "Double");
}

int64_t Variant::toInt() const {
  switch (type()) {
    case VarType::Integer:
      return std::get<int64_t>(v_);
    case VarType::String: {
      long long i;
      if (TryStrToInt(std::get<std::string>(v_), i)) return i;
      return Round(toDouble());
    }
    default:
      return Round(toDouble());
  }
}

bool Variant::toBool() const {
  switch (type()) {
    case VarType::Empty:
      return false;
    case VarType::Boolean:
      return std::get<bool>(v_);
    case VarType::Integer:
      return std::get<int64_t>(v_) != 0;
    case VarType::Double:
      return std::get<double>(v_) != 0.0;
    case VarType::String: {
      const auto& s = std::get<std::string>(v_);
      if (SameText(s, "true")) return true;
      if (SameText(s, "false")) return false;
      double d;
      if (TryStrToFloat(s, d)) return d != 0.0;
      throw EConvertError("'" + s + "' is not a valid boolean value");
    }
    default:
      break;
  }
  badConvert(*this, "Boolean");
}

TDateTime Variant::toDateTime() const {
  switch (type()) {
    case VarType::Empty:
      return 0.0;
    case VarType::DateTime:
      return std::get<DateTag>(v_).value;
    case VarType::Integer:
    case VarType::Double:
      return toDouble();
    case VarType::String: {
      TDateTime d;
      if (TryStrToDateTime(std::get<std::string>(v_), d, FormatSettings())) return d;
      throw EConvertError("'" + std::get<std::string>(v_) + "' is not a valid date");
    }
    default:
      break;
  }
  badConvert(*this, "Date");
}

const std::string& Variant::asStringRef() const {
  if (type() != VarType::String) badConvert(*this, "String");
  return std::get<std::string>(v_);
}

const VariantArray& Variant::asArray() const {
  if (type() != VarType::Array) badConvert(*this, "Array");
  return *std::get<std::shared_ptr<VariantArray>>(v_);
}

VariantArray& Variant::asArray() {
  if (type() != VarType::Array) badConvert(*this, "Array");
  auto& p = std::get<std::shared_ptr<VariantArray>>(v_);
  if (p.use_count() > 1) p = std::make_shared<VariantArray>(*p);
  return *p;
}

const DataPacket& Variant::asPacket() const {
  if (type() != VarType::Packet) badConvert(*this, "Packet");
  return std::get<DataPacket>(v_);
}

size_t Variant::size() const { return isArray() ? asArray().size() : 0; }

const Variant& Variant::operator[](size_t i) const {
  const auto& a = asArray();
  if (i >= a.size()) throw EConvertError("Variant array index out of bounds");
  return a[i];
}

Variant& Variant::operator[](size_t i) {
  auto& a = asArray();
  if (i >= a.size()) throw EConvertError("Variant array index out of bounds");
  return a[i];
}

bool Variant::operator==(const Variant& o) const {
  if (isNumeric() && o.isNumeric()) return toDouble() == o.toDouble();
  if (type() != o.type()) return false;
  switch (type()) {
    case VarType::Empty:
    case VarType::Null:
      return true;
    case VarType::String:
      return std::get<std::string>(v_) == std::get<std::string>(o.v_);
    case VarType::Boolean:
      return std::get<bool>(v_) == std::get<bool>(o.v_);
    case VarType::DateTime:
      return std::get<DateTag>(v_).value == std::get<DateTag>(o.v_).value;
    case VarType::Array:
      return asArray() == o.asArray();
    case VarType::Packet:
      return asPacket() == o.asPacket();
    default:
      return false;
  }
}

std::string Variant::debugString() const {
  switch (type()) {
    case VarType::Empty:
      return "Empty";
    case VarType::Null:
      return "Null";
    case VarType::String:
      return "String '" + std::get<std::string>(v_) + "'";
    case VarType::Integer:
      return "Integer " + std::to_string(std::get<int64_t>(v_));
    case VarType::Double: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", std::get<double>(v_));
      return std::string("Double ") + buf;
    }
    case VarType::Boolean:
      return std::get<bool>(v_) ? "Boolean True" : "Boolean False";
    case VarType::DateTime: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", std::get<DateTag>(v_).value);
      return std::string("Date ") + buf;
    }
    case VarType::Array: {
      std::string s = "Array [";
      const auto& a = asArray();
      for (size_t i = 0; i < a.size(); ++i) s += (i ? ", " : "") + a[i].debugString();
      return s + "]";
    }
    case VarType::Packet:
      return "Packet (" + std::to_string(asPacket().bytes().size()) + " bytes)";
  }
  return "?";
}

}  // namespace rtl
