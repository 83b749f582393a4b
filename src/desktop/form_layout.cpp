// Where the widgets of a form go. The toolkit's forms carry no layout a
// desktop could use (their pixel positions are for another font and size), so
// the controls are placed by what they are: tool rows, the header the user
// types into, grids and pages taking the room, totals at the bottom.

#include <QBoxLayout>
#include <QLabel>

#include <algorithm>
#include <functional>
#include <map>

#include "desktop/binding.h"
#include "platform/ui/comctrls.h"
#include "platform/ui/dbctrls.h"
#include "platform/ui/dbgrids.h"
#include "platform/ui/stdctrls.h"

namespace desktop {

namespace {

bool hasGridOrPages(ui::TControl* c) {
  if (RoleOf(*c) == Role::Grid || RoleOf(*c) == Role::Pages) return true;
  if (auto* w = dynamic_cast<ui::TWinControl*>(c))
    for (ui::TControl* k : w->Controls())
      if (hasGridOrPages(k)) return true;
  return false;
}

// Where a child goes in a stacked container: tool rows, then the header (the
// panels the user types into), then grids and pages, then the rest (totals,
// navigator). Order among equals is the creation order.
int stackRank(ui::TControl* c) {
  if (hasGridOrPages(c)) return 2;
  bool tools = false, input = false;
  std::function<void(ui::TControl*)> scan = [&](ui::TControl* x) {
    if (RoleOf(*x) == Role::Tool) tools = true;
    if (RoleOf(*x) == Role::Entry) input = true;
    if (auto* w = dynamic_cast<ui::TWinControl*>(x))
      for (ui::TControl* k : w->Controls()) scan(k);
  };
  scan(c);
  return input ? 1 : tools ? 0 : 3;
}

}  // namespace

// Layout only: a container with grids or pages stacks its children (the
// header on top, the grids taking the room, totals at the bottom; grids that
// follow the first sit side by side); any other container is a row.
void FormView::layoutChildren(ui::TWinControl* container, QWidget* w) {
  const bool stacked = hasGridOrPages(container);
  QBoxLayout* lay = qobject_cast<QBoxLayout*>(w->layout());
  if (!lay) {
    lay = stacked ? static_cast<QBoxLayout*>(new QVBoxLayout(w)) : new QHBoxLayout(w);
    lay->setContentsMargins(2, 2, 2, 2);
    lay->setSpacing(stacked ? 4 : 6);
  }
  QHBoxLayout* gridRow = nullptr;
  int grids = 0;
  std::vector<ui::TControl*> children(container->Controls().begin(), container->Controls().end());
  if (stacked) {
    // A label stays with the control that follows it (its caption).
    std::map<ui::TControl*, int> rank;
    int next = 3;
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      if (RoleOf(**it) == Role::Label) {
        rank[*it] = next;
      } else {
        rank[*it] = next = stackRank(*it);
      }
    }
    std::stable_sort(children.begin(), children.end(),
                     [&](ui::TControl* a, ui::TControl* b) { return rank[a] < rank[b]; });
  }
  if (!stacked && qobject_cast<QVBoxLayout*>(lay)) {
    layoutDialog(children, w, lay);
    return;
  }
  // A tool row: the buttons, then the form's code apart at the far end.
  bool toolRow = !stacked;
  if (toolRow) {
    toolRow = false;
    for (ui::TControl* c : children) toolRow |= RoleOf(*c) == Role::Tool;
  }
  // Beside a page control, the panels of small lists (billed services,
  // turnstiles) share one row, and the page control takes most of the height.
  bool besidePages = false;
  if (stacked)
    for (ui::TControl* c : children) besidePages |= RoleOf(*c) == Role::Pages;
  QHBoxLayout* listRow = nullptr;
  std::vector<ui::TControl*> codes;
  for (ui::TControl* c : children) {
    if (toolRow && RoleOf(*c) == Role::Label) {
      codes.push_back(c);
      continue;
    }
    QWidget* child = build(c, w);
    if (!child) continue;
    const bool big = hasGridOrPages(c);
    if (besidePages && big && RoleOf(*c) != Role::Pages) {
      if (!listRow) {
        listRow = new QHBoxLayout;
        lay->addLayout(listRow, 1);
      }
      listRow->addWidget(child, 1);
      continue;
    }
    if (besidePages && RoleOf(*c) == Role::Pages) {
      lay->addWidget(child, 4);
      continue;
    }
    if (stacked && RoleOf(*c) == Role::Grid && ++grids > 1) {
      if (!gridRow) {
        gridRow = new QHBoxLayout;
        lay->addLayout(gridRow, 1);
      }
      gridRow->addWidget(child, 1);
      continue;
    }
    gridRow = nullptr;
    lay->addWidget(child, big ? 1 : 0);
  }
  if (!stacked) lay->addStretch(1);
  for (ui::TControl* c : codes) {
    if (QWidget* code = build(c, w)) {
      code->setStyleSheet("QLabel { color: palette(dark); border: 1px solid palette(mid); border-radius: 3px;"
                          " padding: 2px 6px; }");
      lay->addWidget(code, 0, Qt::AlignVCenter);
    }
  }
}

// A form without grids reads like a dialog: the entry fields in rows (a label
// opens a row, the edits and buttons after it join it; a group box is a row of
// its own), then the lists to pick from, and the tool row at the bottom.
void FormView::layoutDialog(std::vector<ui::TControl*> children, QWidget* w, QBoxLayout* lay) {
  auto rank = [](ui::TControl* c) {
    if (RoleOf(*c) == Role::Choice) return 1;
    return stackRank(c) == 0 ? 2 : 0;
  };
  std::stable_sort(children.begin(), children.end(),
                   [&](ui::TControl* a, ui::TControl* b) { return rank(a) < rank(b); });
  QHBoxLayout* row = nullptr;
  bool rowHasField = false;
  for (ui::TControl* c : children) {
    const bool container = RoleOf(*c) == Role::Container;
    const bool label = RoleOf(*c) == Role::Label;
    if (container || rank(c) != 0 || (label && rowHasField)) {
      if (row) row->addStretch(1);
      row = nullptr;
    }
    QWidget* child = build(c, w);
    if (!child) continue;
    if (container || rank(c) != 0) {
      if (rank(c) == 2) lay->addStretch(1);
      lay->addWidget(child, 0);
      continue;
    }
    if (!row) {
      row = new QHBoxLayout;
      row->setSpacing(6);
      lay->addLayout(row);
      rowHasField = false;
    }
    row->addWidget(child, 0);
    if (!label) rowHasField = true;
  }
  if (row) row->addStretch(1);
  bool bottomTools = false;
  for (ui::TControl* c : children) bottomTools |= rank(c) == 2;
  if (!bottomTools) lay->addStretch(1);
}

}  // namespace desktop
