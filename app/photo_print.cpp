#include "app/photo_print.h"

#include <memory>
#include <string>

#include "app/data_module.h"
#include "app/generic_report_form.h"
#include "framework/forms/dialogs.h"

namespace app {

void PrintPhotoPage(fw::TForm* owner, std::optional<int> type3num) {
  if (!type3num) {
    fw::MessageDlg(kNoPhotoNumberMessage, fw::TMsgDlgType::mtInformation, {fw::TMsgDlgBtn::mbOK});
    return;
  }
  std::unique_ptr<TGenericReportForm> form(new TGenericReportForm(owner));
  dataset::TTolmidQuery& query = *Datamodule1->Type3ReportQuery;
  query.Close();
  query.SetSQLText("select * from type3 where type3num=" + std::to_string(*type3num));
  query.Open();
  struct CloseQuery {
    dataset::TTolmidQuery& q;
    ~CloseQuery() { q.Close(); }
  } close{query};
  form->Rep3->Preview();
}

}  // namespace app
