#include "net/wire.h"

#include <sodium.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include <simdjson.h>

namespace net {

namespace od = simdjson::ondemand;
using rtl::Variant;
using rtl::VariantArray;
using rtl::VarType;

namespace {

// A packet's own JSON may nest deeper than Variants do; this is its ceiling.
constexpr size_t kPacketMaxDepth = simdjson::DEFAULT_MAX_DEPTH;

// ---------------------------------------------------------------- encoding

void appendEscaped(std::string& out, std::string_view s) {
  static const char hex[] = "0123456789abcdef";
  out.push_back('"');
  size_t run = 0;  // copy unescaped runs in one go
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(s.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        out += "\\u00";
        out.push_back(hex[c >> 4]);
        out.push_back(hex[c & 15]);
    }
  }
  out.append(s.data() + run, s.size() - run);
  out.push_back('"');
}

void appendBase64(std::string& out, std::string_view bytes) {
  size_t len = sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL);
  std::string b64(len, '\0');
  sodium_bin2base64(b64.data(), len, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  b64.resize(len - 1);  // the terminating NUL
  out.push_back('"');
  out += b64;
  out.push_back('"');
}

void appendBits(std::string& out, double d) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(std::bit_cast<uint64_t>(d)));
  out.push_back('"');
  out.append(buf, 16);
  out.push_back('"');
}

// Shortest text that reads back to the same bits; always marked as a double.
void appendFinite(std::string& out, double d) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  std::string_view t(buf, static_cast<size_t>(end - buf));
  out += t;
  if (t.find_first_of(".e") == std::string_view::npos) out += ".0";
}

bool isRawJsonPacket(const std::string& bytes) {
  if (bytes.empty()) return false;
  char first = bytes.front(), last = bytes.back();
  if (!((first == '{' && last == '}') || (first == '[' && last == ']'))) return false;
  thread_local simdjson::dom::parser parser;  // its default depth is kPacketMaxDepth
  simdjson::dom::element doc;
  return parser.parse(bytes).get(doc) == simdjson::SUCCESS;
}

void encode(const Variant& v, std::string& out) {
  switch (v.type()) {
    case VarType::Empty:
      out += "{\"$e\":1}";
      return;
    case VarType::Null:
      out += "null";
      return;
    case VarType::String: {
      const std::string& s = v.asStringRef();
      if (simdjson::validate_utf8(s.data(), s.size())) {
        appendEscaped(out, s);
      } else {
        out += "{\"$b64\":";
        appendBase64(out, s);
        out += '}';
      }
      return;
    }
    case VarType::Integer: {
      char buf[24];
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v.toInt());
      out.append(buf, end);
      return;
    }
    case VarType::Double: {
      double d = v.toDouble();
      if (std::isfinite(d)) {
        appendFinite(out, d);
      } else {
        out += "{\"$f64\":";
        appendBits(out, d);
        out += '}';
      }
      return;
    }
    case VarType::Boolean:
      out += v.toBool() ? "true" : "false";
      return;
    case VarType::DateTime: {
      double d = v.toDateTime();
      if (std::isfinite(d)) {
        out += "{\"$dt\":";
        appendFinite(out, d);
      } else {
        out += "{\"$dtbits\":";
        appendBits(out, d);
      }
      out += '}';
      return;
    }
    case VarType::Array: {
      out.push_back('[');
      bool first = true;
      for (const Variant& item : v.asArray()) {
        if (!first) out.push_back(',');
        first = false;
        encode(item, out);
      }
      out.push_back(']');
      return;
    }
    case VarType::Packet: {
      const std::string& bytes = v.asPacket().bytes();
      if (isRawJsonPacket(bytes)) {
        out += "{\"$pkt\":";
        out += bytes;
      } else {
        out += "{\"$pkt64\":";
        appendBase64(out, bytes);
      }
      out += '}';
      return;
    }
  }
}

// ---------------------------------------------------------------- decoding

[[noreturn]] void fail(const std::string& why) { throw WireError("Mensagem mal formada: " + why + "."); }

void check(simdjson::error_code ec) {
  if (ec != simdjson::SUCCESS) fail(std::string("JSON inválido (") + simdjson::error_message(ec) + ")");
}

template <class T>
T get(simdjson::simdjson_result<T>&& r) {
  T value{};
  check(std::move(r).get(value));
  return value;
}

std::string fromBase64(std::string_view b64) {
  std::string bytes(b64.size() / 4 * 3 + 3, '\0');
  size_t len = 0;
  const char* end = nullptr;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), b64.data(), b64.size(),
                        nullptr, &len, &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != b64.data() + b64.size())
    fail("base64 inválido");
  bytes.resize(len);
  return bytes;
}

double fromBits(std::string_view hex) {
  uint64_t bits = 0;
  auto [p, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), bits, 16);
  if (hex.size() != 16 || ec != std::errc() || p != hex.data() + hex.size()) fail("bits de número inválidos");
  return std::bit_cast<double>(bits);
}

std::string_view trimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\r' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

class Decoder {
public:
  explicit Decoder(const WireLimits& limits) : limits_(limits) {}

  Variant value(od::value v, size_t depth) {
    if (++count_ > limits_.maxValues)
      fail("valores demais (limite de " + std::to_string(limits_.maxValues) + ")");
    switch (get(v.type())) {
      case od::json_type::null:
        if (!get(v.is_null())) fail("valor inválido");
        return Variant::Null();
      case od::json_type::boolean:
        return Variant(get(v.get_bool()));
      case od::json_type::string:
        return Variant(std::string(get(v.get_string())));
      case od::json_type::number:
        return number(v);
      case od::json_type::array: {
        if (depth >= limits_.maxDepth)
          fail("aninhamento profundo demais (limite de " + std::to_string(limits_.maxDepth) + ")");
        VariantArray items;
        for (auto item : get(v.get_array())) items.push_back(value(get(std::move(item)), depth + 1));
        return Variant(std::move(items));
      }
      case od::json_type::object:
        return tagged(get(v.get_object()));
    }
    fail("valor inválido");
  }

  size_t count() const { return count_; }

private:
  Variant number(od::value& v) {
    switch (get(v.get_number_type())) {
      case od::number_type::signed_integer:
        return Variant(static_cast<long long>(get(v.get_int64())));
      case od::number_type::floating_point_number:
        return Variant(get(v.get_double()));
      default:
        fail("número inteiro fora do intervalo");
    }
  }

  double finite(od::value v) {
    if (get(v.type()) != od::json_type::number) fail("data inválida");
    return get(v.get_double());
  }

  // An object stands for one of the tagged values; it has exactly one member.
  Variant tagged(od::object obj) {
    std::optional<Variant> result;
    for (auto field : obj) {
      if (result) fail("objeto com mais de um membro");
      std::string_view key = get(field.unescaped_key());
      od::value v = get(field.value());
      if (key == "$e") {
        result = Variant();
      } else if (key == "$dt") {
        result = Variant::FromDate(finite(v));
      } else if (key == "$dtbits") {
        result = Variant::FromDate(fromBits(get(v.get_string())));
      } else if (key == "$f64") {
        result = Variant(fromBits(get(v.get_string())));
      } else if (key == "$b64") {
        result = Variant(fromBase64(get(v.get_string())));
      } else if (key == "$pkt64") {
        result = Variant(rtl::DataPacket(fromBase64(get(v.get_string()))));
      } else if (key == "$pkt") {
        std::string_view raw;
        switch (get(v.type())) {
          case od::json_type::object: raw = get(get(v.get_object()).raw_json()); break;
          case od::json_type::array: raw = get(get(v.get_array()).raw_json()); break;
          default: fail("pacote de dados inválido");
        }
        result = Variant(rtl::DataPacket(std::string(trimRight(raw))));
      } else {
        fail("marca desconhecida '" + std::string(key.substr(0, 40)) + "'");
      }
    }
    if (!result) fail("objeto vazio");
    return *result;
  }

  const WireLimits& limits_;
  size_t count_ = 0;
};

// One parser per thread, reused; one that grew for a huge body is dropped
// afterwards so that a worker does not keep that memory.
class ThreadParser {
public:
  ThreadParser(size_t size, size_t maxDepth) {
    auto& p = slot();
    size_t depth = kPacketMaxDepth + maxDepth + 8;
    if (!p) p = std::make_unique<od::parser>();
    if (p->capacity() < size || p->max_depth() < depth) check(p->allocate(std::max(size, p->capacity()), depth));
  }
  ~ThreadParser() {
    auto& p = slot();
    if (p && p->capacity() > kKeepCapacity) p.reset();
  }
  od::parser& operator*() { return *slot(); }

private:
  static constexpr size_t kKeepCapacity = 8u << 20;
  static std::unique_ptr<od::parser>& slot() {
    thread_local std::unique_ptr<od::parser> p;
    return p;
  }
};

void checkEnd(od::document& doc) {
  const char* where = nullptr;
  if (doc.current_location().get(where) == simdjson::SUCCESS) fail("texto após o fim");
}

void checkSize(std::string_view body, const WireLimits& limits) {
  if (body.size() > limits.maxBytes)
    fail("mensagem grande demais (" + std::to_string(body.size()) + " bytes, limite de " +
         std::to_string(limits.maxBytes) + ")");
}

}  // namespace

void EncodeVariant(const Variant& v, std::string& out) { encode(v, out); }

std::string EncodeVariant(const Variant& v) {
  std::string out;
  encode(v, out);
  return out;
}

Variant DecodeVariant(std::string_view json, const WireLimits& limits) {
  checkSize(json, limits);
  // Wrapped in an array so that a bare scalar is decoded like any value.
  simdjson::padded_string text(json.size() + 2);
  text.data()[0] = '[';
  std::memcpy(text.data() + 1, json.data(), json.size());
  text.data()[json.size() + 1] = ']';
  try {
    ThreadParser parser(text.size(), limits.maxDepth);
    od::document doc = get((*parser).iterate(text));
    Decoder d(limits);
    std::optional<Variant> result;
    for (auto item : get(doc.get_array())) {
      if (result) fail("mais de um valor");
      result = d.value(get(std::move(item)), 0);
    }
    if (!result) fail("mensagem vazia");
    checkEnd(doc);
    return *result;
  } catch (const simdjson::simdjson_error& e) {
    fail(std::string("JSON inválido (") + e.what() + ")");
  }
}

std::string Envelope::text(std::string_view key) const {
  auto it = texts.find(key);
  return it == texts.end() ? std::string() : it->second;
}

std::string EncodeEnvelope(const Envelope& e) {
  std::string out = "{";
  bool first = true;
  auto key = [&](std::string_view k) {
    if (!first) out.push_back(',');
    first = false;
    appendEscaped(out, k);
    out.push_back(':');
  };
  for (const auto& [k, v] : e.texts) {
    key(k);
    appendEscaped(out, v);
  }
  if (e.result) {
    key("result");
    encode(*e.result, out);
  }
  if (e.args) {
    key("args");
    out.push_back('[');
    for (size_t i = 0; i < e.args->size(); ++i) {
      if (i) out.push_back(',');
      encode((*e.args)[i], out);
    }
    out.push_back(']');
  }
  out.push_back('}');
  return out;
}

Envelope DecodeEnvelope(std::string_view body, const WireLimits& limits) {
  checkSize(body, limits);
  simdjson::padded_string text(body);
  try {
    ThreadParser parser(text.size(), limits.maxDepth);
    od::document doc = get((*parser).iterate(text));
    if (get(doc.type()) != od::json_type::object) fail("era esperado um objeto");
    Envelope e;
    Decoder d(limits);
    for (auto field : get(doc.get_object())) {
      std::string key(get(field.unescaped_key()));
      od::value v = get(field.value());
      if (key == "result") {
        if (e.result) fail("membro 'result' repetido");
        e.result = d.value(v, 0);
      } else if (key == "args") {
        if (e.args) fail("membro 'args' repetido");
        if (get(v.type()) != od::json_type::array) fail("'args' deve ser uma lista");
        Variant a = d.value(v, 0);
        e.args = std::move(a.asArray());
      } else {
        if (get(v.type()) != od::json_type::string) fail("o membro '" + key.substr(0, 40) + "' deve ser um texto");
        if (e.texts.count(key)) fail("membro '" + key.substr(0, 40) + "' repetido");
        e.texts.emplace(std::move(key), std::string(get(v.get_string())));
      }
    }
    checkEnd(doc);
    return e;
  } catch (const simdjson::simdjson_error& e) {
    fail(std::string("JSON inválido (") + e.what() + ")");
  }
}

}  // namespace net
