// The record editors opened from the main window: every control posted by
// OK; category names that fit the Category columns.
#include <QTest>

#include "app/type1_edit_form.h"
#include "app/type4_edit_form.h"
#include "tests/app/app_test_support.h"

namespace apptest {
namespace {

class EditorsTest : public StartedCatalogueTest {};

// OK posts what every control of the editor holds, also a control that
// never had the focus (text dropped into it); Cancel discards it all.
TEST_F(EditorsTest, OkPostsTheTextOfEveryControl) {
  struct Typed {
    const char* control;
    const char* field;
  };
  struct Case {
    int kind;
    fw::TSpeedButton* mode;
    std::vector<Typed> typed;
  };
  const Case cases[] = {
      {1, Main().Type1But, {{"AffNameTE", "JournalName"}, {"DetailsMemo", "Details"}}},
      {4, Main().Type4But, {{"LinkNameTE", "LinkName"}, {"URLEdit", "URL"}, {"DetailsMemo", "Details"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    c.mode->Click();
    for (const char* button : {"OKBut", "CancelBut"}) {
      const std::string text = std::string("text by ") + button;
      app_->OnModalShown = [&](fw::TForm& form) {
        for (const Typed& t : c.typed) {
          fw::TComponent* control = form.FindComponent(t.control);
          if (auto* edit = dynamic_cast<fw::TDBEdit*>(control))
            edit->SetText(text + " in " + t.field);
          else
            dynamic_cast<fw::TDBMemo&>(*control).SetText(text + " in " + t.field);
        }
        dynamic_cast<fw::TButton&>(*form.FindComponent(button)).Click();
      };
      (std::string(button) == "OKBut" ? Main().NewBut : Main().EditBut)->Click();
      for (const Typed& t : c.typed) EXPECT_EQ(Column(c.kind, t.field), Names{"text by OKBut in " + std::string(t.field)});
    }
  }
  app_->OnModalShown = nullptr;
}

// A category's name takes no more characters than the other kinds' Category
// columns hold, so that what is filed under it is found under it again:
// typing stops there, and the category filter lists the link filed under
// the category.
TEST_F(EditorsTest, CategoryNameFitsTheCategoryColumns) {
  const std::string typed(60, 'c');
  Main().Type1But->Click();
  app_->OnModalShown = [&](fw::TForm& form) {
    auto& e = dynamic_cast<app::TType1EditForm&>(form);
    QTest::keyClicks(e.AffNameTE->Widget(), QString::fromStdString(typed));
    e.OKBut->Click();
  };
  Main().NewBut->Click();
  EXPECT_EQ(Column(1, "JournalName"), Names{typed.substr(0, 40)});
  Main().Type4But->Click();
  app_->OnModalShown = [&](fw::TForm& form) {
    auto& e = dynamic_cast<app::TType4EditForm&>(form);
    e.LinkNameTE->SetText("filed");
    e.CategoryLookup->SelectRow(0);
    e.OKBut->Click();
  };
  Main().NewBut->Click();
  app_->OnModalShown = nullptr;
  Main().Type1But->Click();
  Main().CategoryFilterCB->SetChecked(true);
  EXPECT_EQ(Column(4, "LinkName"), Names{"filed"});
}

}  // namespace
}  // namespace apptest
