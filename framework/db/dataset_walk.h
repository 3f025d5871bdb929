// DataSetWalk: a guard for code that reads a whole dataset from first to
// last behind the user's back (reports, charts). While it lives the
// dataset's controls are disabled; when it ends the dataset goes back to
// the record it stood on (when that record still exists) and its controls
// are enabled again, which sends them one data-set-change event.
#pragma once

#include <exception>

#include "framework/db/dataset.h"

namespace fw {

class DataSetWalk {
 public:
  // "Cannot perform this operation on a closed dataset" when closed.
  explicit DataSetWalk(TDataSet& dataset) : dataset_(dataset) {
    dataset_.CheckActive();
    mark_ = dataset_.GetBookmark();
    dataset_.DisableControls();
  }
  ~DataSetWalk() {
    try {
      if (!mark_.empty() && dataset_.Active() && dataset_.BookmarkValid(mark_)) dataset_.GotoBookmark(mark_);
    } catch (const std::exception&) {
      // The record is gone: the dataset stays where the walk ended.
    }
    try {
      dataset_.EnableControls();
    } catch (const std::exception&) {
      // A control's failure to repaint must not replace the walk's outcome.
    }
  }
  DataSetWalk(const DataSetWalk&) = delete;
  DataSetWalk& operator=(const DataSetWalk&) = delete;

 private:
  TDataSet& dataset_;
  TBookmark mark_;
};

}  // namespace fw
