#pragma once
// The in-memory data-set engine the screens are written against: typed fields,
// a current row, states, events in the platform's order, a change log with
// deltas, text filters and record filters, Locate, indexes, data sources and
// data links, and data packets.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/variant.h"

namespace data {

using rtl::TDateTime;
using rtl::Variant;

enum class TFieldType { String, Float, DateTime, Integer, Boolean };

enum class TDataSetState { Inactive, Browse, Edit, Insert, CalcFields, Filter };

enum class TUpdateStatus { Unmodified, Modified, Inserted, Deleted };

enum class TFieldKind { Data, Calculated };

struct TFieldDef {
  std::string Name;
  TFieldType DataType = TFieldType::String;
  int Size = 0;  // characters, for strings; 0 means the default of 20
  bool FixedChar = false;
  bool Required = false;
};

class TClientDataSet;
class TDataSource;
class TField;

using TDataSetNotifyEvent = std::function<void(TClientDataSet&)>;
using TFilterRecordEvent = std::function<void(TClientDataSet&, bool& accept)>;
using TFieldNotifyEvent = std::function<void(TField&)>;
// text is the value to show; displayText tells DisplayText (true) from Text (false).
using TFieldGetTextEvent = std::function<void(TField&, std::string& text, bool displayText)>;
using TFieldSetTextEvent = std::function<void(TField&, std::string_view text)>;

class TField {
public:
  TField(TClientDataSet& owner, TFieldDef def, TFieldKind kind = TFieldKind::Data);

  TClientDataSet& DataSet() const { return *owner_; }
  const std::string& FieldName() const { return def_.Name; }
  TFieldType DataType() const { return def_.DataType; }
  int Size() const;
  bool FixedChar() const { return def_.FixedChar; }
  TFieldKind FieldKind() const { return kind_; }
  bool Calculated() const { return kind_ == TFieldKind::Calculated; }
  int Index() const { return index_; }
  const TFieldDef& Def() const { return def_; }

  // Value of the current row (the edit buffer in edit or insert state).
  Variant Value() const;
  void SetValue(const Variant& v);
  std::string AsString() const;
  void SetAsString(std::string_view s);
  double AsFloat() const;
  void SetAsFloat(double d);
  int64_t AsInteger() const;  // a float is rounded as the platform rounds
  void SetAsInteger(int64_t i);
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime d);
  bool AsBoolean() const;
  void SetAsBoolean(bool b);
  bool IsNull() const;
  void Clear();
  // Value the row had when it was last merged (before the pending change).
  Variant OldValue() const;

  // DisplayText honours DisplayFormat and OnGetText; Text honours EditFormat.
  std::string DisplayText() const;
  std::string Text() const;
  // Text typed by the user: OnSetText when assigned, else converted by type
  // (an empty text clears the field). EConvertError on a bad number or date.
  void SetText(std::string_view text);

  std::string DisplayLabel() const { return displayLabel_.empty() ? def_.Name : displayLabel_; }
  void SetDisplayLabel(std::string s) { displayLabel_ = std::move(s); }

  bool Visible = true;
  bool ReadOnly = false;
  bool Required = false;
  int Tag = 0;
  int DisplayWidth = 0;
  std::string DisplayFormat;
  std::string EditFormat;
  std::string EditMask;
  bool ProviderFlagsEmpty = false;  // pfInUpdate etc. cleared

  TFieldNotifyEvent OnChange;
  TFieldNotifyEvent OnValidate;
  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;

private:
  friend class TClientDataSet;
  TClientDataSet* owner_;
  TFieldDef def_;
  TFieldKind kind_;
  int index_ = -1;
  int col_ = -1;  // the stored column read, -1 for calculated or unbound
  std::string displayLabel_;
};

// Options of Locate.
struct TLocateOptions {
  bool CaseInsensitive = false;
  bool PartialKey = false;
};

struct TFilterOptions {
  bool CaseInsensitive = false;
  bool NoPartialCompare = false;
};

// A data link: what a grid or a data-aware edit registers on a data source.
class TDataLink {
public:
  virtual ~TDataLink();
  TDataSource* DataSource() const { return source_; }
  void SetDataSource(TDataSource* source);
  TClientDataSet* DataSet() const;
  bool Active() const;

  // Notifications from the data set (through the data source).
  virtual void ActiveChanged() {}
  virtual void DataSetChanged() {}            // contents or filter changed: refresh all
  virtual void DataSetScrolled(int distance) {}
  virtual void RecordChanged(TField* field) {}  // a field of the current row changed
  virtual void EditingChanged() {}            // entered or left edit/insert
  virtual void LayoutChanged() {}
  // Asked before a post or a field read that needs current editor contents:
  // write pending editor text into the field.
  virtual void UpdateData() {}

private:
  friend class TDataSource;
  TDataSource* source_ = nullptr;
  bool active_ = false;    // last state told through ActiveChanged
  bool editing_ = false;   // last state told through EditingChanged
  bool updating_ = false;  // inside UpdateData: its own field change is not echoed
};

using TDataChangeEvent = std::function<void(TDataSource&, TField* field)>;
using TDataSourceNotifyEvent = std::function<void(TDataSource&)>;

class TDataSource {
public:
  explicit TDataSource(std::string name = {});
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  std::string Name;
  TClientDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TClientDataSet* ds);
  bool Enabled = true;
  TDataSetState State() const;
  // Puts the data set in edit when AutoEdit and browsing (as a typing control does).
  void Edit();
  bool AutoEdit = true;

  TDataSourceNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;  // field null: the row or the contents changed
  TDataSourceNotifyEvent OnUpdateData;

  const std::vector<TDataLink*>& Links() const { return links_; }

private:
  friend class TDataLink;
  friend class TClientDataSet;
  void addLink(TDataLink* l);
  void removeLink(TDataLink* l);
  void syncLink(TDataLink* l);
  void updateState();
  void notify(int event, TField* field, int info);
  TClientDataSet* dataSet_ = nullptr;
  std::vector<TDataLink*> links_;
  TDataSetState lastState_ = TDataSetState::Inactive;
};

// Bookmarks identify a row across navigation, not across reloads.
using TBookmark = int64_t;

class TClientDataSet {
public:
  explicit TClientDataSet(std::string name = {});
  virtual ~TClientDataSet();
  TClientDataSet(const TClientDataSet&) = delete;
  TClientDataSet& operator=(const TClientDataSet&) = delete;

  std::string Name;

  // ---- Structure
  // Persistent fields, declared before opening (the screens' field lists).
  TField& AddField(const TFieldDef& def);
  TField& AddCalcField(const TFieldDef& def);
  std::vector<TFieldDef>& FieldDefs();
  size_t FieldCount() const;
  TField& Fields(size_t i) const;
  // Case-insensitive, as the platform. FieldByName throws EDatabaseError
  // "<name>: Field '<field>' not found".
  TField* FindField(std::string_view name) const;
  TField& FieldByName(std::string_view name) const;
  Variant FieldValue(std::string_view name) const { return FieldByName(name).Value(); }

  // ---- Opening
  // Creates an empty data set from the field definitions (or the persistent fields).
  void CreateDataSet();
  void EmptyDataSet();  // removes every row, clears the log
  // Virtual so that a query data set (db::TADOIBQuery) runs its SQL when a
  // data source or a lookup dialog opens it through this class.
  virtual void Open();
  virtual void Close();
  bool Active() const;
  void SetActive(bool a);

  // ---- Navigation
  TDataSetState State() const;
  void First();
  void Last();
  void Next();
  void Prior();
  int MoveBy(int distance);
  bool Eof() const;
  bool Bof() const;
  int RecNo() const;  // 1-based, in the current view; -1 when empty or inserting
  void SetRecNo(int recNo);
  int RecordCount() const;  // rows the filter lets through
  bool IsEmpty() const;

  // ---- Editing
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  void CheckBrowseMode();  // posts when modified, else cancels an edit
  bool Modified() const;
  TUpdateStatus UpdateStatus() const;  // of the current row

  // ---- Change log
  bool LogChanges = true;
  int ChangeCount() const;
  rtl::DataPacket Delta() const;
  void MergeChangeLog();
  void CancelUpdates();
  void RevertRecord();

  // ---- Whole contents as a packet (rows, log included). Reading posts or
  // cancels a pending edit; setting replaces everything and opens.
  rtl::DataPacket Data();
  void SetData(const rtl::DataPacket& packet);
  // A Null or Empty variant closes and empties the data set.
  void SetData(const Variant& packet);
  // Copy of another data set's contents (structure and rows), as Data := Other.Data.
  void CopyDataFrom(TClientDataSet& other);

  // ---- Filters
  const std::string& Filter() const;
  void SetFilter(std::string text);  // parsed when filtering is on; EDatabaseError on a malformed text
  bool Filtered() const;
  void SetFiltered(bool on);
  TFilterOptions FilterOptions;
  TFilterRecordEvent OnFilterRecord;
  // Re-applies OnFilterRecord after its inputs changed (as switching Filtered off and on).
  void Refilter();

  // ---- Search. keyFields separated by ";"; keyValues a single value or an
  // array of values. Exact by default; moves only when a row is found.
  bool Locate(std::string_view keyFields, const Variant& keyValues, TLocateOptions options = {});
  Variant Lookup(std::string_view keyFields, const Variant& keyValues, std::string_view resultFields);

  // ---- Indexes
  const std::string& IndexFieldNames() const;
  void SetIndexFieldNames(std::string fields);
  void AddIndex(std::string name, std::string fields, bool descending = false, bool caseInsensitive = false);
  const std::string& IndexName() const;
  void SetIndexName(std::string name);

  // ---- Controls
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const;

  // ---- Bookmarks
  TBookmark GetBookmark() const;
  bool BookmarkValid(TBookmark b) const;
  void GotoBookmark(TBookmark b);

  // ---- Events
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent OnNewRecord, OnCalcFields;

  // ---- Rows other than the current one (grids drawing their visible rows).
  // recNo is 1-based in the current view; the cursor does not move and no
  // event fires (calculated fields are computed for that row). A row being
  // inserted is not in the view until it is posted; the current row in edit
  // reads its edit buffer.
  Variant RecordValue(int recNo, const TField& field);
  std::string RecordDisplayText(int recNo, const TField& field);

  // ---- Internal, for TField, TDataSource and the packet codec.
  struct Impl;
  Impl& impl() const { return *impl_; }
  void registerSource(TDataSource* s);
  void unregisterSource(TDataSource* s);

private:
  std::unique_ptr<Impl> impl_;
};

// Packet helpers for code that only moves packets (the server, tests).
// Throws EDatabaseError on a packet that does not match its own metadata.
std::vector<TFieldDef> PacketFieldDefs(const rtl::DataPacket& packet);

}  // namespace data
