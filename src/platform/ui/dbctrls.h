#pragma once
// Data-bound edits and texts, the record navigator, and field focusing: a
// field's FocusControl asks the data-aware controls showing it to take the focus.

#include <functional>
#include <string>

#include "platform/data/dataset.h"
#include "platform/ui/stdctrls.h"

namespace ui {

// Data-aware controls register here so that FocusField finds them.
using TFieldFocusFn = std::function<bool(data::TField&)>;
using TFieldShowsFn = std::function<bool(const data::TField&)>;
void RegisterFieldControl(TWinControl* control, TFieldFocusFn focus, TFieldShowsFn shows);
void UnregisterFieldControl(TWinControl* control);
// Focuses the control that shows the field (a grid selects its column),
// preferring the active form. True when a control took the focus.
bool FocusField(data::TField& field);

// Whether a typed character can belong to the field's text, as the platform's
// fields judge it: numbers take digits, signs (and a float its decimal
// separator and exponent letters); other fields take anything.
bool FieldAcceptsChar(const data::TField& field, TChar c);

class TDBEdit : public TCustomEdit {
public:
  explicit TDBEdit(TComponent* owner = nullptr);
  ~TDBEdit() override;
  data::TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(data::TDataSource* ds);
  const std::string& DataField() const { return dataField_; }
  void SetDataField(std::string name);
  data::TField* Field() const;

  // Writes the typed text into the field.
  void UpdateRecord();
  void DoExit() override;
  void KeyDown(Word& key, TShiftState shift) override;

protected:
  bool CanModify() override;
  void EditKeyPress(TChar key) override;

private:
  class Link : public data::TDataLink {
  public:
    explicit Link(TDBEdit& e) : edit(e) {}
    void ActiveChanged() override { edit.load(); }
    void DataSetChanged() override { edit.load(); }
    void DataSetScrolled(int) override { edit.load(); }
    void RecordChanged(data::TField* f) override {
      if (!f || f == edit.Field()) edit.load();
    }
    void EditingChanged() override { edit.Changed(); }
    void UpdateData() override { edit.UpdateRecord(); }
    TDBEdit& edit;
  };
  void load();
  Link link_;
  std::string dataField_;
  bool writing_ = false;
};

class TDBText : public TControl {
public:
  explicit TDBText(TComponent* owner = nullptr);
  ~TDBText() override;
  data::TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(data::TDataSource* ds);
  const std::string& DataField() const { return dataField_; }
  void SetDataField(std::string name);
  data::TField* Field() const;
  // The field's display text, "" without an open data set.
  std::string Text() const;

private:
  class Link : public data::TDataLink {
  public:
    explicit Link(TDBText& t) : text(t) {}
    void ActiveChanged() override { text.Changed(); }
    void DataSetChanged() override { text.Changed(); }
    void DataSetScrolled(int) override { text.Changed(); }
    void RecordChanged(data::TField*) override { text.Changed(); }
    TDBText& text;
  };
  Link link_;
  std::string dataField_;
};

enum class TNavigateBtn { First, Prior, Next, Last, Insert, Delete, Edit, Post, Cancel, Refresh };

using TNavClickEvent = std::function<void(TObject& sender, TNavigateBtn button)>;

class TDBNavigator : public TWinControl {
public:
  explicit TDBNavigator(TComponent* owner = nullptr);
  ~TDBNavigator() override;
  data::TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(data::TDataSource* ds);
  bool ConfirmDelete = true;
  // Whether a button can be pressed in the data set's present state.
  bool ButtonEnabled(TNavigateBtn b) const;
  // The user presses a button: BeforeAction, the data set operation, OnClick.
  void Click(TNavigateBtn b);
  TNavClickEvent BeforeAction;
  TNavClickEvent OnClick;

private:
  class Link : public data::TDataLink {
  public:
    explicit Link(TDBNavigator& n) : nav(n) {}
    void ActiveChanged() override { nav.Changed(); }
    void DataSetChanged() override { nav.Changed(); }
    void DataSetScrolled(int) override { nav.Changed(); }
    void EditingChanged() override { nav.Changed(); }
    TDBNavigator& nav;
  };
  Link link_;
};

}  // namespace ui
