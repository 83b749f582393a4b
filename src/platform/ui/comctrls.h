#pragma once
// Page controls. OnChanging (which can veto) and OnChange run only when the
// user picks a page; a page set in code runs neither.

#include <functional>
#include <vector>

#include "platform/ui/controls.h"

namespace ui {

class TPageControl;

class TTabSheet : public TWinControl {
public:
  explicit TTabSheet(TComponent* owner = nullptr) : TWinControl(owner) {}
  TPageControl* PageControl() const;
  int PageIndex() const;
  bool TabVisible() const { return tabVisible_; }
  void SetTabVisible(bool v);

private:
  bool tabVisible_ = true;
};

using TTabChangingEvent = std::function<void(TObject& sender, bool& allowChange)>;

class TPageControl : public TWinControl {
public:
  explicit TPageControl(TComponent* owner = nullptr);

  int PageCount() const { return static_cast<int>(pages_.size()); }
  TTabSheet* Pages(int i) const { return pages_.at(static_cast<size_t>(i)); }
  TTabSheet* ActivePage() const { return active_; }
  int ActivePageIndex() const;
  // Code: no OnChanging, no OnChange. A focus inside the old page moves to the
  // new one, running the exit and enter handlers on the way.
  void SetActivePage(TTabSheet* page);
  void SetActivePageIndex(int i);
  // The user picks a page: the control takes the focus (exit handlers may end
  // it there), OnChanging may veto, the page changes, OnChange runs. A page that
  // is disabled or whose tab is hidden cannot be picked. True when the page changed.
  bool SelectPage(TTabSheet* page);
  // The next or prior page a user reaches with Ctrl+Tab.
  TTabSheet* FindNextPage(TTabSheet* current, bool goForward) const;

  TTabChangingEvent OnChanging;
  TNotifyEvent OnChange;

  void KeyDown(Word& key, TShiftState shift) override;
  bool WantsKey(Word key, TShiftState shift) const override;

protected:
  void ControlAdded(TControl* c) override;
  void ControlRemoved(TControl* c) override;

private:
  void changeActivePage(TTabSheet* page);
  bool userChange(TTabSheet* page);
  std::vector<TTabSheet*> pages_;
  TTabSheet* active_ = nullptr;
};

}  // namespace ui
