#pragma once
// The data-aware grid: columns over the fields of a data source's data set,
// the current row being the data set's current record, an in-place editor
// whose text reaches the field when the column or row is left or the row is
// posted, and the keyboard rules of the platform's grid.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/data/dataset.h"
#include "platform/ui/controls.h"

namespace ui {

class TDBGrid;

enum class TColumnButtonStyle { Auto, Ellipsis, None };

struct TColumnTitle {
  std::string Caption;  // empty: the field's display label
  TAlignment Alignment = TAlignment::LeftJustify;
};

class TColumn {
public:
  explicit TColumn(TDBGrid& grid) : grid_(&grid) {}
  TDBGrid& Grid() const { return *grid_; }
  std::string FieldName;
  TColumnTitle Title;
  int Width = 64;
  TAlignment Alignment = TAlignment::LeftJustify;
  TColumnButtonStyle ButtonStyle = TColumnButtonStyle::Auto;
  bool Visible = true;
  int Index() const;
  // The field of the grid's data set with this name, or null.
  data::TField* Field() const;
  std::string TitleCaption() const;
  // Unless set, read-only when the grid or the field is.
  bool ReadOnly() const;
  void SetReadOnly(bool r) { readOnly_ = r; }
  // A column Tab stops on: visible, editable, a data field.
  bool TabStop() const;

private:
  TDBGrid* grid_;
  std::optional<bool> readOnly_;
};

using TDBGridOptions = unsigned;
constexpr TDBGridOptions dgEditing = 1u << 0;
constexpr TDBGridOptions dgAlwaysShowEditor = 1u << 1;
constexpr TDBGridOptions dgTitles = 1u << 2;
constexpr TDBGridOptions dgIndicator = 1u << 3;
constexpr TDBGridOptions dgColumnResize = 1u << 4;
constexpr TDBGridOptions dgColLines = 1u << 5;
constexpr TDBGridOptions dgRowLines = 1u << 6;
constexpr TDBGridOptions dgTabs = 1u << 7;
constexpr TDBGridOptions dgRowSelect = 1u << 8;
constexpr TDBGridOptions dgAlwaysShowSelection = 1u << 9;
constexpr TDBGridOptions dgConfirmDelete = 1u << 10;
constexpr TDBGridOptions dgCancelOnExit = 1u << 11;
constexpr TDBGridOptions dgMultiSelect = 1u << 12;
constexpr TDBGridOptions dgDefaultOptions = dgEditing | dgTitles | dgIndicator | dgColumnResize | dgColLines |
                                            dgRowLines | dgTabs | dgConfirmDelete | dgCancelOnExit;

inline constexpr const char* SDeleteRecordQuestion = "Excluir registro?";

using TDBGridClickEvent = std::function<void(TColumn& column)>;

class TDBGrid : public TWinControl {
public:
  explicit TDBGrid(TComponent* owner = nullptr);
  ~TDBGrid() override;

  data::TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(data::TDataSource* ds);
  data::TClientDataSet* DataSet() const { return link_.DataSet(); }

  TDBGridOptions Options() const { return options_; }
  void SetOptions(TDBGridOptions o);
  bool HasOption(TDBGridOptions o) const { return (options_ & o) != 0; }
  bool ReadOnly = false;
  int VisibleRowCount = 10;
  int Color = 0;  // an opaque colour value the screens set and a renderer reads

  // Columns. Without columns of its own, the grid shows the data set's visible fields.
  TColumn& AddColumn(std::string fieldName);
  int ColumnCount() const;
  TColumn& Columns(int i) const;
  TColumn* ColumnByField(std::string_view fieldName) const;

  // The selected column. Setting it runs OnColExit (which can veto) and OnColEnter.
  int SelectedIndex() const { return selected_; }
  void SetSelectedIndex(int i);
  data::TField* SelectedField() const;
  void SetSelectedField(data::TField* f);
  TColumn* SelectedColumn() const;

  // The in-place editor.
  bool EditorMode() const { return editorMode_; }
  void SetEditorMode(bool on);
  const std::string& EditorText() const { return editText_; }
  // Whether the editor holds text typed since it was loaded from the field.
  bool EditorModified() const { return linkModified_; }
  // Whether the editor's whole text is selected (the next character replaces it).
  bool EditorSelectedAll() const { return editorMode_ && editorSelAll_; }
  // Text shown in a cell of the current row: the editor's text in the
  // selected cell while editing, else the field's display text.
  std::string CellText(int column) const;
  std::string TitleText(int column) const;
  // The current row (the data set's RecNo) and the number of rows.
  int Row() const;
  int RowCount() const;

  // Writes pending editor text into the field (the data link's UpdateData).
  void UpdateData();
  // Selects the field's column, takes the focus and shows the editor.
  bool FocusField(data::TField& field);

  // Mouse actions (the driver and a desktop binding call these).
  void ClickCell(int recNo, int column);
  void ClickEditButton();

  TNotifyEvent OnColEnter;
  TNotifyEvent OnColExit;
  TDBGridClickEvent OnCellClick;
  TNotifyEvent OnEditButtonClick;
  TNotifyEvent OnDblClick;

  void DoExit() override;
  void FocusKept() override;
  void KeyDown(Word& key, TShiftState shift) override;
  void KeyPress(TChar& key) override;
  bool WantsKey(Word key, TShiftState shift) const override;

private:
  class Link : public data::TDataLink {
  public:
    explicit Link(TDBGrid& g) : grid(g) {}
    void ActiveChanged() override;
    void DataSetChanged() override;
    void DataSetScrolled(int distance) override;
    void RecordChanged(data::TField* field) override;
    void EditingChanged() override;
    void LayoutChanged() override;
    void UpdateData() override;
    TDBGrid& grid;
  };
  friend class Link;

  void moveCol(int col, int direction);
  void colExit();
  void colEnter();
  void keyDown(Word& key, TShiftState shift);
  void keyPress(TChar& key);
  void selectRefused();
  void hideEditor();
  void showEditor();
  void loadEditor();
  bool canEditShow() const;
  bool canEditModify();
  bool canAppend() const;
  void typeChar(TChar c);
  void priorRow();
  void nextRow();
  void tab(bool goForward);
  void moveBy(int distance);
  void deleteRow();
  void escape();
  void rebuildDefaultColumns();
  std::vector<std::unique_ptr<TColumn>>& cols() const;

  Link link_;
  TDBGridOptions options_ = dgDefaultOptions;
  mutable std::vector<std::unique_ptr<TColumn>> columns_;
  mutable std::vector<std::unique_ptr<TColumn>> defaultColumns_;
  int selected_ = 0;
  bool editorMode_ = false;
  bool editorSelAll_ = false;
  std::string editText_;
  bool linkModified_ = false;
  bool inColExit_ = false;
  bool inUpdateData_ = false;
  bool appended_ = false;
};

}  // namespace ui
