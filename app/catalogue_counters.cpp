#include "app/catalogue_counters.h"

#include "dataset/tolmid_table.h"

namespace app {

int TakeCounter(dataset::TTolmidTable& defaults, const std::string& counter, int zero_value) {
  defaults.Open();
  int value = defaults.FieldByName(counter)->AsInteger();
  if (value == 0) value = zero_value;
  defaults.Edit();
  try {
    defaults.FieldByName(counter)->SetAsInteger(value + 1);
    defaults.Post();
  } catch (...) {
    defaults.Cancel();
    throw;
  }
  return value;
}

}  // namespace app
