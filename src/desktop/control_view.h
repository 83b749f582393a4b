#pragma once
// How one kind of toolkit control is shown: a ControlView creates its Qt
// widget, copies the control's state into it after each action and turns the
// user's clicks on it into the toolkit's entry points. One view object serves
// every control of its kind; ViewFor picks it through the registry of
// control_views.cpp, so a new kind of control is one class and one line there.
// Views decide nothing: what a click means is the toolkit's.

#include <QPointer>
#include <QWidget>

#include <map>
#include <utility>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/dbctrls.h"

class QContextMenuEvent;
class QMouseEvent;
class QTableView;
class QTabWidget;
class QToolButton;

namespace desktop {

class ControlView;
class FormView;
class GridModel;
class EditorCellDelegate;

// One control of a form as shown: its widget and the view that made it. The
// members below `view` are the state of the views that need one.
struct ControlItem {
  ui::TControl* control = nullptr;
  QWidget* widget = nullptr;
  QWidget* focusTarget = nullptr;  // what takes the keyboard focus
  const ControlView* view = nullptr;

  // Data-aware grids.
  GridModel* model = nullptr;
  QTableView* table = nullptr;
  EditorCellDelegate* delegate = nullptr;
  std::map<int, int> userWidths;  // columns the user resized, kept as they left them
  std::map<int, int> fitted;      // the widths given so far
  bool settingWidths = false;     // our own resizes are not the user's
  // Page controls.
  QTabWidget* tabs = nullptr;
  // Navigators.
  std::vector<std::pair<ui::TNavigateBtn, QToolButton*>> navButtons;
};

// What a control is to the form's layout (form_layout.cpp).
enum class Role {
  Other,      // shown where it stands (totals, navigators, data texts)
  Grid,       // data-aware grids: take the room
  Pages,      // page controls: take the room
  Tool,       // tool buttons: a tool row
  Entry,      // what the user types into to pick the data (the header)
  DataEntry,  // a data-aware edit: part of the data shown, not the header
  Label,      // a caption: stays with the control after it
  Choice,     // a list to pick from
  Container,  // panels and group boxes: a row of their own in a dialog
};

class ControlView {
public:
  explicit ControlView(Role role) : role_(role) {}
  virtual ~ControlView() = default;
  Role role() const { return role_; }
  // Creates the widget of it.control under parent. Widgets whose events the
  // view handles are handed to form.watch.
  virtual QWidget* create(ControlItem& it, QWidget* parent, FormView& form) const = 0;
  // Copies the control's own state (texts, checks, rows) into the widget; the
  // form has already copied what every control has (visible, enabled, hint).
  virtual void render(ControlItem& it, FormView& form) const = 0;
  // A mouse press (or double click) on a watched widget of the control; true
  // when the event is consumed. The default consumes every button but the
  // left one and leaves the left one to Qt.
  virtual bool press(ControlItem& it, QObject* watched, QMouseEvent& e, FormView& form) const;
  // A context menu request on a watched widget; true when consumed.
  virtual bool contextMenu(ControlItem& it, QObject* watched, QContextMenuEvent& e, FormView& form) const;

private:
  Role role_;
};

// A windowed control: a left press moves the toolkit's focus to it.
class WinControlView : public ControlView {
public:
  using ControlView::ControlView;
  bool press(ControlItem& it, QObject* watched, QMouseEvent& e, FormView& form) const override;
};

// The view for a control's kind, or null for a control that is not shown.
const ControlView* ViewFor(ui::TControl& c);
// Its view's role; Other for a control that is not shown.
Role RoleOf(ui::TControl& c);

// The data-aware grid's view (grid_view.cpp), for the registry.
const ControlView& GridControlView();

}  // namespace desktop
