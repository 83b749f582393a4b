#include "desktop/binding.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QTimer>

#include "desktop/view_text.h"
#include "platform/ui/keys.h"
#include "platform/ui/menus.h"

namespace desktop {

namespace {

Binding* g_binding = nullptr;

}  // namespace

bool TranslateKey(int k, Qt::KeyboardModifiers mods, const QString& text, ui::Word& key, ui::TShiftState& shift,
                  ui::TChar& ch) {
  shift = ui::ssNone;
  if (mods & Qt::ShiftModifier) shift |= ui::ssShift;
  if (mods & Qt::ControlModifier) shift |= ui::ssCtrl;
  if (mods & Qt::AltModifier) shift |= ui::ssAlt;
  ch = 0;
  key = 0;
  switch (k) {
    case Qt::Key_Tab: key = ui::VK_TAB; break;
    case Qt::Key_Backtab: key = ui::VK_TAB; shift |= ui::ssShift; break;
    case Qt::Key_Return: case Qt::Key_Enter: key = ui::VK_RETURN; break;
    case Qt::Key_Escape: key = ui::VK_ESCAPE; break;
    case Qt::Key_Backspace: key = ui::VK_BACK; break;
    case Qt::Key_Delete: key = ui::VK_DELETE; break;
    case Qt::Key_Insert: key = ui::VK_INSERT; break;
    case Qt::Key_Left: key = ui::VK_LEFT; break;
    case Qt::Key_Right: key = ui::VK_RIGHT; break;
    case Qt::Key_Up: key = ui::VK_UP; break;
    case Qt::Key_Down: key = ui::VK_DOWN; break;
    case Qt::Key_Home: key = ui::VK_HOME; break;
    case Qt::Key_End: key = ui::VK_END; break;
    case Qt::Key_PageUp: key = ui::VK_PRIOR; break;
    case Qt::Key_PageDown: key = ui::VK_NEXT; break;
    case Qt::Key_Shift: case Qt::Key_Control: case Qt::Key_Alt: case Qt::Key_Meta: return false;
    default:
      if (k >= Qt::Key_F1 && k <= Qt::Key_F12) {
        key = static_cast<ui::Word>(ui::VK_F1 + (k - Qt::Key_F1));
      } else if (!text.isEmpty() && text.at(0).isPrint() && !(shift & (ui::ssCtrl | ui::ssAlt))) {
        std::u32string u = text.toStdU32String();
        ch = u.empty() ? 0 : u[0];
        key = ui::CharKey(ch);
        // The character's own key already carries the case.
        shift &= ~ui::ssShift;
      } else if ((k >= Qt::Key_A && k <= Qt::Key_Z) || (k >= Qt::Key_0 && k <= Qt::Key_9)) {
        key = static_cast<ui::Word>(k);
      } else if (k == Qt::Key_Space) {
        key = ui::VK_SPACE;
      } else {
        return false;
      }
  }
  if (key == ui::VK_RETURN && !(shift & ui::ssCtrl)) ch = U'\r';
  if (key == ui::VK_ESCAPE) ch = 27;
  if (key == ui::VK_BACK) ch = 8;
  if (key == ui::VK_TAB && !(shift & ui::ssCtrl)) ch = U'\t';
  return true;
}

// ---------------------------------------------------------------------------
Binding::Binding(QMdiArea* area) : area_(area) {
  g_binding = this;
  ui::SetChangeObserver([this](ui::TControl&) { scheduleRefresh(); });
  ui::SetMenuChangeObserver([this](ui::TMenuItem&) { scheduleRefresh(); });
  connect(area_, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* w) {
    if (!w || refreshing_) return;
    auto* v = qobject_cast<FormView*>(w->widget());
    if (v && ui::Screen().ActiveForm() != v->form()) perform([f = v->form()] { f->Show(); });
  });
}

Binding::~Binding() {
  clear();
  ui::SetChangeObserver(nullptr);
  ui::SetMenuChangeObserver(nullptr);
  g_binding = nullptr;
}

Binding* Binding::instance() { return g_binding; }

bool Binding::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) return false;
  auto* ke = static_cast<QKeyEvent*>(event);
  if ((ke->key() != Qt::Key_Tab && ke->key() != Qt::Key_Backtab) || !(ke->modifiers() & Qt::ControlModifier))
    return false;
  auto* w = qobject_cast<QWidget*>(watched);
  FormView* view = nullptr;
  for (QWidget* p = w; p && !view; p = p->parentWidget()) view = qobject_cast<FormView*>(p);
  if (!view) return false;
  if (event->type() == QEvent::ShortcutOverride) {
    event->accept();
    return true;
  }
  return view->dispatchKey(ke);
}

void Binding::perform(const std::function<void()>& action) {
  ui::Application().Perform(action);
  refresh();
}

void Binding::scheduleRefresh() {
  if (scheduled_) return;
  scheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    scheduled_ = false;
    refresh();
  });
}

bool IsLive(ui::TCustomForm* f) {
  for (ui::TCustomForm* x : ui::Screen().Forms())
    if (x == f) return true;
  return false;
}

void Binding::syncForms() {
  // Views of forms that are gone; their pointers are not followed.
  for (auto it = views_.begin(); it != views_.end();) {
    if (!IsLive(it->first) || !it->second) {
      if (it->second) {
        QWidget* top = it->second->parentWidget();
        if (auto* sub = qobject_cast<QMdiSubWindow*>(top)) sub->deleteLater();
        else it->second->deleteLater();
      }
      it = views_.erase(it);
    } else {
      ++it;
    }
  }
  // Forms shown modeless get a subwindow of the frame.
  for (ui::TCustomForm* f : ui::Screen().Forms()) {
    if (f->Modal() || views_.count(f) || !f->Visible()) continue;
    auto* view = makeView(f, nullptr);
    QMdiSubWindow* sub = area_->addSubWindow(view);
    sub->setAttribute(Qt::WA_DeleteOnClose, false);
    sub->installEventFilter(view);
    sub->show();
    // QMdiArea takes Ctrl+Tab through an application filter of its own to
    // cycle its windows; the screens' page switch comes first.
    qApp->removeEventFilter(this);
    qApp->installEventFilter(this);
    // Within the frame, never wider or taller than it.
    QSize room = area_->viewport()->size();
    sub->move(0, 0);
    sub->resize(std::max(room.width(), 640), std::max(room.height(), 400));
  }
}

FormView* Binding::viewFor(ui::TCustomForm* form) const {
  auto it = views_.find(form);
  return it == views_.end() ? nullptr : it->second.data();
}

FormView* Binding::makeView(ui::TCustomForm* form, QWidget* parent) {
  auto* v = new FormView(*this, form, parent);
  views_[form] = v;
  return v;
}

void Binding::dropView(ui::TCustomForm* form) { views_.erase(form); }

void Binding::clear() {
  auto views = std::move(views_);
  views_.clear();
  for (auto& [form, view] : views) {
    if (!view) continue;
    QWidget* top = view->parentWidget();
    if (auto* sub = qobject_cast<QMdiSubWindow*>(top)) delete sub;
    else delete view.data();
  }
}

void Binding::refresh() {
  if (refreshing_) return;
  refreshing_ = true;
  syncForms();
  ui::TCustomForm* active = ui::Screen().ActiveForm();
  for (auto& [form, view] : views_) {
    if (!view) continue;
    view->render();
    QWidget* top = view->parentWidget() ? view->parentWidget() : view;
    if (auto* sub = qobject_cast<QMdiSubWindow*>(top)) {
      sub->setWindowTitle(caption(form->Caption()));
      sub->setVisible(form->Visible());
      if (form->WindowState() == ui::TWindowState::Minimized) sub->showMinimized();
      else if (form->WindowState() == ui::TWindowState::Maximized) sub->showMaximized();
      else if (sub->isMinimized() || sub->isMaximized()) sub->showNormal();
      if (form == active && area_->activeSubWindow() != sub) area_->setActiveSubWindow(sub);
    }
  }
  // The keyboard focus is where the toolkit has it.
  if (active) {
    if (FormView* v = viewFor(active)) {
      if (QWidget* w = v->widgetOf(ui::Screen().ActiveControl())) {
        if (QApplication::focusWidget() != w) w->setFocus(Qt::OtherFocusReason);
      } else if (!v->isAncestorOf(QApplication::focusWidget())) {
        v->setFocus(Qt::OtherFocusReason);
      }
    }
  }
  refreshing_ = false;
}

bool OpenMenuByHotkey(QMenuBar* bar, QChar letter) {
  if (!bar || !bar->isVisible()) return false;
  for (QAction* a : bar->actions()) {
    if (!a->isVisible() || !a->isEnabled()) continue;
    const QString text = a->text();
    for (int i = 0; i + 1 < text.size(); ++i) {
      if (text[i] != '&') continue;
      if (text[i + 1] == '&') {
        ++i;
        continue;
      }
      if (text[i + 1].toUpper() != letter.toUpper()) break;
      bar->setActiveAction(a);
      return true;
    }
  }
  return false;
}

}  // namespace desktop
