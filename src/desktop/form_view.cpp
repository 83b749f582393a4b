// A form shown as widgets: each control built, rendered and fed through the
// view of its kind; the form's menu; the keys, which all go to the toolkit
// after the page switch, the hotkeys and the grid's cell actions.

#include <QApplication>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTableView>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "desktop/binding.h"
#include "desktop/view_text.h"
#include "platform/ui/comctrls.h"
#include "platform/ui/dbgrids.h"
#include "platform/ui/keys.h"
#include "platform/ui/menus.h"

namespace desktop {

FormView::FormView(Binding& binding, ui::TCustomForm* form, QWidget* parent)
    : QWidget(parent), binding_(binding), form_(form) {
  setFocusPolicy(Qt::StrongFocus);
  auto* lay = new QVBoxLayout(this);
  lay->setContentsMargins(4, 2, 4, 4);
  lay->setSpacing(4);
  if (form->Menu) {
    menuBar_ = new QMenuBar(this);
    menuBar_->setNativeMenuBar(false);
    lay->setMenuBar(menuBar_);
    buildMenu();
  }
  layoutChildren(form, this);
  render();
}

FormView::~FormView() {
  if (Binding* b = Binding::instance()) b->dropView(form_);
}

QWidget* FormView::widgetOf(ui::TControl* c) const {
  auto it = byControl_.find(c);
  return it == byControl_.end() ? nullptr : it->second->focusTarget;
}

void FormView::watch(QObject* w, ControlItem& it) {
  w->installEventFilter(this);
  byWidget_[w] = &it;
}

QWidget* FormView::build(ui::TControl* c, QWidget* parent) {
  const ControlView* view = ViewFor(*c);
  if (!view) return nullptr;
  auto item = std::make_unique<ControlItem>();
  item->control = c;
  item->view = view;
  QWidget* w = view->create(*item, parent, *this);
  w->setObjectName(q(c->Name()));
  item->widget = w;
  if (!item->focusTarget) item->focusTarget = w;
  byControl_[c] = item.get();
  items_.push_back(std::move(item));
  return w;
}

void FormView::buildMenu() {
  std::function<void(ui::TMenuItem&, QWidget*)> add = [&](ui::TMenuItem& parent, QWidget* into) {
    for (int i = 0; i < parent.Count(); ++i) {
      ui::TMenuItem* it = parent.Items(i);
      if (it->IsLine()) {
        if (auto* m = qobject_cast<QMenu*>(into)) actions_[it] = m->addSeparator();
        continue;
      }
      if (it->Count() > 0) {
        QMenu* sub = qobject_cast<QMenuBar*>(into) ? static_cast<QMenuBar*>(into)->addMenu(q(it->Caption()))
                                                   : static_cast<QMenu*>(into)->addMenu(q(it->Caption()));
        actions_[it] = sub->menuAction();
        add(*it, sub);
        continue;
      }
      auto* a = new QAction(q(it->Caption()), into);
      into->addAction(a);
      // The shortcut is shown; the key itself reaches the toolkit, which
      // dispatches the form's shortcuts.
      connect(a, &QAction::triggered, this, [this, it] { binding_.perform([it] { it->Click(); }); });
      actions_[it] = a;
    }
  };
  add(form_->Menu->Items(), menuBar_);
}

void FormView::renderMenu() {
  for (auto& [item, a] : actions_) {
    a->setVisible(item->Visible());
    a->setEnabled(item->Enabled());
    if (item->IsLine() || item->Count() > 0) continue;
    a->setCheckable(item->Checked() || item->AutoCheck || item->RadioItem);
    a->setChecked(item->Checked());
    // The caption keeps its '&': Qt underlines the hotkey.
    QString text = q(item->Caption());
    if (item->ShortCut()) text += "\t" + q(ui::ShortCutToText(item->ShortCut()));
    a->setText(text);
  }
}

void FormView::render() {
  if (!IsLive(form_)) return;
  renderMenu();
  for (auto& it : items_) renderItem(*it);
}

void FormView::renderItem(ControlItem& it) {
  ui::TControl* c = it.control;
  QWidget* w = it.widget;
  if (w->isHidden() == c->Visible()) w->setVisible(c->Visible());
  w->setEnabled(c->Enabled());
  if (!c->Hint().empty()) w->setToolTip(q(c->Hint()));
  it.view->render(it, *this);
}

void FormView::keyPressEvent(QKeyEvent* e) {
  if (!dispatchKey(e)) QWidget::keyPressEvent(e);
}

bool FormView::dispatchKey(QKeyEvent* ke) {
  const Qt::KeyboardModifiers mods = ke->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  const int k = ke->key();
  if ((k == Qt::Key_Tab || k == Qt::Key_Backtab) && (mods & Qt::ControlModifier) &&
      switchPage(k == Qt::Key_Tab && !(mods & Qt::ShiftModifier)))
    return true;
  if (mods == Qt::AltModifier && ((k >= Qt::Key_A && k <= Qt::Key_Z) || (k >= Qt::Key_0 && k <= Qt::Key_9))) {
    // Windows' order: the form's own hotkeys (labels, buttons), then its
    // menu's, then the frame's.
    const QChar letter(k);
    if (!hasHotkey(form_, static_cast<char>(k)) &&
        (OpenMenuByHotkey(menuBar_, letter) || (binding_.frameHotkeys && binding_.frameHotkeys(letter))))
      return true;
  }
  if (runCellShortcut(QKeySequence(ke->keyCombination()))) return true;
  ui::Word key;
  ui::TShiftState shift;
  ui::TChar ch;
  if (!TranslateKey(k, ke->modifiers(), ke->text(), key, shift, ch)) return false;
  // The key goes to the control the toolkit has focused.
  binding_.perform([&] { ui::Application().KeyStroke(key, shift, ch); });
  return true;
}

bool FormView::hasHotkey(ui::TControl* c, char letter) {
  if (!c->Visible() || !c->Enabled()) return false;
  if (c != form_ && ui::HotkeyOf(c->Caption()) == letter) return true;
  if (auto* w = dynamic_cast<ui::TWinControl*>(c))
    for (ui::TControl* k : w->Controls())
      if (hasHotkey(k, letter)) return true;
  return false;
}

// Ctrl+Tab: the next page of the outermost page control around the focus
// (else the form's first), picked as a click on its tab picks it: the page
// checks run.
bool FormView::switchPage(bool goForward) {
  ui::TWinControl* active = ui::Screen().ActiveForm() == form_ ? form_->ActiveControl() : nullptr;
  ui::TPageControl* pc = nullptr;
  for (ui::TControl* c = active; c; c = c->Parent())
    if (auto* p = dynamic_cast<ui::TPageControl*>(c)) pc = p;
  if (pc && pc == active) return false;  // the control's own key
  for (auto& it : items_)
    if (!pc && it->tabs && it->control->Visible()) pc = static_cast<ui::TPageControl*>(it->control);
  if (!pc) return false;
  ui::TTabSheet* next = pc->FindNextPage(pc->ActivePage(), goForward);
  if (next && next != pc->ActivePage()) binding_.perform([pc, next] { pc->SelectPage(next); });
  return true;
}

ui::TDBGrid* FormView::focusedGrid() const {
  if (ui::Screen().ActiveForm() != form_) return nullptr;
  return dynamic_cast<ui::TDBGrid*>(form_->ActiveControl());
}

bool FormView::runCellShortcut(const QKeySequence& keys) {
  ui::TDBGrid* g = focusedGrid();
  if (!g) return false;
  for (const CellAction& a : binding_.cellActions())
    if (!a.shortcut.isEmpty() && a.shortcut == keys) {
      binding_.perform([&a, g, win = window()] { a.run(*g, win); });
      return true;
    }
  return false;
}

void FormView::cellMenu(ui::TDBGrid& grid, QWidget* table, const QPoint& at) {
  auto* menu = new QMenu(table);
  menu->setObjectName("mnuCelula");
  menu->setAttribute(Qt::WA_DeleteOnClose);
  QWidget* win = window();
  for (const CellAction& a : binding_.cellActions()) {
    QAction* act = menu->addAction(a.text);
    act->setShortcut(a.shortcut);
    if (a.enabled) act->setEnabled(a.enabled(grid));
    connect(act, &QAction::triggered, this,
            [this, run = a.run, g = &grid, win] { binding_.perform([&run, g, win] { run(*g, win); }); });
  }
  menu->popup(at);
}

bool FormView::eventFilter(QObject* watched, QEvent* event) {
  if (qobject_cast<QMdiSubWindow*>(watched)) {
    if (event->type() == QEvent::Close) {
      // The window's close button: the form decides (it may refuse).
      event->ignore();
      binding_.perform([f = form_] { f->Close(); });
      return true;
    }
    return false;
  }
  auto found = byWidget_.find(watched);
  if (found == byWidget_.end()) return false;
  ControlItem& it = *found->second;
  switch (event->type()) {
    case QEvent::KeyPress:
      return dispatchKey(static_cast<QKeyEvent*>(event));
    case QEvent::ContextMenu:
      return it.view->contextMenu(it, watched, *static_cast<QContextMenuEvent*>(event), *this);
    case QEvent::ShortcutOverride:
      event->accept();  // every key is the toolkit's, none is a Qt shortcut
      return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
      return it.view->press(it, watched, *static_cast<QMouseEvent*>(event), *this);
    case QEvent::FocusIn: {
      // Qt moved the focus on its own (window activation): tell the toolkit,
      // whose exit handlers may send it back.
      auto* wc = dynamic_cast<ui::TWinControl*>(it.control);
      auto reason = static_cast<QFocusEvent*>(event)->reason();
      // A click is the toolkit's to decide (the press goes to it next).
      if (wc && reason != Qt::OtherFocusReason && reason != Qt::MouseFocusReason &&
          ui::Screen().ActiveControl() != wc)
        QTimer::singleShot(0, this, [this, wc] {
          if (IsLive(form_)) binding_.perform([wc] {
            if (wc->CanFocus()) wc->SetFocus();
          });
        });
      return false;
    }
    default:
      return false;
  }
}

}  // namespace desktop
