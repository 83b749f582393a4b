#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "net/wire.h"

using net::DecodeEnvelope;
using net::DecodeVariant;
using net::EncodeVariant;
using net::WireError;
using rtl::Variant;
using rtl::VarType;

namespace {

// Stricter than Variant's ==: same type at every level, doubles compared by bits.
::testing::AssertionResult Same(const Variant& a, const Variant& b) {
  if (a.type() != b.type()) return ::testing::AssertionFailure() << a.debugString() << " vs " << b.debugString();
  switch (a.type()) {
    case VarType::Double:
      if (std::bit_cast<uint64_t>(a.toDouble()) != std::bit_cast<uint64_t>(b.toDouble()))
        return ::testing::AssertionFailure() << a.debugString() << " vs " << b.debugString();
      break;
    case VarType::DateTime:
      if (std::bit_cast<uint64_t>(a.toDateTime()) != std::bit_cast<uint64_t>(b.toDateTime()))
        return ::testing::AssertionFailure() << a.debugString() << " vs " << b.debugString();
      break;
    case VarType::Array:
      if (a.size() != b.size()) return ::testing::AssertionFailure() << "array sizes differ";
      for (size_t i = 0; i < a.size(); ++i) {
        auto r = Same(a[i], b[i]);
        if (!r) return r << " at [" << i << "]";
      }
      break;
    default:
      if (!(a == b)) return ::testing::AssertionFailure() << a.debugString() << " vs " << b.debugString();
  }
  return ::testing::AssertionSuccess();
}

Variant RoundTrip(const Variant& v) { return DecodeVariant(EncodeVariant(v)); }

std::string WireMessage(const std::string& json, const net::WireLimits& limits = {}) {
  try {
    DecodeVariant(json, limits);
  } catch (const WireError& e) {
    return e.Message();
  }
  return "(accepted)";
}

}  // namespace

TEST(Wire, ScalarsKeepTheirKind) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<Variant> values = {
      Variant(), Variant::Null(), Variant(""), Variant("açúcar \"aspas\" \\ \n\t\x01 fim"),
      Variant(std::string("nul\0no meio", 11)), Variant(std::string("\xff\xfe latin-1 \xe7", 15)),
      Variant(0), Variant(std::numeric_limits<long long>::min()), Variant(std::numeric_limits<long long>::max()),
      Variant(1.0), Variant(-0.0), Variant(0.1), Variant(1e300), Variant(5e-324), Variant(nan),
      Variant(-std::numeric_limits<double>::infinity()), Variant(std::bit_cast<double>(0x7ff8000000000123ull)),
      Variant(true), Variant(false), Variant::FromDate(45000.0), Variant::FromDate(45000.123456789),
      Variant::FromDate(-693593.5)};
  for (const Variant& v : values) EXPECT_TRUE(Same(RoundTrip(v), v)) << EncodeVariant(v);

  // An integral double stays a double and an integer an integer.
  EXPECT_EQ(RoundTrip(Variant(2.0)).type(), VarType::Double);
  EXPECT_EQ(RoundTrip(Variant(2)).type(), VarType::Integer);
  EXPECT_EQ(EncodeVariant(Variant(0.1)), "0.1");  // shortest text, not 17 digits
}

TEST(Wire, RandomDoublesAreBitExact) {
  std::mt19937_64 rng(20240611);
  rtl::VariantArray values;
  for (int i = 0; i < 20000; ++i) values.emplace_back(std::bit_cast<double>(rng()));
  Variant all(values);
  EXPECT_TRUE(Same(RoundTrip(all), all));
}

TEST(Wire, NestedArraysAndPackets) {
  rtl::DataPacket json(R"({"fields":[{"name":"CDFILIAL","type":"string","size":4}],"rows":[["0001"]],"v":1.5e-7})");
  rtl::DataPacket notJson(std::string("\x00\x01 binário \xff", 13));
  rtl::DataPacket padded(" [1, 2] ");
  rtl::DataPacket unbalanced("{\"a\":1} {");
  Variant v = rtl::VarArrayOf({rtl::VarArrayOf({}), rtl::VarArrayOf({rtl::VarArrayOf({1, "x", Variant()})}), json,
                               notJson, padded, unbalanced, rtl::DataPacket(), Variant::Null()});
  EXPECT_TRUE(Same(RoundTrip(v), v));

  // A packet of JSON travels as JSON, not as an escaped string.
  std::string wire = EncodeVariant(Variant(json));
  EXPECT_EQ(wire, "{\"$pkt\":" + json.bytes() + "}");
  EXPECT_EQ(RoundTrip(Variant(json)).asPacket().bytes(), json.bytes());
}

TEST(Wire, EnvelopeCarriesTextsResultAndArgs) {
  net::Envelope e;
  e.texts["method"] = "GetCardaDia";
  e.texts["token"] = "abc";
  e.result = rtl::VarArrayOf({true, rtl::DataPacket("[]")});
  e.args = rtl::VariantArray{"0001", Variant::FromDate(45000), Variant("")};
  net::Envelope back = DecodeEnvelope(net::EncodeEnvelope(e));
  EXPECT_EQ(back.texts, e.texts);
  ASSERT_TRUE(back.result && back.args);
  EXPECT_TRUE(Same(*back.result, *e.result));
  EXPECT_TRUE(Same(Variant(*back.args), Variant(*e.args)));
  EXPECT_EQ(back.text("missing"), "");
}

TEST(Wire, MalformedBodiesAreRefusedWithAReason) {
  for (const char* bad : {"", "[", "[1,", "{\"$e\":1", "'texto'", "[1 2]", "\"\\x\"", "NaN", "[1] x", "01",
                          "{\"$dt\":\"ontem\"}", "{\"$b64\":\"***\"}", "{\"$f64\":\"123\"}", "{}",
                          "{\"$e\":1,\"$e\":1}", "{\"cdfilial\":\"0001\"}", "9223372036854775808",
                          "\"\xff\"", "{\"$pkt\":\"texto\"}"}) {
    std::string msg = WireMessage(bad);
    EXPECT_NE(msg, "(accepted)") << bad;
    EXPECT_EQ(msg.rfind("Mensagem mal formada", 0), 0u) << bad << " -> " << msg;
  }
  EXPECT_NE(WireMessage("{\"$x\":1}").find("marca desconhecida"), std::string::npos);
}

TEST(Wire, LimitsHoldAgainstHostileBodies) {
  // Far deeper than any stack would take if the decoder recursed freely.
  std::string deep(200000, '[');
  deep += std::string(200000, ']');
  EXPECT_NE(WireMessage(deep).find("Mensagem mal formada"), std::string::npos);
  std::string justTooDeep = std::string(65, '[') + std::string(65, ']');
  EXPECT_NE(WireMessage(justTooDeep).find("aninhamento"), std::string::npos);
  std::string deepest = std::string(64, '[') + std::string(64, ']');
  EXPECT_EQ(DecodeVariant(deepest).type(), VarType::Array);

  net::WireLimits small;
  small.maxValues = 1000;
  std::string wide = "[0";
  for (int i = 0; i < 2000; ++i) wide += ",0";
  wide += "]";
  EXPECT_NE(WireMessage(wide, small).find("valores demais"), std::string::npos);

  small.maxBytes = 100;
  EXPECT_NE(WireMessage("\"" + std::string(200, 'a') + "\"", small).find("grande demais"), std::string::npos);
}

TEST(Wire, EnvelopeRefusesWrongShapes) {
  for (const char* bad : {"[]", "\"x\"", "{\"method\":1}", "{\"args\":{\"$e\":1}}", "{\"args\":[],\"args\":[]}",
                          "{\"token\":\"a\",\"token\":\"b\"}", "{\"method\":\"x\"} {}"}) {
    EXPECT_THROW(DecodeEnvelope(bad), WireError) << bad;
  }
}
