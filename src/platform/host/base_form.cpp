#include "base_form.h"

namespace host {

namespace {
THelpHandler& helpHandler() {
  static THelpHandler h;
  return h;
}
}  // namespace

void SetHelpHandler(THelpHandler handler) { helpHandler() = std::move(handler); }

void ShowHelp(const std::string& helpFile, int helpContext) {
  if (helpHandler()) helpHandler()(helpFile, helpContext);
}

TStandardForm::~TStandardForm() {
  // Moved out first: a hook may drop the last reference to something that
  // registers further hooks.
  auto hooks = std::move(destroyHooks_);
  for (auto& h : hooks)
    if (h) h();
}

}  // namespace host
