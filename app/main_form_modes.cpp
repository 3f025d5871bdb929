// The main window's modes, browsing, record numbering and record actions.
// Not built: each procedure does nothing, GetNextNum hands out no number.
#include "app/main_form.h"

namespace app {

void TMainForm::ListData() {}
void TMainForm::NewData() {}
void TMainForm::EditData() {}
void TMainForm::DeleteData() {}
void TMainForm::EnableWidgets(bool) {}
int TMainForm::GetNextNum() { return 0; }
void TMainForm::UpdateCategoryFilter() {}
void TMainForm::ReProcess() {}
void TMainForm::InitialSetup() {}
void TMainForm::CrashRecovery() {}
void TMainForm::OpenFiles() {}
void TMainForm::zapbutClick(fw::TComponent*) {}

}  // namespace app
