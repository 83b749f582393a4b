#pragma once
// Editing: Edit, Insert, Post, Cancel and Delete, and the change log entries
// they make.
// Part of TClientDataSet::Impl (dataset_impl.h), which includes it.

#include "dataset_impl.h"

namespace data {

inline void TClientDataSet::Impl::updateRecord() { dataEvent(evUpdateRecord); }

inline void TClientDataSet::Impl::loadEditBuf(int32_t) { editBuf.assign(cols.size(), Variant()); }

inline void TClientDataSet::Impl::checkRequired() {
  for (auto& f : fields) {
    if (f->Calculated() || !f->Required) continue;
    if (f->IsNull())
      fail("Field '" + f->DisplayLabel() + "' must have a value");
  }
}

// Writes the edit buffer into row r, first keeping in row o (when r has one)
// the original of each field it changes for the first time.
inline void TClientDataSet::Impl::writeEditBuf(int32_t r, int32_t o) {
  auto row = static_cast<size_t>(r);
  for (size_t c = 0; c < cols.size(); ++c)
    if (!editBuf[c].isEmpty() && !cols[c].equals(row, editBuf[c])) {
      if (o >= 0 && !saved.has(static_cast<size_t>(o), c)) {
        cols[c].copyCell(row, static_cast<size_t>(o));
        saved.add(static_cast<size_t>(o), c);
      }
      cols[c].set(row, editBuf[c]);
    }
}

inline void TClientDataSet::Impl::internalPost() {
  if (state == TDataSetState::Edit) {
    int32_t r = editRow;
    bool differs = false;
    for (size_t c = 0; c < cols.size() && !differs; ++c)
      if (!editBuf[c].isEmpty() && !cols[c].equals(static_cast<size_t>(r), editBuf[c])) differs = true;
    if (differs) {
      auto e = log.get(r);
      if (!e && ds.LogChanges) {
        e = LogEntry{TUpdateStatus::Modified, origRow(r)};
        log.set(r, *e);
      }
      writeEditBuf(r, e ? e->orig : -1);
      if (e && e->status == TUpdateStatus::Modified && e->orig >= 0 && unchanged(r, e->orig)) {
        releaseOrig(e->orig);
        log.erase(r);
      }
    }
    reposition(r, cur);
  } else {
    int32_t r = newRow(RowLive);
    writeEditBuf(r, -1);
    if (ds.LogChanges) log.set(r, LogEntry{TUpdateStatus::Inserted, -1});
    if (derived) {
      order.push_back(r);
      view.insert(view.begin() + std::clamp(insPos, 0, static_cast<int>(view.size())), r);
      reposition(r, std::clamp(insPos, 0, static_cast<int>(view.size()) - 1));
    } else {
      int at = std::clamp(insPos, 0, static_cast<int>(view.size()));
      view.insert(view.begin() + at, r);
      cur = at;
    }
  }
}

inline void TClientDataSet::Impl::endEdit() {
  editBuf.clear();
  modified = false;
  editRow = -1;
  calcValid = false;
}

inline void TClientDataSet::Impl::post() {
  checkActive();
  if (!editing()) fail("Dataset not in edit or insert mode");
  updateRecord();
  fire(ds.BeforePost);
  checkRequired();
  internalPost();
  endEdit();
  bof = eof = false;
  setState(TDataSetState::Browse);
  dataEvent(evDataSetChange);
  fire(ds.AfterPost);
}

inline void TClientDataSet::Impl::cancel() {
  if (!editing()) return;
  fire(ds.BeforeCancel);
  if (state == TDataSetState::Insert) {
    cur = prevCur;
    clampCursor();
  }
  endEdit();
  setState(TDataSetState::Browse);
  dataEvent(evDataSetChange);
  fire(ds.AfterCancel);
}

inline void TClientDataSet::Impl::checkBrowseMode() {
  checkActive();
  if (editing()) {
    updateRecord();
    if (modified) post();
    else cancel();
  }
}

inline void TClientDataSet::Impl::beginInsert(bool append) {
  checkBrowseMode();
  fire(ds.BeforeInsert);
  fire(ds.BeforeScroll);
  prevCur = cur;
  insPos = append ? static_cast<int>(view.size()) : (view.empty() ? 0 : cur);
  editBuf.assign(cols.size(), Variant::Null());
  editRow = -1;
  modified = false;
  calcValid = false;
  setState(TDataSetState::Insert);
  if (ds.OnNewRecord) {
    try {
      ds.OnNewRecord(ds);
    } catch (...) {
      endEdit();
      cur = prevCur;
      setState(TDataSetState::Browse);
      dataEvent(evDataSetChange);
      throw;
    }
  }
  modified = false;
  eof = bof = false;
  dataEvent(evDataSetChange);
  fire(ds.AfterInsert);
  fire(ds.AfterScroll);
}

inline void TClientDataSet::Impl::edit() {
  checkActive();
  if (editing()) return;
  if (view.empty()) return beginInsert(false);
  fire(ds.BeforeEdit);
  editRow = curRow();
  loadEditBuf(editRow);
  modified = false;
  calcValid = false;
  setState(TDataSetState::Edit);
  dataEvent(evRecordChange);
  fire(ds.AfterEdit);
}

inline void TClientDataSet::Impl::deleteRecord() {
  checkActive();
  if (state == TDataSetState::Insert) return cancel();
  if (view.empty()) fail("Cannot perform this operation on an empty dataset");
  fire(ds.BeforeDelete);
  fire(ds.BeforeScroll);
  int32_t r = curRow();
  auto e = log.get(r);
  if (e && e->status == TUpdateStatus::Inserted) {
    rowState[static_cast<size_t>(r)] = RowDead;
    log.erase(r);
  } else if (!ds.LogChanges) {
    if (e) {
      if (e->orig >= 0) releaseOrig(e->orig);
      log.erase(r);
    }
    rowState[static_cast<size_t>(r)] = RowDead;
  } else {
    log.set(r, LogEntry{TUpdateStatus::Deleted, e ? e->orig : -1});
    rowState[static_cast<size_t>(r)] = RowDeleted;
  }
  view.erase(view.begin() + cur);
  clampCursor();
  eof = view.empty() ? true : eof;
  bof = view.empty() ? true : bof;
  endEdit();
  setState(TDataSetState::Browse);
  dataEvent(evDataSetChange);
  fire(ds.AfterDelete);
  fire(ds.AfterScroll);
}

}  // namespace data
