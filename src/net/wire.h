#pragma once
// The wire codec: rtl::Variant <-> JSON, with an exact round trip.
//
//   Empty            {"$e":1}
//   Null             null
//   string           "text" (valid UTF-8), else {"$b64":"<base64 of the bytes>"}
//   integer          123 (int64)
//   double           1.5, 1.0, -0.0, 1e+300 (shortest round-trip text, always with
//                    '.' or an exponent); NaN and infinities {"$f64":"<16 hex bits>"}
//   boolean          true / false
//   date-time        {"$dt":45000.25}; a non-finite one {"$dtbits":"<16 hex bits>"}
//   array            [ ... ]
//   data packet      {"$pkt":<the packet's JSON, embedded as it is>} when its bytes are
//                    one JSON object or array, else {"$pkt64":"<base64>"}
//
// Decoding refuses, with a WireError whose message says why, anything else:
// malformed JSON, unknown tags, integers beyond int64, nesting deeper than
// maxDepth, more than maxValues values, a body larger than maxBytes.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/variant.h"

namespace net {

class WireError : public rtl::Exception {
public:
  using rtl::Exception::Exception;
};

struct WireLimits {
  size_t maxDepth = 64;          // nested arrays (a packet's own JSON is not counted)
  size_t maxValues = 2'000'000;  // Variants built from one body
  size_t maxBytes = 64u << 20;   // the body itself
};

void EncodeVariant(const rtl::Variant& v, std::string& out);
std::string EncodeVariant(const rtl::Variant& v);
rtl::Variant DecodeVariant(std::string_view json, const WireLimits& limits = {});

// The bodies of requests and replies: one JSON object whose members "result" and
// "args" (an array) are Variants and whose other members are texts.
struct Envelope {
  std::map<std::string, std::string, std::less<>> texts;
  std::optional<rtl::Variant> result;
  std::optional<rtl::VariantArray> args;

  // The text member, or "" when absent.
  std::string text(std::string_view key) const;
  bool has(std::string_view key) const { return texts.find(key) != texts.end(); }
};

std::string EncodeEnvelope(const Envelope& e);
Envelope DecodeEnvelope(std::string_view body, const WireLimits& limits = {});

}  // namespace net
