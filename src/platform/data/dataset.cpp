// TClientDataSet: structure, opening, navigation, editing, the change log,
// packets, filters, search, indexes and bookmarks, over the Impl in
// dataset_impl.h (column storage in storage.h, the change log in changelog.h).
//
// States. Inactive until Open (CreateDataSet, SetData); then Browse. Edit and
// Insert hold an edit buffer for the current row (Append inserts at the end);
// Post writes it and logs the change, Cancel drops it, and any navigation,
// Locate, filter or index change posts a modified buffer first (cancels an
// unmodified one). CalcFields and Filter are reported by State() only while
// OnCalcFields or OnFilterRecord runs; the stored state does not change.
//
// Event order, as the platform fires them:
//   Open:    BeforeOpen, (data sources: state, data changed), AfterOpen, AfterScroll when not empty
//   Close:   BeforeClose, (state), AfterClose
//   Scroll:  BeforeScroll, (scrolled or data changed), AfterScroll
//   Edit:    BeforeEdit, (state, record changed), AfterEdit
//   Insert:  BeforeInsert, BeforeScroll, (state), OnNewRecord, (data changed), AfterInsert, AfterScroll
//   Post:    (controls write their text: UpdateData), BeforePost, required fields checked,
//            (state, data changed), AfterPost
//   Cancel:  BeforeCancel, (state, data changed), AfterCancel
//   Delete:  BeforeDelete, BeforeScroll, (state, data changed), AfterDelete, AfterScroll
// A field set in edit: OnValidate (a throw puts the old value back), OnChange,
// (field changed). DisableControls holds the data sources' notifications and
// EnableControls sends one of them for all.

#include "dataset_impl.h"

namespace data {


TClientDataSet::TClientDataSet(std::string name) : Name(std::move(name)), impl_(std::make_unique<Impl>(*this)) {}

TClientDataSet::~TClientDataSet() {
  auto sources = impl_->sources;
  for (auto* s : sources) {
    s->dataSet_ = nullptr;
    s->updateState();
  }
}

void TClientDataSet::registerSource(TDataSource* s) {
  if (std::find(impl_->sources.begin(), impl_->sources.end(), s) == impl_->sources.end()) impl_->sources.push_back(s);
}
void TClientDataSet::unregisterSource(TDataSource* s) {
  auto& v = impl_->sources;
  v.erase(std::remove(v.begin(), v.end(), s), v.end());
}

TField& TClientDataSet::AddField(const TFieldDef& def) {
  auto& im = *impl_;
  if (im.state != TDataSetState::Inactive) im.fail("Cannot perform this operation on an open dataset");
  if (im.findField(def.Name)) im.fail("Duplicate field name '" + def.Name + "'");
  if (!im.persistentData) {
    // Dynamic fields of an earlier packet give way to the declared ones.
    std::vector<std::unique_ptr<TField>> keep;
    for (auto& f : im.fields) {
      if (f->Calculated()) keep.push_back(std::move(f));
      else im.retired.push_back(std::move(f));
    }
    im.fields = std::move(keep);
    im.persistentData = true;
  }
  im.fields.push_back(std::make_unique<TField>(*this, def, TFieldKind::Data));
  im.reindexFields();
  return *im.fields.back();
}

TField& TClientDataSet::AddCalcField(const TFieldDef& def) {
  auto& im = *impl_;
  if (im.state != TDataSetState::Inactive) im.fail("Cannot perform this operation on an open dataset");
  if (im.findField(def.Name)) im.fail("Duplicate field name '" + def.Name + "'");
  im.fields.push_back(std::make_unique<TField>(*this, def, TFieldKind::Calculated));
  im.reindexFields();
  return *im.fields.back();
}

std::vector<TFieldDef>& TClientDataSet::FieldDefs() { return impl_->fieldDefs; }
size_t TClientDataSet::FieldCount() const { return impl_->fields.size(); }
TField& TClientDataSet::Fields(size_t i) const {
  if (i >= impl_->fields.size()) impl_->fail("Field index out of range");
  return *impl_->fields[i];
}
TField* TClientDataSet::FindField(std::string_view name) const { return impl_->findField(name); }
TField& TClientDataSet::FieldByName(std::string_view name) const { return impl_->fieldByName(name); }

void TClientDataSet::CreateDataSet() {
  auto& im = *impl_;
  im.closeInternal();
  std::vector<TFieldDef> defs;
  if (im.persistentData) {
    for (auto& f : im.fields)
      if (!f->Calculated()) defs.push_back(f->Def());
  } else {
    defs = im.fieldDefs;
  }
  if (defs.empty()) im.fail("No fields defined; cannot create the dataset");
  for (size_t i = 0; i < defs.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (rtl::SameText(defs[i].Name, defs[j].Name)) im.fail("Duplicate field name '" + defs[i].Name + "'");
  im.resetStorage(defs);
  im.openInternal();
}

void TClientDataSet::EmptyDataSet() {
  auto& im = *impl_;
  im.checkBrowseMode();
  im.resetStorage(im.colDefs);
  im.rebuildView();
  im.cur = 0;
  im.bof = im.eof = true;
  im.calcValid = false;
  im.dataEvent(evDataSetChange);
}

void TClientDataSet::Open() { impl_->openInternal(); }
void TClientDataSet::Close() { impl_->closeInternal(); }
bool TClientDataSet::Active() const { return impl_->state != TDataSetState::Inactive; }
void TClientDataSet::SetActive(bool a) {
  if (a) Open();
  else Close();
}

TDataSetState TClientDataSet::State() const {
  if (impl_->inCalc) return TDataSetState::CalcFields;
  if (impl_->inFilter) return TDataSetState::Filter;
  return impl_->state;
}

void TClientDataSet::First() { impl_->first(); }
void TClientDataSet::Last() { impl_->last(); }
void TClientDataSet::Next() { impl_->moveBy(1); }
void TClientDataSet::Prior() { impl_->moveBy(-1); }
int TClientDataSet::MoveBy(int distance) { return impl_->moveBy(distance); }
bool TClientDataSet::Eof() const { return impl_->state == TDataSetState::Inactive || impl_->eof; }
bool TClientDataSet::Bof() const { return impl_->state == TDataSetState::Inactive || impl_->bof; }

int TClientDataSet::RecNo() const {
  auto& im = *impl_;
  if (im.state == TDataSetState::Inactive || im.state == TDataSetState::Insert || im.view.empty()) return -1;
  return im.cur + 1;
}

void TClientDataSet::SetRecNo(int recNo) {
  auto& im = *impl_;
  im.checkBrowseMode();
  if (im.view.empty()) return;
  int pos = std::clamp(recNo, 1, static_cast<int>(im.view.size())) - 1;
  if (pos != im.cur) im.moveTo(pos);
}

int TClientDataSet::RecordCount() const {
  return impl_->state == TDataSetState::Inactive ? 0 : static_cast<int>(impl_->view.size());
}
bool TClientDataSet::IsEmpty() const { return RecordCount() == 0 && impl_->state != TDataSetState::Insert; }

void TClientDataSet::Edit() { impl_->edit(); }
void TClientDataSet::Insert() {
  impl_->checkActive();
  impl_->beginInsert(false);
}
void TClientDataSet::Append() {
  impl_->checkActive();
  impl_->beginInsert(true);
}
void TClientDataSet::Post() { impl_->post(); }
void TClientDataSet::Cancel() { impl_->cancel(); }
void TClientDataSet::Delete() { impl_->deleteRecord(); }
void TClientDataSet::CheckBrowseMode() { impl_->checkBrowseMode(); }
bool TClientDataSet::Modified() const { return impl_->editing() && impl_->modified; }

TUpdateStatus TClientDataSet::UpdateStatus() const {
  auto& im = *impl_;
  if (im.state == TDataSetState::Insert) return TUpdateStatus::Inserted;
  int32_t r = im.curRow();
  if (r < 0) return TUpdateStatus::Unmodified;
  auto e = im.log.get(r);
  return e ? e->status : TUpdateStatus::Unmodified;
}

int TClientDataSet::ChangeCount() const { return static_cast<int>(impl_->log.size()); }

rtl::DataPacket TClientDataSet::Delta() const {
  if (!impl_->hasStorage) return {};
  return impl_->encodeDelta();
}

void TClientDataSet::MergeChangeLog() {
  auto& im = *impl_;
  if (im.state != TDataSetState::Inactive) im.checkBrowseMode();
  im.log.drain([&](int32_t r, LogEntry e) {
    if (e.orig >= 0) im.releaseOrig(e.orig);
    if (e.status == TUpdateStatus::Deleted) im.rowState[static_cast<size_t>(r)] = RowDead;
  });
  im.compactIfWorthIt();
}

void TClientDataSet::CancelUpdates() {
  auto& im = *impl_;
  im.checkActive();
  im.cancel();
  int32_t keep = im.curRow();
  std::vector<int32_t> revived;
  im.log.forEach([&](int32_t r, LogEntry e) {
    auto row = static_cast<size_t>(r);
    switch (e.status) {
      case TUpdateStatus::Inserted: im.rowState[row] = RowDead; break;
      case TUpdateStatus::Modified:
      case TUpdateStatus::Deleted:
        if (e.orig >= 0) {
          im.restoreOriginals(e.orig, r);
          im.releaseOrig(e.orig);
        }
        if (e.status == TUpdateStatus::Deleted) revived.push_back(r);
        im.rowState[row] = RowLive;
        break;
      default: break;
    }
  });
  im.log.clear();
  im.mergeRevived(std::move(revived));
  im.rebuildView();
  if (keep >= 0 && im.rowState[static_cast<size_t>(keep)] != RowLive) keep = -1;
  im.placeCursor(keep);
  im.bof = im.eof = im.view.empty();
  im.calcValid = false;
  im.dataEvent(evDataSetChange);
}

void TClientDataSet::RevertRecord() {
  auto& im = *impl_;
  im.checkActive();
  im.cancel();
  int32_t r = im.curRow();
  if (r < 0) return;
  auto e = im.log.get(r);
  if (!e) return;
  if (e->status == TUpdateStatus::Inserted) {
    im.rowState[static_cast<size_t>(r)] = RowDead;
    im.view.erase(im.view.begin() + im.cur);
    im.clampCursor();
  } else if (e->orig >= 0) {
    im.restoreOriginals(e->orig, r);
    im.releaseOrig(e->orig);
  }
  im.log.erase(r);
  if (im.rowState[static_cast<size_t>(r)] == RowLive) im.reposition(r, im.cur);
  im.calcValid = false;
  im.dataEvent(evDataSetChange);
}

rtl::DataPacket TClientDataSet::Data() {
  auto& im = *impl_;
  if (im.state == TDataSetState::Inactive) return {};
  im.checkBrowseMode();
  return im.encodeData();
}

void TClientDataSet::SetData(const rtl::DataPacket& packet) {
  auto& im = *impl_;
  if (packet.empty()) {
    im.closeInternal();
    im.resetStorage(im.colDefs);
    im.hasStorage = false;
    return;
  }
  // Everything that can refuse the packet happens before the current contents go.
  im.install(Impl::load(packet));
}

void TClientDataSet::SetData(const Variant& packet) {
  if (packet.isNullOrEmpty()) return SetData(rtl::DataPacket());
  if (!packet.isPacket()) impl_->fail("Invalid data packet");
  SetData(packet.asPacket());
}

void TClientDataSet::CopyDataFrom(TClientDataSet& other) {
  // What SetData(other.Data()) leaves, straight from the other's storage.
  auto& src = *other.impl_;
  if (src.state == TDataSetState::Inactive) return SetData(rtl::DataPacket());
  src.checkBrowseMode();
  impl_->install(src.copyRows());
}

const std::string& TClientDataSet::Filter() const { return impl_->filterText; }

void TClientDataSet::SetFilter(std::string text) {
  auto& im = *impl_;
  if (im.state == TDataSetState::Inactive || !im.filtered) {
    im.filterText = std::move(text);
    return;
  }
  im.checkBrowseMode();
  auto e = im.parseFilter(text);  // a bad text leaves the filter as it was
  im.filterText = std::move(text);
  im.expr = std::move(e);
  im.rebuildView();
  im.first();
}

bool TClientDataSet::Filtered() const { return impl_->filtered; }

void TClientDataSet::SetFiltered(bool on) {
  auto& im = *impl_;
  if (on == im.filtered) return;
  if (im.state == TDataSetState::Inactive) {
    im.filtered = on;
    return;
  }
  im.checkBrowseMode();
  std::unique_ptr<FilterExpression> e;
  if (on) e = im.parseFilter(im.filterText);
  im.expr = std::move(e);
  im.filtered = on;
  im.rebuildView();
  im.first();
}

void TClientDataSet::Refilter() {
  auto& im = *impl_;
  if (im.state == TDataSetState::Inactive) return;
  im.checkBrowseMode();
  if (im.filtered) im.expr = im.parseFilter(im.filterText);
  im.rebuildView();
  im.first();
}

bool TClientDataSet::Locate(std::string_view keyFields, const Variant& keyValues, TLocateOptions options) {
  auto& im = *impl_;
  im.checkBrowseMode();
  auto keys = im.makeKeys(keyFields, keyValues, options);
  im.fire(BeforeScroll);
  int pos = im.find(keys, options);
  if (pos < 0) return false;
  im.cur = pos;
  im.bof = im.eof = false;
  im.calcValid = false;
  im.dataEvent(evDataSetChange);
  im.fire(AfterScroll);
  return true;
}

Variant TClientDataSet::Lookup(std::string_view keyFields, const Variant& keyValues, std::string_view resultFields) {
  auto& im = *impl_;
  im.checkBrowseMode();
  auto keys = im.makeKeys(keyFields, keyValues, {});
  auto names = splitNames(resultFields);
  std::vector<TField*> result;
  for (auto& n : names) result.push_back(&im.fieldByName(n));
  int pos = im.find(keys, {});
  if (pos < 0) return Variant::Null();
  int32_t saved = im.ctxRow;
  im.ctxRow = im.view[static_cast<size_t>(pos)];
  rtl::VariantArray values;
  try {
    for (auto* f : result) values.push_back(im.value(*f));
  } catch (...) {
    im.ctxRow = saved;
    throw;
  }
  im.ctxRow = saved;
  if (values.size() == 1) return values[0];
  return Variant(std::move(values));
}

const std::string& TClientDataSet::IndexFieldNames() const { return impl_->indexFieldNames; }

namespace {
void applyIndex(TClientDataSet::Impl& im) {
  if (im.state == TDataSetState::Inactive) return;
  int32_t keep = im.curRow();
  im.resolveSort();
  im.rebuildView();
  im.placeCursor(keep);
  im.calcValid = false;
  im.dataEvent(evDataSetChange);
}
}  // namespace

void TClientDataSet::SetIndexFieldNames(std::string fields) {
  auto& im = *impl_;
  if (im.state != TDataSetState::Inactive) {
    im.checkBrowseMode();
    for (auto& n : splitNames(fields)) im.fieldByName(n);  // unknown names refused before anything changes
  }
  im.indexFieldNames = std::move(fields);
  im.indexName.clear();
  applyIndex(im);
}

void TClientDataSet::AddIndex(std::string name, std::string fields, bool descending, bool caseInsensitive) {
  auto& im = *impl_;
  if (name.empty()) im.fail("An index needs a name");
  for (auto& ix : im.indexes)
    if (rtl::SameText(ix.name, name)) im.fail("Index '" + name + "' already exists");
  im.indexes.push_back({std::move(name), std::move(fields), descending, caseInsensitive});
}

const std::string& TClientDataSet::IndexName() const { return impl_->indexName; }

void TClientDataSet::SetIndexName(std::string name) {
  auto& im = *impl_;
  if (!name.empty()) {
    bool found = false;
    for (auto& ix : im.indexes)
      if (rtl::SameText(ix.name, name)) found = true;
    if (!found) im.fail("Index '" + name + "' not found");
  }
  if (im.state != TDataSetState::Inactive) im.checkBrowseMode();
  im.indexName = std::move(name);
  im.indexFieldNames.clear();
  applyIndex(im);
}

void TClientDataSet::DisableControls() {
  auto& im = *impl_;
  if (im.disableCount++ == 0) {
    im.disableState = im.state;
    im.enableEvent = evDataSetChange;
  }
}

void TClientDataSet::EnableControls() {
  auto& im = *impl_;
  if (im.disableCount == 0) return;
  if (--im.disableCount == 0) {
    if (im.disableState != im.state) im.dataEvent(evUpdateState);
    if (im.disableState != TDataSetState::Inactive && im.state != TDataSetState::Inactive) im.dataEvent(im.enableEvent);
  }
}

bool TClientDataSet::ControlsDisabled() const { return impl_->disableCount > 0; }

// A bookmark is the row number with the storage generation above it, so a
// bookmark taken before the storage was compacted or replaced is refused
// rather than pointing at another row.
TBookmark TClientDataSet::GetBookmark() const {
  int32_t r = impl_->curRow();
  return r < 0 ? -1 : (static_cast<TBookmark>(impl_->generation) << 32) | static_cast<TBookmark>(r);
}

namespace {
int32_t bookmarkRow(const TClientDataSet::Impl& im, TBookmark b) {
  if (b < 0 || (b >> 32) != static_cast<TBookmark>(im.generation)) return -1;
  auto r = static_cast<int32_t>(b & 0xFFFFFFFF);
  if (static_cast<size_t>(r) >= im.rowState.size() || im.rowState[static_cast<size_t>(r)] != RowLive) return -1;
  return r;
}
}  // namespace

bool TClientDataSet::BookmarkValid(TBookmark b) const {
  auto& im = *impl_;
  int32_t r = bookmarkRow(im, b);
  return r >= 0 && std::find(im.view.begin(), im.view.end(), r) != im.view.end();
}

void TClientDataSet::GotoBookmark(TBookmark b) {
  auto& im = *impl_;
  im.checkBrowseMode();
  int32_t r = bookmarkRow(im, b);
  auto it = r < 0 ? im.view.end() : std::find(im.view.begin(), im.view.end(), r);
  if (it == im.view.end()) im.fail("Record not found");
  im.fire(BeforeScroll);
  im.cur = static_cast<int>(it - im.view.begin());
  im.bof = im.eof = false;
  im.calcValid = false;
  im.dataEvent(evDataSetChange);
  im.fire(AfterScroll);
}

Variant TClientDataSet::RecordValue(int recNo, const TField& field) {
  auto& im = *impl_;
  if (im.state == TDataSetState::Inactive || recNo < 1 || recNo > static_cast<int>(im.view.size())) return Variant::Null();
  if (im.editing() && recNo == im.cur + 1 && im.state == TDataSetState::Edit) return im.value(field);
  int32_t saved = im.ctxRow;
  im.ctxRow = im.view[static_cast<size_t>(recNo - 1)];
  try {
    Variant v = im.value(field);
    im.ctxRow = saved;
    return v;
  } catch (...) {
    im.ctxRow = saved;
    throw;
  }
}

std::string TClientDataSet::RecordDisplayText(int recNo, const TField& field) {
  auto& im = *impl_;
  if (im.state == TDataSetState::Inactive || recNo < 1 || recNo > static_cast<int>(im.view.size())) return {};
  if (im.editing() && recNo == im.cur + 1 && im.state == TDataSetState::Edit) return field.DisplayText();
  int32_t saved = im.ctxRow;
  im.ctxRow = im.view[static_cast<size_t>(recNo - 1)];
  try {
    std::string s = field.DisplayText();
    im.ctxRow = saved;
    return s;
  } catch (...) {
    im.ctxRow = saved;
    throw;
  }
}


}  // namespace data
