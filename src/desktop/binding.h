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

#include <QKeySequence>

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

// An action on a grid's cell, offered in the cell's context menu and run by
// its shortcut while a grid has the focus (additions beside the screens
// register theirs). The cell is the grid's current one when it runs.
struct CellAction {
  QString text;
  QKeySequence shortcut;
  std::function<void(ui::TDBGrid& grid, data::TClientDataSet* dataSet, data::TField* field)> run;
  // Optional: whether the action applies to the cell.
  std::function<bool(ui::TDBGrid& grid, data::TClientDataSet* dataSet, data::TField* field)> enabled;
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

  // The frame's way into a grid cell for the additions (the value history): a
  // right click, after the click moved to the cell (menuAt: where to offer the
  // menu), or Ctrl+H on the current cell (menuAt null).
  std::function<void(ui::TDBGrid& grid, QWidget* table, const QPoint* menuAt)> onCellHistory;

  bool eventFilter(QObject* watched, QEvent* event) override;

  static void AddCellAction(CellAction action);
  static std::vector<CellAction>& cellActions();
  // Alt+letter that no screen took: the frame's menus (set by the frame).
  std::function<bool(QChar)> frameHotkeys;

private:
  void syncForms();
  QMdiArea* area_;
  std::map<ui::TCustomForm*, QPointer<FormView>> views_;
  bool scheduled_ = false;
  bool refreshing_ = false;
};

// Qt key event -> (virtual key, shift state, character); false for keys the
// toolkit has no code for (modifiers alone).
bool TranslateKey(int qtKey, Qt::KeyboardModifiers mods, const QString& text, ui::Word& key, ui::TShiftState& shift,
                  ui::TChar& ch);

class FormView : public QWidget {
  Q_OBJECT
public:
  FormView(Binding& binding, ui::TCustomForm* form, QWidget* parent);
  ~FormView() override;
  ui::TCustomForm* form() const { return form_; }
  void render();
  QWidget* widgetOf(ui::TControl* c) const;
  // A key from Qt: the page switch, the hotkeys, the cell actions, else the
  // toolkit's key handling. False when the key is not one the toolkit knows.
  bool dispatchKey(QKeyEvent* e);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* e) override;

private:
  struct Item;
  QWidget* build(ui::TControl* c, QWidget* parent);
  void layoutChildren(ui::TWinControl* container, QWidget* w);
  void layoutDialog(std::vector<ui::TControl*> children, QWidget* w, QBoxLayout* lay);
  void buildMenu();
  void renderMenu();
  void renderItem(Item& it);
  bool hasHotkey(ui::TControl* c, char letter);
  bool switchPage(bool goForward);
  ui::TDBGrid* focusedGrid() const;
  bool runCellShortcut(const QKeySequence& keys);
  void cellMenu(Item& it, QPoint pos);
  void fitColumns(Item& it);

  Binding& binding_;
  ui::TCustomForm* form_;
  QMenuBar* menuBar_ = nullptr;
  std::map<ui::TMenuItem*, QAction*> actions_;
  std::vector<std::unique_ptr<Item>> items_;
  std::map<QObject*, Item*> byWidget_;
  std::map<ui::TControl*, Item*> byControl_;
  bool settingWidths_ = false;
};

}  // namespace desktop
