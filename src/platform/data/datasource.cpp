// Data sources and data links: how grids and data-aware controls hear of the
// data set's states, scrolls and changes.

#include "dataset_impl.h"

namespace data {


TDataLink::~TDataLink() {
  if (source_) source_->removeLink(this);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source_ == source) return;
  if (source_) source_->removeLink(this);
  source_ = nullptr;
  if (source) source->addLink(this);
  else if (active_ || editing_) {
    bool wasActive = active_, wasEditing = editing_;
    active_ = editing_ = false;
    if (wasActive) ActiveChanged();
    if (wasEditing) EditingChanged();
  }
}

TClientDataSet* TDataLink::DataSet() const { return source_ ? source_->DataSet() : nullptr; }
bool TDataLink::Active() const { return active_; }

TDataSource::TDataSource(std::string name) : Name(std::move(name)) {}

TDataSource::~TDataSource() {
  if (dataSet_) dataSet_->unregisterSource(this);
  dataSet_ = nullptr;
  for (auto* l : links_) {
    l->source_ = nullptr;
    l->active_ = l->editing_ = false;
  }
}

void TDataSource::SetDataSet(TClientDataSet* ds) {
  if (ds == dataSet_) return;
  if (dataSet_) dataSet_->unregisterSource(this);
  dataSet_ = ds;
  if (ds) ds->registerSource(this);
  updateState();
  if (dataSet_ && lastState_ != TDataSetState::Inactive)
    for (auto* l : std::vector<TDataLink*>(links_))
      if (l->active_) l->DataSetChanged();
}

TDataSetState TDataSource::State() const { return lastState_; }

void TDataSource::Edit() {
  if (AutoEdit && dataSet_ && lastState_ == TDataSetState::Browse) dataSet_->Edit();
}

void TDataSource::addLink(TDataLink* l) {
  links_.push_back(l);
  l->source_ = this;
  syncLink(l);
}

void TDataSource::removeLink(TDataLink* l) {
  links_.erase(std::remove(links_.begin(), links_.end(), l), links_.end());
  l->source_ = nullptr;
}

void TDataSource::syncLink(TDataLink* l) {
  bool act = lastState_ != TDataSetState::Inactive;
  bool ed = lastState_ == TDataSetState::Edit || lastState_ == TDataSetState::Insert;
  if (l->active_ != act) {
    l->active_ = act;
    l->ActiveChanged();
  }
  if (l->editing_ != ed) {
    l->editing_ = ed;
    l->EditingChanged();
  }
}

void TDataSource::updateState() {
  TDataSetState ns = (Enabled && dataSet_) ? dataSet_->State() : TDataSetState::Inactive;
  if (ns == TDataSetState::CalcFields || ns == TDataSetState::Filter) return;
  if (ns == lastState_) return;
  TDataSetState prior = lastState_;
  lastState_ = ns;
  for (auto* l : std::vector<TDataLink*>(links_))
    if (std::find(links_.begin(), links_.end(), l) != links_.end()) syncLink(l);
  if (OnStateChange) OnStateChange(*this);
  if (prior == TDataSetState::Inactive && OnDataChange) OnDataChange(*this, nullptr);
}

void TDataSource::notify(int event, TField* field, int info) {
  if (event == evUpdateState) return updateState();
  if (lastState_ == TDataSetState::Inactive || !Enabled) return;
  for (auto* l : std::vector<TDataLink*>(links_)) {
    if (std::find(links_.begin(), links_.end(), l) == links_.end() || !l->active_) continue;
    switch (event) {
      case evFieldChange:
      case evRecordChange:
        if (!l->updating_) l->RecordChanged(field);
        break;
      case evDataSetChange: l->DataSetChanged(); break;
      case evDataSetScroll: l->DataSetScrolled(info); break;
      case evLayoutChange: l->LayoutChanged(); break;
      case evUpdateRecord:
        l->updating_ = true;
        try {
          l->UpdateData();
        } catch (...) {
          l->updating_ = false;
          throw;
        }
        l->updating_ = false;
        break;
      default: break;
    }
  }
  switch (event) {
    case evFieldChange:
      if (OnDataChange) OnDataChange(*this, field);
      break;
    case evRecordChange:
    case evDataSetChange:
    case evDataSetScroll:
    case evLayoutChange:
      if (OnDataChange) OnDataChange(*this, nullptr);
      break;
    case evUpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default: break;
  }
}


}  // namespace data
