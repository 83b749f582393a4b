#pragma once
// What the three base forms share: the release of a closed screen and the
// hooks that let unit globals pointing at a screen be cleared when it goes.

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/controls.h"

namespace host {

// The help viewer of the host (the desktop wires it). Without one, a help
// request is a no-op, as on a workstation without the help files.
using THelpHandler = std::function<void(const std::string& helpFile, int helpContext)>;
void SetHelpHandler(THelpHandler handler);
void ShowHelp(const std::string& helpFile, int helpContext);

class TStandardForm : public ui::TForm {
public:
  explicit TStandardForm(ui::TComponent* owner = nullptr) : ui::TForm(owner) {}
  ~TStandardForm() override;

  // Runs when the screen is freed (the closed screen's deferred release, or
  // the application freeing its forms), newest hook last.
  void OnDestroyed(std::function<void()> hook) { destroyHooks_.push_back(std::move(hook)); }

  // A unit global that refers to this screen is set to null when the screen
  // goes, so that nothing holds a dangling pointer to a released screen. A
  // global that meanwhile points at a newer instance is left alone.
  template <class T>
  void ClearOnDestroy(T*& global) {
    ui::TCustomForm* self = this;
    OnDestroyed([&global, self] {
      if (global && static_cast<ui::TCustomForm*>(global) == self) global = nullptr;
    });
  }

private:
  std::vector<std::function<void()>> destroyHooks_;
};

}  // namespace host
