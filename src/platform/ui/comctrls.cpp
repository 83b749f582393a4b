#include "platform/ui/comctrls.h"

#include <algorithm>

namespace ui {

TPageControl* TTabSheet::PageControl() const { return dynamic_cast<TPageControl*>(Parent()); }

int TTabSheet::PageIndex() const {
  TPageControl* pc = PageControl();
  if (!pc) return -1;
  for (int i = 0; i < pc->PageCount(); ++i)
    if (pc->Pages(i) == this) return i;
  return -1;
}

void TTabSheet::SetTabVisible(bool v) {
  if (tabVisible_ == v) return;
  tabVisible_ = v;
  Changed();
}

TPageControl::TPageControl(TComponent* owner) : TWinControl(owner) { TabStop = true; }

void TPageControl::ControlAdded(TControl* c) {
  auto* page = dynamic_cast<TTabSheet*>(c);
  if (!page) return;
  pages_.push_back(page);
  if (!active_) {
    active_ = page;
    page->TControl::SetVisible(true);
  } else {
    page->TControl::SetVisible(false);
  }
}

void TPageControl::ControlRemoved(TControl* c) {
  // Compared by address: a page being destroyed is no longer a TTabSheet here.
  auto it = std::find_if(pages_.begin(), pages_.end(), [c](TTabSheet* p) { return static_cast<TControl*>(p) == c; });
  if (it == pages_.end()) return;
  bool wasActive = static_cast<TControl*>(active_) == c;
  pages_.erase(it);
  if (wasActive) {
    active_ = pages_.empty() ? nullptr : pages_.front();
    if (active_) active_->TControl::SetVisible(true);
  }
}

int TPageControl::ActivePageIndex() const { return active_ ? active_->PageIndex() : -1; }

void TPageControl::SetActivePage(TTabSheet* page) {
  if (page && page->PageControl() != this) throw EInvalidOperation("The page belongs to another page control");
  changeActivePage(page);
}

void TPageControl::SetActivePageIndex(int i) {
  SetActivePage(i >= 0 && i < PageCount() ? pages_[static_cast<size_t>(i)] : nullptr);
}

void TPageControl::changeActivePage(TTabSheet* page) {
  if (active_ == page) return;
  TCustomForm* form = ParentForm();
  if (form && active_ && form->ActiveControl() && active_->ContainsControl(form->ActiveControl())) {
    // The focus leaves the old page first; a refusing exit handler keeps it there.
    form->SetActiveControl(active_);
    if (form->ActiveControl() != active_) return;
  }
  if (page) {
    page->TControl::SetVisible(true);
    if (form && active_ && form->ActiveControl() == active_) {
      if (page->CanFocus())
        form->SetActiveControl(page);
      else
        form->SetActiveControl(this);
    }
  }
  if (active_) active_->TControl::SetVisible(false);
  active_ = page;
  Changed();
  if (form && active_ && form->ActiveControl() == active_) active_->SelectFirst();
}

bool TPageControl::userChange(TTabSheet* page) {
  bool allow = true;
  if (OnChanging) OnChanging(*this, allow);
  if (!allow) return false;
  changeActivePage(page);
  if (active_ != page) return false;
  if (OnChange) OnChange(*this);
  return true;
}

bool TPageControl::SelectPage(TTabSheet* page) {
  if (!page || page->PageControl() != this || page == active_) return false;
  if (!CanFocus() || !page->TabVisible() || !page->Enabled()) return false;
  // Clicking the tab strip gives the page control the focus.
  TCustomForm* form = ParentForm();
  if (!Focused()) {
    SetFocus();
    if (!form || form->ActiveControl() != this) return false;
  }
  return userChange(page);
}

TTabSheet* TPageControl::FindNextPage(TTabSheet* current, bool goForward) const {
  int n = PageCount();
  if (n == 0) return nullptr;
  int start = current ? current->PageIndex() : (goForward ? n - 1 : 0);
  if (start < 0) start = goForward ? n - 1 : 0;
  int i = start;
  do {
    i = goForward ? (i + 1) % n : (i + n - 1) % n;
    TTabSheet* p = pages_[static_cast<size_t>(i)];
    if (p->TabVisible() && p->Enabled()) return p;
  } while (i != start);
  return nullptr;
}

bool TPageControl::WantsKey(Word key, TShiftState shift) const {
  return key == VK_LEFT || key == VK_RIGHT || (key == VK_TAB && (shift & ssCtrl));
}

void TPageControl::KeyDown(Word& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  bool forward;
  if (key == VK_RIGHT && shift == ssNone)
    forward = true;
  else if (key == VK_LEFT && shift == ssNone)
    forward = false;
  else if (key == VK_TAB && (shift & ssCtrl))
    forward = !(shift & ssShift);
  else
    return;
  TTabSheet* next = FindNextPage(active_, forward);
  if (next && next != active_) userChange(next);
}

}  // namespace ui
