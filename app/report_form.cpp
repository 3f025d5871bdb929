#include "app/report_form.h"

#include <memory>

#include "app/data_module.h"
#include "app/generic_report_form.h"

namespace app {

TReportForm* ReportForm = nullptr;

namespace {

struct ReportSource {
  dataset::TTolmidQuery* TDatamodule1::*query;
  const char* sql;
};

// Report n's query and SELECT (index n - 1).
constexpr ReportSource kSources[] = {
    {&TDatamodule1::Type1ReportQuery, "select * from type1 order by journaldate"},
    {&TDatamodule1::Type2ReportQuery, "select * from type2 order by activitydate"},
    {&TDatamodule1::Type3ReportQuery, "select * from type3 order by resourcename"},
    {&TDatamodule1::Type3ReportQuery, "select * from type3 order by resourcename"},
    {&TDatamodule1::Type4ReportQuery, "select * from type4 order by linkname"},
};

}  // namespace

TReportForm::TReportForm(fw::TComponent* owner) : TForm(owner) {
  constexpr int kWidth = 330;
  constexpr int kHeight = 260;
  SetName("ReportForm");
  SetCaption("View/Print Reports");
  SetClientSize(kWidth, kHeight);
  SetPosition(fw::TPosition::poScreenCenter);
  HeaderLabel = Make<fw::TLabel>("HeaderLabel", this);
  HeaderLabel->SetFont({"", 12, fw::clNavy, true});
  HeaderLabel->SetCaption("Select and Run Report");
  HeaderLabel->SetBounds(12, 10, HeaderLabel->Width(), HeaderLabel->Height());
  struct Button {
    fw::TButton* TReportForm::*member;
    const char* name;
    const char* caption;
    bool visible;
    int top;
  };
  // The hidden buttons share the places of the first visible ones.
  const Button buttons[] = {
      {&TReportForm::Rep1But, "Rep1But", "Journal Listing", false, 50},
      {&TReportForm::Rep2But, "Rep2But", "Activity Listing", false, 90},
      {&TReportForm::Rep3But, "Rep3But", "Full Page Photo Print", true, 50},
      {&TReportForm::Rep4But, "Rep4But", "Photo Album Listing", true, 90},
      {&TReportForm::Rep5But, "Rep5But", "Internet Link List", true, 130},
  };
  for (const Button& b : buttons) {
    fw::TButton* button = Make<fw::TButton>(b.name, this);
    button->SetCaption(b.caption);
    button->SetBounds(65, b.top, 200, 30);
    button->SetVisible(b.visible);
    this->*b.member = button;
  }
  OKBut = Make<fw::TBitBtn>("OKBut", this);
  OKBut->SetKind(fw::TBitBtnKind::bkOK);
  OKBut->SetBounds(kWidth - 87, kHeight - 37, 75, 25);
  OKBut->SetAnchors(fw::akRight | fw::akBottom);

  Rep1But->OnClick = [this](fw::TComponent* s) { Rep1ButClick(s); };
  Rep2But->OnClick = [this](fw::TComponent* s) { Rep2ButClick(s); };
  Rep3But->OnClick = [this](fw::TComponent* s) { Rep3ButClick(s); };
  Rep4But->OnClick = [this](fw::TComponent* s) { Rep4ButClick(s); };
  Rep5But->OnClick = [this](fw::TComponent* s) { Rep5ButClick(s); };
}

void TReportForm::Rep1ButClick(fw::TComponent*) { GenReport(1); }
void TReportForm::Rep2ButClick(fw::TComponent*) { GenReport(2); }
void TReportForm::Rep3ButClick(fw::TComponent*) { GenReport(3); }
void TReportForm::Rep4ButClick(fw::TComponent*) { GenReport(4); }
void TReportForm::Rep5ButClick(fw::TComponent*) { GenReport(5); }

void TReportForm::GenReport(int n) {
  if (n < 1 || n > 5) return;
  const ReportSource& source = kSources[n - 1];
  std::unique_ptr<TGenericReportForm> form(new TGenericReportForm(this));
  dataset::TTolmidQuery& query = *(Datamodule1->*source.query);
  query.Close();
  query.SetSQLText(source.sql);
  query.Open();
  struct CloseQuery {
    dataset::TTolmidQuery& q;
    ~CloseQuery() { q.Close(); }
  } close{query};
  form->Report(n)->Preview();
}

}  // namespace app
