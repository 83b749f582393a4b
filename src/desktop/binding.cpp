#include "desktop/binding.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QRadioButton>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/ui/comctrls.h"
#include "platform/ui/dbctrls.h"
#include "platform/ui/dbgrids.h"
#include "platform/ui/driver.h"
#include "platform/ui/maskedit.h"
#include "platform/ui/menus.h"
#include "platform/ui/stdctrls.h"

namespace desktop {

namespace {

Binding* g_binding = nullptr;

QString q(const std::string& s) { return QString::fromStdString(s); }
QString caption(const std::string& s) { return q(ui::StripHotkey(s)); }

// The tab strip of a page control: when the toolkit has the focus on the page
// control, the current tab is framed, so a clerk sees where the keys go.
class FocusTabBar : public QTabBar {
public:
  using QTabBar::QTabBar;

protected:
  void paintEvent(QPaintEvent* e) override {
    QTabBar::paintEvent(e);
    if (!hasFocus() || currentIndex() < 0) return;
    QPainter p(this);
    QPen pen(palette().color(QPalette::Highlight), 2);
    p.setPen(pen);
    p.drawRect(tabRect(currentIndex()).adjusted(2, 2, -2, -1));
  }
};

class FocusTabWidget : public QTabWidget {
public:
  explicit FocusTabWidget(QWidget* parent) : QTabWidget(parent) { setTabBar(new FocusTabBar(this)); }
};

// Paints the cell of a grid's in-place editor as an edit box: the typed text
// with a caret, or selected as a whole (a refused value, the text just loaded)
// so that typing replaces it.
class EditorCellDelegate : public QStyledItemDelegate {
public:
  EditorCellDelegate(ui::TDBGrid* g, QObject* parent) : QStyledItemDelegate(parent), grid(g) {}
  ui::TDBGrid* grid;
  int editorRow = -1;

  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& idx) const override {
    if (idx.row() != editorRow || idx.column() != grid->SelectedIndex() || !grid->EditorMode() ||
        !option.state.testFlag(QStyle::State_HasFocus)) {
      QStyledItemDelegate::paint(p, option, idx);
      return;
    }
    const QPalette& pal = option.palette;
    const QRect r = option.rect;
    p->save();
    p->fillRect(r, pal.color(QPalette::Base));
    p->setPen(QPen(pal.color(QPalette::Highlight), 1));
    p->drawRect(r.adjusted(0, 0, -1, -1));
    const QString text = idx.data().toString();
    const Qt::Alignment a = Qt::Alignment(idx.data(Qt::TextAlignmentRole).toInt());
    const QRect inner = r.adjusted(4, 1, -4, -1);
    const int w = option.fontMetrics.horizontalAdvance(text);
    const int x = (a & Qt::AlignRight) ? inner.right() - w : inner.left();
    if (grid->EditorSelectedAll() && !text.isEmpty()) {
      p->fillRect(QRect(x - 1, inner.top() + 2, w + 2, inner.height() - 4), pal.color(QPalette::Highlight));
      p->setPen(pal.color(QPalette::HighlightedText));
    } else {
      p->setPen(pal.color(QPalette::Text));
      const int caret = (a & Qt::AlignRight) ? inner.right() + 1 : x + w + 1;
      p->drawLine(caret, inner.top() + 3, caret, inner.bottom() - 3);
    }
    p->drawText(QRect(x, inner.top(), w + 1, inner.height()), Qt::AlignVCenter | Qt::AlignLeft, text);
    p->restore();
  }
};

// Tool buttons by their command: an icon of the freedesktop theme (with a
// second name where themes differ).
QIcon toolIcon(const std::string& name) {
  static const std::pair<const char*, std::pair<const char*, const char*>> icons[] = {
      {"sbtIncluir", {"list-add", "document-new"}},
      {"sbtAlterar", {"accessories-text-editor", "document-properties"}},
      {"sbtExcluir", {"list-remove", "edit-delete"}},
      {"sbtProcurar", {"edit-find", "system-search"}},
      {"sbtVerificar", {"view-refresh", "system-search"}},
      {"sbtImprimir", {"document-print", "printer"}},
      {"sbtPrint", {"document-print", "printer"}},
      {"sbtPreview", {"document-print-preview", "document-print"}},
      {"sbtSalvarComo", {"document-save-as", "document-save"}},
      {"sbtReportEdit", {"document-properties", "accessories-text-editor"}},
      {"sbtCancelar", {"edit-undo", "process-stop"}},
      {"sbtCancel", {"edit-undo", "process-stop"}},
      {"sbtConfirmar", {"document-save", "emblem-default"}},
      {"sbtConfirma", {"document-save", "emblem-default"}},
      {"sbtAjuda", {"help-browser", "help-contents"}},
      {"sbtHelp", {"help-browser", "help-contents"}},
      {"sbtFechar", {"system-log-out", "window-close"}},
      {"sbtClose", {"system-log-out", "window-close"}},
      {"sbtConsolidar", {"x-office-spreadsheet", "view-sort-ascending"}},
  };
  for (auto& [button, names] : icons)
    if (name == button) return QIcon::fromTheme(names.first, QIcon::fromTheme(names.second));
  return {};
}

Qt::Alignment align(ui::TAlignment a) {
  switch (a) {
    case ui::TAlignment::RightJustify: return Qt::AlignRight | Qt::AlignVCenter;
    case ui::TAlignment::Center: return Qt::AlignCenter;
    default: return Qt::AlignLeft | Qt::AlignVCenter;
  }
}

// The rows of a data-aware grid, read from its data set without moving it;
// the current row shows the grid's own cell text (the in-place editor's text
// while the user types). A row being inserted is shown last.
class GridModel : public QAbstractTableModel {
public:
  explicit GridModel(ui::TDBGrid* g) : grid(g) {}
  ui::TDBGrid* grid;
  int rows = 0, cols = 0;

  bool inserting() const {
    auto* ds = grid->DataSet();
    return ds && ds->Active() && ds->State() == data::TDataSetState::Insert;
  }
  int currentRow() const { return inserting() ? grid->RowCount() : grid->Row() - 1; }
  int countRows() const { return grid->RowCount() + (inserting() ? 1 : 0); }

  int rowCount(const QModelIndex& p) const override { return p.isValid() ? 0 : rows; }
  int columnCount(const QModelIndex& p) const override { return p.isValid() ? 0 : cols; }
  QVariant data(const QModelIndex& idx, int role) const override {
    if (!idx.isValid() || idx.column() >= grid->ColumnCount()) return {};
    ui::TColumn& c = grid->Columns(idx.column());
    if (role == Qt::TextAlignmentRole) {
      data::TField* f = c.Field();
      bool numeric = f && (f->DataType() == data::TFieldType::Float || f->DataType() == data::TFieldType::Integer);
      return QVariant::fromValue(align(numeric && c.Alignment == ui::TAlignment::LeftJustify
                                           ? ui::TAlignment::RightJustify : c.Alignment));
    }
    if (role != Qt::DisplayRole) return {};
    std::string text;
    if (idx.row() == currentRow()) {
      text = grid->CellText(idx.column());
      if (c.ButtonStyle == ui::TColumnButtonStyle::Ellipsis && idx.column() == grid->SelectedIndex()) text += "  …";
    } else if (data::TField* f = c.Field(); f && idx.row() < grid->RowCount()) {
      text = grid->DataSet()->RecordDisplayText(idx.row() + 1, *f);
    }
    return q(text);
  }
  QVariant headerData(int s, Qt::Orientation o, int role) const override {
    if (o == Qt::Horizontal && s < grid->ColumnCount()) {
      if (role == Qt::DisplayRole) return q(grid->TitleText(s));
      if (role == Qt::TextAlignmentRole) return QVariant::fromValue(align(grid->Columns(s).Title.Alignment));
    }
    if (o == Qt::Vertical && role == Qt::DisplayRole) {
      if (s != currentRow()) return QString();
      auto st = grid->DataSet() ? grid->DataSet()->State() : data::TDataSetState::Inactive;
      return st == data::TDataSetState::Edit ? QStringLiteral("I") : st == data::TDataSetState::Insert ? QStringLiteral("*") : QStringLiteral("▶");
    }
    return {};
  }
  void reload() {
    int r = countRows(), c = grid->ColumnCount();
    if (r != rows || c != cols) {
      beginResetModel();
      rows = r, cols = c;
      endResetModel();
    } else if (rows > 0 && cols > 0) {
      emit dataChanged(index(0, 0), index(rows - 1, cols - 1));
      emit headerDataChanged(Qt::Vertical, 0, rows - 1);
    }
    if (cols > 0) emit headerDataChanged(Qt::Horizontal, 0, cols - 1);
  }
};

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

std::vector<CellAction>& Binding::cellActions() {
  static std::vector<CellAction> actions;
  return actions;
}

void Binding::AddCellAction(CellAction action) { cellActions().push_back(std::move(action)); }

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

bool isLive(ui::TCustomForm* f) {
  for (ui::TCustomForm* x : ui::Screen().Forms())
    if (x == f) return true;
  return false;
}

void Binding::syncForms() {
  // Views of forms that are gone; their pointers are not followed.
  for (auto it = views_.begin(); it != views_.end();) {
    if (!isLive(it->first) || !it->second) {
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

// ---------------------------------------------------------------------------
struct FormView::Item {
  ui::TControl* control = nullptr;
  QWidget* widget = nullptr;
  QWidget* focusTarget = nullptr;  // what takes the keyboard focus
  GridModel* model = nullptr;
  QTableView* table = nullptr;
  QTabWidget* tabs = nullptr;
  EditorCellDelegate* delegate = nullptr;
  std::map<int, int> userWidths;  // columns the user resized, kept as they left them
  std::map<int, int> fitted;      // the widths given so far
  std::vector<std::pair<ui::TNavigateBtn, QToolButton*>> navButtons;
};

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

namespace {

bool hasGridOrPages(ui::TControl* c) {
  if (dynamic_cast<ui::TDBGrid*>(c) || dynamic_cast<ui::TPageControl*>(c)) return true;
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
    if (dynamic_cast<ui::TButtonFlat*>(x)) tools = true;
    if (dynamic_cast<ui::TCustomEdit*>(x) && !dynamic_cast<ui::TDBEdit*>(x)) input = true;
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
      if (dynamic_cast<ui::TLabel*>(*it)) {
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
    for (ui::TControl* c : children) toolRow |= dynamic_cast<ui::TButtonFlat*>(c) != nullptr;
  }
  // Beside a page control, the panels of small lists (billed services,
  // turnstiles) share one row, and the page control takes most of the height.
  bool besidePages = false;
  if (stacked)
    for (ui::TControl* c : children) besidePages |= dynamic_cast<ui::TPageControl*>(c) != nullptr;
  QHBoxLayout* listRow = nullptr;
  std::vector<ui::TControl*> codes;
  for (ui::TControl* c : children) {
    if (toolRow && dynamic_cast<ui::TLabel*>(c)) {
      codes.push_back(c);
      continue;
    }
    QWidget* child = build(c, w);
    if (!child) continue;
    const bool big = hasGridOrPages(c);
    if (besidePages && big && !dynamic_cast<ui::TPageControl*>(c)) {
      if (!listRow) {
        listRow = new QHBoxLayout;
        lay->addLayout(listRow, 1);
      }
      listRow->addWidget(child, 1);
      continue;
    }
    if (besidePages && dynamic_cast<ui::TPageControl*>(c)) {
      lay->addWidget(child, 4);
      continue;
    }
    if (stacked && dynamic_cast<ui::TDBGrid*>(c) && ++grids > 1) {
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
    if (dynamic_cast<ui::TComboBox*>(c)) return 1;
    return stackRank(c) == 0 ? 2 : 0;
  };
  std::stable_sort(children.begin(), children.end(),
                   [&](ui::TControl* a, ui::TControl* b) { return rank(a) < rank(b); });
  QHBoxLayout* row = nullptr;
  bool rowHasField = false;
  for (ui::TControl* c : children) {
    const bool container = dynamic_cast<ui::TPanel*>(c) || dynamic_cast<ui::TGroupBox*>(c);
    const bool label = dynamic_cast<ui::TLabel*>(c) != nullptr;
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

QWidget* FormView::build(ui::TControl* c, QWidget* parent) {
  auto item = std::make_unique<Item>();
  item->control = c;
  QWidget* w = nullptr;
  if (auto* g = dynamic_cast<ui::TDBGrid*>(c)) {
    auto* t = new QTableView(parent);
    item->model = new GridModel(g);
    item->model->setParent(t);
    t->setModel(item->model);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setSelectionBehavior(g->HasOption(ui::dgRowSelect) ? QAbstractItemView::SelectRows
                                                           : QAbstractItemView::SelectItems);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->verticalHeader()->setFixedWidth(18);
    t->horizontalHeader()->setVisible(g->HasOption(ui::dgTitles));
    t->horizontalHeader()->setStretchLastSection(true);
    t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 6);
    // Keys reach the table, clicks its viewport: both go to the toolkit (the
    // table's own keyboard search would swallow what the user types).
    t->installEventFilter(this);
    t->viewport()->installEventFilter(this);
    t->setMinimumHeight(120);
    item->delegate = new EditorCellDelegate(g, t);
    t->setItemDelegate(item->delegate);
    // The grid with the keyboard is framed; the others keep their place.
    t->setStyleSheet("QTableView { border: 2px solid palette(midlight); }"
                     "QTableView:focus { border: 2px solid palette(highlight); }");
    // A column the user widened stays so.
    connect(t->horizontalHeader(), &QHeaderView::sectionResized, this, [this, t](int col, int, int size) {
      if (settingWidths_) return;
      if (Item* it = byWidget_.count(t) ? byWidget_[t] : nullptr) it->userWidths[col] = size;
    });
    item->table = t;
    w = t;
  } else if (auto* pc = dynamic_cast<ui::TPageControl*>(c)) {
    auto* tabs = new FocusTabWidget(parent);
    for (int i = 0; i < pc->PageCount(); ++i) {
      ui::TTabSheet* page = pc->Pages(i);
      auto* pw = new QWidget;
      layoutChildren(page, pw);
      if (!pw->layout()) new QVBoxLayout(pw);
      tabs->addTab(pw, caption(page->Caption()));
    }
    tabs->tabBar()->installEventFilter(this);
    // Focus only as the toolkit gives it (clicks go to the toolkit first).
    tabs->tabBar()->setFocusPolicy(Qt::ClickFocus);
    tabs->setFocusProxy(tabs->tabBar());
    item->tabs = tabs;
    w = tabs;
  } else if (auto* nav = dynamic_cast<ui::TDBNavigator*>(c)) {
    auto* box = new QWidget(parent);
    auto* lay = new QHBoxLayout(box);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(1);
    const std::pair<ui::TNavigateBtn, const char*> buttons[] = {
        {ui::TNavigateBtn::First, "|◀"}, {ui::TNavigateBtn::Prior, "◀"}, {ui::TNavigateBtn::Next, "▶"},
        {ui::TNavigateBtn::Last, "▶|"}};
    for (auto [b, text] : buttons) {
      auto* tb = new QToolButton(box);
      tb->setText(QString::fromUtf8(text));
      tb->setFocusPolicy(Qt::NoFocus);
      connect(tb, &QToolButton::clicked, this, [this, nav, b = b] { binding_.perform([nav, b] { nav->Click(b); }); });
      lay->addWidget(tb);
      item->navButtons.emplace_back(b, tb);
    }
    w = box;
  } else if (dynamic_cast<ui::TCustomEdit*>(c)) {
    auto* e = new QLineEdit(parent);
    e->setContextMenuPolicy(Qt::NoContextMenu);
    e->installEventFilter(this);
    auto* ce = dynamic_cast<ui::TCustomEdit*>(c);
    auto* me = dynamic_cast<ui::TMaskEdit*>(c);
    int chars = me && me->IsMasked() ? static_cast<int>(me->EditText().size()) : ce->MaxLength;
    if (dynamic_cast<ui::TDateEditPlus*>(c)) chars = 10;
    int px = chars > 0 ? e->fontMetrics().horizontalAdvance(QString(chars + 2, QChar('W'))) : 200;
    if (!ce->TabStop && !ce->Enabled()) {
      // A name shown beside a code: room for a branch's or a service's name.
      e->setFocusPolicy(Qt::NoFocus);
      const int name = e->fontMetrics().averageCharWidth() * 30;
      e->setMinimumWidth(std::min(chars > 0 ? std::max(px, 90) : name, name));
      e->setMaximumWidth(chars > 0 ? std::max(px, name) : name * 3 / 2);
    } else {
      e->setFixedWidth(std::min(std::max(px, 48), 260));
    }
    w = e;
  } else if (auto* b = dynamic_cast<ui::TBtnPesquisa*>(c)) {
    auto* tb = new QToolButton(parent);
    tb->setText(QStringLiteral("…"));
    tb->setFocusPolicy(Qt::NoFocus);
    connect(tb, &QToolButton::clicked, this, [this, b] { binding_.perform([b] { b->Click(); }); });
    w = tb;
  } else if (auto* bf = dynamic_cast<ui::TButtonFlat*>(c)) {
    auto* tb = new QToolButton(parent);
    tb->setFocusPolicy(Qt::NoFocus);
    tb->setAutoRaise(true);
    tb->setIcon(toolIcon(bf->Name()));
    tb->setIconSize(QSize(20, 20));
    tb->setToolButtonStyle(tb->icon().isNull() ? Qt::ToolButtonTextOnly : Qt::ToolButtonTextBesideIcon);
    connect(tb, &QToolButton::clicked, this, [this, bf] {
      binding_.perform([bf] {
        if (bf->EnabledInTree()) bf->Click();
      });
    });
    w = tb;
  } else if (auto* pb = dynamic_cast<ui::TButton*>(c)) {
    auto* b2 = new QPushButton(parent);
    b2->installEventFilter(this);
    connect(b2, &QPushButton::clicked, this, [this, pb] {
      binding_.perform([pb] {
        pb->SetFocus();
        if (pb->Focused()) pb->Click();
      });
    });
    w = b2;
  } else if (auto* cb = dynamic_cast<ui::TCheckBox*>(c)) {
    auto* b2 = new QCheckBox(parent);
    b2->installEventFilter(this);
    w = b2;
    (void)cb;
  } else if (auto* rb = dynamic_cast<ui::TRadioButton*>(c)) {
    auto* b2 = new QRadioButton(parent);
    // The toolkit keeps the group exclusive; Qt only shows it.
    b2->setAutoExclusive(false);
    b2->installEventFilter(this);
    w = b2;
    (void)rb;
  } else if (auto* combo = dynamic_cast<ui::TComboBox*>(c)) {
    auto* b2 = new QComboBox(parent);
    b2->setEditable(combo->Style == ui::TComboBoxStyle::DropDown);
    b2->setMinimumWidth(360);
    b2->setFocusPolicy(combo->TabStop ? Qt::StrongFocus : Qt::ClickFocus);
    b2->installEventFilter(this);
    connect(b2, &QComboBox::activated, this, [this, combo](int i) {
      binding_.perform([combo, i] {
        if (combo->EnabledInTree() && i != combo->ItemIndex()) combo->Select(i);
      });
    });
    w = b2;
  } else if (auto* gb = dynamic_cast<ui::TGroupBox*>(c)) {
    auto* box = new QGroupBox(parent);
    layoutChildren(gb, box);
    w = box;
  } else if (dynamic_cast<ui::TLabel*>(c) || dynamic_cast<ui::TDBText*>(c)) {
    w = new QLabel(parent);
  } else if (auto* wc = dynamic_cast<ui::TWinControl*>(c)) {
    auto* panel = new QWidget(parent);
    layoutChildren(wc, panel);
    w = panel;
  } else {
    return nullptr;
  }
  w->setObjectName(q(c->Name()));
  item->widget = w;
  item->focusTarget = item->table ? item->table : w;
  byWidget_[w] = item.get();
  if (item->table) byWidget_[item->table->viewport()] = item.get();
  if (item->tabs) byWidget_[item->tabs->tabBar()] = item.get();
  byControl_[c] = item.get();
  items_.push_back(std::move(item));
  return w;
}

// Column widths come from the screens in the pixels of a smaller font: they
// are scaled by the font in use, and a column is never narrower than its
// caption or the widest text it shows. Widths only grow while the screen is
// open (typing does not make columns jump), and a column the user resized
// keeps the user's width.
void FormView::fitColumns(Item& it) {
  auto* g = static_cast<ui::TDBGrid*>(it.control);
  const QFontMetrics cells = it.table->fontMetrics();
  QFont bold = it.table->horizontalHeader()->font();
  const QFontMetrics titles(bold);
  const double scale = std::max(1.0, cells.averageCharWidth() / 5.5);
  data::TClientDataSet* ds = g->DataSet();
  const int rows = ds && ds->Active() ? std::min(g->RowCount(), 400) : 0;
  settingWidths_ = true;
  for (int i = 0; i < g->ColumnCount(); ++i) {
    ui::TColumn& col = g->Columns(i);
    it.table->setColumnHidden(i, !col.Visible);
    if (it.userWidths.count(i)) continue;
    int w = static_cast<int>(col.Width * scale);
    w = std::max(w, titles.horizontalAdvance(q(g->TitleText(i))) + 16);
    if (data::TField* f = col.Field()) {
      for (int r = 1; r <= rows; ++r) w = std::max(w, cells.horizontalAdvance(q(ds->RecordDisplayText(r, *f))) + 14);
      // Names get room for their data, up to a sensible width.
      if (f->DataType() == data::TFieldType::String && f->FieldName().rfind("NM", 0) == 0)
        w = std::max(w, cells.averageCharWidth() * std::min(f->Size(), 32));
    }
    w = std::max(w, cells.horizontalAdvance(q(g->CellText(i))) + 14);
    w = std::min(w, 520);
    auto [at, fresh] = it.fitted.emplace(i, w);
    if (!fresh && w <= at->second) continue;
    at->second = w;
    it.table->setColumnWidth(i, w);
  }
  settingWidths_ = false;
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
  if (!isLive(form_)) return;
  renderMenu();
  for (auto& it : items_) renderItem(*it);
}

void FormView::renderItem(Item& it) {
  ui::TControl* c = it.control;
  QWidget* w = it.widget;
  if (w->isHidden() == c->Visible()) w->setVisible(c->Visible());
  w->setEnabled(c->Enabled());
  if (!c->Hint().empty()) w->setToolTip(q(c->Hint()));
  if (it.model) {
    auto* g = static_cast<ui::TDBGrid*>(c);
    it.model->reload();
    fitColumns(it);
    const int row = it.model->currentRow();
    it.delegate->editorRow = row;
    // Only the grid with the keyboard shows its current cell selected; the
    // others show their current row by the marker only.
    const bool focused = ui::Screen().ActiveForm() == form_ && ui::Screen().ActiveControl() == c;
    if (row >= 0 && row < it.model->rows && g->SelectedIndex() < it.model->cols) {
      QModelIndex idx = it.model->index(row, g->SelectedIndex());
      const auto rows = g->HasOption(ui::dgRowSelect) ? QItemSelectionModel::Rows : QItemSelectionModel::NoUpdate;
      it.table->selectionModel()->setCurrentIndex(
          idx, focused ? QItemSelectionModel::ClearAndSelect | rows : QItemSelectionModel::Clear);
      it.table->scrollTo(idx);
    } else {
      it.table->selectionModel()->clearSelection();
    }
    it.table->viewport()->update();
  } else if (it.tabs) {
    auto* pc = static_cast<ui::TPageControl*>(c);
    QSignalBlocker block(it.tabs);
    for (int i = 0; i < pc->PageCount() && i < it.tabs->count(); ++i) {
      it.tabs->setTabText(i, caption(pc->Pages(i)->Caption()));
      it.tabs->setTabVisible(i, pc->Pages(i)->TabVisible());
      it.tabs->setTabEnabled(i, pc->Pages(i)->Enabled());
    }
    if (pc->ActivePageIndex() >= 0) it.tabs->setCurrentIndex(pc->ActivePageIndex());
    // A lone page without a caption is no choice: no tab for it.
    int shown = 0;
    bool captioned = false;
    for (int i = 0; i < pc->PageCount(); ++i)
      if (pc->Pages(i)->TabVisible()) ++shown, captioned |= !pc->Pages(i)->Caption().empty();
    it.tabs->tabBar()->setVisible(shown > 1 || captioned);
  } else if (!it.navButtons.empty()) {
    auto* nav = static_cast<ui::TDBNavigator*>(c);
    for (auto& [b, tb] : it.navButtons) tb->setEnabled(nav->EnabledInTree() && nav->ButtonEnabled(b));
  } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
    QString text = q(ui::Driver::text(*c));
    if (e->text() != text) e->setText(text);
    auto* ce = static_cast<ui::TCustomEdit*>(c);
    if (ce->SelectedAll() && !text.isEmpty()) e->selectAll();
    else e->setCursorPosition(e->hasFocus() ? static_cast<int>(text.size()) : 0);
    e->setReadOnly(ce->ReadOnly());
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    if (auto* lb = dynamic_cast<ui::TLabel*>(c)) {
      l->setText(caption(lb->Caption()));
      QFont f = l->font();
      f.setBold(lb->Bold());
      l->setFont(f);
      l->setAlignment(align(lb->Alignment));
    } else {
      l->setText(q(ui::Driver::text(*c)));
    }
  } else if (auto* tb = qobject_cast<QToolButton*>(w)) {
    if (auto* bf = dynamic_cast<ui::TButtonFlat*>(c)) {
      QString text = caption(bf->Caption());
      tb->setText(text.isEmpty() ? q(bf->Name()).mid(3) : text);
      tb->setDown(bf->Down);
      // The tip names the command and its key.
      QString tip = c->Hint().empty() ? tb->text() : q(c->Hint());
      if (ui::TMenuItem* m = bf->MenuItem(); m && m->ShortCut()) tip += " (" + q(ui::ShortCutToText(m->ShortCut())) + ")";
      tb->setToolTip(tip);
    }
  } else if (auto* pb = qobject_cast<QPushButton*>(w)) {
    pb->setText(caption(c->Caption()));
  } else if (auto* cb = qobject_cast<QCheckBox*>(w)) {
    cb->setText(caption(c->Caption()));
    cb->setChecked(static_cast<ui::TCheckBox*>(c)->Checked());
  } else if (auto* rb = qobject_cast<QRadioButton*>(w)) {
    rb->setText(caption(c->Caption()));
    rb->setChecked(static_cast<ui::TRadioButton*>(c)->Checked());
  } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
    auto* cc = static_cast<ui::TComboBox*>(c);
    QSignalBlocker block(combo);
    QStringList items;
    for (const std::string& i : cc->Items) items << q(i);
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
    if (shown != items) {
      combo->clear();
      combo->addItems(items);
    }
    combo->setCurrentIndex(cc->ItemIndex());
  } else if (auto* gb = qobject_cast<QGroupBox*>(w)) {
    gb->setTitle(caption(c->Caption()));
  }
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
  for (const CellAction& a : Binding::cellActions())
    if (!a.shortcut.isEmpty() && a.shortcut == keys) {
      binding_.perform([&a, g] { a.run(*g, g->DataSet(), g->SelectedField()); });
      return true;
    }
  return false;
}

void FormView::cellMenu(Item& it, QPoint pos) {
  auto* g = static_cast<ui::TDBGrid*>(it.control);
  const QModelIndex idx = it.table->indexAt(pos);
  if (!idx.isValid() || Binding::cellActions().empty()) return;
  // The cell is picked first, as a left click picks it.
  int recNo = idx.row() == it.model->currentRow() && it.model->inserting() ? g->Row() : idx.row() + 1;
  binding_.perform([g, recNo, col = idx.column()] { g->ClickCell(recNo, col); });
  if (focusedGrid() != g || g->SelectedIndex() != idx.column()) return;
  QMenu menu(this);
  for (const CellAction& a : Binding::cellActions()) {
    QAction* act = menu.addAction(a.text);
    act->setShortcut(a.shortcut);
    if (a.enabled) act->setEnabled(a.enabled(*g, g->DataSet(), g->SelectedField()));
    connect(act, &QAction::triggered, this,
            [this, &a, g] { binding_.perform([&a, g] { a.run(*g, g->DataSet(), g->SelectedField()); }); });
  }
  menu.exec(it.table->viewport()->mapToGlobal(pos));
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

bool FormView::eventFilter(QObject* watched, QEvent* event) {
  if (auto* sub = qobject_cast<QMdiSubWindow*>(watched)) {
    if (event->type() == QEvent::Close) {
      // The window's close button: the form decides (it may refuse).
      event->ignore();
      binding_.perform([f = form_] { f->Close(); });
      return true;
    }
    (void)sub;
    return false;
  }
  auto found = byWidget_.find(watched);
  if (found == byWidget_.end()) return false;
  Item& it = *found->second;
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* ke = static_cast<QKeyEvent*>(event);
      if (it.table && binding_.onCellHistory && ke->key() == Qt::Key_H &&
          (ke->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier) {
        binding_.onCellHistory(*static_cast<ui::TDBGrid*>(it.control), it.table, nullptr);
        return true;
      }
      return dispatchKey(ke);
    }
    case QEvent::ContextMenu:
      if (it.table && watched == it.table->viewport()) {
        cellMenu(it, static_cast<QContextMenuEvent*>(event)->pos());
        return true;
      }
      return false;
    case QEvent::ShortcutOverride:
      event->accept();  // every key is the toolkit's, none is a Qt shortcut
      return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      auto* me = static_cast<QMouseEvent*>(event);
      if (me->button() == Qt::RightButton && it.table && watched == it.table->viewport() && binding_.onCellHistory) {
        auto* g = static_cast<ui::TDBGrid*>(it.control);
        QModelIndex idx = it.table->indexAt(me->position().toPoint());
        if (!idx.isValid() || idx.row() >= g->RowCount()) return true;
        binding_.perform([g, recNo = idx.row() + 1, col = idx.column()] { g->ClickCell(recNo, col); });
        // A refused move (a column check) leaves the cell where it was: no menu then.
        if (g->SelectedIndex() != idx.column() || g->DataSource()->DataSet()->RecNo() != idx.row() + 1) return true;
        const QPoint at = me->globalPosition().toPoint();
        binding_.onCellHistory(*g, it.table, &at);
        return true;
      }
      if (me->button() != Qt::LeftButton) return true;
      const QPoint pos = me->position().toPoint();
      if (it.tabs && watched == it.tabs->tabBar()) {
        int i = it.tabs->tabBar()->tabAt(pos);
        auto* pc = static_cast<ui::TPageControl*>(it.control);
        if (i >= 0 && i < pc->PageCount())
          binding_.perform([pc, page = pc->Pages(i)] { pc->SelectPage(page); });
        return true;
      }
      if (it.table && watched == it.table->viewport()) {
        auto* g = static_cast<ui::TDBGrid*>(it.control);
        QModelIndex idx = it.table->indexAt(pos);
        if (!idx.isValid()) {
          binding_.perform([g] {
            if (g->CanFocus()) g->SetFocus();
          });
          return true;
        }
        const QRect cell = it.table->visualRect(idx);
        const bool onButton = idx.row() == it.model->currentRow() && idx.column() == g->SelectedIndex() &&
                              g->Columns(idx.column()).ButtonStyle == ui::TColumnButtonStyle::Ellipsis &&
                              pos.x() > cell.right() - 22;
        if (onButton) {
          binding_.perform([g] { g->ClickEditButton(); });
        } else if (idx.row() < g->RowCount() || idx.row() == it.model->currentRow()) {
          int recNo = idx.row() == it.model->currentRow() && it.model->inserting() ? g->Row() : idx.row() + 1;
          binding_.perform([g, recNo, col = idx.column()] { g->ClickCell(recNo, col); });
          if (event->type() == QEvent::MouseButtonDblClick && g->OnDblClick)
            binding_.perform([g] { g->OnDblClick(*g); });
        }
        return true;
      }
      if (auto* wc = dynamic_cast<ui::TWinControl*>(it.control)) {
        if (dynamic_cast<ui::TCheckBox*>(wc)) {
          auto* cb = static_cast<ui::TCheckBox*>(wc);
          binding_.perform([cb] {
            if (!cb->CanFocus()) return;
            cb->SetFocus();
            if (cb->Focused()) cb->SetChecked(!cb->Checked());
          });
          return true;
        }
        if (dynamic_cast<ui::TRadioButton*>(wc)) {
          auto* rb = static_cast<ui::TRadioButton*>(wc);
          binding_.perform([rb] {
            if (!rb->CanFocus()) return;
            rb->SetFocus();
            if (rb->Focused() && !rb->Checked()) rb->SetChecked(true);
          });
          return true;
        }
        if (dynamic_cast<ui::TComboBox*>(wc)) return false;  // Qt's list opens; activated() picks
        if (dynamic_cast<ui::TButton*>(wc)) return false;  // clicked() runs it
        binding_.perform([wc] {
          if (wc->CanFocus()) wc->SetFocus();
        });
        return true;
      }
      return false;
    }
    case QEvent::FocusIn: {
      // Qt moved the focus on its own (window activation): tell the toolkit,
      // whose exit handlers may send it back.
      auto* wc = dynamic_cast<ui::TWinControl*>(it.control);
      auto reason = static_cast<QFocusEvent*>(event)->reason();
      // A click is the toolkit's to decide (the press goes to it next).
      if (wc && reason != Qt::OtherFocusReason && reason != Qt::MouseFocusReason &&
          ui::Screen().ActiveControl() != wc)
        QTimer::singleShot(0, this, [this, wc] {
          if (isLive(form_)) binding_.perform([wc] {
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
