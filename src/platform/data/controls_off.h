#pragma once
// Keeps the controls of one or more data sets from following their changes
// until the scope ends, however it ends.

#include <exception>
#include <initializer_list>
#include <vector>

#include "platform/data/dataset.h"

namespace data {

// DisableControls on each data set now, EnableControls on each at scope end,
// in the order given. Enabling tells the data links, whose handlers may
// raise: the error passes on, unless the scope is already ending by an
// error, which then stays the one reported.
class ControlsOff {
public:
  ControlsOff(std::initializer_list<TClientDataSet*> dataSets) : dataSets_(dataSets) {
    for (TClientDataSet* ds : dataSets_) ds->DisableControls();
  }
  explicit ControlsOff(TClientDataSet& ds) : ControlsOff({&ds}) {}
  ~ControlsOff() noexcept(false) {
    std::exception_ptr first;
    for (TClientDataSet* ds : dataSets_) {
      try {
        ds->EnableControls();
      } catch (...) {
        if (!first) first = std::current_exception();
      }
    }
    if (first && std::uncaught_exceptions() == unwinding_) std::rethrow_exception(first);
  }
  ControlsOff(const ControlsOff&) = delete;
  ControlsOff& operator=(const ControlsOff&) = delete;

private:
  std::vector<TClientDataSet*> dataSets_;
  int unwinding_ = std::uncaught_exceptions();
};

}  // namespace data
