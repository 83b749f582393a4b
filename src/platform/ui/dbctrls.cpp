#include "platform/ui/dbctrls.h"

#include <algorithm>
#include <vector>

#include "platform/rtl/format.h"
#include "platform/ui/dbgrids.h"
#include "platform/ui/services.h"

namespace ui {

using data::TDataSetState;

namespace {
struct FieldControl {
  TWinControl* control;
  TFieldFocusFn focus;
  TFieldShowsFn shows;
};
std::vector<FieldControl>& registry() {
  static std::vector<FieldControl> r;
  return r;
}
bool isEditing(const data::TClientDataSet* ds) {
  return ds && (ds->State() == TDataSetState::Edit || ds->State() == TDataSetState::Insert);
}
}  // namespace

void RegisterFieldControl(TWinControl* control, TFieldFocusFn focus, TFieldShowsFn shows) {
  registry().push_back({control, std::move(focus), std::move(shows)});
}

void UnregisterFieldControl(TWinControl* control) {
  auto& r = registry();
  r.erase(std::remove_if(r.begin(), r.end(), [&](const FieldControl& f) { return f.control == control; }), r.end());
}

bool FocusField(data::TField& field) {
  TCustomForm* active = Screen().ActiveForm();
  std::vector<FieldControl> candidates;
  for (const auto& f : registry())
    if (f.shows(field)) candidates.push_back(f);
  std::stable_partition(candidates.begin(), candidates.end(),
                        [&](const FieldControl& f) { return f.control->ParentForm() == active; });
  for (auto& c : candidates)
    if (c.control->CanFocus() && c.focus(field)) return true;
  return false;
}

bool FieldAcceptsChar(const data::TField& field, TChar c) {
  bool sign = c == '+' || c == '-';
  bool digit = c >= '0' && c <= '9';
  switch (field.DataType()) {
    case data::TFieldType::Integer: return sign || digit;
    case data::TFieldType::Float:
      return sign || digit || c == static_cast<TChar>(rtl::FormatSettings().DecimalSeparator) || c == 'E' || c == 'e';
    default: return true;
  }
}

// ---------------------------------------------------------------------------
TDBEdit::TDBEdit(TComponent* owner) : TCustomEdit(owner), link_(*this) {
  RegisterFieldControl(
      this,
      [this](data::TField&) {
        if (!CanFocus()) return false;
        SetFocus();
        return Focused();
      },
      [this](const data::TField& f) { return Field() == &f; });
}

TDBEdit::~TDBEdit() {
  BeginDestroy();
  UnregisterFieldControl(this);
  link_.SetDataSource(nullptr);
}

void TDBEdit::SetDataSource(data::TDataSource* ds) {
  link_.SetDataSource(ds);
  load();
}

void TDBEdit::SetDataField(std::string name) {
  dataField_ = std::move(name);
  load();
}

data::TField* TDBEdit::Field() const {
  data::TClientDataSet* ds = link_.DataSet();
  return ds && !dataField_.empty() ? ds->FindField(dataField_) : nullptr;
}

void TDBEdit::load() {
  if (writing_ || Destroying()) return;
  data::TField* f = Field();
  data::TClientDataSet* ds = link_.DataSet();
  std::string t;
  if (f && ds && ds->Active()) t = Focused() ? f->Text() : f->DisplayText();
  if (t != rawText()) {
    setTextRaw(std::move(t));
    Changed();
  }
  Modified = false;
}

bool TDBEdit::CanModify() {
  if (ReadOnly()) return false;
  data::TField* f = Field();
  if (!f || f->ReadOnly || f->Calculated() || !link_.Active()) return false;
  DataSource()->Edit();
  return isEditing(link_.DataSet());
}

void TDBEdit::UpdateRecord() {
  if (!Modified || writing_) return;
  data::TField* f = Field();
  if (!f) return;
  writing_ = true;
  try {
    f->SetText(rawText());
  } catch (...) {
    writing_ = false;
    throw;
  }
  writing_ = false;
  Modified = false;
  load();
}

void TDBEdit::DoExit() {
  UpdateRecord();  // a refused text keeps the focus here
  TCustomEdit::DoExit();
  load();
}

void TDBEdit::EditKeyPress(TChar key) {
  // A character the field cannot hold is refused before any edit starts.
  if (key >= 32)
    if (data::TField* f = Field(); f && !FieldAcceptsChar(*f, key)) return;
  TCustomEdit::EditKeyPress(key);
}

void TDBEdit::KeyDown(Word& key, TShiftState shift) {
  TCustomEdit::KeyDown(key, shift);
  if (key == VK_ESCAPE && Modified) {
    Modified = false;
    load();
  }
}

// ---------------------------------------------------------------------------
TDBText::TDBText(TComponent* owner) : TControl(owner), link_(*this) {}

TDBText::~TDBText() {
  BeginDestroy();
  link_.SetDataSource(nullptr);
}

void TDBText::SetDataSource(data::TDataSource* ds) {
  link_.SetDataSource(ds);
  Changed();
}

void TDBText::SetDataField(std::string name) {
  dataField_ = std::move(name);
  Changed();
}

data::TField* TDBText::Field() const {
  data::TClientDataSet* ds = link_.DataSet();
  return ds && !dataField_.empty() ? ds->FindField(dataField_) : nullptr;
}

std::string TDBText::Text() const {
  data::TField* f = Field();
  data::TClientDataSet* ds = link_.DataSet();
  return f && ds && ds->Active() ? f->DisplayText() : std::string();
}

// ---------------------------------------------------------------------------
TDBNavigator::TDBNavigator(TComponent* owner) : TWinControl(owner), link_(*this) {}

TDBNavigator::~TDBNavigator() {
  BeginDestroy();
  link_.SetDataSource(nullptr);
}

void TDBNavigator::SetDataSource(data::TDataSource* ds) {
  link_.SetDataSource(ds);
  Changed();
}

bool TDBNavigator::ButtonEnabled(TNavigateBtn b) const {
  data::TClientDataSet* ds = link_.DataSet();
  if (!EnabledInTree() || !ds || !ds->Active() || !link_.Active()) return false;
  bool editing = isEditing(ds);
  switch (b) {
    case TNavigateBtn::First:
    case TNavigateBtn::Prior: return !ds->Bof();
    case TNavigateBtn::Next:
    case TNavigateBtn::Last: return !ds->Eof();
    case TNavigateBtn::Insert: return true;
    case TNavigateBtn::Delete: return !ds->IsEmpty();
    case TNavigateBtn::Edit: return !editing && !ds->IsEmpty();
    case TNavigateBtn::Post:
    case TNavigateBtn::Cancel: return editing;
    case TNavigateBtn::Refresh: return true;
  }
  return false;
}

void TDBNavigator::Click(TNavigateBtn b) {
  if (!ButtonEnabled(b)) return;
  if (BeforeAction) BeforeAction(*this, b);
  data::TClientDataSet* ds = link_.DataSet();
  switch (b) {
    case TNavigateBtn::First: ds->First(); break;
    case TNavigateBtn::Prior: ds->Prior(); break;
    case TNavigateBtn::Next: ds->Next(); break;
    case TNavigateBtn::Last: ds->Last(); break;
    case TNavigateBtn::Insert: ds->Insert(); break;
    case TNavigateBtn::Delete:
      if (!ConfirmDelete || MessageDlg(SDeleteRecordQuestion, TMsgDlgType::Confirmation, mbOKCancel, 0) != mrCancel)
        ds->Delete();
      break;
    case TNavigateBtn::Edit: ds->Edit(); break;
    case TNavigateBtn::Post: ds->Post(); break;
    case TNavigateBtn::Cancel: ds->Cancel(); break;
    case TNavigateBtn::Refresh: break;  // in-memory data sets have nothing to re-read
  }
  if (OnClick) OnClick(*this, b);
}

}  // namespace ui
