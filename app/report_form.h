// TReportForm: the report chooser ("View/Print Reports"). Each button
// runs GenReport with its report's number; the first two buttons are
// hidden.
//
// GenReport(n) makes a TGenericReportForm for the one report, gives the
// report's query its SELECT, opens it, previews the report (from where the
// user may print it), closes the query and frees the report window:
//   1  Type1ReportQuery  "select * from type1 order by journaldate"   Rep1
//   2  Type2ReportQuery  "select * from type2 order by activitydate"  Rep2
//   3  Type3ReportQuery  "select * from type3 order by resourcename"  Rep3
//   4  Type3ReportQuery  "select * from type3 order by resourcename"  Rep4
//   5  Type4ReportQuery  "select * from type4 order by linkname"      Rep5
#pragma once

#include <functional>

#include "framework/forms/buttons.h"
#include "framework/forms/form.h"
#include "framework/forms/label.h"

namespace fw {
class TQuickRep;
}

namespace app {

class TReportForm : public fw::TForm {
 public:
  explicit TReportForm(fw::TComponent* owner);

  fw::TLabel* HeaderLabel;
  fw::TButton* Rep1But;
  fw::TButton* Rep2But;
  fw::TButton* Rep3But;
  fw::TButton* Rep4But;
  fw::TButton* Rep5But;
  fw::TBitBtn* OKBut;

  void Rep1ButClick(fw::TComponent* sender);
  void Rep2ButClick(fw::TComponent* sender);
  void Rep3ButClick(fw::TComponent* sender);
  void Rep4ButClick(fw::TComponent* sender);
  void Rep5ButClick(fw::TComponent* sender);

  // Builds and previews report n (1..5; other numbers do nothing).
  void GenReport(int n);
};

extern TReportForm* ReportForm;

}  // namespace app
