#pragma once
// Result arrays of the remote methods. A successful result is
// [true, payload]; a failed one is [false, message]. CheckResultServ on the
// client returns the payload or raises the message.

#include <string>

#include "platform/rtl/variant.h"

namespace contracts {

inline rtl::Variant ResultOk(rtl::Variant payload) { return rtl::VarArrayOf({true, std::move(payload)}); }
inline rtl::Variant ResultFail(const std::string& message) { return rtl::VarArrayOf({false, message}); }

inline bool IsResultArray(const rtl::Variant& r) {
  return r.isArray() && r.size() == 2 && r[0].type() == rtl::VarType::Boolean;
}
inline bool ResultSucceeded(const rtl::Variant& r) { return IsResultArray(r) && r[0].toBool(); }
inline std::string ResultMessage(const rtl::Variant& r) {
  return IsResultArray(r) && !r[0].toBool() ? r[1].toString() : std::string();
}

}  // namespace contracts
