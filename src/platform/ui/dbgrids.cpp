#include "platform/ui/dbgrids.h"

#include "platform/rtl/mask.h"
#include "platform/rtl/text.h"
#include "platform/ui/dbctrls.h"
#include "platform/ui/services.h"
#include "platform/ui/stdctrls.h"

namespace ui {

using data::TDataSetState;

namespace {
bool editing(const data::TClientDataSet* ds) {
  return ds && (ds->State() == TDataSetState::Edit || ds->State() == TDataSetState::Insert);
}
}  // namespace

// ---------------------------------------------------------------------------
int TColumn::Index() const {
  for (int i = 0; i < grid_->ColumnCount(); ++i)
    if (&grid_->Columns(i) == this) return i;
  return -1;
}

data::TField* TColumn::Field() const {
  data::TClientDataSet* ds = grid_->DataSet();
  if (!ds || FieldName.empty()) return nullptr;
  return ds->FindField(FieldName);
}

std::string TColumn::TitleCaption() const {
  if (!Title.Caption.empty()) return Title.Caption;
  if (data::TField* f = Field()) return f->DisplayLabel();
  return FieldName;
}

bool TColumn::ReadOnly() const {
  if (readOnly_) return *readOnly_;
  data::TField* f = Field();
  return grid_->ReadOnly || (f && f->ReadOnly);
}

bool TColumn::TabStop() const {
  data::TField* f = Field();
  return Visible && !ReadOnly() && f && !f->Calculated();
}

// ---------------------------------------------------------------------------
void TDBGrid::Link::ActiveChanged() {
  grid.rebuildDefaultColumns();
  grid.editorMode_ = false;
  grid.linkModified_ = false;
  grid.appended_ = false;
  if (grid.selected_ >= grid.ColumnCount()) grid.selected_ = 0;
  grid.loadEditor();
  grid.Changed();
}

void TDBGrid::Link::DataSetChanged() {
  if (!grid.inUpdateData_) {
    grid.linkModified_ = false;
    grid.loadEditor();
  }
  grid.Changed();
}

void TDBGrid::Link::DataSetScrolled(int) {
  if (!grid.HasOption(dgAlwaysShowEditor)) grid.editorMode_ = false;
  grid.linkModified_ = false;
  grid.loadEditor();
  grid.Changed();
}

void TDBGrid::Link::RecordChanged(data::TField* field) {
  if (grid.inUpdateData_) return;
  // Typed text of the selected cell survives a handler changing another field.
  if (field == nullptr || field == grid.SelectedField()) {
    grid.linkModified_ = false;
    grid.loadEditor();
  }
  grid.Changed();
}

void TDBGrid::Link::EditingChanged() {
  data::TClientDataSet* ds = DataSet();
  if (!editing(ds)) {
    grid.appended_ = false;
    if (!grid.inUpdateData_) {
      grid.linkModified_ = false;
      grid.loadEditor();
    }
  }
  grid.Changed();
}

void TDBGrid::Link::LayoutChanged() {
  grid.rebuildDefaultColumns();
  grid.Changed();
}

void TDBGrid::Link::UpdateData() { grid.UpdateData(); }

// ---------------------------------------------------------------------------
TDBGrid::TDBGrid(TComponent* owner) : TWinControl(owner), link_(*this) {
  TabStop = true;
  RegisterFieldControl(this, [this](data::TField& f) { return FocusField(f); },
                       [this](const data::TField& f) {
                         return link_.DataSet() == &f.DataSet() && ColumnByField(f.FieldName()) != nullptr;
                       });
}

TDBGrid::~TDBGrid() {
  BeginDestroy();
  UnregisterFieldControl(this);
  link_.SetDataSource(nullptr);
}

void TDBGrid::SetDataSource(data::TDataSource* ds) {
  link_.SetDataSource(ds);
  rebuildDefaultColumns();
  selected_ = 0;
  editorMode_ = false;
  linkModified_ = false;
  loadEditor();
  Changed();
}

void TDBGrid::SetOptions(TDBGridOptions o) {
  options_ = o;
  if (!canEditShow()) editorMode_ = false;
  Changed();
}

std::vector<std::unique_ptr<TColumn>>& TDBGrid::cols() const {
  return columns_.empty() ? defaultColumns_ : columns_;
}

void TDBGrid::rebuildDefaultColumns() {
  defaultColumns_.clear();
  data::TClientDataSet* ds = DataSet();
  if (!ds) return;
  for (size_t i = 0; i < ds->FieldCount(); ++i) {
    data::TField& f = ds->Fields(i);
    if (!f.Visible) continue;
    auto c = std::make_unique<TColumn>(*this);
    c->FieldName = f.FieldName();
    defaultColumns_.push_back(std::move(c));
  }
}

TColumn& TDBGrid::AddColumn(std::string fieldName) {
  auto c = std::make_unique<TColumn>(*this);
  c->FieldName = std::move(fieldName);
  columns_.push_back(std::move(c));
  Changed();
  return *columns_.back();
}

int TDBGrid::ColumnCount() const { return static_cast<int>(cols().size()); }

TColumn& TDBGrid::Columns(int i) const {
  auto& c = cols();
  if (i < 0 || i >= static_cast<int>(c.size()))
    throw EInvalidOperation("Grid index out of range (" + std::to_string(i) + ")");
  return *c[static_cast<size_t>(i)];
}

TColumn* TDBGrid::ColumnByField(std::string_view fieldName) const {
  for (auto& c : cols()) {
    const std::string& n = c->FieldName;
    if (rtl::SameText(n, fieldName)) return c.get();
  }
  return nullptr;
}

TColumn* TDBGrid::SelectedColumn() const {
  return selected_ >= 0 && selected_ < ColumnCount() ? &Columns(selected_) : nullptr;
}

data::TField* TDBGrid::SelectedField() const {
  TColumn* c = SelectedColumn();
  return c ? c->Field() : nullptr;
}

void TDBGrid::SetSelectedIndex(int i) { moveCol(i, 0); }

void TDBGrid::SetSelectedField(data::TField* f) {
  if (!f) return;
  for (int i = 0; i < ColumnCount(); ++i)
    if (Columns(i).Field() == f) {
      moveCol(i, 0);
      return;
    }
}

int TDBGrid::Row() const {
  data::TClientDataSet* ds = DataSet();
  return ds && ds->Active() ? ds->RecNo() : -1;
}

int TDBGrid::RowCount() const {
  data::TClientDataSet* ds = DataSet();
  return ds && ds->Active() ? ds->RecordCount() : 0;
}

std::string TDBGrid::CellText(int column) const {
  if (column == selected_ && editorMode_) return editText_;
  if (column < 0 || column >= ColumnCount()) return {};
  data::TField* f = Columns(column).Field();
  data::TClientDataSet* ds = DataSet();
  if (!f || !ds || !ds->Active()) return {};
  return f->DisplayText();
}

std::string TDBGrid::TitleText(int column) const { return Columns(column).TitleCaption(); }

void TDBGrid::loadEditor() {
  data::TField* f = SelectedField();
  data::TClientDataSet* ds = DataSet();
  editText_ = (f && ds && ds->Active()) ? f->Text() : std::string();
  editorSelAll_ = true;
}

bool TDBGrid::canEditShow() const {
  return HasOption(dgEditing) && !HasOption(dgRowSelect) && link_.Active() && SelectedColumn() != nullptr;
}

bool TDBGrid::canEditModify() {
  if (ReadOnly || !link_.Active()) return false;
  TColumn* c = SelectedColumn();
  if (!c || c->ReadOnly()) return false;
  data::TField* f = c->Field();
  if (!f || f->ReadOnly || f->Calculated()) return false;
  // BeforeEdit may refuse here: the error ends the keystroke.
  DataSource()->Edit();
  return editing(DataSet());
}

bool TDBGrid::canAppend() const { return !ReadOnly && HasOption(dgEditing) && link_.Active(); }

void TDBGrid::showEditor() {
  if (!canEditShow()) return;
  if (!editorMode_) {
    editorMode_ = true;
    if (!linkModified_) loadEditor();
    editorSelAll_ = true;
    Changed();
  }
}

void TDBGrid::hideEditor() {
  if (!editorMode_) return;
  editorMode_ = false;
  Changed();
}

void TDBGrid::SetEditorMode(bool on) {
  if (on)
    showEditor();
  else
    hideEditor();
}

void TDBGrid::UpdateData() {
  if (!linkModified_ || inUpdateData_) return;
  data::TField* f = SelectedField();
  if (!f) {
    linkModified_ = false;
    return;
  }
  inUpdateData_ = true;
  try {
    f->SetText(editText_);
  } catch (...) {
    inUpdateData_ = false;
    throw;  // the typed text stays in the editor
  }
  inUpdateData_ = false;
  linkModified_ = false;
  loadEditor();
  editorSelAll_ = false;
  Changed();
}

void TDBGrid::colExit() {
  if (OnColExit) OnColExit(*this);
}

void TDBGrid::colEnter() {
  if (OnColEnter) OnColEnter(*this);
}

void TDBGrid::moveCol(int col, int direction) {
  UpdateData();
  int n = ColumnCount();
  if (n == 0) return;
  if (col >= n) col = n - 1;
  if (col < 0) col = 0;
  if (direction != 0) {
    while (col >= 0 && col < n && !Columns(col).Visible) col += direction;
    if (col < 0 || col >= n) return;
  }
  int old = selected_;
  if (col == old) return;
  if (!inColExit_) {
    inColExit_ = true;
    try {
      colExit();
    } catch (...) {
      inColExit_ = false;
      throw;  // the column does not change
    }
    inColExit_ = false;
    if (selected_ != old) return;  // the handler chose another column
  }
  if (!HasOption(dgAlwaysShowEditor)) editorMode_ = false;
  selected_ = col;
  linkModified_ = false;
  loadEditor();
  Changed();
  colEnter();
}

void TDBGrid::moveBy(int distance) {
  data::TClientDataSet* ds = DataSet();
  if (!ds || !ds->Active()) return;
  UpdateData();
  ds->MoveBy(distance);
}

void TDBGrid::priorRow() {
  data::TClientDataSet* ds = DataSet();
  if (!ds || !ds->Active()) return;
  if (ds->State() == TDataSetState::Insert && !ds->Modified() && !linkModified_) {
    ds->Cancel();
    return;
  }
  moveBy(-1);
}

void TDBGrid::nextRow() {
  data::TClientDataSet* ds = DataSet();
  if (!ds || !ds->Active()) return;
  if (ds->State() == TDataSetState::Insert && !ds->Modified() && !linkModified_) {
    // An untouched new row at the end stays; one in the middle is dropped.
    if (appended_) return;
    ds->Cancel();
    return;
  }
  moveBy(1);
  if (ds->Eof() && canAppend()) {
    ds->Append();
    appended_ = editing(ds);
  }
}

void TDBGrid::tab(bool goForward) {
  int n = ColumnCount();
  if (n == 0) return;
  int col = selected_;
  const int original = col;
  for (;;) {
    col += goForward ? 1 : -1;
    if (col >= n) {
      nextRow();
      col = 0;
    } else if (col < 0) {
      priorRow();
      col = n - 1;
    }
    if (col == original) return;
    if (Columns(col).TabStop()) {
      moveCol(col, 0);
      return;
    }
  }
}

void TDBGrid::deleteRow() {
  data::TClientDataSet* ds = DataSet();
  if (ReadOnly || !ds || !ds->Active() || ds->IsEmpty()) return;
  if (HasOption(dgConfirmDelete) &&
      MessageDlg(SDeleteRecordQuestion, TMsgDlgType::Confirmation, mbOKCancel, 0) == mrCancel)
    return;
  ds->Delete();
}

void TDBGrid::escape() {
  if (linkModified_) {
    // First Escape: the editor goes back to the field's text.
    linkModified_ = false;
    loadEditor();
  } else if (data::TClientDataSet* ds = DataSet(); editing(ds)) {
    ds->Cancel();
  }
  if (!HasOption(dgAlwaysShowEditor)) hideEditor();
  Changed();
}

bool TDBGrid::WantsKey(Word key, TShiftState) const {
  if (key >= VK_LEFT && key <= VK_DOWN) return true;
  // A grid with nothing to show lets Tab leave it.
  return key == VK_TAB && HasOption(dgTabs) && link_.Active();
}

void TDBGrid::FocusKept() { selectRefused(); }

// A key whose handling was refused (a check on the column or the row) leaves
// the editor's text selected: typing again replaces the refused value.
void TDBGrid::selectRefused() {
  if (!editorMode_ || editorSelAll_) return;
  editorSelAll_ = true;
  Changed();
}

void TDBGrid::KeyDown(Word& key, TShiftState shift) {
  try {
    keyDown(key, shift);
  } catch (...) {
    selectRefused();
    throw;
  }
}

void TDBGrid::KeyPress(TChar& key) {
  try {
    keyPress(key);
  } catch (...) {
    selectRefused();
    throw;
  }
}

void TDBGrid::keyDown(Word& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  if (key == 0 || !link_.Active()) return;
  data::TClientDataSet* ds = DataSet();
  if (shift & ssCtrl) {
    switch (key) {
      case VK_UP:
      case VK_PRIOR:
      case VK_HOME: UpdateData(); ds->First(); break;
      case VK_DOWN:
      case VK_NEXT:
      case VK_END: UpdateData(); ds->Last(); break;
      case VK_LEFT: moveCol(0, 1); break;
      case VK_RIGHT: moveCol(ColumnCount() - 1, -1); break;
      case VK_DELETE: deleteRow(); break;
      case VK_RETURN:
        if (TColumn* c = SelectedColumn(); c && c->ButtonStyle == TColumnButtonStyle::Ellipsis && canEditShow())
          ClickEditButton();
        break;
      default: break;
    }
    return;
  }
  switch (key) {
    case VK_UP: priorRow(); break;
    case VK_DOWN: nextRow(); break;
    case VK_PRIOR: moveBy(-VisibleRowCount); break;
    case VK_NEXT: moveBy(VisibleRowCount); break;
    case VK_LEFT:
      if (!HasOption(dgRowSelect)) moveCol(selected_ - 1, -1);
      break;
    case VK_RIGHT:
      if (!HasOption(dgRowSelect)) moveCol(selected_ + 1, 1);
      break;
    case VK_HOME:
      if (HasOption(dgRowSelect)) {
        UpdateData();
        ds->First();
      } else if (!editorMode_) {
        moveCol(0, 1);
      }
      break;
    case VK_END:
      if (HasOption(dgRowSelect)) {
        UpdateData();
        ds->Last();
      } else if (!editorMode_) {
        moveCol(ColumnCount() - 1, -1);
      }
      break;
    case VK_TAB:
      if (!(shift & ssAlt)) tab(!(shift & ssShift));
      break;
    case VK_INSERT:
      if (canAppend()) {
        UpdateData();
        ds->Insert();
        appended_ = false;
      }
      break;
    case VK_F2: showEditor(); break;
    case VK_ESCAPE: escape(); break;
    case VK_DELETE:
      if (editorMode_ && editorSelAll_ && !editText_.empty() && canEditModify()) {
        editText_.clear();
        editorSelAll_ = false;
        linkModified_ = true;
        Changed();
      }
      break;
    default: break;
  }
}

void TDBGrid::keyPress(TChar& key) {
  if (key == 13 && !HasOption(dgAlwaysShowEditor)) UpdateData();
  TWinControl::KeyPress(key);
  if (key == 0 || !link_.Active()) return;
  if (key == 13) {
    // Enter accepts the editor's text and toggles the editor; it does not move.
    if (HasOption(dgAlwaysShowEditor)) return;
    if (editorMode_)
      hideEditor();
    else
      showEditor();
    return;
  }
  if (key == 8 || key >= 32) typeChar(key);
}

void TDBGrid::typeChar(TChar c) {
  if (!canEditShow()) return;
  // A character the field cannot hold is refused before any edit starts.
  if (c >= 32)
    if (data::TField* f = SelectedField(); f && !FieldAcceptsChar(*f, c)) return;
  if (!canEditModify()) return;  // read-only cells take no typing
  std::string base = (!editorMode_ || editorSelAll_) ? std::string() : editText_;
  if (!editorMode_ && !linkModified_) loadEditor();
  data::TField* f = SelectedField();
  std::string next;
  if (c == 8) {
    next = (!editorMode_ || editorSelAll_) ? std::string() : rtl::Utf8DropLast(editText_);
  } else {
    std::string ch = EncodeUtf8(c);
    size_t pos = rtl::Utf8Length(base);
    if (f && !f->EditMask.empty()) {
      rtl::EditMask mask(f->EditMask);
      if (pos >= mask.positions().size() || !mask.accepts(pos, ch)) return;
      ch = mask.convert(pos, ch);
    }
    if (f && f->DataType() == data::TFieldType::String && f->Size() > 0 &&
        pos >= static_cast<size_t>(f->Size()))
      return;
    next = base + ch;
  }
  editorMode_ = true;
  editorSelAll_ = false;
  editText_ = std::move(next);
  linkModified_ = true;
  Changed();
}

void TDBGrid::DoExit() {
  data::TClientDataSet* ds = DataSet();
  if (link_.Active()) {
    // Leaving cancels an untouched new row; otherwise the typed text reaches
    // the field. Nothing is posted here.
    if (HasOption(dgCancelOnExit) && ds->State() == TDataSetState::Insert && !ds->Modified() && !linkModified_)
      ds->Cancel();
    else
      UpdateData();
  }
  hideEditor();
  TWinControl::DoExit();
}

bool TDBGrid::FocusField(data::TField& field) {
  TColumn* c = ColumnByField(field.FieldName());
  if (!c || c->Field() != &field) return false;
  SetSelectedField(&field);
  if (SelectedField() != &field) return false;
  if (CanFocus() && !Focused()) SetFocus();
  if (!Focused()) return false;
  showEditor();
  // The field is focused to be corrected: its text is selected.
  selectRefused();
  return true;
}

void TDBGrid::ClickCell(int recNo, int column) {
  if (!Focused()) SetFocus();
  if (!Focused()) return;
  data::TClientDataSet* ds = DataSet();
  if (ds && ds->Active() && recNo >= 1 && recNo != ds->RecNo()) {
    UpdateData();
    ds->SetRecNo(recNo);
  }
  if (column >= 0 && column < ColumnCount()) {
    moveCol(column, 0);
    if (selected_ == column && OnCellClick) OnCellClick(Columns(column));
  }
}

void TDBGrid::ClickEditButton() {
  TColumn* c = SelectedColumn();
  if (!c || c->ButtonStyle != TColumnButtonStyle::Ellipsis) return;
  if (OnEditButtonClick) OnEditButtonClick(*this);
}

}  // namespace ui
