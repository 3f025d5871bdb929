// TTolmidMasterDataLink: how a detail dataset follows its master. The link
// watches the master's data source; FieldNames ("a;b") names the master
// fields whose values bound the detail's range on its current index.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/db/data_link.h"

namespace fw {
class TDataSet;
class TField;
}  // namespace fw

namespace dataset {

class TTolmidMasterDataLink : public fw::TDataLink {
 public:
  explicit TTolmidMasterDataLink(fw::TDataSet* detail) : detail_(detail) {}

  [[nodiscard]] const std::string& FieldNames() const { return field_names_; }
  // A change reads the master fields again.
  void SetFieldNames(const std::string& names);
  [[nodiscard]] const std::vector<fw::TField*>& Fields() const { return fields_; }

  std::function<void()> OnMasterChange;
  std::function<void()> OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override { ActiveChanged(); }
  void RecordChanged(fw::TField* field) override;
  bool IsDetailLink() const override { return true; }

 private:
  fw::TDataSet* detail_;
  std::string field_names_;
  std::vector<fw::TField*> fields_;
};

}  // namespace dataset
