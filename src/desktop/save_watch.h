#pragma once
// Tells the desktop when the application server accepted a write, so that the
// status bar can say "Gravado às hh:mm:ss": a decorator around the transport
// the screens' connections use. Nothing is changed on the way.

#include <functional>
#include <string>

#include "platform/rtl/variant.h"

namespace desktop {

// Whether a method's result says the server stored what was sent: a write
// method ("Set…", "Upd…", "PostCard") whose result is not a failure.
bool IsAcceptedWrite(const std::string& method, const rtl::Variant& result);

// Wraps the transport factory registered now; saved runs on the caller's
// thread after each accepted write. Call again after the factory changes.
void WatchSaves(std::function<void(const std::string& method)> saved);

}  // namespace desktop
