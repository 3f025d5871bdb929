// The main window's pictures: the current photo on the "Photos" page and
// the front picture of the introduction panel. Not built: both do nothing.
#include "app/main_form.h"

namespace app {

void TMainForm::Updateimage() {}
void TMainForm::PlaceFrontImage() {}

}  // namespace app
