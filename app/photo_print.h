// The photo editor's "Print": the full-page photo report of one photo
// (the report window's Rep3 on Type3ReportQuery restricted to the photo's
// Type3Num), previewed; the report window is owned by owner.
#pragma once

namespace fw {
class TForm;
}

namespace app {

void PrintPhotoPage(fw::TForm* owner, int type3num);

}  // namespace app
