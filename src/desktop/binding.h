#pragma once
// Shows the toolkit's forms as Qt widgets and feeds the user's keys and clicks
// back into the toolkit's entry points (the same ones the tests drive). The
// widgets only render the toolkit's state after each action; nothing is
// decided here.

#include <QMdiArea>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <QKeySequence>

#include "desktop/control_view.h"
#include "platform/ui/controls.h"
#include "platform/ui/dbgrids.h"

class QBoxLayout;
class QMenuBar;
class QAction;
namespace ui {
class TDBGrid;
}

namespace desktop {

class FormView;

// An action on a grid's cell, offered in the cell's context menu (a right
// click, or the menu key) and run by its shortcut while a grid has the focus.
// The additions beside the screens register theirs (the value history). The
// cell is the grid's current one when it runs; window is the form's window,
// for a dialog to sit on.
struct CellAction {
  QString text;
  QKeySequence shortcut;
  std::function<void(ui::TDBGrid& grid, QWidget* window)> run;
  // Optional: whether the action applies to the current cell.
  std::function<bool(ui::TDBGrid& grid)> enabled;
};

// Opens the menu of the bar whose caption has the hotkey letter; false when none has.
bool OpenMenuByHotkey(QMenuBar* bar, QChar letter);

class Binding : public QObject {
  Q_OBJECT
public:
  // MDI children go into area; modal forms run in their own dialogs.
  explicit Binding(QMdiArea* area);
  ~Binding() override;
  static Binding* instance();

  // Runs a user action through the toolkit, then renders.
  void perform(const std::function<void()>& action);
  // Re-reads every visible form's state into its widgets.
  void refresh();
  // Soon, once (the toolkit notified a change).
  void scheduleRefresh();

  // The view of a form shown modally: created by the modal loop.
  FormView* viewFor(ui::TCustomForm* form) const;
  FormView* makeView(ui::TCustomForm* form, QWidget* parent);
  void dropView(ui::TCustomForm* form);
  // Deletes every view now (the forms are gone or going).
  void clear();

  QMdiArea* area() const { return area_; }

  bool eventFilter(QObject* watched, QEvent* event) override;

  // The cell actions of every grid this binding shows, in menu order.
  void AddCellAction(CellAction action) { cellActions_.push_back(std::move(action)); }
  const std::vector<CellAction>& cellActions() const { return cellActions_; }
  // Alt+letter that no screen took: the frame's menus (set by the frame).
  std::function<bool(QChar)> frameHotkeys;

private:
  void syncForms();
  QMdiArea* area_;
  std::map<ui::TCustomForm*, QPointer<FormView>> views_;
  std::vector<CellAction> cellActions_;
  bool scheduled_ = false;
  bool refreshing_ = false;
};

// Qt key event -> (virtual key, shift state, character); false for keys the
// toolkit has no code for (modifiers alone).
bool TranslateKey(int qtKey, Qt::KeyboardModifiers mods, const QString& text, ui::Word& key, ui::TShiftState& shift,
                  ui::TChar& ch);

// One form shown as widgets: each control through the view of its kind
// (control_view.h), laid out by form_layout.cpp.
class FormView : public QWidget {
  Q_OBJECT
public:
  FormView(Binding& binding, ui::TCustomForm* form, QWidget* parent);
  ~FormView() override;
  ui::TCustomForm* form() const { return form_; }
  Binding& binding() const { return binding_; }
  void render();
  QWidget* widgetOf(ui::TControl* c) const;
  // A key from Qt: the page switch, the hotkeys, the cell actions, else the
  // toolkit's key handling. False when the key is not one the toolkit knows.
  bool dispatchKey(QKeyEvent* e);

  // For the control views: lays a container's children out in w, building
  // each through its view; routes w's events to the view of it.
  void layoutChildren(ui::TWinControl* container, QWidget* w);
  void watch(QObject* w, ControlItem& it);
  // The grid that has the toolkit's focus on this form, if any.
  ui::TDBGrid* focusedGrid() const;
  // Offers the cell actions for the grid's current cell at a global position.
  void cellMenu(ui::TDBGrid& grid, QWidget* table, const QPoint& at);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* e) override;

private:
  QWidget* build(ui::TControl* c, QWidget* parent);
  void layoutDialog(std::vector<ui::TControl*> children, QWidget* w, QBoxLayout* lay);
  void buildMenu();
  void renderMenu();
  void renderItem(ControlItem& it);
  bool hasHotkey(ui::TControl* c, char letter);
  bool switchPage(bool goForward);
  bool runCellShortcut(const QKeySequence& keys);

  Binding& binding_;
  ui::TCustomForm* form_;
  QMenuBar* menuBar_ = nullptr;
  std::map<ui::TMenuItem*, QAction*> actions_;
  std::vector<std::unique_ptr<ControlItem>> items_;
  std::map<QObject*, ControlItem*> byWidget_;
  std::map<ui::TControl*, ControlItem*> byControl_;
};

// Whether the form is still one of the screen's (a view never follows a
// pointer to a form that is gone).
bool IsLive(ui::TCustomForm* f);

}  // namespace desktop
