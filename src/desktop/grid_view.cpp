// The data-aware grid's view: a table over a model that reads the data set
// without moving it, the in-place editor painted in its cell, column widths
// fitted to the texts, and clicks turned into the grid's cell clicks. The
// cell actions' menu opens here on a right click.

#include <QAbstractTableModel>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTableView>

#include "desktop/binding.h"
#include "desktop/view_text.h"
#include "platform/ui/dbgrids.h"

namespace desktop {

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

namespace {

// Column widths come from the screens in the pixels of a smaller font: they
// are scaled by the font in use, and a column is never narrower than its
// caption or the widest text it shows. Widths only grow while the screen is
// open (typing does not make columns jump), and a column the user resized
// keeps the user's width.
void fitColumns(ControlItem& it) {
  auto* g = static_cast<ui::TDBGrid*>(it.control);
  const QFontMetrics cells = it.table->fontMetrics();
  QFont bold = it.table->horizontalHeader()->font();
  const QFontMetrics titles(bold);
  const double scale = std::max(1.0, cells.averageCharWidth() / 5.5);
  data::TClientDataSet* ds = g->DataSet();
  const int rows = ds && ds->Active() ? std::min(g->RowCount(), 400) : 0;
  it.settingWidths = true;
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
  it.settingWidths = false;
}

class GridView final : public WinControlView {
public:
  GridView() : WinControlView(Role::Grid) {}
  QWidget* create(ControlItem& item, QWidget* parent, FormView& form) const override {
    auto* g = static_cast<ui::TDBGrid*>(item.control);
    auto* t = new QTableView(parent);
    item.model = new GridModel(g);
    item.model->setParent(t);
    t->setModel(item.model);
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
    form.watch(t, item);
    form.watch(t->viewport(), item);
    t->setMinimumHeight(120);
    item.delegate = new EditorCellDelegate(g, t);
    t->setItemDelegate(item.delegate);
    // The grid with the keyboard is framed; the others keep their place.
    t->setStyleSheet("QTableView { border: 2px solid palette(midlight); }"
                     "QTableView:focus { border: 2px solid palette(highlight); }");
    // A column the user widened stays so.
    QObject::connect(t->horizontalHeader(), &QHeaderView::sectionResized, t, [&item](int col, int, int size) {
      if (!item.settingWidths) item.userWidths[col] = size;
    });
    item.table = t;
    item.focusTarget = t;
    return t;
  }

  void render(ControlItem& it, FormView& form) const override {
    auto* g = static_cast<ui::TDBGrid*>(it.control);
    it.model->reload();
    fitColumns(it);
    const int row = it.model->currentRow();
    it.delegate->editorRow = row;
    // Only the grid with the keyboard shows its current cell selected; the
    // others show their current row by the marker only.
    const bool focused = ui::Screen().ActiveForm() == form.form() && ui::Screen().ActiveControl() == g;
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
  }

  bool press(ControlItem& it, QObject* watched, QMouseEvent& me, FormView& form) const override {
    if (watched != it.table->viewport()) return WinControlView::press(it, watched, me, form);
    auto* g = static_cast<ui::TDBGrid*>(it.control);
    Binding& b = form.binding();
    if (me.button() == Qt::RightButton && !b.cellActions().empty()) {
      QModelIndex idx = it.table->indexAt(me.position().toPoint());
      if (!idx.isValid() || idx.row() >= g->RowCount()) return true;
      b.perform([g, recNo = idx.row() + 1, col = idx.column()] { g->ClickCell(recNo, col); });
      // A refused move (a column check) leaves the cell where it was: no menu then.
      if (g->SelectedIndex() != idx.column() || g->DataSource()->DataSet()->RecNo() != idx.row() + 1) return true;
      form.cellMenu(*g, it.table, me.globalPosition().toPoint());
      return true;
    }
    if (me.button() != Qt::LeftButton) return true;
    const QPoint pos = me.position().toPoint();
    QModelIndex idx = it.table->indexAt(pos);
    if (!idx.isValid()) {
      b.perform([g] {
        if (g->CanFocus()) g->SetFocus();
      });
      return true;
    }
    const QRect cell = it.table->visualRect(idx);
    const bool onButton = idx.row() == it.model->currentRow() && idx.column() == g->SelectedIndex() &&
                          g->Columns(idx.column()).ButtonStyle == ui::TColumnButtonStyle::Ellipsis &&
                          pos.x() > cell.right() - 22;
    if (onButton) {
      b.perform([g] { g->ClickEditButton(); });
    } else if (idx.row() < g->RowCount() || idx.row() == it.model->currentRow()) {
      int recNo = idx.row() == it.model->currentRow() && it.model->inserting() ? g->Row() : idx.row() + 1;
      b.perform([g, recNo, col = idx.column()] { g->ClickCell(recNo, col); });
      if (me.type() == QEvent::MouseButtonDblClick && g->OnDblClick) b.perform([g] { g->OnDblClick(*g); });
    }
    return true;
  }

  // A right click offered the menu on its press; the menu key offers it for
  // the current cell.
  bool contextMenu(ControlItem& it, QObject* watched, QContextMenuEvent& e, FormView& form) const override {
    if (watched != it.table->viewport()) return false;
    if (e.reason() == QContextMenuEvent::Mouse || form.binding().cellActions().empty()) return true;
    auto* g = static_cast<ui::TDBGrid*>(it.control);
    if (form.focusedGrid() != g) return true;
    const int row = it.model->currentRow();
    if (row < 0 || row >= g->RowCount()) return true;
    const QRect cell = it.table->visualRect(it.model->index(row, g->SelectedIndex()));
    form.cellMenu(*g, it.table, it.table->viewport()->mapToGlobal(cell.center()));
    return true;
  }
};

}  // namespace

const ControlView& GridControlView() {
  static const GridView view;
  return view;
}

}  // namespace desktop
