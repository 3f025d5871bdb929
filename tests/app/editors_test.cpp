// The record editors opened from the main window: the photo editor's
// picture (fitted into its holder, cleared for a photo without a file,
// following the grid), its Delete and Browse; every control posted by OK;
// category names that fit the Category columns.
#include <QTest>

#include "app/type1_edit_form.h"
#include "app/type3_edit_form.h"
#include "app/type4_edit_form.h"
#include "framework/forms/clipboard.h"
#include "framework/forms/shell.h"
#include "tests/app/app_test_support.h"

namespace apptest {
namespace {

class EditorsTest : public StartedCatalogueTest {
 protected:
  void SetUp() override {
    previous_opener_ = fw::SetShellOpener([this](const std::string& target) {
      opened_.push_back(target);
      return true;
    });
    StartedCatalogueTest::SetUp();
  }
  void TearDown() override {
    fw::SetShellOpener(std::move(previous_opener_));
    StartedCatalogueTest::TearDown();
  }
  // Opens the editor of the current mode on the current record and runs
  // body on it; true when it was shown.
  template <class Editor>
  bool WithEditor(const std::function<void(Editor&)>& body) {
    bool shown = false;
    app_->OnModalShown = [&](fw::TForm& form) {
      shown = true;
      body(dynamic_cast<Editor&>(form));
    };
    Main().EditBut->Click();
    app_->OnModalShown = nullptr;
    return shown;
  }

  fw::TShellOpener previous_opener_;
  Names opened_;
};

TEST_F(EditorsTest, PhotoEditor) {
  WriteBytes(Data("1.jpg"), JpegBytes(200, 185));
  WriteBytes(Data("3"), GifBytes(120, 60));
  Put(3, {{"ResourceName", "A photo"}, {"Filename", "data\\1.jpg"}, {"PhotoURL", "http://h/a.jpg"},
          {"Details", "The first"}, {"Type3Num", "1000"}});
  Put(3, {{"ResourceName", "B photo"}, {"Filename", "data\\3"}, {"PhotoURL", "http://h/b.gif"}});
  Put(3, {{"ResourceName", "C photo"}, {"PhotoURL", "http://h/c.jpg"}});
  Put(1, {{"JournalName", "Fish Health"}});
  app::Datamodule1->Type3Table->First();
  Main().Type3But->Click();
  const bool shown = WithEditor<app::TType3EditForm>([&](app::TType3EditForm& e) {
    EXPECT_EQ(e.Caption(), "Edit Photo Information");
    // The picture fits its holder (208 x 166) less 18: 190 x 148.
    ASSERT_TRUE(e.Image1->Visible());
    EXPECT_EQ(std::make_pair(e.Image1->Width(), e.Image1->Height()), std::make_pair(160, 148));

    // The grid moves the record being edited; a photo without a file
    // shows nothing.
    auto click_row = [&](const char* name) {
      Locate(3, "ResourceName", name);
      e.ExpenseGrid->OnCellClick(e.ExpenseGrid);
    };
    click_row("C photo");
    EXPECT_FALSE(e.Image1->Visible());
    EXPECT_EQ(e.Image1->Picture().Graphic(), nullptr);
    click_row("B photo");
    EXPECT_EQ(std::make_pair(e.Image1->Width(), e.Image1->Height()), std::make_pair(190, 95));

    e.BrowseBut->Click();
    click_row("A photo");
    boxes_.Answer(fw::mrNo).Answer(fw::mrYes);
    e.DeleteBut->Click();
    EXPECT_TRUE(fs::exists(Data("1.jpg")));
    e.DeleteBut->Click();
    // The record went, then its file; the next photo's picture shows.
    EXPECT_FALSE(fs::exists(Data("1.jpg")));
    EXPECT_EQ(app::Datamodule1->Type3Table->FieldByName("ResourceName")->AsString(), "B photo");
    EXPECT_EQ(e.Image1->Picture().Width(), 120);
    EXPECT_TRUE(e.Image1->Visible());

    // The category list holds the category entries' names.
    ASSERT_EQ(e.CategoryLookup->ListModel().rowCount(), 1);
    e.CategoryLookup->SelectRow(0);
    e.OKBut->Click();
  });
  ASSERT_TRUE(shown);
  EXPECT_EQ(boxes_.Texts(), (Names{"Delete This Photo?", "Delete This Photo?"}));
  EXPECT_EQ(opened_, Names{"http://h/b.gif"});
  EXPECT_EQ(Column(3, "ResourceName"), (Names{"B photo", "C photo"}));
  EXPECT_EQ(Column(3, "Category"), (Names{"Fish Health", ""}));
}

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
