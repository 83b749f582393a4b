// The views of every kind of control but the grid (grid_view.cpp), and the
// registry that picks one for a control.

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <functional>
#include <typeindex>
#include <unordered_map>

#include "desktop/binding.h"
#include "desktop/view_text.h"
#include "platform/ui/comctrls.h"
#include "platform/ui/dbctrls.h"
#include "platform/ui/dbgrids.h"
#include "platform/ui/driver.h"
#include "platform/ui/maskedit.h"
#include "platform/ui/menus.h"
#include "platform/ui/stdctrls.h"

namespace desktop {

bool ControlView::press(ControlItem&, QObject*, QMouseEvent& e, FormView&) const {
  return e.button() != Qt::LeftButton;
}

bool ControlView::contextMenu(ControlItem&, QObject*, QContextMenuEvent&, FormView&) const { return false; }

bool WinControlView::press(ControlItem& it, QObject*, QMouseEvent& e, FormView& form) const {
  if (e.button() != Qt::LeftButton) return true;
  auto* wc = static_cast<ui::TWinControl*>(it.control);
  form.binding().perform([wc] {
    if (wc->CanFocus()) wc->SetFocus();
  });
  return true;
}

namespace {

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

class PagesView final : public WinControlView {
public:
  PagesView() : WinControlView(Role::Pages) {}
  QWidget* create(ControlItem& it, QWidget* parent, FormView& form) const override {
    auto* pc = static_cast<ui::TPageControl*>(it.control);
    auto* tabs = new FocusTabWidget(parent);
    for (int i = 0; i < pc->PageCount(); ++i) {
      ui::TTabSheet* page = pc->Pages(i);
      auto* pw = new QWidget;
      form.layoutChildren(page, pw);
      if (!pw->layout()) new QVBoxLayout(pw);
      tabs->addTab(pw, caption(page->Caption()));
    }
    form.watch(tabs->tabBar(), it);
    // Focus only as the toolkit gives it (clicks go to the toolkit first).
    tabs->tabBar()->setFocusPolicy(Qt::ClickFocus);
    tabs->setFocusProxy(tabs->tabBar());
    it.tabs = tabs;
    return tabs;
  }
  void render(ControlItem& it, FormView&) const override {
    auto* pc = static_cast<ui::TPageControl*>(it.control);
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
  }
  // A click on a tab picks the page as the user's choice: the page checks run.
  bool press(ControlItem& it, QObject* watched, QMouseEvent& e, FormView& form) const override {
    if (watched != it.tabs->tabBar()) return WinControlView::press(it, watched, e, form);
    if (e.button() != Qt::LeftButton) return true;
    int i = it.tabs->tabBar()->tabAt(e.position().toPoint());
    auto* pc = static_cast<ui::TPageControl*>(it.control);
    if (i >= 0 && i < pc->PageCount()) form.binding().perform([pc, page = pc->Pages(i)] { pc->SelectPage(page); });
    return true;
  }
};

class NavigatorView final : public WinControlView {
public:
  NavigatorView() : WinControlView(Role::Other) {}
  QWidget* create(ControlItem& it, QWidget* parent, FormView& form) const override {
    auto* nav = static_cast<ui::TDBNavigator*>(it.control);
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
      QObject::connect(tb, &QToolButton::clicked, &form,
                       [&form, nav, b = b] { form.binding().perform([nav, b] { nav->Click(b); }); });
      lay->addWidget(tb);
      it.navButtons.emplace_back(b, tb);
    }
    return box;
  }
  void render(ControlItem& it, FormView&) const override {
    auto* nav = static_cast<ui::TDBNavigator*>(it.control);
    for (auto& [b, tb] : it.navButtons) tb->setEnabled(nav->EnabledInTree() && nav->ButtonEnabled(b));
  }
};

// Edits, masked and date edits, data-aware edits: the toolkit keeps the text,
// the caret and the selection; the line edit shows them.
class EditView final : public WinControlView {
public:
  explicit EditView(Role role) : WinControlView(role) {}
  QWidget* create(ControlItem& it, QWidget* parent, FormView& form) const override {
    auto* ce = static_cast<ui::TCustomEdit*>(it.control);
    auto* e = new QLineEdit(parent);
    e->setContextMenuPolicy(Qt::NoContextMenu);
    form.watch(e, it);
    auto* me = dynamic_cast<ui::TMaskEdit*>(ce);
    int chars = me && me->IsMasked() ? static_cast<int>(me->EditText().size()) : ce->MaxLength;
    if (dynamic_cast<ui::TDateEditPlus*>(ce)) chars = 10;
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
    return e;
  }
  void render(ControlItem& it, FormView&) const override {
    auto* e = static_cast<QLineEdit*>(it.widget);
    auto* ce = static_cast<ui::TCustomEdit*>(it.control);
    QString text = q(ui::Driver::text(*ce));
    if (e->text() != text) e->setText(text);
    if (ce->SelectedAll() && !text.isEmpty()) e->selectAll();
    else e->setCursorPosition(e->hasFocus() ? static_cast<int>(text.size()) : 0);
    e->setReadOnly(ce->ReadOnly());
  }
};

// The lookup button beside a code: a click runs the lookup, the focus stays.
class SearchButtonView final : public ControlView {
public:
  SearchButtonView() : ControlView(Role::Other) {}
  QWidget* create(ControlItem& it, QWidget* parent, FormView& form) const override {
    auto* b = static_cast<ui::TBtnPesquisa*>(it.control);
    auto* tb = new QToolButton(parent);
    tb->setText(QStringLiteral("…"));
    tb->setFocusPolicy(Qt::NoFocus);
    QObject::connect(tb, &QToolButton::clicked, &form, [&form, b] { form.binding().perform([b] { b->Click(); }); });
    return tb;
  }
  void render(ControlItem&, FormView&) const override {}
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

class ToolButtonView final : public ControlView {
public:
  ToolButtonView() : ControlView(Role::Tool) {}
  QWidget* create(ControlItem& it, QWidget* parent, FormView& form) const override {
    auto* bf = static_cast<ui::TButtonFlat*>(it.control);
    auto* tb = new QToolButton(parent);
    tb->setFocusPolicy(Qt::NoFocus);
    tb->setAutoRaise(true);
    tb->setIcon(toolIcon(bf->Name()));
    tb->setIconSize(QSize(20, 20));
    tb->setToolButtonStyle(tb->icon().isNull() ? Qt::ToolButtonTextOnly : Qt::ToolButtonTextBesideIcon);
    QObject::connect(tb, &QToolButton::clicked, &form, [&form, bf] {
      form.binding().perform([bf] {
        if (bf->EnabledInTree()) bf->Click();
      });
    });
    return tb;
  }
  void render(ControlItem& it, FormView&) const override {
    auto* tb = static_cast<QToolButton*>(it.widget);
    auto* bf = static_cast<ui::TButtonFlat*>(it.control);
    QString text = caption(bf->Caption());
    tb->setText(text.isEmpty() ? q(bf->Name()).mid(3) : text);
    tb->setDown(bf->Down);
    // The tip names the command and its key.
    QString tip = bf->Hint().empty() ? tb->text() : q(bf->Hint());
    if (ui::TMenuItem* m = bf->MenuItem(); m && m->ShortCut()) tip += " (" + q(ui::ShortCutToText(m->ShortCut())) + ")";
    tb->setToolTip(tip);
  }
};

// A push button runs as a click in the toolkit would: it takes the focus
// first, and a focus move refused by an exit check cancels the click.
class PushButtonView final : public WinControlView {
public:
  PushButtonView() : WinControlView(Role::Other) {}
  QWidget* create(ControlItem& it, QWidget* parent, FormView& form) const override {
    auto* pb = static_cast<ui::TButton*>(it.control);
    auto* b = new QPushButton(parent);
    form.watch(b, it);
    QObject::connect(b, &QPushButton::clicked, &form, [&form, pb] {
      form.binding().perform([pb] {
        pb->SetFocus();
        if (pb->Focused()) pb->Click();
      });
    });
    return b;
  }
  void render(ControlItem& it, FormView&) const override {
    static_cast<QPushButton*>(it.widget)->setText(caption(it.control->Caption()));
  }
  bool press(ControlItem&, QObject*, QMouseEvent& e, FormView&) const override {
    return e.button() != Qt::LeftButton;  // clicked() runs it
  }
};

// Check boxes and radio buttons: the toolkit checks them (and keeps a radio
// group exclusive); Qt only shows the state.
class CheckBoxView final : public WinControlView {
public:
  CheckBoxView() : WinControlView(Role::Other) {}
  QWidget* create(ControlItem& it, QWidget* parent, FormView& form) const override {
    auto* b = new QCheckBox(parent);
    form.watch(b, it);
    return b;
  }
  void render(ControlItem& it, FormView&) const override {
    auto* cb = static_cast<QCheckBox*>(it.widget);
    cb->setText(caption(it.control->Caption()));
    cb->setChecked(static_cast<ui::TCheckBox*>(it.control)->Checked());
  }
  bool press(ControlItem& it, QObject*, QMouseEvent& e, FormView& form) const override {
    if (e.button() != Qt::LeftButton) return true;
    auto* cb = static_cast<ui::TCheckBox*>(it.control);
    form.binding().perform([cb] {
      if (!cb->CanFocus()) return;
      cb->SetFocus();
      if (cb->Focused()) cb->SetChecked(!cb->Checked());
    });
    return true;
  }
};

class RadioButtonView final : public WinControlView {
public:
  RadioButtonView() : WinControlView(Role::Other) {}
  QWidget* create(ControlItem& it, QWidget* parent, FormView& form) const override {
    auto* b = new QRadioButton(parent);
    b->setAutoExclusive(false);
    form.watch(b, it);
    return b;
  }
  void render(ControlItem& it, FormView&) const override {
    auto* rb = static_cast<QRadioButton*>(it.widget);
    rb->setText(caption(it.control->Caption()));
    rb->setChecked(static_cast<ui::TRadioButton*>(it.control)->Checked());
  }
  bool press(ControlItem& it, QObject*, QMouseEvent& e, FormView& form) const override {
    if (e.button() != Qt::LeftButton) return true;
    auto* rb = static_cast<ui::TRadioButton*>(it.control);
    form.binding().perform([rb] {
      if (!rb->CanFocus()) return;
      rb->SetFocus();
      if (rb->Focused() && !rb->Checked()) rb->SetChecked(true);
    });
    return true;
  }
};

class ComboBoxView final : public WinControlView {
public:
  ComboBoxView() : WinControlView(Role::Choice) {}
  QWidget* create(ControlItem& it, QWidget* parent, FormView& form) const override {
    auto* combo = static_cast<ui::TComboBox*>(it.control);
    auto* b = new QComboBox(parent);
    b->setEditable(combo->Style == ui::TComboBoxStyle::DropDown);
    b->setMinimumWidth(360);
    b->setFocusPolicy(combo->TabStop ? Qt::StrongFocus : Qt::ClickFocus);
    form.watch(b, it);
    QObject::connect(b, &QComboBox::activated, &form, [&form, combo](int i) {
      form.binding().perform([combo, i] {
        if (combo->EnabledInTree() && i != combo->ItemIndex()) combo->Select(i);
      });
    });
    return b;
  }
  void render(ControlItem& it, FormView&) const override {
    auto* combo = static_cast<QComboBox*>(it.widget);
    auto* cc = static_cast<ui::TComboBox*>(it.control);
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
  }
  bool press(ControlItem&, QObject*, QMouseEvent& e, FormView&) const override {
    return e.button() != Qt::LeftButton;  // Qt's list opens; activated() picks
  }
};

class GroupBoxView final : public WinControlView {
public:
  GroupBoxView() : WinControlView(Role::Container) {}
  QWidget* create(ControlItem& it, QWidget* parent, FormView& form) const override {
    auto* box = new QGroupBox(parent);
    form.layoutChildren(static_cast<ui::TGroupBox*>(it.control), box);
    return box;
  }
  void render(ControlItem& it, FormView&) const override {
    static_cast<QGroupBox*>(it.widget)->setTitle(caption(it.control->Caption()));
  }
};

class LabelView final : public ControlView {
public:
  LabelView() : ControlView(Role::Label) {}
  QWidget* create(ControlItem&, QWidget* parent, FormView&) const override { return new QLabel(parent); }
  void render(ControlItem& it, FormView&) const override {
    auto* l = static_cast<QLabel*>(it.widget);
    auto* lb = static_cast<ui::TLabel*>(it.control);
    l->setText(caption(lb->Caption()));
    QFont f = l->font();
    f.setBold(lb->Bold());
    l->setFont(f);
    l->setAlignment(align(lb->Alignment));
  }
};

class DBTextView final : public ControlView {
public:
  DBTextView() : ControlView(Role::Other) {}
  QWidget* create(ControlItem&, QWidget* parent, FormView&) const override { return new QLabel(parent); }
  void render(ControlItem& it, FormView&) const override {
    static_cast<QLabel*>(it.widget)->setText(q(ui::Driver::text(*it.control)));
  }
};

// Panels, tab sheets and any other container: only their children show.
class PanelView final : public WinControlView {
public:
  explicit PanelView(Role role) : WinControlView(role) {}
  QWidget* create(ControlItem& it, QWidget* parent, FormView& form) const override {
    auto* panel = new QWidget(parent);
    form.layoutChildren(static_cast<ui::TWinControl*>(it.control), panel);
    return panel;
  }
  void render(ControlItem&, FormView&) const override {}
};

// The kinds in the order they are tried: a kind before the kinds it derives
// from (the windowed catch-all last). Each control's concrete class is
// looked up once and remembered.
class Registry {
public:
  template <class T>
  void add(const ControlView& view) {
    kinds_.push_back({[](ui::TControl& c) { return dynamic_cast<T*>(&c) != nullptr; }, &view});
  }
  const ControlView* find(ui::TControl& c) {
    auto [at, fresh] = byClass_.try_emplace(std::type_index(typeid(c)), nullptr);
    if (fresh)
      for (const auto& k : kinds_)
        if (k.is(c)) {
          at->second = k.view;
          break;
        }
    return at->second;
  }

private:
  struct Kind {
    std::function<bool(ui::TControl&)> is;
    const ControlView* view;
  };
  std::vector<Kind> kinds_;
  std::unordered_map<std::type_index, const ControlView*> byClass_;
};

Registry& Kinds() {
  static const PagesView pages;
  static const NavigatorView navigator;
  static const EditView entry(Role::Entry), dataEntry(Role::DataEntry);
  static const SearchButtonView search;
  static const ToolButtonView tool;
  static const PushButtonView push;
  static const CheckBoxView check;
  static const RadioButtonView radio;
  static const ComboBoxView combo;
  static const GroupBoxView group;
  static const LabelView label;
  static const DBTextView dbText;
  static const PanelView panel(Role::Container), other(Role::Other);
  static Registry r = [] {
    Registry k;
    k.add<ui::TDBGrid>(GridControlView());
    k.add<ui::TPageControl>(pages);
    k.add<ui::TDBNavigator>(navigator);
    k.add<ui::TDBEdit>(dataEntry);
    k.add<ui::TCustomEdit>(entry);
    k.add<ui::TBtnPesquisa>(search);
    k.add<ui::TButtonFlat>(tool);
    k.add<ui::TButton>(push);
    k.add<ui::TCheckBox>(check);
    k.add<ui::TRadioButton>(radio);
    k.add<ui::TComboBox>(combo);
    k.add<ui::TGroupBox>(group);
    k.add<ui::TLabel>(label);
    k.add<ui::TDBText>(dbText);
    k.add<ui::TPanel>(panel);
    k.add<ui::TWinControl>(other);  // last: every windowed control is one
    return k;
  }();
  return r;
}

}  // namespace

const ControlView* ViewFor(ui::TControl& c) { return Kinds().find(c); }

Role RoleOf(ui::TControl& c) {
  const ControlView* v = ViewFor(c);
  return v ? v->role() : Role::Other;
}

}  // namespace desktop
